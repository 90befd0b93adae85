#include "app/OVNPaneGeometry.h"

#include <gtest/gtest.h>

using namespace OVNPaneGeometry;

TEST(PaneGeometry, GripsStopAtTheirLimitsAndEveryPaneStaysAtZeroOrMore)
{
    const double d = 1;
    const struct {
        const char *what;
        Columns now;
        double width;
        int tag;
        double delta;
        Columns expected;
    } columns[] = {
        {"outline far right: thumbnails keep 120", {200, 400, 400}, 1002, 0, 5000, {480, 120, 400}},
        {"outline far left: 150", {200, 400, 400}, 1002, 0, -5000, {150, 450, 400}},
        {"outline 150 even in a narrow window", {100, 50, 320}, 472, 0, -10, {150, 0, 320}},
        {"right column far right: 320", {200, 400, 400}, 1002, 2, 5000, {200, 480, 320}},
        {"right column far left: thumbnails 0", {200, 400, 400}, 1002, 1, -5000, {200, 0, 800}},
        {"too narrow for the minimum: right column gives way", {200, 50, 100}, 352, 2, 0, {200, 0, 150}},
        {"other tag", {200, 400, 400}, 1002, 3, 50, {200, 400, 400}},
    };
    for (const auto &c : columns)
        EXPECT_EQ(afterWidthGrip(c.now, c.width, d, c.tag, c.delta), c.expected) << c.what;

    const struct {
        const char *what;
        Rows now;
        double height;
        int tag;
        double delta;
        Rows expected;
    } rows[] = {
        {"grip far up: preview 150", {300, 300}, 601, 2, 5000, {150, 450}},
        {"grip far down: details 200", {300, 300}, 601, 2, -5000, {400, 200}},
        {"details win in a short column", {300, 300}, 301, 2, 0, {100, 200}},
        {"a column shorter than the details' minimum", {50, 50}, 101, 2, 0, {0, 100}},
        {"other tag", {300, 300}, 601, 1, 50, {300, 300}},
    };
    for (const auto &r : rows)
        EXPECT_EQ(afterHeightGrip(r.now, r.height, d, r.tag, r.delta), r.expected) << r.what;

    // Restoring: the right column and the details take what is left, never less than nothing.
    EXPECT_EQ(restoredColumns(140, 270, 1002, d), (Columns{140, 270, 590}));
    EXPECT_EQ(restoredColumns(140, 270, 302, d), (Columns{140, 160, 0}));
    EXPECT_EQ(restoredColumns(400, 270, 102, d), (Columns{100, 0, 0}));
    EXPECT_EQ(restoredColumns(140, 270, 0, d), (Columns{0, 0, 0}));
    EXPECT_EQ(restoredRows(180, 601, d), (Rows{180, 420}));
    EXPECT_EQ(restoredRows(180, 101, d), (Rows{100, 0}));

    EXPECT_EQ(dividerMinimum(), 150);
    EXPECT_EQ(dividerMaximum(true, 0, false, 600), 400);
    EXPECT_EQ(dividerMaximum(false, 0, false, 600), 480);
    EXPECT_EQ(dividerMaximum(false, 1, false, 600), 280);
    EXPECT_EQ(dividerMaximum(false, 1, true, 600), 600);
}

TEST(PaneGeometry, AReopenedRightColumnGetsItsWidthBackAndNoPaneIsSqueezedAway)
{
    const struct {
        const char *what;
        Columns before; // w1 is not used
        double width;
        Columns expected;
    } cases[] = {
        {"room for all", {200, 0, 400}, 1000, {200, 400, 400}},
        {"nothing known (a window that started hidden long ago)", {0, 0, 0}, 1000, {150, 530, 320}},
        {"a squeezed outline and a sliver of a column", {50, 0, 1}, 1000, {150, 530, 320}},
        {"a narrow window: the column gives way first", {200, 0, 600}, 800, {200, 120, 480}},
        {"narrower still: then the outline, to its minimum", {300, 0, 320}, 560, {150, 90, 320}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(reopenedColumns(c.before, c.width), c.expected) << c.what;
}

TEST(PaneGeometry, AResizedColumnKeepsACollapsedRowCollapsed)
{
    const double d = 1;
    const struct {
        const char *what;
        Rows now;
        double height;
        Rows expected;
    } rows[] = {
        {"preview collapsed: details fill the column", {0, 600}, 801, {0, 800}},
        {"details collapsed: preview fills the column", {600, 0}, 401, {400, 0}},
        {"both open: the details take the change", {180, 420}, 801, {180, 620}},
        {"details keep their minimum, the preview gives way", {300, 300}, 401, {200, 200}},
        {"a column shorter than the details' minimum", {300, 300}, 101, {0, 100}},
    };
    for (const auto &r : rows)
        EXPECT_EQ(resizedRows(r.now, r.height, d), r.expected) << r.what;
}
