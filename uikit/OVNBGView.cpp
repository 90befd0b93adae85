#include "uikit/OVNBGView.h"

#include "uikit/BundleImage.h"
#include "uikit/DrawingKit.h"

#include <QPaintEvent>
#include <QPainter>

#include <cmath>

OVNBGView::OVNBGView(QWidget *parent) : QWidget(parent)
{
    attrLeftTag_.font = DrawingKit::pixelFont(12, true);
    attrLeftTag_.foregroundColor = DrawingKit::blackColor();
    attrLeftTag_.alignment = Qt::AlignLeft;
    attrOptionTag_ = attrLeftTag_;
    attrOptionTag_.alignment = Qt::AlignRight;
    attrInfoTag_.font = DrawingKit::pixelFont(10);
    attrInfoTag_.foregroundColor = DrawingKit::blackColor();
    attrInfoTag_.alignment = Qt::AlignLeft;
}

void OVNBGView::setMainText(const QString &text)
{
    maintext_ = text;
    update();
}

void OVNBGView::setOptionText(const QString &text)
{
    optiontext_ = text;
    update();
}

void OVNBGView::setInfoText(const QString &text)
{
    infotext_ = text;
    update();
}

void OVNBGView::setTileImage(const QImage &image)
{
    m_tileImage = image;
    m_tileImageLoaded = true;
    update();
}

QRectF OVNBGView::mainTextRect(const QSizeF &size)
{
    return DrawingKit::flippedRect(QRectF(10, size.height() - 25, size.width() - 20, 14), size.height());
}

QRectF OVNBGView::optionTextRect(const QSizeF &size)
{
    return DrawingKit::flippedRect(QRectF(size.width() - 110, size.height() - 25, 100, 14), size.height());
}

QRectF OVNBGView::infoTextRect(const QSizeF &size)
{
    return DrawingKit::flippedRect(QRectF(10, 10, size.width() - 20, size.height() - 45), size.height());
}

std::vector<qreal> OVNBGView::tileOffsets(qreal x, qreal width, qreal imageWidth)
{
    std::vector<qreal> offsets;
    if (!(imageWidth > 0))
        return offsets;
    for (qreal tile = std::trunc(x); tile < x + width; tile = std::trunc(tile + imageWidth))
        offsets.push_back(tile);
    return offsets;
}

void OVNBGView::drawText(QPainter &painter, const QString &text, const QRectF &rect, const NTTextAttributes &attributes,
                         bool wrap) const
{
    if (text.isNull() || rect.width() <= 0 || rect.height() <= 0)
        return;
    painter.save();
    painter.setFont(attributes.font);
    painter.setPen(attributes.foregroundColor.value_or(DrawingKit::blackColor()));
    int flags = int(attributes.alignment) | Qt::AlignTop;
    if (wrap)
        flags |= Qt::TextWordWrap;
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.drawText(rect, flags, text);
    painter.restore();
}

void OVNBGView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRectF bounds(rect());
    const qreal w = bounds.width(), h = bounds.height();
    switch (type_) {
    case Plain:
        if (!backgroundColor_)
            break;
        painter.fillRect(event->rect(), *backgroundColor_);
        painter.fillRect(DrawingKit::flippedRect(QRectF(0, h - 1, w, 1), h), DrawingKit::controlShadowColor());
        painter.fillRect(DrawingKit::flippedRect(QRectF(0, 1, w, 1), h), DrawingKit::controlShadowColor());
        break;
    case GradientPanel:
        if (!backgroundColor_)
            break;
        if (backgroundColor2_)
            DrawingKit::fillMirroredGradient(painter, bounds, *backgroundColor_, *backgroundColor2_);
        drawText(painter, maintext_, mainTextRect(bounds.size()), attrLeftTag_, false);
        drawText(painter, optiontext_, optionTextRect(bounds.size()), attrOptionTag_, false);
        drawText(painter, infotext_, infoTextRect(bounds.size()), attrInfoTag_, true);
        DrawingKit::frameRect(painter, bounds, DrawingKit::controlShadowColor());
        break;
    case TiledStrip: {
        if (!m_tileImageLoaded) {
            m_tileImage = BundleImage::imageNamed(QStringLiteral("topview_bg"));
            m_tileImageLoaded = true;
        }
        const qreal imageWidth = m_tileImage.isNull() ? 0.0 : m_tileImage.deviceIndependentSize().width();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        for (qreal x : tileOffsets(bounds.x(), w, imageWidth))
            painter.drawImage(QRectF(x, bounds.y(), imageWidth, h), m_tileImage);
        // The frame's bottom edge lies below the view: only the top and the sides show.
        DrawingKit::frameRect(painter, QRectF(bounds.x(), bounds.y(), w, h + 1), DrawingKit::controlShadowColor());
        break;
    }
    default:
        break;
    }
}
