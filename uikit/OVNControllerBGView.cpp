#include "uikit/OVNControllerBGView.h"

#include "uikit/OVNBezierPath.h"

#include <QPainter>

#include <cmath>

OVNControllerBGView::OVNControllerBGView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

QRectF OVNControllerBGView::panelRect(const QSizeF &size) { return QRectF(3, 3, size.width() - 6, size.height() - 6); }

float OVNControllerBGView::panelRadius(const QSizeF &size)
{
    return std::floor(static_cast<float>(panelRect(size).height()) / 4.0f);
}

void OVNControllerBGView::paintEvent(QPaintEvent *)
{
    // Drawn in the view's own bounds, wherever the view sits in its parent.
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setRenderHint(QPainter::Antialiasing);
    const QSizeF size(this->size());
    const QPainterPath path = OVNBezierPath::bezierPathWithRoundedRect(panelRect(size), panelRadius(size));
    painter.fillPath(path, QColor::fromRgbF(0.2f, 0.2f, 0.2f, 0.3f));
    painter.strokePath(path, QPen(Qt::black, 2.0));
}
