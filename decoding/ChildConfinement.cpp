#include "decoding/ChildConfinement.h"

#include <seccomp.h>

#include <elf.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/kcmp.h>
#include <linux/landlock.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <syslog.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>

namespace {

// The rights and scopes of Landlock versions newer than the system's header knows.
constexpr __u64 accessTruncate = 1ULL << 14; // version 3
constexpr __u64 accessIoctlDev = 1ULL << 15; // version 5
constexpr __u64 netBindTcp = 1ULL << 0;      // version 4
constexpr __u64 netConnectTcp = 1ULL << 1;
constexpr __u64 scopeAbstractUnixSocket = 1ULL << 0; // version 6
constexpr __u64 scopeSignal = 1ULL << 1;

struct RulesetAttributes {
    __u64 handledAccessFs = 0;
    __u64 handledAccessNet = 0;
    __u64 scoped = 0;
};

constexpr __u64 readRights = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
constexpr __u64 fileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE
                             | accessTruncate | accessIoctlDev;

} // namespace

bool ChildConfinement::endWithParent(pid_t parent)
{
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        return false;
    // The parent may have ended before the signal was asked for.
    return ::getppid() == parent;
}

void ChildConfinement::limit(int resource, unsigned long long value)
{
    const rlimit bounds{rlim_t(value), rlim_t(value)};
    ::setrlimit(resource, &bounds);
}

bool ChildConfinement::lowerLimit(int resource, unsigned long long value)
{
    rlimit bounds{};
    if (::getrlimit(resource, &bounds) != 0)
        return false;
    const rlim_t lowered = bounds.rlim_max == RLIM_INFINITY ? rlim_t(value) : std::min(rlim_t(value), bounds.rlim_max);
    bounds = {lowered, lowered};
    return ::setrlimit(resource, &bounds) == 0;
}

int ChildConfinement::openMappedGauge() { return ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC); }

unsigned long long ChildConfinement::mappedBytes(int gauge)
{
    char text[128];
    const ssize_t count = gauge >= 0 ? ::pread(gauge, text, sizeof text - 1, 0) : -1;
    if (count <= 0)
        return 0;
    text[count] = '\0';
    // Its first field: every mapping's pages.
    return std::strtoull(text, nullptr, 10) * (unsigned long long)(::sysconf(_SC_PAGESIZE));
}

void ChildConfinement::sizeThreadStacks(unsigned long long threadBytes, unsigned long long mainBytes)
{
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) == 0) {
        ::pthread_attr_setstacksize(&attributes, size_t(threadBytes));
        ::pthread_setattr_default_np(&attributes);
        ::pthread_attr_destroy(&attributes);
    }
    lowerLimit(RLIMIT_STACK, mainBytes);
}

int ChildConfinement::landlockVersion()
{
#ifdef OVN_DECODER_TEST_TRIGGERS
    if (const char *absent = std::getenv("OVN_DECODER_TEST_NO_LANDLOCK"); absent && *absent)
        return 0;
#endif
    const long version =
        ::syscall(SYS_landlock_create_ruleset, nullptr, size_t(0), __u32(LANDLOCK_CREATE_RULESET_VERSION));
    return version > 0 ? int(version) : 0;
}

