#pragma once

#include <QPainterPath>
#include <QRectF>

// Builder of the rounded-rectangle paths behind every rounded shape of the interface. The radius is
// cut to half the shorter side, so a square yields a circle and a longer rectangle a capsule. The
// shapes are symmetric top to bottom, so they read the same in y-up and y-down coordinates.
class OVNBezierPath : public QPainterPath
{
public:
    OVNBezierPath() = default;

    // The radius actually used for a rectangle of the given size.
    static float effectiveCornerRadius(qreal width, qreal height, float radius);

    // All four corners rounded.
    static OVNBezierPath bezierPathWithRoundedRect(const QRectF &rect, float cornerRadius);
    // Only the two left corners rounded; the right ones stay square.
    static OVNBezierPath bezierPathWithLeftRoundedRect(const QRectF &rect, float cornerRadius);
};
