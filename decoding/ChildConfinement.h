#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// What the programs that decode outside ovn-decoder give up before they touch a file: the dcraw
// launcher (ovn-dcraw, for the program it starts) and the movie player (ovn-player). Both run
// code that cannot sit under the decoder's own filter (an exec'd program, an audio output), so
// they hold to what they can: the kernel's file-system boundary (Landlock), a filter of the calls
// nothing of theirs needs, their own memory, and an end when their parent ends.
namespace ChildConfinement {

// Ends this process (SIGKILL) when the one that started it ends; false when it has ended already
// (`parent` is the pid it was started by).
bool endWithParent(pid_t parent);

// A limit, soft and hard alike.
void limit(int resource, unsigned long long value);

// The file system as Landlock leaves it: only what `rules` names, with the rights given; no
// writing, removing or making of anything elsewhere; no TCP; no signals to processes outside this
// one and its children; no abstract sockets of other processes. Rules whose path is missing are
// skipped. Answers the kernel's Landlock version used, 0 when it has none (nothing is then
// confined by it), -1 when it failed.
struct Rule {
    std::string path;
    bool read = false;    // read files (and list folders)
    bool execute = false; // run as a program
    bool write = false;   // write files that exist (devices)
};
int restrictFiles(const std::vector<Rule> &rules);

// A seccomp filter of the calls no decoding child needs: sockets other than local ones when
// `localSockets`, io_uring, tracing and reading other processes, keys, bpf, perf, userfaultfd,
// mounting, making device nodes, and new processes other than threads (and with `allowExec`,
// the one exec that starts the program). Sets no_new_privs. False when it could not be set.
bool filterCalls(bool localSockets, bool allowExec);

// The program's interpreter (PT_INTERP of its ELF header), empty for a static program.
std::string interpreterOf(const std::string &program);

} // namespace ChildConfinement
