#include "decoding/MoviePlayer.h"

#include "decoding/ConfinementNotice.h"
#include "decoding/HelperProgram_p.h"
#include "decoding/MediaDecoder.h"
#include "decoding/MediaDecoder_p.h"
#include "decoding/Player_p.h"
#include "decoding/PlaybackBackend_p.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QTimer>

#include <gst/gst.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <optional>

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

// GStreamer's list of plugins, which the player reads and may not write: GST_REGISTRY, or
// GStreamer's own place for it.
QByteArray pluginList()
{
    if (!qEnvironmentVariableIsEmpty("GST_REGISTRY"))
        return qgetenv("GST_REGISTRY");
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty())
        cache = QDir::homePath() + QStringLiteral("/.cache");
    QString cpu = QSysInfo::buildCpuArchitecture();
    if (cpu == QLatin1String("arm64"))
        cpu = QStringLiteral("aarch64");
    return QFile::encodeName(cache + QStringLiteral("/gstreamer-1.0/registry.") + cpu + QStringLiteral(".bin"));
}

// The player's environment: the language of its messages and where GStreamer's plugin list is,
// nothing else of the program's (no passwords, no display, session bus or sound server).
QList<QByteArray> playerEnvironment()
{
    // OVN_DECODER_TEST_NO_LANDLOCK: test builds of the player then confine it as on a kernel
    // without Landlock (others ignore it).
    static const char *const kept[] = {"LANG",     "LC_ALL",    "LC_MESSAGES",
                                       "LANGUAGE", "GST_DEBUG", "OVN_DECODER_TEST_NO_LANDLOCK"};
    QList<QByteArray> environment;
    for (const char *name : kept)
        if (qEnvironmentVariableIsSet(name))
            environment << QByteArray(name) + '=' + qgetenv(name);
    // GStreamer takes the list of plugins as the program left it: it neither looks at the plugins
    // again nor tries to write the list (nor starts a program to do so). Where the program could
    // not write one, the player looks at the plugins itself.
    const QByteArray list = pluginList();
    environment << "GST_REGISTRY=" + list << "GST_REGISTRY_FORK=no"
                << "HOME=/nonexistent";
    if (QFileInfo::exists(QFile::decodeName(list)))
        environment << "GST_REGISTRY_UPDATE=no";
    return environment;
}

// The default audio device through Qt Multimedia, fed from a buffer of its own as it takes data.
class DeviceSoundOutput final : public MovieSoundOutput
{
public:
    explicit DeviceSoundOutput(const QAudioDevice &device) : m_device(device)
    {
        m_feed.setSingleShot(true);
        m_feed.setInterval(10);
        connect(&m_feed, &QTimer::timeout, this, &DeviceSoundOutput::feed);
    }

    bool start(int rate, int channels) override
    {
        m_sink.reset();
        m_io = nullptr;
        m_waiting.clear();
        QAudioFormat format;
        format.setSampleRate(rate);
        format.setChannelCount(channels);
        format.setSampleFormat(QAudioFormat::Int16);
        if (!m_device.isFormatSupported(format))
            return false;
        m_bytesPerMs = std::max(1, rate * channels * 2 / 1000);
        m_frameBytes = channels * 2;
        m_sink = std::make_unique<QAudioSink>(m_device, format);
        // A quarter of a second held: enough against the event loop's pauses, little for the
        // frames to wait.
        m_sink->setBufferSize(qsizetype(m_bytesPerMs) * 250);
        m_sink->setVolume(m_volume);
        connect(m_sink.get(), &QAudioSink::stateChanged, this, [this] {
            if (m_sink && m_sink->error() != QAudio::NoError && m_sink->error() != QAudio::UnderrunError)
                emit faulted();
        });
        m_io = m_sink->start();
        if (!m_io)
            return false;
        if (m_paused)
            m_sink->suspend();
        return true;
    }

