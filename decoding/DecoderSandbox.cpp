#include "decoding/DecoderSandbox.h"

#include <QFile>

#include <seccomp.h>

#include <fcntl.h>
#include <linux/kcmp.h>
#include <linux/landlock.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <syslog.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// ---- Landlock, through its system calls (the C library has no wrappers) ----

// The ruleset's attributes as the newest ABI knows them; older kernels take a prefix.
struct RulesetAttributes {
    quint64 handledAccessFs = 0;
    quint64 handledAccessNet = 0;
    quint64 scoped = 0;
};

constexpr quint64 fsExecute = 1ULL << 0;
constexpr quint64 fsReadFile = 1ULL << 2;
constexpr quint64 fsReadDir = 1ULL << 3;
constexpr quint64 fsRefer = 1ULL << 13;    // ABI 2
constexpr quint64 fsTruncate = 1ULL << 14; // ABI 3
constexpr quint64 fsIoctlDev = 1ULL << 15; // ABI 5
constexpr quint64 netBindTcp = 1ULL << 0;  // ABI 4
constexpr quint64 netConnectTcp = 1ULL << 1;
constexpr quint64 scopeAbstractUnixSocket = 1ULL << 0; // ABI 6
constexpr quint64 scopeSignal = 1ULL << 1;

int landlockCreateRuleset(const RulesetAttributes *attributes, size_t size, quint32 flags)
{
    return int(::syscall(SYS_landlock_create_ruleset, attributes, size, flags));
}

// Every file-system right the kernel's ABI knows, so that none is left unhandled (allowed).
quint64 fileSystemRights(int abi)
{
    quint64 rights = (1ULL << 13) - 1; // ABI 1: execute .. make_sym
    if (abi >= 2)
        rights |= fsRefer;
    if (abi >= 3)
        rights |= fsTruncate;
    if (abi >= 5)
        rights |= fsIoctlDev;
    return rights;
}

// What a decoder reads of the system: libraries and the loader's cache, Qt's plugins, fonts,
// locale, time-zone and colour data (all under /usr but for these), and its own process's files.
const char *const systemReadable[] = {
    "/usr",
    "/lib",
    "/lib64",
    "/lib32",
    "/libx32",
    "/etc/ld.so.cache",
    "/etc/fonts",
    "/etc/localtime",
    "/etc/locale.alias",
    "/var/cache/fontconfig",
    "/sys/devices/system/cpu",
    "/proc/self",
    "/dev/null",
    "/dev/urandom",
};

// Read-only access to `path` and, for a folder, everything beneath it; a path that does not
// exist is skipped.
bool allowReading(int ruleset, const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return true;
    struct stat info {};
    const bool folder = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
    landlock_path_beneath_attr rule{};
    rule.allowed_access = folder ? fsReadFile | fsReadDir : fsReadFile;
    rule.parent_fd = fd;
    const bool added = ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
    ::close(fd);
    return added;
}

// No writes anywhere, reading only `readable`, no TCP, no abstract sockets or signals out of the
// domain. False when the kernel has no Landlock or refused the ruleset.
bool restrictFileSystem(int abi, const QStringList &readable)
{
    if (abi < 1)
        return false;
    RulesetAttributes attributes;
    attributes.handledAccessFs = fileSystemRights(abi);
    size_t size = sizeof attributes.handledAccessFs;
    if (abi >= 4) {
        attributes.handledAccessNet = netBindTcp | netConnectTcp;
        size = offsetof(RulesetAttributes, scoped);
    }
    if (abi >= 6) {
        attributes.scoped = scopeAbstractUnixSocket | scopeSignal;
        size = sizeof attributes;
    }
    const int ruleset = landlockCreateRuleset(&attributes, size, 0);
    if (ruleset < 0)
        return false;
    bool ok = true;
    for (const char *path : systemReadable)
        ok = ok && allowReading(ruleset, QByteArray(path));
    for (const QString &path : readable)
        ok = ok && allowReading(ruleset, QFile::encodeName(path));
    ok = ok && ::syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    ::close(ruleset);
    return ok;
}

void sayMissing(const char *what)
{
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, what);
    openlog(program_invocation_short_name, LOG_PID, LOG_USER);
    syslog(LOG_WARNING, "%s", what);
    closelog();
}

// ---- the system-call filter ----

// Allowed whatever their arguments: they read, map, wait, name the process's own state, or act
// on descriptors the child already holds (which Landlock and the parent chose).
constexpr int allowed[] = {
    // memory
    SCMP_SYS(brk),
    SCMP_SYS(mmap),
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
    // the parent's socket and standard error
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

// Opening with any of these writes, creates or empties a file.
constexpr scmp_datum_t writingFlags = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | (O_TMPFILE & ~O_DIRECTORY);

// What prctl may do: name a thread, ask its name.
constexpr scmp_datum_t allowedPrctl[] = {PR_SET_NAME, PR_GET_NAME, PR_GET_DUMPABLE};

// What fcntl may do: duplicate, read and set a descriptor's flags, take a read lock. Not name a
// process to send signals to (F_SETOWN, F_SETSIG), nor lease or seal.
constexpr scmp_datum_t allowedFcntl[] = {F_DUPFD, F_DUPFD_CLOEXEC, F_GETFD,  F_SETFD,     F_GETFL,     F_SETFL,
                                         F_GETLK, F_SETLK,         F_SETLKW, F_OFD_GETLK, F_OFD_SETLK, F_OFD_SETLKW};

// What ioctl may ask: whether a descriptor is a terminal (libraries ask of standard error), how
// much is ready to read. Nothing that writes to a terminal or a device.
constexpr scmp_datum_t allowedIoctl[] = {TCGETS, FIONREAD};

bool setFilter()
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!filter)
        return false;
    bool ok = seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) == 0;
    // Every thread of the process, should a library have started one already.
    ok = ok && seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
    // A call this architecture lacks is skipped (libseccomp refuses to add it).
    for (const int call : allowed)
        seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0);
    const uint32_t allow = SCMP_ACT_ALLOW;
    // Reading only.
    seccomp_rule_add(filter, allow, SCMP_SYS(open), 1, SCMP_A1(SCMP_CMP_MASKED_EQ, writingFlags, 0));
    ok = ok && seccomp_rule_add(filter, allow, SCMP_SYS(openat), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, writingFlags, 0)) == 0;
    // openat2 keeps its flags in a structure a filter cannot read: the C library then uses openat.
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0) == 0;
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
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

} // namespace

int DecoderSandbox::landlockVersion()
{
    const int abi = landlockCreateRuleset(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? abi : 0;
}

bool DecoderSandbox::enter(const Options &options)
{
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    const int abi = landlockVersion();
    if (!restrictFileSystem(abi, options.readable))
        sayMissing(abi < 1
                       ? "the kernel offers no Landlock: decoding is bounded by its system-call filter alone"
                       : "Landlock refused the decoder's rules: decoding is bounded by its system-call filter alone");
    return setFilter();
}
