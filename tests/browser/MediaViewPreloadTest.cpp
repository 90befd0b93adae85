#include "MediaViewTestSupport.h"

#include "../support/TestEnvironment.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <thread>

namespace {

class MediaViewPreload : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UserDefaults::standard().registerDefaults(
            {{"AssetBackgroundLoader", "1"}, {"AssetBackgroundLoaderMaxCache", "1500"}});
        UserDefaults::standard().removeObjectForKey(QStringLiteral("AssetBackgroundLoader"));
        UserDefaults::standard().removeObjectForKey(QStringLiteral("AssetBackgroundLoaderMaxCache"));
    }
    void TearDown() override { SetUp(); }

    // Sets a container and lets the pass finish its slices.
    static void setAndSettle(OVNMediaView &view, const MediaListRef &list, CountingDelegate &delegate, int expected)
    {
        view.setMediaContainer(list);
        processEventsUntil([&] { return delegate.thumbnailRequests.load() >= expected; }, waitCeilingMs);
        QCoreApplication::processEvents();
    }
};

TEST_F(MediaViewPreload, PassRunsOnlyBelowTheCacheLimit)
{
    CountingDelegate delegate;
    OVNMediaView view;
    view.setDelegate(&delegate);
    const MediaListRef small = makeList(1499);
    setAndSettle(view, small, delegate, 1499);
    EXPECT_EQ(delegate.thumbnailRequests.load(), 1499);
    EXPECT_EQ(small->at(1498)->string(QStringLiteral("preloaded")), QStringLiteral("1"));
    EXPECT_FALSE(small->at(0)->value(QStringLiteral("thumbimage")).toByteArray().isEmpty());

    CountingDelegate other;
    OVNMediaView large;
    large.setDelegate(&other);
    large.setMediaContainer(makeList(1500));
    QCoreApplication::processEvents();
    EXPECT_EQ(other.thumbnailRequests.load(), 0);

    // A limit of 0 means the default.
    UserDefaults::standard().setInteger(0, QStringLiteral("AssetBackgroundLoaderMaxCache"));
    CountingDelegate third;
    OVNMediaView zero;
    zero.setDelegate(&third);
    setAndSettle(zero, makeList(10), third, 10);
    EXPECT_EQ(third.thumbnailRequests.load(), 10);
}

TEST_F(MediaViewPreload, LoaderOffAsksNothingUntilARowIsWanted)
{
    UserDefaults::standard().setString(QStringLiteral("0"), QStringLiteral("AssetBackgroundLoader"));
    CountingDelegate delegate;
    OVNMediaView view;
    view.setDelegate(&delegate);
    view.setMediaContainer(makeList(20));
    QCoreApplication::processEvents();
    EXPECT_EQ(delegate.thumbnailRequests.load(), 0);
    EXPECT_FALSE(view.imageForRow(3).isNull());
    EXPECT_EQ(delegate.requestedIds(), QStringList({"4"}));
    // Fetched once: the record keeps the data.
    view.imageForRow(3);
    EXPECT_EQ(delegate.thumbnailRequests.load(), 1);
}

TEST_F(MediaViewPreload, RecordsWithThumbnailsOrWithoutIdAreNotAsked)
{
    CountingDelegate delegate;
    OVNMediaView view;
    view.setDelegate(&delegate);
    auto list = makeList(3);
    list->at(0)->insert(QStringLiteral("thumbimage"), smallJpeg(Qt::blue));
    list->append(makeRecord(QStringLiteral("no-id.jpg")));
    setAndSettle(view, list, delegate, 2);
    EXPECT_EQ(delegate.requestedIds(), QStringList({"2", "3"}));
    EXPECT_FALSE(view.imageForRow(0).isNull());
    EXPECT_TRUE(view.imageForRow(3).isNull());
    EXPECT_EQ(delegate.thumbnailRequests.load(), 2);
}

TEST_F(MediaViewPreload, NilAnswersAreAskedAgainForEachDrawnRow)
{
    CountingDelegate delegate(OVNMediaViewDelegate::ThumbnailData, true);
    OVNMediaView view;
    view.setDelegate(&delegate);
    setAndSettle(view, makeList(5), delegate, 5);
    EXPECT_EQ(delegate.thumbnailRequests.load(), 5);
    EXPECT_TRUE(view.imageForRow(0).isNull());
    EXPECT_TRUE(view.imageForRow(0).isNull());
    EXPECT_EQ(delegate.thumbnailRequests.load(), 7);
}

