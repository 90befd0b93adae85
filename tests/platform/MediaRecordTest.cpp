#include "platform/MediaRecord.h"

#include <gtest/gtest.h>

TEST(MediaRecordTest, ListKeysAndOtherKeysBehaveLikeADictionaryOfStrings)
{
    MediaRecord record;
    EXPECT_TRUE(record.isEmpty());
    EXPECT_FALSE(record.contains(QStringLiteral("rating")));
    EXPECT_FALSE(record.value(QStringLiteral("rating")).isValid());

    record.insert(QStringLiteral("rating"), 4);  // a list key keeps the value's text
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
