#include "decoding/ChildConfinement.h"

#include <seccomp.h>

#include <elf.h>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstring>

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

int ChildConfinement::restrictFiles(const std::vector<Rule> &rules)
{
    const long version =
        ::syscall(SYS_landlock_create_ruleset, nullptr, size_t(0), __u32(LANDLOCK_CREATE_RULESET_VERSION));
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
    if (version >= 6) {
        attributes.scoped = scopeAbstractUnixSocket | scopeSignal;
        size = sizeof attributes;
    }
    const int ruleset = int(::syscall(SYS_landlock_create_ruleset, &attributes, size, __u32(0)));
    if (ruleset < 0)
        return -1;
    bool ok = true;
    for (const Rule &rule : rules) {
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

bool ChildConfinement::filterCalls(bool localSockets, bool allowExec)
{
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return false;
    const uint32_t deny = SCMP_ACT_ERRNO(EPERM);
    static constexpr int refused[] = {
        SCMP_SYS(io_uring_setup),
        SCMP_SYS(io_uring_enter),
        SCMP_SYS(io_uring_register),
        SCMP_SYS(ptrace),
        SCMP_SYS(process_vm_readv),
        SCMP_SYS(process_vm_writev),
        SCMP_SYS(pidfd_getfd),
        SCMP_SYS(kcmp),
        SCMP_SYS(keyctl),
        SCMP_SYS(add_key),
        SCMP_SYS(request_key),
        SCMP_SYS(bpf),
        SCMP_SYS(perf_event_open),
        SCMP_SYS(userfaultfd),
        SCMP_SYS(mount),
        SCMP_SYS(umount2),
        SCMP_SYS(pivot_root),
        SCMP_SYS(unshare),
        SCMP_SYS(setns),
        SCMP_SYS(mknod),
        SCMP_SYS(mknodat),
        SCMP_SYS(fork),
        SCMP_SYS(vfork),
        SCMP_SYS(execveat),
        SCMP_SYS(personality),
        SCMP_SYS(name_to_handle_at),
        SCMP_SYS(open_by_handle_at),
        SCMP_SYS(fanotify_init),
        SCMP_SYS(kexec_load),
        SCMP_SYS(init_module),
        SCMP_SYS(finit_module),
    };
    bool ok = true;
    for (const int call : refused)
        ok = ok && seccomp_rule_add(filter, deny, call, 0) == 0;
    // Threads only: a clone without CLONE_THREAD is a new process. clone3 keeps its flags in a
    // structure a filter cannot read; without it the C library uses clone.
    ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)) == 0;
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
    if (!allowExec)
        ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(execve), 0) == 0;
    // Typing into a terminal.
    ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(ioctl), 1, SCMP_A1(SCMP_CMP_EQ, TIOCSTI)) == 0;
    ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(ioctl), 1, SCMP_A1(SCMP_CMP_EQ, TIOCLINUX)) == 0;
    if (localSockets) {
        ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(socket), 1, SCMP_A0(SCMP_CMP_NE, AF_UNIX)) == 0;
        ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(socketpair), 1, SCMP_A0(SCMP_CMP_NE, AF_UNIX)) == 0;
    } else {
        ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(socket), 0) == 0;
        ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(socketpair), 0) == 0;
        ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(connect), 0) == 0;
    }
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

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