namespace {

// The file system as Landlock leaves it: only what `rules` names, with the rights given; no
// writing, removing or making of anything elsewhere; no TCP; no signals to processes outside this
// one and its children; no abstract sockets of other processes (unless `scoped` is false: a
// launcher's domain scopes them already). Answers the kernel's Landlock version used, 0 when it
// has none (nothing is then confined by it), -1 when it failed.
int restrictFiles(const std::vector<ChildConfinement::Rule> &rules, bool scoped = true)
{
    const long version = ChildConfinement::landlockVersion();
    if (version <= 0)
        return 0;
    RulesetAttributes attributes;
    attributes.handledAccessFs = (LANDLOCK_ACCESS_FS_REFER << 1) - 1;
    if (version < 2)
        attributes.handledAccessFs &= ~LANDLOCK_ACCESS_FS_REFER;
    if (version >= 3)
        attributes.handledAccessFs |= accessTruncate;
    if (version >= 5)
        attributes.handledAccessFs |= accessIoctlDev;
    size_t size = sizeof attributes.handledAccessFs;
    if (version >= 4) {
        attributes.handledAccessNet = netBindTcp | netConnectTcp;
        size = 2 * sizeof(__u64);
    }
    if (version >= 6 && scoped) {
        attributes.scoped = scopeAbstractUnixSocket | scopeSignal;
        size = sizeof attributes;
    }
    const int ruleset = int(::syscall(SYS_landlock_create_ruleset, &attributes, size, __u32(0)));
    if (ruleset < 0)
        return -1;
    bool ok = true;
    for (const ChildConfinement::Rule &rule : rules) {
        const int fd = ::open(rule.path.c_str(), O_PATH | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat status {};
        const bool folder = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
        __u64 access = 0;
        if (rule.read)
            access |= folder ? readRights : LANDLOCK_ACCESS_FS_READ_FILE;
        if (rule.execute)
            access |= LANDLOCK_ACCESS_FS_EXECUTE;
        if (rule.write)
            access |= LANDLOCK_ACCESS_FS_WRITE_FILE | (version >= 5 ? accessIoctlDev : 0);
        if (!folder)
            access &= fileRights;
        access &= attributes.handledAccessFs;
        landlock_path_beneath_attr beneath{access, fd};
        if (access != 0)
            ok = ok && ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &beneath, __u32(0)) == 0;
        ::close(fd);
    }
    ok = ok && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
         && ::syscall(SYS_landlock_restrict_self, ruleset, __u32(0)) == 0;
    ::close(ruleset);
    return ok ? int(version) : -1;
}

} // namespace

