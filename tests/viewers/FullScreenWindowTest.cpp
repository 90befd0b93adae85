#include "viewers/OVNFullScreenWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

namespace {

// Takes keys only, as a delegate may implement any subset of the protocol.
struct KeysOnly : OVNFullScreenWindowDelegate {
    QList<int> keys;
    void ovnFullScreenWindowKeyDown(QKeyEvent *event) override { keys << event->key(); }
};

struct Everything : KeysOnly {
    int clicks = 0;
    int moves = 0;
    void ovnFullScreenWindowMouseDown(QMouseEvent *) override { ++clicks; }
    void ovnFullScreenWindowMouseMoved(QMouseEvent *) override { ++moves; }
};

} // namespace

TEST(OVNFullScreenWindowTest, CoversTheScreenAndHandsEventsToItsDelegate)
{
    const int capturedBefore = OVNFullScreenWindow::capturedDisplayCount();
    Everything all;
    auto *content = new QLabel(QStringLiteral("slide"));
    content->setFocusPolicy(Qt::StrongFocus);
    auto window = OVNFullScreenWindow::enter(content, OVNFullScreenWindow::Opacity::Opaque, &all);
    ASSERT_TRUE(window);
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), capturedBefore + 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->geometry(), QGuiApplication::primaryScreen()->geometry());
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(content->window(), window.get());

    // A key the label does not take travels up to the window, and from there only to the delegate.
    QTest::keyClick(content, Qt::Key_Right);
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(window.get(), QPoint(20, 20));
    QMouseEvent move(QEvent::MouseMove, QPointF(30, 30), QPointF(30, 30), Qt::NoButton, Qt::NoButton, {});
    QApplication::sendEvent(window.get(), &move);
    EXPECT_EQ(all.keys, QList<int>{Qt::Key_Right});
    EXPECT_EQ(all.clicks, 1);
    EXPECT_GE(all.moves, 1);

    // A delegate with keys only: clicks and moves are dropped without effect.
    KeysOnly keys;
    window->setDelegate(&keys);
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(keys.keys, QList<int>{Qt::Key_Escape});
    // No delegate: keys are dropped silently.
    window->setDelegate(nullptr);
    QTest::keyClick(content, Qt::Key_Space);

    // The content goes back to its owner; leaving releases the display once, however often it is called.
    QWidget *back = window->takeContentView();
    ASSERT_EQ(back, content);
    EXPECT_EQ(back->parentWidget(), nullptr);
    window->leave();
    window->leave();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), capturedBefore);
    delete back;

    // An owner going away while full screen lasts takes the window down and releases the display.
    auto second = OVNFullScreenWindow::enter(new QLabel, OVNFullScreenWindow::Opacity::Translucent);
    QPointer<QWidget> secondContent = second->contentView();
    second.reset();
    EXPECT_TRUE(secondContent.isNull());
    EXPECT_EQ(OVNFullScreenWindow::capturedDisplayCount(), capturedBefore);
}
