#include "output/OVNJpegWriter.h"

#include "decoding/DecodeInterrupt.h"
#include "decoding/MediaDecoder.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/JpegEncoder.h"
#include "decoding/RowSink.h"
#include "formats/OVNOrientation.h"
#include "formats/BMPImageRep.h"
#include "formats/PictureReaders.h"
#include "formats/TGAImageRep.h"
#include "tests/formats/SceneFiles.h"
#include "tests/formats/SyntheticDng.h"
#include "tests/support/LargeJpegs.h"
#include "tests/support/SyntheticPictures.h"
#include "tests/support/TestEnvironment.h"

#include <QBuffer>
#include <QColor>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tiffio.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

QString writePicture(const QTemporaryDir &dir, const QString &name, const QImage &image, int dpi = 72)
{
    QImage copy = image;
    copy.setDotsPerMeterX(int(dpi / 0.0254));
    copy.setDotsPerMeterY(int(dpi / 0.0254));
    const QString path = dir.filePath(name);
    EXPECT_TRUE(copy.save(path, nullptr, 95));
    return path;
}

QImage filled(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QImage written(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    return reader.read();
}

bool isRed(QRgb p) { return qRed(p) > 180 && qGreen(p) < 80 && qBlue(p) < 80; }
int brightness(QRgb p) { return qGray(p); }

} // namespace

