#include "decoding/MoviePlayer.h"
#include "viewers/OVNMovieView.h"
#include "support/TestEnvironment.h"
#include "tests/support/ConfinementRoads.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Makes a small movie with ffmpeg; empty when ffmpeg is not there or fails.
// A rotation is written by a second, copying pass: ffmpeg drops it when encoding.
QString makeMovie(const QTemporaryDir &dir, const QString &name, const QStringList &extra, int rotation = 0)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        return {};
    const QString out = dir.filePath(name);
    const QString encoded = rotation ? dir.filePath("unturned-" + name) : out;
    QStringList args = {"-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25"};
    args += extra;
    args += {"-c:v", "libx264", "-pix_fmt", "yuv420p", encoded};
    QProcess p;
    p.start(ffmpeg, args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return {};
    if (rotation) {
        p.start(ffmpeg, {"-loglevel", "error", "-y", "-i", encoded, "-c", "copy", "-metadata:s:v:0",
                         QStringLiteral("rotate=%1").arg(rotation), out});
        if (!p.waitForFinished(120000) || p.exitCode() != 0)
            return {};
    }
    return out;
}

// A movie of 5 s at 25 frames a second, with sound, whose frame n is grey at 2n: what a frame
// shows tells its place in the movie. Empty when ffmpeg is not there or fails.
QString makeMarkedMovie(const QTemporaryDir &dir)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        return {};
    const QString out = dir.filePath("marked.mp4");
    QProcess p;
    p.start(ffmpeg, {"-loglevel",
                     "error",
                     "-y",
                     "-f",
                     "lavfi",
                     "-i",
                     "color=c=black:size=160x120:rate=25,format=rgb24,geq=r='2*N':g='2*N':b='2*N'",
                     "-f",
                     "lavfi",
                     "-i",
                     "sine=frequency=440",
                     "-t",
                     "5",
                     "-c:v",
                     "libx264",
                     "-pix_fmt",
                     "yuv420p",
                     "-c:a",
                     "aac",
                     out});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return {};
    return out;
}

// The place in the movie of a frame of the marked movie, in ms (a frame either way: the grey
// comes back within 2 of what was encoded).
qint64 markedFrameMs(const QImage &image)
{
    return (qGray(image.pixel(image.width() / 2, image.height() / 2)) + 1) / 2 * 40;
}

struct Movies {
    QTemporaryDir dir;
    QString plain, sound, stereo, rotated, loopShort, marked;
};