TEST_F(MediaViewPreload, ADelegateWithoutTheThumbnailMessageIsNeverAsked)
{
    CountingDelegate delegate(OVNMediaViewDelegate::SelectionDidChange);
    OVNMediaView view;
    view.setDelegate(&delegate);
    auto list = makeList(5);
    list->at(1)->insert(QStringLiteral("thumbimage"), smallJpeg());
    view.setMediaContainer(list);
    QCoreApplication::processEvents();
    EXPECT_TRUE(view.imageForRow(0).isNull());
    EXPECT_FALSE(view.imageForRow(1).isNull());
    EXPECT_EQ(delegate.thumbnailRequests.load(), 0);
}

TEST_F(MediaViewPreload, ChangedThumbnailDataIsDecodedAgain)
{
    CountingDelegate delegate;
    OVNMediaView view;
    view.setDelegate(&delegate);
    auto list = makeList(1);
    list->at(0)->insert(QStringLiteral("thumbimage"), smallJpeg(Qt::red));
    view.setMediaContainer(list);
    const QImage first = view.imageForRow(0);
    EXPECT_GT(qRed(first.pixel(8, 6)), 200);
    // A rotation drops the data; the next draw asks again and shows the new thumbnail.
    view.removeMediaObject(QStringLiteral("thumbimage"), 0);
    list->at(0)->insert(QStringLiteral("thumbimage"), smallJpeg(Qt::blue));
    const QImage second = view.imageForRow(0);
    EXPECT_GT(qBlue(second.pixel(8, 6)), 200);
}

TEST_F(MediaViewPreload, TheGuiThreadPassYieldsBetweenScreens)
{
    CountingDelegate delegate;
    OVNMediaView view;
    view.setDelegate(&delegate);
    view.setMediaContainer(makeList(1000));
    // The first screen is fetched before setMediaContainer returns; the rest follows from the loop.
    const int first = delegate.thumbnailRequests.load();
    EXPECT_GT(first, 0);
    EXPECT_LT(first, 1000);
    EXPECT_TRUE(processEventsUntil([&] { return delegate.thumbnailRequests.load() == 1000; }, waitCeilingMs));

    // Clearing stops what is left of a pass.
    CountingDelegate next;
    OVNMediaView other;
    other.setDelegate(&next);
    other.setMediaContainer(makeList(1000));
    const int before = next.thumbnailRequests.load();
    other.setMediaContainer(nullptr);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(next.thumbnailRequests.load(), before);
}

TEST_F(MediaViewPreload, ClearingWhileAWorkerPassRunsStopsItWithoutDeadlock)
{
    CountingDelegate delegate;
    delegate.delayMs = 5;
    auto view = std::make_unique<OVNMediaView>();
    view->setDelegate(&delegate);
    const MediaListRef list = makeList(1000);

    std::atomic<bool> finished{false};
    std::atomic<bool> shown{true};
    std::thread worker([&] {
        shown = view->setMediaContainer(list);
        finished = true;
    });
    ASSERT_TRUE(processEventsUntil([&] { return delegate.thumbnailRequests.load() >= 5; }, waitCeilingMs));
    view->setMediaContainer(nullptr); // waits for the pass to notice and let go
    const int atClear = delegate.thumbnailRequests.load();
    worker.join();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(shown);
    EXPECT_LT(atClear, 1000);
    EXPECT_LE(delegate.thumbnailRequests.load(), atClear + 1);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    // The abandoned list never reaches the view.
    EXPECT_EQ(view->count(), 0);
    view.reset();
    QCoreApplication::processEvents();
}

TEST_F(MediaViewPreload, AWorkerPassThatCompletesHandsTheListToTheGuiThread)
{
    CountingDelegate delegate;
    OVNMediaView view;
    view.setDelegate(&delegate);
    const MediaListRef list = makeList(50);
    bool shown = false;
    std::thread worker([&] { shown = view.setMediaContainer(list); });
    worker.join();
    EXPECT_TRUE(shown);
    EXPECT_EQ(delegate.thumbnailRequests.load(), 50);
    EXPECT_TRUE(processEventsUntil([&] { return view.count() == 50; }));
    EXPECT_EQ(view.unfilteredContainer().get(), list.get());
}

TEST_F(MediaViewPreload, DestroyingTheViewWaitsForAWorkerPass)
{
    CountingDelegate delegate;
    delegate.delayMs = 2;
    auto view = std::make_unique<OVNMediaView>();
    view->setDelegate(&delegate);
    std::thread worker([&, raw = view.get()] { raw->setMediaContainer(makeList(500)); });
    ASSERT_TRUE(processEventsUntil([&] { return delegate.thumbnailRequests.load() >= 3; }, waitCeilingMs));
    view.reset();
    worker.join();
    EXPECT_LT(delegate.thumbnailRequests.load(), 500);
}

} // namespace
