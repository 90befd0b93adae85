#include "decoding/MediaDecoder.h"

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/MediaDecoder_p.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

extern char **environ;

using Refusal = ImageFileReader::Facts::Refusal;
using Clock = std::chrono::steady_clock;

struct MediaDecoder::Process {
    pid_t pid = -1;
    int socket = -1;
    Use use = Use::Thumbnail;

    ~Process()
    {
        // Closing the socket ends an idle decoder; a busy one is ended first.
        if (socket >= 0)
            ::close(socket);
        if (pid > 0) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
            }
        }
    }
};

namespace {

constexpr qint64 mib = qint64(1) << 20;

// In sanitizer builds a data limit cannot be set (the sanitizers reserve terabytes); the caller
// then watches the decoder's resident memory instead.
#ifdef OVN_DECODER_WATCHED
constexpr bool watchResidentMemory = true;
#else
constexpr bool watchResidentMemory = false;
#endif

QString programPath()
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString folder = QCoreApplication::applicationDirPath();
        candidates << folder + QLatin1Char('/') + QLatin1String(DecoderProtocol::programName)
                   << folder + QStringLiteral("/../lib/ostrevan/") + QLatin1String(DecoderProtocol::programName);
    }
#ifdef OVN_DECODER_BUILD_PATH
    candidates << QStringLiteral(OVN_DECODER_BUILD_PATH);
#endif
    for (const QString &candidate : std::as_const(candidates))
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    return {};
}

// Idle decoders, by use. A caller takes one or starts one: nobody waits for another's.
class Pool
{
public:
    std::unique_ptr<MediaDecoder::Process> take(MediaDecoder::Use use)
    {
        const std::lock_guard lock(m_mutex);
        for (auto it = m_idle.begin(); it != m_idle.end();) {
            int status = 0;
            if ((*it)->use != use) {
                ++it;
            } else if (::waitpid((*it)->pid, &status, WNOHANG) != 0) {
                // Ended while idle (by someone else): not to be blamed on the next file.
                (*it)->pid = -1;
                it = m_idle.erase(it);
            } else {
                std::unique_ptr<MediaDecoder::Process> process = std::move(*it);
                m_idle.erase(it);
                return process;
            }
        }
        return nullptr;
    }

    void give(std::unique_ptr<MediaDecoder::Process> process)
    {
        std::unique_ptr<MediaDecoder::Process> surplus;
        const std::lock_guard lock(m_mutex);
        // As many as the busiest import keeps busy; more would hold memory for nothing.
        if (m_idle.size() >= 16)
            surplus = std::move(process);
        else
            m_idle.push_back(std::move(process));
    }

    void clear()
    {
        std::vector<std::unique_ptr<MediaDecoder::Process>> ended;
        const std::lock_guard lock(m_mutex);
        ended.swap(m_idle);
    }

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<MediaDecoder::Process>> m_idle;
};

Pool &pool()
{
    // Never destroyed: at the program's end the decoders see their sockets close and end.
    static Pool *shared = new Pool;
    return *shared;
}