    void write(const QByteArray &samples) override
    {
        m_waiting += samples;
        // Never more than two seconds behind: what a device that stopped taking data would hold.
        if (m_waiting.size() > qsizetype(m_bytesPerMs) * 2000)
            m_waiting.remove(0, m_waiting.size() - qsizetype(m_bytesPerMs) * 2000 / m_frameBytes * m_frameBytes);
        feed();
    }

    void clear() override
    {
        m_waiting.clear();
        if (m_sink) {
            m_sink->stop();
            m_io = m_sink->start();
            if (m_paused)
                m_sink->suspend();
        }
    }

    void setPaused(bool paused) override
    {
        m_paused = paused;
        if (m_sink)
            paused ? m_sink->suspend() : m_sink->resume();
    }

    void setVolume(float volume) override
    {
        m_volume = volume;
        if (m_sink)
            m_sink->setVolume(volume);
    }

    qint64 latencyMs() const override
    {
        if (!m_sink)
            return 0;
        return (m_sink->bufferSize() - m_sink->bytesFree() + m_waiting.size()) / m_bytesPerMs;
    }

private:
    void feed()
    {
        if (!m_sink || !m_io || m_waiting.isEmpty())
            return;
        const qint64 room = std::min<qint64>(m_sink->bytesFree(), m_waiting.size()) / m_frameBytes * m_frameBytes;
        const qint64 written = room > 0 ? m_io->write(m_waiting.constData(), room) : 0;
        if (written > 0)
            m_waiting.remove(0, written);
        if (!m_waiting.isEmpty())
            m_feed.start();
    }

    QAudioDevice m_device;
    std::unique_ptr<QAudioSink> m_sink;
    QIODevice *m_io = nullptr;
    QByteArray m_waiting;
    QTimer m_feed;
    float m_volume = 1.0f;
    int m_bytesPerMs = 1;
    int m_frameBytes = 2;
    bool m_paused = false;
};

MoviePlayer::SoundOutputs &soundOutputs()
{
    static MoviePlayer::SoundOutputs make = []() -> std::unique_ptr<MovieSoundOutput> {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull())
            return nullptr;
        return std::make_unique<DeviceSoundOutput>(device);
    };
    return make;
}

// The file as the player gets it: openings of its own, each above the standard descriptors.
std::vector<int> openMovie(const QString &path)
{
    std::vector<int> files;
    for (int i = 0; i < PlayerProtocol::fileDescriptors; ++i) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        struct stat status {};
        const int high = fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
        if (fd >= 0)
            ::close(fd);
        if (high < 0 || ::fstat(high, &status) != 0 || !S_ISREG(status.st_mode)) {
            if (high >= 0)
                ::close(high);
            for (const int opened : files)
                ::close(opened);
            return {};
        }
        ::fcntl(high, F_SETFL, ::fcntl(high, F_GETFL) & ~O_NONBLOCK);
        files.push_back(high);
    }
    return files;
}

} // namespace

QString MoviePlayer::chooseBackend() { return PlayerProtocol::chooseBackend(); }

QString MoviePlayer::audioDeviceName() { return PlayerProtocol::audioDeviceName(); }

MoviePlayer::SoundOutputs MoviePlayer::setSoundOutputs(SoundOutputs make)
{
    return std::exchange(soundOutputs(), std::move(make));
}

