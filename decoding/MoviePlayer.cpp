#include "decoding/MoviePlayer.h"

#include "decoding/HelperProgram_p.h"
#include "decoding/MediaDecoder.h"
#include "decoding/MediaDecoder_p.h"
#include "decoding/Player_p.h"
#include "decoding/PlaybackBackend_p.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

namespace {

QString text(const char *key) { return QString::fromLatin1(key); }

#ifdef OVN_DECODER_WATCHED
constexpr bool unlimited = true; // the sanitizers reserve more address space than any data limit
#else
constexpr bool unlimited = false;
#endif

QString programPath()
{
#ifdef OVN_PLAYER_BUILD_PATH
    return helperProgramPath(PlayerProtocol::programName, OVN_PLAYER_BUILD_PATH);
#else
    return helperProgramPath(PlayerProtocol::programName, nullptr);
#endif
}

// The player's environment: what the sound system and GStreamer need, nothing else of the
// program's (no passwords, no display).
QList<QByteArray> playerEnvironment()
{
    static const char *const kept[] = {"HOME",
                                       "XDG_RUNTIME_DIR",
                                       "XDG_CACHE_HOME",
                                       "XDG_CONFIG_HOME",
                                       "PULSE_SERVER",
                                       "PULSE_COOKIE",
                                       "PIPEWIRE_REMOTE",
                                       "PIPEWIRE_RUNTIME_DIR",
                                       "ALSA_CONFIG_PATH",
                                       "GST_PLUGIN_PATH",
                                       "GST_REGISTRY",
                                       "GST_PLUGIN_SYSTEM_PATH",
                                       "LANG",
                                       "LC_ALL",
                                       "QT_MEDIA_BACKEND"};
    QList<QByteArray> environment;
    for (const char *name : kept)
        if (qEnvironmentVariableIsSet(name))
            environment << QByteArray(name) + '=' + qgetenv(name);
    // Drawn nowhere; GStreamer lists its plugins in this process rather than in a program of its
    // own, which the player may not start.
    environment << "QT_QPA_PLATFORM=offscreen"
                << "GST_REGISTRY_FORK=no";
    return environment;
}

} // namespace

QString MoviePlayer::chooseBackend() { return PlayerProtocol::chooseBackend(); }

QString MoviePlayer::audioDeviceName() { return PlayerProtocol::audioDeviceName(); }

MoviePlayer::MoviePlayer(QObject *parent)
    : QObject(parent),
      m_box(PlayerProtocol::maxFrameSide, PlayerProtocol::maxFrameSide)
{
    chooseBackend();
}

MoviePlayer::~MoviePlayer() { stop(); }

void MoviePlayer::stop()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {}
    }
    m_pid = -1;
    m_incoming.clear();
    m_frame = QImage();
    m_frameFilled = -1;
}

void MoviePlayer::fail(const QString &reason)
{
    if (m_failed)
        return;
    m_failed = true;
    m_open = false;
    if (m_rate != 0.0) {
        m_rate = 0.0;
        emit rateChanged(0.0);
    }
    emit failed(reason.isEmpty() ? tr("The movie cannot be played.") : reason);
}

