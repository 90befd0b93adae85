#include "BenchPair.h"

#include <dirent.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <regex>
#include <sstream>

namespace BenchPair {

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// "0-3,6" -> the CPU set taskset would make of it; false on a malformed list.
bool parseCpus(const std::string &list, cpu_set_t &set)
{
    CPU_ZERO(&set);
    std::stringstream stream(list);
    std::string range;
    int count = 0;
    while (std::getline(stream, range, ',')) {
        char *end = nullptr;
        const long first = std::strtol(range.c_str(), &end, 10);
        long last = first;
        if (*end == '-')
            last = std::strtol(end + 1, &end, 10);
        if (*end != '\0' || first < 0 || last < first || last >= CPU_SETSIZE)
            return false;
        for (long cpu = first; cpu <= last; ++cpu, ++count)
            CPU_SET(int(cpu), &set);
    }
    return count > 0;
}

double vmHwmMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
    return 0;
}

struct Run {
    bool ok = false;
    double ms = 0;
    double cpuMs = 0;       // user and system time of the whole tree
    long faults = 0;        // the page faults of the whole tree (timed runs only)
    double peakMiB = 0;     // the started program's own VmHWM
    double treePeakMiB = 0; // the largest sum of the peaks of the tree's processes alive together
    double heldMiB = 0;     // the most the tree's processes held at once, looked at every 10 ms
    int processes = 0;      // the processes of the tree
    std::string failure;
};

double cpuMsOf(const rusage &usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

pid_t parentOf(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(text.substr(close + 1));
    std::string state;
    long parent = -1;
    rest >> state >> parent;
    return pid_t(parent);
}

// Whether a task is a thread of a process rather than the process itself: its parent's event may
// come only after the thread has ended.
bool isThread(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Tgid:", 0) == 0)
            return std::strtol(line.c_str() + 5, nullptr, 10) != pid;
    }
    return false;
}

double residentMiB(pid_t pid)
{
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Looks at the resident memory of a run's live processes every 10 ms and keeps the largest sum.
class Sampler
{
public:
    Sampler()
        : m_thread([this] {
              std::unique_lock lock(m_mutex);
              while (!m_stop) {
                  double sum = 0;
                  for (const pid_t pid : m_alive)
                      sum += residentMiB(pid);
                  m_most = std::max(m_most, sum);
                  m_wake.wait_for(lock, std::chrono::milliseconds(10));
              }
          })
    {}
    ~Sampler()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    void started(pid_t pid)
    {
        const std::lock_guard lock(m_mutex);
        m_alive.insert(pid);
    }
    void ended(pid_t pid)
    {
        const std::lock_guard lock(m_mutex);
        m_alive.erase(pid);
    }
    double most()
    {
        const std::lock_guard lock(m_mutex);
        return m_most;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::set<pid_t> m_alive;
    double m_most = 0;
    bool m_stop = false;
    std::thread m_thread;
};

// One process of a run's tree: when it was first seen, when it ended and its peak then.
struct Member {
    double startMs = -1;
    double endMs = -1;
    double peakMiB = 0;
    pid_t parentAtExit = -1;
    bool notified = false;  // its end was reported once (to us as its tracer)
    bool stopped = false;   // it stopped once: a followed process's first stop is its start
    bool thread = false;    // a thread of a followed process (followed for the processes it starts)
    bool announced = false; // its start was told by its parent's event
};

// The largest sum of the peaks of members alive together (each counted from its start to its end).
double largestConcurrentSum(const std::map<pid_t, Member> &members, double endMs)
{
    double largest = 0;
    for (const auto &[pid, at] : members) {
        double sum = 0;
        if (at.thread)
            continue;
        for (const auto &[other, member] : members) {
            if (member.thread)
                continue;
            const double ends = member.endMs < 0 ? endMs : member.endMs;
            if (member.startMs <= at.startMs && ends >= at.startMs)
                sum += member.peakMiB;
        }
        largest = std::max(largest, sum);
    }
    return largest;
}

std::string tail(const std::string &path, size_t bytes)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string all = text.str();
    return all.size() > bytes ? all.substr(all.size() - bytes) : all;
}

// The fields in a run's standard output: lines that `pattern` matches (every non-empty line when
// it is empty); -1 when the pattern is not a regular expression.
long countFields(const std::string &outputFile, const std::string &pattern)
{
    std::ifstream output(outputFile, std::ios::binary);
    std::regex field;
    try {
        field = std::regex(pattern.empty() ? std::string(".") : pattern);
    } catch (const std::regex_error &) {
        return -1;
    }
    long count = 0;
    for (std::string line; std::getline(output, line);)
        count += std::regex_search(line, field) ? 1 : 0;
    return count;
}

// How a run is watched: timed (only reaped, so that nothing stops its processes) or followed for
// its memory (each process stopped at its start and its end, which costs the tree time of its own).
enum class Watch { Timed, Followed };

// Ends the processes a run left to this process (its children now).
void endLeftBehind()
{
    DIR *proc = opendir("/proc");
    if (!proc)
        return;
    while (const dirent *entry = readdir(proc)) {
        const pid_t pid = pid_t(std::strtol(entry->d_name, nullptr, 10));
        if (pid > 0 && parentOf(pid) == getpid())
            kill(pid, SIGKILL);
    }
    closedir(proc);
}

// The next process of a run that ended or stopped, waited for while the program runs; once it
// has ended (`endedAt`), what it left has 10 s before `endLeft` ends it, and -1 comes when nothing
// is left.
pid_t nextReport(bool ended, Clock::time_point endedAt, const std::function<void()> &endLeft, int &status,
                 rusage &usage)
{
    for (;;) {
        status = 0;
        usage = {};
        const pid_t which = wait4(-1, &status, __WALL | (ended ? WNOHANG : 0), &usage);
        if (which < 0 && errno == EINTR)
            continue;
        if (which != 0)
            return which < 0 ? -1 : which;
        if (Clock::now() - endedAt > std::chrono::seconds(10))
            endLeft();
        usleep(5000);
    }
}

// The program's own end, once seen: when, and a run that went well or why not (with the end of
// what it wrote to its standard error).
struct ProgramEnd {
    bool seen = false;
    Clock::time_point at;

    void note(Run &run, int status, double ms, const std::string &errorFile)
    {
        seen = true;
        at = Clock::now();
        run.ms = ms;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            run.ok = true;
            return;
        }
        run.failure = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                        : std::string("killed by signal ") + strsignal(WTERMSIG(status));
        run.failure += '\n';
        run.failure += tail(errorFile, 2000);
    }
};

