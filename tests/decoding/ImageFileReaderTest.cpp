#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "decoding/PngReader.h"
#include "decoding/RawDecoder.h"
#include "tests/formats/SyntheticDng.h"
#include "tests/support/SyntheticPictures.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TiffWriting.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace syntheticpictures;

namespace {

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return path;
}

QByteArray jpegOf(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.write(image);
    return data;
}

} // namespace

TEST(ImageFileReaderTest, FittedSizeKeepsTheAspectAndNeverEnlarges)
{
    EXPECT_EQ(ImageFileReader::fittedSize(QSize(6000, 4000), QSize(256, 256)), QSize(256, 171));
    EXPECT_EQ(ImageFileReader::fittedSize(QSize(4000, 6000), QSize(256, 256)), QSize(171, 256));
    EXPECT_EQ(ImageFileReader::fittedSize(QSize(100, 50), QSize(256, 256)), QSize(100, 50));
    EXPECT_EQ(ImageFileReader::fittedSize(QSize(10000, 1), QSize(256, 256)), QSize(256, 1));
}

TEST(ImageFileReaderTest, ReadsJpegAtAReducedSizeAndByContentNotName)
{
    QImage picture(1600, 1200, QImage::Format_RGB32);
    picture.fill(qRgb(200, 40, 40));
    QTemporaryDir dir;
    const QByteArray jpeg = jpegOf(picture);
    const QString path = writeFile(dir, QStringLiteral("big.jpg"), jpeg);
    EXPECT_EQ(ImageFileReader::read(path).size(), QSize(1600, 1200));
    const QImage small = ImageFileReader::read(path, QSize(256, 256));
    EXPECT_EQ(small.size(), QSize(256, 192));
    // A JPEG named like a camera RAW file is still a JPEG.
    const QString misnamed = writeFile(dir, QStringLiteral("photo.nef"), jpeg);
    EXPECT_EQ(ImageFileReader::read(misnamed, QSize(100, 100)).size(), QSize(100, 75));
    EXPECT_TRUE(ImageFileReader::read(dir.filePath(QStringLiteral("missing.jpg"))).isNull());
    EXPECT_TRUE(ImageFileReader::read(writeFile(dir, QStringLiteral("empty.png"), QByteArray())).isNull());
}

TEST(ImageFileReaderTest, CameraRawFilesGoToTheRawDecoder)
{
    syntheticdng::Options o;
    o.width = 128;
    o.height = 96;
    o.scene = [](int x, int) {
        return x < 64 ? syntheticdng::Rgb{50000, 3000, 3000} : syntheticdng::Rgb{3000, 3000, 50000};
    };
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("scene.dng"), syntheticdng::make(o));
    const QImage full = ImageFileReader::read(path);
    ASSERT_FALSE(full.isNull());
    EXPECT_EQ(full.size(), QSize(128, 96));
    // A small box: a reduced decode, then fitted.
    const QImage small = ImageFileReader::read(path, QSize(40, 40));
    ASSERT_FALSE(small.isNull());
    EXPECT_EQ(small.size(), QSize(40, 30));
    EXPECT_GT(qRed(small.pixel(5, 15)), qBlue(small.pixel(5, 15)));
    EXPECT_GT(qBlue(small.pixel(35, 15)), qRed(small.pixel(35, 15)));
}

// A camera RAW file whose raw data lies past the end of the file is damaged, also where the picture
// its TIFF structure leads with would need more memory than decoding may use.
TEST(ImageFileReaderTest, RawDataPastTheEndOfTheFileIsDamage)
{
    QTemporaryDir dir;
    for (const QSize sensor : {QSize(400, 300), QSize(16000, 14000)}) {
        syntheticdng::Options o;
        o.width = sensor.width();
        o.height = sensor.height();
        o.withData = false;
        const QString path = writeFile(dir, QStringLiteral("cut.dng"), syntheticdng::make(o));
        for (const QSize box : {QSize(), QSize(256, 256)}) {
            SCOPED_TRACE(QStringLiteral("%1 x %2, box %3").arg(o.width).arg(o.height).arg(box.width()).toStdString());
            const DecodeReport::Scope report;
            ImageFileReader::Facts facts;
            EXPECT_TRUE(ImageFileReader::read(path, box, &facts).isNull());
            EXPECT_EQ(facts.refusal, ImageFileReader::Facts::Refusal::None);
            EXPECT_EQ(report.damage(), QStringLiteral("the raw data ends early"));
        }
    }
}

