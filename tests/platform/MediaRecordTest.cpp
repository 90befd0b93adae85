#include "platform/MediaRecord.h"

#include <gtest/gtest.h>

#include <array>
#include <utility>

TEST(MediaRecordTest, ListKeysAndOtherKeysBehaveLikeADictionaryOfStrings)
{
    MediaRecord record;
    EXPECT_TRUE(record.isEmpty());
    EXPECT_FALSE(record.contains(QStringLiteral("rating")));
    EXPECT_FALSE(record.value(QStringLiteral("rating")).isValid());

    record.insert(QStringLiteral("rating"), 4); // a list key keeps the value's text
    record.insert(QStringLiteral("displaytag"), QStringLiteral("IMG_0001.JPG"));
    record.insert(QStringLiteral("thumbimage"), QByteArray("\xff\xd8", 2));
    record.insert(QStringLiteral("group"), 3);
    EXPECT_EQ(record.value(QStringLiteral("rating")), QVariant(QStringLiteral("4")));
    EXPECT_EQ(record.field(MediaRecord::Rating), QStringLiteral("4"));
    EXPECT_EQ(record.value(QStringLiteral("thumbimage")).toByteArray(), QByteArray("\xff\xd8", 2));
    EXPECT_EQ(record.value(QStringLiteral("group")).toInt(), 3);
    EXPECT_EQ(record.string(QStringLiteral("group")), QStringLiteral("3"));
    EXPECT_EQ(record.keys(), (QStringList{QStringLiteral("displaytag"), QStringLiteral("rating"),
                                          QStringLiteral("group"), QStringLiteral("thumbimage")}));

    // An empty text is still a set key: "has no rating" differs from "rating is empty".
    record.insert(QStringLiteral("rating"), QString());
    EXPECT_TRUE(record.contains(QStringLiteral("rating")));
    record.remove(QStringLiteral("rating"));
    record.remove(QStringLiteral("thumbimage"));
    EXPECT_FALSE(record.contains(QStringLiteral("rating")));
    EXPECT_FALSE(record.contains(QStringLiteral("thumbimage")));
}

TEST(MediaRecordTest, VariantMapRoundTripAndSharing)
{
    QVariantMap map;
    for (const QString &key : MediaRecord::fieldKeys())
        map.insert(key, key + QStringLiteral(" value"));
    map.insert(QStringLiteral("preloaded"), QStringLiteral("1"));
    const MediaRecord record = MediaRecord::fromVariantMap(map);
    EXPECT_EQ(record.toVariantMap(), map);
    EXPECT_EQ(MediaRecord::fieldKeys().size(), MediaRecord::fieldCount);
    EXPECT_EQ(MediaRecord::fieldIndex(QStringLiteral("categoryid")), int(MediaRecord::CategoryId));
    EXPECT_EQ(MediaRecord::fieldIndex(QStringLiteral("thumbimage")), -1);

    // Holders of one record see each other's edits.
    MediaRecordRef shared = std::make_shared<MediaRecord>(record);
    MediaList viewList{shared};
    MediaList windowList{shared};
    viewList.at(0)->insert(QStringLiteral("keywords"), QStringLiteral("Sunset"));
    EXPECT_EQ(windowList.at(0)->string(QStringLiteral("keywords")), QStringLiteral("Sunset"));
    EXPECT_NE(*shared, record);
}

// Only non-empty texts take storage, the first ones in the record itself: every way of setting,
// clearing and copying keeps each key's text, "" apart from a null text, whatever the other keys
// hold, with few texts and with all 26.
TEST(MediaRecordTest, EveryFieldKeepsItsTextThroughEditsAndCopies)
{
    for (const bool allFilled : {false, true}) {
        std::array<QString, MediaRecord::fieldCount> texts;
        for (int i = 0; i < MediaRecord::fieldCount; ++i) {
            switch (allFilled ? 2 + i % 2 : i % 4) {
            case 0:
                texts[size_t(i)] = QString();
                break; // SQL NULL
            case 1:
                texts[size_t(i)] = QStringLiteral("");
                break;
            case 2:
                texts[size_t(i)] = QStringLiteral("Ærø, Straße %1 \u65e5\u672c \U0001F600").arg(i);
                break;
            default:
                texts[size_t(i)] = QString::number(i);
                break;
            }
        }
        auto expectTexts = [](const MediaRecord &record, const std::array<QString, MediaRecord::fieldCount> &expected) {
            for (int i = 0; i < MediaRecord::fieldCount; ++i) {
                const QString &text = record.field(MediaRecord::Field(i));
                EXPECT_EQ(text, expected[size_t(i)]) << i;
                EXPECT_EQ(text.isNull(), expected[size_t(i)].isNull()) << i;
                EXPECT_TRUE(record.hasField(MediaRecord::Field(i))) << i;
            }
        };
        MediaRecord listed;
        listed.setAllFields(std::array<QString, MediaRecord::fieldCount>(texts));
        MediaRecord oneByOne;
        for (int i = MediaRecord::fieldCount - 1; i >= 0; --i) // out of order: texts go in between
            oneByOne.setField(MediaRecord::Field(i), texts[size_t(i)]);
        expectTexts(listed, texts);
        expectTexts(oneByOne, texts);
        EXPECT_EQ(listed, oneByOne);
        EXPECT_EQ(MediaRecord::fromVariantMap(listed.toVariantMap()), listed);

        // Texts become empty, null and filled again, at the ends and in the middle; a copy keeps
        // the state before.
        const MediaRecord before = listed;
        const std::array<QString, MediaRecord::fieldCount> original = texts;
        const std::pair<MediaRecord::Field, QString> edits[] = {
            {MediaRecord::Mid, QStringLiteral("first")},
            {MediaRecord::CategoryId, QStringLiteral("")},
            {MediaRecord::FileSize, QString()},
            {MediaRecord::DisplayTag, QStringLiteral("név.jpg")},
            {MediaRecord::Keywords, QStringLiteral("")},
            {MediaRecord::ImageSetMid, QStringLiteral("x")},
            {MediaRecord::Mid, QString()},
            {MediaRecord::FileType, QStringLiteral("JPEG")},
            {MediaRecord::Keywords, QStringLiteral("k")},
            {MediaRecord::CategoryId, QStringLiteral("c")},
        };
        for (const auto &[field, text] : edits) {
            listed.setField(field, text);
            texts[size_t(field)] = text;
            expectTexts(listed, texts);
        }
        EXPECT_NE(listed, before);
        listed.remove(QStringLiteral("displaytag"));
        EXPECT_FALSE(listed.hasField(MediaRecord::DisplayTag));
        EXPECT_TRUE(listed.field(MediaRecord::DisplayTag).isNull());
        EXPECT_EQ(listed.field(MediaRecord::CategoryId), QStringLiteral("c"));

        MediaRecord assigned;
        assigned = before;
        EXPECT_EQ(assigned, before);
        expectTexts(before, original);
        expectTexts(assigned, original);
    }
    EXPECT_EQ(MediaRecord(), MediaRecord());
}