const Movies &movies()
{
    static Movies m = [] {
        Movies r;
        r.plain = makeMovie(r.dir, "plain.mp4", {"-t", "3"});
        r.sound = makeMovie(r.dir, "sound.mp4", {"-f", "lavfi", "-i", "sine=frequency=440", "-t", "3", "-c:a", "aac"});
        r.stereo = makeMovie(
            r.dir, "stereo.mp4",
            {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", "2", "-ac", "2", "-c:a", "aac"});
        r.rotated = makeMovie(r.dir, "rotated.mp4", {"-t", "2"}, 90);
        r.loopShort = makeMovie(r.dir, "short.mp4", {"-t", "1"});
        r.marked = makeMarkedMovie(r.dir);
        return r;
    }();
    return m;
}

// What the program's sound output was given, in place of a sound device (there is none here).
struct SoundLog {
    int rate = 0;
    int channels = 0;
    qint64 bytes = 0;
    int starts = 0;
    int clears = 0;
    bool paused = true;
    float volume = 1.0f;
    bool refuse = false;  // start() fails, as a device that takes no such samples
    int refuseAbove = 0;  // ... or none faster than this
    qint64 latencyMs = 0; // how long what it was given still plays
};

class RecordedSound final : public MovieSoundOutput
{
public:
    explicit RecordedSound(std::shared_ptr<SoundLog> log) : m_log(std::move(log)) {}
    bool start(int rate, int channels) override
    {
        ++m_log->starts;
        m_log->rate = rate;
        m_log->channels = channels;
        return !m_log->refuse && (m_log->refuseAbove == 0 || rate <= m_log->refuseAbove);
    }
    void write(const QByteArray &samples) override { m_log->bytes += samples.size(); }
    void clear() override { ++m_log->clears; }
    void setPaused(bool paused) override { m_log->paused = paused; }
    void setVolume(float volume) override { m_log->volume = volume; }
    qint64 latencyMs() const override { return m_log->latencyMs; }

private:
    std::shared_ptr<SoundLog> m_log;
};

// Every player made while it lives plays its sound into `log`; with `device` false there is no
// sound device at all.
struct RecordedSoundOutputs {
    explicit RecordedSoundOutputs(bool device = true)
    {
        previous = MoviePlayer::setSoundOutputs([log = log, device]() -> std::unique_ptr<MovieSoundOutput> {
            if (!device)
                return nullptr;
            return std::make_unique<RecordedSound>(log);
        });
    }
    ~RecordedSoundOutputs() { MoviePlayer::setSoundOutputs(previous); }
    std::shared_ptr<SoundLog> log = std::make_shared<SoundLog>();
    MoviePlayer::SoundOutputs previous;
};

#define REQUIRE_MOVIES()                                                                                               \
    if (movies().plain.isEmpty())                                                                                      \
    GTEST_SKIP() << "ffmpeg cannot make test movies here"

} // namespace

TEST(MoviePlayerTest, OpensWithDurationSizeAndRotation)
{
    REQUIRE_MOVIES();
    EXPECT_EQ(MoviePlayer::chooseBackend(), QStringLiteral("gstreamer"));
    struct Case {
        QString path;
        QSize natural;
        bool audio;
    };
    const Case cases[] = {
        {movies().plain, {320, 240}, false},
        {movies().sound, {320, 240}, true},
        {movies().rotated, {240, 320}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        MoviePlayer player;
        OVNMovieView view;
        view.resize(200, 200);
        view.setMovie(&player);
        QString error;
        ASSERT_TRUE(player.openAndWait(c.path, &error, 60000)) << error.toStdString();
        EXPECT_EQ(player.hasAudio(), c.audio);
        EXPECT_EQ(player.duration().timeScale, 600);
        EXPECT_NEAR(player.duration().seconds(), c.path == movies().rotated ? 2.0 : 3.0, 0.2);
        player.setRate(1);
        ASSERT_TRUE(processEventsUntil([&] { return !player.currentImage().isNull(); }, waitCeilingMs));
        player.setRate(0);
        // Frames come fitted into the view, the movie's own size told apart.
        EXPECT_EQ(player.naturalSize(), c.natural);
        const QSize fitted = c.natural.scaled(QSize(200, 200), Qt::KeepAspectRatio);
        EXPECT_LE(std::abs(player.currentImage().width() - fitted.width()), 1);
        EXPECT_LE(std::abs(player.currentImage().height() - fitted.height()), 1);
        EXPECT_EQ(view.currentImage().size(), player.currentImage().size());
    }
}

TEST(MoviePlayerTest, PlaysPausesGoesBackAndLoops)
{
    REQUIRE_MOVIES();
    MoviePlayer player;
    QString error;
    ASSERT_TRUE(player.openAndWait(movies().plain, &error, 60000)) << error.toStdString();
    player.setRate(1);
    EXPECT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue > 60; }, waitCeilingMs))
        << "position does not advance";
    player.setRate(0);
    EXPECT_EQ(player.rate(), 0.0);
    const qint64 paused = player.currentTime().timeValue;
    processEventsUntil([] { return false; }, 300);
    EXPECT_NEAR(double(player.currentTime().timeValue), double(paused), 60.0) << "paused player moved";

    // Seeks clamp to the movie; a negative rate goes back.
    player.setCurrentTime({10 * 600, 600});
    EXPECT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue > 1500; }, waitCeilingMs));
    player.setCurrentTime({2500, 1000});
    EXPECT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue >= 1400; }, waitCeilingMs));
    player.setRate(-2);
    EXPECT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue < 900; }, waitCeilingMs))
        << "-2x does not go back";
    player.setRate(0);

    MoviePlayer looping;
    ASSERT_TRUE(looping.openAndWait(movies().loopShort, &error, 60000)) << error.toStdString();
    looping.setLooping(true);
    EXPECT_TRUE(looping.isLooping());
    looping.setRate(1);
    qint64 highest = 0;
    bool wrapped = false;
    processEventsUntil(
        [&] {
            const qint64 now = looping.currentTime().timeValue;
            if (now + 150 < highest)
                wrapped = true;
            highest = std::max(highest, now);
            return wrapped;
        },
        waitCeilingMs);
    EXPECT_TRUE(wrapped) << "looping movie did not start over";
    EXPECT_EQ(looping.rate(), 1.0);
}

