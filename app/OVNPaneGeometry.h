#pragma once

// The catalog window's pane sizes: three columns (outline, thumbnails, right column) and, in the
// right column, two rows (preview, details), in points. Pure functions, so that the limits can be
// checked without a window; every answer keeps every pane at 0 or more and fills the split view.
namespace OVNPaneGeometry {

struct Columns {
    double w0 = 0, w1 = 0, w2 = 0;
    bool operator==(const Columns &) const = default;
};
struct Rows {
    double h0 = 0, h1 = 0;
    bool operator==(const Rows &) const = default;
};

constexpr double minimumOutline = 150;
constexpr double minimumThumbnails = 120;
constexpr double minimumRightColumn = 320;
constexpr double minimumPreview = 150;
constexpr double minimumDetails = 200;

// A header's width grip moved by delta (positive to the right): tag 0 the outline's right edge,
// tags 1 and 2 the right column's left edge; other tags change nothing.
Columns afterWidthGrip(const Columns &now, double width, double divider, int tag, double delta);
// The details header's height grip (tag 2) moved by delta (positive upward).
Rows afterHeightGrip(const Rows &now, double height, double divider, int tag, double delta);
// The layout from the frozen sizes: the right column and the details row take what is left.
Columns restoredColumns(double frozenOutline, double frozenThumbnails, double width, double divider);
Rows restoredRows(double frozenPreview, double height, double divider);
// The rows when the right column's height changes: a collapsed row (0) stays collapsed and the
// other takes the whole height; otherwise the preview keeps its height and the details take the
// change, keeping at least their minimum (the preview gives way, down to 0).
Rows resizedRows(const Rows &now, double height, double divider);
// The columns when the hidden right column comes back into `width` (the sum of the panes): the
// outline and the right column get the widths they had, each at least its minimum, the
// thumbnails the rest; where that leaves the thumbnails too little, the right column and then
// the outline give way down to their minimums.
Columns reopenedColumns(const Columns &before, double width);
// Divider drags: the smallest and largest positions. `preview` names the right column's split
// view; `collapsed` the right column being hidden.
double dividerMinimum();
double dividerMaximum(bool preview, int divider, bool collapsed, double proposed);

} // namespace OVNPaneGeometry
