// The thumbnail view's grid, the document it lives in, and the selection.
#include "browser/OVNMediaView.h"

#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <numeric>

OVNMediaViewGeometry::CellMetrics OVNMediaView::metrics() const
{
    return {m_thumbnailWidth, m_thumbnailHeight, m_thumbnailDistance};
}

void OVNMediaView::recalcThumbnailLayout(const QSizeF &frame)
{
    m_grid = OVNMediaViewGeometry::gridFor(frame.width(), count(), metrics());
}

void OVNMediaView::resizeFrameToFitMediaContainer()
{
    const QSizeF viewportSize(viewport()->size());
    const QSizeF old = m_frame;
    if (viewportSize.width() <= 0 || viewportSize.height() <= 0) {
        m_frame = QSizeF(0, 0);
    } else {
        recalcThumbnailLayout(viewportSize);
        m_frame = OVNMediaViewGeometry::documentSize(viewportSize, m_grid, metrics());
    }
    updateScrollBars();
    if (m_frame.width() > old.width() || m_frame.height() > old.height())
        viewport()->update();
}

bool OVNMediaView::doesThumbnailLayoutNeedRecalcWithFrame(const QSizeF &viewport) const
{
    return OVNMediaViewGeometry::needsRecalc(m_grid, viewport, m_frame.height(), count(), metrics());
}

void OVNMediaView::updateScrollBars()
{
    const QSize page = viewport()->size();
    const int maxY = std::max(0, int(std::ceil(m_frame.height())) - page.height());
    const int maxX = std::max(0, int(std::ceil(m_frame.width())) - page.width());
    verticalScrollBar()->setRange(0, maxY);
    verticalScrollBar()->setPageStep(page.height());
    verticalScrollBar()->setSingleStep(std::max(1, int(m_thumbnailHeight / 4)));
    horizontalScrollBar()->setRange(0, maxX);
    horizontalScrollBar()->setPageStep(page.width());
    horizontalScrollBar()->setSingleStep(std::max(1, int(m_thumbnailWidth / 4)));
}

QRectF OVNMediaView::visibleDocumentRect() const
{
    return QRectF(QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value()), QSizeF(viewport()->size()));
}

QRectF OVNMediaView::imageRect(int row) const { return OVNMediaViewGeometry::cellRect(row, m_grid.columns, metrics()); }

QRectF OVNMediaView::imageRectInViewport(int row) const
{
    return imageRect(row).translated(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
}

int OVNMediaView::rowAtDocumentPoint(const QPointF &point) const
{
    int first = 0;
    int last = -1;
    OVNMediaViewGeometry::rowsInSpan(point.y(), point.y() + 0.5, m_grid.columns, count(), metrics(), &first, &last);
    for (int row = first; row <= last; ++row) {
        if (imageRect(row).contains(point))
            return row;
    }
    return -1;
}

void OVNMediaView::setNeedsDisplayForRow(int row) { viewport()->update(imageRectInViewport(row).toAlignedRect()); }

void OVNMediaView::viewWillStartLiveResize()
{
    m_inLiveResize = true;
    viewport()->update();
}

void OVNMediaView::viewDidEndLiveResize()
{
    m_inLiveResize = false;
    viewport()->update();
}

// ---- selection ----

QList<int> OVNMediaView::selectedRows() const { return QList<int>(m_selectedRows.begin(), m_selectedRows.end()); }

QList<int> OVNMediaView::allRows() const
{
    QList<int> rows(count());
    std::iota(rows.begin(), rows.end(), 0);
    return rows;
}

bool OVNMediaView::isRowSelected(int row) const
{
    return row >= 0 && size_t(row) < m_selectedMask.size() && m_selectedMask[size_t(row)];
}

void OVNMediaView::selectRow(int row)
{
    if (row < 0 || row >= count() || isRowSelected(row))
        return;
    if (m_selectedMask.size() < size_t(count()))
        m_selectedMask.resize(size_t(count()), 0);
    m_selectedMask[size_t(row)] = 1;
    m_selectedRows.push_back(row);
}

void OVNMediaView::deselectRow(int row)
{
    if (!isRowSelected(row))
        return;
    m_selectedMask[size_t(row)] = 0;
    m_selectedRows.erase(std::find(m_selectedRows.begin(), m_selectedRows.end(), row));
}

void OVNMediaView::deselectAll()
{
    if (m_selectedRows.size() < 64) {
        for (int row : m_selectedRows)
            m_selectedMask[size_t(row)] = 0;
    } else {
        std::fill(m_selectedMask.begin(), m_selectedMask.end(), 0);
    }
    m_selectedRows.clear();
}

void OVNMediaView::mvselectAll()
{
    const int n = count();
    m_selectedRows.resize(size_t(n));
    std::iota(m_selectedRows.begin(), m_selectedRows.end(), 0);
    m_selectedMask.assign(size_t(n), 1);
    viewport()->update();
}

void OVNMediaView::scrollRowToVisible(int row)
{
    if (row < 0 || row >= count())
        return;
    const QRectF cell = imageRect(row);
    const QRectF shown = visibleDocumentRect();
    if (cell.top() < shown.top())
        verticalScrollBar()->setValue(int(std::floor(cell.top())));
    else if (cell.bottom() > shown.bottom())
        verticalScrollBar()->setValue(int(std::ceil(cell.bottom() - shown.height())));
    if (cell.left() < shown.left())
        horizontalScrollBar()->setValue(int(std::floor(cell.left())));
    else if (cell.right() > shown.right())
        horizontalScrollBar()->setValue(int(std::ceil(cell.right() - shown.width())));
}

void OVNMediaView::selectInRect(const QRectF &rect)
{
    deselectAll();
    int first = 0;
    int last = -1;
    OVNMediaViewGeometry::rowsInSpan(rect.top(), rect.bottom(), m_grid.columns, count(), metrics(), &first, &last);
    for (int row = first; row <= last; ++row) {
        if (imageRect(row).intersects(rect))
            selectRow(row);
    }
    // The cells that left the selection and those that joined it.
    viewport()->update();
}

bool OVNMediaView::selectImage(int row, bool deselectOthers, bool updateDisplay)
{
    if (deselectOthers)
        deselectAll();
    if (row >= 0 && row < count()) {
        selectRow(row);
        if (updateDisplay)
            scrollRowToVisible(row);
    }
    if (updateDisplay)
        viewport()->update();
    return true;
}

bool OVNMediaView::extendSelectionToRow(int row)
{
    int i = selectedRow();
    bool changed = false;
    while (i != row) {
        i += row > i ? 1 : -1;
        changed = selectImage(i, false, true) || changed;
    }
    return changed;
}

QRectF OVNMediaView::getDragSelectionRectFrom(const QPointF &a, const QPointF &b)
{
    return OVNMediaViewGeometry::dragSelectionRect(a, b);
}

QRectF OVNMediaView::getDisplaySelectionRectFrom(const QPointF &a, const QPointF &b, const QPointF &oldTo)
{
    return OVNMediaViewGeometry::displaySelectionRect(a, b, oldTo);
}