TEST(MoviePlayerTest, BadFilesFailWithAReason)
{
    QTemporaryDir dir;
    const QString junk = dir.filePath("junk.mp4");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, '\x5a'));
    f.close();
    QStringList paths = {junk, dir.filePath("missing.mov")};
    // A movie that names its streams and ends before their data.
    const QString whole = makeMovie(dir, "whole.mp4", {"-t", "1", "-movflags", "+faststart"});
    if (!whole.isEmpty()) {
        QFile movie(whole);
        ASSERT_TRUE(movie.open(QIODevice::ReadOnly));
        const QByteArray bytes = movie.readAll();
        const qsizetype data = bytes.indexOf("mdat");
        ASSERT_GT(data, 0);
        QFile cut(dir.filePath("cut.mp4"));
        ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
        cut.write(bytes.left(data + 4));
        paths << cut.fileName();
    }
    for (const QString &path : std::as_const(paths)) {
        SCOPED_TRACE(path.toStdString());
        MoviePlayer player;
        QString error;
        EXPECT_FALSE(player.openAndWait(path, &error, 60000));
        EXPECT_FALSE(error.isEmpty());
    }
}

// Ordinary large movies open and play within the player's memory limit: 4K and 8K, 8-bit H.264
// and 10-bit HEVC, to their last frame (white) even where decoding is slower than the movie. One
// that does not fit says so in the memory's words, never stalls. A row whose encoder this ffmpeg
// lacks is skipped.
TEST(MoviePlayerTest, LargeMoviesPlayWithinThePlayersLimit)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        GTEST_SKIP() << "no ffmpeg to make test movies with";
    struct Case {
        const char *name;
        QSize size;
        const char *encoder;
        const char *pixels;
        bool plays;
    };
    const Case cases[] = {
        {"h264-4k.mp4", {3840, 2160}, "libx264", "yuv420p", true},
        {"h264-8k.mp4", {7680, 4320}, "libx264", "yuv420p", true},
        {"hevc10-4k.mp4", {3840, 2160}, "libx265", "yuv420p10le", true},
        // Its reference frames (100 MB each) alone fill most of the limit.
        {"hevc10-8k.mp4", {7680, 4320}, "libx265", "yuv420p10le", false},
    };
    QTemporaryDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QLatin1String(c.name));
        const QString source =
            QStringLiteral("testsrc2=size=%1x%2:rate=25,drawbox=color=white:t=fill:enable='eq(n,11)'")
                .arg(c.size.width())
                .arg(c.size.height());
        QProcess encode;
        encode.start(ffmpeg, {"-loglevel", "error", "-y", "-f", "lavfi", "-i", source, "-frames:v", "12", "-c:v",
                              QLatin1String(c.encoder), "-preset", "ultrafast", "-pix_fmt", QLatin1String(c.pixels),
                              "-x265-params", "log-level=error", path});
        if (!encode.waitForFinished(300000) || encode.exitCode() != 0) {
            // x264 takes no x265 settings; only a missing encoder skips the row.
            encode.start(ffmpeg,
                         {"-loglevel", "error", "-y", "-f", "lavfi", "-i", source, "-frames:v", "12", "-c:v",
                          QLatin1String(c.encoder), "-preset", "ultrafast", "-pix_fmt", QLatin1String(c.pixels), path});
            if (!encode.waitForFinished(300000) || encode.exitCode() != 0) {
                std::printf("skipped %s: ffmpeg has no %s here\n", c.name, c.encoder);
                continue;
            }
        }
        MoviePlayer player;
        player.setFrameBox({640, 480});
        QString error;
        if (!c.plays) {
            EXPECT_FALSE(player.openAndWait(path, &error, 120000));
            EXPECT_EQ(error, QStringLiteral("The movie needs more memory than playing a movie may use."));
            continue;
        }
        ASSERT_TRUE(player.openAndWait(path, &error, 120000)) << error.toStdString();
        EXPECT_EQ(player.naturalSize(), c.size);
        int frames = 0;
        QObject::connect(&player, &MoviePlayer::frameChanged, [&frames] { ++frames; });
        player.setRate(1);
        EXPECT_TRUE(processEventsUntil([&] { return frames >= 3; }, 120000))
            << "frames stopped at " << frames << " (" << player.currentTime().seconds() << " s)";
        EXPECT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue > 0; }, waitCeilingMs));
        // Fitted into the box asked for, its shape kept.
        const QSize fitted = c.size.scaled(QSize(640, 480), Qt::KeepAspectRatio);
        EXPECT_LE(std::abs(player.currentImage().width() - fitted.width()), 1);
        EXPECT_LE(std::abs(player.currentImage().height() - fitted.height()), 1);
        // To its end, where it stops by itself on its last frame: a decoder slower than the movie
        // still shows every frame, late, rather than dropping the rest.
        ASSERT_TRUE(processEventsUntil([&] { return player.rate() == 0.0; }, 120000));
        EXPECT_TRUE(processEventsUntil(
            [&] {
                const QImage image = player.currentImage();
                return qGray(image.pixel(image.width() / 2, image.height() / 2)) > 240;
            },
            waitCeilingMs))
            << "frames stopped at " << frames << "; the last one did not come";
    }
}

