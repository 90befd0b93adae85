#include "uikit/OVNButtonFooter.h"

#include "uikit/DrawingKit.h"
#include "uikit/OVNContextMenuHolder.h"

#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

OVNButtonFooter::OVNButtonFooter(QWidget *parent)
    : QPushButton(parent),
      m_menuHolder(std::make_unique<OVNContextMenuHolder>())
{}

OVNButtonFooter::~OVNButtonFooter() = default;

OVNContextButtonTarget *OVNButtonFooter::target() const { return m_menuHolder->target(); }
void OVNButtonFooter::setTarget(OVNContextButtonTarget *target) { m_menuHolder->setTarget(target); }
QMenu *OVNButtonFooter::contextMenu() const { return m_menuHolder->menu(); }

void OVNButtonFooter::setImage(const QImage &image)
{
    m_image = image;
    update();
}

QColor OVNButtonFooter::lightColor() { return QColor::fromRgbF(0.96f, 0.96f, 0.96f, 1.0f); }
QColor OVNButtonFooter::darkColor() { return QColor::fromRgbF(0.78f, 0.78f, 0.78f, 1.0f); }

QRectF OVNButtonFooter::imageRect(const QSizeF &size, const QSizeF &imageSize)
{
    // The floor comes before the halving, so an odd difference leaves half a point.
    const qreal x = std::floor(size.width() - imageSize.width()) / 2;
    const qreal y = std::floor(size.height() - imageSize.height()) / 2;
    return DrawingKit::flippedRect(QRectF(QPointF(x, y), imageSize), size.height());
}

QRectF OVNButtonFooter::titleRect(const QSizeF &size, qreal titleHeight)
{
    const qreal y = std::floor((size.height() - titleHeight) / 2) - 1;
    return DrawingKit::flippedRect(QRectF(0, y, size.width(), titleHeight), size.height());
}

void OVNButtonFooter::drawFooterBackground(QPainter &painter, const QSizeF &size, bool highlighted, const QImage &image)
{
    const QRectF bounds(QPointF(0, 0), size);
    if (highlighted)
        painter.fillRect(bounds, lightColor());
    else
        DrawingKit::fillSteppedGradient(painter, bounds, darkColor(), lightColor(), DrawingKit::RowOrder::BottomUp);
    if (!image.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(imageRect(size, image.deviceIndependentSize()), image);
    }
}

void OVNButtonFooter::drawHairline(QPainter &painter, const QSizeF &size)
{
    painter.fillRect(QRectF(size.width() - 1, 0, 1, size.height()), DrawingKit::controlShadowColor());
}

QSize OVNButtonFooter::sizeHint() const { return QSize(32, 22); }

void OVNButtonFooter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QSizeF bounds(size());
    drawFooterBackground(painter, bounds, isDown(), m_image);
    if (!titleattr_) {
        NTTextAttributes attributes;
        attributes.font = DrawingKit::boldSystemFont(12);
        attributes.foregroundColor = QColor::fromRgbF(0.28f, 0.28f, 0.28f, 1.0f);
        attributes.alignment = Qt::AlignHCenter;
        titleattr_ = attributes;
    }
    if (!text().isEmpty()) {
        const qreal titleHeight = QFontMetricsF(titleattr_->font).height();
        painter.setFont(titleattr_->font);
        painter.setPen(*titleattr_->foregroundColor);
        painter.drawText(titleRect(bounds, titleHeight), int(Qt::AlignHCenter | Qt::AlignTop), text());
    }
    drawHairline(painter, bounds);
}

void OVNButtonFooter::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_menuHolder->fetchMenu(this);
    QPushButton::mousePressEvent(event);
}

void OVNButtonFooter::contextMenuEvent(QContextMenuEvent *event)
{
    if (QMenu *menu = m_menuHolder->menu())
        menu->popup(event->globalPos());
}