// A timed run's end: the program is reaped, then what it left behind, which comes to this process
// (a subreaper) and is counted with it.
void reapTimed(pid_t pid, Run &run, const std::function<double()> &since, const std::string &errorFile)
{
    ProgramEnd end;
    int status = 0;
    rusage usage{};
    for (pid_t which; (which = nextReport(end.seen, end.at, endLeftBehind, status, usage)) > 0;) {
        if (!WIFEXITED(status) && !WIFSIGNALED(status))
            continue;
        run.cpuMs += cpuMsOf(usage);
        run.faults += usage.ru_minflt + usage.ru_majflt;
        if (which == pid)
            end.note(run, status, since(), errorFile);
    }
    if (!end.seen)
        run.failure = "the program's end was not seen";
}

// One whole run: fork, pin, exec, reap; followed (under ptrace, stopped once at exec and once at
// each process's exit) where `watch` says. Its standard output goes to `outputFile`, or nowhere
// when that is empty.
Run runOnce(const Command &command, const Settings &settings, const std::string &errorFile, Watch watch,
            const std::string &outputFile = {})
{
    Run run;
    std::vector<char *> argv;
    for (const std::string &word : command)
        argv.push_back(const_cast<char *>(word.c_str()));
    argv.push_back(nullptr);
    cpu_set_t cpus;
    const bool pin = !settings.cpus.empty() && parseCpus(settings.cpus, cpus);

    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        run.failure = std::string("fork: ") + std::strerror(errno);
        return run;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        const int null = open("/dev/null", O_RDWR);
        const int errors = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int output = outputFile.empty() ? -1 : open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(output >= 0 ? output : null, STDOUT_FILENO);
        }
        if (errors >= 0)
            dup2(errors, STDERR_FILENO);
        if (pin)
            sched_setaffinity(0, sizeof cpus, &cpus);
        if (watch == Watch::Followed)
            ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execvp(argv[0], argv.data());
        const char message[] = "exec failed\n";
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
        _exit(127);
    }

    const auto since = [&start] { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); };
    if (watch == Watch::Timed) {
        reapTimed(pid, run, since, errorFile);
        return run;
    }

    // Every process the program starts is followed too (fork, vfork and posix_spawn, not threads):
    // each stops once at its exit, where its own peak is read. This process adopts what the
    // program leaves behind, so that a decoder it did not wait for is still waited for here and
    // its processor time counted.
    std::map<pid_t, Member> members;
    members[pid].startMs = 0;
    Sampler sampler;
    sampler.started(pid);
    bool traced = false;
    ProgramEnd end;
    const auto endLeft = [&members] {
        for (const auto &[left, member] : members)
            if (member.endMs < 0)
                kill(left, SIGKILL);
    };
    int status = 0;
    rusage usage{};
    for (pid_t which; (which = nextReport(end.seen, end.at, endLeft, status, usage)) > 0;) {
        Member &member = members[which];
        // An ended process stops no more: a stop under its number is a new process's.
        if (WIFSTOPPED(status) && member.endMs >= 0)
            member = Member{};
        if (member.startMs < 0)
            member.startMs = since();
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            // Counted once, by whoever is its parent: the program's own usage holds what it waited
            // for; what it left to this process is counted when this process waits for it.
            const bool child = !member.thread && (which == pid || member.notified || member.parentAtExit == getpid());
            if (child)
                run.cpuMs += cpuMsOf(usage);
            member.notified = true;
            if (member.endMs < 0)
                member.endMs = since();
            if (which == pid)
                end.note(run, status, since(), errorFile);
            continue;
        }
        if (!WIFSTOPPED(status))
            continue;
        const bool firstStop = !member.stopped;
        member.stopped = true;
        int deliver = 0;
        const int event = status >> 16;
        if (which == pid && !traced && WSTOPSIG(status) == SIGTRAP) {
            // The stop after exec: from here on, stop once more at exit, follow the processes it
            // starts, and never outlive us. A later exec (a shell's `exec`, a wrapper script)
            // stops as an event, not as a SIGTRAP.
            traced = true;
            ptrace(PTRACE_SETOPTIONS, pid, nullptr,
                   reinterpret_cast<void *>(PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL
                                            | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK | PTRACE_O_TRACECLONE));
        } else if (event == PTRACE_EVENT_FORK || event == PTRACE_EVENT_VFORK || event == PTRACE_EVENT_CLONE) {
            // Threads are followed only for the processes they start: a process is started from any
            // of its threads.
            unsigned long started = 0;
            ptrace(PTRACE_GETEVENTMSG, which, nullptr, &started);
            Member &born = members[pid_t(started)];
            // A number whose start was told before belonged to a process that has ended (a tree
            // of a thousand processes on a busy machine goes round the pid numbers): this one
            // starts afresh, or the earlier one's marks would count its end twice. A new process
            // may also have run and ended before its parent's event came: that is its own.
            if (started > 0 && born.announced)
                born = Member{};
            born.announced = true;
            if (started > 0 && born.startMs < 0)
                born.startMs = since();
            born.thread = born.thread || event == PTRACE_EVENT_CLONE;
            if (!born.thread)
                sampler.started(pid_t(started));
        } else if (event == PTRACE_EVENT_EXEC) {
            // nothing to hand on
        } else if (event == PTRACE_EVENT_EXIT && (member.thread || isThread(which))) {
            // A thread's end is told with its process's usage: it is never counted itself.
            member.thread = true;
            member.endMs = since();
        } else if (event == PTRACE_EVENT_EXIT) {
            // The memory is still mapped at this stop.
            member.peakMiB = vmHwmMiB(which);
            sampler.ended(which);
            member.parentAtExit = parentOf(which);
            member.endMs = since();
            if (which == pid)
                run.peakMiB = member.peakMiB;
        } else if (which != pid && firstStop && WSTOPSIG(status) == SIGSTOP) {
            // A followed process's first stop, before it runs: it goes on as it would have.
        } else {
            deliver = WSTOPSIG(status); // an ordinary signal: hand it on
        }
        ptrace(PTRACE_CONT, which, nullptr, reinterpret_cast<void *>(intptr_t(deliver)));
    }
    run.treePeakMiB = largestConcurrentSum(members, run.ms);
    run.heldMiB = sampler.most();
    run.processes = int(std::count_if(members.begin(), members.end(), [](const auto &m) { return !m.second.thread; }));
    if (!end.seen)
        run.failure = "the program's end was not seen";
    return run;
}

