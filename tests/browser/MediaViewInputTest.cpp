// Mouse and keyboard of the thumbnail view, through a delegate that records what it is told.
#include "MediaViewTestSupport.h"

#include <gtest/gtest.h>

#include <QTest>

namespace {

class RecordingDelegate : public CountingDelegate
{
public:
    RecordingDelegate()
        : CountingDelegate(ThumbnailData | SelectionDidChange | DoubleClick | Delete | WindowZoomPanel | Escape)
    {}
    void ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *, Qt::KeyboardModifiers modifiers) override
    {
        ++doubleClicks;
        lastModifiers = modifiers;
    }
    void delete_(OVNMediaView *) override { ++deletes; }
    void windowZoomPanel(OVNMediaView *) override { ++zooms; }
    void ovnMediaViewEscape(OVNMediaView *) override { ++escapes; }

    Qt::KeyboardModifiers lastModifiers;
    int deletes = 0;
    int zooms = 0;
    int escapes = 0;
};

// Twelve items in four columns of 100-point cells, three lines, no scrolling.
class MediaViewInput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        view.setDelegate(&delegate);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setThumbnailWidth(100);
        view.resize(455, 320);
        view.setMediaContainer(makeList(12));
        view.show();
        ASSERT_EQ(view.numberOfColumnsPerRow(), 4);
        delegate.selectionChanges = 0;
    }
    QPoint centre(int row) const { return view.imageRectInViewport(row).center().toPoint(); }
    void click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers, centre(row));
    }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(&view, k, modifiers); }

    RecordingDelegate delegate;
    OVNMediaView view;
};

TEST_F(MediaViewInput, ClickCommandClickAndEmptySpace)
{
    click(2);
    EXPECT_EQ(view.selectedRows(), QList<int>{2});
    EXPECT_EQ(delegate.selectionChanges, 1);

    click(5, Qt::ControlModifier);
    EXPECT_EQ(view.selectedRows(), (QList<int>{2, 5}));
    EXPECT_EQ(delegate.selectionChanges, 2);

    // A plain click on a selected item keeps the multiple selection and tells nobody.
    click(2);
    EXPECT_EQ(view.selectedRows(), (QList<int>{2, 5}));
    EXPECT_EQ(delegate.selectionChanges, 2);

    // Command-click on a selected item deselects only it.
    click(2, Qt::ControlModifier);
    EXPECT_EQ(view.selectedRows(), QList<int>{5});
    EXPECT_EQ(delegate.selectionChanges, 3);

    // In the gap between two cells: nothing is hit, the selection goes.
    const QRectF cell = view.imageRectInViewport(1);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(int(cell.left()) - 5, int(cell.center().y())));
    EXPECT_EQ(view.numberOfSelectedRows(), 0);
    EXPECT_EQ(delegate.selectionChanges, 4);
}

TEST_F(MediaViewInput, ShiftClickWalksFromTheLastSelectedRow)
{
    click(2);
    click(5, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedRows(), (QList<int>{2, 3, 4, 5}));
    EXPECT_EQ(view.selectedRow(), 5);
    // Walking back to 1 adds only 1; the rows on the way keep their places.
    click(1, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedRows(), (QList<int>{2, 3, 4, 5, 1}));
    EXPECT_EQ(view.selectedRow(), 1);
    EXPECT_EQ(delegate.selectionChanges, 3);
}

TEST_F(MediaViewInput, DoubleClickCarriesTheModifiers)
{
    // As the window system delivers it: a press (and release), then the double-click.
    click(3, Qt::ControlModifier);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, Qt::ControlModifier, centre(3));
    EXPECT_EQ(delegate.doubleClicks, 1);
    EXPECT_TRUE(delegate.lastModifiers.testFlag(Qt::ControlModifier));
    EXPECT_TRUE(view.isRowSelected(3));

    // On empty space (below the last line) nothing is sent.
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 310));
    EXPECT_EQ(delegate.doubleClicks, 1);
}