TEST(ImageFileReaderTest, RawDecoderRefusesWhatItCannotIdentify)
{
    RawDecoder decoder;
    EXPECT_FALSE(decoder.open(QByteArray()));
    EXPECT_FALSE(decoder.open("II*\0garbage that is no camera file"));
    EXPECT_FALSE(decoder.decode({}));
    EXPECT_TRUE(decoder.embeddedJpeg().isEmpty());
}

TEST(ImageFileReaderTest, RawFilesOfTheTestDataReadOrAreRefused)
{
    OVN_REQUIRE_TESTDATA();
    // The iPhone DNG is cut short: its preview and data are gone, but the header is sound.
    const QString base = testDataDir();
    for (const char *name :
         {"/exiftool-t-images/CanonRaw.cr2", "/exiftool-t-images/CanonRaw.crw", "/exiftool-t-images/FujiFilm.raf",
          "/exiv2-test-data/raw/Canon-R6-pruned.CR3", "/metadata-extractor-images/raw/Issue 419.rw2"}) {
        SCOPED_TRACE(name);
        (void)ImageFileReader::read(base + QLatin1String(name), QSize(256, 256));
    }
    const QImage misnamed = ImageFileReader::read(base + "/metadata-extractor-images/raw/Issue 247-1.nef");
    EXPECT_FALSE(misnamed.isNull());
}

