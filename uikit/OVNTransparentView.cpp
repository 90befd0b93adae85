#include "uikit/OVNTransparentView.h"

#include "uikit/DrawingKit.h"
#include "uikit/OVNBezierPath.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

OVNTransparentView::OVNTransparentView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void OVNTransparentView::setImage(const QImage &image, int rating)
{
    internalImage_ = image;
    rating_ = rating;
    update();
}

void OVNTransparentView::setImage(const QImage &image) { setImage(image, 0); }

QRectF OVNTransparentView::imageRect(const QSizeF &viewSize, const QSizeF &imageSize)
{
    const qreal w = viewSize.width(), h = viewSize.height();
    const qreal iw = imageSize.width(), ih = imageSize.height();
    if (!(iw > 0) || !(ih > 0))
        return QRectF();
    float scale = std::min(static_cast<float>(w / iw), static_cast<float>(h / ih));
    scale = std::min(scale, maximumScale);
    // In single precision throughout, so that an exact fit (0.4 x 1000) stays exact.
    const qreal dw = std::ceil(scale * static_cast<float>(iw));
    const qreal dh = std::ceil(scale * static_cast<float>(ih));
    const qreal x0 = w > dw ? std::ceil((w - dw) / 2) : 0.0;
    const qreal y0 = h > dh ? std::ceil((h - dh) / 2) : 0.0;
    return DrawingKit::flippedRect(QRectF(x0, y0, dw, dh), h);
}

std::array<QRectF, 5> OVNTransparentView::ratingMarkerSquares(const QRectF &rect, qreal viewHeight)
{
    const float side = std::ceil(static_cast<float>(rect.height()) / 2.0f);
    const float x0 = std::ceil(static_cast<float>(rect.width()) / 2.0f - 5.0f * (side + 1.0f) / 2.0f);
    const qreal y = rect.y() + rect.height() - 1 - side;
    std::array<QRectF, 5> squares;
    for (int i = 0; i < 5; ++i)
        squares[size_t(i)] = DrawingKit::flippedRect(QRectF(x0 + i * (side + 1.0f), y, side, side), viewHeight);
    return squares;
}

std::array<QLineF, 4> OVNTransparentView::gripLines(const QSizeF &viewSize)
{
    const qreal w = viewSize.width(), h = viewSize.height();
    auto line = [h](qreal x1, qreal y1, qreal x2, qreal y2) {
        return QLineF(DrawingKit::flippedPoint(QPointF(x1, y1), h), DrawingKit::flippedPoint(QPointF(x2, y2), h));
    };
    return {line(w - 6, 4, w - 4, 6), line(w - 9, 4, w - 4, 9), line(w - 12, 4, w - 4, 12), line(w - 15, 4, w - 4, 15)};
}

void OVNTransparentView::drawRatingMarker(QPainter &painter, int rating, const QRectF &rect) const
{
    const std::array<QRectF, 5> squares = ratingMarkerSquares(rect, height());
    const int filled = std::clamp(rating, 0, 5);
    for (int i = 0; i < filled; ++i)
        painter.fillRect(squares[size_t(i)], DrawingKit::selectedControlColor());
    for (const QRectF &square : squares)
        DrawingKit::frameRect(painter, square, DrawingKit::whiteColor());
}

void OVNTransparentView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF bounds(rect());
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(bounds, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(OVNBezierPath::bezierPathWithRoundedRect(bounds, panelRadius), Qt::black);
    painter.setRenderHint(QPainter::Antialiasing, false);

    if (!internalImage_.isNull()) {
        painter.save();
        // The image replaces the panel where it lies, its transparent parts included.
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(imageRect(bounds.size(), internalImage_.deviceIndependentSize()), internalImage_);
        painter.restore();
        if (rating_ > 0)
            drawRatingMarker(painter, rating_, QRectF(0, 0, bounds.width(), ratingStripHeight));
    }

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(DrawingKit::whiteColor(), 1.0));
    for (const QLineF &line : gripLines(bounds.size()))
        painter.drawLine(line);
}
