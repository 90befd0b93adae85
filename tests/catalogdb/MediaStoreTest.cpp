#include "CatalogFixture.h"

#include "catalogdb/OVNDBHelper.h"
#include "platform/PropertyList.h"

namespace {

const QString trickyText = QStringLiteral("O'Brien's 100% %1 %s \\n C:\\x\\ 'quoted' Grüße ✓ 東京");

} // namespace

class MediaStoreTest : public CatalogFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        m_collection = db.addCategoryListEntry(QStringLiteral("Roll"));
        ASSERT_FALSE(m_collection.isEmpty());
    }

    QString m_collection;
};

OVN_CATALOG_VENDORS(MediaStoreTest);

TEST_P(MediaStoreTest, AnImportRecordIsStoredAndListedUnderTheTwentySixKeys)
{
    QVariantMap record = importRecord(m_collection, QStringLiteral("pic.jpg"));
    record.insert(QStringLiteral("keywords"), trickyText);
    record.insert(QStringLiteral("fulldesc"), trickyText + QLatin1Char('\n') + trickyText);
    const QString mid = db.addMediaListEntry(record);
    ASSERT_FALSE(mid.isEmpty());

    const MediaList list = db.getMediaList(m_collection);
    ASSERT_EQ(list.size(), 1);
    const MediaRecord &media = *list.at(0);
    EXPECT_EQ(media.keys().size(), 26);
    for (const QString &key : OVNDBHelper::mediaRecordKeys())
        EXPECT_EQ(media.value(key).typeId(), QMetaType::QString) << qPrintable(key);
    EXPECT_EQ(media.value(QStringLiteral("mid")).toString(), mid);
    EXPECT_EQ(media.value(QStringLiteral("categoryid")).toString(), m_collection);
    EXPECT_EQ(media.value(QStringLiteral("displaytag")).toString(), QStringLiteral("pic.jpg"));
    EXPECT_EQ(media.value(QStringLiteral("absolutepath")).toString(), QStringLiteral("/home/ann/Pictures/pic.jpg"));
    EXPECT_EQ(media.value(QStringLiteral("filesize")).toString(), QStringLiteral("123456"));
    EXPECT_EQ(media.value(QStringLiteral("imageheight")).toString(), QStringLiteral("480"));
    EXPECT_EQ(media.value(QStringLiteral("filedts")).toString(), fileDateText());
    EXPECT_EQ(media.value(QStringLiteral("keywords")).toString(), trickyText);
    EXPECT_EQ(media.value(QStringLiteral("fulldesc")).toString(), trickyText + QLatin1Char('\n') + trickyText);
    EXPECT_EQ(media.value(QStringLiteral("orientation")).toString(), QStringLiteral("6"));
    EXPECT_EQ(media.value(QStringLiteral("rating")).toString(), QStringLiteral("4"));
    EXPECT_EQ(media.value(QStringLiteral("imagesetmid")).toString(), QStringLiteral("0"));
    EXPECT_EQ(media.value(QStringLiteral("pricetag")).toString(), QString()); // NULL
    EXPECT_EQ(db.getMediaMIDListForCategory(m_collection), QStringList{mid});
    EXPECT_TRUE(db.getThumbnailForMediaID(mid).isEmpty());
}

TEST_P(MediaStoreTest, MissingImportValuesBecomeEmptyTextAndZero)
{
    QVariantMap record = {{QStringLiteral("categoryid"), m_collection},
                          {QStringLiteral("filesize"), QStringLiteral("12kb")}};
    if (isPostgres()) {
        // A server takes no empty text for a date: the insert fails and leaves nothing.
        EXPECT_TRUE(db.addMediaListEntry(record).isEmpty());
        EXPECT_TRUE(db.getMediaList(m_collection).isEmpty());
        record.insert(QStringLiteral("filedts"), fileDateText());
        record.insert(QStringLiteral("dts"), fileDateText());
    }
    const QString mid = db.addMediaListEntry(record);
    ASSERT_FALSE(mid.isEmpty());
    const MediaRecord media = *db.getMediaList(m_collection).at(0);
    EXPECT_EQ(media.value(QStringLiteral("filesize")).toString(), QStringLiteral("12"));
    EXPECT_EQ(media.value(QStringLiteral("imagewidth")).toString(), QStringLiteral("0"));
    EXPECT_EQ(media.value(QStringLiteral("displaytag")).toString(), QString());
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("update strvfile set keywords=NULL")));
    EXPECT_EQ(db.getMediaList(m_collection).at(0)->value(QStringLiteral("keywords")).toString(), QString());
}