MoviePlayer::MoviePlayer(QObject *parent)
    : QObject(parent),
      m_box(PlayerProtocol::maxFrameSide, PlayerProtocol::maxFrameSide)
{
    chooseBackend();
    m_clock.start();
    m_frameTimer.setSingleShot(true);
    connect(&m_frameTimer, &QTimer::timeout, this, &MoviePlayer::showDueFrames);
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
    m_samples.clear();
    m_payload = nullptr;
    m_payloadFilled = -1;
    m_heldFrames.clear();
    m_frameTimer.stop();
    if (m_sound)
        m_sound->clear();
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
    m_positionMs = m_playerMs = 0;
    m_frameMs = -1;
    m_rate = 0.0;
    m_playedRate = 1.0;
    m_rateCommands = m_timeCommands = 0;
    m_rotation = 0;
    m_hasAudio = m_hasVideo = false;
    m_sound.reset();
    m_soundRate = m_soundChannels = 0;
    m_soundStarted = false;
    auto failLater = [this, path](const QString &reason) {
        QTimer::singleShot(0, this, [this, path, reason] {
            if (path == m_path)
                fail(reason);
        });
    };
    if (!QFileInfo(path).isFile())
        return failLater(tr("The file \"%1\" cannot be found.").arg(path));
    static const QString program = programPath();
    if (program.isEmpty())
        return failLater(tr("The movie player cannot be started."));
    // The player is held as the decoders are: a boundary missing here is said as theirs is, once.
    ConfinementNotice::sayOnceIfMissing();
    // GStreamer's plugin list brought up to date here, where it may be written: the player only
    // reads it.
    static const bool listed = [] {
        if (!gst_is_initialized())
            gst_init(nullptr, nullptr);
        return true;
    }();
    Q_UNUSED(listed);
    const std::vector<int> files = openMovie(path);
    if (files.empty())
        return failLater(tr("The file \"%1\" cannot be opened.").arg(path));
    const auto closeFiles = [&files] {
        for (const int fd : files)
            ::close(fd);
    };
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        closeFiles();
        return failLater(tr("The movie player cannot be started."));
    }
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
    for (int i = 0; i < PlayerProtocol::fileDescriptors; ++i)
        posix_spawn_file_actions_adddup2(&actions, files[size_t(i)], PlayerProtocol::firstFileDescriptor + i);
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
    closeFiles();
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
    // The sound is played here; without an output the player sends none.
    if (const SoundOutputs &make = soundOutputs())
        m_sound = make();
    m_hasAudioOutput = m_sound != nullptr;
    if (m_sound) {
        m_sound->setVolume(m_volume);
        m_sound->setPaused(true);
        connect(m_sound.get(), &MovieSoundOutput::faulted, this, &MoviePlayer::soundFailed, Qt::QueuedConnection);
        send({{text("command"), text("sound")}, {text("on"), true}});
    }
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
        if (m_payloadFilled >= 0) {
            // A frame's rows or a sound's samples straight into their place.
            count = ::read(m_socket, m_payload + m_payloadFilled, size_t(m_payloadSize - m_payloadFilled));
            if (count > 0)
                m_payloadFilled += count;
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
        // Whole messages, and a payload's end.
        for (;;) {
            if (m_payloadFilled >= 0) {
                const qint64 take = std::min<qint64>(m_incoming.size(), m_payloadSize - m_payloadFilled);
                std::memcpy(m_payload + m_payloadFilled, m_incoming.constData(), size_t(take));
                m_incoming.remove(0, take);
                m_payloadFilled += take;
                if (m_payloadFilled < m_payloadSize)
                    break;
                m_payloadFilled = -1;
                m_payload = nullptr;
                if (!m_frame.isNull()) {
                    send({{text("command"), text("next")}});
                    // One the player sent before it had the last seek is of the place left.
                    if (m_framePlaces < m_timeCommands)
                        m_frame = QImage();
                    else
                        showFrame(std::exchange(m_frame, QImage()), m_frameMs);
                } else {
                    playSound();
                }
                if (m_socket < 0)
                    return;
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
    const auto playerFault = [this] {
        stop();
        fail(tr("The movie's player stopped on a fault in the file."));
    };
    if (what == QLatin1String("frame")) {
        // Never larger than any box: anything else is not our player's.
        const int width = event.value(text("width")).toInt();
        const int height = event.value(text("height")).toInt();
        const auto format = QImage::Format(event.value(text("format")).toInt());
        if (width <= 0 || height <= 0 || width > PlayerProtocol::maxFrameSide || height > PlayerProtocol::maxFrameSide
            || (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied))
            return playerFault();
        m_frame = QImage(width, height, format);
        if (m_frame.isNull() || m_frame.bytesPerLine() != event.value(text("bytesPerLine")).toLongLong())
            return playerFault();
        m_frameMs = event.value(text("ms"), qint64(-1)).toLongLong();
        m_framePlaces = event.value(text("places"), m_timeCommands).toLongLong();
        m_payload = reinterpret_cast<char *>(m_frame.bits());
        m_payloadSize = m_frame.sizeInBytes();
        m_payloadFilled = 0;
    } else if (what == QLatin1String("sound")) {
        // Samples as the player makes them, or it is not our player.
        const int rate = event.value(text("rate")).toInt();
        const int channels = event.value(text("channels")).toInt();
        const qint64 bytes = event.value(text("bytes")).toLongLong();
        if (rate < 8000 || rate > 192000 || channels < 1 || channels > 2 || bytes <= 0
            || bytes > PlayerProtocol::maxSoundBytes || bytes % (2 * channels) != 0)
            return playerFault();
        m_payloadEvent = event;
        m_samples.resize(qsizetype(bytes));
        m_payload = m_samples.data();
        m_payloadSize = bytes;
        m_payloadFilled = 0;
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
        // The movie's own change (its end), unless the program set another rate since.
        if (event.value(text("after")).toLongLong() == m_rateCommands && rate != m_rate) {
            // At its end the sound the output holds still plays, and the frames held with it show.
            m_rate = rate;
            emit rateChanged(rate);
        }
    } else if (what == QLatin1String("time")) {
        m_playerMs = event.value(text("ms")).toLongLong();
        // While frames show, the clock is theirs: the player is ahead of the picture by the sound
        // the output holds, and runs on where frames cannot keep up.
        const bool framesTell = m_hasVideo && m_frameMs >= 0 && (m_rate != 0.0 || !m_heldFrames.empty());
        if (!framesTell && m_positionMs != m_playerMs) {
            m_positionMs = m_playerMs;
            emit timeChanged();
        }
    } else if (what == QLatin1String("probe")) {
        emit probed(event);
    }
}

void MoviePlayer::playSound()
{
    const QVariantMap event = std::exchange(m_payloadEvent, QVariantMap());
    const QByteArray samples = std::exchange(m_samples, QByteArray());
    if (!m_sound || m_rate <= 0.0)
        return;
    // Faster or slower, the samples play faster or slower (and higher or lower), as they come.
    const int rate = int(std::lround(event.value(text("rate")).toInt() * m_rate));
    const int channels = event.value(text("channels")).toInt();
    if (rate < 1000 || rate > 384000)
        return;
    if (rate != m_soundRate || channels != m_soundChannels) {
        m_soundRate = rate;
        m_soundChannels = channels;
        m_soundStarted = m_sound->start(rate, channels);
        // A rate the device does not take leaves only that speed silent.
        if (!m_soundStarted && m_rate == 1.0)
            return soundFailed();
        if (m_soundStarted)
            m_sound->setPaused(false);
    }
    if (m_soundStarted)
        m_sound->write(samples);
}

void MoviePlayer::soundFailed()
{
    if (!m_sound)
        return;
    // The device is given up on; the picture goes on.
    m_sound.release()->deleteLater();
    send({{text("command"), text("sound")}, {text("on"), false}});
    showDueFrames();
    if (m_open && m_hasAudio)
        emit soundTurnedOff();
}

void MoviePlayer::showFrame(QImage image, qint64 ms)
{
    // While sound plays, a frame waits until the sound held before it has played.
    const qint64 wait = m_sound && m_rate > 0.0 && m_soundStarted ? m_sound->latencyMs() : 0;
    if (wait <= 5 && m_heldFrames.empty())
        return present(std::move(image), ms);
    // Sixty frames and 128 MiB held at most: an output whose latency keeps growing costs frames,
    // not memory. What is left out is spread over the wait: the newest frame always held (the
    // movie's last one shows), the one before it only as far from its own forerunner as the
    // frames that fit leave. Dropping the oldest instead, the frames held covered less than the
    // wait (a second's at rate 2, or large frames) and each went before it was due: none showed.
    const qint64 now = m_clock.elapsed();
    const qint64 room = std::clamp<qint64>((qint64(128) << 20) / std::max<qint64>(1, image.sizeInBytes()), 2, 60);
    m_heldFrames.push_back({now + wait, ms, std::move(image)});
    const size_t count = m_heldFrames.size();
    if (count >= 3 && m_heldFrames[count - 2].due - m_heldFrames[count - 3].due < wait / room)
        m_heldFrames.erase(m_heldFrames.end() - 2);
    // A wait that grew: the front that is due next is kept, and the newest.
    while (m_heldFrames.size() > size_t(room))
        m_heldFrames.erase(m_heldFrames.end() - 2);
    showDueFrames();
}

void MoviePlayer::showDueFrames()
{
    const qint64 now = m_clock.elapsed();
    std::optional<HeldFrame> due;
    // Without sound nothing waits.
    while (!m_heldFrames.empty() && (!m_sound || m_heldFrames.front().due <= now)) {
        due = std::move(m_heldFrames.front());
        m_heldFrames.pop_front();
    }
    if (due)
        present(std::move(due->image), due->ms);
    if (!m_heldFrames.empty()) {
        m_frameTimer.start(int(std::clamp<qint64>(m_heldFrames.front().due - now, 1, 1000)));
    } else if (due && m_rate == 0.0 && m_positionMs != m_playerMs) {
        // The last frame held at the movie's end has shown: the clock says where the player ended.
        m_positionMs = m_playerMs;
        emit timeChanged();
    }
}

void MoviePlayer::dropHeldFrames(bool showLast)
{
    if (m_heldFrames.empty())
        return;
    HeldFrame last = std::move(m_heldFrames.back());
    m_heldFrames.clear();
    m_frameTimer.stop();
    if (showLast)
        present(std::move(last.image), last.ms);
}

void MoviePlayer::present(QImage image, qint64 ms)
{
    // The clock tells the place of the picture shown, already when it is told to the views.
    bool moved = false;
    if (ms >= 0) {
        ms = m_durationMs > 0 ? std::clamp<qint64>(ms, 0, m_durationMs) : std::max<qint64>(ms, 0);
        moved = ms != m_positionMs;
        m_positionMs = ms;
    }
    m_image = std::move(image);
    emit frameChanged(m_image);
    if (moved)
        emit timeChanged();
}

void MoviePlayer::takeState(const QVariantMap &event)
{
    const qint64 duration = event.value(text("durationMs")).toLongLong();
    m_hasAudio = event.value(text("hasAudio")).toBool();
    m_hasVideo = event.value(text("hasVideo")).toBool();
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
    // What was held belongs to the place left, and so do the frames the player sent before it
    // had this command.
    dropHeldFrames(false);
    if (m_sound)
        m_sound->clear();
    ++m_timeCommands;
    send({{text("command"), text("time")}, {text("ms"), ms}});
}

void MoviePlayer::setRate(double rate)
{
    if (rate == m_rate)
        return;
    m_rate = rate;
    dropHeldFrames(true);
    if (m_sound) {
        // Paused, the sound held waits; at another rate it is dropped. Backwards there is none.
        if (rate != 0.0 && rate != m_playedRate)
            m_sound->clear();
        if (rate != 0.0)
            m_playedRate = rate;
        m_sound->setPaused(rate <= 0.0);
    }
    ++m_rateCommands;
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
    if (m_sound)
        m_sound->setVolume(volume);
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

void MoviePlayer::simulateSoundFault()
{
    if (m_sound)
        emit m_sound->faulted();
}

void MoviePlayer::probe(const QVariantMap &targets)
{
    QVariantMap command = targets;
    command.insert(text("command"), text("probe"));
    send(command);
}
