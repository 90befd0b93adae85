#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <sys/types.h>

// The figures of a tool's whole process tree: the tool and every process it started (the decoders
// above all), not the tool's own process alone. From construction a thread looks at the tree every
// 50 ms: the memory its processes hold at once (VmRSS summed), and each process's own peak (VmHWM)
// while it lives. The tree's peak is told both ways: the most it was seen to hold at once, and the
// largest sum of the peaks of the processes alive together, which is never less than what the tree
// held at once, also between two looks (a decoder's peak counts from the last look it lived for).
// A decoder's children, one for each file and mostly gone between two looks, are counted as their
// decoder tells their ends: each decoder's largest child adds its peak to that sum, and every child
// counts among the processes in all. finish() ends the idle decoders and waits for them, so that
// their processor time is the tool's children's, and gives the figures.
class ToolProcessTree
{
public:
    struct Figures {
        qint64 heldBytes = 0;  // the most the tree's processes were seen to hold at once
        qint64 peakBytes = 0;  // the largest sum of the peaks of processes alive together
        int processes = 0;     // how many processes counted in that sum
        int seen = 0;          // how many processes of the tree were seen in all
        double cpuSeconds = 0; // user and system time of the tool and its ended children
    };

    ToolProcessTree();
    ~ToolProcessTree();
    ToolProcessTree(const ToolProcessTree &) = delete;
    ToolProcessTree &operator=(const ToolProcessTree &) = delete;

    // Looks once more, ends the decoders (MediaDecoder::endIdleDecoders: every decoder is idle once
    // the tool's work is done) and waits for them, and stops looking.
    Figures finish();

    // "peak memory N MiB held at once by the tool and its decoders, at most P MiB (the peaks of K
    // processes alive together; M in all), processor time S s"; P is never less than N.
    static QString text(const Figures &figures);

    // The processes below `root` (its children, theirs, ...), from /proc. With
    // `childrenForOneFile`, the decoders' children for one file alive (MediaDecoder::
    // isChildForOneFile) go there instead, and what lies below them is not looked for.
    static QList<pid_t> descendants(pid_t root, QList<pid_t> *childrenForOneFile = nullptr);
    // A process's resident memory now, from its statm (0 when it is gone).
    static qint64 residentBytes(pid_t pid);
    // A process's resident memory now (VmRSS) and its own peak (VmHWM) in bytes; 0 when it is gone.
    static qint64 statusBytes(pid_t pid, const char *field);

private:
    void look();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::map<pid_t, qint64> m_peaks; // every process seen, with the last peak read of it
    Figures m_figures;
    std::thread m_thread;
};
