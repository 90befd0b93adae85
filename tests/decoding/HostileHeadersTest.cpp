// Files whose headers promise far more than their bytes hold: the decode stays within the
// process's decoding budget, ends at its deadline or at Cancel, and the file gives no picture
// rather than holding its thread.

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "decoding/JpegDecoder.h"
#include "decoding/MediaDecoder.h"
#include "decoding/Movie.h"
#include "decoding/PngReader.h"
#include "tests/support/HostileFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <limits>
#include <thread>

using hostilefiles::Ink;
using hostilefiles::jpegClaiming;
using hostilefiles::pdfWithHugeImage;
using Refusal = ImageFileReader::Facts::Refusal;

namespace {

QString written(const QTemporaryDir &dir, const char *name, const QByteArray &data)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        ADD_FAILURE() << "cannot write " << name;
    return path;
}

} // namespace

TEST(HostileHeaders, JpegDecodesStayWithinTheBudget)
{
    const qint64 budget = DecodeMemoryBudget::shared().capacity();
    struct Case {
        const char *name;
        QSize claimed;
        Ink ink;
        bool progressive;
        QSize box;
        bool decodes;
    };
    const Case cases[] = {
        // A small CMYK picture comes out in its colour.
        {"cmyk small", {8, 8}, Ink::Cmyk, false, {}, true},
        {"cmyk 4000 x 3000, thumbnail", {4000, 3000}, Ink::Cmyk, false, {256, 256}, true},
        // What libjpeg holds of a progressive picture of that size, every coefficient, is far
        // beyond any budget: refused before decoding. (One scan holds a band at a time: its
        // reduced reads are held to what they produce, below.)
        {"cmyk huge, progressive", {65500, 65500}, Ink::Cmyk, true, {256, 256}, false},
        {"rgb huge, progressive", {65500, 65500}, Ink::Rgb, true, {256, 256}, false},
        // The whole picture asked for: 17 GB, refused.
        {"rgb huge, whole", {65500, 65500}, Ink::Rgb, false, {}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray data = jpegClaiming(c.claimed, c.ink, c.progressive);
        const qint64 held = JpegDecoder::decodeBytes(data.constData(), size_t(data.size()), c.box);
        EXPECT_EQ(held <= budget, c.decodes) << held;
        const JpegDecoder::Result result = JpegDecoder::decode(data.constData(), size_t(data.size()), c.box);
        EXPECT_EQ(result.fullSize, c.claimed);
        if (!c.decodes) {
            EXPECT_EQ(result.status, JpegDecoder::Status::Failed);
            continue;
        }
        ASSERT_EQ(result.status, JpegDecoder::Status::Decoded);
        EXPECT_LE(qint64(result.image.sizeInBytes()), held);
        const QRgb corner = result.image.pixel(0, 0);
        EXPECT_GT(qRed(corner), 200);
        EXPECT_LT(qGreen(corner), 60);
        EXPECT_LT(qBlue(corner), 60);
    }
}

// A JPEG of one scan that claims the largest sides over a few hundred bytes is read reduced like any
// other: its scaled rows averaged as they come, so that the decoder holds its thumbnail and a band
// of rows (a thumbnail decoder's limit, which the kernel holds it to), never what the claim would
// take whole; what the file does not hold is grey, as in a damaged file.
TEST(HostileHeaders, AJpegClaimingTheLargestSidesIsReducedWithinWhatItProduces)
{
    QTemporaryDir dir;
    for (const Ink ink : {Ink::Rgb, Ink::Cmyk}) {
        const QString path =
            written(dir, ink == Ink::Rgb ? "rgb.jpg" : "cmyk.jpg", jpegClaiming({65500, 65500}, ink, false));
        const MediaDecoder::Children before = MediaDecoder::endedChildren();
        const DecodeReport::Scope report;
        ImageFileReader::Facts facts;
        const QImage picture = MediaDecoder(MediaDecoder::Use::Thumbnail).read(path, QSize(256, 256), &facts);
        MediaDecoder::endIdleDecoders();
        const qint64 peak = MediaDecoder::endedChildren().peakBytes - before.peakBytes;
        EXPECT_EQ(facts.size, QSize(65500, 65500));
        EXPECT_EQ(picture.size(), QSize(256, 256));
        // (Its data is of a picture a few pixels wide: corrupt, or ending early, as the picture goes.)
        EXPECT_FALSE(report.damage().isEmpty());
        EXPECT_GT(peak, 0);
        EXPECT_LT(peak, MediaDecoder::memoryLimit(MediaDecoder::Use::Thumbnail));
    }
}

TEST(HostileHeaders, DecodesEndAtCancelAndAtTheirDeadline)
{
    const QByteArray data = jpegClaiming(QSize(4000, 3000), Ink::Cmyk, false);
    struct Case {
        const char *name;
        bool cancelled;
        std::chrono::milliseconds limit;
    };
    const Case cases[] = {{"cancelled", true, std::chrono::minutes(1)}, {"past its deadline", false, {}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::atomic<bool> cancel{c.cancelled};
        const DecodeInterrupt::Scope scope(&cancel, c.limit);
        EXPECT_TRUE(DecodeInterrupt::shouldStop());
        EXPECT_EQ(JpegDecoder::decode(data.constData(), size_t(data.size()), QSize(256, 256)).status,
                  JpegDecoder::Status::Failed);
    }
    // Out of the scopes nothing stops.
    EXPECT_FALSE(DecodeInterrupt::shouldStop());
    EXPECT_FALSE(DecodeInterrupt::deadline());
}

TEST(HostileHeaders, ADocumentImageClaimingTeraPixelsEndsWithItsReason)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hostile.pdf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(pdfWithHugeImage());
    file.close();
    const std::unique_ptr<Movie> pdf = Movie::open(path);
    ASSERT_TRUE(pdf);
    // The page is small; the image on it is what would never finish: refused before drawing, at
    // once, whatever time there is.
    EXPECT_EQ(pdf->naturalSize(), QSize(200, 200));
    // Refused for its size (not at the deadline, which would say the time ran out).
    const DecodeInterrupt::Scope scope(nullptr, std::chrono::seconds(60));
    EXPECT_TRUE(pdf->frameImageAtTime(MovieTime{0, 600}, QSize(100, 100)).isNull());
    EXPECT_EQ(pdf->frameError(), QStringLiteral("the document holds a picture too large to draw"));
}

TEST(HostileHeaders, EstimatesSaturateInsteadOfWrapping)
{
    constexpr qint64 side = std::numeric_limits<qint32>::max();
    constexpr qint64 all = DecodeMemoryBudget::unbounded;
    struct Case {
        const char *name;
        qint64 product;
        qint64 sum;
        std::initializer_list<qint64> terms;
    };
    const Case cases[] = {
        {"a picture's bytes", 4000 * 3000 * 4, 4000 + 3000 + 4, {4000, 3000, 4}},
        // The largest sides TIFF and PNG allow: their product fits, four bytes a pixel do not.
        {"largest sides", side * side, 2 * side, {side, side}},
        {"largest sides, four bytes a pixel", all, 2 * side + 4, {side, side, 4}},
        {"past 63 bits then nothing", 0, all, {all, all, 0}},
        {"an invalid side counts as none", 0, 10, {-1, 10}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeMemoryBudget::product(c.terms), c.product);
        EXPECT_EQ(DecodeMemoryBudget::sum(c.terms), c.sum);
    }
}

// Headers claiming the largest sides their format allows are refused before anything is held,
// as a whole picture and as a thumbnail.
TEST(HostileHeaders, PicturesAtTheLargestSidesAreRefused)
{
    QTemporaryDir dir;
    constexpr quint32 side = 0x7fffffff;
    struct Case {
        const char *name;
        QByteArray data;
    };
    const Case cases[] = {
        {"huge.tif", hostilefiles::tiffWithOneStrip(side, side, hostilefiles::deflatedZeros(64))},
        {"huge.png", hostilefiles::pngHeader(side, side) + hostilefiles::pngChunk("IEND", {})},
        {"huge.gif", hostilefiles::gifClaiming(QSize(65535, 65535))},
    };
    for (const Case &c : cases) {
        const QString path = written(dir, c.name, c.data);
        for (const QSize box : {QSize(), QSize(256, 256)}) {
            SCOPED_TRACE(std::string(c.name) + (box.isValid() ? " as a thumbnail" : " whole"));
            ImageFileReader::Facts facts;
            EXPECT_TRUE(ImageFileReader::read(path, box, &facts).isNull());
            EXPECT_EQ(facts.refusal, Refusal::TooLarge);
            EXPECT_EQ(DecodeMemoryBudget::shared().inUse(), 0);
        }
    }
}

// A PNG whose chunk claims 2 GB, the file ending after its header, fails without libpng holding
// more than its own small share; one whose chunks are whole but large or inflate to much is read
// all the same, its text skipped. Four at once, each accounted for.
TEST(HostileHeaders, PngChunksClaimingGigabytesHoldNothingOfIt)
{
    QTemporaryDir dir;
    const QByteArray whole = hostilefiles::pngOfZeros(4, 4);
    const QByteArray head = whole.left(33); // signature and IHDR
    const QByteArray rest = whole.mid(33);
    struct Case {
        const char *name;
        QByteArray data;
        bool picture;
    };
    const QByteArray bomb = hostilefiles::deflatedZeros(qint64(200) << 20);
    const Case cases[] = {
        {"text.png", hostilefiles::pngClaimingChunk("tEXt", 0x7ffffff0), false},
        {"compressed-text.png", hostilefiles::pngClaimingChunk("zTXt", 0x7ffffff0), false},
        {"international-text.png", hostilefiles::pngClaimingChunk("iTXt", 0x7ffffff0), false},
        {"profile.png", hostilefiles::pngClaimingChunk("iCCP", 0x7ffffff0), false},
        {"private.png", hostilefiles::pngClaimingChunk("prVt", 0x7ffffff0), false},
        {"large-text.png",
         head + hostilefiles::pngChunk("tEXt", "Comment" + QByteArray(1, '\0') + QByteArray(20 << 20, 'a')) + rest,
         true},
        {"text-bomb.png", head + hostilefiles::pngChunk("zTXt", "Comment" + QByteArray(2, '\0') + bomb) + rest, true},
        {"profile-bomb.png", head + hostilefiles::pngChunk("iCCP", "icc" + QByteArray(2, '\0') + bomb) + rest, true},
    };
    const qint64 allowance = PngReader::libraryAllowance(4);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const PngReader::Result result = PngReader::read(written(dir, c.name, c.data));
        EXPECT_EQ(result.size, QSize(4, 4));
        EXPECT_EQ(result.image.isNull(), !c.picture);
        EXPECT_FALSE(result.tooLarge);
        EXPECT_GT(result.libraryBytes, 0);
        EXPECT_LE(result.libraryBytes, allowance);
        // libpng's share, the picture, and a small picture's rows and data inflated in one piece.
        EXPECT_LE(result.reserved, allowance + 4 * 4 * 4 + 2048);
        if (c.picture) {
            EXPECT_EQ(result.image.pixel(3, 3), qRgb(0, 0, 0));
        }
    }
    // Four claiming files read at once on four threads: each ends, with no picture.
    std::vector<std::thread> threads;
    std::atomic<int> ended{0};
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i] {
            const QString path = dir.filePath(QString::fromLatin1(cases[i].name));
            ImageFileReader::Facts facts;
            if (ImageFileReader::read(path, QSize(256, 256), &facts).isNull() && facts.size == QSize(4, 4))
                ++ended;
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(ended.load(), 4);
    EXPECT_EQ(DecodeMemoryBudget::shared().inUse(), 0);
}

