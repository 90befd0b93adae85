#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

// The thumbnail view's grid, as pure functions in Qt coordinates (y grows downward, row 0 at the
// top of the document). Cells are w x h with spacing d between columns and on the left; rows touch,
// and the document keeps d spare at its bottom.
namespace OVNMediaViewGeometry {

struct CellMetrics {
    double width = 100;   // w: the cell, title band included
    double height = 140;  // h
    double distance = 10; // d
};

struct Grid {
    int columns = 0;
    int rows = 0;
    bool operator==(const Grid &) const = default;
};

// Columns: whole part of availableWidth / (w + d); 0 columns give 0 rows; otherwise enough rows
// for every item.
Grid gridFor(double availableWidth, int itemCount, const CellMetrics &metrics);

// Whether a grid laid out for `grid` must be recomputed for a viewport of `viewport` size when the
// document is `documentHeight` high: the columns or rows changed, or the heights differ.
bool needsRecalc(const Grid &grid, const QSizeF &viewport, double documentHeight, int itemCount,
                 const CellMetrics &metrics);

// The document that holds the grid inside a viewport: at least the viewport, and as large as the
// cells need (d + (w + d) x columns wide, d + h x rows high). An empty viewport gives an empty
// document.
QSizeF documentSize(const QSizeF &viewport, const Grid &grid, const CellMetrics &metrics);

// The rectangle of a row's cell in document coordinates (a grid of 0 columns counts as 1).
QRectF cellRect(int row, int columns, const CellMetrics &metrics);

// The first and last row of the document lines that meet a vertical span [top, bottom), clamped
// to the items; first > last when none.
void rowsInSpan(double top, double bottom, int columns, int itemCount, const CellMetrics &metrics, int *first,
                int *last);

// The rubber band spanned by two points.
QRectF dragSelectionRect(const QPointF &a, const QPointF &b);
// The area to redraw when the band from a moves its far corner from oldTo to b: the span the two
// bands cover on each axis, widened by 2 on every side.
QRectF displaySelectionRect(const QPointF &a, const QPointF &b, const QPointF &oldTo);

} // namespace OVNMediaViewGeometry
