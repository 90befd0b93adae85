#include "browser/OVNMediaViewGeometry.h"

#include <algorithm>
#include <cmath>

namespace OVNMediaViewGeometry {

namespace {

int columnsFor(double availableWidth, const CellMetrics &metrics)
{
    const double pitch = metrics.width + metrics.distance;
    if (pitch <= 0 || availableWidth <= 0)
        return 0;
    return int(std::floor(availableWidth / pitch));
}

int rowsFor(int itemCount, int columns)
{
    if (columns <= 0 || itemCount <= 0)
        return 0;
    return (itemCount + columns - 1) / columns;
}

// Rounds through single precision, as the band arithmetic has always done.
double single(double value) { return double(float(value)); }

void span(double a, double b, double c, double *low, double *high)
{
    if (a < b) {
        *low = std::min(a, c);
        *high = std::max(b, c);
    } else {
        *low = std::min(b, c);
        *high = std::max(a, c);
    }
}

} // namespace

Grid gridFor(double availableWidth, int itemCount, const CellMetrics &metrics)
{
    Grid grid;
    grid.columns = columnsFor(availableWidth, metrics);
    grid.rows = rowsFor(itemCount, grid.columns);
    return grid;
}

bool needsRecalc(const Grid &grid, const QSizeF &viewport, double documentHeight, int itemCount,
                 const CellMetrics &metrics)
{
    const int columns = columnsFor(viewport.width(), metrics);
    if (columns != grid.columns)
        return true;
    if (rowsFor(itemCount, grid.columns) != grid.rows)
        return true;
    return viewport.height() != documentHeight;
}

QSizeF documentSize(const QSizeF &viewport, const Grid &grid, const CellMetrics &metrics)
{
    if (viewport.width() <= 0 || viewport.height() <= 0)
        return QSizeF(0, 0);
    const double width = metrics.distance + (metrics.width + metrics.distance) * grid.columns;
    const double height = metrics.distance + metrics.height * grid.rows;
    return QSizeF(std::max(width, viewport.width()), std::max(height, viewport.height()));
}

QRectF cellRect(int row, int columns, const CellMetrics &metrics)
{
    if (columns <= 0)
        columns = 1;
    const int line = row / columns;
    const int column = row % columns;
    return QRectF(metrics.distance + (metrics.width + metrics.distance) * column, metrics.height * line, metrics.width,
                  metrics.height);
}

void rowsInSpan(double top, double bottom, int columns, int itemCount, const CellMetrics &metrics, int *first,
                int *last)
{
    *first = 0;
    *last = -1;
    if (itemCount <= 0 || metrics.height <= 0 || bottom <= top)
        return;
    if (columns <= 0)
        columns = 1;
    const double lines = std::ceil(double(itemCount) / columns);
    const double firstLine = std::max(0.0, std::floor(top / metrics.height));
    const double lastLine = std::min(lines - 1, std::floor(std::nextafter(bottom, top) / metrics.height));
    if (lastLine < firstLine)
        return;
    *first = int(firstLine) * columns;
    *last = std::min(itemCount - 1, int(lastLine) * columns + columns - 1);
}

QRectF dragSelectionRect(const QPointF &a, const QPointF &b)
{
    return QRectF(single(std::min(a.x(), b.x())), single(std::min(a.y(), b.y())), single(std::abs(b.x() - a.x())),
                  single(std::abs(b.y() - a.y())));
}

QRectF displaySelectionRect(const QPointF &a, const QPointF &b, const QPointF &oldTo)
{
    double left, right, top, bottom;
    span(a.x(), b.x(), oldTo.x(), &left, &right);
    span(a.y(), b.y(), oldTo.y(), &top, &bottom);
    return QRectF(single(left) - 2, single(top) - 2, single(right - left) + 4, single(bottom - top) + 4);
}

} // namespace OVNMediaViewGeometry
