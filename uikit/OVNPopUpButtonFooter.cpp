#include "uikit/OVNPopUpButtonFooter.h"

#include "uikit/OVNButtonFooter.h"
#include "uikit/OVNContextMenuHolder.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

OVNPopUpButtonFooter::OVNPopUpButtonFooter(QWidget *parent)
    : QPushButton(parent),
      m_menuHolder(std::make_unique<OVNContextMenuHolder>())
{}

OVNPopUpButtonFooter::~OVNPopUpButtonFooter() = default;

OVNContextButtonTarget *OVNPopUpButtonFooter::target() const { return m_menuHolder->target(); }
void OVNPopUpButtonFooter::setTarget(OVNContextButtonTarget *target) { m_menuHolder->setTarget(target); }
QMenu *OVNPopUpButtonFooter::popUpMenu() const { return m_menuHolder->menu(); }

void OVNPopUpButtonFooter::setImage(const QImage &image)
{
    image_ = image;
    update();
}

QSize OVNPopUpButtonFooter::sizeHint() const { return QSize(32, 22); }

void OVNPopUpButtonFooter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QSizeF bounds(size());
    OVNButtonFooter::drawFooterBackground(painter, bounds, isDown(), image_);
    OVNButtonFooter::drawHairline(painter, bounds);
}

void OVNPopUpButtonFooter::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QPushButton::mousePressEvent(event);
        return;
    }
    m_menuHolder->fetchMenu(this);
    m_menuHolder->popUpBelow(this, m_pullsDown);
    event->accept();
}

void OVNPopUpButtonFooter::mouseReleaseEvent(QMouseEvent *event) { event->accept(); }