std::string ChildConfinement::interpreterOf(const std::string &program)
{
    const int fd = ::open(program.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string interpreter;
    Elf64_Ehdr header{};
    if (::pread(fd, &header, sizeof header, 0) == ssize_t(sizeof header)
        && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == ELFCLASS64
        && header.e_phentsize == sizeof(Elf64_Phdr) && header.e_phnum < 256) {
        for (int i = 0; i < header.e_phnum; ++i) {
            Elf64_Phdr segment{};
            if (::pread(fd, &segment, sizeof segment, off_t(header.e_phoff + i * sizeof segment))
                != ssize_t(sizeof segment))
                break;
            if (segment.p_type != PT_INTERP || segment.p_filesz == 0 || segment.p_filesz > 4096)
                continue;
            std::string text(segment.p_filesz, '\0');
            if (::pread(fd, text.data(), text.size(), off_t(segment.p_offset)) == ssize_t(text.size()))
                interpreter = text.c_str();
            break;
        }
    }
    ::close(fd);
    return interpreter;
}

namespace {

// Answers how many threads this process has (0 when it cannot tell).
int threadCount()
{
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[4096];
    const ssize_t count = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (count <= 0)
        return 0;
    text[count] = '\0';
    const char *line = std::strstr(text, "\nThreads:");
    return line ? std::atoi(line + 9) : 0;
}

// The tasks (threads included) of the user this process runs as, in the system as it is now.
unsigned long long tasksOfThisUser()
{
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return 0;
    const uid_t user = ::getuid();
    unsigned long long tasks = 0;
    while (const dirent *entry = ::readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        char path[300];
        std::snprintf(path, sizeof path, "/proc/%s/status", entry->d_name);
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char text[4096];
        const ssize_t count = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (count <= 0)
            continue;
        text[count] = '\0';
        const char *uid = std::strstr(text, "\nUid:");
        const char *threads = std::strstr(text, "\nThreads:");
        if (uid && threads && uid_t(std::strtoul(uid + 5, nullptr, 10)) == user)
            tasks += std::strtoull(threads + 9, nullptr, 10);
    }
    ::closedir(proc);
    return tasks;
}

// The cap on tasks. In a user namespace of its own the kernel counts the child's tasks apart from
// the user's others (RLIMIT_NPROC is kept per namespace since Linux 5.14); the capabilities that
// namespace grants are dropped at once (they would reach nothing: no identity is mapped into it).
// Where no such namespace can be made, the cap counts all of the user's tasks: those there are now
// and the child's allowance.
bool capTasks(unsigned long long tasks)
{
    if (::unshare(CLONE_NEWUSER) == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct none[2] = {};
        if (::syscall(SYS_capset, &header, none) != 0)
            return false;
    } else {
        const unsigned long long now = tasksOfThisUser();
        if (now == 0)
            return false;
        tasks += now;
    }
    ChildConfinement::limit(RLIMIT_NPROC, tasks);
    return true;
}

void sayMissing(const char *name, const char *what)
{
    std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, name, what);
    openlog(program_invocation_short_name, LOG_PID, LOG_USER);
    syslog(LOG_WARNING, "%s: %s", name, what);
    closelog();
}

// Opening with any of these writes, creates or empties a file.
constexpr scmp_datum_t writingFlags = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | (O_TMPFILE & ~O_DIRECTORY);

// What prctl may do: name a thread, ask its name. Not undo the parent-death signal, nor let
// others trace it.
constexpr scmp_datum_t allowedPrctl[] = {PR_SET_NAME, PR_GET_NAME, PR_GET_DUMPABLE};

// What fcntl may do: duplicate, read and set a descriptor's flags, take a read lock. Not name a
// process to send signals to (F_SETOWN, F_SETSIG), nor lease or seal.
constexpr scmp_datum_t allowedFcntl[] = {F_DUPFD, F_DUPFD_CLOEXEC, F_GETFD,  F_SETFD,     F_GETFL,     F_SETFL,
                                         F_GETLK, F_SETLK,         F_SETLKW, F_OFD_GETLK, F_OFD_SETLK, F_OFD_SETLKW};

// What ioctl may ask: whether a descriptor is a terminal (libraries ask of standard error), how
// much is ready to read. Nothing that writes to a terminal or a device.
constexpr scmp_datum_t allowedIoctl[] = {TCGETS, FIONREAD};

// The mapping flags that make a mapping shared, validated or grown downwards.
constexpr scmp_datum_t mappingKind = 0x0f | MAP_GROWSDOWN;

bool loadFilter(const ChildConfinement::Allowances &allowances, bool mayExec)
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!filter)
        return false;
    bool ok = seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) == 0;
    // no_new_privs is set already (and a second filter may not ask for it: prctl is refused).
    ok = ok && seccomp_attr_set(filter, SCMP_FLTATR_CTL_NNP, 0) == 0;
    // A call this architecture lacks is skipped (libseccomp refuses to add it).
    for (const int call : allowances.calls)
        seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0);
    const uint32_t allow = SCMP_ACT_ALLOW;
    // Reading only.
    seccomp_rule_add(filter, allow, SCMP_SYS(open), 1, SCMP_A1(SCMP_CMP_MASKED_EQ, writingFlags, 0));
    ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(openat), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, writingFlags, 0)) == 0;
    // openat2 keeps its flags in a structure a filter cannot read: the C library then uses openat.
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0) == 0;
    // Private mappings; shared ones of a file only (the files are open for reading). Shared
    // anonymous memory and stacks that grow down escape the data limit.
    ok = ok
         && seccomp_rule_add(filter, allow, SCMP_SYS(mmap), 1, SCMP_A3(SCMP_CMP_MASKED_EQ, mappingKind, MAP_PRIVATE))
                == 0;
    ok = ok
         && seccomp_rule_add(filter, allow, SCMP_SYS(mmap), 2,
                             SCMP_A3(SCMP_CMP_MASKED_EQ, mappingKind | MAP_ANONYMOUS, MAP_SHARED),
                             SCMP_A4_32(SCMP_CMP_NE, 0xffffffffu))
                == 0;
    // Threads only: a clone that makes a thread shares the process; clone3 keeps its flags in a
    // structure, so it answers "no such call" and the C library falls back to clone.
    ok = ok
         && seccomp_rule_add(filter, allow, SCMP_SYS(clone), 1,
                             SCMP_A0(SCMP_CMP_MASKED_EQ, scmp_datum_t(CLONE_THREAD), scmp_datum_t(CLONE_THREAD)))
                == 0;
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
    // Signals to itself only (raise, abort, a thread of its own).
    const scmp_datum_t self = scmp_datum_t(::getpid());
    ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(kill), 1, SCMP_A0(SCMP_CMP_EQ, self)) == 0;
    ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(tgkill), 1, SCMP_A0(SCMP_CMP_EQ, self)) == 0;
    // Whether two of its own descriptors are one opening (see DecoderFiles.h).
    ok = ok
         && seccomp_rule_add(filter, allow, SCMP_SYS(kcmp), 3, SCMP_A0(SCMP_CMP_EQ, self), SCMP_A1(SCMP_CMP_EQ, self),
                             SCMP_A2(SCMP_CMP_EQ, KCMP_FILE))
                == 0;
    // Its own limits, read or lowered (a hard limit cannot be raised).
    ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(prlimit64), 1, SCMP_A0(SCMP_CMP_EQ, 0)) == 0;
    for (const scmp_datum_t option : allowedPrctl)
        ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, option)) == 0;
    for (const scmp_datum_t command : allowedFcntl)
        ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(fcntl), 1, SCMP_A1(SCMP_CMP_EQ, command)) == 0;
    for (const scmp_datum_t request : allowedIoctl)
        ok = ok
             && seccomp_rule_add(filter, allow, SCMP_SYS(ioctl), 1, SCMP_A1(SCMP_CMP_MASKED_EQ, 0xffffffffu, request))
                    == 0;
    // A template: a child per request (fork's flags), its end awaited (SIGCHLD read from a
    // descriptor), its socket handed to the program, its parent-death signal set and its own
    // filter added. The parent-death signal is SIGKILL or nothing: the template cannot undo its
    // own end with the program. It signals no process but itself: the program ends a child that
    // lingers after its answer (see MediaDecoder::endChild), and the template's end ends its
    // children. Its children, which hold this filter too and whose pids it cannot know now, signal
    // themselves (raise, abort) by tgkill, which names the process: never the program's (their
    // own filter then holds them to themselves). kill and pidfd_open are not among them: kill
    // reaches a process by the id of any of its threads, and a pidfd could be the program's.
    if (allowances.startsChildren) {
        constexpr scmp_datum_t forkFlags = CLONE_CHILD_SETTID | CLONE_CHILD_CLEARTID | SIGCHLD;
        ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_EQ, forkFlags)) == 0;
        ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(wait4), 0) == 0;
        ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(signalfd4), 0) == 0;
        ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(sendmsg), 0) == 0;
        ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(socketpair), 1, SCMP_A0(SCMP_CMP_EQ, AF_UNIX)) == 0;
        ok = ok
             && seccomp_rule_add(filter, allow, SCMP_SYS(prctl), 2, SCMP_A0(SCMP_CMP_EQ, PR_SET_PDEATHSIG),
                                 SCMP_A1(SCMP_CMP_EQ, SIGKILL))
                    == 0;
        ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(seccomp), 0) == 0;
        ok = ok
             && seccomp_rule_add(filter, allow, SCMP_SYS(tgkill), 1,
                                 SCMP_A0_32(SCMP_CMP_NE, uint32_t(allowances.parent > 0 ? allowances.parent : 1)))
                    == 0;
    }
    // The program it starts; the program then refuses every further start itself (see
    // DcrawConfine_preload.cpp).
    // and a filter of its own after, which can only narrow this one.
    if (mayExec) {
        ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(execve), 0) == 0;
        ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(seccomp), 0) == 0;
    }
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

} // namespace

