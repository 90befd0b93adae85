#include "uikit/NTDrawShadow.h"

#include "uikit/DrawingKit.h"

#include <QImage>
#include <QPainter>
#include <QPaintDevice>

#include <cmath>

void NTDrawShadow::drawWithShadow(QPainter &painter, const QRectF &area, const std::function<void(QPainter &)> &paint)
{
    const QRectF bounds = area.toAlignedRect();
    if (bounds.isEmpty()) {
        paint(painter);
        return;
    }
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    QImage mask((bounds.size() * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    mask.setDevicePixelRatio(ratio);
    mask.fill(Qt::transparent);
    {
        QPainter maskPainter(&mask);
        maskPainter.setRenderHints(painter.renderHints());
        maskPainter.translate(-bounds.topLeft());
        maskPainter.setPen(Qt::black);
        paint(maskPainter);
    }
    const QImage shadow = DrawingKit::softShadow(mask, blurRadius * ratio, DrawingKit::blackColor());
    const qreal margin = DrawingKit::shadowMargin(blurRadius * ratio) / ratio;
    painter.drawImage(bounds.topLeft() + offset() - QPointF(margin, margin), shadow);
    paint(painter);
}
