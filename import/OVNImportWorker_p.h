#pragma once

// What the import's two pools of threads share: which file a thread may start next while the
// results are taken in list order, and the count of the threads the program waits for at its end.

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include "decoding/DecodeInterrupt.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

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

class RunningFileThread;

// The threads that make records, counted so that the program can wait at its end for those a
// cancelled import no longer waits for. Those an import left behind are kept here, not detached:
// a thread that has let go of its file still ends afterwards (its captures and its thread data go,
// Qt's among them), and the program's end joins it so that this never meets the teardown of the
// program's statics.
struct FileThreads {
    struct LeftBehind {
        std::thread thread;
        std::shared_ptr<RunningFileThread> running;
    };
    std::mutex mutex;
    std::condition_variable done;
    int running = 0;
    std::vector<LeftBehind> leftBehind;
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

    // Called by the thread itself as its last work: what is left of it ends without waiting for
    // anything. Unlike a release by an import that gave up on it.
    void end()
    {
        m_ended = true;
        release();
    }
    bool ended() const { return m_ended.load(); }

private:
    std::atomic<bool> m_released{false};
    std::atomic<bool> m_ended{false};
};

// Keeps a thread an import no longer waits for, for the program's end to join once it has ended.
inline void leaveBehind(std::thread &thread, std::shared_ptr<RunningFileThread> running)
{
    std::lock_guard lock(fileThreads().mutex);
    fileThreads().leftBehind.push_back({std::move(thread), std::move(running)});
}

// The threads that read an import's or a re-scan's files, by slot: whether each is busy and with
// which item, its file's deadline, whether it was given up on (whatever it finishes is dropped),
// and its place in the program's count. A thread given up on keeps its slot; the one that takes
// its place gets a slot of its own.
struct FileSlots {
    std::vector<char> busy;
    std::vector<size_t> working;
    std::vector<char> abandoned;
    std::deque<DecodeInterrupt::Watch> watches;
    std::vector<std::shared_ptr<RunningFileThread>> runningThreads;

    // Opens a slot for one more thread (under the owner's lock); its index.
    size_t addSlot()
    {
        busy.push_back(0);
        working.push_back(0);
        abandoned.push_back(0);
        watches.emplace_back();
        runningThreads.push_back(std::make_shared<RunningFileThread>());
        return busy.size() - 1;
    }
};

// The file threads that have not ended yet, given up on or not: a thread given up on may still
// finish its file long after its import (tests wait for them before they end).
inline std::atomic<int> &aliveFileThreads()
{
    static std::atomic<int> alive{0};
    return alive;
}

// Starts a thread on a new slot of `owner` (FileSlots with a `mutex` and a `work(slot)`) and keeps
// it in `threads`; where no thread can be had, an empty one stands in and the others go on.
template <typename Owner>
void startFileThread(const std::shared_ptr<Owner> &owner, std::vector<std::thread> &threads)
{
    size_t slot;
    std::shared_ptr<RunningFileThread> running;
    {
        std::lock_guard lock(owner->mutex);
        slot = owner->addSlot();
        running = owner->runningThreads[slot];
    }
    ++aliveFileThreads();
    try {
        threads.emplace_back([owner, slot, running] {
            owner->work(slot);
            running->end();
            --aliveFileThreads();
        });
    } catch (const std::system_error &) {
        running->release();
        --aliveFileThreads();
        threads.emplace_back();
    }
}

} // namespace OVNImportHandOut