std::vector<int> ChildConfinement::decodingCalls()
{
    return {
        // memory (mmap: see loadFilter)
        SCMP_SYS(brk),
        SCMP_SYS(munmap),
        SCMP_SYS(mremap),
        SCMP_SYS(mprotect),
        SCMP_SYS(madvise),
        SCMP_SYS(membarrier),
        SCMP_SYS(get_mempolicy),
        // reading files and descriptors held
        SCMP_SYS(read),
        SCMP_SYS(readv),
        SCMP_SYS(pread64),
        SCMP_SYS(preadv),
        SCMP_SYS(preadv2),
        SCMP_SYS(lseek),
        SCMP_SYS(close),
        SCMP_SYS(close_range),
        SCMP_SYS(fstat),
        SCMP_SYS(newfstatat),
        SCMP_SYS(stat),
        SCMP_SYS(lstat),
        SCMP_SYS(statx),
        SCMP_SYS(statfs),
        SCMP_SYS(fstatfs),
        SCMP_SYS(access),
        SCMP_SYS(faccessat),
        SCMP_SYS(faccessat2),
        SCMP_SYS(readlink),
        SCMP_SYS(readlinkat),
        SCMP_SYS(getdents64),
        SCMP_SYS(getcwd),
        SCMP_SYS(dup),
        SCMP_SYS(dup2),
        SCMP_SYS(dup3),
        SCMP_SYS(fadvise64),
        SCMP_SYS(flock),
        // the parent's socket or pipe and standard error
        SCMP_SYS(write),
        SCMP_SYS(writev),
        SCMP_SYS(sendto),
        SCMP_SYS(recvfrom),
        SCMP_SYS(recvmsg),
        // waiting
        SCMP_SYS(poll),
        SCMP_SYS(ppoll),
        SCMP_SYS(select),
        SCMP_SYS(pselect6),
        SCMP_SYS(epoll_create1),
        SCMP_SYS(epoll_ctl),
        SCMP_SYS(epoll_wait),
        SCMP_SYS(epoll_pwait),
        SCMP_SYS(eventfd2),
        SCMP_SYS(pipe2),
        SCMP_SYS(futex),
        SCMP_SYS(nanosleep),
        SCMP_SYS(clock_nanosleep),
        SCMP_SYS(sched_yield),
        SCMP_SYS(restart_syscall),
        // threads
        SCMP_SYS(set_robust_list),
        SCMP_SYS(rseq),
        SCMP_SYS(set_tid_address),
        SCMP_SYS(sched_getaffinity),
        SCMP_SYS(sched_getparam),
        SCMP_SYS(sched_getscheduler),
        SCMP_SYS(sched_get_priority_max),
        SCMP_SYS(sched_get_priority_min),
        SCMP_SYS(exit),
        SCMP_SYS(exit_group),
        // signals of its own
        SCMP_SYS(rt_sigaction),
        SCMP_SYS(rt_sigprocmask),
        SCMP_SYS(rt_sigreturn),
        SCMP_SYS(sigaltstack),
        SCMP_SYS(setitimer),
        SCMP_SYS(getitimer),
        // the process's own facts and the time
        SCMP_SYS(getpid),
        SCMP_SYS(gettid),
        SCMP_SYS(getppid),
        SCMP_SYS(getuid),
        SCMP_SYS(geteuid),
        SCMP_SYS(getgid),
        SCMP_SYS(getegid),
        SCMP_SYS(getresuid),
        SCMP_SYS(getresgid),
        SCMP_SYS(getgroups),
        SCMP_SYS(uname),
        SCMP_SYS(sysinfo),
        SCMP_SYS(getrusage),
        SCMP_SYS(times),
        SCMP_SYS(getrlimit),
        SCMP_SYS(getrandom),
        SCMP_SYS(clock_gettime),
        SCMP_SYS(clock_getres),
        SCMP_SYS(gettimeofday),
        SCMP_SYS(time),
    };
}

