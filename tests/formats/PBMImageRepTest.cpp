#include "formats/PBMHeader.h"
#include "formats/PBMImageRep.h"
#include "formats/PictureReaders.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "tests/formats/SceneFiles.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <vector>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

} // namespace

TEST(PBMHeaderTest, ParsesNumbersCommentsAndStopsAfterOneWhiteSpace)
{
    const QByteArray data = "P6\n# made by a camera\n3 2\n255\n\nABC";
    const auto header = PBMHeader::initWithData(data);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->pnmType(), 6);
    EXPECT_EQ(header->width(), 3);
    EXPECT_EQ(header->height(), 2);
    EXPECT_EQ(header->depth(), 255);
    EXPECT_EQ(header->errorNumber(), PBMHeader::NoError);
    // Exactly one line feed after the maxval is consumed: the pixel data starts at the second.
    EXPECT_EQ(header->inputIndex(), data.indexOf("255\n") + 4);
    EXPECT_EQ(header->hdrDesc(), QString::fromLatin1(data.left(header->inputIndex())));
}

TEST(PBMHeaderTest, RefusesWrongMagicAndReportsBadNumbers)
{
    EXPECT_FALSE(PBMHeader::initWithData("Q6 1 1 255 "));
    EXPECT_FALSE(PBMHeader::initWithData("P8 1 1 255 "));
    EXPECT_FALSE(PBMHeader::initWithData("P"));
    EXPECT_EQ(PBMHeader::initWithData("P6 -3 2 255 ")->errorNumber(), PBMHeader::NotANumber);
    EXPECT_EQ(PBMHeader::initWithData("P6 3 2 99999999999 ")->errorNumber(), PBMHeader::NotANumber);
    EXPECT_EQ(PBMHeader::initWithData("P6 3 2")->errorNumber(), PBMHeader::EndOfData);
    EXPECT_EQ(PBMHeader::initWithData("P6 3 2 # comment to the end")->errorNumber(), PBMHeader::EndOfData);
    // Bitmaps have no maxval.
    const auto bitmap = PBMHeader::initWithData("P4 10 2\n\xff\xc0");
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->depth(), 0);
    EXPECT_EQ(bitmap->inputIndex(), 8);
}

TEST(PBMImageRepTest, ColourWithCommentDecodesFromTheByteAfterTheHeader)
{
    const QByteArray data = "P6\n# c\n2 1\n255\n" + bytes({10, 20, 30, 200, 100, 0});
    const QImage image = PBMImageRep::imageRepWithData(data);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(2, 1));
    EXPECT_EQ(image.pixel(0, 0), qRgb(10, 20, 30));
    EXPECT_EQ(image.pixel(1, 0), qRgb(200, 100, 0));
}

TEST(PBMImageRepTest, SixteenBitSamplesAreTruncatedTo8Bits)
{
    const QByteArray data = "P6 1 1 65535\n" + bytes({0xFF, 0xFF, 0x80, 0x00, 0x00, 0x01});
    const QImage image = PBMImageRep::imageRepWithData(data);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 127, 0));
    // A sample above maxval counts as maxval.
    const QImage over = PBMImageRep::imageRepWithData("P5 1 1 1000\n" + bytes({0xFF, 0xFF}));
    ASSERT_FALSE(over.isNull());
    EXPECT_EQ(qGray(over.pixel(0, 0)), 255);
}

TEST(PBMImageRepTest, SmallMaxvalIsScaledToTheFullRange)
{
    const QImage image = PBMImageRep::imageRepWithData("P5 3 1 15\n" + bytes({0, 15, 7}));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(qGray(image.pixel(0, 0)), 0);
    EXPECT_EQ(qGray(image.pixel(1, 0)), 255);
    EXPECT_EQ(qGray(image.pixel(2, 0)), 7 * 255 / 15);
    EXPECT_TRUE(PBMImageRep::imageRepWithData("P5 1 1 0\n" + bytes({0})).isNull());
}

