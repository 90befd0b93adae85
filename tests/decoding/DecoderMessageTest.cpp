// The decoders' message schema: what it carries comes back as it went, typed; what lies outside it
// is refused whole, on either side.

#include "decoding/DecoderFlatMap.h"
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

// A value looked up without building the map is the one the map holds, past values of every kind;
// a lookup never reads past what the rules allow, and what it cannot vouch for is not found.
TEST(DecoderMessageTest, OneValueIsFoundWithoutBuildingTheMap)
{
    const QVariantMap map{
        {QStringLiteral("a list first"), QVariantList{1, QStringLiteral("x"), QVariantMap{{QStringLiteral("k"), 0.5}}}},
        {QStringLiteral("bytes"), QByteArray("\0\x01", 2)},
        {QStringLiteral("maxWidth"), 256},
        {QStringLiteral("milliseconds"), qint64(1) << 33},
        {QStringLiteral("operation"), QStringLiteral("read")},
        {QStringLiteral("ratio"), 0.75},
        {QStringLiteral("whole"), true},
    };
    const QByteArray bytes = *DecoderMessage::write(map);
    const auto width = DecoderMessage::scalar(bytes, "maxWidth");
    ASSERT_TRUE(width);
    EXPECT_EQ(width->tag, 'i');
    EXPECT_EQ(width->number, 256);
    EXPECT_EQ(DecoderMessage::scalar(bytes, "milliseconds")->number, qint64(1) << 33);
    EXPECT_EQ(DecoderMessage::scalar(bytes, "operation")->text, "read");
    EXPECT_EQ(DecoderMessage::scalar(bytes, "bytes")->text, QByteArrayView("\0\x01", 2));
    EXPECT_EQ(DecoderMessage::scalar(bytes, "whole")->number, 1);
    // A key that is missing, only a prefix of one, or nested; a value that is no scalar.
    EXPECT_FALSE(DecoderMessage::scalar(bytes, "maxHeight"));
    EXPECT_FALSE(DecoderMessage::scalar(bytes, "max"));
    EXPECT_FALSE(DecoderMessage::scalar(bytes, "k"));
    EXPECT_FALSE(DecoderMessage::scalar(bytes, "ratio"));
    EXPECT_FALSE(DecoderMessage::scalar(bytes, "a list first"));
    // Every cut of the message: found whole or not found, never read past its end.
    for (qsizetype length = 0; length < bytes.size(); ++length) {
        const auto cut = DecoderMessage::scalar(QByteArrayView(bytes.constData(), length), "operation");
        if (cut) {
            EXPECT_EQ(cut->text, "read");
        }
    }
    // Values before the key that break the rules hide it.
    EXPECT_FALSE(DecoderMessage::scalar(QByteArray("M\x02\0\0\0\x01\0\0\0xQ\x01\0\0\0yn", 18), "y"));
    EXPECT_FALSE(DecoderMessage::scalar(QByteArray("M\x02\0\0\0\x01\0\0\0xb\x05\x01\0\0\0yn", 19), "y"));
    EXPECT_TRUE(DecoderMessage::scalar(QByteArray("M\x02\0\0\0\x01\0\0\0xb\x01\x01\0\0\0yn", 19), "y"));
}

// A message written with the runtime alone (by the decoder's minimal template) reads as the same
// map written from Qt's values would, whatever its values hold.
TEST(DecoderMessageTest, AFlatMapWrittenWithoutQtReadsAsTheSameMap)
{
    const char colours[] = {'\0', '\xff', '\x7f', '\0', '\x01'};
    DecoderFlatMap flat;
    flat.addInt("width", -7);
    flat.addInt("height", 2147483647);
    flat.addLong("pictureBytes", -(qint64(1) << 40));
    flat.addBool("expand", true);
    flat.addBool("previewOnly", false);
    flat.addBytes("colors", colours, sizeof colours);
    flat.addBytes("empty", colours, 0);
    flat.addText("damage", "the data ends early \xc3\xa9");
    const std::string &bytes = flat.bytes();
    const std::optional<QVariantMap> read = DecoderMessage::read(QByteArray(bytes.data(), qsizetype(bytes.size())));
    ASSERT_TRUE(read);
    const QVariantMap expected{
        {QStringLiteral("width"), -7},
        {QStringLiteral("height"), 2147483647},
        {QStringLiteral("pictureBytes"), -(qint64(1) << 40)},
        {QStringLiteral("expand"), true},
        {QStringLiteral("previewOnly"), false},
        {QStringLiteral("colors"), QByteArray(colours, sizeof colours)},
        {QStringLiteral("empty"), QByteArray()},
        {QStringLiteral("damage"), QStringLiteral("the data ends early é")},
    };
    EXPECT_EQ(*read, expected);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        EXPECT_EQ(read->value(it.key()).typeId(), it.value().typeId()) << qPrintable(it.key());
    EXPECT_EQ(DecoderMessage::scalar(QByteArrayView(bytes.data(), qsizetype(bytes.size())), "height")->number,
              2147483647);
    // An empty map is a map too.
    DecoderFlatMap none;
    EXPECT_EQ(DecoderMessage::read(QByteArray(none.bytes().data(), qsizetype(none.bytes().size()))), QVariantMap());
}
