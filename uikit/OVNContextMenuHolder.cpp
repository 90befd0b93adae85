#include "uikit/OVNContextMenuHolder.h"

#include "uikit/OVNContextButtonTarget.h"

#include <QAbstractButton>
#include <QMenu>

OVNContextMenuHolder::OVNContextMenuHolder() = default;
OVNContextMenuHolder::~OVNContextMenuHolder() = default;

void OVNContextMenuHolder::DeferredDelete::operator()(QMenu *menu) const
{
    if (menu) {
        menu->hide();
        menu->deleteLater();
    }
}

bool OVNContextMenuHolder::fetchMenu(QAbstractButton *button)
{
    if (!m_target)
        return false;
    setMenu(m_target->menuForContextButton(button));
    return true;
}

void OVNContextMenuHolder::setMenu(std::unique_ptr<QMenu> menu) { m_menu.reset(menu.release()); }

bool OVNContextMenuHolder::popUpBelow(QAbstractButton *button, bool pullsDown) const
{
    QMenu *menu = m_menu.get();
    if (!menu || !button)
        return false;
    const QList<QAction *> actions = menu->actions();
    if (pullsDown && !actions.isEmpty())
        actions.first()->setVisible(false);
    button->setDown(true);
    QObject::connect(menu, &QMenu::aboutToHide, button, [button] { button->setDown(false); });
    menu->popup(button->mapToGlobal(QPoint(0, button->height())));
    return true;
}