TEST(PBMImageRepTest, BitmapRowsAreWholeBytesAndSetBitsAreBlack)
{
    // Width 10: two bytes per row; the last six bits of each row are padding.
    const QByteArray data = "P4\n10 2\n" + bytes({0b10000000, 0b01000000, 0b00000000, 0b11000000});
    const QImage image = PBMImageRep::imageRepWithData(data);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(10, 2));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(1, 0), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(9, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(8, 1), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(7, 1), qRgb(255, 255, 255));
}

TEST(PBMImageRepTest, RefusesPlainTextTypesAndDamagedHeaders)
{
    EXPECT_FALSE(PBMImageRep::canInitWithData("P3 1 1 255 1 2 3"));
    EXPECT_TRUE(PBMImageRep::imageRepWithData("P3 1 1 255 1 2 3").isNull());
    EXPECT_TRUE(PBMImageRep::initWithData("P3 1 1 255 1 2 3").isNull());
    EXPECT_TRUE(PBMImageRep::imageRepWithData("P7 1 1 255 ").isNull());
    EXPECT_TRUE(PBMImageRep::imageRepWithData("P6 -1 1 255 ").isNull());
    EXPECT_TRUE(PBMImageRep::imageRepWithData("P6 1 1").isNull());
    EXPECT_TRUE(PBMImageRep::imageRepWithData("P").isNull());
    EXPECT_TRUE(PBMImageRep::imageRepWithData("P6 0 5 255\n").isNull());
    EXPECT_TRUE(PBMImageRep::imageRepsWithData("P2 1 1 255 9").isEmpty());
    EXPECT_EQ(PBMImageRep::imageRepsWithData("P5 1 1 255\n\x09").size(), 1);
}