TEST(MoviePlayerTest, SoundComesToTheProgramAsSamplesOfTheMoviesRateAndChannels)
{
    REQUIRE_MOVIES();
    struct Case {
        QString path;
        int rate;
        int channels;
        double seconds;
    };
    const Case cases[] = {
        {movies().sound, 44100, 1, 3.0},
        {movies().stereo, 48000, 2, 2.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        RecordedSoundOutputs outputs;
        MoviePlayer player;
        QString error;
        ASSERT_TRUE(player.openAndWait(c.path, &error, 60000)) << error.toStdString();
        EXPECT_TRUE(player.hasAudio());
        EXPECT_TRUE(player.hasAudioOutput());
        EXPECT_FALSE(player.isSoundOff());
        player.setVolume(0.25f);
        player.setRate(1);
        // To its end, where it stops by itself.
        ASSERT_TRUE(processEventsUntil([&] { return player.rate() == 0.0; }, waitCeilingMs));
        EXPECT_EQ(outputs.log->rate, c.rate);
        EXPECT_EQ(outputs.log->channels, c.channels);
        EXPECT_EQ(outputs.log->starts, 1);
        EXPECT_EQ(outputs.log->volume, 0.25f);
        EXPECT_FALSE(outputs.log->paused) << "the sound the output held at the end was cut";
        const double expected = c.seconds * c.rate * c.channels * 2;
        EXPECT_NEAR(double(outputs.log->bytes), expected, expected * 0.1);
        EXPECT_FALSE(player.currentImage().isNull());
    }
}

TEST(MoviePlayerTest, SoundPausesWithThePictureAndFollowsItsRateForwards)
{
    REQUIRE_MOVIES();
    RecordedSoundOutputs outputs;
    const SoundLog &log = *outputs.log;
    MoviePlayer player;
    QString error;
    ASSERT_TRUE(player.openAndWait(movies().sound, &error, 60000)) << error.toStdString();
    EXPECT_TRUE(log.paused) << "sound before playing";
    player.setRate(1);
    ASSERT_TRUE(processEventsUntil([&] { return log.bytes > 44100 / 2; }, waitCeilingMs));
    EXPECT_FALSE(log.paused);

    // The rate the output plays at: the movie's own 44.1 kHz times the playing rate.
    struct Step {
        const char *what;
        std::function<void()> act;
        bool paused;
        bool soundGoesOn;
        int outputRate;
        bool cleared; // what the output held from before is dropped
    };
    const Step steps[] = {
        {"paused", [&] { player.setRate(0); }, true, false, 44100, false},
        {"on again", [&] { player.setRate(1); }, false, true, 44100, false},
        {"twice as fast", [&] { player.setRate(2); }, false, true, 88200, true},
        {"backwards", [&] { player.setRate(-1); }, true, false, 88200, true},
        {"back to the start at rate 1",
         [&] {
             player.setCurrentTime({0, 600});
             player.setRate(1);
         },
         false, true, 44100, true},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        const int clears = log.clears;
        step.act();
        processEventsUntil([] { return false; }, 100); // what was on its way
        const qint64 before = log.bytes;
        processEventsUntil([] { return false; }, 400);
        EXPECT_EQ(log.paused, step.paused);
        EXPECT_EQ(log.bytes > before, step.soundGoesOn);
        EXPECT_EQ(log.rate, step.outputRate);
        EXPECT_EQ(log.clears > clears, step.cleared);
    }
}

TEST(MoviePlayerTest, ARateTheDeviceRefusesIsSilentAndTheSoundComesBackAfter)
{
    REQUIRE_MOVIES();
    RecordedSoundOutputs outputs;
    outputs.log->refuseAbove = 44100;
    MoviePlayer player;
    int turnedOff = 0;
    QObject::connect(&player, &MoviePlayer::soundTurnedOff, [&] { ++turnedOff; });
    QString error;
    ASSERT_TRUE(player.openAndWait(movies().sound, &error, 60000)) << error.toStdString();
    player.setRate(2);
    ASSERT_TRUE(processEventsUntil([&] { return outputs.log->rate == 88200; }, waitCeilingMs));
    processEventsUntil([] { return false; }, 300);
    EXPECT_EQ(outputs.log->bytes, 0);
    player.setRate(1);
    EXPECT_TRUE(processEventsUntil([&] { return outputs.log->bytes > 0; }, waitCeilingMs)) << "the sound stayed off";
    EXPECT_EQ(outputs.log->rate, 44100);
    EXPECT_EQ(turnedOff, 0);
    EXPECT_FALSE(player.isSoundOff());
}

TEST(MoviePlayerTest, FramesWaitForTheSoundTheOutputStillHolds)
{
    REQUIRE_MOVIES();
    RecordedSoundOutputs outputs;
    // Far more than the movie: every frame that comes with sound waits.
    outputs.log->latencyMs = 60000;
    MoviePlayer player;
    QString error;
    ASSERT_TRUE(player.openAndWait(movies().sound, &error, 60000)) << error.toStdString();
    player.setRate(1);
    ASSERT_TRUE(processEventsUntil([&] { return outputs.log->bytes > 0; }, waitCeilingMs));
    int shown = 0;
    QObject::connect(&player, &MoviePlayer::frameChanged, [&] { ++shown; });
    const qint64 at = player.currentTime().timeValue;
    // Half a second of sound (44.1 kHz, 16 bits) played on, the picture and its clock stayed.
    const qint64 halfSecond = 44100;
    qint64 sound = outputs.log->bytes;
    ASSERT_TRUE(processEventsUntil([&] { return outputs.log->bytes > sound + halfSecond; }, waitCeilingMs));
    EXPECT_EQ(shown, 0) << "a frame was shown ahead of its sound";
    EXPECT_EQ(player.currentTime().timeValue, at) << "the clock ran ahead of the picture";
    // Paused, the latest frame shows at once, the clock at its place; so it does when the sound fails.
    player.setRate(0);
    EXPECT_EQ(shown, 1);
    EXPECT_GT(player.currentTime().timeValue, at);
    processEventsUntil([] { return false; }, 200); // frames on their way show at once too
    const int paused = shown;
    player.setRate(1);
    sound = outputs.log->bytes;
    ASSERT_TRUE(processEventsUntil([&] { return outputs.log->bytes > sound + halfSecond; }, waitCeilingMs));
    EXPECT_EQ(shown, paused);
    player.simulateSoundFault();
    EXPECT_TRUE(processEventsUntil([&] { return shown > 2; }, waitCeilingMs)) << "frames stayed held without sound";
}

TEST(MoviePlayerTest, ASoundDeviceFaultCostsTheSoundNotThePicture)
{
    REQUIRE_MOVIES();
    enum When { NoFault, NoDevice, BeforeOpening, WhilePlaying, FormatRefused };
    for (When when : {NoFault, NoDevice, BeforeOpening, WhilePlaying, FormatRefused}) {
        SCOPED_TRACE(int(when));
        RecordedSoundOutputs outputs(when != NoDevice);
        outputs.log->refuse = when == FormatRefused;
        MoviePlayer player;
        int opened = 0, turnedOff = 0;
        QStringList failures;
        QObject::connect(&player, &MoviePlayer::opened, [&] { ++opened; });
        QObject::connect(&player, &MoviePlayer::failed, [&](const QString &reason) { failures << reason; });
        QObject::connect(&player, &MoviePlayer::soundTurnedOff, [&] { ++turnedOff; });

        player.open(movies().sound);
        if (when == BeforeOpening)
            player.simulateSoundFault();
        ASSERT_TRUE(processEventsUntil([&] { return opened > 0 || !failures.isEmpty(); }, waitCeilingMs));
        player.setRate(1);
        ASSERT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue > 300; }, waitCeilingMs));
        const qint64 before = player.currentTime().timeValue;
        const qint64 soundBefore = outputs.log->bytes;
        if (when == WhilePlaying)
            player.simulateSoundFault();
        EXPECT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue > before + 300; }, waitCeilingMs))
            << "the picture stopped with the sound";
        EXPECT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(opened, 1);
        EXPECT_EQ(turnedOff, when == WhilePlaying || when == FormatRefused ? 1 : 0);
        EXPECT_FALSE(player.currentImage().isNull());
        EXPECT_EQ(player.rate(), 1.0);
        EXPECT_EQ(player.isSoundOff(), when != NoFault);
        EXPECT_EQ(player.hasAudioOutput(), when != NoDevice);
        if (when == WhilePlaying) {
            EXPECT_LE(outputs.log->bytes - soundBefore, 44100 * 2 / 5) << "sound went on to a failed device";
        }
    }
}

