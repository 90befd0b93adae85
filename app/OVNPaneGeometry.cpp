#include "app/OVNPaneGeometry.h"

#include <algorithm>

namespace OVNPaneGeometry {

namespace {

// Fits the columns into the width: none below 0, the thumbnails give way first, then the right
// column, then the outline.
Columns fitted(Columns c, double width, double divider)
{
    const double room = std::max(0.0, width - 2 * divider);
    c.w0 = std::clamp(c.w0, 0.0, room);
    c.w2 = std::clamp(c.w2, 0.0, room - c.w0);
    c.w1 = room - c.w0 - c.w2;
    return c;
}

Rows fitted(Rows r, double height, double divider)
{
    const double room = std::max(0.0, height - divider);
    r.h0 = std::clamp(r.h0, 0.0, room);
    r.h1 = room - r.h0;
    return r;
}

} // namespace

Columns afterWidthGrip(const Columns &now, double width, double divider, int tag, double delta)
{
    Columns c = now;
    if (tag == 0) {
        const double rightEdge = now.w0 + divider + now.w1 + divider;
        c.w0 += delta;
        if (c.w0 + 2 * divider >= rightEdge - minimumThumbnails)
            c.w0 = rightEdge - minimumThumbnails - 2 * divider;
        c.w0 = std::max(c.w0, minimumOutline);
        c.w1 = width - c.w0 - c.w2 - 2 * divider;
    } else if (tag == 1 || tag == 2) {
        c.w2 = std::max(c.w2 - delta, minimumRightColumn);
        c.w1 = width - c.w0 - c.w2 - 2 * divider;
        if (c.w1 < 0) {
            c.w2 += c.w1;
            c.w1 = 0;
        }
    } else {
        return now;
    }
    return fitted(c, width, divider);
}

Rows afterHeightGrip(const Rows &now, double height, double divider, int tag, double delta)
{
    if (tag != 2)
        return now;
    Rows r = now;
    r.h0 = std::max(r.h0 - delta, minimumPreview);
    r.h1 = height - r.h0 - divider;
    if (r.h1 < minimumDetails) {
        r.h1 = minimumDetails;
        r.h0 = height - minimumDetails - divider;
    }
    return fitted(r, height, divider);
}

Columns restoredColumns(double frozenOutline, double frozenThumbnails, double width, double divider)
{
    Columns c{frozenOutline, frozenThumbnails, width - frozenOutline - frozenThumbnails - 2 * divider};
    // A window narrower than the frozen columns: the right column shrinks to nothing first, then
    // the thumbnails, so that no pane gets a negative width.
    const double room = std::max(0.0, width - 2 * divider);
    c.w0 = std::clamp(c.w0, 0.0, room);
    c.w1 = std::clamp(c.w1, 0.0, room - c.w0);
    c.w2 = room - c.w0 - c.w1;
    return c;
}

Columns reopenedColumns(const Columns &before, double width)
{
    Columns c{std::max(before.w0, minimumOutline), 0, std::max(before.w2, minimumRightColumn)};
    double lack = minimumThumbnails - (width - c.w0 - c.w2);
    if (lack > 0) {
        const double fromRight = std::min(lack, c.w2 - minimumRightColumn);
        c.w2 -= fromRight;
        lack -= fromRight;
        c.w0 -= std::clamp(lack, 0.0, c.w0 - minimumOutline);
    }
    return fitted(c, width, 0);
}

Rows restoredRows(double frozenPreview, double height, double divider)
{
    return fitted(Rows{frozenPreview, 0}, height, divider);
}

Rows resizedRows(const Rows &now, double height, double divider)
{
    const double room = std::max(0.0, height - divider);
    if (now.h1 <= 0 && now.h0 > 0)
        return Rows{room, 0};
    if (now.h0 <= 0 && now.h1 > 0)
        return Rows{0, room};
    Rows r{std::clamp(now.h0, 0.0, room), 0};
    r.h1 = room - r.h0;
    if (r.h1 < minimumDetails) {
        r.h1 = std::min(minimumDetails, room);
        r.h0 = room - r.h1;
    }
    return r;
}

double dividerMinimum() { return 150; }

double dividerMaximum(bool preview, int divider, bool collapsed, double proposed)
{
    if (preview)
        return proposed - minimumDetails;
    if (divider == 0)
        return proposed - minimumThumbnails;
    if (divider == 1)
        return collapsed ? proposed : proposed - minimumRightColumn;
    return proposed;
}

} // namespace OVNPaneGeometry