TEST(OVNJpegWriterTest, FitsIntoTheBoxTruncatedAndNeverEnlarged)
{
    const struct {
        QSize source, box, expected;
    } cases[] = {
        {{4000, 3000}, {640, 640}, {640, 480}}, {{3000, 4000}, {640, 640}, {480, 640}},
        {{300, 200}, {640, 640}, {300, 200}},   {{3000, 2000}, {640, 640}, {640, 426}},
        {{1000, 1000}, {640, 320}, {320, 320}}, {{1000, 1000}, {500, 500}, {500, 500}},
        {{10000, 10}, {640, 640}, {640, 1}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OVNJpegWriter::fittedSize(c.source, c.box.width(), c.box.height()), c.expected)
            << c.source.width() << "x" << c.source.height();

    QTemporaryDir dir;
    const QString big = writePicture(dir, QStringLiteral("big.jpg"), filled(3000, 2000, Qt::gray));
    const QString out = dir.filePath(QStringLiteral("out.jpg"));
    ASSERT_TRUE(OVNJpegWriter::scaleAndSaveAsJPEG(big, 640, 640, 0.9f, out, OVNJpegWriter::Caption::Off, {}, {}, 1));
    EXPECT_EQ(written(out).size(), QSize(640, 426));

    // A 300-dpi picture is measured in pixels, not points.
    const QString dense = writePicture(dir, QStringLiteral("dense.jpg"), filled(1000, 800, Qt::gray), 300);
    ASSERT_TRUE(
        OVNJpegWriter::scaleAndSaveAsJPEG(dense, 2000, 2000, 0.9f, out, OVNJpegWriter::Caption::Off, {}, {}, 0));
    EXPECT_EQ(written(out).size(), QSize(1000, 800));
}

TEST(OVNJpegWriterTest, TurnsByTheOrientationCode)
{
    QTemporaryDir dir;
    QImage marked = filled(64, 48, Qt::blue);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            marked.setPixel(x, y, qRgb(255, 0, 0));
    const QString source = writePicture(dir, QStringLiteral("marked.png"), marked);
    const struct {
        int code;
        QSize size;
        QPoint corner; // where the marker lands
    } cases[] = {
        {1, {64, 48}, {3, 3}},   {0, {64, 48}, {3, 3}},  {9, {64, 48}, {3, 3}},
        {3, {64, 48}, {60, 44}}, {6, {48, 64}, {44, 3}}, {8, {48, 64}, {3, 60}},
    };
    for (const auto &c : cases) {
        const QString out = dir.filePath(QStringLiteral("turned-%1.jpg").arg(c.code));
        ASSERT_TRUE(OVNJpegWriter::scaleAndSaveAsJPEG(source, 640, 640, 1.0f, out, OVNJpegWriter::Caption::Off, {}, {},
                                                      c.code));
        const QImage image = written(out);
        EXPECT_EQ(image.size(), c.size) << c.code;
        EXPECT_TRUE(isRed(image.pixel(c.corner))) << "code " << c.code;
        EXPECT_EQ(QImageReader(out).transformation(), QImageIOHandler::TransformationNone) << c.code;
    }
}

TEST(OVNJpegWriterTest, QualityOutOfRangeIsMadeDefaultOrFull)
{
    EXPECT_EQ(OVNJpegWriter::jpegQuality(0.0f), 85);
    EXPECT_EQ(OVNJpegWriter::jpegQuality(-1.0f), 85);
    EXPECT_EQ(OVNJpegWriter::jpegQuality(1.5f), 100);
    EXPECT_EQ(OVNJpegWriter::jpegQuality(0.9f), 90);

    QTemporaryDir dir;
    QImage noise(200, 150, QImage::Format_RGB32);
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x)
            noise.setPixel(x, y, qRgb((x * 37 + y * 11) & 255, (x * y) & 255, (x ^ y) & 255));
    const QString source = writePicture(dir, QStringLiteral("noise.png"), noise);
    auto bytesAt = [&](float quality) {
        const QString out = dir.filePath(QStringLiteral("q.jpg"));
        EXPECT_TRUE(
            OVNJpegWriter::scaleAndSaveAsJPEG(source, 640, 640, quality, out, OVNJpegWriter::Caption::Off, {}, {}, 0));
        QFile file(out);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    EXPECT_EQ(bytesAt(0.0f), bytesAt(0.85f));
    EXPECT_EQ(bytesAt(1.5f), bytesAt(1.0f));
    EXPECT_NE(bytesAt(0.5f), bytesAt(1.0f));
}

TEST(OVNJpegWriterTest, CaptionSitsTenPixelsFromTheTopRight)
{
    QTemporaryDir dir;
    const QString source = writePicture(dir, QStringLiteral("black.png"), filled(400, 300, Qt::black));
    const struct {
        OVNJpegWriter::Caption caption;
        QString author, filename;
        bool drawn;
    } cases[] = {
        {OVNJpegWriter::Caption::On, QStringLiteral("Jo Author"), QStringLiteral("black.png"), true},
        {OVNJpegWriter::Caption::On, {}, QStringLiteral("black.png"), true},
        {OVNJpegWriter::Caption::Off, QStringLiteral("Jo Author"), QStringLiteral("black.png"), false},
    };
    for (const auto &c : cases) {
        const QString out = dir.filePath(QStringLiteral("caption.jpg"));
        ASSERT_TRUE(OVNJpegWriter::scaleAndSaveAsJPEG(source, 640, 640, 1.0f, out, c.caption, c.author, c.filename, 0));
        const QImage image = written(out);
        int brightest = 0;
        for (int y = 12; y < 30; ++y)
            for (int x = 330; x < 388; ++x)
                brightest = std::max(brightest, brightness(image.pixel(x, y)));
        EXPECT_EQ(brightest > 150, c.drawn) << qPrintable(c.author);
        // The margins stay untouched.
        for (const QPoint p : {QPoint(395, 3), QPoint(395, 20), QPoint(3, 3), QPoint(200, 290)})
            EXPECT_LT(brightness(image.pixel(p)), 20) << p.x() << "," << p.y();
    }
}

TEST(OVNJpegWriterTest, WhatCannotBeLoadedWritesNothing)
{
    QTemporaryDir dir;
    QFile junk(dir.filePath(QStringLiteral("junk.jpg")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(2048, 'x'));
    junk.close();
    QFile other(dir.filePath(QStringLiteral("notes.xyz")));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("text");
    other.close();
    for (const QString &source : {junk.fileName(), other.fileName(), dir.filePath(QStringLiteral("gone.jpg"))}) {
        const QString out = dir.filePath(QStringLiteral("out.jpg"));
        EXPECT_FALSE(
            OVNJpegWriter::scaleAndSaveAsJPEG(source, 640, 640, 0.9f, out, OVNJpegWriter::Caption::Off, {}, {}, 0))
            << qPrintable(source);
        EXPECT_FALSE(QFile::exists(out));
    }
}

TEST(OVNJpegWriterTest, RawAndMovieSources)
{
    QTemporaryDir dir;
    syntheticdng::Options o;
    o.scene = [](int, int) { return syntheticdng::Rgb{50000, 3000, 3000}; };
    QFile dng(dir.filePath(QStringLiteral("red.dng")));
    ASSERT_TRUE(dng.open(QIODevice::WriteOnly));
    dng.write(syntheticdng::make(o));
    dng.close();
    const QString out = dir.filePath(QStringLiteral("out.jpg"));
    ASSERT_TRUE(
        OVNJpegWriter::scaleAndSaveAsJPEG(dng.fileName(), 32, 32, 0.9f, out, OVNJpegWriter::Caption::Off, {}, {}, 0));
    EXPECT_EQ(written(out).size(), QSize(32, 24));
    EXPECT_TRUE(isRed(written(out).pixel(16, 12)));

    OVN_REQUIRE_TESTDATA();
    const QString movie = testDataDir() + QLatin1String("/exiv2-test-data/movies/sample_640x360.mov");
    ASSERT_TRUE(OVNJpegWriter::scaleAndSaveAsJPEG(movie, 320, 320, 0.9f, out, OVNJpegWriter::Caption::Off, {}, {}, 0));
    EXPECT_EQ(written(out).size(), QSize(320, 180));
}

// Every kind of source reaches the writer already fitted to the box it asked for: the decoder reads
// at a reduced size and sends only the fitted picture (a camera RAW file developed at a shrink, a
// movie's frame at the box), never the whole picture.
TEST(OVNJpegWriterTest, EachSourceIsReadFittedToItsBox)
{
    QTemporaryDir dir;
    syntheticdng::Options o;
    o.scene = [](int, int) { return syntheticdng::Rgb{50000, 3000, 3000}; };
    QFile dng(dir.filePath(QStringLiteral("red.dng")));
    ASSERT_TRUE(dng.open(QIODevice::WriteOnly));
    dng.write(syntheticdng::make(o));
    dng.close();
    const struct {
        QString source;
        QSize box, expected;
    } cases[] = {
        {writePicture(dir, QStringLiteral("wide.jpg"), filled(3000, 2000, Qt::gray)), {640, 640}, {640, 426}},
        {writePicture(dir, QStringLiteral("tall.png"), filled(1200, 4000, Qt::gray)), {320, 320}, {96, 320}},
        {writePicture(dir, QStringLiteral("small.png"), filled(200, 100, Qt::gray)), {320, 320}, {200, 100}},
        {writePicture(dir, QStringLiteral("large.bmp"), filled(2400, 1800, Qt::gray)), {256, 256}, {256, 192}},
        {dng.fileName(), {32, 32}, {32, 24}},
    };
    for (const auto &c : cases) {
        QString why;
        const QImage image = OVNJpegWriter::loadSource(c.source, c.box.width(), c.box.height(), &why);
        EXPECT_EQ(image.size(), c.expected) << qPrintable(c.source) << " " << qPrintable(why);
    }
    EXPECT_EQ(OVNJpegWriter::fullSizeDecodesRunning(), 0);
}

// Pictures written in their decoders are made picturesAtOnce() at a time whatever their size,
// however many threads ask; a captioned picture of a box larger than a thumbnail decoder serves is
// read whole into this process, one at a time.
TEST(OVNJpegWriterTest, OutputsMakeABoundedNumberOfPicturesAtOnce)
{
    const struct {
        const char *turns;
        int box;
        OVNJpegWriter::Caption caption;
        int limit;
        int (*running)();
    } cases[] = {
        {"full size", 2500, OVNJpegWriter::Caption::Off, OVNJpegWriter::picturesAtOnce(),
         &OVNJpegWriter::picturesRunning},
        {"full size with a caption", 2500, OVNJpegWriter::Caption::On, OVNJpegWriter::fullSizeDecodesAtOnce,
         &OVNJpegWriter::fullSizeDecodesRunning},
        {"small boxes", 1600, OVNJpegWriter::Caption::Off, OVNJpegWriter::picturesAtOnce(),
         &OVNJpegWriter::picturesRunning},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.turns);
        QTemporaryDir dir;
        const int count = c.limit + 5;
        QStringList sources;
        for (int i = 0; i < count; ++i)
            sources.append(
                writePicture(dir, QStringLiteral("p%1.jpg").arg(i), filled(2600, 2000, QColor(i * 20, 90, 90))));
        std::atomic<int> most{0};
        std::atomic<bool> done{false};
        std::thread watcher([&] {
            while (!done.load()) {
                most = std::max(most.load(), c.running());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        std::vector<std::thread> writers;
        std::atomic<int> written{0};
        for (int i = 0; i < count; ++i)
            writers.emplace_back([&, i] {
                const QString out = dir.filePath(QStringLiteral("out%1.jpg").arg(i));
                written +=
                    OVNJpegWriter::scaleAndSaveAsJPEG(sources.at(i), c.box, c.box, 0.9f, out, c.caption, {}, {}, 0) ? 1
                                                                                                                    : 0;
            });
        for (std::thread &writer : writers)
            writer.join();
        done = true;
        watcher.join();
        EXPECT_EQ(written.load(), count);
        EXPECT_GE(most.load(), 1);
        EXPECT_LE(most.load(), c.limit);
        EXPECT_EQ(c.running(), 0);
    }
}

// Why a file could not be written out, in words the user can act on: its damage, that it is no
// picture, the decoder's limits (time, a decoder that ended on a fault or from outside), a full disk.
TEST(OVNJpegWriterTest, FailuresSayWhy)
{
    QTemporaryDir dir;
    QFile junk(dir.filePath(QStringLiteral("junk.jpg")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(2048, 'x'));
    junk.close();
    QFile notes(dir.filePath(QStringLiteral("notes.xyz")));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("text");
    notes.close();
    const QString good = writePicture(dir, QStringLiteral("good.jpg"), filled(64, 48, Qt::gray));
    QFile::copy(good, dir.filePath(QStringLiteral("ovn-decoder-crashes.jpg")));
    QFile::copy(good, dir.filePath(QStringLiteral("ovn-decoder-hangs.jpg")));
    qputenv("OVN_DECODER_TEST_CRASH", "ovn-decoder-crashes");
    qputenv("OVN_DECODER_TEST_HANG", "ovn-decoder-hangs");
    // Decoders started from here on see the triggers.
    MediaDecoder::endIdleDecoders();
    const struct {
        QString source;
        QString why;
    } cases[] = {
        {junk.fileName(), QStringLiteral("the picture cannot be read")},
        {notes.fileName(), QStringLiteral("files of this type are not written as pictures")},
        {dir.filePath(QStringLiteral("gone.jpg")), QStringLiteral("the picture cannot be read")},
        {dir.filePath(QStringLiteral("ovn-decoder-crashes.jpg")),
         ImageFileReader::refusalText(ImageFileReader::Facts::Refusal::Crashed)},
        {dir.filePath(QStringLiteral("ovn-decoder-hangs.jpg")),
         ImageFileReader::refusalText(ImageFileReader::Facts::Refusal::OutOfTime)},
    };
    for (const auto &c : cases) {
        const QString out = dir.filePath(QStringLiteral("out.jpg"));
        QString why;
        // One second for the decoder that hangs.
        const DecodeInterrupt::Scope interrupt(nullptr, std::chrono::seconds(1));
        EXPECT_FALSE(OVNJpegWriter::scaleAndSaveAsJPEG(c.source, 640, 640, 0.9f, out, OVNJpegWriter::Caption::Off, {},
                                                       {}, 0, &why))
            << qPrintable(c.source);
        EXPECT_EQ(why, c.why) << qPrintable(c.source);
        EXPECT_FALSE(QFile::exists(out));
    }
    qunsetenv("OVN_DECODER_TEST_CRASH");
    qunsetenv("OVN_DECODER_TEST_HANG");
    EXPECT_EQ(OVNJpegWriter::writingProblem(ENOSPC, QStringLiteral("/media/card"), {}),
              QStringLiteral("the disk is full (/media/card)"));
}

// The writer's own encoder makes, byte for byte, what Qt's JPEG writer makes of the same picture
// (the files written before it came), for three-colour and grey pictures of any size, quality and
// resolution; pictures with texts or another format go through Qt's writer itself.
TEST(OVNJpegWriterTest, EncodesAsQtsWriterDoes)
{
    const auto qts = [](const QImage &image, int quality) {
        QByteArray out;
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(quality);
        writer.write(image);
        return out;
    };
    QImage scene(1023, 767, QImage::Format_RGB32);
    for (int y = 0; y < scene.height(); ++y)
        for (int x = 0; x < scene.width(); ++x)
            scene.setPixel(x, y, qRgb((x * 7 + y * 3) % 256, (x * y / 97) % 256, (x ^ (y * 5)) % 256));
    int compared = 0;
    for (const QSize size : {QSize(1023, 767), QSize(320, 213), QSize(17, 5), QSize(1, 1)}) {
        for (const int dotsPerMeter : {3780, 2835, 11811, 4000}) {
            for (const int quality : {0, 1, 50, 90, 100}) {
                for (const QImage::Format format :
                     {QImage::Format_RGB32, QImage::Format_Grayscale8, QImage::Format_ARGB32, QImage::Format_RGB888}) {
                    SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height() << " " << dotsPerMeter
                                                    << " dpm, quality " << quality << ", format " << int(format));
                    QImage image = scene.scaled(size).convertToFormat(format);
                    image.setDotsPerMeterX(dotsPerMeter);
                    image.setDotsPerMeterY(dotsPerMeter);
                    const std::optional<QByteArray> ours = OVNJpegWriter::encodedJpeg(image, quality);
                    ASSERT_TRUE(ours.has_value());
                    EXPECT_EQ(*ours, qts(image, quality));
                    ++compared;
                }
            }
        }
    }
    QImage described = scene.scaled(64, 48);
    described.setText(QStringLiteral("Description"), QStringLiteral("a caption"));
    EXPECT_EQ(OVNJpegWriter::encodedJpeg(described, 80).value_or(QByteArray()), qts(described, 80));
    // Pictures with a colour profile, written here where it is of RGB data.
    for (const QColorSpace::NamedColorSpace space :
         {QColorSpace::SRgb, QColorSpace::AdobeRgb, QColorSpace::DisplayP3, QColorSpace::ProPhotoRgb}) {
        for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_Grayscale8}) {
            SCOPED_TRACE(testing::Message() << "colour space " << int(space) << ", format " << int(format));
            QImage profiled = scene.scaled(320, 213).convertToFormat(format);
            profiled.setColorSpace(space);
            EXPECT_EQ(OVNJpegWriter::encodedJpeg(profiled, 90).value_or(QByteArray()), qts(profiled, 90));
        }
    }
    EXPECT_EQ(compared, 4 * 4 * 5 * 4);
}

namespace {

using scenefiles::Scene;

// The scene as a picture of `format`; translucent (alpha 0) in its left quarter when asked.
QImage scenePicture(QSize size, bool grey, bool translucent = false)
{
    const Scene scene(size);
    QImage image(size, translucent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        scene.pixels(y, grey, row);
        if (translucent)
            for (int x = 0; x < size.width() / 4; ++x)
                row[x] &= 0x00ffffffu;
    }
    return grey ? image.convertToFormat(QImage::Format_Grayscale8) : image;
}

// A TIFF of the scene in strips or 32-pixel tiles, of 8 or 16 bits a sample.
void writeSceneTiff(const QString &path, QSize size, int bits, bool tiled, const QByteArray &icc = {})
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tiff, nullptr);
    if (!icc.isEmpty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, quint32(icc.size()), icc.constData());
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(size.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(size.height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    const Scene scene(size);
    const int bytes = bits / 8;
    auto row = [&](int y) {
        std::vector<uchar> levels[3];
        for (int c = 0; c < 3; ++c) {
            levels[c].resize(size_t(size.width()));
            scene.levels(Scene::Channel(c), y, levels[c].data());
        }
        std::vector<uchar> out(size_t(size.width()) * 3 * size_t(bytes));
        for (int x = 0; x < size.width(); ++x)
            for (int c = 0; c < 3; ++c) {
                const int at = (x * 3 + c) * bytes;
                if (bytes == 1) {
                    out[size_t(at)] = levels[c][size_t(x)];
                } else {
                    const quint16 value = quint16(levels[c][size_t(x)] * 257);
                    std::memcpy(out.data() + at, &value, 2);
                }
            }
        return out;
    };
    if (!tiled) {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
        for (int y = 0; y < size.height(); ++y) {
            std::vector<uchar> line = row(y);
            ASSERT_GE(TIFFWriteScanline(tiff, line.data(), quint32(y), 0), 0);
        }
    } else {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 32);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 32);
        const size_t tileRow = size_t(32) * 3 * size_t(bytes);
        for (int ty = 0; ty < size.height(); ty += 32)
            for (int tx = 0; tx < size.width(); tx += 32) {
                std::vector<uchar> tile(tileRow * 32, 0);
                for (int y = ty; y < std::min(ty + 32, size.height()); ++y)
                    std::memcpy(tile.data() + size_t(y - ty) * tileRow, row(y).data() + size_t(tx) * 3 * size_t(bytes),
                                tileRow);
                ASSERT_GE(TIFFWriteTile(tiff, tile.data(), quint32(tx), quint32(ty), 0, 0), 0);
            }
    }
    TIFFClose(tiff);
}

// A Targa file of the scene, uncompressed or in packets of pixels as they are, of 24 bits or 32
// with 8 bits of alpha left zero (as writers that keep no transparency leave them), its rows top
// or bottom first.
QByteArray sceneTga(QSize size, int bits = 24, bool topFirst = true, bool runLength = false)
{
    QByteArray file(18, '\0');
    file[2] = char(runLength ? 10 : 2);
    file[12] = char(size.width() & 0xff);
    file[13] = char(size.width() >> 8);
    file[14] = char(size.height() & 0xff);
    file[15] = char(size.height() >> 8);
    file[16] = char(bits);
    file[17] = char((topFirst ? 0x20 : 0) | (bits == 32 ? 8 : 0));
    const QImage image = scenePicture(size, false);
    for (int row = 0; row < size.height(); ++row)
        for (int x = 0; x < size.width(); ++x) {
            // Run-length encoded: packets of up to 128 pixels as they are.
            if (runLength && x % 128 == 0)
                file += char(std::min(128, size.width() - x) - 1);
            const QRgb p = image.pixel(x, topFirst ? row : size.height() - 1 - row);
            file += char(qBlue(p));
            file += char(qGreen(p));
            file += char(qRed(p));
            if (bits == 32)
                file += '\0';
        }
    return file;
}

// A bitmap of the scene, uncompressed, of 24 or 32 bits, its rows bottom first and padded to
// whole 32-bit words as the format has them.
QByteArray sceneBmp(QSize size, int bits)
{
    const qint64 rowBytes = (qint64(size.width()) * bits + 31) / 32 * 4;
    QByteArray file(54, '\0');
    auto le = [&](int at, quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            file[at + i] = char((v >> (8 * i)) & 0xff);
    };
    file[0] = 'B', file[1] = 'M';
    le(2, quint32(54 + rowBytes * size.height()), 4);
    le(10, 54, 4);
    le(14, 40, 4);
    le(18, quint32(size.width()), 4);
    le(22, quint32(size.height()), 4);
    le(26, 1, 2);
    le(28, quint32(bits), 2);
    const QImage image = scenePicture(size, false);
    for (int y = size.height() - 1; y >= 0; --y) {
        QByteArray row(rowBytes, '\0');
        for (int x = 0; x < size.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const int at = x * bits / 8;
            row[at] = char(qBlue(p)), row[at + 1] = char(qGreen(p)), row[at + 2] = char(qRed(p));
        }
        file += row;
    }
    return file;
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile out(path);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes);
    return path;
}

