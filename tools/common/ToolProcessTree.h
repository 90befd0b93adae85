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
// 20 ms: each process's own peak (VmHWM) is read while it lives, and the tree's peak is the
// largest sum of the peaks of the processes alive together. That is never less than the memory the
// tree held at once when it was looked at, and a decoder that ends between two looks still counts
// with the peak it had at the last one. finish() ends the idle decoders and waits for them, so that
// their processor time is the tool's children's, and gives the figures.
class ToolProcessTree
{
public:
    struct Figures {
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

    // "peak memory N MiB summed over K processes (M in all), processor time S s".
    static QString text(const Figures &figures);

    // The processes below `root` (its children, theirs, ...), from /proc.
    static QList<pid_t> descendants(pid_t root);
    // A process's own peak resident memory (VmHWM) in bytes; 0 when it is gone.
    static qint64 peakBytesOf(pid_t pid);

private:
    void look();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::map<pid_t, qint64> m_peaks; // every process seen, with the last peak read of it
    Figures m_figures;
    std::thread m_thread;
};
