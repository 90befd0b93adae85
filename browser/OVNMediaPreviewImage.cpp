#include "browser/OVNMediaPreviewImage.h"

#include "uikit/DrawingKit.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
constexpr qreal stripHeight = 16;
}

OVNMediaPreviewImage::OVNMediaPreviewImage(QWidget *parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void OVNMediaPreviewImage::setImage(const QImage &image, int rating)
{
    m_internalImage = image;
    m_rating = rating;
    update();
}

void OVNMediaPreviewImage::setImage(const QImage &image) { setImage(image, 0); }

QRectF OVNMediaPreviewImage::imageRectFor(const QSizeF &image, const QSizeF &bounds)
{
    if (image.width() <= 0 || image.height() <= 0)
        return QRectF();
    const qreal scale = std::min({bounds.width() / image.width(), bounds.height() / image.height(), 1.0});
    const qreal w = std::ceil(image.width() * scale);
    const qreal h = std::ceil(image.height() * scale);
    const qreal x = bounds.width() > w ? std::ceil((bounds.width() - w) / 2) : 0;
    const qreal yUp = bounds.height() > h ? std::ceil((bounds.height() - h) / 2) : 0;
    return QRectF(x, bounds.height() - yUp - h, w, h);
}

QRectF OVNMediaPreviewImage::ratingSquare(const QRectF &strip, int index)
{
    // Five squares, each followed by a 1-point gap, centred on the strip's width and hanging from
    // its top edge; the strip's x is not added (the preview's strip starts at 0).
    const qreal s = std::ceil(strip.height() / 2);
    const qreal first = std::ceil(strip.width() / 2 - 5 * (s + 1) / 2);
    return QRectF(first + index * (s + 1), strip.y() + 1, s, s);
}

void OVNMediaPreviewImage::drawRatingMarker(QPainter &painter, int rating, const QRectF &strip)
{
    const int filled = std::clamp(rating, 0, 5);
    for (int i = 0; i < 5; ++i) {
        const QRectF square = ratingSquare(strip, i);
        if (i < filled)
            painter.fillRect(square, DrawingKit::selectedControlColor());
        DrawingKit::frameRect(painter, square, DrawingKit::whiteColor());
    }
}

void OVNMediaPreviewImage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QSizeF bounds(size());
    painter.fillRect(rect(), m_backgroundColor);
    if (m_internalImage.isNull())
        return;
    const QRectF target = imageRectFor(QSizeF(m_internalImage.size()), bounds);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(target, m_internalImage);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (m_rating > 0)
        drawRatingMarker(painter, m_rating, QRectF(0, bounds.height() - stripHeight, bounds.width(), stripHeight));
}
