// ovn-player FILE MEMORY PARENT: decodes one movie for MoviePlayer (see MoviePlayer.h), over the
// socket it finds as descriptor 3 (see Player_p.h). Run by the program, never by people. FILE is
// the movie's name, which it opens only through the descriptors the program handed over (4 and
// 5); MEMORY is its data limit in bytes (0: none, in sanitizer builds); PARENT the pid of the
// process that started it, whose end ends this one.
//
// The movie's demuxers and decoders run here, not in the program: a movie too large for the limit
// or a fault in a decoder ends this process and costs the program nothing but the movie. It
// presents nothing: frames and sound go back through the socket, and the program draws and plays
// them. Before anything else runs (before its first thread) it gives up what decoding never needs:
// it reads only what `readList` names (the system's libraries and GStreamer's plugin list, never
// the user's files), writes nothing, opens no socket of any kind, starts no programs, traces
// nothing, sees no display, session bus or sound server, and ends with the program.

#include "decoding/ChildConfinement.h"
#include "decoding/DecoderFiles.h"
#include "decoding/MediaDecoder_p.h"
#include "decoding/PlaybackPipeline_p.h"
#include "decoding/Player_p.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QThreadPool>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <thread>

#ifdef OVN_PLAYER_TEST_PROBE
// Test builds: the roads out of the player, tried from the calling thread (Player_probe.cpp).
QStringList playerProbeRoads(const QVariantMap &targets);
#endif

namespace {

QString text(const char *key) { return QString::fromLatin1(key); }

// Everything the player may read, nothing of it written: the system's libraries (GStreamer's
// plugins and the decoders they load among them), what the C library and the processor
// detection read, and GStreamer's list of plugins (the file the program named in GST_REGISTRY).
// The movie is not here: it comes as descriptors.
std::vector<ChildConfinement::Rule> readList()
{
    std::vector<ChildConfinement::Rule> rules;
    const auto read = [&rules](const std::string &path) { rules.push_back({path, true, false, false}); };
    for (const char *path : {"/usr", "/lib", "/lib64", "/etc/ld.so.cache", "/etc/localtime", "/proc/self",
                             "/proc/cpuinfo", "/sys/devices/system/cpu", "/dev/urandom"})
        read(path);
    // That one file, never a folder the name might give.
    struct stat status {};
    if (const char *registry = std::getenv("GST_REGISTRY");
        registry && ::stat(registry, &status) == 0 && S_ISREG(status.st_mode))
        read(registry);
    return rules;
}

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
        connect(&m_pipeline, &PlaybackPipeline::frameChanged, this, [this](const QImage &image) {
            // The frames tell the movie's upright size best.
            if (m_pipeline.isOpen() && m_pipeline.naturalSize() != m_natural)
                state(text("state"));
            m_pending = image;
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
              {text("bytesPerLine"), qint64(image.bytesPerLine())}},
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
    // From this thread, a thread of its own, one of Qt's pool (the frames' scaling runs there) and
    // the next of GStreamer's threads to hand over a frame or sound; answered when all have tried.
    void probe(const QVariantMap &targets)
    {
        QVariantMap outcomes{{text("event"), text("probe")}, {text("main"), playerProbeRoads(targets)}};
        std::thread([&] { outcomes.insert(text("thread"), playerProbeRoads(targets)); }).join();
        QStringList pool;
        QThreadPool::globalInstance()->start([&] { pool = playerProbeRoads(targets); });
        QThreadPool::globalInstance()->waitForDone();
        outcomes.insert(text("pool"), pool);
        m_pipeline.runOnStreamingThread([this, targets, outcomes] {
            const QStringList streaming = playerProbeRoads(targets);
            QMetaObject::invokeMethod(
                this,
                [outcomes, streaming]() mutable {
                    outcomes.insert(text("streaming"), streaming);
                    send(outcomes);
                },
                Qt::QueuedConnection);
        });
    }
#endif

    PlaybackPipeline m_pipeline;
    QSocketNotifier *m_notifier = nullptr;
    QImage m_pending;
    QSize m_natural;           // as last told
    qint64 m_rateCommands = 0; // received: a change of its own tells the program which it followed
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
    if (!ChildConfinement::endWithParent(pid_t(std::atoll(argv[3]))))
        return 2;
    const unsigned long long memory = std::strtoull(argv[2], nullptr, 10);
    std::set_new_handler([] { _exit(PlayerProtocol::exitOutOfMemory); });
    if (memory > 0)
        ChildConfinement::limit(RLIMIT_DATA, memory);
    ChildConfinement::limit(RLIMIT_CORE, 0);
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
    if (ChildConfinement::restrictFiles(readList()) < 0 || !ChildConfinement::filterCalls(false, false))
        return 1;

    // No platform plugin at all: the player draws nothing.
    QCoreApplication application(argc, argv);
    Player player(path);
    return application.exec();
}