void writeSceneTga(const QString &path, QSize size) { writeFile(path, sceneTga(size)); }

// A Photoshop file of the scene: RGB, 8 bits, its planes uncompressed.
void writeScenePsd(const QString &path, QSize size)
{
    QByteArray file("8BPS\0\x01\0\0\0\0\0\0\0\x03", 14);
    auto be32 = [&](quint32 v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            file += char((v >> shift) & 0xff);
    };
    be32(quint32(size.height()));
    be32(quint32(size.width()));
    file += QByteArray("\0\x08\0\x03", 4);
    be32(0); // colour mode data
    be32(0); // image resources
    be32(0); // layers and masks
    file += QByteArray("\0\0", 2);
    const Scene scene(size);
    std::vector<uchar> levels(size_t(size.width()));
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < size.height(); ++y) {
            scene.levels(Scene::Channel(c), y, levels.data());
            file.append(reinterpret_cast<const char *>(levels.data()), qsizetype(levels.size()));
        }
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(file);
}

} // namespace

// Every reader's ordinary files written at their own size (or a box, or turned) show the scene
// they were made from: the JPEG scanlines, PNG rows (8 and 16 bits, translucent on white), TIFF
// strips and tiles of 8 and 16 bits, the registered readers' rows top and bottom first (bitmaps
// and Targa files of odd widths, read from their end back a band at a time), and a camera RAW
// file as its developer develops it.
TEST(OVNJpegWriterTest, OrdinaryFilesAreWrittenAsTheirScene)
{
    QTemporaryDir dir;
    const QSize size(480, 320);
    const QImage colour = scenePicture(size, false);
    const QImage grey = scenePicture(size, true);
    auto save = [&](const QString &name, const QImage &image, const char *format, bool progressive = false) {
        QImageWriter writer(dir.filePath(name), format);
        writer.setQuality(95);
        writer.setProgressiveScanWrite(progressive);
        EXPECT_TRUE(writer.write(image)) << qPrintable(name);
        return dir.filePath(name);
    };
    QImage onWhite(size, QImage::Format_RGB32);
    onWhite.fill(Qt::white);
    {
        QPainter painter(&onWhite);
        painter.drawImage(0, 0, scenePicture(size, false, true));
    }
    writeSceneTiff(dir.filePath(QStringLiteral("strips8.tif")), size, 8, false);
    writeSceneTiff(dir.filePath(QStringLiteral("strips16.tif")), size, 16, false);
    writeSceneTiff(dir.filePath(QStringLiteral("tiles8.tif")), size, 8, true);
    writeSceneTiff(dir.filePath(QStringLiteral("tiles16.tif")), size, 16, true);
    writeSceneTga(dir.filePath(QStringLiteral("scene.tga")), size);
    writeScenePsd(dir.filePath(QStringLiteral("scene.psd")), size);
    syntheticdng::Options dngScene;
    dngScene.width = size.width();
    dngScene.height = size.height();
    dngScene.scene = [](int x, int y) { return syntheticdng::Rgb{quint16(x * 100), quint16(y * 150), quint16(20000)}; };
    QFile dng(dir.filePath(QStringLiteral("scene.dng")));
    ASSERT_TRUE(dng.open(QIODevice::WriteOnly));
    dng.write(syntheticdng::make(dngScene));
    dng.close();
    const QImage developed = MediaDecoder(MediaDecoder::Use::FullSize).developRaw(dng.fileName(), 0);
    ASSERT_FALSE(developed.isNull());

    const QSize reduced = OVNJpegWriter::fittedSize(size, 240, 240);
    // Odd sides: rows of three-byte pixels padded to whole words.
    const QSize odd(479, 321);
    const QImage oddColour = scenePicture(odd, false);
    const struct {
        const char *road;
        QString source;
        int box;
        int orientation;
        QImage expected;
    } cases[] = {
        {"JPEG", save(QStringLiteral("baseline.jpg"), colour, "jpeg"), 5000, 1, colour},
        {"JPEG, progressive", save(QStringLiteral("progressive.jpg"), colour, "jpeg", true), 5000, 1, colour},
        {"JPEG, grey", save(QStringLiteral("grey.jpg"), grey, "jpeg"), 5000, 1, grey},
        {"JPEG into a box", dir.filePath(QStringLiteral("baseline.jpg")), 240, 1,
         Scene::reference(size, reduced, false)},
        {"JPEG turned", dir.filePath(QStringLiteral("baseline.jpg")), 5000, 6,
         colour.transformed(QTransform().rotate(90))},
        {"PNG, 8 bits", save(QStringLiteral("eight.png"), colour, "png"), 5000, 1, colour},
        {"PNG, 16 bits", save(QStringLiteral("sixteen.png"), colour.convertToFormat(QImage::Format_RGBX64), "png"),
         5000, 1, colour},
        {"PNG, translucent", save(QStringLiteral("translucent.png"), scenePicture(size, false, true), "png"), 5000, 1,
         onWhite},
        {"TIFF strips, 8 bits", dir.filePath(QStringLiteral("strips8.tif")), 5000, 1, colour},
        {"TIFF strips, 16 bits", dir.filePath(QStringLiteral("strips16.tif")), 5000, 1, colour},
        {"TIFF tiles, 8 bits", dir.filePath(QStringLiteral("tiles8.tif")), 5000, 1, colour},
        {"TIFF tiles, 16 bits", dir.filePath(QStringLiteral("tiles16.tif")), 5000, 1, colour},
        {"BMP, bottom first", save(QStringLiteral("scene.bmp"), colour, "bmp"), 5000, 1, colour},
        {"BMP 24 bits, bottom first, rows padded",
         writeFile(dir.filePath(QStringLiteral("odd24.bmp")), sceneBmp(odd, 24)), 5000, 1, oddColour},
        {"BMP 32 bits, bottom first", writeFile(dir.filePath(QStringLiteral("odd32.bmp")), sceneBmp(odd, 32)), 5000, 1,
         oddColour},
        {"BMP bottom first, turned", dir.filePath(QStringLiteral("odd24.bmp")), 5000, 3,
         oddColour.transformed(QTransform().rotate(180))},
        {"TGA", dir.filePath(QStringLiteral("scene.tga")), 5000, 1, colour},
        {"TGA 24 bits, bottom first", writeFile(dir.filePath(QStringLiteral("bottom24.tga")), sceneTga(odd, 24, false)),
         5000, 1, oddColour},
        {"TGA 32 bits, alpha left zero, bottom first",
         writeFile(dir.filePath(QStringLiteral("bottom32.tga")), sceneTga(odd, 32, false)), 5000, 1, oddColour},
        {"TGA run-length 32 bits, alpha left zero, bottom first",
         writeFile(dir.filePath(QStringLiteral("runs32.tga")), sceneTga(odd, 32, false, true)), 5000, 1, oddColour},
        {"TGA 32 bits, alpha left zero, top first",
         writeFile(dir.filePath(QStringLiteral("top32.tga")), sceneTga(odd, 32, true)), 5000, 1, oddColour},
        {"TGA bottom first into a box", dir.filePath(QStringLiteral("bottom24.tga")), 240, 1,
         Scene::reference(odd, OVNJpegWriter::fittedSize(odd, 240, 240), false)},
        {"PSD", dir.filePath(QStringLiteral("scene.psd")), 5000, 1, colour},
        {"PPM", save(QStringLiteral("scene.ppm"), colour, "ppm"), 5000, 1, colour},
        {"camera RAW", dng.fileName(), 5000, 1, developed},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.road);
        const QString out = dir.filePath(QStringLiteral("out.jpg"));
        QFile::remove(out);
        QString why;
        ASSERT_TRUE(OVNJpegWriter::scaleAndSaveAsJPEG(c.source, c.box, c.box, 0.95f, out, OVNJpegWriter::Caption::Off,
                                                      {}, {}, c.orientation, &why))
            << qPrintable(why);
        const QImage image = written(out);
        ASSERT_EQ(image.size(), c.expected.size());
        EXPECT_LT(syntheticpictures::meanDifference(image, c.expected), 2.5);
    }
}

