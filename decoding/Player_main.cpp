// ovn-player FILE MEMORY PARENT: plays one movie for MoviePlayer (see MoviePlayer.h), over the
// socket it finds as descriptor 3 (see Player_p.h). Run by the program, never by people. MEMORY is
// its data limit in bytes (0: none, in sanitizer builds); PARENT the pid of the process that
// started it, whose end ends this one.
//
// The movie's demuxers and decoders run here, not in the program: a movie too large for the limit
// or a fault in a decoder ends this process and costs the program nothing but the movie. Before it
// opens the movie it gives up what playing never needs: it writes no file (but to the sound
// devices), reads nothing of the user's but the movie and what the sound system needs, opens no
// network connection (local sockets stay, for the sound server), starts no programs, traces
// nothing, and ends with the program.

#include "decoding/ChildConfinement.h"
#include "decoding/MediaDecoder_p.h"
#include "decoding/PlaybackPipeline_p.h"
#include "decoding/Player_p.h"

#include <QFile>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

namespace {

QString text(const char *key) { return QString::fromLatin1(key); }

bool send(const QVariantMap &map, const QImage &image = QImage())
{
    const QByteArray body = DecoderProtocol::encode(map);
    const quint32 length = quint32(body.size());
    const int fd = PlayerProtocol::socketDescriptor;
    return DecoderProtocol::writeAll(fd, reinterpret_cast<const char *>(&length), sizeof length)
           && DecoderProtocol::writeAll(fd, body.constData(), body.size())
           && (image.isNull()
               || DecoderProtocol::writeAll(fd, reinterpret_cast<const char *>(image.constBits()),
                                            image.sizeInBytes()));
}

// The home's folders the sound system and GStreamer's plugin list live in.
std::vector<ChildConfinement::Rule> rulesFor(const QString &movie)
{
    using Rule = ChildConfinement::Rule;
    const auto path = [](const QString &name) { return QFile::encodeName(name).toStdString(); };
    std::vector<Rule> rules = {
        {path(movie), true, false, false}, {"/usr", true, false, false},        {"/lib", true, false, false},
        {"/lib64", true, false, false},    {"/etc", true, false, false},        {"/proc/self", true, false, false},
        {"/sys", true, false, false},      {"/dev/null", true, false, true},    {"/dev/snd", true, false, true},
        {"/dev/shm", true, false, true},   {"/dev/urandom", true, false, false}};
    // The program's own folder, where the movie readers' module lies beside it (installed, in
    // lib/ostrevan).
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
        const std::string folder = std::string(self).substr(0, std::string(self).rfind('/'));
        rules.push_back({folder, true, false, false});
        rules.push_back({folder + "/../lib/ostrevan", true, false, false});
    }
    const QString home = qEnvironmentVariable("HOME");
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME", home + QStringLiteral("/.cache"));
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!home.isEmpty()) {
        rules.push_back({path(cache + QStringLiteral("/gstreamer-1.0")), true, false, false});
        rules.push_back({path(home + QStringLiteral("/.config/pulse")), true, false, false});
        rules.push_back({path(home + QStringLiteral("/.asoundrc")), true, false, false});
    }
    if (!runtime.isEmpty()) {
        rules.push_back({path(runtime + QStringLiteral("/pulse")), true, false, true});
        rules.push_back({path(runtime + QStringLiteral("/pipewire-0")), true, false, true});
    }
    return rules;
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
            if (m_pipeline.naturalSize() != m_natural)
                state(text("state"));
            m_pending = image;
            sendFrame();
        });
        connect(&m_pipeline, &PlaybackPipeline::rateChanged, this, [this](double rate) {
            // Only what the movie did by itself: the program knows the rates it set.
            if (!m_settingRate)
                send({{text("event"), text("rate")}, {text("rate"), rate}});
        });
        connect(&m_pipeline, &PlaybackPipeline::timeChanged, this, [this] {
            send({{text("event"), text("time")},
                  {text("ms"), m_pipeline.currentTime().timeValue * 1000 / Movie::movieTimeScale}});
        });
        connect(&m_pipeline, &PlaybackPipeline::durationChanged, this, [this] { state(text("state")); });
        connect(&m_pipeline, &PlaybackPipeline::soundTurnedOff, this, [this] {
            state(text("state"));
            send({{text("event"), text("soundTurnedOff")}});
        });
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
              {text("hasAudioOutput"), m_pipeline.hasAudioOutput()},
              {text("soundOff"), m_pipeline.isSoundOff()},
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
             image);
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
            m_settingRate = true;
            m_pipeline.setRate(command.value(text("rate")).toDouble());
            m_settingRate = false;
        } else if (what == QLatin1String("time")) {
            m_pipeline.setCurrentTime(
                {command.value(text("ms")).toLongLong() * Movie::movieTimeScale / 1000, Movie::movieTimeScale});
        } else if (what == QLatin1String("loop")) {
            m_pipeline.setLooping(command.value(text("on")).toBool());
        } else if (what == QLatin1String("volume")) {
            m_pipeline.setVolume(command.value(text("volume")).toFloat());
        } else if (what == QLatin1String("box")) {
            const QSize box(command.value(text("width")).toInt(), command.value(text("height")).toInt());
            m_pipeline.setFrameBox(box.isValid() && !box.isEmpty()
                                       ? box.boundedTo({PlayerProtocol::maxFrameSide, PlayerProtocol::maxFrameSide})
                                       : QSize(PlayerProtocol::maxFrameSide, PlayerProtocol::maxFrameSide));
        } else if (what == QLatin1String("next")) {
            m_taken = true;
            sendFrame();
        } else if (what == QLatin1String("soundFault")) {
            m_pipeline.simulateSoundFault();
        }
    }

    PlaybackPipeline m_pipeline;
    QSocketNotifier *m_notifier = nullptr;
    QImage m_pending;
    QSize m_natural; // as last told
    bool m_taken = true;
    bool m_settingRate = false;
};

} // namespace

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
    // Nothing the program had open but the socket.
    ::syscall(SYS_close_range, PlayerProtocol::socketDescriptor + 1, ~0U, 0);
    const QString path = QFile::decodeName(argv[1]);
    if (ChildConfinement::restrictFiles(rulesFor(path)) < 0 || !ChildConfinement::filterCalls(true, false))
        return 1;

    QGuiApplication application(argc, argv);
    Player player(path);
    return application.exec();
}
