#include "viewers/OVNMediaViewer.h"
#include "uikit/OVNControllerBGView.h"

#include "platform/UserDefaults.h"
#include "viewers/OVNFullScreenWindow.h"
#include "uikit/BundleImage.h"

#include "support/ScriptedAlertPresenter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QToolButton>
#include <QKeyEvent>
#include <QCoreApplication>
#include <QPointer>
#include <QProcess>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

TEST(MediaViewerTest, WindowSizeKeepsAspectAndFitsBothWays)
{
    struct Case {
        QSize natural;
        QSize visible;
        QSize expected;
        int leastWidth = 0;
    };
    const Case cases[] = {
        {{320, 240}, {1280, 778}, {320, 282}},    // fits: natural size plus the title and the band
        {{1920, 1080}, {1600, 778}, {1308, 778}}, // too tall: the aspect times the 736 left
        {{1920, 1080}, {1280, 778}, {1280, 762}}, // and too wide for that: scaled to the width
        {{4000, 300}, {1920, 1080}, {1920, 186}}, // too wide only
        {{0, 0}, {1920, 1080}, {320, 282}},       // no picture yet (sound): a small window
        // A movie narrower than its controller: as wide as the controller, as tall as the movie.
        {{320, 240}, {1280, 778}, {426, 282}, 426},
        {{1920, 1080}, {1600, 778}, {1308, 778}, 426},
        // Not wider than the screen, though.
        {{160, 120}, {300, 778}, {300, 162}, 426},
    };
    for (const Case &c : cases)
        EXPECT_EQ(OVNMediaViewer::windowSizeFor(c.natural, c.visible, OVNMediaViewer::spaceTop, c.leastWidth),
                  c.expected)
            << c.natural.width() << "x" << c.natural.height() << " at least " << c.leastWidth;
}

TEST(MediaViewerTest, ControllerPlacesTimesRatesAndAspectBounds)
{
    struct Place {
        QSize client;
        QRect movie;
        QSize controller;
        QPoint expected;
    };
    const Place places[] = {
        {{320, 260}, {0, 0, 320, 240}, {300, 40}, {10, 190}}, // centred, 10 above the movie's bottom
        {{200, 260}, {0, 0, 200, 240}, {300, 40}, {0, 190}},  // narrower than the controller: at the movie's left
        {{320, 30}, {0, 0, 320, 10}, {300, 40}, {10, -30}},   // too low for the lift: on the movie's bottom
    };
    for (const Place &p : places)
        EXPECT_EQ(OVNMediaViewer::controllerPosition(p.client, p.movie, p.controller), p.expected) << p.client.width();

    struct Bounds {
        QSizeF screen;
        double ratio;
        QRectF expected;
    };
    const Bounds bounds[] = {
        {{1024, 768}, 16.0 / 9.0, {0, 96, 1024, 576}},
        {{1920, 1080}, 4.0 / 3.0, {240, 0, 1440, 1080}},
        {{1920, 1080}, 0.0, {0, 0, 1920, 1080}}, // zoom (and a movie without picture)
    };
    for (const Bounds &b : bounds)
        EXPECT_EQ(OVNMediaViewer::fullScreenBounds(b.screen, b.ratio), b.expected) << b.ratio;

    struct Time {
        qint64 value;
        qint64 scale;
        const char *text;
    };
    const Time times[] = {
        {45000, 600, "00:01:15"}, {599, 600, "00:00:00"},  {600LL * 3600 * 100 + 600 * 61, 600, "100:01:01"},
        {75, 0, "00:01:15"},      {-600, 600, "00:00:00"},
    };
    for (const Time &t : times)
        EXPECT_EQ(OVNMediaViewer::timeValueToDisplay(t.value, t.scale), QLatin1String(t.text)) << t.value;

    struct Rate {
        double rate;
        double rewind;
        double forward;
    };
    const Rate rates[] = {{0.0, 1.0, 1.0}, {1.0, -2.0, 2.0}, {-2.0, 1.0, 1.0}, {2.0, 1.0, 1.0}, {0.5, 1.0, 1.0}};
    for (const Rate &r : rates) {
        EXPECT_EQ(OVNMediaViewer::rateAfterRewind(r.rate), r.rewind) << r.rate;
        EXPECT_EQ(OVNMediaViewer::rateAfterForward(r.rate), r.forward) << r.rate;
    }
}

