#pragma once

#include <memory>

class QAbstractButton;
class QMenu;

// The target of a context button (OVNButton, OVNButtonFooter, OVNPopUpButtonFooter, OVNFlatButton):
// asked for a menu at the moment the button is pressed, so that the menu always fits the current
// selection. The button owns the menu it is given and drops it at the next press. A target tells
// its buttons apart by identity. A menu for a pull-down button starts with an item that serves as
// the button's title and is not offered as a choice. A null answer leaves the button without a menu
// (a target may show a menu of its own instead).
class OVNContextButtonTarget
{
public:
    virtual ~OVNContextButtonTarget() = default;
    virtual std::unique_ptr<QMenu> menuForContextButton(QAbstractButton *button) = 0;
};