// What libpng reads is the picture Qt's own reader gives, in every colour layout and interlaced.
TEST(HostileHeaders, PngPicturesReadAsQtReadsThem)
{
    QTemporaryDir dir;
    QImage source(37, 23, QImage::Format_ARGB32);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            source.setPixel(x, y, qRgba(x * 7, y * 11, (x + y) * 3, x == y ? 0 : 255 - x));
    const struct {
        const char *name;
        QImage::Format format;
    } cases[] = {
        {"rgb", QImage::Format_RGB32},        {"rgba", QImage::Format_ARGB32},
        {"grey", QImage::Format_Grayscale8},  {"grey16", QImage::Format_Grayscale16},
        {"palette", QImage::Format_Indexed8}, {"rgba64", QImage::Format_RGBA64},
        {"mono", QImage::Format_Mono},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".png"));
        ASSERT_TRUE(source.convertToFormat(c.format).save(path, "PNG"));
        const QImage expected = QImage(path).convertToFormat(QImage::Format_ARGB32);
        ImageFileReader::Facts facts;
        const QImage read = ImageFileReader::read(path, QSize(), &facts);
        ASSERT_FALSE(read.isNull());
        EXPECT_EQ(facts.size, source.size());
        EXPECT_EQ(read.convertToFormat(QImage::Format_ARGB32), expected);
    }
    // Interlaced: seven passes over a picture of distinct rows and columns.
    QByteArray raw;
    const int width = 13, height = 11;
    auto value = [](int x, int y) { return char(x * 16 + y); };
    static const int start[7][2] = {{0, 0}, {4, 0}, {0, 4}, {2, 0}, {0, 2}, {1, 0}, {0, 1}};
    static const int step[7][2] = {{8, 8}, {8, 8}, {4, 8}, {4, 4}, {2, 4}, {2, 2}, {1, 2}};
    for (int pass = 0; pass < 7; ++pass) {
        if (start[pass][0] >= width || start[pass][1] >= height)
            continue;
        for (int y = start[pass][1]; y < height; y += step[pass][1]) {
            raw += '\0';
            for (int x = start[pass][0]; x < width; x += step[pass][0])
                raw += value(x, y);
        }
    }
    QByteArray interlaced = hostilefiles::pngHeader(width, height, 8, 0);
    interlaced[8 + 8 + 12] = 1;
    interlaced.chop(4);
    interlaced +=
        hostilefiles::bigEndian32(quint32(crc32(0, reinterpret_cast<const Bytef *>(interlaced.constData() + 12), 17)));
    interlaced += hostilefiles::pngChunk("IDAT", qCompress(raw).mid(4)) + hostilefiles::pngChunk("IEND", {});
    const QImage read = ImageFileReader::read(written(dir, "interlaced.png", interlaced));
    ASSERT_FALSE(read.isNull());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(qRed(read.pixel(x, y)), uchar(value(x, y))) << x << "," << y;
}