ChildConfinement::Confined ChildConfinement::confine(const Allowances &allowances)
{
    // Landlock and the thread cap hold only the calling thread and what it starts later.
    if (threadCount() != 1)
        return Confined::Failed;
    if (allowances.parent > 0 && !endWithParent(allowances.parent))
        return Confined::Failed;
    if (allowances.threads > 0 && !capTasks(allowances.threads))
        return Confined::Failed;
    if (allowances.data > 0)
        limit(RLIMIT_DATA, allowances.data);
    if (allowances.addressSpace > 0)
        limit(RLIMIT_AS, allowances.addressSpace);
    if (allowances.descriptors > 0 && !lowerLimit(RLIMIT_NOFILE, allowances.descriptors))
        return Confined::Failed;
    limit(RLIMIT_CORE, 0);
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return Confined::Failed;
    const int files = restrictFiles(allowances.files, !allowances.inLauncherDomain);
    if (files <= 0)
        sayMissing(allowances.name, files == 0 ? "the kernel offers no Landlock: its system-call filter alone bounds it"
                                               : "Landlock refused its rules: its system-call filter alone bounds it");
    if (!loadFilter(allowances, allowances.startsProgram))
        return Confined::Failed;
    return files > 0 ? Confined::Whole : Confined::WithoutFiles;
}