// A file stored bottom first and cut in the middle is written at its own size as its reader reads
// it held whole: the rows stored before the cut (the bottom ones) as they are, the rest grey, and
// the damage said as ever; also where the cut falls inside a row or a pixel.
TEST(OVNJpegWriterTest, CutFilesStoredBottomFirstAreWrittenAsTheirReadersReadThem)
{
    QTemporaryDir dir;
    const QSize size(479, 321);
    const QByteArray bmp24 = sceneBmp(size, 24), bmp32 = sceneBmp(size, 32);
    const QByteArray tga24 = sceneTga(size, 24, false), tga32 = sceneTga(size, 32, false);
    const struct {
        const char *file;
        QByteArray bytes;
        QImage (*read)(const QByteArray &);
    } cases[] = {
        {"cut.bmp", bmp24.left(bmp24.size() / 2), [](const QByteArray &b) { return BMPImageRep::initWithData(b); }},
        {"cut32.bmp", bmp32.left(bmp32.size() / 3), [](const QByteArray &b) { return BMPImageRep::initWithData(b); }},
        {"cut.tga", tga24.left(tga24.size() / 2), [](const QByteArray &b) { return TGAImageRep::initWithData(b); }},
        {"cut-in-a-pixel.tga", tga24.left(18 + 100 * 479 * 3 + 7),
         [](const QByteArray &b) { return TGAImageRep::initWithData(b); }},
        {"cut32.tga", tga32.left(tga32.size() / 2), [](const QByteArray &b) { return TGAImageRep::initWithData(b); }},
    };
    const QImage scene = scenePicture(size, false);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const QImage expected = c.read(c.bytes);
        ASSERT_EQ(expected.size(), size);
        const QString path = writeFile(dir.filePath(QLatin1String(c.file)), c.bytes);
        const DecodeReport::Scope report;
        ImageFileReader::Facts facts;
        const std::optional<QByteArray> jpeg =
            MediaDecoder(MediaDecoder::Use::FullSize).writeJpeg(path, QSize(5000, 5000), 1, 95, &facts);
        ASSERT_TRUE(jpeg.has_value()) << qPrintable(ImageFileReader::refusalText(facts.refusal));
        EXPECT_EQ(report.damage(), QStringLiteral("the data ends early"));
        const QImage image = QImage::fromData(*jpeg, "JPEG");
        ASSERT_EQ(image.size(), size);
        EXPECT_LT(syntheticpictures::meanDifference(image, expected), 2.5);
        // The top row grey, the bottom one the scene's.
        EXPECT_NEAR(qGray(image.pixel(240, 0)), 128, 3);
        EXPECT_LT(syntheticpictures::meanDifference(image.copy(0, size.height() - 1, size.width(), 1),
                                                    scene.copy(0, size.height() - 1, size.width(), 1)),
                  3.0);
    }
}

