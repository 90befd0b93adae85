#pragma once

#include <memory>

class OVNContextButtonTarget;
class QAbstractButton;
class QMenu;

// The menu fetch the context buttons share: the target, and the menu it gave at the last press.
// The previous menu is deleted when a new one comes (later, from the event loop, in case it is
// still on its way out), so that presses do not pile up menus.
class OVNContextMenuHolder
{
public:
    OVNContextMenuHolder();
    ~OVNContextMenuHolder();

    OVNContextMenuHolder(const OVNContextMenuHolder &) = delete;
    OVNContextMenuHolder &operator=(const OVNContextMenuHolder &) = delete;

    OVNContextButtonTarget *target() const { return m_target; }
    void setTarget(OVNContextButtonTarget *target) { m_target = target; }

    // Without a target nothing happens and the menu stays; otherwise the target's answer replaces
    // it (a null answer removes it). Answers whether the target was asked.
    bool fetchMenu(QAbstractButton *button);

    QMenu *menu() const { return m_menu.get(); }
    void setMenu(std::unique_ptr<QMenu> menu);

    // Pops the menu up below `button`; for a pull-down button the first item, the title, is not
    // shown. Answers false when there is no menu.
    bool popUpBelow(QAbstractButton *button, bool pullsDown) const;

private:
    struct DeferredDelete {
        void operator()(QMenu *menu) const;
    };

    OVNContextButtonTarget *m_target = nullptr;
    std::unique_ptr<QMenu, DeferredDelete> m_menu;
};
