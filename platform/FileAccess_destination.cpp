// Writing into destination folders that other accounts may share: links followed by the kernel's
// rule for sticky folders, every file written beside its place and renamed into it.

#include "platform/FileAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace FileAccess {

namespace {

// Links followed one after another before the chain counts as a loop (the kernel's limit is 40;
// a destination has no business being longer than a few).
constexpr int linkLimit = 8;

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

// The process's umask, read without changing it: umask() would set it for every thread while it is
// read, and the outputs write from several threads.
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask & 0777);
            }
        }
    }
    return 022;
}

// The mode a file written at `path` gets: that of the regular file it replaces, else 0666 less the
// umask.
mode_t modeFor(const QByteArray &path)
{
    struct stat there {};
    if (::stat(path.constData(), &there) == 0 && S_ISREG(there.st_mode))
        return there.st_mode & 07777;
    return 0666 & ~currentUmask();
}

// Renames `from` onto `to`; with `replace` false only when nothing is at `to` (renameat2's
// RENAME_NOREPLACE, or a hard link where the file system lacks it), so that a file that appeared
// meanwhile is never replaced.
bool renameOnto(const QByteArray &from, const QByteArray &to, bool replace, int *error)
{
    if (replace) {
        if (::rename(from.constData(), to.constData()) == 0)
            return true;
        *error = errno;
        return false;
    }
#ifdef SYS_renameat2
    if (::syscall(SYS_renameat2, AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), 1 /* RENAME_NOREPLACE */) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *error = errno;
        return false;
    }
#endif
    if (::link(from.constData(), to.constData()) != 0) {
        *error = errno;
        return false;
    }
    ::unlink(from.constData());
    return true;
}

} // namespace

std::optional<QString> followableDestination(const QString &path, QString *why)
{
    QString current = path;
    for (int followed = 0; followed <= linkLimit; ++followed) {
        const QByteArray native = QFile::encodeName(current);
        struct stat link {};
        if (::lstat(native.constData(), &link) != 0 || !S_ISLNK(link.st_mode))
            return current; // nothing there, or no link: written where it is named
        if (followed == linkLimit)
            break;
        const QString folder = folderOf(current);
        struct stat holder {};
        if (::stat(QFile::encodeName(folder).constData(), &holder) != 0) {
            if (why)
                *why = systemReason(errno);
            return std::nullopt;
        }
        if (link.st_uid != ::geteuid() && link.st_uid != holder.st_uid) {
            if (why)
                *why = QStringLiteral("\"%1\" is a link that belongs to another user; it is not followed").arg(current);
            return std::nullopt;
        }
        const QString target = QFile::symLinkTarget(current);
        if (target.isEmpty()) {
            if (why)
                *why = QStringLiteral("the link \"%1\" cannot be read").arg(current);
            return std::nullopt;
        }
        current = target;
    }
    if (why)
        *why = QStringLiteral("\"%1\" leads through too many links").arg(path);
    return std::nullopt;
}

QString temporaryFileBeside(const QString &path, QString *why)
{
    const std::optional<QString> destination = followableDestination(path, why);
    if (!destination)
        return {};
    const QFileInfo info(*destination);
    // Hidden and with the final name in it, so that a listing of the folder shows what it is.
    QByteArray pattern = QFile::encodeName(QDir(info.path()).filePath(QLatin1Char('.') + info.fileName()));
    pattern += ".XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        if (why)
            *why = systemReason(errno);
        return {};
    }
    ::close(fd);
    return QFile::decodeName(pattern);
}

bool moveIntoPlace(const QString &temporary, const QString &path, Existing existing, QString *why)
{
    const QByteArray from = QFile::encodeName(temporary);
    const std::optional<QString> destination = followableDestination(path, why);
    if (!destination) {
        ::unlink(from.constData());
        return false;
    }
    const QByteArray to = QFile::encodeName(*destination);
    int error = 0;
    if (::chmod(from.constData(), modeFor(to)) != 0 || !renameOnto(from, to, existing == Existing::Replace, &error)) {
        if (error == 0)
            error = errno;
        ::unlink(from.constData());
        if (why)
            *why = error == EEXIST ? QStringLiteral("a file of that name is there") : systemReason(error);
        return false;
    }
    return true;
}

bool writeThroughTemporary(const QString &path, const std::function<bool(QIODevice &)> &write, Existing existing,
                           QString *why)
{
    const std::optional<QString> destination = followableDestination(path, why);
    if (!destination)
        return false;
    struct stat there {};
    if (existing == Existing::Keep && ::lstat(QFile::encodeName(*destination).constData(), &there) == 0) {
        if (why)
            *why = QStringLiteral("a file of that name is there");
        return false;
    }
    const QString temporary = temporaryFileBeside(*destination, why);
    if (temporary.isEmpty())
        return false;
    bool written = false;
    {
        QFile file(temporary);
        written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && write(file) && file.flush()
                  && file.error() == QFileDevice::NoError;
        if (!written && why && why->isEmpty())
            *why = file.error() != QFileDevice::NoError ? file.errorString()
                                                        : QStringLiteral("the file was not written");
        file.close();
    }
    if (!written) {
        QFile::remove(temporary);
        return false;
    }
    return moveIntoPlace(temporary, *destination, existing, why);
}

bool copyThroughTemporary(const QString &source, const QString &destination, Existing existing, QString *why)
{
    QFile from;
    if (!openRegularFile(from, source, why))
        return false;
    return writeThroughTemporary(
        destination,
        [&from](QIODevice &to) {
            char buffer[1 << 16];
            for (;;) {
                const qint64 got = from.read(buffer, sizeof buffer);
                if (got < 0)
                    return false;
                if (got == 0)
                    return true;
                if (to.write(buffer, got) != got)
                    return false;
            }
        },
        existing, why);
}

std::optional<QString> folderToWriteInto(const QString &path, QString *why)
{
    const std::optional<QString> destination = followableDestination(path, why);
    if (!destination)
        return std::nullopt;
    const QFileInfo info(*destination);
    if (info.isDir())
        return *destination;
    if (info.exists() || info.isSymLink()) {
        if (why)
            *why = QStringLiteral("\"%1\" is not a folder").arg(path);
        return std::nullopt;
    }
    if (!QDir().mkpath(*destination)) {
        if (why)
            *why = QStringLiteral("the folder \"%1\" cannot be made").arg(*destination);
        return std::nullopt;
    }
    return *destination;
}

} // namespace FileAccess
