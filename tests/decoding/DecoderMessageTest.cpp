// The decoders' message schema: what it carries comes back as it went, typed; what lies outside it
// is refused whole, on either side.

#include "decoding/DecoderMessage.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QImage>

TEST(DecoderMessageTest, TheClosedSetComesBackAsItWent)
{
    const QVariantMap map{
        {QStringLiteral("int"), -7},
        {QStringLiteral("long"), qint64(1) << 40},
        {QStringLiteral("double"), 0.25},
        {QStringLiteral("bool"), true},
        {QStringLiteral("text"), QStringLiteral("Zoë \u00e9t\u00e9")},
        {QStringLiteral("bytes"), QByteArray("\0\xff", 2)},
        {QStringLiteral("nothing"), QVariant()},
        {QStringLiteral("nested"),
         QVariantMap{{QStringLiteral("list"), QVariantList{1, QStringLiteral("a"), QVariantList{}}}}},
    };
    const std::optional<QByteArray> bytes = DecoderMessage::write(map);
    ASSERT_TRUE(bytes);
    const std::optional<QVariantMap> back = DecoderMessage::read(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, map);
    EXPECT_EQ(back->value(QStringLiteral("int")).typeId(), QMetaType::Int);
    EXPECT_EQ(back->value(QStringLiteral("long")).typeId(), QMetaType::LongLong);
}

TEST(DecoderMessageTest, AnythingOutsideTheSchemaIsRefusedWhole)
{
    // Written: no other type is sent.
    EXPECT_FALSE(DecoderMessage::write({{QStringLiteral("image"), QImage(4, 4, QImage::Format_RGB32)}}));
    EXPECT_FALSE(DecoderMessage::write({{QStringLiteral("when"), QDateTime::currentDateTime()}}));

    QByteArray deep("M\x01\0\0\0\x01\0\0\0x", 10);
    for (int i = 0; i < DecoderMessage::maxDepth + 1; ++i)
        deep += QByteArray("L\x01\0\0\0", 5);
    deep += 'n';
    QByteArray many("M\x01\0\0\0\x01\0\0\0xL\x00\x80\0\0", 15); // 32,768 values
    many += QByteArray(32768, 'n');
    const struct {
        const char *name;
        QByteArray bytes;
    } refused[] = {
        {"empty", QByteArray()},
        {"not a map", QByteArray("n")},
        {"unknown tag", QByteArray("M\x01\0\0\0\x01\0\0\0xQ", 11)},
        {"a list claiming more than the bytes hold", QByteArray("M\x01\0\0\0\x01\0\0\0xL\xff\xff\xff\x7f", 15)},
        {"a string claiming more than the bytes hold", QByteArray("M\x01\0\0\0\x01\0\0\0xs\xff\xff\xff\x7f", 15)},
        {"a map claiming more than the bytes hold", QByteArray("M\xff\xff\xff\x7f", 5)},
        {"a boolean other than 0 or 1", QByteArray("M\x01\0\0\0\x01\0\0\0xb\x02", 12)},
        {"an integer cut short", QByteArray("M\x01\0\0\0\x01\0\0\0xl\x01", 12)},
        {"nested too deep", deep},
        {"too many values", many},
        {"bytes after the map", QByteArray("M\0\0\0\0n", 6)},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(DecoderMessage::read(c.bytes));
    }
    // The bounds themselves are ordinary: the deepest and the largest allowed are read.
    QByteArray deepest("M\x01\0\0\0\x01\0\0\0x", 10);
    for (int i = 0; i < DecoderMessage::maxDepth - 1; ++i)
        deepest += QByteArray("L\x01\0\0\0", 5);
    EXPECT_TRUE(DecoderMessage::read(deepest + 'n'));
}
