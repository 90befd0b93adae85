#pragma once

#include <QPointF>

#include <functional>

class QPainter;
class QRectF;

// Drawing with the kit's soft drop shadow: black, blurred by 2.5 points and offset 2.5 points to
// the right and 2.5 points down.
class NTDrawShadow
{
public:
    static constexpr qreal blurRadius = 2.5;
    static QPointF offset() { return QPointF(2.5, 2.5); }

    // Runs `paint` twice: once into an offscreen mask covering `area` (in the painter's
    // coordinates), from which the shadow is drawn, and once onto the painter itself.
    static void drawWithShadow(QPainter &painter, const QRectF &area, const std::function<void(QPainter &)> &paint);
};