namespace {

// A listener at `name` (abstract when it starts with '@'); -1 when it cannot be made.
int listenAt(const QByteArray &name)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    if (name.startsWith('@'))
        address.sun_path[0] = '\0';
    if (fd < 0
        || ::bind(fd, reinterpret_cast<const sockaddr *>(&address),
                  socklen_t(offsetof(sockaddr_un, sun_path) + size_t(name.size())))
               != 0
        || ::listen(fd, 4) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// Whether anyone connected to the listener.
bool called(int listener)
{
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

// Every road out of a decoding child (the table all their tests share), tried inside the player
// while it plays, from its main thread, a Qt pool thread, a new thread and a GStreamer streaming
// thread; with Landlock made to look absent, the filter alone refuses every write, removal,
// creation, program start, signal, socket and IPC. The player still plays after.
TEST(MoviePlayerTest, EveryRoadOutOfThePlayerIsRefusedFromEveryKindOfThread)
{
    REQUIRE_MOVIES();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const auto written = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    };
    // The roads make, change and read files beside this one, and reach for a home folder there.
    const QString probe = written(folder.filePath("probe.mp4"), "movie");
    const QString kept = written(probe + ".kept", "kept");
    const QString removable = written(probe + ".removable", "removable");
    written(probe + ".private", "private");
    ASSERT_TRUE(QDir(folder.path()).mkdir("home"));
    written(folder.filePath("home/.pgpass"), "localhost:5432:*:me:secret");
    const int listener = listenAt(QFile::encodeName(probe + ".sock"));
    ASSERT_GE(listener, 0);
    const bool landlock = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, 1 /* its version */) > 0;

    for (const bool withLandlock : {true, false}) {
        if (withLandlock && !landlock)
            continue;
        SCOPED_TRACE(withLandlock ? "with Landlock" : "Landlock absent");
        if (!withLandlock)
            qputenv("OVN_DECODER_TEST_NO_LANDLOCK", "1");
        // The program's own display and session bus stay its own.
        const QByteArray display = qgetenv("DISPLAY"), bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DISPLAY", ":99");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/tmp/.X11-unix/X99");
        MoviePlayer player;
        QString error;
        const bool opened = player.openAndWait(movies().plain, &error, 60000);
        for (const auto &[name, value] : {std::pair{"DISPLAY", display}, std::pair{"DBUS_SESSION_BUS_ADDRESS", bus}})
            value.isEmpty() ? qunsetenv(name) : qputenv(name, value);
        qunsetenv("OVN_DECODER_TEST_NO_LANDLOCK");
        ASSERT_TRUE(opened) << error.toStdString();
        QVariantMap answer;
        QObject::connect(&player, &MoviePlayer::probed, [&](const QVariantMap &outcomes) { answer = outcomes; });
        // GStreamer's threads answer while it plays.
        player.setRate(1);
        player.probe({{"file", probe}});
        ASSERT_TRUE(processEventsUntil([&] { return !answer.isEmpty(); }, waitCeilingMs))
            << "the player did not answer";
        QMap<QString, QString> tried =
            confinementroads::outcomes(answer.value("damage").toString().split(QLatin1Char(',')));
        for (const char *thread : {"main thread", "pool thread", "new thread", "streaming thread"}) {
            for (const confinementroads::Road &road : confinementroads::roads) {
                const QString outcome = tried.take(confinementroads::key(road.name, thread));
                // The kernel exempts root from every task cap (ChildConfinementTest tries the
                // player's cap as an unprivileged account); without Landlock a read may go through.
                const bool capExempt = ::geteuid() == 0 && qstrcmp(road.name, "3000 threads") == 0;
                if ((withLandlock || road.closedByFilter) && !capExempt) {
                    EXPECT_EQ(outcome.toStdString(), "refused") << road.name << " from the " << thread;
                }
            }
            EXPECT_EQ(tried.take(confinementroads::key("reading", thread)).toStdString(), "taken") << thread;
        }
        for (const char *name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
            EXPECT_EQ(tried.take(QStringLiteral("%1 in the environment (main thread)").arg(QLatin1String(name)))
                          .toStdString(),
                      "refused");
        EXPECT_TRUE(tried.isEmpty()) << "roads this test does not know: " << qPrintable(tried.keys().join(u','));
        EXPECT_FALSE(called(listener));
        QFile keptFile(kept);
        ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
        EXPECT_EQ(keptFile.readAll(), QByteArray("kept"));
        EXPECT_TRUE(QFile::exists(removable));
        for (const char *made : {".written", ".creat", ".folder", ".link", ".renamed"})
            EXPECT_FALSE(QFile::exists(probe + QLatin1String(made))) << made;

        // It still plays: a frame comes after the probe.
        const QImage before = player.currentImage();
        player.setCurrentTime({0, Movie::movieTimeScale});
        EXPECT_TRUE(
            processEventsUntil([&] { return player.currentImage().cacheKey() != before.cacheKey(); }, waitCeilingMs));
        EXPECT_FALSE(player.currentImage().isNull());
    }
    ::close(listener);
}

// At every rate the frames of that rate show while it plays, some left out where they cannot all
// be held, to the movie's last frame (or, backwards, its first), and the clock tells the place of
// the frame shown within 0.2 s: whatever the sound output holds (frames wait for it), forwards and
// backwards, faster and slower. An output holding more than the frames held could cover froze the
// picture at rate 2 while the clock ran on; at rate 1 the clock ran ahead of the picture by what it
// held.
TEST(MoviePlayerTest, EveryRateShowsItsFramesWithTheClockAtTheFrameShown)
{
    REQUIRE_MOVIES();
    if (movies().marked.isEmpty())
        GTEST_SKIP() << "ffmpeg cannot make the marked movie here";
    struct Case {
        double rate;
        qint64 latencyMs; // what the sound output holds
        qint64 fromMs;
        int leastFrames; // different frames shown while it plays, at least (a loaded machine skips some)
    };
    const Case cases[] = {
        {2, 0, 0, 30},        {2, 1500, 0, 10},  {1, 1000, 2500, 15},
        {0.5, 300, 3500, 15}, {-2, 0, 4500, 20}, {-0.5, 0, 1000, 10},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("rate %1, output holding %2 ms").arg(c.rate).arg(c.latencyMs).toStdString());
        RecordedSoundOutputs outputs;
        outputs.log->latencyMs = c.latencyMs;
        MoviePlayer player;
        QString error;
        ASSERT_TRUE(player.openAndWait(movies().marked, &error, 60000)) << error.toStdString();
        player.setCurrentTime({c.fromMs * 6 / 10, Movie::movieTimeScale});
        ASSERT_TRUE(processEventsUntil([&] { return std::abs(markedFrameMs(player.currentImage()) - c.fromMs) <= 80; },
                                       waitCeilingMs));
        const auto clockMs = [&] { return player.currentTime().timeValue * 1000 / Movie::movieTimeScale; };
        std::vector<qint64> shown; // the places of the frames shown, in order
        int moving = 0;            // different frames shown while it played
        qint64 worst = 0;          // the clock's distance from the frame shown
        QObject::connect(&player, &MoviePlayer::frameChanged, [&](const QImage &image) {
            const qint64 ms = markedFrameMs(image);
            if (player.rate() != 0.0 && (shown.empty() || shown.back() != ms))
                ++moving;
            shown.push_back(ms);
            worst = std::max(worst, std::abs(clockMs() - ms));
        });
        QObject::connect(&player, &MoviePlayer::timeChanged, [&] {
            if (!shown.empty() && player.rate() != 0.0)
                worst = std::max(worst, std::abs(clockMs() - shown.back()));
        });
        player.setRate(c.rate);
        // To the last frame (backwards, the first), held frames and all.
        const qint64 lastMs = c.rate > 0 ? 4960 : 0;
        ASSERT_TRUE(
            processEventsUntil([&] { return !shown.empty() && std::abs(shown.back() - lastMs) <= 40; }, waitCeilingMs))
            << "frames stopped at " << (shown.empty() ? -1 : shown.back()) << " ms";
        EXPECT_LE(worst, 200) << "the clock and the picture parted";
        EXPECT_GE(moving, c.leastFrames) << "the picture stood still while the movie played";
        // Each frame on from the one before (within the marks' error), in the rate's direction.
        for (size_t i = 1; i < shown.size(); ++i)
            EXPECT_GE((shown[i] - shown[i - 1]) * (c.rate > 0 ? 1 : -1), -40) << "frame " << i << " went back";
        // Stopped at its end, the clock there.
        EXPECT_TRUE(processEventsUntil([&] { return player.rate() == 0.0; }, waitCeilingMs));
        EXPECT_NEAR(double(clockMs()), double(c.rate > 0 ? 5000 : 0), 200.0);
    }
}

