// bench_pair: times two programs as whole processes in turn, A B A B, and prints both medians,
// both peak memories (each process's own VmHWM), the median pair ratio and both command lines.
// With only --a, it times the one program the same way.
//
//   bench_pair [--title TEXT] [--pairs N] [--warmups N] [--cpus LIST] [--items N]
//              [--same-fields [--fields-a REGEX] [--fields-b REGEX]] [--target-ratio R]
//              [--target-cpu-ratio R] --a PROGRAM ARG... [--b PROGRAM ARG...]
//
// --pairs is at least 5 (default 7), --warmups at least 1; --cpus pins both sides to the CPUs as
// `taskset -c LIST` does; --items N (files or records a run) adds items per second. --same-fields
// fails the comparison unless both printed something and as many fields (lines that the regular
// expressions match; every non-empty line by default) in their first warm-up run. Commands run
// without a shell: write `sh -c '...'` (with `exec` before the measured program) where one is
// needed. --target-ratio R prints whether the median pair ratio A/B met R and fails when it did not;
// --target-cpu-ratio R the same for the processor time of the whole trees.
// Exits 1 when a run fails or the target is missed, 2 on a wrong command line.
#include "BenchPair.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    BenchPair::Settings settings;
    BenchPair::Command a, b;
    BenchPair::Command *into = nullptr;
    double target = 0;
    double cpuTarget = 0;
    auto usage = [] {
        std::fprintf(stderr, "usage: bench_pair [--title TEXT] [--pairs N] [--warmups N] [--cpus LIST] "
                             "[--same-fields [--fields-a REGEX] [--fields-b REGEX]] [--target-ratio R] "
                             "[--target-cpu-ratio R] --a PROGRAM ARG... [--b PROGRAM ARG...]\n");
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--a" && !into) {
            into = &a;
        } else if (word == "--b" && into == &a) {
            into = &b;
        } else if (into) {
            into->push_back(word);
        } else if (i + 1 < argc && word == "--title") {
            settings.title = argv[++i];
        } else if (i + 1 < argc && word == "--pairs") {
            settings.pairs = std::max(5, std::atoi(argv[++i]));
        } else if (i + 1 < argc && word == "--warmups") {
            settings.warmups = std::max(1, std::atoi(argv[++i]));
        } else if (i + 1 < argc && word == "--items") {
            settings.items = std::max(0, std::atoi(argv[++i]));
        } else if (i + 1 < argc && word == "--cpus") {
            settings.cpus = argv[++i];
        } else if (word == "--same-fields") {
            settings.sameFields = true;
        } else if (i + 1 < argc && word == "--fields-a") {
            settings.fieldsA = argv[++i];
        } else if (i + 1 < argc && word == "--fields-b") {
            settings.fieldsB = argv[++i];
        } else if (i + 1 < argc && word == "--target-ratio") {
            target = std::strtod(argv[++i], nullptr);
            if (!(target > 0))
                return usage();
        } else if (i + 1 < argc && word == "--target-cpu-ratio") {
            cpuTarget = std::strtod(argv[++i], nullptr);
            if (!(cpuTarget > 0))
                return usage();
        } else {
            return usage();
        }
    }
    if (a.empty() || (into == &b && b.empty()))
        return usage();
    const BenchPair::Outcome outcome = BenchPair::comparePrograms(a, b, settings);
    if (!outcome.ok)
        return 1;
    bool met = true;
    if (target > 0) {
        const bool within = !b.empty() && outcome.ratio <= target;
        std::printf("  target A/B median pair ratio <= %.2f: %s\n", target, within ? "met" : "MISSED");
        met = met && within;
    }
    if (cpuTarget > 0) {
        const bool within = !b.empty() && outcome.cpuRatio > 0 && outcome.cpuRatio <= cpuTarget;
        std::printf("  target A/B median pair ratio of processor time <= %.2f: %s\n", cpuTarget,
                    within ? "met" : "MISSED");
        met = met && within;
    }
    return met ? 0 : 1;
}
