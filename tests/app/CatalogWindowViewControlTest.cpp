#include "CatalogWindowFixture.h"

#include "app/OVNCatalogWindowCommands.h"
#include "browser/OVNMediaView.h"
#include "browser/OVNThumbnailHelper.h"
#include "platform/UserDefaults.h"
#include "uikit/OVNIconSetHelper.h"
#include "uikit/OVNSplitView.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QMouseEvent>
#include <QSplitterHandle>

// The shared catalog fixture brings its own instantiation; this program defines no tests on it.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CatalogFixture);

namespace {

using Action = OVNCatalogActions::Action;

QImage pixels(const QIcon &icon)
{
    return icon.isNull() ? QImage()
                         : icon.pixmap(icon.availableSizes().first()).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Drags a split view's divider by `distance` (down or right) as the mouse would.
void dragDivider(OVNSplitView *split, int divider, int distance)
{
    QSplitterHandle *handle = split->handle(divider);
    const QPoint start = handle->rect().center();
    const QPoint globalStart = handle->mapToGlobal(start);
    const QPoint step = split->orientation() == Qt::Vertical ? QPoint(0, distance) : QPoint(distance, 0);
    QMouseEvent press(QEvent::MouseButtonPress, start, globalStart, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &press);
    QMouseEvent move(QEvent::MouseMove, start + step, globalStart + step, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, start + step, globalStart + step, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(handle, &release);
    QApplication::processEvents();
}

} // namespace

class CatalogWindowViewControlTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        if (!setUpWithAlerts())
            return;
        studio = category("Studio", "C");
        entry(studio, "studio-1");
    }
    void TearDown() override
    {
        tearDownWithAlerts();
        UserDefaults::standard().removeObjectForKey("ThumbnailStyle");
    }
    QString studio;
};

OVN_CATALOG_VENDORS(CatalogWindowViewControlTest);

// Each of the toolbar's view segments shows its style's icon and selects that style, in the view,
// the View menu and the stored preference; a style without a segment marks none.
TEST_P(CatalogWindowViewControlTest, EachViewSegmentSelectsItsThumbnailStyle)
{
    OVNAssetManager *window = loadWindow();
    ASSERT_TRUE(window->selectCategory(studio));
    QButtonGroup *segments = nullptr;
    for (QButtonGroup *group : window->findChildren<QButtonGroup *>()) {
        if (group->button(0) && group->button(0)->toolTip() == "Contact Sheet")
            segments = group;
    }
    ASSERT_TRUE(segments);
    ASSERT_EQ(segments->buttons().size(), 4);

    const OVNIconSetHelper &icons = OVNIconSetHelper::sharedIconSet();
    const struct {
        int style;
        const char *icon;
        const char *toolTip;
    } rows[] = {
        {OVNMediaView::ContactSheetStyle, "ViewIconOSV", "Contact Sheet"},
        {OVNMediaView::LargeImagesStyle, "ViewIconIPhoto", "Plain Image View"},
        {OVNMediaView::DetailedCellsStyle, "ViewIconIPhoto2", "Plain Image View with Title"},
        {OVNMediaView::ListStyle, "ViewIconList", "List View"},
    };
    // Click them out of order, so that no segment passes by leaving the last style standing.
    for (const int index : {3, 0, 2, 1}) {
        const auto &row = rows[index];
        QAbstractButton *segment = segments->button(row.style);
        ASSERT_TRUE(segment) << row.icon;
        EXPECT_EQ(segment->toolTip(), row.toolTip);
        // The View menu and the layout editor call the style as the segment does.
        EXPECT_EQ(window->action(Action::ThumbnailStyle, row.style)->text().remove('&'), row.toolTip);
        EXPECT_EQ(OVNThumbnailHelper::getLayoutForThumbnail(row.style).value("NAME").toString(), row.toolTip);
        EXPECT_EQ(pixels(segment->icon()), icons.toolbarIconFor(row.icon).convertToFormat(QImage::Format_ARGB32))
            << row.icon;
        segment->click();
        EXPECT_EQ(window->mediaView()->thumbnailStyle(), row.style) << row.icon;
        EXPECT_EQ(UserDefaults::standard().integerForKey("ThumbnailStyle"), row.style) << row.icon;
        window->commands().refreshActions();
        EXPECT_TRUE(window->action(Action::ThumbnailStyle, row.style)->isChecked()) << row.icon;
        EXPECT_EQ(segments->checkedId(), row.style) << row.icon;
    }

    // The View menu's List marks the list segment; Compact has none.
    window->action(Action::ThumbnailStyle, OVNMediaView::ListStyle)->trigger();
    EXPECT_EQ(segments->checkedId(), int(OVNMediaView::ListStyle));
    window->action(Action::ThumbnailStyle, OVNMediaView::CompactStyle)->trigger();
    EXPECT_EQ(window->mediaView()->thumbnailStyle(), int(OVNMediaView::CompactStyle));
    EXPECT_EQ(segments->checkedId(), -1);
}

// The preview and the details fold away when their divider is dragged past their minimum, and stay
// folded while the window is resized; the columns never fold.
TEST_P(CatalogWindowViewControlTest, EitherRowOfTheRightColumnCollapsesAndStaysSoOnResize)
{
    OVNAssetManager *window = loadWindow();
    window->resize(1000, 760);
    window->show();
    QApplication::processEvents();
    OVNSplitView *columns = nullptr;
    OVNSplitView *rows = nullptr;
    for (OVNSplitView *split : window->findChildren<OVNSplitView *>())
        (split->orientation() == Qt::Horizontal ? columns : rows) = split;
    ASSERT_TRUE(columns && rows);
    const int height = rows->sizes().at(0) + rows->sizes().at(1);
    rows->setSizes({250, height - 250});
    window->recordFrozenSizes();

    const struct {
        const char *what;
        int distance;
        int collapsed;
    } drags[] = {
        {"dragged far up: the preview folds", -2000, 0},
        {"dragged far down: the details fold", 4000, 1},
    };
    for (const auto &drag : drags) {
        rows->setSizes({250, height - 250});
        dragDivider(rows, 1, drag.distance);
        EXPECT_EQ(rows->sizes().at(drag.collapsed), 0) << drag.what;
        EXPECT_GT(rows->sizes().at(1 - drag.collapsed), 0) << drag.what;
        window->resize(1000, 900);
        QApplication::processEvents();
        EXPECT_EQ(rows->sizes().at(drag.collapsed), 0) << drag.what;
        EXPECT_GT(rows->sizes().at(1 - drag.collapsed), height) << drag.what;
        window->resize(1000, 760);
        QApplication::processEvents();
    }
    // A small drag stops at the rows' minimums instead of folding them.
    rows->setSizes({250, height - 250});
    dragDivider(rows, 1, -60);
    EXPECT_NEAR(rows->sizes().at(0), 190, 3);
    dragDivider(rows, 1, -60);
    EXPECT_EQ(rows->sizes().at(0), 150);

    // The columns' dividers dragged as far as they go leave every column standing.
    for (const int divider : {1, 2}) {
        for (const int distance : {-3000, 3000}) {
            dragDivider(columns, divider, distance);
            for (int pane = 0; pane < 3; ++pane)
                EXPECT_GT(columns->sizes().at(pane), 0) << divider << " " << distance << " " << pane;
        }
    }
    window->hide();
}
