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
    roll.setMediaContainer(items(10000));
    EXPECT_EQ(roll.documentSize().width(), 3 + 133 * 10000);
    roll.setMediaContainer(items(0));
    EXPECT_EQ(roll.count(), 0);
    EXPECT_EQ(roll.documentSize().width(), roll.viewport()->width());
    EXPECT_GE(roll.documentSize().height(), 143);
}
