#pragma once

#include <QColor>
#include <QImage>
#include <QRegion>
#include <QWidget>

#include <cmath>

// Renders a widget offscreen onto a transparent image of its size, at one pixel per point, without
// the window background, so that only what the widget paints itself shows.
inline QImage renderWidget(QWidget &widget, const QRegion &region = QRegion())
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    // render() puts the region's top-left corner at the offset given; keep it where it was.
    widget.render(&image, region.boundingRect().topLeft(), region, QWidget::DrawChildren);
    return image;
}

// Colours equal within one 8-bit step per component.
inline bool sameColor(const QColor &a, const QColor &b, int tolerance = 1)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

inline QColor pixelAt(const QImage &image, int x, int y) { return QColor::fromRgba(image.pixel(x, y)); }

inline QString describe(const QColor &color)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alpha());
}