TEST_P(MediaStoreTest, ThumbnailBytesRoundTrip)
{
    QVariantMap record = importRecord(m_collection, QStringLiteral("pic.jpg"));
    const QByteArray thumbnail("\x00\x27\x5c\xff\xd8\x00'\\", 8);
    record.insert(QStringLiteral("thumbimage"), thumbnail);
    const QString mid = db.addMediaListEntry(record);
    EXPECT_EQ(db.getThumbnailForMediaID(mid), thumbnail);

    const QByteArray replaced("\x5c\x27\x00", 3);
    EXPECT_TRUE(db.updateThumbnailForMediaID(mid, replaced));
    EXPECT_EQ(db.getThumbnailForMediaID(mid), replaced);
    EXPECT_FALSE(db.updateThumbnailForMediaID(QStringLiteral("no such id"), replaced));
    EXPECT_TRUE(db.getThumbnailForMediaID(QStringLiteral("no such id")).isEmpty());
}

TEST_P(MediaStoreTest, ListingsByKind)
{
    const QString other = db.addCategoryListEntry(QStringLiteral("Other"));
    const QString a = db.addMediaListEntry(importRecord(m_collection, QStringLiteral("a.jpg")));
    const QString b = db.addMediaListEntry(importRecord(other, QStringLiteral("b.jpg")));
    const auto mids = [](const MediaList &records) {
        QStringList list;
        for (const MediaRecordRef &record : records)
            list.append(record->value(QStringLiteral("mid")).toString());
        list.sort();
        return list;
    };
    const QStringList both = QStringList({a, b});
    EXPECT_EQ(mids(db.getMediaList(QStringLiteral("0"), QStringLiteral("C"))), both);
    EXPECT_EQ(mids(db.getMediaList(QStringLiteral("ignored"), QStringLiteral("EXPANDABLE"))), both);
    EXPECT_EQ(mids(db.getMediaList(other, QStringLiteral("M"))), QStringList{b});
    EXPECT_TRUE(db.getMediaList(m_collection, QStringLiteral("I")).isEmpty());
    EXPECT_TRUE(db.getMediaList(m_collection, QStringLiteral("F")).isEmpty());

    EXPECT_EQ(mids(db.getMediaListForArray({m_collection})), mids(db.getMediaList(m_collection, QStringLiteral("C"))));
    EXPECT_EQ(mids(db.getMediaListForArray({m_collection, other})), both);
    EXPECT_EQ(mids(db.getMediaListForArray({})), both);
    EXPECT_TRUE(db.getMediaListForArray({QStringLiteral("x' or '1'='1")}).isEmpty());

    EXPECT_EQ(mids(db.getMediaListForSQL(OVNDBHelper::mediaSelect() + QStringLiteral(" where displaytag=$1"),
                                         {QStringLiteral("b.jpg")})),
              QStringList{b});
    // A statement without the whole select list is refused, not half mapped.
    EXPECT_TRUE(db.getMediaListForSQL(QStringLiteral("select mid, displaytag from strvfile")).isEmpty());
    EXPECT_FALSE(db.getLastErrorMessage().isEmpty());
}

TEST_P(MediaStoreTest, RecordsHandedOneByOneAreThoseOfTheListInItsOrder)
{
    const QString set = db.addCategoryListEntry(QStringLiteral("Picks"), QStringLiteral("S"));
    for (int i = 0; i < 6; ++i) {
        QVariantMap record = importRecord(m_collection, QStringLiteral("IMG_%1.jpg").arg(i));
        if (i % 2)
            record.insert(QStringLiteral("keywords"), QStringLiteral("beach, \\ \u00e9t\u00e9"));
        const QString mid = db.addMediaListEntry(record);
        ASSERT_FALSE(mid.isEmpty());
        if (i % 3 == 0) {
            ASSERT_FALSE(db.addEntryToImageSet(mid, set).isEmpty());
        }
    }
    const auto streamed = [this](const QString &category, const QString &kind, qsizetype stopAfter = -1) {
        QList<MediaRecord> records;
        const bool ok = db.forEachMediaRecord(category, kind, [&](const MediaRecord &record) {
            records.append(record);
            return records.size() != stopAfter;
        });
        EXPECT_TRUE(ok) << qPrintable(kind);
        return records;
    };
    const auto listed = [](const MediaList &list) {
        QList<MediaRecord> records;
        for (const MediaRecordRef &record : list)
            records.append(*record);
        return records;
    };
    const struct {
        QString category;
        QString kind;
        qsizetype count;
    } cases[] = {
        {m_collection, QStringLiteral("C"), 6},
        {QStringLiteral("0"), QStringLiteral("C"), 6},
        {set, QStringLiteral("S"), 2},
        {QStringLiteral("ignored"), QStringLiteral("EXPANDABLE"), 6},
    };
    for (const auto &c : cases) {
        const QList<MediaRecord> records = streamed(c.category, c.kind);
        EXPECT_EQ(records.size(), c.count) << qPrintable(c.kind);
        // Every key alike, a null text and an empty one told apart as the list tells them.
        EXPECT_TRUE(records == listed(db.getMediaList(c.category, c.kind))) << qPrintable(c.kind);
    }
    // The caller stops the reading; the connection is free for the next statement at once.
    EXPECT_EQ(streamed(m_collection, QStringLiteral("C"), 2).size(), 2);
    EXPECT_EQ(db.getMediaList(m_collection).size(), 6);
    // Folders list their collections themselves: refused with a reason, nothing handed over.
    bool called = false;
    EXPECT_FALSE(db.forEachMediaRecord(m_collection, QStringLiteral("F"), [&](const MediaRecord &) {
        called = true;
        return true;
    }));
    EXPECT_FALSE(called);
    EXPECT_FALSE(db.getLastErrorMessage().isEmpty());
}