namespace {

// Rows handed on, kept as a picture; the most of the decoding budget in use while they came.
class RowsKept : public RowSink
{
public:
    bool begin(QSize size, Pixels pixels) override
    {
        image = QImage(size, pixels == Pixels::Grey8                 ? QImage::Format_Grayscale8
                             : pixels == Pixels::PremultipliedArgb32 ? QImage::Format_ARGB32_Premultiplied
                                                                     : QImage::Format_RGB32);
        return true;
    }
    bool addRows(const uchar *first, qsizetype bytesPerLine, int count) override
    {
        mostReserved = std::max(mostReserved, DecodeMemoryBudget::shared().inUse());
        for (int i = 0; i < count && rows < image.height(); ++i, ++rows)
            std::memcpy(image.scanLine(rows), first + qsizetype(i) * bytesPerLine,
                        size_t(image.width()) * (image.depth() / 8));
        return true;
    }
    QImage image;
    int rows = 0;
    qint64 mostReserved = 0;
};

// This process's resident memory now, and at its peak since the last reset, in bytes.
qint64 residentBytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').first().toLongLong() * 1024;
    return 0;
}

void resetPeakResidentBytes()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

// A turned picture is written from its rows gathered turned a band at a time: every EXIF turn of
// every kind of rows is the picture turned as the viewers turn it, on sides that are no whole
// number of bands.
TEST(OVNJpegWriterTest, TurnedRowsAreThePictureTurned)
{
    const QImage colour = scenePicture(QSize(37, 53), false);
    QImage translucent = scenePicture(QSize(37, 53), false, true).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (const QImage &picture : {colour, translucent, scenePicture(QSize(37, 53), true)}) {
        for (int code = 1; code <= 8; ++code) {
            SCOPED_TRACE(testing::Message() << "format " << int(picture.format()) << ", turn " << code);
            RowsKept rows;
            ASSERT_TRUE(JpegEncoder::sendTurnedRows(picture, code, rows));
            const QImage expected = OVNOrientation::turned(picture, code);
            EXPECT_EQ(rows.rows, expected.height());
            EXPECT_EQ(rows.image, expected);
        }
    }
}

