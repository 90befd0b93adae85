#include "CatalogFixture.h"
#include "../support/RefusingTrigger.h"

#include "catalogdb/OVNDBHelper.h"

TEST(PrefillWordsTest, FileNameFirstThenFoldersFromTheNearestUp)
{
    const QString path = QStringLiteral("/Users/ann/Holiday/pic.jpg");
    EXPECT_EQ(OVNDBHelper::wordsFromPath(path, true, 3), QStringLiteral(" pic Holiday ann Users"));
    EXPECT_EQ(OVNDBHelper::wordsFromPath(path, true, 2), QStringLiteral(" pic Holiday ann"));
    EXPECT_EQ(OVNDBHelper::wordsFromPath(path, false, 0), QString());
    // The root counts but adds no word.
    EXPECT_EQ(OVNDBHelper::wordsFromPath(QStringLiteral("/a/pic.jpg"), false, 4), QStringLiteral(" a"));
    EXPECT_EQ(OVNDBHelper::wordsFromPath(QStringLiteral("/a/b/pic.jpg"), false, 2), QStringLiteral(" b a"));
    EXPECT_EQ(OVNDBHelper::wordsFromPath(QStringLiteral("/a//b/pic.tar.gz"), true, 2), QStringLiteral(" pic.tar b a"));
    EXPECT_EQ(OVNDBHelper::wordsFromPath(QStringLiteral("/a/.hidden"), true, 0), QStringLiteral(" .hidden"));
    EXPECT_EQ(OVNDBHelper::wordsFromPath(QStringLiteral("rel/pic.jpg"), true, 5), QStringLiteral(" pic rel"));
}

class PrefillTest : public CatalogFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        m_collection = db.addCategoryListEntry(QStringLiteral("Roll"));
        QVariantMap record = importRecord(m_collection, QStringLiteral("pic.jpg"));
        record.insert(QStringLiteral("absolutepath"), QStringLiteral("/Users/ann/Holiday/pic.jpg"));
        record.insert(QStringLiteral("keywords"), QString());
        record.insert(QStringLiteral("shortdesc"), QStringLiteral("beach"));
        m_mid = db.addMediaListEntry(record);
        ASSERT_FALSE(m_mid.isEmpty());
    }

    QString field(const QString &column) { return db.getMediaListEntryForMediaID(m_mid, column); }

    QString m_collection;
    QString m_mid;
};

OVN_CATALOG_VENDORS(PrefillTest);

TEST_P(PrefillTest, InfoWordsAndLicencesAreWrittenIntoTheNewRecord)
{
    OVNPrefillWords words;
    words.keywordsAddFilename = true;
    words.keywordsParseFolders = 3;
    words.shortDescriptionParseFolders = 1;
    const QVariantMap info = {{QStringLiteral("fulldesc"), QStringLiteral("Taken by O'Neil, 100%")},
                              {QStringLiteral("rating"), QStringLiteral("5")},
                              {QStringLiteral("modrelinfo"), QString()}};
    const QVariantMap purchased = {{QStringLiteral("owner"), QStringLiteral("Agency")},
                                   {QStringLiteral("licensetype"), QStringLiteral("1")}};
    const QVariantMap sold = {{QStringLiteral("customer"), QStringLiteral("Paper")}};
    EXPECT_TRUE(OVNDBHelper::prefill({{{QStringLiteral("mid"), m_mid},
                                       {QStringLiteral("absolutepath"), QStringLiteral("/Users/ann/Holiday/pic.jpg")}}},
                                     db, info, purchased, sold, words));
    EXPECT_EQ(field(QStringLiteral("fulldesc")), QStringLiteral("Taken by O'Neil, 100%"));
    EXPECT_EQ(field(QStringLiteral("rating")), QStringLiteral("5"));
    EXPECT_EQ(field(QStringLiteral("keywords")), QStringLiteral("pic Holiday ann Users"));
    EXPECT_EQ(field(QStringLiteral("shortdesc")), QStringLiteral("beach Holiday"));
    EXPECT_EQ(field(QStringLiteral("modrelinfo")), QString()); // empty info values are not written
    EXPECT_EQ(db.getPurchasedForMediaID(m_mid).value(QStringLiteral("owner")).toString(), QStringLiteral("Agency"));
    EXPECT_EQ(db.getSoldForMediaID(m_mid).value(QStringLiteral("customer")).toString(), QStringLiteral("Paper"));
    EXPECT_EQ(db.transactionDepth(), 0);
}

