#include "uikit/OVNMembraneButton.h"

#include "uikit/DrawingKit.h"
#include "uikit/OVNBezierPath.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

OVNMembraneButton::OVNMembraneButton(QWidget *parent) : QPushButton(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

std::pair<QColor, QColor> OVNMembraneButton::gradientColors(bool highlighted)
{
    if (highlighted)
        return {QColor::fromRgbF(0.7f, 0.7f, 0.7f, 1.0f), QColor::fromRgbF(0.8f, 0.8f, 0.8f, 1.0f)};
    return {QColor::fromRgbF(0.93f, 0.93f, 0.93f, 1.0f), QColor::fromRgbF(0.8f, 0.8f, 0.8f, 1.0f)};
}

float OVNMembraneButton::capsuleRadius(qreal height) { return std::ceil(static_cast<float>(height) / 2.0f); }

QRectF OVNMembraneButton::titleRect(const QSizeF &size, qreal titleHeight)
{
    return QRectF(1, std::ceil((size.height() - titleHeight) / 2), size.width(), size.height());
}

QSize OVNMembraneButton::sizeHint() const
{
    const QFontMetricsF metrics(DrawingKit::labelFont(11));
    return QSize(int(std::ceil(metrics.horizontalAdvance(text()))) + 24, 20);
}

void OVNMembraneButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF bounds(rect());
    const QPainterPath capsule = OVNBezierPath::bezierPathWithRoundedRect(bounds, capsuleRadius(bounds.height()));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipPath(capsule);
    const auto [top, bottom] = gradientColors(isDown());
    DrawingKit::fillSteppedGradient(painter, bounds, top, bottom, DrawingKit::RowOrder::TopDown);

    const QFont font = DrawingKit::labelFont(11);
    const qreal titleHeight = QFontMetricsF(font).height();
    painter.setFont(font);
    painter.setPen(isEnabled() ? DrawingKit::controlTextColor() : DrawingKit::disabledControlTextColor());
    painter.drawText(titleRect(bounds.size(), titleHeight), int(Qt::AlignHCenter | Qt::AlignTop), text());

    // Stroked along the edge and clipped, so only the inner half of the line shows.
    painter.strokePath(capsule, QPen(DrawingKit::controlShadowColor(), 1.0));
}