// What is no regular file is refused at once, also behind a picture's name: a device would be read
// for ever, a pipe without a writer would block for ever.
TEST(ImageFileReaderTest, RefusesWhatIsNoRegularFile)
{
    QTemporaryDir dir;
    const QString pipe = dir.filePath(QStringLiteral("pipe.jpg"));
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString folder = dir.filePath(QStringLiteral("folder.png"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const struct {
        const char *name;
        QString target;
    } cases[] = {
        {"pipe.jpg", {}},
        {"zero.jpg", QStringLiteral("/dev/zero")},
        {"zero.nef", QStringLiteral("/dev/zero")},
        {"to-pipe.ppm", pipe},
        {"folder.png", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QLatin1String(c.name));
        if (!c.target.isEmpty()) {
            ASSERT_TRUE(QFile::link(c.target, path));
        }
        EXPECT_TRUE(ImageFileReader::read(path).isNull());
        EXPECT_TRUE(ImageFileReader::read(path, QSize(64, 64)).isNull());
    }
}

namespace {

// An uncompressed RGB TIFF of strips of 8 rows with its directory first, as scanners write it:
// a file cut short keeps its directory and loses strips.
QByteArray tiffDirectoryFirst(const QImage &picture)
{
    const int w = picture.width(), h = picture.height(), rowsPerStrip = 8;
    const int strips = (h + rowsPerStrip - 1) / rowsPerStrip;
    const quint32 entries = 9, ifd = 8, arrays = ifd + 2 + entries * 12 + 4;
    const quint32 bitsAt = arrays, offsetsAt = bitsAt + 6, countsAt = offsetsAt + 4 * quint32(strips);
    const quint32 dataAt = countsAt + 4 * quint32(strips);
    QByteArray tiff("II*\0", 4);
    put32(tiff, ifd);
    put16(tiff, int(entries));
    auto entry = [&](int tag, int type, quint32 count, quint32 value) {
        put16(tiff, tag);
        put16(tiff, type);
        put32(tiff, count);
        put32(tiff, value);
    };
    entry(256, 4, 1, quint32(w));
    entry(257, 4, 1, quint32(h));
    entry(258, 3, 3, bitsAt);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 2);
    entry(273, 4, quint32(strips), offsetsAt);
    entry(277, 3, 1, 3);
    entry(278, 4, 1, quint32(rowsPerStrip));
    entry(279, 4, quint32(strips), countsAt);
    put32(tiff, 0);
    put16(tiff, 8), put16(tiff, 8), put16(tiff, 8);
    for (int s = 0; s < strips; ++s)
        put32(tiff, dataAt + quint32(s * rowsPerStrip * w * 3));
    for (int s = 0; s < strips; ++s)
        put32(tiff, quint32(std::min(rowsPerStrip, h - s * rowsPerStrip) * w * 3));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb c = picture.pixel(x, y);
            tiff.append(char(qRed(c))).append(char(qGreen(c))).append(char(qBlue(c)));
        }
    return tiff;
}

// A Deflate TIFF of strips of 8 rows written by libtiff.
QByteArray deflatedTiff(const QImage &picture, const QString &path)
{
    if (!tiffwriting::writeRgb(path, picture, COMPRESSION_ADOBE_DEFLATE))
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Every reader of the pictures the file-type table sends to the image reading keeps the rows it
// read before a fault in a cut or corrupt file and says what was wrong to the thread's report; a
// whole file says nothing. Each row: the full-size read (the rows kept, counted against the whole
// file's) and the thumbnail read (what the import makes and lists).
// (Binary Netpbm, TGA, BMP, GIF and Photoshop files are read by the readers formats/ registers;
// their tests are there.)
TEST(ImageFileReaderTest, DamagedFilesOfEveryReaderKeepTheirRowsAndSayWhy)
{
    QTemporaryDir dir;
    const QImage picture = rowsPicture(QSize(160, 120));
    const QString endsEarly = QStringLiteral("the data ends early"), corrupt = QStringLiteral("the data is corrupt");

    const QByteArray jpeg = jpegOf(picture);
    const qsizetype scan = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    // A byte pair that no JPEG marker is, in the middle of the entropy-coded data: libjpeg stops
    // reading the data there and then fails on the marker.
    QByteArray strayMarker = jpeg;
    strayMarker.replace(scan + (jpeg.size() - scan) / 2, 2, QByteArray("\xFF\x0D", 2));
    const QByteArray png = encoded(picture, "PNG");
    const QByteArray ppm = encoded(picture, "PPM");
    const QByteArray pgm = encoded(picture.convertToFormat(QImage::Format_Grayscale8), "PGM");
    const QByteArray webp = encoded(picture, "WEBP");
    const QByteArray ico = encoded(picture, "ICO");
    const QByteArray icns = encoded(picture, "ICNS");
    const QByteArray tiff = tiffDirectoryFirst(picture);
    const QByteArray deflated = deflatedTiff(picture, dir.filePath(QStringLiteral("deflated-source.tif")));
    ASSERT_FALSE(deflated.isEmpty());

    struct Case {
        const char *name; // the file's name
        QByteArray data;
        QByteArray whole; // the file it was made from
        QString damage;   // what the report says; empty for none
        bool keptWhole;   // the full-size read gives the rows read before the fault; else nothing
        bool keptReduced; // the thumbnail read likewise
    };
    const Case cases[] = {
        {"whole.jpg", jpeg, jpeg, {}, true, true},
        {"cut.jpg", jpeg.left(jpeg.size() / 2), jpeg, endsEarly, true, true},
        {"stray-marker.jpg", strayMarker, jpeg, corrupt, true, true},
        {"whole.png", png, png, {}, true, true},
        {"cut.png", png.left(png.size() / 2), png, endsEarly, true, true},
        {"corrupt.png", scrambled(png, png.size() / 2), png, corrupt, true, true},
        // Qt's reader; the program reads these files with formats/' reader, which keeps the rows.
        {"whole.ppm", ppm, ppm, {}, true, true},
        {"cut.ppm", ppm.left(ppm.size() / 2), ppm, endsEarly, false, false},
        {"cut.pgm", pgm.left(pgm.size() / 2), pgm, endsEarly, false, false},
        // Readers that keep nothing of a cut file, which says how long it is.
        {"cut.webp", webp.left(webp.size() / 2), webp, endsEarly, false, false},
        {"cut.ico", ico.left(ico.size() / 2), ico, endsEarly, false, false},
        {"cut.icns", icns.left(icns.size() / 2), icns, endsEarly, false, false},
        // Thumbnails are read strip by strip; so is the full-size read where Qt's keeps nothing.
        {"whole.tif", tiff, tiff, {}, true, true},
        {"cut.tif", tiff.left(tiff.size() / 2), tiff, endsEarly, true, true},
        {"whole-deflated.tif", deflated, deflated, {}, true, true},
        {"corrupt-deflated.tif", scrambled(deflated, deflated.size() / 2, 256), deflated, corrupt, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = writeFile(dir, QLatin1String(c.name), c.data);
        const QString wholePath = writeFile(dir, QStringLiteral("whole-") + QLatin1String(c.name), c.whole);
        const QImage whole = ImageFileReader::read(wholePath);
        ASSERT_FALSE(whole.isNull());
        {
            const DecodeReport::Scope report;
            const QImage full = ImageFileReader::read(path);
            EXPECT_EQ(report.damage(), c.damage);
            ASSERT_EQ(!full.isNull(), c.keptWhole);
            if (c.keptWhole) {
                // A cut or corrupt file keeps its rows before the fault as they are in the whole file
                // (the fault lies past the first eight rows in each), and not the rest; a whole one
                // keeps all.
                const int kept = rowsKept(full, whole);
                if (c.damage.isEmpty()) {
                    EXPECT_EQ(kept, picture.height());
                } else {
                    EXPECT_GE(kept, 8);
                    EXPECT_LT(kept, picture.height());
                }
            }
        }
        {
            const DecodeReport::Scope report;
            const QImage thumbnail = ImageFileReader::read(path, QSize(64, 64));
            EXPECT_EQ(report.damage(), c.damage);
            ASSERT_EQ(!thumbnail.isNull(), c.keptReduced);
            if (c.keptReduced) {
                ASSERT_EQ(thumbnail.size(), QSize(64, 48));
                // The first rows stored are those of the whole file's.
                const QImage reference = ImageFileReader::read(wholePath, QSize(64, 48));
                EXPECT_EQ(rowsKept(thumbnail.copy(0, 0, 64, 1), reference.copy(0, 0, 64, 1)), 1);
            }
        }
    }
}

// A PNG thumbnail is averaged row by row as the picture is read: it matches the whole picture
// scaled, for every colour layout, and its decode holds a few rows rather than the picture.
// (Interlaced pictures are read whole and scaled: HostileHeadersTest reads one.)
TEST(ImageFileReaderTest, PngThumbnailsAreAveragedRowByRowAndMatchTheScaledPicture)
{
    QImage picture(1200, 800, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgba((x / 3) % 256, (y / 2) % 256, (x + y) % 256, x < 600 ? 255 : (y % 256)));
    struct Layout {
        const char *name;
        QImage image;
    };
    const Layout layouts[] = {
        {"rgb", picture.convertToFormat(QImage::Format_RGB32)},
        {"rgba", picture},
        {"grey", picture.convertToFormat(QImage::Format_Grayscale8)},
        {"palette", picture.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8)},
        {"16 bits a sample", picture.convertToFormat(QImage::Format_RGBA64)},
    };
    QTemporaryDir dir;
    const QSize box(200, 200);
    for (const Layout &l : layouts) {
        SCOPED_TRACE(l.name);
        const QString path = dir.filePath(QStringLiteral("%1.png").arg(QLatin1String(l.name)));
        ASSERT_TRUE(l.image.save(path, "PNG"));
        const QImage whole = ImageFileReader::read(path);
        ASSERT_EQ(whole.size(), picture.size());
        const QImage thumbnail = ImageFileReader::read(path, box);
        ASSERT_EQ(thumbnail.size(), QSize(200, 133));
        EXPECT_LT(
            meanDifference(thumbnail, whole.scaled(thumbnail.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
            3.0);
        // (libpng's rows: the whole-buffer road holds a small picture's rows, and this one is not.)
        const PngReader::Result read = PngReader::read(path, box, PngReader::Road::Library);
        const qint64 pictureBytes = qint64(picture.width()) * picture.height() * 4;
        EXPECT_LT(read.reserved, PngReader::libraryAllowance(picture.width()) + pictureBytes / 8);
    }
}