std::unique_ptr<MediaDecoder::Process> start(MediaDecoder::Use use)
{
    static const QString program = programPath();
    if (program.isEmpty())
        return nullptr;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return nullptr;
    // The decoder's end above the standard descriptors, so that dup2 onto 3 always clears its
    // close-on-exec flag.
    const int childEnd = ::fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
    ::close(ends[1]);
    if (childEnd < 0) {
        ::close(ends[0]);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // Whatever the libraries print stays off the terminal.
    if (qEnvironmentVariableIsEmpty("OVN_DECODER_STDERR"))
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, childEnd, DecoderProtocol::socketDescriptor);
    const QByteArray programBytes = QFile::encodeName(program);
    const QByteArray memory = QByteArray::number(watchResidentMemory ? 0 : MediaDecoder::memoryLimit(use));
    // A thumbnail decoder reads one file among many at once: one thread of its own is enough.
    const QByteArray threads = QByteArray::number(use == MediaDecoder::Use::Thumbnail ? 1 : 0);
    char *argv[] = {const_cast<char *>(programBytes.constData()), const_cast<char *>(memory.constData()),
                    const_cast<char *>(threads.constData()), nullptr};
    pid_t child = -1;
    const int spawned = posix_spawn(&child, programBytes.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(childEnd);
    if (spawned != 0) {
        ::close(ends[0]);
        return nullptr;
    }
    auto process = std::make_unique<MediaDecoder::Process>();
    process->pid = child;
    process->socket = ends[0];
    process->use = use;
    return process;
}

bool sendAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size_t(std::min<qint64>(size, qint64(1) << 20)), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

qint64 residentBytes(pid_t pid)
{
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

enum class Wait { Done, Ended, OutOfTime, Cancelled, OutOfMemory };

// Reads exactly `size` bytes, ending the wait at the deadline or Cancel.
Wait receive(const MediaDecoder::Process &process, char *into, qint64 size, Clock::time_point deadline,
             const std::atomic<bool> *cancel)
{
    while (size > 0) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return Wait::Cancelled;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return Wait::OutOfTime;
        if (watchResidentMemory && residentBytes(process.pid) > MediaDecoder::memoryLimit(process.use))
            return Wait::OutOfMemory;
        // Short waits, so that Cancel is seen at once.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        pollfd ready{process.socket, POLLIN, 0};
        const int polled = ::poll(&ready, 1, int(std::clamp<long long>(left, 1, 50)));
        if (polled < 0 && errno != EINTR)
            return Wait::Ended;
        if (polled <= 0)
            continue;
        const ssize_t count = ::recv(process.socket, into, size_t(std::min<qint64>(size, qint64(1) << 20)), 0);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            return Wait::Ended;
        into += count;
        size -= count;
    }
    return Wait::Done;
}

// Why a decoder that ended by itself ended.
Refusal endedBecause(MediaDecoder::Process &process)
{
    ::close(process.socket);
    process.socket = -1;
    int status = 0;
    pid_t waited;
    while ((waited = ::waitpid(process.pid, &status, 0)) < 0 && errno == EINTR) {}
    process.pid = -1;
    if (waited > 0 && WIFEXITED(status) && WEXITSTATUS(status) == DecoderProtocol::exitOutOfMemory)
        return Refusal::TooLarge;
    return Refusal::Crashed;
}

QImage imageFrom(const QVariantMap &reply)
{
    const int width = reply.value(QStringLiteral("width")).toInt();
    const int height = reply.value(QStringLiteral("height")).toInt();
    const auto format = QImage::Format(reply.value(QStringLiteral("format")).toInt());
    if (width <= 0 || height <= 0 || format <= QImage::Format_Invalid || format >= QImage::NImageFormats)
        return {};
    QImage image(width, height, format);
    if (image.isNull() || image.bytesPerLine() != reply.value(QStringLiteral("bytesPerLine")).toLongLong())
        return {};
    const QByteArray colors = reply.value(QStringLiteral("colors")).toByteArray();
    if (!colors.isEmpty()) {
        QList<QRgb> table(colors.size() / qsizetype(sizeof(QRgb)));
        std::memcpy(table.data(), colors.constData(), size_t(table.size()) * sizeof(QRgb));
        image.setColorTable(table);
    }
    return image;
}

} // namespace

MediaDecoder::MediaDecoder(Use use) : m_use(use) {}

MediaDecoder::~MediaDecoder()
{
    if (m_process)
        pool().give(std::move(m_process));
}

qint64 MediaDecoder::memoryLimit(Use use)
{
    // Eight thumbnail decoders and the program itself stay within 2 GiB; a 100-megapixel JPEG,
    // PNG or TIFF is decoded reduced within this.
    if (use == Use::Thumbnail)
        return 176 * mib;
    // A full-size read holds the picture at 4 bytes a pixel and a copy of it (800 MB for 100
    // megapixels): an eighth of the machine, between 1 and 2 GiB.
    const qint64 machine = qint64(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE);
    return std::clamp<qint64>(machine / 8, 1024 * mib, 2048 * mib);
}

void MediaDecoder::endIdleDecoders() { pool().clear(); }

void MediaDecoder::fail(Refusal refusal)
{
    m_refusal = refusal;
    m_process.reset();
}

