// Windows are moved, and shrunk where they must be, to lie wholly inside the screen's free area.
#include "uikit/OVNWindowPlacement.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {

TEST(WindowPlacementTest, AFrameIsMovedAndShrunkIntoTheFreeArea)
{
    // A 1920 x 1080 screen with a 32-point panel at the top and a 48-point dock on the left.
    const QRect available(48, 32, 1872, 1048);
    struct Case {
        const char *name;
        QRect frame;
        QRect expected;
    };
    const QList<Case> cases{
        {"inside: unchanged", {100, 100, 800, 600}, {100, 100, 800, 600}},
        {"under the top panel", {300, 0, 800, 600}, {300, 32, 800, 600}},
        {"behind the dock, off the left edge", {-200, 200, 800, 600}, {48, 200, 800, 600}},
        {"past the right and bottom edges", {1500, 900, 800, 600}, {1120, 480, 800, 600}},
        {"wider and taller than the area", {10, 10, 2400, 1400}, {48, 32, 1872, 1048}},
        {"too tall only: the height gives way, x stays", {200, 500, 400, 2000}, {200, 32, 400, 1048}},
        {"exactly the area", available, available},
    };
    for (const Case &c : cases)
        EXPECT_EQ(OVNWindowPlacement::fitted(c.frame, available), c.expected) << c.name;
    // Nothing to fit into leaves the frame alone.
    EXPECT_EQ(OVNWindowPlacement::fitted({5, 5, 50, 50}, QRect()), QRect(5, 5, 50, 50));
}

TEST(WindowPlacementTest, AWindowOffTheScreenComesBackOntoIt)
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget window;
    window.setGeometry(available.right() - 50, available.bottom() - 20, available.width() + 100, 200);
    window.show();
    OVNWindowPlacement::fitOnScreen(&window);
    EXPECT_TRUE(available.contains(window.frameGeometry()));
}

} // namespace
