#include "MediaViewTestSupport.h"

#include "browser/OVNMediaViewSorting.h"

#include <gtest/gtest.h>

namespace {

MediaListRef listOf(const QStringList &names)
{
    auto list = std::make_shared<MediaList>();
    int mid = 1;
    for (const QString &name : names)
        list->append(makeRecord(name, QString::number(mid++)));
    return list;
}

TEST(MediaViewStacks, FirstStackIsZeroAndNoStackAnswersMinusOne)
{
    OVNMediaView view;
    view.setMediaContainer(listOf({"a", "b", "c"}));
    view.selectRow(0);
    EXPECT_EQ(view.selectedGroup(), -1);
    view.selectRow(2);
    EXPECT_EQ(view.createGroupWithSelection(), 0);
    view.deselectAll();
    view.selectRow(2);
    EXPECT_EQ(view.selectedGroup(), 0);
    // The first selected row is the keyframe.
    EXPECT_EQ(view.mediaObject("keyframe", 0).toInt(), 1);
    EXPECT_FALSE(view.mediaObject("keyframe", 2).isValid());
    EXPECT_EQ(view.stack(0)->title, QStringLiteral("Group 0"));
    EXPECT_FALSE(view.isGroupCollapsed(0));
    EXPECT_EQ(view.createGroupWithItems({1}), 1);
}

TEST(MediaViewStacks, CollapseHidesMembersAndExpandPutsThemBackAfterTheRow)
{
    OVNMediaView view;
    view.setMediaContainer(listOf({"a", "b", "c", "d"}));
    const int id = view.createGroupWithItems({1, 2, 3});
    view.collapseGroup(id, 2);
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"a", "c"}));
    EXPECT_TRUE(view.isGroupCollapsed(id));
    EXPECT_EQ(view.stack(id)->collapseditems, 2);
    EXPECT_EQ(view.mediaObject("keyframe", 1).toInt(), 1);
    view.expandGroup(id, 1);
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"a", "c", "b", "d"}));
    EXPECT_FALSE(view.isGroupCollapsed(id));
    EXPECT_TRUE(view.stack(id)->itemcontainer.isEmpty());
}

TEST(MediaViewStacks, RemovingTheShownItemOfACollapsedStackShowsTheOthersInItsPlace)
{
    OVNMediaView view;
    view.setMediaContainer(listOf({"a", "b", "c", "d", "e"}));
    const int id = view.createGroupWithItems({1, 2, 3});
    view.collapseGroup(id, 1);
    ASSERT_EQ(namesOf(view.mediaContainer()), QStringList({"a", "b", "e"}));
    view.removeObjectAtIndex(1);
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"a", "c", "d", "e"}));
    EXPECT_FALSE(view.isGroupCollapsed(id));
    EXPECT_EQ(view.mediaObject("keyframe", 1).toInt(), 1);
    EXPECT_EQ(view.mediaObject("group", 2).toInt(), id);
    // A later filter shows them too.
    view.setFilter(QString());
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"a", "c", "d", "e"}));
}

TEST(MediaViewStacks, FilterChangeKeepsCollapsedMembersHidden)
{
    OVNMediaView view;
    view.setMediaContainer(listOf({"a", "b", "c"}));
    const int id = view.createGroupWithItems({0, 1, 2});
    view.collapseGroup(id, 0);
    view.setFilter(QString());
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"a"}));
    view.expandGroup(id, 0);
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"a", "b", "c"}));
}

TEST(MediaViewStacks, UngroupExpandsAndDropsTheStack)
{
    OVNMediaView view;
    view.setMediaContainer(listOf({"a", "b", "c"}));
    const int id = view.createGroupWithItems({0, 1});
    view.collapseGroup(id, 0);
    view.selectRow(0);
    view.ungroupSelection();
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"a", "b", "c"}));
    EXPECT_FALSE(view.stack(id));
    EXPECT_FALSE(view.mediaObject("group", 0).isValid());
    EXPECT_FALSE(view.mediaObject("group", 1).isValid());
}

TEST(MediaViewStacks, AutoGroupingByExtensionCode)
{
    OVNMediaView view;
    view.setMediaContainer(listOf({"IMG_1-a.jpg", "IMG_1-b.jpg", "IMG_1_c.tif", "IMG_2.jpg", "x.jpg"}));
    view.setSortOrder(3);
    view.createGroupsWithCurrentSorting();
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"IMG_1-a.jpg", "IMG_2.jpg", "x.jpg"}));
    const int group = view.mediaObject("group", 0).toInt();
    ASSERT_TRUE(view.stack(group));
    EXPECT_TRUE(view.isGroupCollapsed(group));
    EXPECT_EQ(view.stack(group)->collapseditems, 2);
    EXPECT_EQ(view.mediaObject("keyframe", 0).toInt(), 1);
    // "IMG_2" is cut to "IMG", which no neighbour shares.
    EXPECT_FALSE(view.mediaObject("group", 1).isValid());
    EXPECT_FALSE(view.mediaObject("group", 2).isValid());
}

TEST(MediaViewStacks, AutoGroupingKeysAndMissingValues)
{
    QString key;
    const MediaRecordRef dated = makeRecord("a", "1", {{"dts", "2024-05-01 10:00:00"}});
    ASSERT_TRUE(OVNMediaViewSorting::groupKey(*dated, 1, &key));
    EXPECT_EQ(key, QStringLiteral("2024-05-01"));
    const MediaRecordRef leading = makeRecord("a", "1", {{"filedts", " 2024"}});
    ASSERT_TRUE(OVNMediaViewSorting::groupKey(*leading, 4, &key));
    EXPECT_EQ(key, QStringLiteral(" 2024"));
    EXPECT_FALSE(OVNMediaViewSorting::groupKey(*makeRecord("a"), 1, &key));
    EXPECT_FALSE(OVNMediaViewSorting::groupKey(*dated, 0, &key));
    ASSERT_TRUE(OVNMediaViewSorting::groupKey(*makeRecord("_x-y.jpg"), 3, &key));
    EXPECT_EQ(key, QStringLiteral("_x"));

    // Two records without a rating group together; two without an import date never do.
    OVNMediaView view;
    view.setMediaContainer(listOf({"a", "b"}));
    view.setSortOrder(5);
    view.createGroupsWithCurrentSorting();
    EXPECT_EQ(view.count(), 1);
    OVNMediaView other;
    other.setMediaContainer(listOf({"a", "b"}));
    other.setSortOrder(1);
    other.createGroupsWithCurrentSorting();
    EXPECT_EQ(other.count(), 2);
}

} // namespace
