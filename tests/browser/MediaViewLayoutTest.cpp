#include "MediaViewTestSupport.h"

#include "browser/OVNMediaViewGeometry.h"

#include <gtest/gtest.h>

namespace {

using namespace OVNMediaViewGeometry;

TEST(MediaViewGeometry, ColumnsAndRows)
{
    const CellMetrics cell{100, 140, 10};
    EXPECT_EQ(gridFor(109, 5, cell), (Grid{0, 0}));
    EXPECT_EQ(gridFor(330, 7, cell), (Grid{3, 3}));
    EXPECT_EQ(gridFor(330, 6, cell), (Grid{3, 2}));
    EXPECT_EQ(gridFor(330, 0, cell), (Grid{3, 0}));
    EXPECT_EQ(gridFor(500, 3, CellMetrics{0, 0, 0}), (Grid{0, 0}));
    // With no columns the check answers without dividing by zero, and a cell counts one column.
    EXPECT_FALSE(needsRecalc(Grid{0, 0}, QSizeF(50, 200), 200, 9, cell));
    EXPECT_TRUE(needsRecalc(Grid{0, 0}, QSizeF(50, 200), 300, 9, cell));
    EXPECT_EQ(cellRect(3, 0, cell), QRectF(10, 420, 100, 140));
}

TEST(MediaViewGeometry, DocumentFitsTheViewport)
{
    const CellMetrics cell{100, 140, 10};
    // A clip view 335 wide holds 3 columns; the document is 340 wide, wider than the viewport.
    const Grid grid = gridFor(335, 7, cell);
    EXPECT_EQ(grid.columns, 3);
    EXPECT_EQ(documentSize(QSizeF(335, 200), grid, cell), QSizeF(340, 430));
    // Two items in a viewport 500 high: the document is 500 high; row 0 is at the top, which in
    // the upward-measuring design is y = 500 - 140.
    const Grid two = gridFor(500, 2, cell);
    const QSizeF doc = documentSize(QSizeF(500, 500), two, cell);
    EXPECT_EQ(doc, QSizeF(500, 500));
    const QRectF first = cellRect(0, two.columns, cell);
    EXPECT_EQ(first.top(), 0);
    EXPECT_EQ(doc.height() - first.bottom(), 500 - 140);
    EXPECT_EQ(cellRect(4, 3, cell), QRectF(120, 140, 100, 140));
    EXPECT_EQ(documentSize(QSizeF(0, 500), two, cell), QSizeF(0, 0));
}

TEST(MediaViewGeometry, RowsInASpan)
{
    const CellMetrics cell{100, 140, 10};
    int first = 0, last = 0;
    rowsInSpan(0, 140, 3, 100, cell, &first, &last);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 2);
    rowsInSpan(139, 281, 3, 100, cell, &first, &last);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 8);
    rowsInSpan(140 * 33, 140 * 40, 3, 100, cell, &first, &last);
    EXPECT_EQ(first, 99);
    EXPECT_EQ(last, 99);
    rowsInSpan(140 * 40, 140 * 41, 3, 100, cell, &first, &last);
    EXPECT_GT(first, last);
}

TEST(MediaViewGeometry, RubberBandRectangles)
{
    EXPECT_EQ(dragSelectionRect(QPointF(50, 80), QPointF(20, 10)), QRectF(20, 10, 30, 70));
    EXPECT_EQ(dragSelectionRect(QPointF(0.1, 0), QPointF(0, 0)).width(), double(0.1f));
    // The band from (10, 10) grew from (30, 30) to (50, 20): redraw x 10..50 and y 10..30, plus 2.
    EXPECT_EQ(displaySelectionRect(QPointF(10, 10), QPointF(50, 20), QPointF(30, 30)), QRectF(8, 8, 44, 24));
    // Dragged back past the start: the span still covers all three points.
    EXPECT_EQ(displaySelectionRect(QPointF(10, 10), QPointF(0, 0), QPointF(30, 30)), QRectF(-2, -2, 34, 34));
}

class MediaViewSelection : public ::testing::Test
{
protected:
    void SetUp() override
    {
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.resize(340, 300); // 3 columns of 110
        view.show();
        view.setMediaContainer(makeList(10));
    }
    OVNMediaView view;
};