int ChildConfinement::enterLauncherDomain(const std::vector<Rule> &rules) { return restrictFiles(rules); }

bool ChildConfinement::restrictCalls(const Allowances &allowances)
{
    // no_new_privs came with the first filter, and stays across the exec.
    return loadFilter(allowances, false);
}

#if defined(__x86_64__) || defined(__aarch64__)
#define OVN_FORKED_CHILD_FILTER_WRITTEN_OUT 1
#endif

namespace {

#ifdef OVN_FORKED_CHILD_FILTER_WRITTEN_OUT
// The forked child's filter, written out here rather than compiled by libseccomp: it is set once
// for every file, and compiling it took longer than the rest of the child's start. Arguments are
// compared by their low 32 bits, which is all that prctl's option, kill's pid and clone's
// CLONE_THREAD are to the kernel. Every other call goes on to the template's filter.
class ForkedChildFilter
{
public:
    explicit ForkedChildFilter(pid_t self)
    {
        constexpr uint32_t argument0 = offsetof(seccomp_data, args)
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
                                       + 4
#endif
            ;
        add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
        jumpIfNot(BPF_JEQ, ownArchitecture, Kill);
        add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
#ifdef __x86_64__
        jumpIf(BPF_JGE, 0x40000000u, Deny); // the x32 calls
#endif
        // Threads only.
        jumpIf(BPF_JEQ, SYS_clone, CloneFlags);
        for (const long call : {SYS_wait4, SYS_signalfd4, SYS_sendmsg, SYS_socketpair, SYS_seccomp})
            jumpIf(BPF_JEQ, uint32_t(call), Deny);
        jumpIf(BPF_JEQ, SYS_prctl, PrctlOption);
        // Signals to itself only.
        jumpIf(BPF_JEQ, SYS_kill, OwnPid);
        jumpIf(BPF_JEQ, SYS_tgkill, OwnPid);
        add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        place(CloneFlags);
        add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument0));
        jumpIfNot(BPF_JSET, CLONE_THREAD, Deny);
        add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        place(PrctlOption);
        add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument0));
        jumpIf(BPF_JEQ, PR_SET_PDEATHSIG, Deny);
        add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        place(OwnPid);
        add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument0));
        jumpIfNot(BPF_JEQ, uint32_t(self), Deny);
        add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        place(Deny);
        add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)));
        place(Kill);
        add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
        for (int i = 0; i < m_jumps; ++i) {
            const Jump &jump = m_jump[i];
            const int offset = m_label[jump.label] - jump.at - 1;
            if (offset < 0 || offset > 255)
                m_broken = true;
            (jump.whenTrue ? m_code[jump.at].jt : m_code[jump.at].jf) = uint8_t(offset);
        }
    }

    // Stacks it on the filters the process has; no_new_privs came with the template's.
    bool load() const
    {
        if (m_broken)
            return false;
        const sock_fprog program{uint16_t(m_count), const_cast<sock_filter *>(m_code)};
        return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) == 0;
    }

