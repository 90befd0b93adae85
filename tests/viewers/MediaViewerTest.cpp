#include "viewers/OVNMediaViewer.h"

#include "support/ScriptedAlertPresenter.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QProcess>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <functional>

namespace {

bool waitUntil(const std::function<bool()> &done, int ms = 30000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace

TEST(MediaViewerTest, WindowSizeKeepsAspectAndFitsBothWays)
{
    struct Case { QSize natural; int controller; QSize available; QSize expected; };
    const Case cases[] = {
        {{640, 480}, 30, {1920, 1080}, {640, 510}},     // fits: natural size plus the controller
        {{3840, 2160}, 30, {1920, 1080}, {1866, 1080}}, // too wide and tall: scaled to the height
        {{4000, 300}, 30, {1920, 1080}, {1920, 174}},   // too wide only: scaled to the screen's width
        {{0, 0}, 30, {1920, 1080}, {320, 270}},         // no picture yet (sound): a small window
    };
    for (const Case &c : cases)
        EXPECT_EQ(OVNMediaViewer::windowSizeFor(c.natural, c.controller, c.available), c.expected)
            << c.natural.width() << "x" << c.natural.height();
}

TEST(MediaViewerTest, StripKnobAndTimesStayOnTheMovie)
{
    const MovieTime tenSeconds{6000, 600};
    struct Case { MovieTime time; MovieTime duration; int knob; };
    const Case knobs[] = {
        {{0, 600}, tenSeconds, 0},
        {{3000, 600}, tenSeconds, 5000},
        {{5, 1}, tenSeconds, 5000},                // another time scale, through seconds
        {{9000, 600}, tenSeconds, 10000},          // past the end: kept on the travel
        {{-60, 600}, tenSeconds, 0},
        {{300, 600}, {300, 600}, 10000},           // a sub-second movie
        {{0, 600}, {0, 600}, 0},                   // no duration at all
        {{qint64(1) << 40, 600}, {qint64(1) << 41, 600}, 5000}, // beyond 32 bits
    };
    for (const Case &c : knobs)
        EXPECT_EQ(OVNMediaViewer::knobForTime(c.time, c.duration, 10000), c.knob) << c.time.timeValue;
    EXPECT_EQ(OVNMediaViewer::timeForKnob(2500, tenSeconds, 10000).timeValue, 1500);
    EXPECT_EQ(OVNMediaViewer::timeForKnob(20000, tenSeconds, 10000).timeValue, 6000);
    EXPECT_EQ(OVNMediaViewer::timeForKnob(-5, tenSeconds, 10000).timeValue, 0);
    EXPECT_EQ(OVNMediaViewer::timeForKnob(5000, {qint64(1) << 41, 600}, 10000).timeValue, qint64(1) << 40);
}

TEST(MediaViewerTest, PlaysAMovieAndShowsFailureSheetForABadOne)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        GTEST_SKIP() << "no ffmpeg";
    QTemporaryDir dir;
    const QString good = dir.filePath("m.mp4");
    QProcess p;
    p.start(ffmpeg, {"-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-t", "2",
                     "-c:v", "libx264", "-pix_fmt", "yuv420p", good});
    ASSERT_TRUE(p.waitForFinished(120000) && p.exitCode() == 0);

    QPointer<OVNMediaViewer> viewer = new OVNMediaViewer;
    bool opened = false;
    QObject::connect(viewer, &OVNMediaViewer::opened, [&] { opened = true; });
    viewer->loadAndShowFile(good);
    ASSERT_TRUE(waitUntil([&] { return opened; }));
    EXPECT_FALSE(viewer->loopAction()->isChecked());
    viewer->player()->setLooping(true);
    viewer->togglePlay();
    EXPECT_TRUE(waitUntil([&] { return viewer->positionStrip()->value() > 0; })) << "the strip does not follow";
    EXPECT_TRUE(viewer->loopAction()->isChecked()) << "the Loop check mark does not show the player's state";
    viewer->close();
    EXPECT_TRUE(waitUntil([&] { return viewer.isNull(); }));

    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    const QString bad = dir.filePath("bad.mov");
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'Z'));
    f.close();
    QPointer<OVNMediaViewer> failing = new OVNMediaViewer;
    failing->loadAndShowFile(bad);
    EXPECT_TRUE(waitUntil([&] { return failing.isNull(); })) << "a movie that cannot play leaves its window";
    ASSERT_EQ(alerts->shown().size(), 1);
    EXPECT_FALSE(alerts->shown().first().informativeText.isEmpty()) << "the player's reason is missing";
}
