// ovn-player FILE MEMORY PARENT: decodes one movie for MoviePlayer (see MoviePlayer.h), over the
// socket it finds as descriptor 3 (see Player_p.h). Run by the program, never by people. FILE is
// the movie's name, which it opens only through the descriptors the program handed over (4 and
// 5); MEMORY is its data limit in bytes (0: none, in sanitizer builds); PARENT the pid of the
// process that started it, whose end ends this one.
//
// The movie's demuxers and decoders run here, not in the program: a movie too large for the limit
// or a fault in a decoder ends this process and costs the program nothing but the movie. It
// presents nothing: frames and sound go back through the socket, and the program draws and plays
// them. Before anything else runs (before its first thread, GStreamer's and Qt's included) it
// confines itself by its allowances (PlayerConfinement_p.h, an allow-list): it reads only the
// system's libraries and GStreamer's plugin list, never the user's files; writes nothing, opens no
// socket of any kind, starts no programs, signals and traces nothing outside itself, sees no
// display, session bus or sound server, holds at most its memory and threads, and ends with the
// program whatever it does to its own settings.

#include "decoding/ChildConfinement.h"
#include "decoding/DecoderFiles.h"
#include "decoding/MediaDecoder_p.h"
#include "decoding/PlaybackPipeline_p.h"
#include "decoding/PlayerConfinement_p.h"
#include "decoding/Player_p.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QThreadPool>

#include <fcntl.h>
#include <malloc.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <thread>

#ifdef OVN_PLAYER_TEST_PROBE
#include "decoding/DecoderSandbox.h"
#endif

namespace {

QString text(const char *key) { return QString::fromLatin1(key); }

bool send(const QVariantMap &map, const char *payload = nullptr, qint64 size = 0)
{
    const QByteArray body = DecoderProtocol::encode(map);
    const quint32 length = quint32(body.size());
    const int fd = PlayerProtocol::socketDescriptor;
    return DecoderProtocol::writeAll(fd, reinterpret_cast<const char *>(&length), sizeof length)
           && DecoderProtocol::writeAll(fd, body.constData(), body.size())
           && (size == 0 || DecoderProtocol::writeAll(fd, payload, size));
}

class Player : public QObject
{
public:
    explicit Player(const QString &path)
    {
        connect(&m_pipeline, &PlaybackPipeline::opened, this, [this] { state(text("opened")); });
        connect(&m_pipeline, &PlaybackPipeline::failed, this, [](const QString &reason) {
            send({{text("event"), text("failed")}, {text("reason"), reason}});
        });
        connect(&m_pipeline, &PlaybackPipeline::frameChanged, this, [this](const QImage &image, qint64 ms) {
            // The frames tell the movie's upright size best.
            if (m_pipeline.isOpen() && m_pipeline.naturalSize() != m_natural)
                state(text("state"));
            m_pending = image;
            m_pendingMs = ms;
            m_pendingSeeks = m_pipeline.seeks();
            m_pendingPlaces = m_timeCommands;
            sendFrame();
        });
        connect(&m_pipeline, &PlaybackPipeline::sound, this,
                [](const QByteArray &pcm, int rate, int channels, qint64 ms) {
                    for (qsizetype at = 0; at < pcm.size(); at += PlayerProtocol::maxSoundBytes) {
                        const qsizetype size = std::min<qsizetype>(pcm.size() - at, PlayerProtocol::maxSoundBytes);
                        send({{text("event"), text("sound")},
                              {text("rate"), rate},
                              {text("channels"), channels},
                              {text("ms"), ms},
                              {text("bytes"), qint64(size)}},
                             pcm.constData() + at, size);
                    }
                });
        connect(&m_pipeline, &PlaybackPipeline::rateChanged, this, [this](double rate) {
            // Only what the movie did by itself: the program knows the rates it set.
            if (!m_settingRate)
                send({{text("event"), text("rate")}, {text("rate"), rate}, {text("after"), m_rateCommands}});
        });
        connect(&m_pipeline, &PlaybackPipeline::timeChanged, this, [this] {
            send({{text("event"), text("time")},
                  {text("ms"), m_pipeline.currentTime().timeValue * 1000 / Movie::movieTimeScale}});
        });
        connect(&m_pipeline, &PlaybackPipeline::durationChanged, this, [this] { state(text("state")); });
        m_pipeline.setFrameBox(QSize(PlayerProtocol::maxFrameSide, PlayerProtocol::maxFrameSide));
        m_notifier = new QSocketNotifier(PlayerProtocol::socketDescriptor, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &Player::receive);
        m_pipeline.open(path);
    }

private:
    void state(const QString &event)
    {
        const QSize natural = m_pipeline.naturalSize();
        m_natural = natural;
        send({{text("event"), event},
              {text("durationMs"), m_pipeline.duration().timeValue * 1000 / Movie::movieTimeScale},
              {text("hasAudio"), m_pipeline.hasAudio()},
              {text("hasVideo"), m_pipeline.hasVideo()},
              {text("rotation"), m_pipeline.rotationAngle()},
              {text("naturalWidth"), natural.width()},
              {text("naturalHeight"), natural.height()}});
    }

