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

TEST(MediaViewModel, NilContainerEmptiesBothListsAndAccessorsAnswerEmpty)
{
    OVNMediaView view;
    view.setMediaContainer(listOf({QStringLiteral("a.jpg")}));
    ASSERT_EQ(view.count(), 1);
    view.setMediaContainer(nullptr);
    EXPECT_EQ(view.count(), 0);
    EXPECT_FALSE(view.unfilteredContainer());
    EXPECT_FALSE(view.hasMediaContainer());
    EXPECT_EQ(view.mediaIDForRow(0), QString(""));
    EXPECT_FALSE(view.mediaIDForRow(0).isNull());
    EXPECT_EQ(view.filenameForRow(0), QString(""));
    EXPECT_EQ(view.entryMIDForRow(0), QString(""));
    EXPECT_FALSE(view.objectForRow(0));
    EXPECT_TRUE(view.imageForRow(0).isNull());
}

TEST(MediaViewModel, RecordsAndTheListAreSharedWithTheOwner)
{
    OVNMediaView view;
    const MediaListRef owner = listOf({QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")});
    view.setMediaContainer(owner);
    EXPECT_EQ(view.unfilteredContainer().get(), owner.get());

    // An edit through the view is the owner's record.
    view.setMediaObject(QStringLiteral("rating"), QStringLiteral("4"), 1);
    EXPECT_EQ(owner->at(1)->string(QStringLiteral("rating")), QStringLiteral("4"));
    EXPECT_EQ(view.objectForRow(1).get(), owner->at(1).get());

    // A deleted entry leaves both lists: a later filter change does not bring it back.
    view.removeObjectAtIndex(1);
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"a.jpg", "c.jpg"}));
    EXPECT_EQ(owner->size(), 2);
    view.setFilter(QString());
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"a.jpg", "c.jpg"}));
    view.removeObjectAtIndex(5); // out of range: nothing
    EXPECT_EQ(view.count(), 2);
}

TEST(MediaViewModel, FilterLowersTheValueButNotTheFilter)
{
    OVNMediaView view;
    auto list = listOf({QStringLiteral("ab"), QStringLiteral("XAB.jpg"), QStringLiteral("other")});
    list->at(2)->insert(QStringLiteral("keywords"), QStringLiteral("Beach, ABba"));
    list->append(makeRecord(QStringLiteral("Ärger.jpg"), QStringLiteral("9")));
    view.setMediaContainer(list);

    view.setFilter(QStringLiteral("Ab"));
    EXPECT_EQ(view.count(), 0);
    view.setFilter(QStringLiteral("ab"));
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"ab", "XAB.jpg", "other"}));
    view.setFilter(QStringLiteral("ab"), QStringLiteral("displaytag"));
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"ab", "XAB.jpg"}));
    // A key the records lack matches nothing.
    view.setFilter(QStringLiteral("ab"), QStringLiteral("fulldesc"));
    EXPECT_EQ(view.count(), 0);
    view.setFilter(QStringLiteral("ärg"));
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"Ärger.jpg"}));
    view.setFilter(QString());
    EXPECT_EQ(view.count(), 4);
}

TEST(MediaViewModel, TagContainsIsLiteralAndCaseSensitive)
{
    EXPECT_FALSE(OVNMediaView::tagContains(QString(), QStringLiteral("a")));
    EXPECT_FALSE(OVNMediaView::tagContains(QStringLiteral("a"), QString()));
    EXPECT_FALSE(OVNMediaView::tagContains(QStringLiteral("ab"), QStringLiteral("abc")));
    EXPECT_TRUE(OVNMediaView::tagContains(QStringLiteral("abc"), QStringLiteral("abc")));
    EXPECT_TRUE(OVNMediaView::tagContains(QStringLiteral("xabc"), QStringLiteral("bc")));
    EXPECT_FALSE(OVNMediaView::tagContains(QStringLiteral("xabc"), QStringLiteral("BC")));
}

TEST(MediaViewModel, SortCodesAndDirection)
{
    OVNMediaView view;
    view.setMediaContainer(listOf({QStringLiteral("a.tif"), QStringLiteral("c.jpg"), QStringLiteral("b.tif")}));
    view.setSortOrder(3);
    view.setSortAscending(false);
    view.sortMediaContainer();
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"b.tif", "a.tif", "c.jpg"}));
    view.setSortAscending(true);
    view.sortMediaContainer();
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"c.jpg", "a.tif", "b.tif"}));

    // The comparison itself: 512 added means descending.
    const MediaRecordRef a = makeRecord(QStringLiteral("a.tif"));
    const MediaRecordRef c = makeRecord(QStringLiteral("c.jpg"));
    EXPECT_GT(OVNMediaViewSorting::mediaSort(*a, *c, 3), 0);
    EXPECT_LT(OVNMediaViewSorting::mediaSort(*a, *c, 3 + 512), 0);
    EXPECT_LT(OVNMediaViewSorting::mediaSort(*a, *c, 2), 0);
    EXPECT_GT(OVNMediaViewSorting::mediaSort(*a, *c, 2 + 512), 0);
    EXPECT_EQ(OVNMediaViewSorting::mediaSort(*a, *a, 2 + 512), 0);

    // Names compare without regard to case; missing values are empty and sort first.
    view.setMediaContainer(listOf({QStringLiteral("b"), QStringLiteral("A"), QString(), QStringLiteral("a")}));
    view.setSortOrder(2);
    view.sortMediaContainer();
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"", "A", "a", "b"}));
}

