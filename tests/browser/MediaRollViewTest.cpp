#include "browser/OVNMediaRollView.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<MediaList> items(int count)
{
    auto list = std::make_shared<MediaList>();
    for (int i = 0; i < count; ++i) {
        auto record = std::make_shared<MediaRecord>();
        record->setField(MediaRecord::Mid, QString::number(i));
        list->append(record);
    }
    return list;
}

} // namespace

// One row of 130-point frames 3 apart, at least as large as the viewport; no division for none.
TEST(MediaRollViewTest, OneRowAsWideAsItsItems)
{
    struct Case {
        int items;
        QSizeF viewport, document;
    };
    const Case cases[] = {
        {0, {500, 120}, {500, 143}},   {0, {500, 300}, {500, 300}},    {1, {100, 143}, {136, 143}},
        {10, {800, 143}, {1333, 143}}, {10, {2000, 143}, {2000, 143}}, {10000, {1000, 150}, {1330003, 150}},
        {5, {0, 143}, {0, 0}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(OVNMediaRollView::documentSizeFor(c.viewport, c.items), c.document)
            << c.items << " " << c.viewport.width();

    OVNMediaRollView roll;
    for (int width : {300, 900, 2000}) {
        roll.resize(width, 160);
        roll.setMediaContainer(items(10));
        EXPECT_EQ(roll.numberOfColumnsPerRow(), 10);
        EXPECT_EQ(roll.numberOfRows(), 1);
        EXPECT_EQ(roll.documentSize().width(), std::max(1333, roll.viewport()->width())) << width;
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(roll.imageRect(i).topLeft(), QPointF(3 + 133 * i, 0)) << i;
    }
    roll.setMediaContainer(items(0));
    EXPECT_EQ(roll.count(), 0);
    EXPECT_EQ(roll.documentSize().width(), roll.viewport()->width());
    EXPECT_GE(roll.documentSize().height(), 143);
}
