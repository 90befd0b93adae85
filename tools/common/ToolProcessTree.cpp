#include "ToolProcessTree.h"

#include "decoding/MediaDecoder.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    return file.readAll();
}

double seconds(const timeval &time) { return double(time.tv_sec) + double(time.tv_usec) / 1e6; }

// A process's parent and its command name, from /proc/PID/stat ("PID (NAME) STATE PPID ...").
std::pair<pid_t, QByteArray> parentAndName(pid_t pid)
{
    const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype open = stat.indexOf('('), close = stat.lastIndexOf(')');
    if (open < 0 || close < open)
        return {-1, {}};
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return {pid_t(fields.value(1).toLong()), stat.mid(open + 1, close - open - 1)};
}

// Whether a process is a decoder's child for one file: those are counted by their decoders as
// they end (MediaDecoder::endedChildren), not by a look that catches a few of them. A decoder's
// whole template ("ovn-decoder-all", see Decoder_main.cpp) is a template, and its children
// are named as the others.
bool isDecodersChild(pid_t pid)
{
    const auto [parent, name] = parentAndName(pid);
    if (name != "ovn-decoder" || parent <= 0)
        return false;
    const QByteArray parentName = parentAndName(parent).second;
    return parentName == "ovn-decoder" || parentName == "ovn-decoder-all";
}

} // namespace

ToolProcessTree::ToolProcessTree()
{
    m_thread = std::thread([this] {
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            lock.unlock();
            look();
            lock.lock();
            m_wake.wait_for(lock, std::chrono::milliseconds(50), [this] { return m_stop; });
        }
    });
}

ToolProcessTree::~ToolProcessTree()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

QList<pid_t> ToolProcessTree::descendants(pid_t root, QList<pid_t> *childrenForOneFile)
{
    QList<pid_t> found;
    QList<pid_t> todo{root};
    while (!todo.isEmpty()) {
        const pid_t pid = todo.takeLast();
        // Each thread lists the children it started.
        const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
        const QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &thread : threads) {
            const QList<QByteArray> children =
                readProcFile(tasks + QLatin1Char('/') + thread + QStringLiteral("/children")).simplified().split(' ');
            for (const QByteArray &child : children) {
                bool ok = false;
                const pid_t id = pid_t(child.toLong(&ok));
                if (!ok || id <= 0 || found.contains(id) || (childrenForOneFile && childrenForOneFile->contains(id)))
                    continue;
                if (childrenForOneFile && MediaDecoder::isChildForOneFile(id)) {
                    childrenForOneFile->append(id);
                    continue;
                }
                found.append(id);
                todo.append(id);
            }
        }
    }
    return found;
}

qint64 ToolProcessTree::statusBytes(pid_t pid, const char *field)
{
    const QByteArray status = readProcFile(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray key = QByteArray("\n") + field + ':';
    const qsizetype at = status.indexOf(key);
    if (at < 0)
        return 0;
    const qsizetype from = at + key.size();
    const qsizetype end = status.indexOf('\n', from);
    return status.mid(from, end < 0 ? -1 : end - from).trimmed().split(' ').value(0).toLongLong() * 1024;
}

qint64 ToolProcessTree::residentBytes(pid_t pid)
{
    // "SIZE RESIDENT SHARED ...", in pages.
    const QList<QByteArray> fields = readProcFile(QStringLiteral("/proc/%1/statm").arg(pid)).split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * ::sysconf(_SC_PAGESIZE) : 0;
}

void ToolProcessTree::look()
{
    // A decoder's child for one file lives a few milliseconds: of it only its resident memory is
    // read, one file of its /proc entry, which the kernel drops again when the child is waited for.
    QList<pid_t> childrenForOneFile;
    QList<pid_t> tree = descendants(::getpid(), &childrenForOneFile);
    tree.prepend(::getpid());
    qint64 sum = 0;
    qint64 held = 0;
    int alive = 0;
    std::map<pid_t, qint64> now;
    for (const pid_t pid : std::as_const(tree)) {
        if (const qint64 peak = statusBytes(pid, "VmHWM"); peak > 0) {
            held += statusBytes(pid, "VmRSS");
            // A decoder's child caught alive counts in this look's sum too (a decoder may have
            // several at once), so that the sum is never less than what is held; it is counted
            // among the processes in all by its decoder's note of its end.
            sum += peak;
            ++alive;
            if (!isDecodersChild(pid))
                now[pid] = peak;
        }
    }
    // Its resident memory bounds its peak from below, and is what it holds at once.
    for (const pid_t pid : std::as_const(childrenForOneFile)) {
        if (const qint64 resident = residentBytes(pid); resident > 0) {
            held += resident;
            sum += resident;
            ++alive;
        }
    }
    const std::lock_guard lock(m_mutex);
    m_figures.heldBytes = std::max(m_figures.heldBytes, held);
    for (const auto &[pid, peak] : now)
        m_peaks[pid] = peak;
    m_figures.seen = int(m_peaks.size());
    if (sum > m_figures.peakBytes) {
        m_figures.peakBytes = sum;
        m_figures.processes = alive;
    }
}

ToolProcessTree::Figures ToolProcessTree::finish()
{
    look();
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    // Ended and waited for: their processor time is now this process's children's.
    MediaDecoder::endIdleDecoders();
    // Each decoder's children, one at a time beside it, at their largest.
    const MediaDecoder::Children forked = MediaDecoder::endedChildren();
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    const std::lock_guard lock(m_mutex);
    m_figures.peakBytes += forked.peakBytes;
    m_figures.processes += forked.templates;
    m_figures.seen += forked.started;
    // Whatever the tree was seen to hold at once is below the bound, by its definition.
    m_figures.peakBytes = std::max(m_figures.peakBytes, m_figures.heldBytes);
    m_figures.seen = std::max(m_figures.seen, m_figures.processes);
    m_figures.cpuSeconds =
        seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) + seconds(children.ru_stime);
    return m_figures;
}

QString ToolProcessTree::text(const Figures &figures)
{
    return QStringLiteral("peak memory %1 MiB held at once by the tool and its decoders, at most %2 MiB (the "
                          "peaks of %3 alive together; %4 in all), processor time %5 s")
        .arg(figures.heldBytes >> 20)
        .arg(figures.peakBytes >> 20)
        .arg(figures.processes == 1 ? QStringLiteral("1 process")
                                    : QStringLiteral("%1 processes").arg(figures.processes))
        .arg(figures.seen)
        .arg(figures.cpuSeconds, 0, 'f', 2);
}
