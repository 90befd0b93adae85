// The one timing helper of the benchmarks: two contenders measured in turn, A B A B, after a
// warm-up pair, with the medians of both sides and the median of the per-pair ratios A/B.
//
// Whole programs are timed from fork to reaping; their processor time is that of the whole tree
// (wait4's usage of the program, with what it waited for, and of what it left behind, which this
// process adopts and waits for). The timed runs are only reaped: nothing stops their processes.
// The memory figures come from the warm-up runs (or one more run a side without them), where every
// process a program starts is followed (ptrace's fork events) and each one's peak (VmHWM) read from
// /proc/PID/status while it stops at its exit, so that neither the parent's size nor an earlier
// child counts: a side's memory is the largest sum of the peaks of its processes alive together. Calls in one process
// are compared only with calls in the same process (no peak memory: it would be the process's, not the call's).
//
// Plain C++ without Qt, so that the program that forks stays small.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace BenchPair {

struct Settings {
    std::string title;
    int pairs = 7;    // timed pairs, at least 5
    int warmups = 1;  // untimed pairs first
    std::string cpus; // "3" or "0-3": both sides pinned there, as `taskset -c` would
    int items = 0;    // when each run handles this many items (files, records): also items per second
    // For two programs that print the same data: what each prints on standard output in its
    // warm-up run is counted, and the comparison fails unless both printed something and the same
    // number of fields. A field is a line that matches fieldsA (for A) or fieldsB (for B), an
    // ECMAScript regular expression searched in the line; every non-empty line when empty.
    bool sameFields = false;
    std::string fieldsA, fieldsB;
};

struct Side {
    std::vector<double> ms;     // the timed runs, in run order
    std::vector<double> cpuMs;  // their processor time (user and system) over the whole process tree
    std::vector<double> faults; // their page faults (minor and major) over the whole process tree
    double medianMs = 0;
    double medianCpuMs = 0;
    double medianFaults = 0;
    // Of the followed runs:
    double peakMiB = 0;     // the highest VmHWM of the started program itself; 0 when not read
    double treePeakMiB = 0; // the highest, over the runs, of the largest sum of the peaks (VmHWM) of
                            // the run's processes alive together: the program and all it started
    double heldMiB = 0;     // the highest resident memory the tree held at once, looked at every 10 ms
    int processes = 0;      // the processes of the last run's tree
};

struct Outcome {
    bool ok = false;
    Side a, b;
    double ratio = 0;    // median of a/b over the pairs (wall time); 0 with one side
    double cpuRatio = 0; // the same for the processor time of the whole trees
};

using Command = std::vector<std::string>;

// Runs A (and B when not empty) as whole processes, prints the figures and both command lines.
Outcome comparePrograms(const Command &a, const Command &b, const Settings &settings);

// The same for two calls in this process; each call answers false on failure.
Outcome compareCalls(const std::string &describeA, const std::function<bool()> &a, const std::string &describeB,
                     const std::function<bool()> &b, const Settings &settings);

// A command line as a shell would take it back.
std::string quoted(const Command &command);

} // namespace BenchPair