    void sendFrame()
    {
        // One that waited while the movie went elsewhere is of the place left.
        if (!m_pending.isNull() && m_pendingSeeks != m_pipeline.seeks())
            m_pending = QImage();
        if (!m_taken || m_pending.isNull())
            return;
        QImage image = std::move(m_pending);
        m_pending = QImage();
        if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32_Premultiplied)
            image = std::move(image).convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                             : QImage::Format_RGB32);
        m_taken = false;
        send({{text("event"), text("frame")},
              {text("width"), image.width()},
              {text("height"), image.height()},
              {text("format"), int(image.format())},
              {text("bytesPerLine"), qint64(image.bytesPerLine())},
              {text("ms"), m_pendingMs},
              {text("places"), m_pendingPlaces}},
             reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
    }

    void receive()
    {
        quint32 length = 0;
        if (!DecoderProtocol::readAll(PlayerProtocol::socketDescriptor, reinterpret_cast<char *>(&length),
                                      sizeof length)
            || length > DecoderProtocol::maxMapBytes) {
            QCoreApplication::exit(0);
            return;
        }
        QByteArray body(qsizetype(length), Qt::Uninitialized);
        if (!DecoderProtocol::readAll(PlayerProtocol::socketDescriptor, body.data(), length)) {
            QCoreApplication::exit(0);
            return;
        }
        const QVariantMap command = DecoderProtocol::decode(body);
        const QString what = command.value(text("command")).toString();
        if (what == QLatin1String("rate")) {
            ++m_rateCommands;
            m_settingRate = true;
            m_pipeline.setRate(command.value(text("rate")).toDouble());
            m_settingRate = false;
        } else if (what == QLatin1String("time")) {
            ++m_timeCommands;
            m_pipeline.setCurrentTime(
                {command.value(text("ms")).toLongLong() * Movie::movieTimeScale / 1000, Movie::movieTimeScale});
        } else if (what == QLatin1String("loop")) {
            m_pipeline.setLooping(command.value(text("on")).toBool());
        } else if (what == QLatin1String("sound")) {
            m_pipeline.setSoundWanted(command.value(text("on")).toBool());
        } else if (what == QLatin1String("box")) {
            const QSize box(command.value(text("width")).toInt(), command.value(text("height")).toInt());
            m_pipeline.setFrameBox(box.isValid() && !box.isEmpty()
                                       ? box.boundedTo({PlayerProtocol::maxFrameSide, PlayerProtocol::maxFrameSide})
                                       : QSize(PlayerProtocol::maxFrameSide, PlayerProtocol::maxFrameSide));
        } else if (what == QLatin1String("next")) {
            m_taken = true;
            sendFrame();
        }
#ifdef OVN_PLAYER_TEST_PROBE
        else if (what == QLatin1String("probe"))
            probe(command);
#endif
    }

#ifdef OVN_PLAYER_TEST_PROBE
    // The roads every decoding child's probe tries (DecoderSandbox::tryRoads), from this thread,
    // one of Qt's pool (the frames' scaling runs there), a thread of its own and the next of
    // GStreamer's threads to hand over a frame or sound; answered when all have tried. `file` is
    // the test's file beside which the roads make, change and read files.
    void probe(const QVariantMap &targets)
    {
        const QString file = targets.value(text("file")).toString();
        const pid_t parent = ::getppid();
        QStringList outcomes = DecoderSandbox::tryRoads(file, parent, "main thread");
        // Nothing the program had in its environment to reach a display or a session bus by.
        for (const char *name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
            outcomes << QStringLiteral("%1 in the environment (main thread): %2")
                            .arg(QLatin1String(name),
                                 qEnvironmentVariableIsEmpty(name) ? text("refused") : text("taken"));
        QThreadPool::globalInstance()->start(
            [&] { outcomes << DecoderSandbox::tryRoads(file, parent, "pool thread"); });
        QThreadPool::globalInstance()->waitForDone();
        std::thread([&] { outcomes << DecoderSandbox::tryRoads(file, parent, "new thread"); }).join();
        m_pipeline.runOnStreamingThread([this, file, parent, outcomes] {
            const QStringList streaming = DecoderSandbox::tryRoads(file, parent, "streaming thread");
            QMetaObject::invokeMethod(
                this,
                [outcomes, streaming] {
                    send({{text("event"), text("probe")}, {text("damage"), (outcomes + streaming).join(u',')}});
                },
                Qt::QueuedConnection);
        });
    }
#endif

    PlaybackPipeline m_pipeline;
    QSocketNotifier *m_notifier = nullptr;
    QImage m_pending;
    qint64 m_pendingMs = -1;    // its place in the movie
    int m_pendingSeeks = 0;     // the seeks begun before it came
    qint64 m_pendingPlaces = 0; // the time commands received before it came
    QSize m_natural;            // as last told
    qint64 m_rateCommands = 0;  // received: a change of its own tells the program which it followed
    qint64 m_timeCommands = 0;  // received: a frame tells the program which place it is of
    bool m_taken = true;
    bool m_settingRate = false;
};

} // namespace