void MoviePlayer::open(const QString &path)
{
    stop();
    m_path = path;
    m_open = false;
    m_failed = false;
    m_image = QImage();
    m_natural = QSize();
    m_durationMs = 0;
    m_positionMs = 0;
    m_rate = 0.0;
    m_rotation = 0;
    m_hasAudio = m_hasVideo = m_soundOff = false;
    m_hasAudioOutput = false;
    auto failLater = [this, path](const QString &reason) {
        QTimer::singleShot(0, this, [this, path, reason] {
            if (path == m_path)
                fail(reason);
        });
    };
    if (!QFileInfo(path).isFile())
        return failLater(tr("The file \"%1\" cannot be found.").arg(path));
    static const QString program = programPath();
    int ends[2];
    if (program.isEmpty() || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return failLater(tr("The movie player cannot be started."));
    // The player's end above the standard descriptors, so that dup2 onto 3 clears close-on-exec.
    const int childEnd = ::fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
    ::close(ends[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // What GStreamer prints stays off the terminal.
    if (qEnvironmentVariableIsEmpty("OVN_DECODER_STDERR"))
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, childEnd, PlayerProtocol::socketDescriptor);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: no terminal to reach.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    const QByteArray arguments[] = {
        QFile::encodeName(program), QFile::encodeName(QFileInfo(path).absoluteFilePath()),
        QByteArray::number(unlimited ? 0 : MediaDecoder::memoryLimit(MediaDecoder::Use::FullSize)),
        QByteArray::number(::getpid())};
    char *argv[std::size(arguments) + 1] = {};
    for (size_t i = 0; i < std::size(arguments); ++i)
        argv[i] = const_cast<char *>(arguments[i].constData());
    const QList<QByteArray> environment = playerEnvironment();
    std::vector<char *> envp;
    for (const QByteArray &entry : environment)
        envp.push_back(const_cast<char *>(entry.constData()));
    envp.push_back(nullptr);
    pid_t child = -1;
    const int spawned = childEnd < 0 ? -1 : posix_spawn(&child, argv[0], &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (childEnd >= 0)
        ::close(childEnd);
    if (spawned != 0) {
        ::close(ends[0]);
        return failLater(tr("The movie player cannot be started."));
    }
    m_pid = child;
    m_socket = ends[0];
    ::fcntl(m_socket, F_SETFL, ::fcntl(m_socket, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MoviePlayer::receive);
    send({{text("command"), text("box")}, {text("width"), m_box.width()}, {text("height"), m_box.height()}});
    if (m_looping)
        send({{text("command"), text("loop")}, {text("on"), true}});
    if (m_volume != 1.0f)
        send({{text("command"), text("volume")}, {text("volume"), m_volume}});
}

bool MoviePlayer::openAndWait(const QString &path, QString *error, int timeoutMs)
{
    QEventLoop loop;
    QString reason;
    auto a = connect(this, &MoviePlayer::opened, &loop, &QEventLoop::quit);
    auto b = connect(this, &MoviePlayer::failed, &loop, [&](const QString &r) {
        reason = r;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    open(path);
    if (!m_open && !m_failed)
        loop.exec();
    disconnect(a);
    disconnect(b);
    if (!m_open && reason.isEmpty())
        reason = m_failed ? tr("The movie cannot be played.") : tr("The movie did not open in time.");
    if (error)
        *error = reason;
    return m_open;
}

void MoviePlayer::send(const QVariantMap &command)
{
    if (m_socket < 0)
        return;
    const QByteArray body = DecoderProtocol::encode(command);
    const quint32 length = quint32(body.size());
    QByteArray message(reinterpret_cast<const char *>(&length), sizeof length);
    message += body;
    // Commands are small: the socket's buffer takes them at once, or the player is stuck.
    qsizetype at = 0;
    while (at < message.size()) {
        const ssize_t sent = ::send(m_socket, message.constData() + at, size_t(message.size() - at), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno == EAGAIN) {
            pollfd ready{m_socket, POLLOUT, 0};
            if (::poll(&ready, 1, 1000) > 0)
                continue;
        }
        if (sent <= 0)
            return;
        at += sent;
    }
}

void MoviePlayer::receive()
{
    for (;;) {
        if (m_socket < 0)
            return;
        ssize_t count;
        if (m_frameFilled >= 0) {
            // A frame's rows straight into its picture.
            count = ::read(m_socket, reinterpret_cast<char *>(m_frame.bits()) + m_frameFilled,
                           size_t(m_frame.sizeInBytes() - m_frameFilled));
            if (count > 0)
                m_frameFilled += count;
        } else {
            char buffer[1 << 16];
            count = ::read(m_socket, buffer, sizeof buffer);
            if (count > 0)
                m_incoming.append(buffer, count);
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == EAGAIN)
            return;
        if (count <= 0) {
            ended();
            return;
        }
        // Whole messages, and a frame's end.
        for (;;) {
            if (m_frameFilled >= 0) {
                const qint64 take = std::min<qint64>(m_incoming.size(), m_frame.sizeInBytes() - m_frameFilled);
                std::memcpy(m_frame.bits() + m_frameFilled, m_incoming.constData(), size_t(take));
                m_incoming.remove(0, take);
                m_frameFilled += take;
                if (m_frameFilled < m_frame.sizeInBytes())
                    break;
                m_frameFilled = -1;
                m_image = std::exchange(m_frame, QImage());
                send({{text("command"), text("next")}});
                emit frameChanged(m_image);
                continue;
            }
            if (m_incoming.size() < qsizetype(sizeof(quint32)))
                break;
            quint32 length = 0;
            std::memcpy(&length, m_incoming.constData(), sizeof length);
            if (length > DecoderProtocol::maxMapBytes) {
                stop();
                fail(tr("The movie's player stopped on a fault in the file."));
                return;
            }
            if (m_incoming.size() < qsizetype(sizeof length + length))
                break;
            const QVariantMap event = DecoderProtocol::decode(m_incoming.mid(sizeof length, length));
            m_incoming.remove(0, sizeof length + length);
            handle(event);
            if (m_socket < 0)
                return;
        }
    }
}

void MoviePlayer::handle(const QVariantMap &event)
{
    const QString what = event.value(text("event")).toString();
    if (what == QLatin1String("frame")) {
        // Never larger than any box: anything else is not our player's.
        const int width = event.value(text("width")).toInt();
        const int height = event.value(text("height")).toInt();
        const auto format = QImage::Format(event.value(text("format")).toInt());
        if (width <= 0 || height <= 0 || width > PlayerProtocol::maxFrameSide || height > PlayerProtocol::maxFrameSide
            || (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied)) {
            stop();
            fail(tr("The movie's player stopped on a fault in the file."));
            return;
        }
        m_frame = QImage(width, height, format);
        if (m_frame.isNull() || m_frame.bytesPerLine() != event.value(text("bytesPerLine")).toLongLong()) {
            stop();
            fail(tr("The movie's player stopped on a fault in the file."));
            return;
        }
        m_frameFilled = 0;
    } else if (what == QLatin1String("opened")) {
        takeState(event);
        if (!m_open && !m_failed) {
            m_open = true;
            emit opened();
        }
    } else if (what == QLatin1String("state")) {
        takeState(event);
    } else if (what == QLatin1String("failed")) {
        stop();
        fail(event.value(text("reason")).toString());
    } else if (what == QLatin1String("rate")) {
        const double rate = event.value(text("rate")).toDouble();
        if (rate != m_rate) {
            m_rate = rate;
            emit rateChanged(rate);
        }
    } else if (what == QLatin1String("time")) {
        m_positionMs = event.value(text("ms")).toLongLong();
        emit timeChanged();
    } else if (what == QLatin1String("soundTurnedOff")) {
        emit soundTurnedOff();
    }
}

void MoviePlayer::takeState(const QVariantMap &event)
{
    const qint64 duration = event.value(text("durationMs")).toLongLong();
    m_hasAudio = event.value(text("hasAudio")).toBool();
    m_hasVideo = event.value(text("hasVideo")).toBool();
    m_hasAudioOutput = event.value(text("hasAudioOutput")).toBool();
    m_soundOff = event.value(text("soundOff")).toBool();
    m_rotation = event.value(text("rotation")).toInt();
    const QSize natural(event.value(text("naturalWidth")).toInt(), event.value(text("naturalHeight")).toInt());
    if (natural.isValid() && !natural.isEmpty())
        m_natural = natural;
    if (duration != m_durationMs) {
        m_durationMs = duration;
        if (m_open)
            emit durationChanged();
    }
}

void MoviePlayer::ended()
{
    int status = 0;
    const pid_t pid = m_pid;
    m_pid = -1;
    stop();
    if (pid > 0)
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == PlayerProtocol::exitOutOfMemory)
        fail(tr("The movie needs more memory than playing a movie may use."));
    else
        fail(tr("The movie's player stopped on a fault in the file."));
}

MovieTime MoviePlayer::duration() const { return {m_durationMs * Movie::movieTimeScale / 1000, Movie::movieTimeScale}; }

MovieTime MoviePlayer::currentTime() const
{
    return {m_positionMs * Movie::movieTimeScale / 1000, Movie::movieTimeScale};
}

void MoviePlayer::setCurrentTime(MovieTime time)
{
    // Through seconds in 64 bits, whatever the caller's scale, kept on the movie.
    qint64 ms = qint64(std::llround(time.seconds() * 1000.0));
    ms = std::clamp<qint64>(ms, 0, std::max<qint64>(0, m_durationMs));
    m_positionMs = ms;
    send({{text("command"), text("time")}, {text("ms"), ms}});
}

void MoviePlayer::setRate(double rate)
{
    if (rate == m_rate)
        return;
    m_rate = rate;
    send({{text("command"), text("rate")}, {text("rate"), rate}});
    emit rateChanged(rate);
}

void MoviePlayer::setLooping(bool loop)
{
    m_looping = loop;
    send({{text("command"), text("loop")}, {text("on"), loop}});
}

void MoviePlayer::setVolume(float volume)
{
    m_volume = volume;
    send({{text("command"), text("volume")}, {text("volume"), volume}});
}

void MoviePlayer::setFrameBox(QSize box)
{
    if (!box.isValid() || box.isEmpty())
        box = QSize(PlayerProtocol::maxFrameSide, PlayerProtocol::maxFrameSide);
    box = box.boundedTo(QSize(PlayerProtocol::maxFrameSide, PlayerProtocol::maxFrameSide));
    if (box == m_box)
        return;
    m_box = box;
    send({{text("command"), text("box")}, {text("width"), box.width()}, {text("height"), box.height()}});
}

void MoviePlayer::simulateSoundFault() { send({{text("command"), text("soundFault")}}); }
