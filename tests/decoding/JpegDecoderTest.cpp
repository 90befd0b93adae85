#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "decoding/JpegDecoder.h"
#include "tests/support/ColourFiles.h"
#include "tests/support/HostileMedia.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDirIterator>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

QSize fittedTo(QSize size, QSize box)
{
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    return size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

// Qt's reader, as the program used it for thumbnails: reduced decoding, then smooth scaling.
QImage qtThumbnail(const QByteArray &data, QSize box)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(false);
    const QSize target = fittedTo(reader.size(), box);
    reader.setScaledSize(target);
    QImage image = reader.read();
    return image.size() == target ? image : image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage directThumbnail(const QByteArray &data, QSize box)
{
    const JpegDecoder::Result result = JpegDecoder::decode(data.constData(), size_t(data.size()), box);
    const QSize target = fittedTo(result.fullSize, box);
    return result.image.isNull() || result.image.size() == target
               ? result.image
               : result.image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The mean difference of the colour channels, in levels of 255.
double meanDifference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int column = 0; column < x.width(); ++column)
            sum += std::abs(qRed(p[column]) - qRed(q[column])) + std::abs(qGreen(p[column]) - qGreen(q[column]))
                   + std::abs(qBlue(p[column]) - qBlue(q[column]));
    }
    return sum / (3.0 * x.width() * x.height());
}

QByteArray jpegOf(const QImage &image, int quality = 90, bool progressive = false)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return data;
}

} // namespace

