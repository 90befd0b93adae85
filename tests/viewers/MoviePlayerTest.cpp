#include "decoding/MoviePlayer.h"
#include "viewers/OVNMovieView.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

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

struct Movies {
    QTemporaryDir dir;
    QString plain, sound, rotated, loopShort;
};

const Movies &movies()
{
    static Movies m = [] {
        Movies r;
        r.plain = makeMovie(r.dir, "plain.mp4", {"-t", "3"});
        r.sound = makeMovie(r.dir, "sound.mp4", {"-f", "lavfi", "-i", "sine=frequency=440", "-t", "3", "-c:a", "aac"});
        r.rotated = makeMovie(r.dir, "rotated.mp4", {"-t", "2"}, 90);
        r.loopShort = makeMovie(r.dir, "short.mp4", {"-t", "1"});
        return r;
    }();
    return m;
}

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
        ASSERT_TRUE(processEventsUntil([&] { return !player.currentImage().isNull(); }, 30000));
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
    EXPECT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue > 60; }, 30000))
        << "position does not advance";
    player.setRate(0);
    EXPECT_EQ(player.rate(), 0.0);
    const qint64 paused = player.currentTime().timeValue;
    processEventsUntil([] { return false; }, 300);
    EXPECT_NEAR(double(player.currentTime().timeValue), double(paused), 60.0) << "paused player moved";

    // Seeks clamp to the movie; a negative rate goes back.
    player.setCurrentTime({10 * 600, 600});
    EXPECT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue > 1500; }, 30000));
    player.setCurrentTime({2500, 1000});
    EXPECT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue >= 1400; }, 30000));
    player.setRate(-2);
    EXPECT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue < 900; }, 30000))
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
        30000);
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
    for (const QString &path : {junk, dir.filePath("missing.mov")}) {
        MoviePlayer player;
        QString error;
        EXPECT_FALSE(player.openAndWait(path, &error, 60000));
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(MoviePlayerTest, ASoundSystemFaultCostsTheSoundNotThePicture)
{
    REQUIRE_MOVIES();
    // No sound server to be reached, as on a desktop without one.
    qputenv("PULSE_SERVER", "unix:/nonexistent/pulse");
    enum When { NoFault, BeforeOpening, WhilePlaying };
    for (When when : {NoFault, BeforeOpening, WhilePlaying}) {
        SCOPED_TRACE(int(when));
        MoviePlayer player;
        int opened = 0, turnedOff = 0;
        QStringList failures;
        QObject::connect(&player, &MoviePlayer::opened, [&] { ++opened; });
        QObject::connect(&player, &MoviePlayer::failed, [&](const QString &reason) { failures << reason; });
        QObject::connect(&player, &MoviePlayer::soundTurnedOff, [&] { ++turnedOff; });
        // What GStreamer reports when its sound sink cannot start, told twice as it does.
        const auto soundFault = [&player] { player.simulateSoundFault(); };

        player.open(movies().sound);
        if (when == BeforeOpening)
            soundFault();
        ASSERT_TRUE(processEventsUntil([&] { return opened > 0 || !failures.isEmpty(); }, 60000));
        player.setRate(1);
        ASSERT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue > 300; }, 30000));
        qint64 before = player.currentTime().timeValue;
        if (when == WhilePlaying) {
            soundFault();
            EXPECT_TRUE(processEventsUntil([&] { return player.currentTime().timeValue > before + 300; }, 30000))
                << "the picture stopped with the sound";
        }
        EXPECT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(opened, 1);
        EXPECT_EQ(turnedOff, when == WhilePlaying ? 1 : 0);
        EXPECT_FALSE(player.currentImage().isNull());
        EXPECT_EQ(player.rate(), 1.0);
        if (when != NoFault || MoviePlayer::audioDeviceName().isEmpty()) {
            EXPECT_TRUE(player.isSoundOff());
        }
    }
}