TEST_P(PrefillTest, WithoutPathOrWordOptionsTheInfoValuesStay)
{
    const QVariantMap info = {{QStringLiteral("keywords"), QStringLiteral("From info")}};
    EXPECT_TRUE(
        OVNDBHelper::prefill({{{QStringLiteral("mid"), m_mid}}}, db, info, {}, {}, OVNPrefillWords{true, 2, true, 2}));
    EXPECT_EQ(field(QStringLiteral("keywords")), QStringLiteral("From info"));
    EXPECT_TRUE(OVNDBHelper::prefill(
        {{{QStringLiteral("mid"), m_mid}, {QStringLiteral("absolutepath"), QStringLiteral("/x/pic.jpg")}}}, db, info,
        {}, {}, OVNPrefillWords{}));
    EXPECT_EQ(field(QStringLiteral("keywords")), QStringLiteral("From info"));
    EXPECT_EQ(field(QStringLiteral("shortdesc")), QStringLiteral("beach"));
}

TEST_P(PrefillTest, AWriteThatFailsIsReportedAndTheOthersStillHappen)
{
    const QVariantMap info = {{QStringLiteral("rating"), QStringLiteral("five")},
                              {QStringLiteral("fulldesc"), QStringLiteral("kept")}};
    EXPECT_FALSE(OVNDBHelper::prefill({{{QStringLiteral("mid"), m_mid}}}, db, info, {}, {}, OVNPrefillWords{}));
    EXPECT_EQ(field(QStringLiteral("fulldesc")), QStringLiteral("kept"));
    EXPECT_EQ(field(QStringLiteral("rating")), QStringLiteral("4"));
}

// A value the catalog itself refuses (here a rule on the server or file) costs that one field: the
// record's other fields and licences land, and the refusal is reported.
TEST_P(PrefillTest, AValueTheCatalogRefusesLosesNoOtherField)
{
    ASSERT_TRUE(addRefusingTrigger(db, QStringLiteral("strvfile"), QStringLiteral("update"),
                                   QStringLiteral("new.pricetag = 13")))
        << qPrintable(db.getLastErrorMessage());
    const QString second = db.addMediaListEntry(importRecord(m_collection, QStringLiteral("b.jpg")));
    const QVariantMap info = {{QStringLiteral("fulldesc"), QStringLiteral("kept")},
                              {QStringLiteral("pricetag"), QStringLiteral("13")},
                              {QStringLiteral("rating"), QStringLiteral("2")}};
    const QVariantMap purchased = {{QStringLiteral("owner"), QStringLiteral("Agency")}};
    EXPECT_FALSE(OVNDBHelper::prefill({{{QStringLiteral("mid"), m_mid}}, {{QStringLiteral("mid"), second}}}, db, info,
                                      purchased, {}, OVNPrefillWords{}));
    for (const QString &mid : {m_mid, second}) {
        EXPECT_EQ(db.getMediaListEntryForMediaID(mid, QStringLiteral("fulldesc")), QStringLiteral("kept"));
        EXPECT_EQ(db.getMediaListEntryForMediaID(mid, QStringLiteral("rating")), QStringLiteral("2"));
        EXPECT_EQ(db.getMediaListEntryForMediaID(mid, QStringLiteral("pricetag")), QString());
        EXPECT_EQ(db.getPurchasedForMediaID(mid).value(QStringLiteral("owner")).toString(), QStringLiteral("Agency"));
    }
    EXPECT_EQ(db.transactionDepth(), 0);
}