// Every real JPEG of the test data gives Qt's picture, within what the faster IDCT and chroma
// upsampling change, at a thumbnail's box and at a box no DCT scale meets exactly.
TEST(JpegDecoderTest, GivesQtsPictureForEveryRealJpeg)
{
    OVN_REQUIRE_TESTDATA();
    int compared = 0;
    QDirIterator files(testDataDir(), {QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.JPG")},
                       QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(path);
        const QByteArray data = file.readAll();
        for (const QSize box : {QSize(256, 256), QSize(97, 61)}) {
            const QImage expected = qtThumbnail(data, box);
            const JpegDecoder::Result result = JpegDecoder::decode(data.constData(), size_t(data.size()), box);
            if (result.status == JpegDecoder::Status::Unsupported)
                continue; // CMYK: left to Qt
            if (expected.isNull()) {
                EXPECT_TRUE(result.image.isNull()) << qPrintable(path);
                continue;
            }
            ASSERT_EQ(result.status, JpegDecoder::Status::Decoded) << qPrintable(path);
            EXPECT_EQ(JpegDecoder::size(data.constData(), size_t(data.size())), result.fullSize) << qPrintable(path);
            const QSize target = fittedTo(result.fullSize, box);
            // Decoded no smaller than the box needs, and less than one DCT step larger.
            EXPECT_GE(result.image.width(), target.width()) << qPrintable(path);
            EXPECT_GE(result.image.height(), target.height()) << qPrintable(path);
            EXPECT_LT(result.image.width(), target.width() + result.fullSize.width() / 8 + 1) << qPrintable(path);
            // The cameras' own files are whole.
            EXPECT_EQ(result.damage, QString()) << qPrintable(path);
            const QImage actual = directThumbnail(data, box);
            ASSERT_EQ(actual.size(), expected.size()) << qPrintable(path);
            EXPECT_LT(meanDifference(actual, expected), 3.0) << qPrintable(path);
            ++compared;
        }
    }
    EXPECT_GT(compared, 50);
}

// Broken and hostile bytes give no picture and never crash; a file cut short inside its picture
// data still gives what was there, as Qt's reader does.
TEST(JpegDecoderTest, BrokenFilesGiveNoPicture)
{
    QImage picture(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    const QByteArray good = jpegOf(picture);
    ASSERT_GT(good.size(), 1000);

    // A frame header that declares 65,500 × 65,500 pixels and holds no data.
    QByteArray huge = good;
    const qsizetype sof = huge.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    huge[sof + 5] = char(0xFF);
    huge[sof + 6] = char(0xDC);
    huge[sof + 7] = char(0xFF);
    huge[sof + 8] = char(0xDC);
    huge.truncate(huge.indexOf(QByteArray("\xFF\xDA", 2)) + 20);

    QByteArray manyScans = QByteArray("\xFF\xD8", 2);
    {
        // A progressive frame followed by thousands of empty scans.
        QByteArray header = good.left(good.indexOf(QByteArray("\xFF\xDA", 2)));
        header.replace(QByteArray("\xFF\xC0", 2), QByteArray("\xFF\xC2", 2));
        manyScans = header;
        const QByteArray scan("\xFF\xDA\x00\x08\x01\x01\x00\x00\x00\x00", 10);
        for (int i = 0; i < 5000; ++i)
            manyScans += scan;
        manyScans += QByteArray("\xFF\xD9", 2);
    }

    struct Case {
        const char *name;
        QByteArray data;
    };
    const Case cases[] = {
        {"empty", QByteArray()},
        {"start marker only", QByteArray("\xFF\xD8", 2)},
        {"start and end markers", QByteArray("\xFF\xD8\xFF\xD9", 4)},
        {"cut inside the header", good.left(good.indexOf(QByteArray("\xFF\xDA", 2)) / 2)},
        {"cut after the header", good.left(good.indexOf(QByteArray("\xFF\xDA", 2)))},
        {"garbage after the start", QByteArray("\xFF\xD8\xFF", 3) + QByteArray(4000, '\x5A')},
        {"a PNG", QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(100, '\0')},
        {"thousands of scans", manyScans},
    };
    for (const Case &c : cases) {
        for (const QSize box : {QSize(), QSize(64, 64)}) {
            const JpegDecoder::Result result = JpegDecoder::decode(c.data.constData(), size_t(c.data.size()), box);
            EXPECT_EQ(result.status, JpegDecoder::Status::Failed) << c.name;
            EXPECT_TRUE(result.image.isNull()) << c.name;
        }
    }

    // A header that claims 65,500 x 65,500 pixels over no data: the whole picture is more than any
    // budget; reduced, it holds its decoded rows like any other, and is a file cut short.
    EXPECT_EQ(JpegDecoder::decode(huge.constData(), size_t(huge.size())).status, JpegDecoder::Status::Failed);
    {
        const JpegDecoder::Result reduced = JpegDecoder::decode(huge.constData(), size_t(huge.size()), QSize(64, 64));
        if (JpegDecoder::decodeBytes(huge.constData(), size_t(huge.size()), QSize(64, 64))
            <= DecodeMemoryBudget::shared().capacity()) {
            EXPECT_EQ(reduced.status, JpegDecoder::Status::Decoded);
            EXPECT_EQ(reduced.damage, QStringLiteral("the data ends early"));
        } else {
            EXPECT_EQ(reduced.status, JpegDecoder::Status::Failed);
        }
    }

    // Cut inside the picture data: what was there, as Qt's reader gives it.
    const QByteArray cut = good.left(good.size() / 2);
    const JpegDecoder::Result result = JpegDecoder::decode(cut.constData(), size_t(cut.size()), QSize(64, 64));
    EXPECT_EQ(result.status, JpegDecoder::Status::Decoded);
    EXPECT_EQ(result.fullSize, QSize(640, 480));
    EXPECT_EQ(result.image.size(), QSize(80, 60));
    EXPECT_FALSE(qtThumbnail(cut, QSize(64, 64)).isNull());
    // Overwritten picture data: a picture wherever Qt gives one, and also where libjpeg fails on a
    // fault after it decoded rows (Qt's reader then gives nothing): those rows, listed as corrupt.
    QByteArray scrambled = good;
    int rowsBeforeAFault = 0;
    for (qsizetype i = good.indexOf(QByteArray("\xFF\xDA", 2)) + 40; i < scrambled.size() - 2; i += 37) {
        scrambled[i] = char(scrambled[i] ^ 0x55);
        if (i % 5 == 0) {
            const DecodeReport::Scope report;
            const bool direct = !directThumbnail(scrambled, QSize(64, 64)).isNull();
            const bool qt = !qtThumbnail(scrambled, QSize(64, 64)).isNull();
            if (qt) {
                EXPECT_TRUE(direct) << "overwritten up to " << i;
            } else if (direct) {
                ++rowsBeforeAFault;
                EXPECT_EQ(report.damage(), QStringLiteral("the data is corrupt")) << "overwritten up to " << i;
            }
        }
    }
    EXPECT_GT(rowsBeforeAFault, 0);
    EXPECT_EQ(JpegDecoder::decode(good.constData(), size_t(good.size())).image.size(), QSize(640, 480));
}

// A file whose data is damaged still gives what could be read, and says what was wrong beside it,
// also to the thread's report; a whole file says nothing.
TEST(JpegDecoderTest, DamagedFilesGiveWhatCouldBeReadAndSayWhy)
{
    QImage picture(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    const QByteArray whole = jpegOf(picture);
    const qsizetype scan = whole.indexOf(QByteArray("\xFF\xDA", 2));
    ASSERT_GT(scan, 0);
    // A marker in the middle of the entropy-coded data: the decoder meets it early.
    QByteArray marker = whole;
    marker.replace(scan + (whole.size() - scan) / 2, 2, QByteArray("\xFF\xD3", 2));
    QByteArray strayMarker = whole;
    strayMarker.replace(scan + (whole.size() - scan) / 2, 2, QByteArray("\xFF\x0D", 2));

    struct Case {
        const char *name;
        QByteArray data;
        QString damage;
    };
    const Case cases[] = {
        {"whole", whole, {}},
        {"cut at half", whole.left(whole.size() / 2), QStringLiteral("the data ends early")},
        // Every row is there, but nothing says the file ends there rather than was cut.
        {"cut before its end marker", whole.left(whole.size() - 2), QStringLiteral("the data ends early")},
        {"a marker inside the data", marker, QStringLiteral("the data is corrupt")},
        // A byte pair no marker is: libjpeg stops reading the data there and fails on it when the
        // rows are done.
        {"a stray byte pair that is no marker", strayMarker, QStringLiteral("the data is corrupt")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeReport::Scope report;
        const JpegDecoder::Result result =
            JpegDecoder::decode(c.data.constData(), size_t(c.data.size()), QSize(64, 64));
        EXPECT_EQ(result.status, JpegDecoder::Status::Decoded);
        EXPECT_EQ(result.image.size(), QSize(80, 60));
        EXPECT_EQ(result.damage, c.damage);
        EXPECT_EQ(report.damage(), c.damage);
    }
}

// Read from a device a piece at a time, a file gives what its bytes in memory give: the same
// picture, size, status and damage, whole, cut, overwritten or broken, and a file longer than
// the most that may be read is cut there. Asking a device what a decode holds leaves it where it
// was. Progressive files (which skip back over nothing but read many scans) included.
TEST(JpegDecoderTest, ADeviceReadInPiecesGivesWhatItsBytesGive)
{
    QImage picture(1200, 900, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb((x * 3) % 256, (y * 5) % 256, (x ^ y) % 256));
    const QByteArray good = jpegOf(picture);
    const QByteArray progressive = jpegOf(picture, 90, true);
    QByteArray scrambled = good;
    for (qsizetype i = good.size() / 2; i < good.size() - 2; i += 97)
        scrambled[i] = char(scrambled[i] ^ 0x55);
    // Comment segments the decoder skips, the second across the end of the first piece read.
    QByteArray commented = good;
    for (int i = 0; i < 2; ++i)
        commented.insert(2, QByteArray("\xFF\xFE\xFF\xF0", 4) + QByteArray(0xFFF0 - 2, 'c'));
    const struct {
        const char *name;
        QByteArray data;
        qint64 maxBytes; // -1: the whole file
    } cases[] = {
        {"whole", good, -1},
        {"progressive", progressive, -1},
        {"a long comment", commented, -1},
        {"cut in half", good.left(good.size() / 2), -1},
        {"overwritten", scrambled, -1},
        {"broken header", good.left(good.indexOf(QByteArray("\xFF\xDA", 2)) / 2), -1},
        {"not a JPEG", QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(100, '\0'), -1},
        {"read up to half", good, good.size() / 2},
    };
    for (const auto &c : cases) {
        for (const QSize box : {QSize(), QSize(300, 300), QSize(64, 64)}) {
            SCOPED_TRACE(testing::Message() << c.name << " " << box.width());
            const QByteArray bytes = c.maxBytes < 0 ? c.data : c.data.left(c.maxBytes);
            JpegDecoder::Result inMemory;
            {
                const DecodeReport::Scope report;
                inMemory = JpegDecoder::decode(bytes.constData(), size_t(bytes.size()), box);
            }
            QBuffer device;
            device.setData(c.data);
            ASSERT_TRUE(device.open(QIODevice::ReadOnly));
            EXPECT_EQ(JpegDecoder::decodeBytes(device, box),
                      JpegDecoder::decodeBytes(bytes.constData(), size_t(bytes.size()), box));
            EXPECT_EQ(device.pos(), 0);
            JpegDecoder::Result read;
            {
                const DecodeReport::Scope report;
                read = JpegDecoder::decode(device, c.maxBytes < 0 ? c.data.size() : c.maxBytes, box);
            }
            EXPECT_EQ(read.status, inMemory.status);
            EXPECT_EQ(read.fullSize, inMemory.fullSize);
            EXPECT_EQ(read.damage, inMemory.damage);
            EXPECT_EQ(read.image, inMemory.image);
        }
    }
}

// What a decode is counted to hold: the decoded picture, with a file of one scan's band of rows
// at the decoded width at any scale (a reduced decode of a picture of one scan holds no more than
// its result and a band), and a progressive file's every coefficient as the file subsamples them
// (4:2:0 here), at any scale.
TEST(JpegDecoderTest, ADecodeIsCountedByWhatItsFileHolds)
{
    const QSize size(400, 304);
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const qint64 pixels = qint64(size.width()) * size.height();
    // Luma's 50 x 38 blocks and each chroma's 25 x 19, 64 coefficients of two bytes each.
    const qint64 coefficients = (50 * 38 + 2 * 25 * 19) * 128;
    const auto band = [](qint64 width) { return width * 16 * (4 + 2 * 3); };
    const struct {
        const char *name;
        bool progressive;
        QSize box;
        qint64 expected;
    } cases[] = {
        {"one scan, whole", false, {}, pixels * 4 + band(400)},
        {"progressive, whole", true, {}, pixels * 4 + band(400) + coefficients},
        {"one scan, reduced", false, {100, 100}, qint64(100) * 76 * 4 + band(100)},
        {"progressive, reduced", true, {100, 100}, qint64(100) * 76 * 4 + band(100) + coefficients},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray data = jpegOf(picture, 90, c.progressive);
        EXPECT_EQ(JpegDecoder::decodeBytes(data.constData(), size_t(data.size()), c.box), c.expected);
        const JpegDecoder::Result result = JpegDecoder::decode(data.constData(), size_t(data.size()), c.box);
        ASSERT_EQ(result.status, JpegDecoder::Status::Decoded);
        EXPECT_LE(qint64(result.image.sizeInBytes()), c.expected);
    }
}

// A JPEG of inks reads in its own colours on every road (decoded whole, streamed into a
// thumbnail, read at its own size), stored as Adobe's programs store them or plainly: through the
// profile it embeds, else the system's standard CMYK profile.
TEST(JpegDecoderTest, InksReadThroughTheirProfileOnEveryRoad)
{
    const QByteArray embedded = colourfiles::systemProfile("ps_cmyk.icc");
    const QByteArray standard = colourfiles::systemProfile("default_cmyk.icc");
    if (embedded.isEmpty() || standard.isEmpty())
        GTEST_SKIP() << "no CMYK profiles installed (libgs-common)";
    struct Case {
        const char *name;
        colourfiles::InkStorage storage;
        QByteArray icc;
        QByteArray expectedThrough;
    };
    const Case cases[] = {
        {"adobe, embedded", colourfiles::InkStorage::Adobe, embedded, embedded},
        {"plain, embedded", colourfiles::InkStorage::Plain, embedded, embedded},
        {"adobe, no profile", colourfiles::InkStorage::Adobe, {}, standard},
    };
    const QSize size(64, 32);
    // Cyan on the left, red on the right.
    auto inks = [](int x, int) { return x < 32 ? std::vector<int>{255, 0, 0, 0} : std::vector<int>{0, 255, 255, 0}; };
    QTemporaryDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QRgb cyan = colourfiles::inksThrough(c.expectedThrough, 255, 0, 0, 0);
        const QRgb red = colourfiles::inksThrough(c.expectedThrough, 0, 255, 255, 0);
        const QByteArray data = colourfiles::writeJpeg(size, true, c.icc, inks, c.storage);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".jpg"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        file.close();
        const DecodeReport::Scope report;
        const QImage pictures[] = {
            JpegDecoder::decode(data.constData(), size_t(data.size())).image,
            ImageFileReader::read(path, QSize(16, 16)),
            ImageFileReader::read(path),
        };
        for (const QImage &image : pictures) {
            ASSERT_FALSE(image.isNull());
            const double scale = image.width() / 64.0;
            const QRgb left = image.pixel(int(8 * scale), int(16 * scale));
            const QRgb right = image.pixel(int(56 * scale), int(16 * scale));
            EXPECT_LE(colourfiles::distance(left, cyan), 9) << std::hex << left << " for " << cyan;
            EXPECT_LE(colourfiles::distance(right, red), 9) << std::hex << right << " for " << red;
        }
        EXPECT_EQ(report.colourSpace(), QStringLiteral("CMYK"));
        EXPECT_EQ(report.colourProfile(), c.icc);
    }
}

// The scans of a file, counted through its markers: what a whole-picture read left to Qt's reader
// is held to, as libjpeg's own road is.
TEST(JpegDecoderTest, ScansAreCountedThroughTheMarkers)
{
    const QByteArray progressive = hostilemedia::jpegOfNoise(64, 48, true);
    // An EXIF block holding a whole JPEG of its own (a camera's thumbnail): its scan is not the file's.
    const QByteArray thumbnail = hostilemedia::jpegOfNoise(16, 16, false);
    const QByteArray app1 = QByteArray("\xFF\xE1", 2) + char((thumbnail.size() + 8) >> 8)
                            + char((thumbnail.size() + 8) & 0xFF) + QByteArray("Exif\0\0", 6) + thumbnail;
    const QByteArray baseline = hostilemedia::jpegOfNoise(64, 48, false);
    struct Case {
        const char *name;
        QByteArray data;
        int scans;
    };
    const Case cases[] = {
        {"baseline", baseline, 1},
        {"progressive grey", progressive, 6},
        {"a thumbnail in its EXIF block", baseline.left(2) + app1 + baseline.mid(2), 1},
        {"empty comments before its frame", hostilemedia::jpegWithEmptyComments(progressive, 1000), 6},
        {"cut inside its second scan",
         progressive.left(progressive.indexOf("\xFF\xDA", progressive.indexOf("\xFF\xDA") + 2) + 20), 2},
        {"2,816 scans, counted to one past the most", hostilemedia::jpegOfManyScans(32, 32), JpegDecoder::maxScans + 1},
        {"no JPEG", QByteArray("GIF89a", 6), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QBuffer buffer;
        buffer.setData(c.data);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        EXPECT_EQ(JpegDecoder::scanCount(buffer), c.scans);
        EXPECT_EQ(buffer.pos(), 0);
    }
}

// A whole picture left to Qt's reader stops at the scans libjpeg's road stops at: a file of
// thousands of scans costs every road a look at its markers, not a pass over the picture for each.
TEST(JpegDecoderTest, AWholePictureOfEndlessScansIsNotRead)
{
    QTemporaryDir dir;
    const QString many =
        hostilemedia::written(dir.filePath(QStringLiteral("many.jpg")), hostilemedia::jpegOfManyScans(64, 64));
    const QString ordinary =
        hostilemedia::written(dir.filePath(QStringLiteral("ordinary.jpg")), hostilemedia::jpegOfNoise(64, 48, true));
    EXPECT_TRUE(ImageFileReader::read(many).isNull());
    EXPECT_TRUE(ImageFileReader::read(many, QSize(32, 32)).isNull());
    EXPECT_EQ(ImageFileReader::read(ordinary).size(), QSize(64, 48));
}
