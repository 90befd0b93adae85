#include "uikit/OVNButton.h"
#include "uikit/OVNButtonFooter.h"
#include "uikit/OVNContextButtonTarget.h"
#include "uikit/OVNFlatButton.h"
#include "uikit/OVNPopUpButtonFooter.h"

#include "../support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QSignalSpy>

namespace {

class MenuTarget : public OVNContextButtonTarget
{
public:
    std::unique_ptr<QMenu> menuForContextButton(QAbstractButton *button) override
    {
        senders.push_back(button);
        if (answerNothing)
            return nullptr;
        auto menu = std::make_unique<QMenu>();
        menu->addAction(QStringLiteral("Action"));
        menu->addAction(QStringLiteral("Reload Database"));
        made.push_back(menu.get());
        return menu;
    }
    bool answerNothing = false;
    std::vector<QAbstractButton *> senders;
    std::vector<QPointer<QMenu>> made;
};

void press(QWidget &widget, Qt::MouseButton button = Qt::LeftButton)
{
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), button, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &up);
}

void flushDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace

TEST(OVNContextButtonTest, PlainButtonOnlyFetchesItsMenu)
{
    MenuTarget target;
    OVNButton button;
    button.resize(30, 20);
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    press(button);
    EXPECT_EQ(button.contextMenu(), nullptr); // no target: nothing happens
    button.setTarget(&target);
    press(button);
    ASSERT_EQ(target.senders.size(), 1u);
    EXPECT_EQ(target.senders[0], &button);
    EXPECT_NE(button.contextMenu(), nullptr);
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_FALSE(button.isDown());
}

TEST(OVNContextButtonTest, FooterButtonFetchesThenActsAsPushButton)
{
    MenuTarget target;
    OVNButtonFooter button;
    button.resize(30, 22);
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    press(button);
    EXPECT_EQ(clicked.count(), 1); // without a target it is an ordinary press
    button.setTarget(&target);
    press(button);
    EXPECT_EQ(clicked.count(), 2);
    EXPECT_EQ(target.senders.size(), 1u);
    QMenu *menu = button.contextMenu();
    ASSERT_NE(menu, nullptr);
    // A secondary press is no menu fetch.
    press(button, Qt::RightButton);
    EXPECT_EQ(button.contextMenu(), menu);
    // A nil answer removes the menu.
    target.answerNothing = true;
    press(button);
    EXPECT_EQ(button.contextMenu(), nullptr);
}

TEST(OVNContextButtonTest, MenusDoNotPileUpPressAfterPress)
{
    MenuTarget target;
    OVNButton button;
    button.resize(30, 20);
    button.setTarget(&target);
    for (int i = 0; i < 20; ++i)
        press(button);
    flushDeferredDeletes();
    ASSERT_EQ(target.made.size(), 20u);
    int alive = 0;
    for (const QPointer<QMenu> &menu : target.made)
        alive += menu ? 1 : 0;
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(target.made.back().data(), button.contextMenu());
}

TEST(OVNContextButtonTest, PullDownButtonsPopUpWithoutTheTitleItem)
{
    MenuTarget target;
    OVNFlatButton flat;
    flat.resize(40, 21);
    flat.setTarget(&target);
    press(flat);
    QMenu *menu = flat.popUpMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(processEventsUntil([menu] { return menu->isVisible(); }));
    EXPECT_FALSE(menu->actions().first()->isVisible());
    EXPECT_TRUE(menu->actions().at(1)->isVisible());
    EXPECT_TRUE(flat.isDown());
    menu->hide();
    EXPECT_FALSE(flat.isDown());

    OVNPopUpButtonFooter footer;
    footer.resize(34, 22);
    press(footer);
    EXPECT_EQ(footer.popUpMenu(), nullptr); // no target, no menu
    footer.setTarget(&target);
    target.answerNothing = true;
    press(footer);
    EXPECT_EQ(footer.popUpMenu(), nullptr);
    EXPECT_FALSE(footer.isDown());
}
