// Writing into destination folders that other accounts may share: the path walked element by
// element, each held by a descriptor while it is judged, a link followed only by the one rule, every
// file written beside its place and renamed into it.

#include "platform/FileAccess.h"
#include "platform/FileAccess_p.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace FileAccess {

using Walking::Descriptor;
using Walking::Place;
using Walking::Refusal;

namespace {

// Links followed one after another before the chain counts as a loop (the kernel's limit is 40;
// a destination has no business being longer than a few).
constexpr int linkLimit = 8;

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

Descriptor openRoot() { return Descriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)); }

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

} // namespace

namespace Walking {

bool othersMayRenameIn(const struct stat &holder)
{
    if (holder.st_uid != ::geteuid() && holder.st_uid != 0)
        return true;
    return (holder.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (holder.st_mode & S_ISVTX) == 0;
}

bool linkMayBeFollowed(const struct stat &link, const struct stat &holder)
{
    if (link.st_uid == 0)
        return true;
    return link.st_uid == ::geteuid() && !othersMayRenameIn(holder);
}

namespace {

std::mutex judgedHookMutex;
std::atomic_bool judgedHookSet{false};
std::function<void(const QString &)> &judgedHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

void judged(const QString &element)
{
    if (!judgedHookSet.load(std::memory_order_relaxed))
        return;
    std::function<void(const QString &)> hook;
    {
        const std::lock_guard lock(judgedHookMutex);
        hook = judgedHook();
    }
    if (hook)
        hook(element);
}

} // namespace

void setJudgedHook(std::function<void(const QString &element)> hook)
{
    const std::lock_guard lock(judgedHookMutex);
    judgedHookSet = static_cast<bool>(hook);
    judgedHook() = std::move(hook);
}

QString Place::path() const
{
    const QString entry = QFile::decodeName(name);
    return folderPath == QLatin1String("/") ? folderPath + entry : folderPath + QLatin1Char('/') + entry;
}

namespace {

QString joined(const QList<QByteArray> &elements)
{
    QString path;
    for (const QByteArray &element : elements)
        path += QLatin1Char('/') + QFile::decodeName(element);
    return path.isEmpty() ? QStringLiteral("/") : path;
}

void push(std::deque<QByteArray> &pending, const QByteArray &path)
{
    const QList<QByteArray> elements = path.split('/');
    for (auto it = elements.crbegin(); it != elements.crend(); ++it) {
        if (!it->isEmpty() && *it != ".")
            pending.push_front(*it);
    }
}

Refusal refusalOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return Refusal::Missing;
    case EACCES:
    case EPERM:
        return Refusal::Denied;
    default:
        return Refusal::Other;
    }
}

} // namespace

