// Windows are moved, and shrunk where they must be, to lie wholly inside the screen's free area.
#include "uikit/OVNWindowPlacement.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMainWindow>
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

// A tool panel opens beside the window it serves, never over it while the screen has room
// elsewhere; when it has none, the panel covers as little of the window as it can and none of its
// title bar, menus and toolbar.
TEST(WindowPlacementTest, APanelOpensBesideItsWindowAndOverItOnlyWhereTheScreenIsFull)
{
    const QRect screen(0, 0, 1920, 1050); // a 1080-line screen above a 30-line task bar
    const QSize panel(330, 380);
    struct Case {
        const char *name;
        QRect window;
        int headerBottom;
        QRect expected;
        QRect available = QRect(0, 0, 1920, 1050);
        QSize size = QSize(330, 380);
    };
    const QList<Case> cases{
        {"room on the right: right of it, tops in line", {100, 100, 1000, 700}, 180, {1108, 100, 330, 380}},
        {"at the screen's right edge: on its left", {800, 100, 1100, 700}, 180, {462, 100, 330, 380}},
        {"low on the screen: beside it, lifted to stay on the screen",
         {1500, 800, 400, 200},
         880,
         {1162, 670, 330, 380}},
        {"full width, short: below it, right edges in line", {0, 0, 1920, 500}, 80, {1590, 508, 330, 380}},
        {"full width, low: above it", {0, 600, 1920, 450}, 680, {1590, 212, 330, 380}},
        {"partly off the screen's left: right of it", {-300, 100, 800, 600}, 180, {508, 100, 330, 380}},
        {"on the second screen: beside it there",
         {2000, 100, 800, 600},
         180,
         {2808, 100, 330, 380},
         QRect(1920, 0, 1920, 1080)},
        {"filling the screen: at the right edge, under its menus and toolbar",
         {0, 0, 1920, 1050},
         80,
         {1590, 89, 330, 380}},
        {"more room on the left: at the left edge", {100, 0, 1820, 1050}, 80, {0, 89, 330, 380}},
        {"no room under the header either: kept on the screen", {0, 0, 1920, 1050}, 800, {1590, 670, 330, 380}},
        {"taller than the screen: as tall as the screen",
         {100, 100, 800, 600},
         180,
         {908, 0, 330, 1050},
         screen,
         QSize(330, 1200)},
    };
    for (const Case &c : cases) {
        const QRect placed = OVNWindowPlacement::besideWindow(c.window, c.size, c.available, c.headerBottom);
        EXPECT_EQ(placed, c.expected) << c.name;
        EXPECT_TRUE(c.available.contains(placed)) << c.name;
    }
    // Without a known screen the panel still goes beside the window.
    EXPECT_EQ(OVNWindowPlacement::besideWindow({100, 100, 400, 300}, panel, QRect(), 150), QRect(508, 100, 330, 380));
}

TEST(WindowPlacementTest, APanelIsMovedBesideAShownMainWindow)
{
    QMainWindow window;
    window.setCentralWidget(new QWidget);
    window.setGeometry(40, 60, 300, 200);
    window.show();
    QWidget panel(nullptr, Qt::Tool);
    panel.resize(120, 100);
    OVNWindowPlacement::placeBeside(&panel, &window);
    panel.show();
    EXPECT_EQ(panel.frameGeometry().left(), window.frameGeometry().right() + 1 + 8);
    EXPECT_FALSE(panel.frameGeometry().intersects(window.frameGeometry()));
}

} // namespace

// A small dialog is widened so that its title is not cut short in the title bar; a wide one and a
// minimum set wider already stay as they are.
TEST(WindowPlacementTest, ADialogIsWideEnoughForItsTitle)
{
    const struct {
        const char *title;
        int minimum; // set before
        bool widened;
    } cases[] = {{"Group Selection", 0, true}, {"A", 0, true}, {"Group Selection", 2000, false}};
    for (const auto &c : cases) {
        QWidget dialog;
        dialog.setWindowTitle(QString::fromLatin1(c.title));
        dialog.setMinimumWidth(c.minimum);
        OVNWindowPlacement::fitTitle(&dialog);
        QFont bold = dialog.font();
        bold.setBold(true);
        const int needed = QFontMetrics(bold).horizontalAdvance(dialog.windowTitle());
        EXPECT_EQ(dialog.minimumWidth(),
                  c.widened ? OVNWindowPlacement::widthForTitle(dialog.windowTitle(), QFontMetrics(bold)) : c.minimum)
            << c.title;
        EXPECT_GT(dialog.minimumWidth(), needed + 100) << c.title;
    }
}