TEST_P(MediaStoreTest, EveryListingKeepsTheImportOrderAfterItsEntriesChange)
{
    // PostgreSQL moves an updated row to the end of its storage; the lists must not follow it.
    const QString set = db.addCategoryListEntry(QStringLiteral("Picks"), QStringLiteral("S"));
    QStringList imported;
    for (int i = 0; i < 24; ++i) {
        imported << db.addMediaListEntry(
            importRecord(m_collection, QStringLiteral("IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0'))));
        ASSERT_FALSE(imported.last().isEmpty());
    }
    for (int i = imported.size() - 1; i >= 0; i -= 3)
        ASSERT_FALSE(db.addEntryToImageSet(imported.at(i), set).isEmpty());
    for (const int changed : {0, 1, 7, 12, 23})
        ASSERT_TRUE(db.updateMediaListEntry(imported.at(changed), QStringLiteral("rating"), QStringLiteral("5"),
                                            OVNDatabaseAccess::BareValue));
    ASSERT_TRUE(db.updateMediaListEntry(imported.at(3), QStringLiteral("fulldesc"), QStringLiteral("long text")));
    // Each entry as its place in the import, so that a failure reads "0 1 2 4 ... 3".
    const auto places = [&imported](const MediaList &records) {
        QStringList list;
        for (const MediaRecordRef &record : records)
            list.append(QString::number(imported.indexOf(record->value(QStringLiteral("mid")).toString())));
        return list.join(QLatin1Char(' ')).toStdString();
    };
    const std::string all = places(db.getMediaList(m_collection, QStringLiteral("EXPANDABLE")));
    const struct {
        const char *listing;
        MediaList records;
        std::string expected;
    } cases[] = {
        {"collection", db.getMediaList(m_collection), all},
        {"whole catalog", db.getMediaList(QStringLiteral("0"), QStringLiteral("C")), all},
        {"folder's collections", db.getMediaListForArray({m_collection}), all},
        {"category set", db.getMediaList(set, QStringLiteral("S")), "2 5 8 11 14 17 20 23"},
    };
    EXPECT_EQ(all, "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23");
    for (const auto &c : cases)
        EXPECT_EQ(places(c.records), c.expected) << c.listing;
}

TEST_P(MediaStoreTest, SetListingsCarryTheMembershipId)
{
    const QString setA = db.addCategoryListEntry(QStringLiteral("A"), QStringLiteral("S"));
    const QString setB = db.addCategoryListEntry(QStringLiteral("B"), QStringLiteral("S"));
    const QString mid = db.addMediaListEntry(importRecord(m_collection, QStringLiteral("a.jpg")));
    const QString inA = db.addEntryToImageSet(mid, setA);
    const QString inB = db.addEntryToImageSet(mid, setB);
    ASSERT_FALSE(inA.isEmpty());
    ASSERT_NE(inA, inB);
    // Linked again, the entry keeps its one membership.
    EXPECT_EQ(db.addEntryToImageSet(mid, setA), inA);
    EXPECT_EQ(db.getEntryCountForCategory(setA, QStringLiteral("S")), 1);

    const MediaList listA = db.getMediaList(setA, QStringLiteral("S"));
    ASSERT_EQ(listA.size(), 1);
    EXPECT_EQ(listA.at(0)->value(QStringLiteral("imagesetmid")).toString(), inA);
    EXPECT_EQ(listA.at(0)->value(QStringLiteral("mid")).toString(), mid);
    EXPECT_EQ(db.getMediaList(setB, QStringLiteral("S")).at(0)->value(QStringLiteral("imagesetmid")).toString(), inB);

    // Leaving a set keeps the record; deleting the record leaves every set.
    ASSERT_TRUE(db.deleteImageSetEntry(inA));
    EXPECT_TRUE(db.getMediaList(setA, QStringLiteral("S")).isEmpty());
    EXPECT_EQ(db.getMediaList(m_collection).size(), 1);
    ASSERT_TRUE(db.deleteMediaListEntry(mid));
    EXPECT_TRUE(db.getMediaList(setB, QStringLiteral("S")).isEmpty());
    EXPECT_TRUE(db.getMediaList(m_collection).isEmpty());
    EXPECT_EQ(db.getEntryCountForCategory(setB, QStringLiteral("S")), 0);
}

TEST_P(MediaStoreTest, SingleFieldsAreWrittenAsTextOrValidatedNumbers)
{
    const QString mid = db.addMediaListEntry(importRecord(m_collection, QStringLiteral("a.jpg")));
    ASSERT_TRUE(db.updateMediaListEntry(mid, QStringLiteral("rating"), QStringLiteral("3")));
    EXPECT_EQ(db.rowsForQuery(isPostgres() ? QStringLiteral("select pg_typeof(rating)::text, rating from strvfile")
                                           : QStringLiteral("select typeof(rating), rating from strvfile"))
                  .at(0),
              OVNRow({QStringLiteral("integer"), QStringLiteral("3")}));

    ASSERT_TRUE(db.updateMediaListEntry(mid, QStringLiteral("keywords"), trickyText));
    EXPECT_EQ(db.getMediaListEntryForMediaID(mid, QStringLiteral("keywords")), trickyText);
    ASSERT_TRUE(db.updateMediaListEntry(mid, QStringLiteral("shortdesc"), QString()));
    EXPECT_EQ(db.rowsForQuery(QStringLiteral("select shortdesc from strvfile")).at(0).at(0).toString(), QString());

    // A number column takes no text, whatever the kind.
    EXPECT_FALSE(db.updateMediaListEntry(mid, QStringLiteral("rating"), QStringLiteral("3; drop table strvfile")));
    EXPECT_FALSE(
        db.updateMediaListEntry(mid, QStringLiteral("keywords"), QStringLiteral("x"), OVNDatabaseAccess::BareValue));
    EXPECT_EQ(db.getMediaListEntryForMediaID(mid, QStringLiteral("rating")), QStringLiteral("3"));
    // A cleared number is no value (NULL, listed empty), except in the two columns that need one.
    const struct {
        const char *column;
        const char *cleared;
    } clearedNumbers[] = {{"pricetag", ""},   {"modrelavailable", ""}, {"proprelavailable", ""}, {"filesize", ""},
                          {"imagewidth", ""}, {"rating", "0"},         {"orientation", "0"}};
    for (const auto &[column, cleared] : clearedNumbers) {
        const QString name = QLatin1String(column);
        ASSERT_TRUE(db.updateMediaListEntry(mid, name, QStringLiteral("1")));
        ASSERT_TRUE(db.updateMediaListEntry(mid, name, QStringLiteral(" "), OVNDatabaseAccess::QuotedValueAlternate))
            << column << qPrintable(db.getLastErrorMessage());
        EXPECT_EQ(db.getMediaList(m_collection).at(0)->value(name).toString(), QLatin1String(cleared)) << column;
        EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select mid from strvfile where %1 is null").arg(name)),
                  *cleared ? 0 : 1)
            << column;
    }

    // Only media columns; only existing records.
    EXPECT_FALSE(db.updateMediaListEntry(mid, QStringLiteral("mid=mid, keywords"), QStringLiteral("x")));
    EXPECT_FALSE(db.updateMediaListEntry(mid, QStringLiteral("thumbimage"), QStringLiteral("x")));
    EXPECT_EQ(db.getMediaListEntryForMediaID(mid, QStringLiteral("1); --")), QString());
    EXPECT_FALSE(
        db.updateMediaListEntry(QStringLiteral("no such id"), QStringLiteral("keywords"), QStringLiteral("x")));
    // Moving a record to another category is a field update too.
    const QString other = db.addCategoryListEntry(QStringLiteral("Other"));
    ASSERT_TRUE(db.updateMediaListEntry(mid, QStringLiteral("categoryid"), other));
    EXPECT_EQ(db.getMediaList(other).size(), 1);
}

TEST_P(MediaStoreTest, TheFirstLicenceFieldMakesTheRowAndLaterOnesUpdateIt)
{
    const QString mid = db.addMediaListEntry(importRecord(m_collection, QStringLiteral("a.jpg")));
    EXPECT_TRUE(db.getPurchasedForMediaID(mid).isEmpty());
    ASSERT_TRUE(db.updatePurchasedEntry(mid, QStringLiteral("owner"), trickyText));
    ASSERT_TRUE(db.updatePurchasedEntry(mid, QStringLiteral("licensetype"), QStringLiteral("2")));
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select id from strvpurchased")), 1);
    const QVariantMap purchased = db.getPurchasedForMediaID(mid);
    EXPECT_EQ(purchased.keys(),
              QStringList({"id", "licenserestrictions", "licensetype", "ordernumber", "owner", "photographer"}));
    EXPECT_EQ(purchased.value(QStringLiteral("owner")).toString(), trickyText);
    EXPECT_EQ(purchased.value(QStringLiteral("licensetype")).toString(), QStringLiteral("2"));
    EXPECT_EQ(purchased.value(QStringLiteral("photographer")).toString(), QString());

    ASSERT_TRUE(db.updateSoldEntry(mid, QStringLiteral("customer"), QStringLiteral("ACME")));
    ASSERT_TRUE(db.updateSoldEntry(mid, QStringLiteral("licensetype"), QString()));
    EXPECT_EQ(db.getSoldForMediaID(mid).value(QStringLiteral("licensetype")).toString(), QString());
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select id from strvsold where licensetype is null")), 1);
    EXPECT_EQ(db.getSoldForMediaID(mid).value(QStringLiteral("customer")).toString(), QStringLiteral("ACME"));

    EXPECT_FALSE(db.updateSoldEntry(mid, QStringLiteral("owner"), QStringLiteral("x")));
    EXPECT_FALSE(db.updatePurchasedEntry(mid, QStringLiteral("licensetype"), QStringLiteral("two")));
    EXPECT_FALSE(db.updatePurchasedEntry(QString(), QStringLiteral("owner"), QStringLiteral("x")));
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select id from strvsold")), 1);
}

TEST_P(MediaStoreTest, TheMetadataRowIsReadWithLowerCaseKeys)
{
    const QString mid = db.addMediaListEntry(importRecord(m_collection, QStringLiteral("a.jpg")));
    EXPECT_TRUE(db.getExifForMediaID(mid).isEmpty());
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("insert into strvexif (mid, CameraMake, ExposureTime, exiftags) "
                                                "values ($1, 'Canon', 0.004, '<plist/>')"),
                                 {mid}));
    const QVariantMap exif = db.getExifForMediaID(mid);
    EXPECT_EQ(exif.size(), 27);
    EXPECT_EQ(exif.value(QStringLiteral("cameramake")).toString(), QStringLiteral("Canon"));
    // A server gives a decimal column with its declared scale.
    EXPECT_EQ(exif.value(QStringLiteral("exposuretime")).toString(),
              isPostgres() ? QStringLiteral("0.0040000000") : QStringLiteral("0.004"));
    EXPECT_EQ(exif.value(QStringLiteral("exiftags")).toString(), QStringLiteral("<plist/>"));
    EXPECT_EQ(exif.value(QStringLiteral("iptctags")).toString(), QString());
}