private:
    enum Label { CloneFlags, PrctlOption, OwnPid, Deny, Kill, Labels };
    struct Jump {
        int at;
        Label label;
        bool whenTrue;
    };
#if defined(__x86_64__)
    static constexpr uint32_t ownArchitecture = AUDIT_ARCH_X86_64;
#else
    static constexpr uint32_t ownArchitecture = AUDIT_ARCH_AARCH64;
#endif

    void add(sock_filter instruction)
    {
        if (m_count == capacity) {
            m_broken = true;
            return;
        }
        m_code[m_count++] = instruction;
    }
    // A conditional jump to `label` when the comparison holds (jumpIf) or fails (jumpIfNot); on
    // to the next instruction otherwise.
    void jumpIf(uint16_t test, uint32_t value, Label label) { conditional(test, value, label, true); }
    void jumpIfNot(uint16_t test, uint32_t value, Label label) { conditional(test, value, label, false); }
    void conditional(uint16_t test, uint32_t value, Label label, bool whenTrue)
    {
        if (m_jumps < capacity)
            m_jump[m_jumps++] = Jump{m_count, label, whenTrue};
        add(BPF_JUMP(BPF_JMP | test | BPF_K, value, 0, 0));
    }
    void place(Label label) { m_label[label] = m_count; }

    static constexpr int capacity = 40;
    sock_filter m_code[capacity] = {};
    int m_count = 0;
    Jump m_jump[capacity] = {};
    int m_jumps = 0;
    int m_label[Labels] = {};
    bool m_broken = false;
};
#else
// Elsewhere libseccomp compiles the same rules.
bool loadForkedChildFilter(pid_t self)
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return false;
    const uint32_t deny = SCMP_ACT_ERRNO(EPERM);
    bool ok = seccomp_attr_set(filter, SCMP_FLTATR_CTL_NNP, 0) == 0;
    ok = ok
         && seccomp_rule_add(filter, deny, SCMP_SYS(clone), 1,
                             SCMP_A0(SCMP_CMP_MASKED_EQ, scmp_datum_t(CLONE_THREAD), scmp_datum_t(0)))
                == 0;
    for (const int call :
         {SCMP_SYS(wait4), SCMP_SYS(signalfd4), SCMP_SYS(sendmsg), SCMP_SYS(socketpair), SCMP_SYS(seccomp)})
        ok = ok && seccomp_rule_add(filter, deny, call, 0) == 0;
    ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(prctl), 1, SCMP_A0_32(SCMP_CMP_EQ, PR_SET_PDEATHSIG)) == 0;
    ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(kill), 1, SCMP_A0_32(SCMP_CMP_NE, uint32_t(self))) == 0;
    ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(tgkill), 1, SCMP_A0_32(SCMP_CMP_NE, uint32_t(self))) == 0;
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}
#endif

} // namespace

bool ChildConfinement::confineForkedChild(pid_t template_)
{
    // A forked child has one thread (the one that forked). Its /proc/self is not the template's,
    // which Landlock's rule names: it reads none of its process's files.
    if (!endWithParent(template_))
        return false;
#ifdef OVN_FORKED_CHILD_FILTER_WRITTEN_OUT
    return ForkedChildFilter(::getpid()).load();
#else
    return loadForkedChildFilter(::getpid());
#endif
}
