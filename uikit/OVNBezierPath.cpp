#include "uikit/OVNBezierPath.h"

#include <algorithm>

float OVNBezierPath::effectiveCornerRadius(qreal width, qreal height, float radius)
{
    const float shorter = static_cast<float>(width < height ? width : height);
    return std::max(0.0f, std::min(radius, shorter / 2.0f));
}

OVNBezierPath OVNBezierPath::bezierPathWithRoundedRect(const QRectF &rect, float cornerRadius)
{
    const qreal w = rect.width(), h = rect.height();
    const qreal r = effectiveCornerRadius(w, h, cornerRadius);
    const qreal d = 2 * r;
    OVNBezierPath path;
    // Clockwise on screen, starting on the left edge; arcTo angles are counter-clockwise in y-up
    // terms, so negative sweeps go clockwise.
    path.moveTo(0, h - r);
    path.lineTo(0, r);
    if (r > 0)
        path.arcTo(QRectF(0, 0, d, d), 180, -90);
    path.lineTo(w - r, 0);
    if (r > 0)
        path.arcTo(QRectF(w - d, 0, d, d), 90, -90);
    path.lineTo(w, h - r);
    if (r > 0)
        path.arcTo(QRectF(w - d, h - d, d, d), 0, -90);
    path.lineTo(r, h);
    if (r > 0)
        path.arcTo(QRectF(0, h - d, d, d), 270, -90);
    path.closeSubpath();
    path.translate(rect.topLeft());
    return path;
}

OVNBezierPath OVNBezierPath::bezierPathWithLeftRoundedRect(const QRectF &rect, float cornerRadius)
{
    const qreal w = rect.width(), h = rect.height();
    const qreal r = effectiveCornerRadius(w, h, cornerRadius);
    const qreal d = 2 * r;
    OVNBezierPath path;
    path.moveTo(0, h - r);
    path.lineTo(0, r);
    if (r > 0)
        path.arcTo(QRectF(0, 0, d, d), 180, -90);
    path.lineTo(w, 0);
    path.lineTo(w, h);
    path.lineTo(r, h);
    if (r > 0)
        path.arcTo(QRectF(0, h - d, d, d), 270, -90);
    path.closeSubpath();
    path.translate(rect.topLeft());
    return path;
}