// Pictures stored bottom first are written at their own size by a thumbnail decoder, whose memory
// limit is far below the whole picture: the rows go from the end of the file back a band at a
// time into the encoder, top first. Read here, what the read holds and takes from the budget
// stays a small part of the picture.
TEST(OVNJpegWriterTest, PicturesStoredBottomFirstAreWrittenABandAtATime)
{
    PictureReaders::registerAll();
    QTemporaryDir dir;
    const QSize size(9000, 6000);
    ASSERT_GT(qint64(size.width()) * size.height() * 4, MediaDecoder::memoryLimit(MediaDecoder::Use::Thumbnail));
    const scenefiles::Scene scene(size);
    const QString bmp = dir.filePath(QStringLiteral("large.bmp")), tga = dir.filePath(QStringLiteral("large.tga"));
    {
        scenefiles::Writer bmpFile(bmp), tgaFile(tga);
        const qint64 rowBytes = (qint64(size.width()) * 3 + 3) / 4 * 4;
        QByteArray head = sceneBmp(QSize(1, 1), 24).left(54);
        for (int i = 0; i < 4; ++i) {
            head[18 + i] = char((size.width() >> (8 * i)) & 0xff);
            head[22 + i] = char((size.height() >> (8 * i)) & 0xff);
        }
        bmpFile.write(head);
        QByteArray tgaHead = sceneTga(QSize(1, 1), 24, false).left(18);
        tgaHead[12] = char(size.width() & 0xff), tgaHead[13] = char(size.width() >> 8);
        tgaHead[14] = char(size.height() & 0xff), tgaHead[15] = char(size.height() >> 8);
        tgaFile.write(tgaHead);
        std::vector<QRgb> pixels(size_t(size.width()));
        std::vector<uchar> row(size_t(rowBytes), 0);
        for (int y = size.height() - 1; y >= 0; --y) {
            scene.pixels(y, false, pixels.data());
            for (int x = 0; x < size.width(); ++x) {
                row[size_t(3 * x)] = uchar(qBlue(pixels[size_t(x)]));
                row[size_t(3 * x + 1)] = uchar(qGreen(pixels[size_t(x)]));
                row[size_t(3 * x + 2)] = uchar(qRed(pixels[size_t(x)]));
            }
            bmpFile.write(row);
            tgaFile.write(std::vector<uchar>(row.begin(), row.begin() + qsizetype(size.width()) * 3));
        }
    }
    const qint64 whole = qint64(size.width()) * size.height() * 4;
    for (const QString &path : {bmp, tga}) {
        SCOPED_TRACE(path.toStdString());
        {
            // The rows counted, not kept.
            struct Counted : RowSink {
                int rows = 0, lastGreen = -1;
                bool inOrder = true;
                qint64 mostReserved = 0;
                bool begin(QSize, Pixels) override { return true; }
                bool addRows(const uchar *first, qsizetype, int count) override
                {
                    mostReserved = std::max(mostReserved, DecodeMemoryBudget::shared().inUse());
                    // Green grows downwards: the rows come top first.
                    const int green = qGreen(reinterpret_cast<const QRgb *>(first)[0]);
                    inOrder = inOrder && green >= lastGreen;
                    lastGreen = green;
                    rows += count;
                    return true;
                }
            } counted;
            const qint64 before = residentBytes("VmRSS:");
            resetPeakResidentBytes();
            EXPECT_TRUE(ImageFileReader::stream(path, counted));
            EXPECT_EQ(counted.rows, size.height());
            EXPECT_TRUE(counted.inOrder);
            EXPECT_LT(counted.mostReserved, whole / 8);
            EXPECT_LT(residentBytes("VmHWM:") - before, whole / 8);
        }
        const DecodeReport::Scope report;
        ImageFileReader::Facts facts;
        const std::optional<QByteArray> jpeg =
            MediaDecoder(MediaDecoder::Use::Thumbnail).writeJpeg(path, QSize(10000, 10000), 1, 80, &facts);
        QFile::remove(path);
        ASSERT_TRUE(jpeg.has_value()) << qPrintable(ImageFileReader::refusalText(facts.refusal));
        EXPECT_TRUE(report.damage().isEmpty());
        QBuffer buffer;
        buffer.setData(*jpeg);
        QImageReader reader(&buffer, "jpeg");
        EXPECT_EQ(reader.size(), size);
        // Read back at an eighth, as libjpeg scales.
        reader.setScaledSize(size / 8);
        const QImage image = reader.read();
        ASSERT_EQ(image.size(), size / 8);
        EXPECT_LT(syntheticpictures::meanDifference(image, scenefiles::Scene::reference(size, size / 8, false)), 3.0);
    }
}

namespace {

// The colour profile a JPEG file carries, its APP2 pieces put together; empty without one.
QByteArray jpegProfile(const QByteArray &jpeg)
{
    QByteArray profile;
    const auto *d = reinterpret_cast<const uchar *>(jpeg.constData());
    for (qsizetype at = 2; at + 4 <= jpeg.size() && d[at] == 0xff && d[at + 1] != 0xda;) {
        const int length = (d[at + 2] << 8) | d[at + 3];
        if (d[at + 1] == 0xe2 && length > 16 && jpeg.mid(at + 4, 12) == QByteArray("ICC_PROFILE\0", 12))
            profile += jpeg.mid(at + 18, length - 16);
        at += 2 + length;
    }
    return profile;
}

// A CMYK TIFF of one ink colour, of 8 or 16 bits a sample.
void writeCmykTiff(const QString &path, QSize size, int bits, const QByteArray &icc)
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_ICCPROFILE, quint32(icc.size()), icc.constData());
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(size.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(size.height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<quint16> row(size_t(size.width()) * 4);
    for (size_t i = 0; i < row.size(); i += 4)
        row[i] = 200, row[i + 1] = 40, row[i + 2] = 0, row[i + 3] = 10;
    if (bits == 8) {
        auto *bytes = reinterpret_cast<uchar *>(row.data());
        for (size_t i = 0; i < row.size(); ++i)
            bytes[i] = uchar(row[i]);
    } else {
        for (quint16 &sample : row)
            sample = quint16(sample * 257);
    }
    for (int y = 0; y < size.height(); ++y)
        ASSERT_GE(TIFFWriteScanline(tiff, row.data(), quint32(y), 0), 0);
    TIFFClose(tiff);
}

} // namespace