TEST(PBMImageRepTest, ShortDataLeavesTheRestGreyAsDamageAndHugeClaimsAreRefused)
{
    struct Case {
        const char *name;
        QByteArray data;
        QRgb first, last; // the first and last pixels
        QString damage;
    };
    const QRgb white = qRgb(255, 255, 255), grey = qRgb(128, 128, 128);
    const Case cases[] = {
        {"colour, cut in a pixel", "P6 2 2 255\n" + bytes({255, 255, 255, 9}), white, grey,
         QStringLiteral("the data ends early")},
        {"colour, 16 bits, cut", "P6 2 2 65535\n" + bytes({255, 255, 255, 255, 255, 255, 0, 9}), white, grey,
         QStringLiteral("the data ends early")},
        {"grey, whole", "P5 2 2 255\n" + bytes({255, 255, 255, 7}), white, qRgb(7, 7, 7), {}},
        {"grey, cut", "P5 2 2 255\n" + bytes({255, 255, 255}), white, grey, QStringLiteral("the data ends early")},
        {"bitmap, cut", "P4 2 2\n" + bytes({0x80}), qRgb(0, 0, 0), white, QStringLiteral("the data ends early")},
        // Longer data is ignored.
        {"grey, longer", "P5 1 1 255\n" + QByteArray(100, 'x'), qRgb('x', 'x', 'x'), qRgb('x', 'x', 'x'), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeReport::Scope report;
        const QImage image = PBMImageRep::imageRepWithData(c.data);
        ASSERT_FALSE(image.isNull());
        // The rows the data holds are kept.
        EXPECT_EQ(image.pixel(0, 0), c.first);
        EXPECT_EQ(image.pixel(image.width() - 1, image.height() - 1), c.last);
        EXPECT_EQ(report.damage(), c.damage);
    }
    // Twenty bytes must not allocate gigabytes.
    EXPECT_TRUE(PBMImageRep::imageRepWithData("P6 60000 60000 255\nabc").isNull());
    EXPECT_TRUE(PBMImageRep::imageRepWithData("P4 2147483647 2147483647\nabc").isNull());
}

TEST(PBMImageRepTest, ProgramImageReadingUsesThisReaderForItsFileTypes)
{
    PictureReaders::registerAll();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("deep.ppm"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("P6 1 1 65535\n" + bytes({0x80, 0x00, 0x00, 0x00, 0xFF, 0xFF}));
    file.close();
    const QImage image = ImageFileReader::read(path);
    ASSERT_FALSE(image.isNull());
    // Qt's own reader would keep 16 bits; ours makes 8 bits a sample.
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(image.pixel(0, 0), qRgb(127, 0, 255));
}

TEST(PBMImageRepTest, GimpExportsDecodeLikeTheirPlainTextTwins)
{
    OVN_REQUIRE_TESTDATA();
    const QDir dir(testDataDir() + QStringLiteral("/metadata-extractor-images/netpbm"));
    for (const char *ext : {"pbm", "pgm", "ppm", "pnm"}) {
        SCOPED_TRACE(ext);
        QFile raw(dir.filePath(QStringLiteral("gimp-export-raw.") + QLatin1String(ext)));
        QFile ascii(dir.filePath(QStringLiteral("gimp-export-ascii.") + QLatin1String(ext)));
        ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
        ASSERT_TRUE(ascii.open(QIODevice::ReadOnly));
        const QByteArray rawData = raw.readAll();
        const QByteArray asciiData = ascii.readAll();
        const QImage ours = PBMImageRep::imageRepWithData(rawData);
        ASSERT_FALSE(ours.isNull());
        EXPECT_EQ(ours.size(), QSize(32, 16));
        EXPECT_TRUE(PBMImageRep::imageRepWithData(asciiData).isNull());
        // Qt's reader, which reads the plain-text form, sees the same picture.
        const QImage reference = QImage::fromData(rawData);
        ASSERT_FALSE(reference.isNull());
        EXPECT_EQ(ours.convertToFormat(QImage::Format_RGB32), reference.convertToFormat(QImage::Format_RGB32));
    }
}

// Large Netpbm files as cameras' converters write them (9 megapixels, 8 and 16 bits a sample),
// grey ones and a dithered bitmap get their thumbnails from a thumbnail decoder.
TEST(PBMImageRepTest, LargeFilesGetTheirThumbnailsWithinTheThumbnailDecodersLimit)
{
    QTemporaryDir dir;
    const QSize size(3472, 2604);
    const struct {
        const char *name;
        int type;  // 4, 5 or 6
        int bytes; // a sample's
    } cases[] = {
        {"colour", 6, 1}, {"colour, 16 bits", 6, 2}, {"grey", 5, 1}, {"grey, 16 bits", 5, 2}, {"bitmap", 4, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QStringLiteral("large.pnm"));
        {
            const scenefiles::Scene scene(size);
            scenefiles::Writer file(path);
            QByteArray header = "P" + QByteArray::number(c.type) + "\n" + QByteArray::number(size.width()) + " "
                                + QByteArray::number(size.height()) + "\n";
            if (c.type != 4)
                header += QByteArray::number(c.bytes == 2 ? 65535 : 255) + "\n";
            file.write(header);
            // A bitmap dithered in 4 x 4 cells, so that its blocks average to the scene's greys.
            static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
            const int w = size.width(), samples = c.type == 6 ? 3 : 1;
            std::vector<uchar> levels(size_t(w) * 3);
            std::vector<uchar> row(c.type == 4 ? size_t(w + 7) / 8 : size_t(w) * size_t(samples * c.bytes));
            for (int y = 0; y < size.height(); ++y) {
                for (int s = 0; s < samples; ++s)
                    scene.levels(c.type == 6 ? scenefiles::Scene::Channel(s) : scenefiles::Scene::Grey, y,
                                 levels.data() + size_t(s) * size_t(w));
                uchar *d = row.data();
                if (c.type == 4) {
                    std::fill(row.begin(), row.end(), uchar(0));
                    for (int x = 0; x < w; ++x)
                        if (levels[size_t(x)] * 16 < (bayer[y % 4][x % 4] * 2 + 1) * 255 / 2)
                            d[x / 8] |= uchar(0x80 >> (x % 8));
                } else {
                    for (int x = 0; x < w; ++x)
                        for (int s = 0; s < samples; ++s)
                            for (int b = 0; b < c.bytes; ++b)
                                *d++ = levels[size_t(s) * size_t(w) + size_t(x)];
                }
                file.write(row);
            }
        }
        // A 4 x 4 dither holds 17 levels of grey.
        scenefiles::expectThumbnailOfScene(path, size, c.type != 6, false, c.type == 4 ? 6.0 : 3.0);
    }
}
