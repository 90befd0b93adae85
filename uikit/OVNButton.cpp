#include "uikit/OVNButton.h"

#include "uikit/OVNContextMenuHolder.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>

OVNButton::OVNButton(QWidget *parent) : QPushButton(parent), m_menuHolder(std::make_unique<OVNContextMenuHolder>()) {}

OVNButton::~OVNButton() = default;

OVNContextButtonTarget *OVNButton::target() const { return m_menuHolder->target(); }
void OVNButton::setTarget(OVNContextButtonTarget *target) { m_menuHolder->setTarget(target); }
QMenu *OVNButton::contextMenu() const { return m_menuHolder->menu(); }

void OVNButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_menuHolder->fetchMenu(this);
    event->accept();
}

void OVNButton::mouseReleaseEvent(QMouseEvent *event) { event->accept(); }

void OVNButton::contextMenuEvent(QContextMenuEvent *event)
{
    if (QMenu *menu = m_menuHolder->menu())
        menu->popup(event->globalPos());
}