TEST(ExifRowTest, DictionaryItemsFillTheColumnsTheyNameAndTheTagsTextHoldsThemAll)
{
    const QVariantMap metadata = {
        {QStringLiteral("CameraMake"), QStringLiteral("Canon")},
        {QStringLiteral("CameraModel"), QString(50, QLatin1Char('m'))}, // wider than the column
        {QStringLiteral("DateTime"), QStringLiteral("n/a")},
        {QStringLiteral("ISOequivalent"), qint64(200)}, // keys match without case
        {QStringLiteral("Whitebalance"), qint64(1)},
        {QStringLiteral("Width"), QStringLiteral("3000")}, // a number as text
        {QStringLiteral("ExposureTime"), QStringLiteral("0.008")},
        {QStringLiteral("ApertureFNumber"), 2.8},
        {QStringLiteral("Orientation"), 6.5}, // no integer
        {QStringLiteral("FlashUsed"), QStringLiteral("n/a")},
        {QStringLiteral("Distance"), 1e12},          // beyond decimal(20,10)
        {QStringLiteral("Height"), qint64(1) << 40}, // beyond int
        {QStringLiteral("DC Title"), QStringLiteral("Harbour \"at\" dawn")},
    };
    QVariantMap row;
    for (const auto &[column, value] : OVNDBHelper::exifRowValues(metadata))
        row.insert(column, value);
    const QVariantMap expected = {
        {QStringLiteral("CameraMake"), QStringLiteral("Canon")},
        {QStringLiteral("CameraModel"), QString(40, QLatin1Char('m'))},
        {QStringLiteral("DateTime"), QStringLiteral("n/a")},
        {QStringLiteral("ISOEquivalent"), qint64(200)},
        {QStringLiteral("WhiteBalance"), qint64(1)},
        {QStringLiteral("Width"), qint64(3000)},
        {QStringLiteral("ExposureTime"), 0.008},
        {QStringLiteral("ApertureFNumber"), 2.8},
    };
    const QString tags = row.take(QStringLiteral("exiftags")).toString();
    EXPECT_EQ(row, expected);
    EXPECT_EQ(PropertyList::read(tags.toUtf8()).toMap().value(QStringLiteral("DC Title")).toString(),
              QStringLiteral("Harbour \"at\" dawn"));
    EXPECT_EQ(PropertyList::read(tags.toUtf8()).toMap().size(), metadata.size());
}

