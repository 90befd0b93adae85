// The thumbnail view's cache: pictures fitted to the cell, a bound in bytes, and fetched data that
// leaves a record with its entry.
#include "MediaViewTestSupport.h"

#include "../support/TestEnvironment.h"
#include "browser/OVNThumbnailCache.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QPainter>
#include <QScrollBar>

#include <gtest/gtest.h>

namespace {

const QString keyThumbImage = QStringLiteral("thumbimage");

QByteArray jpegOf(const QSize &size, QColor color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return data;
}

TEST(OVNThumbnailCache, PicturesAreFittedToTheCellAndDecodedAgainForALargerOne)
{
    struct Case {
        QSize stored;
        QSize box;
        QSize fitted;
    };
    // A document page, a landscape, and a picture smaller than the cell, which keeps its size.
    for (const Case &c : {Case{{724, 1024}, {128, 128}, {90, 128}}, Case{{1024, 512}, {428, 128}, {256, 128}},
                          Case{{60, 40}, {128, 128}, {60, 40}}}) {
        QSize source;
        const QImage picture = OVNThumbnailCache::decodeToFit(jpegOf(c.stored, Qt::darkCyan), c.box, &source);
        EXPECT_EQ(picture.size(), c.fitted) << c.stored.width();
        EXPECT_EQ(source, c.stored);
        EXPECT_LT(std::abs(qGreen(picture.pixel(picture.width() / 2, picture.height() / 2)) - 128), 6);
    }

    OVNThumbnailCache cache;
    const MediaRecordRef record = makeRecord(QStringLiteral("page.jpg"), QStringLiteral("1"));
    const QByteArray data = jpegOf({724, 1024}, Qt::red);
    cache.storeFetched(record, data);
    QSize source;
    const QImage small = OVNThumbnailCache::decodeToFit(data, {128, 128}, &source);
    cache.storePicture(record, data, small, source);
    QImage found;
    EXPECT_TRUE(cache.picture(record, {128, 128}, &found));
    EXPECT_EQ(found.cacheKey(), small.cacheKey());
    EXPECT_TRUE(cache.picture(record, {64, 64}, &found));
    EXPECT_FALSE(cache.picture(record, {256, 256}, &found));
    // The list style's wide cell needs no more of a portrait page than the square one did.
    EXPECT_TRUE(cache.picture(record, {428, 128}, &found));
    // Data replaced by the owner (a turned thumbnail) is not matched by the old picture.
    record->insert(keyThumbImage, jpegOf({724, 1024}, Qt::blue));
    EXPECT_FALSE(cache.picture(record, {128, 128}, &found));
}

TEST(OVNThumbnailCache, StaysWithinItsBoundsAndGivesFetchedDataBack)
{
    OVNThumbnailCache cache;
    cache.setMaxBytes(qint64(4) << 20);
    cache.setMaxEntries(40);
    const QByteArray ownersData = jpegOf({16, 16}, Qt::green);
    QList<MediaRecordRef> records;
    for (int i = 0; i < 300; ++i) {
        const MediaRecordRef record = makeRecord(QStringLiteral("IMG_%1.jpg").arg(i), QString::number(i));
        // Every tenth record came with its thumbnail from the owner; the others are fetched.
        const QByteArray data = i % 10 == 0 ? ownersData : QByteArray(20000, char(i));
        if (i % 10 == 0)
            record->insert(keyThumbImage, data);
        else
            cache.storeFetched(record, data);
        QImage picture(300, 400, QImage::Format_RGB32); // about 470 KB
        picture.fill(Qt::white);
        cache.storePicture(record, data, picture, picture.size());
        records.append(record);
        ASSERT_LE(cache.bytes(), cache.maxBytes()) << i;
        ASSERT_LE(cache.count(), cache.maxEntries()) << i;
    }
    EXPECT_GT(cache.count(), 4);
    int holding = 0;
    for (int i = 0; i < 300; ++i) {
        const bool kept = records.at(i)->contains(keyThumbImage);
        if (i % 10 == 0)
            EXPECT_TRUE(kept) << i; // the owner's data is not the view's to drop
        else
            holding += kept ? 1 : 0;
    }
    // Only what the cache still counts stays in the records; the newest is among it.
    EXPECT_LE(holding, cache.count());
    EXPECT_TRUE(records.last()->contains(keyThumbImage));
    EXPECT_FALSE(records.at(1)->contains(keyThumbImage));
    EXPECT_FALSE(records.at(1)->contains(QStringLiteral("preloaded")));

    cache.clear();
    EXPECT_EQ(cache.bytes(), 0);
    EXPECT_FALSE(records.last()->contains(keyThumbImage));
    EXPECT_TRUE(records.at(290)->contains(keyThumbImage));
}

// A delegate that hands out a page of its own colour per id, in a fresh buffer as a query does.
class PageDelegate : public CountingDelegate
{
public:
    QByteArray ovnMediaViewThumbnailData(OVNMediaView *view, const QString &mediaId) override
    {
        CountingDelegate::ovnMediaViewThumbnailData(view, mediaId);
        return jpegOf({72, 102}, QColor::fromHsv(mediaId.toInt() * 37 % 360, 200, 220));
    }
};

TEST(OVNThumbnailCache, ARecordScrolledFarAwayIsFetchedAgainAndDrawnTheSame)
{
    UserDefaults::standard().setString(QStringLiteral("0"), QStringLiteral("AssetBackgroundLoader"));
    PageDelegate delegate;
    OVNMediaView view;
    view.setDelegate(&delegate);
    view.setThumbnailLoadBudgetMs(0);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(300, 220);
    view.setThumbnailStyle(0);
    view.setThumbnailWidth(64);
    view.setThumbnailCacheMaxBytes(256 * 1024); // a screen and a bit
    const MediaListRef list = makeList(400);
    view.setMediaContainer(list);
    UserDefaults::standard().removeObjectForKey(QStringLiteral("AssetBackgroundLoader"));

    const QImage top = view.viewport()->grab().toImage();
    ASSERT_TRUE(list->at(0)->contains(keyThumbImage));
    EXPECT_EQ(delegate.thumbnailRequests.load(), view.numberOfColumnsPerRow() * 4);

    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    view.viewport()->grab();
    EXPECT_LE(view.thumbnailCacheBytes(), 256 * 1024);
    EXPECT_FALSE(list->at(0)->contains(keyThumbImage));
    EXPECT_TRUE(list->last()->contains(keyThumbImage));
    // The preview of a record without its data fetches it, whole.
    EXPECT_EQ(view.imageForRow(0).size(), QSize(72, 102));
    EXPECT_EQ(delegate.requestedIds().count(QStringLiteral("1")), 2);

    view.verticalScrollBar()->setValue(0);
    const QImage again = view.viewport()->grab().toImage();
    EXPECT_TRUE(list->at(1)->contains(keyThumbImage));
    EXPECT_EQ(delegate.requestedIds().count(QStringLiteral("1")), 2);
    EXPECT_EQ(delegate.requestedIds().count(QStringLiteral("2")), 2);
    EXPECT_EQ(again, top);
}

} // namespace