// The player may make no socket, not even a pair (its filter refuses the call). GStreamer makes a
// pair of local sockets for each of its wake-ups, writes a byte into one end and reads it from
// the other: a pipe does the same, and is what it gets here.
extern "C" int socketpair(int domain, int type, int, int ends[2])
{
    if (domain != AF_UNIX || (type & 0xf) != SOCK_STREAM) {
        errno = EPERM;
        return -1;
    }
    return ::pipe2(ends, ((type & SOCK_CLOEXEC) ? O_CLOEXEC : 0) | ((type & SOCK_NONBLOCK) ? O_NONBLOCK : 0));
}

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    const unsigned long long memory = std::strtoull(argv[2], nullptr, 10);
    const pid_t parent = pid_t(std::atoll(argv[3]));
    std::set_new_handler([] { _exit(PlayerProtocol::exitOutOfMemory); });
    // A few of the allocator's arenas, not eight per processor: each reserves 64 MiB of the
    // address space that the limit counts.
    mallopt(M_ARENA_MAX, 4);
    // Nothing the program had open but the socket and the movie.
    constexpr int afterFiles = PlayerProtocol::firstFileDescriptor + PlayerProtocol::fileDescriptors;
    ::syscall(SYS_close_range, afterFiles, ~0U, 0);
    std::vector<int> files;
    for (int fd = PlayerProtocol::firstFileDescriptor; fd < afterFiles; ++fd)
        files.push_back(fd);
    DecoderFiles::hold(files);
    // No display, session bus or sound server to find, whatever the environment said.
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"})
        ::unsetenv(name);
    const QString path = QFile::decodeName(argv[1]);
    // Confined while it has one thread, before GStreamer and Qt start theirs: every thread the
    // player ever runs is held by the same boundaries.
    if (ChildConfinement::confine(PlayerConfinement::allowances(memory, parent)) == ChildConfinement::Confined::Failed)
        return 1;

    // No platform plugin at all: the player draws nothing.
    QCoreApplication application(argc, argv);
    Player player(path);
    return application.exec();
}