TEST_P(MediaStoreTest, TheMetadataRowIsWrittenOncePerEntryAndGoesWithIt)
{
    const QString mid = db.addMediaListEntry(importRecord(m_collection, QStringLiteral("a.jpg")));
    const QVariantMap metadata = {{QStringLiteral("CameraMake"), QStringLiteral("NIKON")},
                                  {QStringLiteral("DateTime"), QStringLiteral("2005:03:30 08:15:00")},
                                  {QStringLiteral("ISOequivalent"), qint64(400)},
                                  {QStringLiteral("FocalLength"), QStringLiteral("18")}};
    ASSERT_TRUE(db.setExifForMediaID(mid, {{QStringLiteral("CameraMake"), QStringLiteral("first")}}));
    ASSERT_TRUE(db.setExifForMediaID(mid, metadata)) << qPrintable(db.getLastErrorMessage());
    ASSERT_TRUE(db.setExifForMediaID(mid, {})); // nothing read: nothing changes
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select id from strvexif where mid=$1"), {mid}), 1);
    const QVariantMap exif = db.getExifForMediaID(mid);
    EXPECT_EQ(exif.value(QStringLiteral("cameramake")).toString(), QStringLiteral("NIKON"));
    EXPECT_EQ(exif.value(QStringLiteral("isoequivalent")).toString(), QStringLiteral("400"));
    EXPECT_EQ(exif.value(QStringLiteral("focallength")).toDouble(), 18.0);
    // The date in the form the search compares it with: after the 29th, also as text.
    EXPECT_EQ(exif.value(QStringLiteral("datetime")).toString(), QStringLiteral("2005-03-30 08:15:00"));
    EXPECT_EQ(
        db.affectedRowsForQuery(QStringLiteral("select id from strvexif where datetime >= '2005-03-29 00:00:00'")), 1);
    EXPECT_EQ(PropertyList::read(exif.value(QStringLiteral("exiftags")).toString().toUtf8()).toMap().keys(),
              metadata.keys());
    ASSERT_TRUE(db.deleteMediaListEntry(mid));
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select id from strvexif")), 0);
}

