#include "platform/FileAccess.h"
#include "platform/FileAccess_p.h"

#include <QDir>
#include <QHash>

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

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

QString heldFileGone() { return QStringLiteral("the file was moved or replaced while it was read"); }

bool sameFile(const struct stat &one, const struct stat &other)
{
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Opens the last element of the walk of `path` with `flags`, never following a link there, and
// only when what is opened is what the walk judged: another file or a link put under its name
// since is walked again (and judged), a few times at most. Invalid with the reason in `why` when
// the walk refuses or the opening fails.
Walking::Descriptor openWalked(const QString &path, int flags, QString *why, Walking::Place *where = nullptr,
                               Walking::Refusal *refusal = nullptr)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::optional<Walking::Place> place = Walking::walk(path, false, why, refusal);
        if (!place)
            return {};
        Walking::Descriptor opened(
            ::openat(place->folder.get(), place->name.constData(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
        if (opened.valid()) {
            struct stat info {};
            if (place->element.valid() && ::fstat(opened.get(), &info) == 0 && sameFile(info, place->judged)) {
                if (where)
                    *where = std::move(*place);
                return opened;
            }
            continue;
        }
        if (errno != ELOOP && !(errno == ENOENT && place->element.valid())) {
            if (why)
                *why = errno == ENOENT ? refusalReason(kindOf(path)) : systemError(errno);
            if (refusal)
                *refusal = errno == ENOENT ? Walking::Refusal::Missing : Walking::Refusal::Other;
            return {};
        }
    }
    if (why)
        *why = QStringLiteral("\"%1\" keeps changing while it is opened").arg(path);
    if (refusal)
        *refusal = Walking::Refusal::Other;
    return {};
}

QString heldKey(const QString &path)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
}

} // namespace

// What a HeldFile holds: the folder it was found in, its name there, which file it is, and the
// opening made when it was found.
struct HeldFile::State {
    Walking::Descriptor folder;
    QByteArray name;
    Walking::Descriptor file;
    struct stat identity {};