TEST(MediaViewModel, SortingKeepsTheSelectedItemsSelected)
{
    OVNMediaView view;
    view.setMediaContainer(
        listOf({QStringLiteral("d"), QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("c")}));
    view.selectRow(0); // d
    view.selectRow(2); // a
    view.setSortOrder(2);
    view.sortMediaContainer();
    ASSERT_EQ(namesOf(view.mediaContainer()), QStringList({"a", "b", "c", "d"}));
    // The rows follow their items, in selection order; nothing else is selected.
    EXPECT_EQ(view.selectedRows(), QList<int>({3, 0}));
    EXPECT_EQ(view.mediaIDForRow(view.selectedRow()), QStringLiteral("3"));
    EXPECT_TRUE(view.isRowSelected(0));
    EXPECT_FALSE(view.isRowSelected(1));
    EXPECT_FALSE(view.isRowSelected(2));
}

TEST(MediaViewModel, AnUnknownSortCodeLeavesTheOrderAsItIs)
{
    OVNMediaView view;
    view.setMediaContainer(listOf({QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("b")}));
    for (int code : {0, 6, 511, 512, 600, -1}) {
        view.setSortOrder(code);
        view.sortMediaContainer();
        EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"c", "a", "b"})) << code;
    }
    const MediaRecordRef a = makeRecord(QStringLiteral("a"));
    const MediaRecordRef b = makeRecord(QStringLiteral("b"));
    EXPECT_EQ(OVNMediaViewSorting::mediaSort(*a, *b, 9), 0);
    EXPECT_EQ(OVNMediaViewSorting::mediaSort(*b, *a, 9), 0);
}

TEST(MediaViewModel, SortByDatesAndRatingAsText)
{
    OVNMediaView view;
    auto list = std::make_shared<MediaList>();
    list->append(
        makeRecord(QStringLiteral("x"), QStringLiteral("1"), {{"dts", "2024-05-01 10:00:00"}, {"rating", "3"}}));
    list->append(makeRecord(QStringLiteral("y"), QStringLiteral("2"), {{"dts", "2023-01-01 09:00:00"}}));
    list->append(
        makeRecord(QStringLiteral("z"), QStringLiteral("3"), {{"dts", "2024-05-01 08:00:00"}, {"rating", "5"}}));
    view.setMediaContainer(list);
    view.setSortOrder(1);
    view.sortMediaContainer();
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"y", "z", "x"}));
    view.setSortOrder(5);
    view.setSortAscending(false);
    view.sortMediaContainer();
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"z", "x", "y"}));
}

TEST(MediaViewModel, FilterAndSortRebuildFromAllItemsAndClearTheSelection)
{
    OVNMediaView view;
    view.setMediaContainer(listOf({QStringLiteral("b"), QStringLiteral("a")}));
    view.setSortOrder(2);
    view.selectRow(1);
    view.setFilter(QString());
    EXPECT_EQ(view.numberOfSelectedRows(), 0);
    EXPECT_EQ(namesOf(view.mediaContainer()), QStringList({"a", "b"}));
}

TEST(MediaViewModel, RowLookups)
{
    OVNMediaView view;
    auto list = listOf({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("b2")});
    list->at(1)->insert(QStringLiteral("absolutepath"), QStringLiteral("/p/b"));
    list->at(2)->insert(QStringLiteral("absolutepath"), QStringLiteral("/p/b"));
    list->at(2)->insert(QStringLiteral("imagesetmid"), QStringLiteral("77"));
    view.setMediaContainer(list);
    EXPECT_EQ(view.rowForFilename(QStringLiteral("/p/b")), 1);
    EXPECT_EQ(view.rowForFilename(QStringLiteral("/nope")), -1);
    EXPECT_EQ(view.midForFilename(QStringLiteral("/p/b")), QStringLiteral("2"));
    EXPECT_TRUE(view.midForFilename(QStringLiteral("/nope")).isNull());
    EXPECT_EQ(view.rowForMid(QStringLiteral("3")), 2);
    EXPECT_EQ(view.entryMIDForRow(2), QStringLiteral("77"));
    view.removeMediaObject(QStringLiteral("absolutepath"), 1);
    EXPECT_EQ(view.rowForFilename(QStringLiteral("/p/b")), 2);
}

TEST(MediaViewModel, ContainerKindAndCategoryId)
{
    OVNMediaView view;
    EXPECT_TRUE(view.mediaContainerType().isNull());
    EXPECT_EQ(view.mediaContainerMID(), QString(""));
    view.setMediaContainerType(QString());
    EXPECT_EQ(view.mediaContainerType(), QStringLiteral("C"));
    view.setMediaContainerType(QStringLiteral("S"));
    EXPECT_EQ(view.mediaContainerType(), QStringLiteral("S"));
}

TEST(MediaViewModel, ThumbnailStyleKeepsTheListWidth)
{
    OVNMediaView view;
    EXPECT_EQ(view.thumbnailWidth(), 100);
    EXPECT_EQ(view.thumbnailHeight(), 140);
    view.setThumbnailStyle(3);
    EXPECT_EQ(view.thumbnailWidth(), 400);
    EXPECT_EQ(view.thumbnailHeight(), 100);
    view.setThumbnailStyle(0);
    EXPECT_EQ(view.thumbnailWidth(), 100);
    EXPECT_EQ(view.thumbnailHeight(), 100);
    view.setThumbnailWidth(150);
    EXPECT_EQ(view.thumbnailHeight(), 150);
    view.setDisplayType(1);
    EXPECT_EQ(view.thumbnailWidth(), 130);
    EXPECT_EQ(view.thumbnailHeight(), 140);
    EXPECT_EQ(view.thumbnailDistance(), 3);
    view.setThumbnailQuality(2);
    EXPECT_EQ(view.thumbnailQuality(), 3);
    view.setThumbnailQuality(7);
    EXPECT_EQ(view.thumbnailQuality(), 3);
}

} // namespace