// Pictures that take long to decode end at Cancel and at their deadline, with the reason, and
// hold nothing after: a TIFF whose one Deflate strip of zeros holds a picture far wider than its
// bytes, and a PNG and a GIF of large declared sizes.
TEST(HostileHeaders, LongDecodesEndAtCancelAndAtTheirDeadline)
{
    QTemporaryDir dir;
    struct File {
        const char *name;
        QByteArray data;
    };
    const File files[] = {
        {"strip.tif", hostilefiles::tiffOfZerosInOneStrip(1 << 20, 256)},
        {"large.png", hostilefiles::pngOfZeros(4096, 4096)},
        {"large.gif", hostilefiles::gifClaiming(QSize(4096, 4096))},
    };
    struct Stop {
        const char *name;
        bool cancelled;
        std::chrono::milliseconds limit;
        Refusal refusal;
    };
    const Stop stops[] = {
        {"cancelled", true, std::chrono::minutes(1), Refusal::Cancelled},
        {"past its deadline", false, std::chrono::milliseconds(0), Refusal::OutOfTime},
    };
    for (const File &f : files) {
        const QString path = written(dir, f.name, f.data);
        for (const Stop &stop : stops) {
            for (const QSize box : {QSize(), QSize(256, 256)}) {
                SCOPED_TRACE(std::string(f.name) + ", " + stop.name + (box.isValid() ? ", thumbnail" : ", whole"));
                const std::atomic<bool> cancel{stop.cancelled};
                const DecodeInterrupt::Scope scope(&cancel, stop.limit);
                ImageFileReader::Facts facts;
                EXPECT_TRUE(ImageFileReader::read(path, box, &facts).isNull());
                EXPECT_EQ(facts.refusal, stop.refusal);
                EXPECT_EQ(DecodeMemoryBudget::shared().inUse(), 0);
            }
        }
    }
    // The deadline reached while a TIFF's rows are decoded, a fraction of the way through them: four
    // billion pixels, which no build reads in a second, let alone within the deadline.
    const QString deep = written(dir, "deep.tif", hostilefiles::tiffOfZerosInOneStrip(1 << 20, 4096));
    const DecodeInterrupt::Scope scope(nullptr, std::chrono::milliseconds(300));
    ImageFileReader::Facts facts;
    EXPECT_TRUE(ImageFileReader::read(deep, QSize(256, 256), &facts).isNull());
    EXPECT_EQ(facts.refusal, Refusal::OutOfTime);
    EXPECT_EQ(facts.size, QSize(1 << 20, 4096));
}