    // A new opening of the same file, or -1.
    int openAgain() const
    {
        Walking::Descriptor again(
            ::openat(folder.get(), name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
        struct stat info {};
        if (!again.valid() || ::fstat(again.get(), &info) != 0 || !sameFile(info, identity))
            return -1;
        const int flags = ::fcntl(again.get(), F_GETFL);
        if (flags >= 0)
            ::fcntl(again.get(), F_SETFL, flags & ~O_NONBLOCK);
        return again.release();
    }
};

namespace {

// The files held now, by name; the newest holding of a name answers.
std::mutex heldMutex;
QHash<QString, QList<std::shared_ptr<HeldFile::State>>> &heldFiles()
{
    static QHash<QString, QList<std::shared_ptr<HeldFile::State>>> files;
    return files;
}

} // namespace

WalkedPath walkedPath(const QString &path)
{
    WalkedPath facts;
    Walking::Refusal refusal = Walking::Refusal::None;
    const std::optional<Walking::Place> place = Walking::walk(path, false, nullptr, &refusal);
    if (!place) {
        facts.mayBeRead = refusal != Walking::Refusal::ForeignLink;
        if (refusal == Walking::Refusal::Denied)
            facts.kind = Kind::NoAccess;
        else if (refusal != Walking::Refusal::ForeignLink) {
            // Only to tell what is missing (a link to nothing, a loop) in the words used for it.
            const Kind named = kindOf(path);
            facts.kind = named == Kind::Regular || named == Kind::Folder ? Kind::Other : named;
        }
        return facts;
    }
    if (!place->element.valid()) {
        const Kind named = kindOf(path);
        facts.kind = named == Kind::Regular || named == Kind::Folder ? Kind::Missing : named;
        return facts;
    }
    // The kind of what the walk held, not of what the name names by now.
    facts.kind = S_ISLNK(place->judged.st_mode) ? Kind::Missing : kindOfMode(place->judged.st_mode);
    facts.walked = place->name == "." ? place->folderPath : place->path();
    return facts;
}

HeldFile::HeldFile(const QString &path)
{
    auto state = std::make_shared<State>();
    Walking::Place place;
    Walking::Refusal refusal = Walking::Refusal::None;
    QString why;
    state->file = openWalked(path, O_RDONLY | O_NONBLOCK, &why, &place, &refusal);
    if (!state->file.valid()) {
        m_reason = refusal == Walking::Refusal::ForeignLink ? foreignLinkReason() : why;
        return;
    }
    const Kind kind = ::fstat(state->file.get(), &state->identity) == 0 ? kindOfMode(state->identity.st_mode)
                                                                        : Kind::Other;
    if (kind != Kind::Regular) {
        m_reason = kind == Kind::Folder ? QStringLiteral("a folder, not a file") : refusalReason(kind);
        return;
    }
    const int flags = ::fcntl(state->file.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(state->file.get(), F_SETFL, flags & ~O_NONBLOCK);
    m_foundAt = place.name == "." ? place.folderPath : place.path();
    state->folder = std::move(place.folder);
    state->name = place.name;
    m_state = std::move(state);
    alsoAnswersFor(path);
}

HeldFile::~HeldFile()
{
    if (!m_state)
        return;
    const std::lock_guard lock(heldMutex);
    for (const QString &name : std::as_const(m_names)) {
        const auto found = heldFiles().find(name);
        if (found == heldFiles().end())
            continue;
        found->removeOne(m_state);
        if (found->isEmpty())
            heldFiles().erase(found);
    }
}

bool HeldFile::isOpen() const { return m_state != nullptr; }

QString HeldFile::reason() const { return m_reason; }

QString HeldFile::foundAt() const { return m_foundAt; }

qint64 HeldFile::size() const { return m_state ? qint64(m_state->identity.st_size) : 0; }

void HeldFile::alsoAnswersFor(const QString &path)
{
    if (!m_state || path.isEmpty())
        return;
    const QString key = heldKey(path);
    if (m_names.contains(key))
        return;
    m_names.append(key);
    const std::lock_guard lock(heldMutex);
    heldFiles()[key].append(m_state);
}

bool HeldFile::isSameFileAs(const HeldFile &other) const
{
    return m_state && other.m_state && sameFile(m_state->identity, other.m_state->identity);
}

std::optional<int> openHeld(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    std::shared_ptr<HeldFile::State> state;
    {
        const std::lock_guard lock(heldMutex);
        if (heldFiles().isEmpty())
            return std::nullopt;
        const auto found = heldFiles().constFind(heldKey(path));
        if (found == heldFiles().cend() || found->isEmpty())
            return std::nullopt;
        state = found->last();
    }
    return state->openAgain();
}

bool heldOnLocalFileSystem(const QString &path)
{
    if (path.isEmpty())
        return false;
    dev_t device = 0;
    {
        const std::lock_guard lock(heldMutex);
        if (heldFiles().isEmpty())
            return false;
        const auto found = heldFiles().constFind(heldKey(path));
        if (found == heldFiles().cend() || found->isEmpty())
            return false;
        device = found->last()->identity.st_dev;
    }
    return isOnLocalFileSystem(device);
}

int openFound(const QString &path, QString *why)
{
    if (const std::optional<int> held = openHeld(path)) {
        if (*held < 0 && why)
            *why = heldFileGone();
        return *held;
    }
    Walking::Descriptor opened = openWalked(path, O_RDONLY | O_NONBLOCK, why);
    if (!opened.valid())
        return -1;
    struct stat info {};
    const Kind kind = ::fstat(opened.get(), &info) == 0 ? kindOfMode(info.st_mode) : Kind::Other;
    if (kind != Kind::Regular) {
        if (why)
            *why = kind == Kind::Folder ? QStringLiteral("a folder, not a file") : refusalReason(kind);
        return -1;
    }
    const int flags = ::fcntl(opened.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(opened.get(), F_SETFL, flags & ~O_NONBLOCK);
    return opened.release();
}

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
    // A file held for its import is opened again where it was found; no other file is read under
    // its name.
    const std::optional<int> held = openHeld(path);
    if (held && *held < 0) {
        if (why)
            *why = heldFileGone();
        return false;
    }
    // Non-blocking, so that opening a pipe without a writer returns at once; the kind is then
    // taken from the open descriptor itself, not from the name (which could change meanwhile).
    const int fd = held ? *held
                        : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
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
    Walking::Descriptor opened = openWalked(path, O_RDONLY | O_DIRECTORY, why);
    if (!opened.valid())
        return std::nullopt;
    const std::unique_ptr<DIR, CloseDir> dir(::fdopendir(opened.get()));
    if (!dir) {
        if (why)
            *why = systemError(errno);
        return std::nullopt;
    }
    opened.release(); // the listing closes it
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
            undecodable->append(textOfName(raw));
    }
    if (errno != 0) {
        if (why)
            *why = systemError(errno);
        return std::nullopt;
    }
    return names;
}

QString textOfName(const QByteArray &name)
{
    QString text;
    qsizetype at = 0;
    while (at < name.size()) {
        const int length = utf8SequenceLength(name, at);
        if (length == 0) {
            // Never below 0x80: an ASCII byte is UTF-8 on its own.
            const auto byte = static_cast<unsigned char>(name.at(at));
            text += QChar(char16_t(0xDC00 + byte));
            ++at;
        } else {
            text += QString::fromUtf8(name.constData() + at, length);
            at += length;
        }
    }
    return text;
}

int heldByte(QChar c)
{
    const char16_t u = c.unicode();
    return u >= 0xDC80 && u <= 0xDCFF ? int(u - 0xDC00) : -1;
}

QString shownName(const QString &name)
{
    QString shown;
    shown.reserve(name.size() + 8);
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        // The second half of a character beyond U+FFFF is no byte held.
        const bool paired = i > 0 && name.at(i - 1).isHighSurrogate();
        if (const int byte = heldByte(c); byte >= 0 && !paired)
            shown += QStringLiteral("\\x") + QString::number(byte, 16).toUpper(); // 80 to FF: two digits
        else if (c == QLatin1Char('\\'))
            shown += QStringLiteral("\\\\");
        else
            shown += c;
    }
    return shown;
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