TEST(MediaViewerTest, PlaysAMovieAndShowsFailureSheetForABadOne)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        GTEST_SKIP() << "no ffmpeg";
    QTemporaryDir dir;
    const QString good = dir.filePath("m.mp4");
    QProcess p;
    p.start(ffmpeg, {"-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-t", "2", "-c:v",
                     "libx264", "-pix_fmt", "yuv420p", good});
    ASSERT_TRUE(p.waitForFinished(120000) && p.exitCode() == 0);

    // Started at once (the preference's default), looping, and the Loop mark says so.
    UserDefaults::standard().removeObjectForKey(QStringLiteral("AutostartMoviesWithViewer"));
    QPointer<OVNMediaViewer> viewer = new OVNMediaViewer;
    bool opened = false;
    QObject::connect(viewer, &OVNMediaViewer::opened, [&] { opened = true; });
    viewer->loadAndShowFile(good);
    ASSERT_TRUE(processEventsUntil([&] { return opened; }, waitCeilingMs));
    EXPECT_TRUE(viewer->isMovie());
    EXPECT_NE(viewer->player()->rate(), 0.0);
    EXPECT_TRUE(viewer->player()->isLooping());
    EXPECT_TRUE(viewer->loopAction()->isChecked());
    viewer->buttonLoopClick();
    EXPECT_FALSE(viewer->player()->isLooping());
    EXPECT_FALSE(viewer->loopAction()->isChecked()) << "the Loop check mark does not show the player's state";
    // The controller fits over the small movie: the window is as wide as it needs.
    const int least = viewer->leastWindowWidth();
    EXPECT_GT(least, viewer->controller().view->width());
    EXPECT_EQ(viewer->centralWidget()->size(), QSize(std::max(320, least), 240 + OVNMediaViewer::spaceBottom));
    struct Magnified {
        void (OVNMediaViewer::*command)();
        QSize client;
    };
    const Magnified sizes[] = {
        {&OVNMediaViewer::buttonDoubleSizeClick, {std::max(640, least), 500}}, // 522 high with its title bar
        {&OVNMediaViewer::buttonHalfSizeClick, {std::max(160, least), 140}},
        {&OVNMediaViewer::buttonNormalSizeClick, {std::max(320, least), 260}},
    };
    for (const Magnified &m : sizes) {
        (viewer->*m.command)();
        EXPECT_EQ(viewer->centralWidget()->size(), m.client);
        EXPECT_TRUE(viewer->isVisible());
        EXPECT_EQ(viewer->player()->rate(), 1.0) << "playing stops with a new size";
    }

    // The controller: over the movie, gone after the immediate tick and five more.
    viewer->showController();
    ASSERT_TRUE(viewer->isControllerVisible());
    // A borderless window of its own on the dark rounded panel, floating over the viewer window,
    // placed over the movie and following the window when it moves.
    OVNControllerBGView *panel = viewer->controller().view;
    EXPECT_TRUE(panel->isWindow());
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(panel->window()->windowType(), Qt::Tool);
    EXPECT_EQ(panel->parentWidget()->window(), viewer.data()) << "not owned by the viewer window";
    const auto placed = [&] {
        return viewer->centralWidget()->mapToGlobal(OVNMediaViewer::controllerPosition(
            viewer->centralWidget()->size(), viewer->movieView()->geometry(), panel->size()));
    };
    EXPECT_EQ(panel->pos(), placed());
    viewer->move(viewer->pos() + QPoint(30, 20));
    EXPECT_TRUE(processEventsUntil([&] { return panel->pos() == placed(); })) << "left behind by a move";
    for (int tick = 1; tick <= 5; ++tick) {
        EXPECT_TRUE(viewer->isControllerVisible()) << tick;
        viewer->mediaWindowTimer();
    }
    EXPECT_FALSE(viewer->isControllerVisible());
    QTest::mouseMove(viewer->movieView(), QPoint(50, 50));
    EXPECT_TRUE(viewer->isControllerVisible()) << "a move over the movie does not bring it back";

    // Keys through the movie view: space plays and pauses, Escape outside full screen does nothing.
    auto press = [](QWidget *w, Qt::Key key) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(w, &down);
    };
    // The play button shows the program's "ctrlPlay" while paused and "ctrlPause" while playing.
    const auto playButtonShows = [&](const char *name) {
        const QIcon icon = viewer->controller().play->icon();
        const QImage expected = BundleImage::imageNamed(QLatin1String(name));
        return !icon.isNull() && !expected.isNull()
               && icon.pixmap(icon.availableSizes().first()).toImage().convertToFormat(QImage::Format_ARGB32)
                      == expected.convertToFormat(QImage::Format_ARGB32);
    };
    press(viewer->movieView(), Qt::Key_Space);
    EXPECT_EQ(viewer->player()->rate(), 0.0);
    viewer->mediaWindowTimer();
    EXPECT_TRUE(playButtonShows("ctrlPlay"));
    press(viewer->movieView(), Qt::Key_Escape);
    EXPECT_FALSE(viewer->isFullscreen());
    press(viewer->movieView(), Qt::Key_Space);
    EXPECT_EQ(viewer->player()->rate(), 1.0);
    viewer->mediaWindowTimer();
    EXPECT_TRUE(playButtonShows("ctrlPause"));

    // Full screen: the movie moves into the full-screen view; Escape there brings it back.
    const int captured = OVNFullScreenWindow::capturedDisplayCount();
    viewer->controllerZoom();
    ASSERT_TRUE(viewer->isFullscreen());
    ASSERT_TRUE(viewer->fullScreenWindow() && viewer->movieViewFS());
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), captured + 1);
    EXPECT_FALSE(viewer->isVisible());
    EXPECT_EQ(viewer->movieViewFS()->movie(), viewer->player());
    EXPECT_EQ(viewer->movieView()->movie(), nullptr);
    const QSize screen = viewer->fullScreenWindow()->contentView()->size();
    viewer->setFSAspectRatioTo4by3();
    EXPECT_EQ(QRectF(viewer->movieViewFS()->geometry()),
              OVNMediaViewer::fullScreenBounds(screen, 4.0 / 3.0).toAlignedRect());
    viewer->showController();
    ASSERT_TRUE(viewer->controllerFS());
    EXPECT_TRUE(viewer->controllerFS()->view->isVisible());
    EXPECT_TRUE(viewer->controllerFS()->view->isWindow());
    EXPECT_EQ(viewer->controllerFS()->view->parentWidget()->window(), viewer->fullScreenWindow());
    EXPECT_TRUE(viewer->controllerFS()->aspect16by9);
    press(viewer->movieViewFS(), Qt::Key_Space);
    EXPECT_EQ(viewer->player()->rate(), 0.0);
    QPointer<OVNFullScreenWindow> window = viewer->fullScreenWindow();
    press(viewer->movieViewFS(), Qt::Key_Escape);
    EXPECT_FALSE(viewer->isFullscreen());
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(viewer->movieView()->movie(), viewer->player());
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), captured);
    EXPECT_TRUE(processEventsUntil([&] { return window.isNull(); }, waitCeilingMs));

    // A viewer that goes while in full screen takes its window down and releases the display.
    viewer->controllerZoom();
    window = viewer->fullScreenWindow();
    ASSERT_TRUE(window);
    delete viewer;
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), captured);

    // Full screen asked for with the file, before the movie has opened.
    viewer = new OVNMediaViewer;
    opened = false;
    QObject::connect(viewer, &OVNMediaViewer::opened, [&] { opened = true; });
    viewer->loadAndShowFile(good);
    viewer->controllerZoom();
    ASSERT_TRUE(processEventsUntil([&] { return opened; }, waitCeilingMs));
    EXPECT_TRUE(viewer->isFullscreen());
    viewer->fullScreenWindow()->close(); // as the window manager may
    EXPECT_FALSE(viewer->isFullscreen());
    EXPECT_TRUE(viewer->isVisible());
    viewer->controllerZoom();
    delete viewer;
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), captured);

    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    const QString bad = dir.filePath("bad.mov");
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'Z'));
    f.close();
    QPointer<OVNMediaViewer> failing = new OVNMediaViewer;
    failing->loadAndShowFile(bad);
    EXPECT_TRUE(processEventsUntil([&] { return failing.isNull(); }, waitCeilingMs))
        << "a movie that cannot play leaves its window";
    ASSERT_EQ(alerts->shown().size(), 1);
    EXPECT_FALSE(alerts->shown().first().informativeText.isEmpty()) << "the player's reason is missing";

    // A movie with sound whose sound output fails plays on without it, says so, and blames nothing.
    const QString sound = dir.filePath("sound.mp4");
    p.start(ffmpeg, {"-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i",
                     "sine=frequency=440", "-t", "4", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", sound});
    ASSERT_TRUE(p.waitForFinished(120000) && p.exitCode() == 0);
    QPointer<OVNMediaViewer> silent = new OVNMediaViewer;
    opened = false;
    QObject::connect(silent, &OVNMediaViewer::opened, [&] { opened = true; });
    silent->loadAndShowFile(sound);
    ASSERT_TRUE(processEventsUntil([&] { return opened; }, waitCeilingMs));
    silent->player()->simulateSoundFault();
    const qint64 before = silent->player()->currentTime().timeValue;
    EXPECT_TRUE(processEventsUntil([&] { return !silent || silent->player()->currentTime().timeValue > before + 300; },
                                   waitCeilingMs));
    ASSERT_TRUE(silent) << "the viewer closed over a sound fault";
    EXPECT_TRUE(silent->noticeText().contains("Sound is off")) << silent->noticeText().toStdString();
    EXPECT_EQ(alerts->shown().size(), 1) << alerts->shown().last().message.toStdString();
    delete silent;
}
