#pragma once

// What the import's two pools of threads share: which file a thread may start next while the
// results are taken in list order, and the count of the threads the program waits for at its end.

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace OVNImportHandOut {

// About the bytes a value holds: text, data, and maps and lists of them.
inline qint64 weightOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return 2 * value.toString().size();
    case QMetaType::QByteArray:
        return value.toByteArray().size();
    case QMetaType::QVariantMap: {
        qint64 weight = 0;
        const QVariantMap map = value.toMap();
        for (auto entry = map.cbegin(); entry != map.cend(); ++entry)
            weight += 64 + 2 * entry.key().size() + weightOf(entry.value());
        return weight;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        qint64 weight = 0;
        for (const QVariant &item : value.toList())
            weight += 32 + weightOf(item);
        return weight;
    }
    default:
        return 16;
    }
}

// The files of a list are started in order and their results taken in order. A file is started
// while it is at most `maxAhead` past the oldest one not taken yet, and beyond that while the
// finished results that wait for their turn weigh less than `budget`: a file that takes long holds
// back only its own result, not the other threads, and what waits behind it stays bounded.
// Kept under the pool's lock.
struct Window {
    size_t maxAhead = 1;
    qint64 budget = 64 * 1024 * 1024;
    size_t next = 0;     // the next file to start
    size_t consumed = 0; // results taken
    qint64 waiting = 0;  // the weight of the finished results not taken yet

    bool mayStartNext() const { return next < consumed + maxAhead || waiting < budget; }
};

// The threads that make records, counted so that the program can wait at its end for those a
// cancelled import no longer waits for.
struct FileThreads {
    std::mutex mutex;
    std::condition_variable done;
    int running = 0;
};

inline FileThreads &fileThreads()
{
    static FileThreads *threads = new FileThreads; // never destroyed: a late thread may still leave
    return *threads;
}

// One thread that makes records, counted from its start until it ends, or until the import gives
// up on it: a thread stuck in the system for good (a stalled mount) is not waited for at the end.
class RunningFileThread
{
public:
    RunningFileThread()
    {
        std::lock_guard lock(fileThreads().mutex);
        ++fileThreads().running;
    }
    ~RunningFileThread() { release(); }
    RunningFileThread(const RunningFileThread &) = delete;
    RunningFileThread &operator=(const RunningFileThread &) = delete;

    // No longer counted; the first call only.
    void release()
    {
        if (m_released.exchange(true))
            return;
        std::lock_guard lock(fileThreads().mutex);
        if (--fileThreads().running == 0)
            fileThreads().done.notify_all();
    }

private:
    std::atomic<bool> m_released{false};
};

} // namespace OVNImportHandOut