TEST_F(MediaViewSelection, SelectRowChecksBoundsAndKeepsOneEntry)
{
    EXPECT_EQ(view.numberOfColumnsPerRow(), 3);
    view.selectRow(-1);
    view.selectRow(10);
    EXPECT_EQ(view.numberOfSelectedRows(), 0);
    EXPECT_EQ(view.selectedRow(), 0);
    view.selectRow(7);
    view.selectRow(2);
    view.selectRow(7);
    EXPECT_EQ(view.selectedRows(), QList<int>({7, 2}));
    EXPECT_EQ(view.selectedRow(), 2);
    EXPECT_TRUE(view.isRowSelected(7));
    EXPECT_FALSE(view.isRowSelected(3));
    view.deselectRow(7);
    EXPECT_EQ(view.selectedRows(), QList<int>({2}));
    view.mvselectAll();
    EXPECT_EQ(view.numberOfSelectedRows(), 10);
    EXPECT_EQ(view.selectedRows().first(), 0);
    EXPECT_EQ(view.allRows().size(), 10);
}

TEST_F(MediaViewSelection, ShiftExtensionKeepsSelectionOrder)
{
    view.selectImage(2);
    view.extendSelectionToRow(5);
    EXPECT_EQ(view.selectedRows(), QList<int>({2, 3, 4, 5}));
    EXPECT_EQ(view.selectedRow(), 5);
    view.extendSelectionToRow(1);
    EXPECT_EQ(view.selectedRows(), QList<int>({2, 3, 4, 5, 1}));
    EXPECT_EQ(view.selectedRow(), 1);
    // Outside every cell (-1): walks down to the first item.
    view.selectImage(3);
    view.extendSelectionToRow(-1);
    EXPECT_EQ(view.selectedRows(), QList<int>({3, 2, 1, 0}));
}

TEST_F(MediaViewSelection, RubberBandSelectsInRowOrderThenShiftExtends)
{
    view.selectImage(9);
    // A band over the right two columns of the first two lines (Qt coordinates).
    view.selectInRect(OVNMediaView::getDragSelectionRectFrom(QPointF(250, 270), QPointF(150, 20)));
    EXPECT_EQ(view.selectedRows(), QList<int>({1, 2, 4, 5}));
    EXPECT_EQ(view.selectedRow(), 5);
    view.extendSelectionToRow(7);
    EXPECT_EQ(view.selectedRows(), QList<int>({1, 2, 4, 5, 6, 7}));
    // Touching a cell's edge is no overlap; a band in the gap between columns selects nothing.
    view.selectInRect(QRectF(110, 0, 10, 50));
    EXPECT_EQ(view.numberOfSelectedRows(), 0);
    view.selectInRect(QRectF(5, 0, 0, 50));
    EXPECT_EQ(view.numberOfSelectedRows(), 0);
}

TEST_F(MediaViewSelection, RemovingARowKeepsTheSelectionOnItsItems)
{
    view.selectRow(8);
    view.selectRow(3);
    view.selectRow(5);
    const MediaRecordRef eight = view.objectForRow(8);
    view.removeObjectAtIndex(5);
    EXPECT_EQ(view.selectedRows(), QList<int>({7, 3}));
    EXPECT_EQ(view.objectForRow(7).get(), eight.get());
}

TEST_F(MediaViewSelection, HitTestAndScrollInTheVirtualDocument)
{
    EXPECT_EQ(view.rowAtDocumentPoint(QPointF(15, 5)), 0);
    EXPECT_EQ(view.rowAtDocumentPoint(QPointF(5, 5)), -1);
    EXPECT_EQ(view.rowAtDocumentPoint(QPointF(235, 145)), 5);
    EXPECT_EQ(view.rowAtDocumentPoint(QPointF(125, 140 * 3 + 5)), -1); // past the last item
    view.scrollRowToVisible(9);
    EXPECT_LE(view.imageRect(9).bottom(), view.visibleDocumentRect().bottom());
    view.setFilter(QString());
    EXPECT_EQ(view.visibleDocumentRect().top(), 0);
}

} // namespace