// A side's figures: its times from the timed runs, its memory from the followed ones.
Side summarise(const std::vector<Run> &timed, const std::vector<Run> &followed)
{
    Side side;
    for (const Run &run : timed) {
        side.ms.push_back(run.ms);
        side.cpuMs.push_back(run.cpuMs);
        side.faults.push_back(double(run.faults));
    }
    for (const Run &run : followed) {
        side.peakMiB = std::max(side.peakMiB, run.peakMiB);
        side.treePeakMiB = std::max(side.treePeakMiB, run.treePeakMiB);
        side.heldMiB = std::max(side.heldMiB, run.heldMiB);
        side.processes = run.processes;
    }
    side.medianMs = median(side.ms);
    side.medianCpuMs = median(side.cpuMs);
    side.medianFaults = median(side.faults);
    return side;
}

void printSide(const char *name, const Side &side, bool memory, int items)
{
    const auto [best, worst] = std::minmax_element(side.ms.begin(), side.ms.end());
    std::printf("  %s median %10.1f ms   (best %.1f, worst %.1f)", name, side.medianMs, *best, *worst);
    if (items > 0)
        std::printf("   %.1f items/s", items / side.medianMs * 1000.0);
    if (memory) {
        std::printf("\n    processor time of the whole tree: median %.1f ms", side.medianCpuMs);
        std::printf("\n    page faults of the whole tree: median %.0f", side.medianFaults);
        if (items > 0)
            std::printf(" (%.1f an item)", side.medianFaults / items);
        std::printf("\n    memory of the tree (%d processes): held at once %.1f MiB (looked at every 10 ms), at most "
                    "%.1f MiB (the peaks of processes alive together); the program itself %.1f MiB",
                    side.processes, side.heldMiB, side.treePeakMiB, side.peakMiB);
    }
    std::printf("\n");
}