// A server cannot hold a NUL character in text and would cut the text there; both vendors store
// the text without its NULs, never a cut-off value reported as written.
TEST_P(MediaStoreTest, TextWithNulCharactersIsStoredWithoutThemOnBothVendors)
{
    const QString nul(QChar(0));
    const QList<std::pair<QString, QString>> cases = {
        {QStringLiteral("a") + nul + QStringLiteral("b"), QStringLiteral("ab")},
        {nul + QStringLiteral("leading"), QStringLiteral("leading")},
        {QStringLiteral("trailing") + nul + nul, QStringLiteral("trailing")},
        {QStringLiteral("O'Brien ") + nul + QStringLiteral(" 東京"), QStringLiteral("O'Brien  東京")},
    };
    for (const auto &[written, stored] : cases) {
        const QString shown = QString(written).replace(nul, QStringLiteral("<NUL>"));
        QVariantMap record = importRecord(m_collection, written);
        record.insert(QStringLiteral("fulldesc"), written);
        const QString media = db.addMediaListEntry(record);
        ASSERT_FALSE(media.isEmpty()) << qPrintable(shown) << qPrintable(db.getLastErrorMessage());
        EXPECT_EQ(db.getMediaListEntryForMediaID(media, QStringLiteral("displaytag")), stored) << qPrintable(shown);
        EXPECT_EQ(db.getMediaListEntryForMediaID(media, QStringLiteral("fulldesc")), stored) << qPrintable(shown);

        ASSERT_TRUE(db.updateMediaListEntry(media, QStringLiteral("keywords"), written)) << qPrintable(shown);
        EXPECT_EQ(db.getMediaListEntryForMediaID(media, QStringLiteral("keywords")), stored) << qPrintable(shown);
        ASSERT_TRUE(db.updatePurchasedEntry(media, QStringLiteral("owner"), written)) << qPrintable(shown);
        EXPECT_EQ(db.getPurchasedForMediaID(media).value(QStringLiteral("owner")).toString(), stored)
            << qPrintable(shown);

        const QString category = db.addCategoryListEntry(written);
        ASSERT_FALSE(category.isEmpty()) << qPrintable(shown);
        EXPECT_EQ(db.getCategoryForMID(category)->value(QStringLiteral("displaytag")).toString(), stored)
            << qPrintable(shown);
        // A literal made by the quoting helper finds the stored text.
        EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select mid from strvcategory where displaytag=")
                                          + OVNDBHelper::quotedText(written)),
                  1)
            << qPrintable(shown);
    }
}

