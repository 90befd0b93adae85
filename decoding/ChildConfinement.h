#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// What every program that decodes media gives up before it touches a file (ovn-decoder, the PDF
// page child, the dcraw launcher and the dcraw program it starts, the movie player). One routine,
// confine(), called while the child has one thread only (before QCoreApplication, before any
// library starts a thread, or between fork and exec): each of its boundaries then holds every
// thread the child ever runs, whichever thread a hostile file takes over.
//
// The boundaries, each holding without the others:
// - an end with the parent (SIGKILL at its end), which the child cannot undo: prctl is allowed
//   only to name threads;
// - a thread cap: the child enters a user namespace of its own, where RLIMIT_NPROC counts its own
//   tasks only (where the system allows no such namespace, the cap counts the user's tasks as they
//   are now plus the child's allowance);
// - memory: a data limit, and an address-space limit that counts every mapping whatever its kind
//   or protection (memory written and then made read-only, or mapped PROT_NONE and opened later,
//   leaves the data limit's count but never this one); the filter refuses shared anonymous and
//   grows-down mappings besides;
// - descriptors: a limit of the few a child holds, so that pipes and sockets cannot pile up
//   kernel memory that no memory limit counts;
// - the file system as Landlock leaves it: only the child's read list (see Rule), no writing,
//   removing or making of anything, no TCP, no abstract sockets or signals out of the child;
// - a system-call filter by allow-list: the child's own list of calls, and of the rest only
//   opening read-only, threads (clone3 answers "no such call" so that the C library uses clone,
//   whose flags the filter reads), signals to itself, and its own limits read or lowered. Without
//   Landlock (kernels before 5.13) the filter alone still refuses every write, removal, creation,
//   program start, socket and signal to another process.
namespace ChildConfinement {

// Ends this process (SIGKILL) when the one that started it ends; false when it has ended already
// (`parent` is the pid it was started by).
bool endWithParent(pid_t parent);

// A limit, soft and hard alike.
void limit(int resource, unsigned long long value);

// Lowers a limit, soft and hard alike, to `value`, or to the hard limit held already where that is
// lower (a hard limit is never raised). False when it could not be set.
bool lowerLimit(int resource, unsigned long long value);

// The address space this process maps (what RLIMIT_AS counts: its VmSize), read through
// `gauge`, its /proc/self/statm as openMappedGauge() opened it: a template opens it before it is
// confined, since its read list holds none of its process's files. 0 when it cannot tell.
int openMappedGauge();
unsigned long long mappedBytes(int gauge);

// The stack of every thread started from now on without a size of its own (a library's, a
// std::thread), instead of the C library's 8 MiB: each counts whole in the address-space limit.
// Also bounds the main thread's stack. Call it before the first thread.
void sizeThreadStacks(unsigned long long threadBytes, unsigned long long mainBytes);

// One entry of a read list. Rules whose path is missing are skipped.
struct Rule {
    std::string path;
    bool read = false;    // read files (and list folders)
    bool execute = false; // run as a program
    bool write = false;   // write files that exist (devices)
};

// The kernel's Landlock version, 0 without Landlock. Test builds: 0 as well when
// OVN_DECODER_TEST_NO_LANDLOCK is set, so that the filter's own hold can be tried.
int landlockVersion();

// What one kind of child may do, declared beside it.
struct Allowances {
    const char *name = "child";          // in the message that says a boundary is missing
    std::vector<Rule> files;             // its read list
    std::vector<int> calls;              // system calls allowed whatever their arguments
    bool startsProgram = false;          // may exec the one program it becomes, which must then call
                                         // restrictCalls() before it reads anything (see Dcraw_p.h)
    bool startsChildren = false;         // a template that forks a child per request (see
                                         // confineForkedChild)
    unsigned long long data = 0;         // RLIMIT_DATA (0: unlimited)
    unsigned long long addressSpace = 0; // RLIMIT_AS (0: unlimited)
    unsigned long long descriptors = 0;  // RLIMIT_NOFILE: the descriptors it may hold (0: as it is)
    unsigned long long threads = 256;    // tasks it may hold at once, itself included
    pid_t parent = 0;                    // the process it ends with (0: none is set here)
    bool inLauncherDomain = false;       // entered enterLauncherDomain() before it started its
                                         // program: its own read list then scopes nothing
};

// The calls that reading and decoding need of the C library and Qt, whatever their arguments:
// memory, reading held descriptors, waiting, time, the process's own facts and signal handling.
// A child's list starts from these.
std::vector<int> decodingCalls();

// How confine() went.
enum class Confined {
    Whole,        // every boundary is in force
    WithoutFiles, // the kernel has no Landlock, or refused the rules: the filter holds alone
    Failed,       // the child must not go on (more than one thread, a boundary could not be set)
};

// Sets every boundary above for this process and what it ever starts. Refuses (Failed) in a
// process that has more than one thread. Says on standard error and in the system log, once, when
// Landlock is missing.
Confined confine(const Allowances &allowances);

// A launcher that starts a confined program of its own (ovn-dcraw and dcraw) enters, before it
// forks, a Landlock domain that reads what it reads and what the program reads and runs, scoped
// as every child's (no signals or abstract sockets out of it). The program's domain then nests in
// it, so that the launcher's end reaches the program (the parent-death signal, sent as by the
// launcher, is held to the launcher's domain: from a domain beside the program's it would be
// dropped and the program would outlive it). The launcher then confines itself with
// inLauncherDomain set: its own read list narrows what it reads without scoping it again. The
// Landlock version used, 0 without Landlock, -1 when the kernel refused.
int enterLauncherDomain(const std::vector<Rule> &rules);

// A child forked by a template confined with startsChildren, before it reads anything: it ends
// with the template, and a filter stacked on the template's takes back what only the template may
// do (fork, wait for its children and hear of their ends, hand over sockets, set the parent-death
// signal, add filters), so that the child holds to its allowances. It shares the template's task cap, which
// counts one child at a time. Call it with one thread. False when the child must not go on.
bool confineForkedChild(pid_t template_);

// The system-call filter of `allowances` alone, stacked on what the process holds already: a
// program started by a confined child sets it before its main function, so that it cannot start
// another. False when it could not be set.
bool restrictCalls(const Allowances &allowances);

// The program's interpreter (PT_INTERP of its ELF header), empty for a static program.
std::string interpreterOf(const std::string &program);

} // namespace ChildConfinement
