#include "platform/FileAccess.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileAccess {

namespace {

Kind kindOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return Kind::Regular;
    if (S_ISDIR(mode))
        return Kind::Folder;
    if (S_ISFIFO(mode))
        return Kind::Pipe;
    if (S_ISSOCK(mode))
        return Kind::Socket;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return Kind::Device;
    return Kind::Other;
}

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

struct CloseDir {
    void operator()(DIR *dir) const { closedir(dir); }
};

// The length of the valid UTF-8 sequence at `at`, or 0 when the bytes there are none.
int utf8SequenceLength(const QByteArray &bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes.at(i)); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    int length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length == 0 || at + length > bytes.size())
        return 0;
    for (int i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and code points above U+10FFFF.
    const unsigned char second = byte(at + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90)
        || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

} // namespace

Kind kindOf(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) == 0)
        return kindOfMode(info.st_mode);
    const int error = errno;
    if (::lstat(name.constData(), &info) == 0 && S_ISLNK(info.st_mode))
        return Kind::DanglingLink;
    return error == EACCES ? Kind::NoAccess : Kind::Missing;
}

bool linkMayBeRead(const QString &path)
{
    QByteArray current = QFile::encodeName(path);
    // The kernel's own limit on link chains; a longer chain ends in a loop, read by nobody.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat link {};
        if (::lstat(current.constData(), &link) != 0 || !S_ISLNK(link.st_mode))
            return true;
        if (link.st_uid != ::geteuid()) {
            struct stat target {};
            if (::stat(current.constData(), &target) != 0)
                return true; // leads nowhere: told as a link to nothing
            if (target.st_uid != link.st_uid)
                return false;
        }
        QByteArray next(4096, '\0');
        const ssize_t length = ::readlink(current.constData(), next.data(), size_t(next.size()));
        if (length <= 0 || length >= next.size())
            return false;
        next.truncate(length);
        if (!next.startsWith('/')) {
            const qsizetype slash = current.lastIndexOf('/');
            next.prepend(slash < 0 ? QByteArray() : current.left(slash + 1));
        }
        current = next;
    }
    return false;
}

QString foreignLinkReason() { return QStringLiteral("a link that belongs to another user; it is not followed"); }

QString refusalReason(Kind kind)
{
    switch (kind) {
    case Kind::Missing:
        return QStringLiteral("does not exist");
    case Kind::DanglingLink:
        return QStringLiteral("a link to something that does not exist");
    case Kind::NoAccess:
        return QStringLiteral("cannot be reached: permission denied");
    case Kind::Pipe:
        return QStringLiteral("a named pipe, not a file");
    case Kind::Socket:
        return QStringLiteral("a socket, not a file");
    case Kind::Device:
        return QStringLiteral("a device, not a file");
    case Kind::Other:
        return QStringLiteral("not a regular file");
    case Kind::Regular:
    case Kind::Folder:
        break;
    }
    return {};
}

bool openRegularFile(QFile &file, const QString &path, QString *why, QIODevice::OpenMode mode)
{
    file.close();
    file.setFileName(path);
    // Non-blocking, so that opening a pipe without a writer returns at once; the kind is then
    // taken from the open descriptor itself, not from the name (which could change meanwhile).
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (why)
            *why = errno == ENOENT ? refusalReason(kindOf(path)) : systemError(errno);
        return false;
    }
    struct stat info {};
    const Kind kind = ::fstat(fd, &info) == 0 ? kindOfMode(info.st_mode) : Kind::Other;
    if (kind != Kind::Regular) {
        ::close(fd);
        if (why)
            *why = kind == Kind::Folder ? QStringLiteral("a folder, not a file") : refusalReason(kind);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (why)
            *why = file.errorString();
        return false;
    }
    return true;
}

std::optional<QStringList> folderEntries(const QString &path, QStringList *undecodable, QString *why)
{
    const std::unique_ptr<DIR, CloseDir> dir(::opendir(QFile::encodeName(path).constData()));
    if (!dir) {
        if (why)
            *why = systemError(errno);
        return std::nullopt;
    }
    QStringList names;
    for (;;) {
        // readdir() tells the end from a failure only by errno.
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry)
            break;
        const QByteArray raw(entry->d_name);
        if (raw == "." || raw == "..")
            continue;
        const QString name = QFile::decodeName(raw);
        if (QFile::encodeName(name) == raw)
            names.append(name);
        else if (undecodable)
            undecodable->append(displayNameOf(raw));
    }
    if (errno != 0) {
        if (why)
            *why = systemError(errno);
        return std::nullopt;
    }
    return names;
}

QString displayNameOf(const QByteArray &name)
{
    QString text;
    qsizetype at = 0;
    while (at < name.size()) {
        const int length = utf8SequenceLength(name, at);
        if (length == 0) {
            const auto byte = static_cast<unsigned char>(name.at(at));
            text += QStringLiteral("\\x") + QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0'));
            ++at;
        } else {
            text += QString::fromUtf8(name.constData() + at, length);
            at += length;
        }
    }
    return text;
}

QByteArray readAtMost(QFile &file, qint64 cap)
{
    QByteArray data;
    qint64 room = std::clamp(file.size() - file.pos(), qint64(0), cap);
    while (room > 0) {
        const qint64 start = data.size();
        data.resize(start + room);
        const qint64 got = file.read(data.data() + start, room);
        data.resize(start + std::max(got, qint64(0)));
        if (got <= 0 || file.atEnd())
            break;
        // The file grew while it was read: on in steps, up to the cap.
        room = std::min(cap - data.size(), qint64(1) << 20);
    }
    return data;
}

} // namespace FileAccess