std::optional<Place> walk(const QString &path, bool makeFolders, QString *why, Refusal *refusal)
{
    const auto refused = [why, refusal](Refusal kind, const QString &reason) -> std::optional<Place> {
        if (why)
            *why = reason;
        if (refusal)
            *refusal = kind;
        return std::nullopt;
    };
    const auto failed = [&refused](const QString &reason) { return refused(Refusal::Other, reason); };
    const auto failedWith = [&refused](int error) { return refused(refusalOf(error), systemReason(error)); };
    if (refusal)
        *refusal = Refusal::None;
    if (path.isEmpty())
        return failed(QStringLiteral("no destination was given"));
    const QString absolute = QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path);
    std::deque<QByteArray> pending;
    push(pending, QFile::encodeName(absolute));
    Descriptor folder = openRoot();
    QList<QByteArray> walked;
    int followed = 0;
    if (!folder.valid())
        return failedWith(errno);
    if (pending.empty() && !makeFolders)
        return failed(QStringLiteral("\"/\" is no file"));
    while (!pending.empty()) {
        const QByteArray name = pending.front();
        pending.pop_front();
        const bool last = pending.empty();
        if (name == "..") {
            Descriptor up(::openat(folder.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!up.valid())
                return failedWith(errno);
            folder = std::move(up);
            if (!walked.isEmpty())
                walked.removeLast();
            if (last && !makeFolders)
                return failed(QStringLiteral("\"%1\" is no file").arg(path));
            continue;
        }
        // The element is held before it is judged: a link is read, and a folder walked on,
        // through this descriptor, never through its name again.
        Descriptor element(::openat(folder.get(), name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!element.valid()) {
            if (errno != ENOENT)
                return failedWith(errno);
            if (last && !makeFolders)
                return Place{std::move(folder), name, joined(walked), Descriptor(), {}};
            if (!makeFolders)
                return refused(
                    Refusal::Missing,
                    QStringLiteral("the folder \"%1\" is not there").arg(joined(walked + QList<QByteArray>{name})));
            if (::mkdirat(folder.get(), name.constData(), 0777) != 0 && errno != EEXIST)
                return failed(QStringLiteral("the folder \"%1\" cannot be made: %2")
                                  .arg(joined(walked + QList<QByteArray>{name}), systemReason(errno)));
            element = Descriptor(::openat(folder.get(), name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            if (!element.valid())
                return failedWith(errno);
        }
        struct stat entry {};
        if (::fstat(element.get(), &entry) != 0)
            return failedWith(errno);
        const QString shown = joined(walked + QList<QByteArray>{name});
        judged(shown);
        if (S_ISLNK(entry.st_mode)) {
            struct stat holder {};
            if (::fstat(folder.get(), &holder) != 0)
                return failedWith(errno);
            if (!linkMayBeFollowed(entry, holder))
                return refused(
                    Refusal::ForeignLink,
                    QStringLiteral("\"%1\" is a link that belongs to another user; it is not followed").arg(shown));
            if (++followed > linkLimit)
                return failed(QStringLiteral("\"%1\" leads through too many links").arg(path));
            QByteArray target(4096, '\0');
            const ssize_t length = ::readlinkat(element.get(), "", target.data(), size_t(target.size()));
            if (length <= 0 || length >= target.size())
                return failed(QStringLiteral("the link \"%1\" cannot be read").arg(shown));
            target.truncate(length);
            if (target.startsWith('/')) {
                folder = openRoot();
                walked.clear();
                if (!folder.valid())
                    return failedWith(errno);
            }
            push(pending, target);
            if (pending.empty())
                return failed(QStringLiteral("the link \"%1\" leads nowhere").arg(shown));
            continue;
        }
        if (!last && !S_ISDIR(entry.st_mode))
            return refused(Refusal::Missing, QStringLiteral("\"%1\" is not a folder").arg(shown));
        if (last) {
            if (makeFolders && !S_ISDIR(entry.st_mode))
                return refused(Refusal::Missing, QStringLiteral("\"%1\" is not a folder").arg(shown));
            return Place{std::move(folder), name, joined(walked), std::move(element), entry};
        }
        folder = std::move(element);
        walked.append(name);
    }
    // The root itself, as a folder to write into.
    struct stat root {};
    if (::fstat(folder.get(), &root) != 0)
        return failedWith(errno);
    return Place{Descriptor(::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0)), QByteArray("."), QStringLiteral("/"),
                 std::move(folder), root};
}

} // namespace Walking

namespace {

using Walking::walk;

// The mode a file written in place of `name` gets: that of a regular file of this account's it
// replaces (its permission bits only: never set-user or set-group id), else 0666 less the umask. A
// file of another account's passes nothing on.
mode_t modeFor(const Place &place)
{
    struct stat there {};
    if (::fstatat(place.folder.get(), place.name.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(there.st_mode) && there.st_uid == ::geteuid())
        return there.st_mode & 0777;
    return 0666 & ~currentUmask();
}

// A new empty file beside the place, hidden and with the final name in it, so that a listing of the
// folder shows what it is; only this account may read it until it is moved into place.
Descriptor temporaryIn(const Place &place, QByteArray *name, QString *why)
{
    static thread_local std::mt19937 generator{std::random_device{}()};
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray candidate = '.' + place.name + '.';
        for (int i = 0; i < 6; ++i)
            candidate += letters[generator() % (sizeof letters - 1)];
        Descriptor file(::openat(place.folder.get(), candidate.constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.valid()) {
            *name = candidate;
            return file;
        }
        if (errno != EEXIST) {
            if (why)
                *why = systemReason(errno);
            return {};
        }
    }
    if (why)
        *why = systemReason(EEXIST);
    return {};
}

// Renames `from` onto the place's name in the same folder; with `replace` false only when nothing
// is there (renameat2's RENAME_NOREPLACE, or a hard link where the file system lacks it), so that a
// file that appeared meanwhile is never replaced.
bool renameOnto(int fromFolder, const QByteArray &from, const Place &to, bool replace, int *error)
{
    if (replace) {
        if (::renameat(fromFolder, from.constData(), to.folder.get(), to.name.constData()) == 0)
            return true;
        *error = errno;
        return false;
    }
#ifdef SYS_renameat2
    if (::syscall(SYS_renameat2, fromFolder, from.constData(), to.folder.get(), to.name.constData(),
                  1 /* RENAME_NOREPLACE */)
        == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *error = errno;
        return false;
    }
#endif
    if (::linkat(fromFolder, from.constData(), to.folder.get(), to.name.constData(), 0) != 0) {
        *error = errno;
        return false;
    }
    ::unlinkat(fromFolder, from.constData(), 0);
    return true;
}

QString refusedMove(int error)
{
    return error == EEXIST ? QStringLiteral("a file of that name is there") : systemReason(error);
}

} // namespace

std::optional<QString> followableDestination(const QString &path, QString *why)
{
    const std::optional<Place> place = walk(path, false, why);
    if (!place)
        return std::nullopt;
    return place->path();
}

QString temporaryFileBeside(const QString &path, QString *why)
{
    const std::optional<Place> place = walk(path, false, why);
    if (!place)
        return {};
    QByteArray name;
    if (!temporaryIn(*place, &name, why).valid())
        return {};
    Place temporary{Descriptor(), name, place->folderPath};
    return temporary.path();
}

bool moveIntoPlace(const QString &temporary, const QString &path, Existing existing, QString *why)
{
    const QByteArray from = QFile::encodeName(temporary);
    const std::optional<Place> place = walk(path, false, why);
    if (!place) {
        ::unlink(from.constData());
        return false;
    }
    int error = 0;
    const Descriptor file(::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.valid() || ::fchmod(file.get(), modeFor(*place)) != 0
        || !renameOnto(AT_FDCWD, from, *place, existing == Existing::Replace, &error)) {
        if (error == 0)
            error = errno;
        ::unlink(from.constData());
        if (why)
            *why = refusedMove(error);
        return false;
    }
    return true;
}

bool writeThroughTemporary(const QString &path, const std::function<bool(QIODevice &)> &write, Existing existing,
                           QString *why)
{
    const std::optional<Place> place = walk(path, false, why);
    if (!place)
        return false;
    struct stat there {};
    if (existing == Existing::Keep
        && ::fstatat(place->folder.get(), place->name.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
        if (why)
            *why = QStringLiteral("a file of that name is there");
        return false;
    }
    QByteArray temporary;
    Descriptor descriptor = temporaryIn(*place, &temporary, why);
    if (!descriptor.valid())
        return false;
    bool written = false;
    {
        QFile file;
        written = file.open(descriptor.get(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle) && write(file)
                  && file.flush() && file.error() == QFileDevice::NoError;
        if (!written && why && why->isEmpty())
            *why = file.error() != QFileDevice::NoError ? file.errorString()
                                                        : QStringLiteral("the file was not written");
        file.close();
    }
    int error = 0;
    if (written && ::fchmod(descriptor.get(), modeFor(*place)) != 0)
        error = errno;
    descriptor.reset();
    if (!written || error != 0
        || !renameOnto(place->folder.get(), temporary, *place, existing == Existing::Replace, &error)) {
        ::unlinkat(place->folder.get(), temporary.constData(), 0);
        if (why && (written || why->isEmpty()))
            *why = refusedMove(error);
        return false;
    }
    return true;
}

bool copyThroughTemporary(const QString &source, const QString &destination, Existing existing, QString *why)
{
    // The source is what the walk reaches, as a file read for an import is: another account's link
    // on the way to it is not followed.
    const int fd = openFound(source, why);
    QFile from;
    if (fd < 0)
        return false;
    if (!from.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (why)
            *why = from.errorString();
        return false;
    }
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
    const std::optional<Place> place = walk(path, true, why);
    if (!place)
        return std::nullopt;
    const QString folder = place->name == "." ? place->folderPath : place->path();
    // Only a folder this account may write in, as an export's: what is made in another account's
    // own folder is his to replace.
    if (::faccessat(place->folder.get(), place->name.constData(), W_OK | X_OK, AT_EACCESS) != 0) {
        if (why)
            *why = QStringLiteral("the folder \"%1\" cannot be written to").arg(folder);
        return std::nullopt;
    }
    return folder;
}

} // namespace FileAccess