bool MediaDecoder::exchange(const QVariantMap &request, QVariantMap &reply, QImage *image)
{
    m_refusal = Refusal::None;
    const std::atomic<bool> *cancel = DecodeInterrupt::cancelFlag();
    if (DecodeInterrupt::cancelled()) {
        m_refusal = Refusal::Cancelled;
        return false;
    }
    const Clock::time_point deadline = DecodeInterrupt::deadlineWithin(timeLimit);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (milliseconds <= 0) {
        m_refusal = Refusal::OutOfTime;
        return false;
    }
    QVariantMap timed = request;
    timed.insert(QStringLiteral("milliseconds"), qint64(milliseconds));
    const QByteArray body = DecoderProtocol::encode(timed);
    const quint32 length = quint32(body.size());
    // An idle decoder may have ended since it was last used: then one new one is tried.
    bool sent = false;
    for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
        if (!m_process)
            m_process = pool().take(m_use);
        if (!m_process)
            m_process = start(m_use);
        if (!m_process) {
            m_refusal = Refusal::Crashed;
            return false;
        }
        sent = sendAll(m_process->socket, reinterpret_cast<const char *>(&length), sizeof length)
               && sendAll(m_process->socket, body.constData(), body.size());
        if (!sent)
            m_process.reset();
    }
    if (!sent) {
        m_refusal = Refusal::Crashed;
        return false;
    }

    // The decoder stops by itself at the deadline where its reader asks; the end comes here for
    // one that does not (stuck in a system call, or in a loop of a library).
    const Clock::time_point hardDeadline = deadline + std::chrono::milliseconds(500);
    auto stopped = [&](Wait wait) {
        switch (wait) {
        case Wait::Done:
            break;
        case Wait::Ended:
            m_refusal = endedBecause(*m_process);
            m_process.reset();
            return true;
        case Wait::OutOfTime:
            fail(Refusal::OutOfTime);
            return true;
        case Wait::Cancelled:
            fail(Refusal::Cancelled);
            return true;
        case Wait::OutOfMemory:
            fail(Refusal::TooLarge);
            return true;
        }
        return false;
    };
    quint32 replyLength = 0;
    if (stopped(receive(*m_process, reinterpret_cast<char *>(&replyLength), sizeof replyLength, hardDeadline, cancel)))
        return false;
    if (replyLength > DecoderProtocol::maxMapBytes) {
        fail(Refusal::Crashed);
        return false;
    }
    QByteArray replyBody(qsizetype(replyLength), Qt::Uninitialized);
    if (stopped(receive(*m_process, replyBody.data(), replyLength, hardDeadline, cancel)))
        return false;
    reply = DecoderProtocol::decode(replyBody);
    const qint64 pictureBytes = reply.value(QStringLiteral("pictureBytes")).toLongLong();
    if (pictureBytes > 0) {
        QImage picture = imageFrom(reply);
        if (picture.isNull() || picture.sizeInBytes() != pictureBytes) {
            // A picture this side cannot hold: the decoder's stream cannot be followed further.
            fail(picture.isNull() ? Refusal::TooLarge : Refusal::Crashed);
            return false;
        }
        if (stopped(receive(*m_process, reinterpret_cast<char *>(picture.bits()), pictureBytes, hardDeadline, cancel)))
            return false;
        if (image)
            *image = std::move(picture);
    }
    // What the decoder read past is this thread's report too.
    const QString damage = reply.value(QStringLiteral("damage")).toString();
    if (!damage.isEmpty())
        DecodeReport::damaged(damage);
    return true;
}

namespace {

void takeFacts(const QVariantMap &reply, ImageFileReader::Facts *facts)
{
    if (!facts)
        return;
    facts->size =
        QSize(reply.value(QStringLiteral("fullWidth")).toInt(), reply.value(QStringLiteral("fullHeight")).toInt());
    facts->orientation = reply.value(QStringLiteral("orientation")).toInt();
    facts->previewOnly = reply.value(QStringLiteral("previewOnly")).toBool();
    facts->refusal = Refusal(reply.value(QStringLiteral("refusal")).toInt());
}

QVariantMap pictureRequest(const char *operation, const QString &path, QSize maxSize)
{
    return {{QStringLiteral("operation"), QString::fromLatin1(operation)},
            {QStringLiteral("path"), path},
            {QStringLiteral("maxWidth"), maxSize.isValid() ? maxSize.width() : -1},
            {QStringLiteral("maxHeight"), maxSize.isValid() ? maxSize.height() : -1}};
}

} // namespace

QImage MediaDecoder::read(const QString &path, QSize maxSize, ImageFileReader::Facts *facts)
{
    QVariantMap reply;
    QImage image;
    if (!exchange(pictureRequest("read", path, maxSize), reply, &image)) {
        if (facts)
            facts->refusal = m_refusal;
        return {};
    }
    takeFacts(reply, facts);
    return image;
}

QImage MediaDecoder::readRaw(const QString &path, QSize maxSize, ImageFileReader::Facts *facts, QVariantMap *metadata)
{
    QVariantMap reply;
    QImage image;
    if (!exchange(pictureRequest("readRaw", path, maxSize), reply, &image)) {
        if (facts)
            facts->refusal = m_refusal;
        return {};
    }
    takeFacts(reply, facts);
    if (metadata)
        *metadata = reply.value(QStringLiteral("metadata")).toMap();
    return image;
}