void printHeader(const Settings &settings, const std::string &a, const std::string &b, const char *how)
{
    if (!settings.title.empty())
        std::printf("== %s ==\n", settings.title.c_str());
    const std::string pin = settings.cpus.empty() ? "" : "taskset -c " + settings.cpus + " ";
    std::printf("  A: %s%s\n", pin.c_str(), a.c_str());
    if (!b.empty())
        std::printf("  B: %s%s\n", pin.c_str(), b.c_str());
    std::printf("  %s; %d warm-up %s, then %d %s%s\n", how, settings.warmups,
                b.empty() ? (settings.warmups == 1 ? "run" : "runs") : (settings.warmups == 1 ? "pair" : "pairs"),
                settings.pairs, b.empty() ? "runs" : "pairs A B A B",
                settings.cpus.empty() ? "" : ", pinned to those CPUs");
}

void printOutcome(const Outcome &outcome, bool twoSides, bool memory, int items)
{
    printSide("A", outcome.a, memory, items);
    if (twoSides) {
        printSide("B", outcome.b, memory, items);
        std::printf("  A/B median pair ratio %.2f (%s)\n", outcome.ratio,
                    outcome.ratio > 1.005   ? "A slower"
                    : outcome.ratio < 0.995 ? "A faster"
                                            : "even");
        if (outcome.cpuRatio > 0)
            std::printf("  A/B median pair ratio of processor time %.2f\n", outcome.cpuRatio);
    }
    std::fflush(stdout);
}

} // namespace