TEST_F(MediaViewInput, ArrowKeysAtTheEdgesOfTheGrid)
{
    // Left with nothing selected takes the last item.
    key(Qt::Key_Left);
    EXPECT_EQ(view.selectedRows(), QList<int>{11});
    EXPECT_EQ(delegate.selectionChanges, 1);
    // Right at the last item and down on the last line change nothing and send nothing.
    key(Qt::Key_Right);
    key(Qt::Key_Down);
    EXPECT_EQ(view.selectedRows(), QList<int>{11});
    EXPECT_EQ(delegate.selectionChanges, 1);
    key(Qt::Key_Up);
    EXPECT_EQ(view.selectedRows(), QList<int>{7});
    key(Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedRows(), (QList<int>{7, 6, 5, 4, 3}));
    EXPECT_EQ(view.selectedRow(), 3);
    // Up on the first line changes nothing.
    key(Qt::Key_Up);
    EXPECT_EQ(view.selectedRow(), 3);
    key(Qt::Key_Home);
    EXPECT_EQ(view.selectedRows(), QList<int>{0});
    key(Qt::Key_Left);
    EXPECT_EQ(view.selectedRows(), QList<int>{0});
    key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedRows(), (QList<int>{0, 1}));
    key(Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(view.numberOfSelectedRows(), 12);
    EXPECT_EQ(view.selectedRow(), 11);
    EXPECT_EQ(delegate.selectionChanges, 6);
    // Keys the view does not know change nothing.
    key(Qt::Key_A);
    EXPECT_EQ(delegate.selectionChanges, 6);
}

TEST_F(MediaViewInput, DeleteSpaceAndEscapeGoToTheDelegate)
{
    key(Qt::Key_Delete); // nothing selected: a beep only
    EXPECT_EQ(delegate.deletes, 0);
    click(4);
    key(Qt::Key_Delete);
    EXPECT_EQ(delegate.deletes, 1);
    key(Qt::Key_Space);
    key(Qt::Key_Escape);
    EXPECT_EQ(delegate.zooms, 1);
    EXPECT_EQ(delegate.escapes, 1);
}

TEST_F(MediaViewInput, RubberBandSelectsByRectangleAndTellsOnceOnRelease)
{
    // From the gap left of cell 0 across cells 0, 1, 4 and 5.
    const QRectF first = view.imageRectInViewport(0);
    const QRectF last = view.imageRectInViewport(5);
    const QPoint from(int(first.left()) - 4, int(first.top()) + 5);
    const QPoint to(int(last.center().x()), int(last.center().y()));
    QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), view.viewport()->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view.viewport(), &move);
    EXPECT_TRUE(view.isDraggingRubberBand());
    EXPECT_EQ(view.selectedRows(), (QList<int>{0, 1, 4, 5}));
    // The press on empty space counted as a click that cleared the selection; the band itself
    // tells nothing until the button goes up.
    EXPECT_EQ(delegate.selectionChanges, 1);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_FALSE(view.isDraggingRubberBand());
    EXPECT_EQ(delegate.selectionChanges, 2);
}

TEST_F(MediaViewInput, StackMarkerClickTogglesTheStackWithoutSelecting)
{
    view.selectImage(4, true, false);
    const QList<int> rows{4, 5, 6};
    const int group = view.createGroupWithItems(rows);
    delegate.selectionChanges = 0;
    // The marker is the gap left of a member's cell.
    const QRectF cell = view.imageRectInViewport(5);
    const QPoint marker(int(cell.left()) - 4, int(cell.center().y()));
    EXPECT_EQ(view.groupAtLocation(view.visibleDocumentRect().topLeft() + QPointF(marker)), group);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, marker);
    EXPECT_TRUE(view.isGroupCollapsed(group));
    EXPECT_EQ(view.count(), 10);
    EXPECT_EQ(view.numberOfSelectedRows(), 0);
    EXPECT_EQ(delegate.selectionChanges, 1); // the selection it cleared
    // The collapsed stack's keyframe is the clicked member; a click on its marker expands it after it.
    const int keyframe = view.rowForMid(QStringLiteral("6"));
    ASSERT_GE(keyframe, 0);
    const QRectF keyCell = view.imageRectInViewport(keyframe);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(int(keyCell.left()) - 4, int(keyCell.center().y())));
    EXPECT_FALSE(view.isGroupCollapsed(group));
    EXPECT_EQ(view.count(), 12);
    EXPECT_EQ(delegate.selectionChanges, 1);
}

} // namespace
