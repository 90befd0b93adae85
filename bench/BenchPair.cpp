#include "BenchPair.h"

#include <sched.h>
#include <signal.h>
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
    double peakMiB = 0;
    double treePeakMiB = 0;
    std::string failure;
};

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

// One whole run: fork, pin, exec under ptrace (stopped once at exec and once at exit), reap. Its
// standard output goes to `outputFile`, or nowhere when that is empty.
Run runOnce(const Command &command, const Settings &settings, const std::string &errorFile,
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
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execvp(argv[0], argv.data());
        const char message[] = "exec failed\n";
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
        _exit(127);
    }

    bool traced = false;
    for (;;) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, __WALL, &usage) < 0) {
            run.failure = std::string("wait4: ") + std::strerror(errno);
            return run;
        }
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            run.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            run.treePeakMiB = double(usage.ru_maxrss) / 1024.0;
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                run.ok = true;
            } else {
                run.failure = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                                : std::string("killed by signal ") + strsignal(WTERMSIG(status));
                run.failure += '\n';
                run.failure += tail(errorFile, 2000);
            }
            return run;
        }
        if (!WIFSTOPPED(status))
            continue;
        int deliver = 0;
        if (!traced && WSTOPSIG(status) == SIGTRAP) {
            // The stop after exec: from here on, stop once more at exit, and never outlive us. A
            // later exec (a shell's `exec`, a wrapper script) stops as an event, not as a SIGTRAP.
            traced = true;
            ptrace(PTRACE_SETOPTIONS, pid, nullptr,
                   reinterpret_cast<void *>(PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL));
        } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXEC << 8))) {
            // nothing to hand on
        } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            run.peakMiB = vmHwmMiB(pid); // the memory is still mapped at this stop
        } else {
            deliver = WSTOPSIG(status); // an ordinary signal: hand it on
        }
        ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void *>(intptr_t(deliver)));
    }
}

Side summarise(std::vector<Run> &runs)
{
    Side side;
    for (const Run &run : runs) {
        side.ms.push_back(run.ms);
        side.peakMiB = std::max(side.peakMiB, run.peakMiB);
        side.treePeakMiB = std::max(side.treePeakMiB, run.treePeakMiB);
    }
    side.medianMs = median(side.ms);
    return side;
}

void printSide(const char *name, const Side &side, bool memory, int items)
{
    const auto [best, worst] = std::minmax_element(side.ms.begin(), side.ms.end());
    std::printf("  %s median %10.1f ms   (best %.1f, worst %.1f)", name, side.medianMs, *best, *worst);
    if (items > 0)
        std::printf("   %.1f items/s", items / side.medianMs * 1000.0);
    if (memory) {
        std::printf("   peak VmHWM %.1f MiB", side.peakMiB);
        // A shell or xargs is small itself: then the largest process it started tells the memory.
        if (side.treePeakMiB > side.peakMiB + 1.0)
            std::printf(" (largest process of its tree %.1f MiB)", side.treePeakMiB);
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

    std::vector<Run> runsA, runsB;
    bool ok = true;
    auto once = [&](const Command &command, std::vector<Run> *keep, const char *name,
                    const std::string &outputFile = {}) {
        if (!ok)
            return;
        Run run = runOnce(command, settings, errorFile, outputFile);
        if (!run.ok) {
            std::printf("  %s failed: %s\n", name, run.failure.c_str());
            ok = false;
        } else if (keep) {
            keep->push_back(run);
        }
    };
    for (int i = 0; i < settings.warmups; ++i) {
        once(a, nullptr, "A", i == 0 ? outputA : std::string());
        if (twoSides)
            once(b, nullptr, "B", i == 0 ? outputB : std::string());
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
        once(a, &runsA, "A");
        if (twoSides)
            once(b, &runsB, "B");
    }
    unlink(errorFile.c_str());
    if (!ok) {
        std::fflush(stdout);
        return outcome;
    }
    outcome.a = summarise(runsA);
    if (twoSides) {
        outcome.b = summarise(runsB);
        std::vector<double> ratios;
        for (size_t i = 0; i < runsA.size(); ++i)
            ratios.push_back(runsA[i].ms / runsB[i].ms);
        outcome.ratio = median(ratios);
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