// An entry goes with its memberships, metadata and licence rows, one entry or a whole collection,
// and never another collection's; the re-scan reads every entry's path and import date as written.
TEST_P(MediaStoreTest, EntriesAreRemovedWithEveryRowThatHangsOnThem)
{
    const QString other = db.addCategoryListEntry(QStringLiteral("Other"));
    const QString set = db.addCategoryListEntry(QStringLiteral("Set"), QStringLiteral("S"));
    QStringList mids;
    for (const QString &category : {m_collection, m_collection, other}) {
        const QString mid = db.addMediaListEntry(importRecord(category, QStringLiteral("a.jpg")));
        ASSERT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
        ASSERT_TRUE(db.setExifForMediaID(mid, {{QStringLiteral("Make"), QStringLiteral("Maker")}}));
        ASSERT_TRUE(db.updatePurchasedEntry(mid, QStringLiteral("owner"), QStringLiteral("Ann")));
        ASSERT_TRUE(db.updateSoldEntry(mid, QStringLiteral("customer"), QStringLiteral("ACME")));
        ASSERT_FALSE(db.addEntryToImageSet(mid, set).isEmpty());
        mids.append(mid);
    }
    const QList<OVNDatabaseAccess::EntryFile> files = db.getEntryFilesForCategory(m_collection);
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(QSet<QString>({files[0].mid, files[1].mid}), QSet<QString>({mids[0], mids[1]}));
    EXPECT_EQ(files[0].absolutePath, importRecord(m_collection, QStringLiteral("a.jpg")).value("absolutepath"));
    EXPECT_EQ(files[0].importDate, OVNDatabaseAccess::timestampText(QDateTime(QDate(2024, 6, 1), QTime(8, 0))));
    EXPECT_TRUE(db.getEntryFilesForCategory(set).isEmpty());

    const auto rowsOf = [this](const QString &mid) {
        int rows = 0;
        for (const char *sql : {"select mid from strvfile where mid=$1", "select mid from strvexif where mid=$1",
                                "select mid from strvpurchased where mid=$1", "select mid from strvsold where mid=$1",
                                "select mid from strvset where filemid=$1"})
            rows += db.affectedRowsForQuery(QString::fromLatin1(sql), {mid});
        return rows;
    };
    ASSERT_EQ(rowsOf(mids[0]), 5);
    EXPECT_TRUE(db.mediaEntryExists(mids[0]));
    ASSERT_TRUE(db.deleteEntryWithLicences(mids[0])) << qPrintable(db.getLastErrorMessage());
    EXPECT_FALSE(db.mediaEntryExists(mids[0]));
    // Many ids at once, more than one statement takes: those present, and only those.
    QStringList asked{mids[0], mids[1]};
    for (int i = 0; i < 450; ++i)
        asked.append(QStringLiteral("nobody-%1").arg(i));
    asked.append(mids[2]);
    EXPECT_EQ(db.mediaEntriesPresent(asked), std::optional(QSet<QString>({mids[1], mids[2]})));
    EXPECT_EQ(db.mediaEntriesPresent({}), std::optional(QSet<QString>()));
    EXPECT_EQ(rowsOf(mids[0]), 0);
    EXPECT_EQ(rowsOf(mids[1]), 5);
    ASSERT_TRUE(db.deleteEntriesOwnedByCategory(m_collection)) << qPrintable(db.getLastErrorMessage());
    EXPECT_EQ(rowsOf(mids[1]), 0);
    EXPECT_EQ(rowsOf(mids[2]), 5);
    ASSERT_TRUE(db.deleteSetMemberships(set));
    EXPECT_EQ(rowsOf(mids[2]), 4);
    EXPECT_TRUE(db.mediaEntryExists(mids[2]));
}