// Paused after going backwards, a movie with sound goes on forwards from the picture shown, and
// its clock says so, where GStreamer's own position stays where it started backwards.
TEST(MoviePlayerTest, ForwardsAfterBackwardsGoesOnFromThePictureShown)
{
    REQUIRE_MOVIES();
    if (movies().marked.isEmpty())
        GTEST_SKIP() << "ffmpeg cannot make the marked movie here";
    RecordedSoundOutputs outputs;
    MoviePlayer player;
    QString error;
    ASSERT_TRUE(player.openAndWait(movies().marked, &error, 60000)) << error.toStdString();
    player.setCurrentTime({4500 * 6 / 10, Movie::movieTimeScale});
    ASSERT_TRUE(processEventsUntil([&] { return markedFrameMs(player.currentImage()) >= 4400; }, waitCeilingMs));
    std::vector<qint64> shown;
    QObject::connect(&player, &MoviePlayer::frameChanged,
                     [&](const QImage &image) { shown.push_back(markedFrameMs(image)); });
    player.setRate(-2);
    ASSERT_TRUE(processEventsUntil([&] { return !shown.empty() && shown.back() <= 3000; }, waitCeilingMs));
    player.setRate(0);
    const qint64 paused = markedFrameMs(player.currentImage());
    const qint64 clock = player.currentTime().timeValue * 1000 / Movie::movieTimeScale;
    EXPECT_LE(std::abs(clock - paused), 200);
    shown.clear();
    player.setRate(1);
    ASSERT_TRUE(processEventsUntil([&] { return shown.size() >= 5; }, waitCeilingMs));
    for (const qint64 ms : shown)
        EXPECT_LE(std::abs(ms - paused), 400) << "paused at " << paused << " ms";
}

