#include "decoding/DecoderSandbox.h"

#include <QFile>
#include <QStringList>

#include <seccomp.h>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Calls refused outright.
constexpr int refused[] = {
    SCMP_SYS(socket),
    SCMP_SYS(socketpair),
    SCMP_SYS(connect),
    SCMP_SYS(bind),
    SCMP_SYS(listen),
    SCMP_SYS(accept),
    SCMP_SYS(accept4),
    SCMP_SYS(execve),
    SCMP_SYS(execveat),
    SCMP_SYS(fork),
    SCMP_SYS(vfork),
    SCMP_SYS(unlink),
    SCMP_SYS(unlinkat),
    SCMP_SYS(rename),
    SCMP_SYS(renameat),
    SCMP_SYS(renameat2),
    SCMP_SYS(link),
    SCMP_SYS(linkat),
    SCMP_SYS(symlink),
    SCMP_SYS(symlinkat),
    SCMP_SYS(mkdir),
    SCMP_SYS(mkdirat),
    SCMP_SYS(rmdir),
    SCMP_SYS(mknod),
    SCMP_SYS(mknodat),
    SCMP_SYS(chmod),
    SCMP_SYS(fchmod),
    SCMP_SYS(fchmodat),
    SCMP_SYS(chown),
    SCMP_SYS(fchown),
    SCMP_SYS(lchown),
    SCMP_SYS(fchownat),
    SCMP_SYS(truncate),
    SCMP_SYS(creat),
    SCMP_SYS(ptrace),
    SCMP_SYS(process_vm_writev),
    SCMP_SYS(setxattr),
    SCMP_SYS(lsetxattr),
    SCMP_SYS(fsetxattr),
    SCMP_SYS(removexattr),
    SCMP_SYS(lremovexattr),
    SCMP_SYS(fremovexattr),
    SCMP_SYS(utimensat),
    SCMP_SYS(utimes),
    SCMP_SYS(mount),
    SCMP_SYS(umount2),
    SCMP_SYS(name_to_handle_at),
    SCMP_SYS(open_by_handle_at),
};

// Opening with any of these flags writes, creates or empties a file.
constexpr scmp_datum_t writingFlags[] = {O_WRONLY, O_RDWR, O_CREAT, O_TRUNC, O_APPEND, O_TMPFILE & ~O_DIRECTORY};

} // namespace

bool DecoderSandbox::enter()
{
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return false;
    bool ok = true;
    const uint32_t deny = SCMP_ACT_ERRNO(EPERM);
    for (const int call : refused)
        ok = ok && seccomp_rule_add(filter, deny, call, 0) == 0;
    for (const scmp_datum_t flag : writingFlags) {
        ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(open), 1, SCMP_A1(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
        ok = ok && seccomp_rule_add(filter, deny, SCMP_SYS(openat), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
    }
    // openat2 keeps its flags in a structure a filter cannot read: the C library then uses openat.
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0) == 0;
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

QVariantMap DecoderSandbox::probe(const QString &path)
{
    QStringList allowed;
    const QByteArray name = QFile::encodeName(path);
    const int written = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (written >= 0) {
        allowed << QStringLiteral("create");
        ::close(written);
    }
    const int appended = ::open(name.constData(), O_RDWR);
    if (appended >= 0) {
        allowed << QStringLiteral("open for writing");
        ::close(appended);
    }
    const int network = ::socket(AF_INET, SOCK_STREAM, 0);
    if (network >= 0) {
        allowed << QStringLiteral("socket");
        ::close(network);
    }
    const int local = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (local >= 0) {
        allowed << QStringLiteral("local socket");
        ::close(local);
    }
    if (::unlink(name.constData()) == 0)
        allowed << QStringLiteral("unlink");
    char *const argv[] = {const_cast<char *>("/bin/true"), nullptr};
    if (::execv("/bin/true", argv) == 0)
        allowed << QStringLiteral("execute");
    // A file the decoder may read is read.
    const int reading = ::open("/proc/self/status", O_RDONLY);
    if (reading < 0)
        allowed << QStringLiteral("no reading");
    else
        ::close(reading);
    return {
        {QStringLiteral("damage"), allowed.isEmpty() ? QStringLiteral("sandboxed") : allowed.join(QLatin1Char(','))}};
}