std::optional<RawDecoder::Info> MediaDecoder::identifyRaw(const QString &path)
{
    QVariantMap reply;
    if (!exchange({{QStringLiteral("operation"), QStringLiteral("identifyRaw")}, {QStringLiteral("path"), path}}, reply,
                  nullptr)
        || !reply.value(QStringLiteral("identified")).toBool())
        return std::nullopt;
    RawDecoder::Info info;
    info.make = reply.value(QStringLiteral("make")).toByteArray();
    info.model = reply.value(QStringLiteral("model")).toByteArray();
    info.rawWidth = reply.value(QStringLiteral("rawWidth")).toInt();
    info.rawHeight = reply.value(QStringLiteral("rawHeight")).toInt();
    info.width = reply.value(QStringLiteral("width")).toInt();
    info.height = reply.value(QStringLiteral("height")).toInt();
    info.flip = reply.value(QStringLiteral("flip")).toInt();
    return info;
}

QImage MediaDecoder::developRaw(const QString &path, int shrinkFactor, ImageFileReader::Facts *facts, QSize box)
{
    QVariantMap request = pictureRequest("developRaw", path, box);
    request.insert(QStringLiteral("shrink"), shrinkFactor);
    QVariantMap reply;
    QImage image;
    if (!exchange(request, reply, &image)) {
        if (facts)
            facts->refusal = m_refusal;
        return {};
    }
    takeFacts(reply, facts);
    return image;
}

QImage MediaDecoder::readData(const QByteArray &data, QSize box, QSize *sourceSize)
{
    // Larger than a message may be: no stored thumbnail is.
    if (data.isEmpty() || data.size() > qsizetype(DecoderProtocol::maxMapBytes / 2))
        return {};
    QVariantMap request = pictureRequest("readData", QString(), box);
    request.insert(QStringLiteral("data"), data);
    QVariantMap reply;
    QImage image;
    if (!exchange(request, reply, &image))
        return {};
    if (sourceSize)
        *sourceSize =
            QSize(reply.value(QStringLiteral("fullWidth")).toInt(), reply.value(QStringLiteral("fullHeight")).toInt());
    return image;
}

std::optional<MediaDecoder::MovieInfo> MediaDecoder::openMovie(const QString &path, QString *error)
{
    QVariantMap reply;
    m_movieKind.reset();
    if (!exchange({{QStringLiteral("operation"), QStringLiteral("openMovie")}, {QStringLiteral("path"), path}}, reply,
                  nullptr)) {
        if (error)
            *error = m_refusal == Refusal::OutOfTime   ? QStringLiteral("the movie could not be opened in time")
                     : m_refusal == Refusal::Cancelled ? QStringLiteral("opening the movie was cancelled")
                                                       : ImageFileReader::refusalText(m_refusal);
        return std::nullopt;
    }
    if (!reply.value(QStringLiteral("opened")).toBool()) {
        if (error)
            *error = reply.value(QStringLiteral("error")).toString();
        return std::nullopt;
    }
    MovieInfo info;
    info.kind = Movie::Kind(reply.value(QStringLiteral("kind")).toInt());
    info.duration = MovieTime{reply.value(QStringLiteral("timeValue")).toLongLong(),
                              qint32(reply.value(QStringLiteral("timeScale")).toInt())};
    info.naturalSize =
        QSize(reply.value(QStringLiteral("width")).toInt(), reply.value(QStringLiteral("height")).toInt());
    m_movieKind = info.kind;
    return info;
}

QImage MediaDecoder::movieFrame(MovieTime time, QSize size, QString *error)
{
    const QVariantMap request{{QStringLiteral("operation"), QStringLiteral("movieFrame")},
                              {QStringLiteral("timeValue"), time.timeValue},
                              {QStringLiteral("timeScale"), time.timeScale},
                              {QStringLiteral("maxWidth"), size.isValid() ? size.width() : -1},
                              {QStringLiteral("maxHeight"), size.isValid() ? size.height() : -1}};
    QVariantMap reply;
    QImage image;
    if (!exchange(request, reply, &image)) {
        // The decoder's own words for a frame or a page stopped at its limits.
        const bool page = m_movieKind == Movie::Kind::Document;
        if (error)
            *error = m_refusal == Refusal::OutOfTime   ? (page ? QStringLiteral("the page could not be drawn in time")
                                                               : QStringLiteral("the frame could not be decoded in time"))
                     : m_refusal == Refusal::Cancelled ? (page ? QStringLiteral("drawing the page was cancelled")
                                                               : QStringLiteral("decoding the frame was cancelled"))
                                                       : ImageFileReader::refusalText(m_refusal);
        m_movieKind.reset();
        return {};
    }
    if (image.isNull() && error)
        *error = reply.value(QStringLiteral("error")).toString();
    return image;
}

QImage MediaDecoder::firstMovieFrame(const QString &path, Use use)
{
    MediaDecoder decoder(use);
    const std::optional<MovieInfo> info = decoder.openMovie(path);
    if (!info)
        return {};
    MovieTime time = info->duration;
    time.timeValue = 0;
    return decoder.movieFrame(time);
}