std::string quoted(const Command &command)
{
    std::string line;
    for (const std::string &word : command) {
        if (!line.empty())
            line += ' ';
        const bool plain =
            !word.empty()
            && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./=:,+%@")
                   == std::string::npos;
        if (plain) {
            line += word;
            continue;
        }
        line += '\'';
        for (char c : word)
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

Outcome comparePrograms(const Command &a, const Command &b, const Settings &settings)
{
    Outcome outcome;
    const bool twoSides = !b.empty();
    printHeader(settings, quoted(a), twoSides ? quoted(b) : std::string(),
                "whole processes, wall time from fork to reaping, output to /dev/null");
    // What a run leaves behind comes to this process, which waits for it and counts it.
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    cpu_set_t unused;
    if (!settings.cpus.empty() && !parseCpus(settings.cpus, unused)) {
        std::printf("  not a CPU list: %s\n", settings.cpus.c_str());
        return outcome;
    }
    char errorTemplate[] = "/tmp/bench-pair-stderr.XXXXXX";
    const int errorFd = mkstemp(errorTemplate);
    if (errorFd < 0)
        return outcome;
    close(errorFd);
    const std::string errorFile = errorTemplate;

    std::string outputA, outputB;
    if (settings.sameFields) {
        char outputTemplate[] = "/tmp/bench-pair-stdout.XXXXXX";
        const int outputFd = mkstemp(outputTemplate);
        if (outputFd < 0)
            return outcome;
        close(outputFd);
        outputA = outputTemplate;
        outputB = outputA + ".b";
    }

    // The warm-up runs are followed for the memory figures; the timed ones only reaped, so that the
    // stops of a followed tree (two a process) count in neither its time nor its processor time.
    std::vector<Run> runsA, runsB, followedA, followedB;
    bool ok = true;
    auto once = [&](const Command &command, std::vector<Run> *keep, const char *name, Watch watch,
                    const std::string &outputFile = {}) {
        if (!ok)
            return;
        Run run = runOnce(command, settings, errorFile, watch, outputFile);
        if (!run.ok) {
            std::printf("  %s failed: %s\n", name, run.failure.c_str());
            ok = false;
        } else if (keep) {
            keep->push_back(run);
        }
    };
    for (int i = 0; i < settings.warmups; ++i) {
        once(a, &followedA, "A", Watch::Followed, i == 0 ? outputA : std::string());
        if (twoSides)
            once(b, &followedB, "B", Watch::Followed, i == 0 ? outputB : std::string());
    }
    if (ok && settings.sameFields && twoSides) {
        // A timing means nothing unless the peer printed what ours prints.
        const long fieldsA = countFields(outputA, settings.fieldsA), fieldsB = countFields(outputB, settings.fieldsB);
        if (fieldsA <= 0 || fieldsB != fieldsA) {
            std::printf("  the outputs differ: A printed %ld fields, B %ld (each must print the same, at least one)\n",
                        fieldsA, fieldsB);
            ok = false;
        } else {
            std::printf("  both printed %ld fields\n", fieldsA);
        }
    }
    if (!outputA.empty()) {
        unlink(outputA.c_str());
        unlink(outputB.c_str());
    }
    for (int i = 0; i < settings.pairs; ++i) {
        once(a, &runsA, "A", Watch::Timed);
        if (twoSides)
            once(b, &runsB, "B", Watch::Timed);
    }
    if (settings.warmups == 0) {
        once(a, &followedA, "A", Watch::Followed);
        if (twoSides)
            once(b, &followedB, "B", Watch::Followed);
    }
    unlink(errorFile.c_str());
    if (!ok) {
        std::fflush(stdout);
        return outcome;
    }
    outcome.a = summarise(runsA, followedA);
    if (twoSides) {
        outcome.b = summarise(runsB, followedB);
        std::vector<double> ratios, cpuRatios;
        for (size_t i = 0; i < runsA.size(); ++i) {
            ratios.push_back(runsA[i].ms / runsB[i].ms);
            if (runsB[i].cpuMs > 0)
                cpuRatios.push_back(runsA[i].cpuMs / runsB[i].cpuMs);
        }
        outcome.ratio = median(ratios);
        outcome.cpuRatio = median(cpuRatios);
    }
    outcome.ok = true;
    printOutcome(outcome, twoSides, true, settings.items);
    return outcome;
}

Outcome compareCalls(const std::string &describeA, const std::function<bool()> &a, const std::string &describeB,
                     const std::function<bool()> &b, const Settings &settings)
{
    Outcome outcome;
    printHeader(settings, describeA, describeB, "calls in this one process, wall time per call");
    auto timed = [](const std::function<bool()> &call, double &ms) {
        const Clock::time_point start = Clock::now();
        const bool ok = call();
        ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        return ok;
    };
    double ignored = 0;
    for (int i = 0; i < settings.warmups; ++i) {
        if (!timed(a, ignored) || !timed(b, ignored)) {
            std::printf("  a call failed\n");
            return outcome;
        }
    }
    std::vector<double> ratios;
    for (int i = 0; i < settings.pairs; ++i) {
        double msA = 0, msB = 0;
        if (!timed(a, msA) || !timed(b, msB)) {
            std::printf("  a call failed\n");
            return outcome;
        }
        outcome.a.ms.push_back(msA);
        outcome.b.ms.push_back(msB);
        ratios.push_back(msA / msB);
    }
    outcome.a.medianMs = median(outcome.a.ms);
    outcome.b.medianMs = median(outcome.b.ms);
    outcome.ratio = median(ratios);
    outcome.ok = true;
    printOutcome(outcome, true, false, settings.items);
    return outcome;
}

} // namespace BenchPair