// A picture's colour profile is written with it on every road (streamed upright at its own size,
// turned and so read whole, or read reduced): a TIFF's profile, a PNG's iCCP profile and a JPEG's
// byte for byte, a PNG's sRGB chunk as Qt's writer writes it; a profile of inks is none for the
// RGB rows made from them.
TEST(OVNJpegWriterTest, ColourProfilesAreWrittenOnEveryRoad)
{
    QTemporaryDir dir;
    const QSize size(160, 96);
    const QByteArray adobe = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    ASSERT_FALSE(adobe.isEmpty());
    // A profile of printing inks: its header says so.
    QByteArray inks(256, '\0');
    inks[3] = char(inks.size());
    inks.replace(12, 4, "prtr");
    inks.replace(16, 4, "CMYK");
    inks.replace(20, 4, "Lab ");
    inks.replace(36, 4, "acsp");
    writeSceneTiff(dir.filePath(QStringLiteral("profiled8.tif")), size, 8, false, adobe);
    writeSceneTiff(dir.filePath(QStringLiteral("profiled16.tif")), size, 16, true, adobe);
    writeCmykTiff(dir.filePath(QStringLiteral("inks8.tif")), size, 8, inks);
    writeCmykTiff(dir.filePath(QStringLiteral("inks16.tif")), size, 16, inks);
    QImage picture = scenePicture(size, false);
    picture.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    ASSERT_TRUE(picture.save(dir.filePath(QStringLiteral("profiled.png"))));
    ASSERT_TRUE(picture.save(dir.filePath(QStringLiteral("profiled.jpg")), nullptr, 95));
    picture.setColorSpace(QColorSpace(QColorSpace::SRgb));
    ASSERT_TRUE(picture.save(dir.filePath(QStringLiteral("srgb.png"))));
    const struct {
        const char *file;
        std::optional<QByteArray> profile; // nullopt: as the picture read whole has it, whatever it is
    } cases[] = {
        {"profiled8.tif", adobe},    {"profiled16.tif", adobe},    {"profiled.png", adobe},    {"profiled.jpg", adobe},
        {"inks8.tif", QByteArray()}, {"inks16.tif", QByteArray()}, {"srgb.png", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        // Streamed at its own size, read whole and turned, read reduced.
        const struct {
            int box, orientation;
            QSize size;
        } roads[] = {{5000, 1, size}, {5000, 3, size}, {80, 1, QSize(80, 48)}};
        QByteArray written[3];
        for (int road = 0; road < 3; ++road) {
            const std::optional<QByteArray> jpeg = MediaDecoder(MediaDecoder::Use::FullSize)
                                                       .writeJpeg(dir.filePath(QLatin1String(c.file)),
                                                                  QSize(roads[road].box, roads[road].box),
                                                                  roads[road].orientation, 90);
            ASSERT_TRUE(jpeg.has_value());
            EXPECT_EQ(QImage::fromData(*jpeg).size(), roads[road].size);
            written[road] = jpegProfile(*jpeg);
        }
        EXPECT_EQ(written[0], written[1]) << "streamed and read whole";
        EXPECT_EQ(written[0], written[2]) << "streamed and read reduced";
        if (c.profile) {
            EXPECT_EQ(written[0], *c.profile);
        }
    }
}

namespace {

// A PNG chunk of `type` and `data`, with its checksum.
QByteArray pngChunk(const char *type, const QByteArray &data)
{
    QByteArray chunk;
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk += char((data.size() >> shift) & 0xff);
    const QByteArray body = QByteArray(type, 4) + data;
    quint32 crc = 0xffffffffu;
    for (const char byte : body) {
        crc ^= uchar(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    crc ^= 0xffffffffu;
    chunk += body;
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk += char((crc >> shift) & 0xff);
    return chunk;
}

} // namespace

// Pictures that must be held whole at their own size (an interlaced PNG, whose passes fill the
// whole picture; a run-length encoded bitmap stored bottom first) are refused by their size
// before anything of them is read where they would need more than the larger decoder may use:
// "needs more memory", never a fault of the file.
TEST(OVNJpegWriterTest, PicturesHeldWholeAreRefusedByTheirSizeBeforeTheyAreRead)
{
    QTemporaryDir dir;
    const QSize size(13000, 13000);
    ASSERT_GT(qint64(size.width()) * size.height() * 4, MediaDecoder::memoryLimit(MediaDecoder::Use::FullSize));
    QByteArray header(13, '\0');
    for (int i = 0; i < 4; ++i) {
        header[3 - i] = char((size.width() >> (8 * i)) & 0xff);
        header[7 - i] = char((size.height() >> (8 * i)) & 0xff);
    }
    header[8] = 8, header[9] = 2, header[12] = 1; // 8-bit RGB, interlaced
    const QString png =
        writeFile(dir.filePath(QStringLiteral("interlaced.png")),
                  QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header)
                      + pngChunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + pngChunk("IEND", {}));
    QByteArray rle = sceneBmp(QSize(1, 1), 8).left(54);
    for (int i = 0; i < 4; ++i) {
        rle[18 + i] = char((size.width() >> (8 * i)) & 0xff);
        rle[22 + i] = char((size.height() >> (8 * i)) & 0xff);
    }
    rle[30] = 1; // RLE8
    rle[10] = char(54 + 1024), rle[11] = char((54 + 1024) >> 8);
    rle += QByteArray(1024, '\x40') + QByteArray("\x10\x01\x00\x01", 4);
    const QString bmp = writeFile(dir.filePath(QStringLiteral("runs.bmp")), rle);
    for (const QString &path : {png, bmp}) {
        SCOPED_TRACE(path.toStdString());
        const DecodeReport::Scope report;
        ImageFileReader::Facts facts;
        EXPECT_FALSE(
            MediaDecoder(MediaDecoder::Use::FullSize).writeJpeg(path, QSize(20000, 20000), 1, 90, &facts).has_value());
        EXPECT_EQ(facts.refusal, ImageFileReader::Facts::Refusal::TooLarge);
        EXPECT_TRUE(report.damage().isEmpty());
        QString why;
        EXPECT_FALSE(OVNJpegWriter::scaleAndSaveAsJPEG(path, 20000, 20000, 0.9f, dir.filePath(QStringLiteral("o.jpg")),
                                                       OVNJpegWriter::Caption::Off, {}, {}, 1, &why));
        EXPECT_EQ(why, QStringLiteral("the picture needs more memory than decoding may use"));
    }
}

// Large camera JPEGs go out turned as their orientation says, never unturned: a 120-megapixel one
// turned a quarter at its own size is read whole in the larger decoder and written turned; one
// whose whole picture is more than that decoder may hold (180 megapixels) is read again for each
// strip of its columns it holds, and written turned as well. A flat frame of a few hundred
// kilobytes goes out at 1600 pixels like any.
TEST(OVNJpegWriterTest, LargeJpegsAreWrittenTurnedOrNotAtAll)
{
    QTemporaryDir dir;
    const auto make = [&](const char *name, QSize size, int orientation) {
        const QString path = dir.filePath(QLatin1String(name));
        largejpegs::Options options;
        options.orientation = orientation;
        EXPECT_TRUE(largejpegs::write(path, size, options));
        return path;
    };
    const QString flat = make("flat-24mp.jpg", QSize(6000, 4000), 0);
    EXPECT_LT(QFileInfo(flat).size(), 1 << 20);
    const struct {
        const char *name;
        QString source;
        int box;
        int orientation;
        QSize written; // invalid: not written
        QString why;
    } cases[] = {
        {"flat 24 MP at 1600 px", flat, 1600, 1, QSize(1600, 1066), {}},
        {"120 MP turned at its own size",
         make("turned-120mp.jpg", QSize(13400, 8960), 6),
         20000,
         6,
         QSize(8960, 13400),
         {}},
        {"180 MP turned at its own size, in strips",
         make("turned-180mp.jpg", QSize(16400, 11000), 6),
         20000,
         6,
         QSize(11000, 16400),
         {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString out = dir.filePath(QStringLiteral("out.jpg"));
        QFile::remove(out);
        QString why;
        const bool written = OVNJpegWriter::scaleAndSaveAsJPEG(
            c.source, c.box, c.box, 0.9f, out, OVNJpegWriter::Caption::Off, {}, {}, c.orientation, &why);
        EXPECT_EQ(written, c.written.isValid()) << qPrintable(why);
        EXPECT_EQ(why, c.why);
        if (!c.written.isValid()) {
            EXPECT_FALSE(QFile::exists(out));
            continue;
        }
        // Read reduced: the red quarter stored at the top left shows at the top right once turned
        // a quarter clockwise.
        QImageReader reader(out);
        ASSERT_EQ(reader.size(), c.written);
        reader.setScaledSize(c.written / 8);
        const QImage image = reader.read();
        ASSERT_FALSE(image.isNull());
        const QPoint red = c.orientation == 6 ? QPoint(image.width() * 7 / 8, image.height() / 8)
                                              : QPoint(image.width() / 8, image.height() / 8);
        const QPoint blue = c.orientation == 6 ? QPoint(image.width() / 8, image.height() * 7 / 8)
                                               : QPoint(image.width() * 7 / 8, image.height() * 7 / 8);
        EXPECT_GT(qRed(image.pixel(red)), 200);
        EXPECT_GT(qBlue(image.pixel(blue)), 160);
        EXPECT_LT(qRed(image.pixel(blue)), 80);
    }
}

// A JPEG written at its own size keeps its density, as a picture read whole kept it.
TEST(OVNJpegWriterTest, AFullSizeJpegKeepsItsDensity)
{
    QTemporaryDir dir;
    const QString source = writePicture(dir, QStringLiteral("dense.jpg"), scenePicture(QSize(320, 200), false), 300);
    const QString out = dir.filePath(QStringLiteral("out.jpg"));
    ASSERT_TRUE(
        OVNJpegWriter::scaleAndSaveAsJPEG(source, 5000, 5000, 0.9f, out, OVNJpegWriter::Caption::Off, {}, {}, 1));
    const QImage image = written(out);
    EXPECT_EQ(image.size(), QSize(320, 200));
    EXPECT_NEAR(image.dotsPerMeterX() * 0.0254, 300, 1);
    EXPECT_NEAR(image.dotsPerMeterY() * 0.0254, 300, 1);
}

// Several pictures at their own size go at once, each held by its decoder a band at a time: every
// one is written, no more at once than the outputs' turns, and none is left holding the larger
// decoder or a share of the budget.
TEST(OVNJpegWriterTest, SeveralFullSizePicturesGoAtOnceWithinTheBudget)
{
    QTemporaryDir dir;
    const QSize size(2400, 1600);
    const QString source = writePicture(dir, QStringLiteral("scene.jpg"), scenePicture(size, false));
    const int count = OVNJpegWriter::picturesAtOnce() + 3;
    std::atomic<int> most{0}, writtenCount{0};
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done.load()) {
            most = std::max(most.load(), OVNJpegWriter::picturesRunning());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<std::thread> writers;
    for (int i = 0; i < count; ++i)
        writers.emplace_back([&, i] {
            const QString out = dir.filePath(QStringLiteral("out%1.jpg").arg(i));
            if (OVNJpegWriter::scaleAndSaveAsJPEG(source, 10000, 10000, 0.9f, out, OVNJpegWriter::Caption::Off, {}, {},
                                                  1)
                && written(out).size() == size)
                ++writtenCount;
        });
    for (std::thread &writer : writers)
        writer.join();
    done = true;
    watcher.join();
    EXPECT_EQ(writtenCount.load(), count);
    EXPECT_GE(most.load(), 2);
    EXPECT_LE(most.load(), OVNJpegWriter::picturesAtOnce());
    EXPECT_EQ(DecodeMemoryBudget::shared().inUse(), 0);
}

// Transparent pictures of every format that holds transparency are written on white, as their
// thumbnails show them, at a small box and at their own size: a picture whose top left quarter
// is transparent and whose right half is blue.
TEST(OVNJpegWriterTest, TransparencyIsWrittenOnWhite)
{
    QTemporaryDir dir;
    QImage picture(64, 48, QImage::Format_ARGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            picture.setPixel(x, y, x < 32 && y < 24 ? qRgba(0, 0, 0, 0) : x >= 32 ? qRgb(0, 0, 255) : qRgb(0, 160, 0));
    std::vector<QString> sources;
    for (const char *format : {"png", "tiff"}) {
        const QString path = dir.filePath(QStringLiteral("picture.%1").arg(QLatin1String(format)));
        ASSERT_TRUE(picture.save(path, format));
        sources.push_back(path);
    }
    for (const bool topFirst : {true, false}) {
        // TGA: 32 bits with 8 of alpha, top or bottom first.
        QByteArray tga(18, '\0');
        tga[2] = 2, tga[12] = 64, tga[14] = 48, tga[16] = 32, tga[17] = topFirst ? 0x28 : 0x08;
        for (int row = 0; row < 48; ++row)
            for (int x = 0; x < 64; ++x) {
                const QRgb c = picture.pixel(x, topFirst ? row : 47 - row);
                tga.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append(char(qAlpha(c)));
            }
        QFile file(dir.filePath(topFirst ? QStringLiteral("picture.tga") : QStringLiteral("bottom.tga")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(tga);
        sources.push_back(file.fileName());
    }
    {
        // BMP: 32 bits with an alpha mask (a version 4 header), bottom first.
        QByteArray bmp(14 + 108, '\0');
        auto le = [&](int at, quint32 v) {
            for (int i = 0; i < 4; ++i)
                bmp[at + i] = char((v >> (8 * i)) & 0xff);
        };
        bmp[0] = 'B', bmp[1] = 'M';
        le(2, 14 + 108 + 64 * 48 * 4);
        le(10, 14 + 108);
        le(14, 108);
        le(18, 64);
        le(22, 48);
        bmp[26] = 1, bmp[28] = 32, bmp[30] = 3;
        le(54, 0x00ff0000u), le(58, 0x0000ff00u), le(62, 0x000000ffu), le(66, 0xff000000u);
        for (int y = 47; y >= 0; --y)
            for (int x = 0; x < 64; ++x) {
                const QRgb c = picture.pixel(x, y);
                bmp.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append(char(qAlpha(c)));
            }
        QFile file(dir.filePath(QStringLiteral("picture.bmp")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bmp);
        sources.push_back(file.fileName());
    }
    // GIF and Photoshop files as ImageMagick writes them, where it is installed.
    for (const char *format : {"gif", "psd"}) {
        const QString path = dir.filePath(QStringLiteral("picture.%1").arg(QLatin1String(format)));
        const QString command = QStringLiteral("convert '%1' '%2' 2>/dev/null").arg(sources.front(), path);
        if (std::system(command.toLocal8Bit().constData()) == 0)
            sources.push_back(path);
    }
    for (const QString &source : sources) {
        for (const int box : {32, 1000}) {
            SCOPED_TRACE(QStringLiteral("%1 at %2").arg(source).arg(box).toStdString());
            const QString out = dir.filePath(QStringLiteral("out.jpg"));
            QString why;
            ASSERT_TRUE(OVNJpegWriter::scaleAndSaveAsJPEG(source, box, box, 0.9f, out, OVNJpegWriter::Caption::Off, {},
                                                          {}, 0, &why))
                << why.toStdString();
            const QImage image = written(out);
            ASSERT_FALSE(image.isNull());
            const double s = image.width() / 64.0;
            const QRgb corner = image.pixel(int(4 * s), int(4 * s));
            EXPECT_GT(qRed(corner), 235);
            EXPECT_GT(qGreen(corner), 235);
            EXPECT_GT(qBlue(corner), 235) << "the transparent corner on white";
            const QRgb right = image.pixel(int(50 * s), int(30 * s));
            EXPECT_GT(qBlue(right), 200);
            EXPECT_LT(qRed(right), 60) << "the opaque half as it is";
        }
    }
}

// A document's page is written at the size asked, larger than its size in points as well as
// smaller: an A4 page (595 × 842 points), red above and blue below.
TEST(OVNJpegWriterTest, DocumentPagesAreWrittenAtTheSizeAsked)
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
    {
        QPdfWriter writer(pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        const QRect page(QPoint(0, 0), QSize(writer.width(), writer.height()));
        painter.fillRect(page, Qt::blue);
        painter.fillRect(QRect(0, 0, page.width(), page.height() / 2), Qt::red);
    }
    for (const int box : {256, 842, 1600, 3000}) {
        SCOPED_TRACE(box);
        const QString out = dir.filePath(QStringLiteral("out.jpg"));
        QString why;
        ASSERT_TRUE(
            OVNJpegWriter::scaleAndSaveAsJPEG(pdf, box, box, 0.9f, out, OVNJpegWriter::Caption::Off, {}, {}, 0, &why))
            << why.toStdString();
        const QImage image = written(out);
        EXPECT_EQ(image.height(), box);
        EXPECT_NEAR(image.width(), box * 595.0 / 842.0, 1.5);
        EXPECT_TRUE(isRed(image.pixel(image.width() / 2, image.height() / 4)));
        EXPECT_GT(qBlue(image.pixel(image.width() / 2, image.height() * 3 / 4)), 180);
    }
}