// Fields of many entries written together land as the same fields written one at a time: the same
// texts and numbers, a cleared number as no value, of two values of one field the later one, an
// entry that does not write a column keeps its own, every licence row of an entry updated, a row
// made for an entry that has none; the licence rows read together are those read one by one.
TEST_P(MediaStoreTest, FieldsOfManyEntriesAreWrittenAsOneAtATimeWouldWriteThem)
{
    using Field = OVNDatabaseAccess::FieldValue;
    // Per entry: its media fields and its purchased and sold fields; how many purchased rows it has.
    const struct {
        QList<std::pair<const char *, QString>> media, purchased, sold;
        int purchasedRows;
    } entries[] = {
        {{{"keywords", "earlier"}, {"keywords", trickyText}, {"modrelavailable", "1"}, {"fulldesc", QString()}},
         {{"owner", "earlier"}, {"owner", trickyText}, {"licensetype", "2"}},
         {{"customer", "ACME"}},
         0},
        {{{"keywords", "b"}, {"modrelavailable", ""}}, {{"owner", "Ann"}, {"licensetype", ""}}, {}, 1},
        {{{"shortdesc", "only this"}}, {{"photographer", "Bo"}}, {{"licensetype", "3"}}, 2},
        {{}, {}, {}, 1},
    };
    QStringList single, together;
    QList<Field> media, purchased, sold;
    for (const auto &entry : entries) {
        for (QStringList *mids : {&single, &together}) {
            QVariantMap record = importRecord(m_collection, QStringLiteral("e.jpg"));
            record.insert(QStringLiteral("fulldesc"), QStringLiteral("kept"));
            mids->append(db.addMediaListEntry(record));
            ASSERT_FALSE(mids->last().isEmpty());
            for (int row = 0; row < entry.purchasedRows; ++row)
                ASSERT_TRUE(db.runSQLCommand(
                    QStringLiteral("insert into strvpurchased (mid, owner, ordernumber) values ($1, $2, $3)"),
                    {mids->last(), QStringLiteral("old%1").arg(row), QStringLiteral("n%1").arg(row)}));
        }
        for (const auto &[column, value] : entry.media) {
            ASSERT_TRUE(db.updateMediaListEntry(single.last(), QLatin1String(column), value));
            media.append({together.last(), QLatin1String(column), value});
        }
        for (const auto &[column, value] : entry.purchased) {
            ASSERT_TRUE(db.updatePurchasedEntry(single.last(), QLatin1String(column), value));
            purchased.append({together.last(), QLatin1String(column), value});
        }
        for (const auto &[column, value] : entry.sold) {
            ASSERT_TRUE(db.updateSoldEntry(single.last(), QLatin1String(column), value));
            sold.append({together.last(), QLatin1String(column), value});
        }
    }
    ASSERT_TRUE(db.beginTransaction());
    ASSERT_TRUE(db.updateMediaListEntries(media)) << qPrintable(db.getLastErrorMessage());
    ASSERT_TRUE(db.updatePurchasedEntries(purchased)) << qPrintable(db.getLastErrorMessage());
    ASSERT_TRUE(db.updateSoldEntries(sold)) << qPrintable(db.getLastErrorMessage());
    ASSERT_TRUE(db.commitTransaction());

    const std::optional<QHash<QString, QVariantMap>> purchasedRows = db.getPurchasedForMediaIDs(together);
    const std::optional<QHash<QString, QVariantMap>> soldRows = db.getSoldForMediaIDs(together);
    ASSERT_TRUE(purchasedRows && soldRows);
    const QString row = QStringLiteral("select keywords, shortdesc, fulldesc, modrelavailable, "
                                       "modrelavailable is null from strvfile where mid=$1");
    const QString licenceRows = QStringLiteral("select owner, ordernumber, photographer, licensetype from "
                                               "strvpurchased where mid=$1 order by id");
    for (qsizetype i = 0; i < single.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(db.rowsForQuery(row, {together[i]}), db.rowsForQuery(row, {single[i]}));
        EXPECT_EQ(db.rowsForQuery(licenceRows, {together[i]}), db.rowsForQuery(licenceRows, {single[i]}));
        QVariantMap expected = db.getPurchasedForMediaID(single[i]), read = purchasedRows->value(together[i]);
        expected.remove(QStringLiteral("id"));
        read.remove(QStringLiteral("id"));
        EXPECT_EQ(read, expected);
        expected = db.getSoldForMediaID(single[i]);
        read = soldRows->value(together[i]);
        expected.remove(QStringLiteral("id"));
        read.remove(QStringLiteral("id"));
        EXPECT_EQ(read, expected);
    }
    EXPECT_EQ(db.rowsForQuery(QStringLiteral("select count(*) from strvsold where mid=$1"), {together[2]}).at(0).at(0),
              QVariant(QStringLiteral("1")));
}

// A write among many that names no column, gives no number where one is needed, or names an entry
// that is not there fails the whole write; the other entries keep their values once it is undone.
TEST_P(MediaStoreTest, ManyEntriesFieldsFailAsAWhole)
{
    using Field = OVNDatabaseAccess::FieldValue;
    const QString first = db.addMediaListEntry(importRecord(m_collection, QStringLiteral("a.jpg")));
    const QString second = db.addMediaListEntry(importRecord(m_collection, QStringLiteral("b.jpg")));
    const struct {
        const char *name;
        QList<Field> media, purchased;
    } cases[] = {
        {"no column", {{first, "keywords", "x"}, {second, "mid=mid, keywords", "y"}}, {}},
        {"no number", {{first, "keywords", "x"}, {second, "rating", "3; drop table strvfile"}}, {}},
        {"no such entry", {{first, "keywords", "x"}, {"no such id", "keywords", "y"}}, {}},
        {"no licence column", {}, {{first, "owner", "x"}, {second, "customer", "y"}}},
        {"no licence number", {}, {{first, "owner", "x"}, {second, "licensetype", "two"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(db.beginTransaction());
        EXPECT_FALSE(db.updateMediaListEntries(c.media) && db.updatePurchasedEntries(c.purchased));
        EXPECT_FALSE(db.getLastErrorMessage().isEmpty());
        ASSERT_TRUE(db.rollbackTransaction());
        for (const QString &mid : {first, second}) {
            EXPECT_EQ(db.getMediaListEntryForMediaID(mid, QStringLiteral("keywords")), QStringLiteral("A title"));
            EXPECT_TRUE(db.getPurchasedForMediaID(mid).isEmpty());
        }
    }
}