// A seek while the movie plays shows no frame of the place it left (one the player had taken or
// sent before it had the seek), and the clock never goes back there.
TEST(MoviePlayerTest, ASeekWhilePlayingShowsNoFrameOfThePlaceLeft)
{
    REQUIRE_MOVIES();
    if (movies().marked.isEmpty())
        GTEST_SKIP() << "ffmpeg cannot make the marked movie here";
    MoviePlayer player;
    QString error;
    ASSERT_TRUE(player.openAndWait(movies().marked, &error, 60000)) << error.toStdString();
    std::vector<std::pair<qint64, qint64>> shown; // each frame's place and the clock then
    QObject::connect(&player, &MoviePlayer::frameChanged, [&](const QImage &image) {
        shown.emplace_back(markedFrameMs(image), player.currentTime().timeValue * 1000 / Movie::movieTimeScale);
    });
    player.setRate(1);
    for (const qint64 target : {4000, 500, 3000, 1000, 4200, 200, 2500, 600}) {
        SCOPED_TRACE(target);
        ASSERT_TRUE(processEventsUntil([&] { return shown.size() >= 2; }, waitCeilingMs));
        shown.clear();
        player.setCurrentTime({target * 6 / 10, Movie::movieTimeScale});
        ASSERT_TRUE(processEventsUntil([&] { return shown.size() >= 3; }, waitCeilingMs));
        for (const auto &[ms, clock] : shown) {
            EXPECT_GE(ms, target - 80) << "a frame of the place left";
            EXPECT_LE(ms, target + 800) << "a frame of the place left";
            EXPECT_GE(clock, target - 80) << "the clock went back to the place left";
        }
    }
}
