#include "formats/OVNRAWImporter.h"
#include "decoding/RawDecoder.h"
#include "tests/support/TestEnvironment.h"
#include "tests/formats/SyntheticDng.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <thread>

namespace {

// Top half red, bottom left blue, bottom right grey.
syntheticdng::Rgb scene(int x, int y, int width, int height)
{
    if (y < height / 2)
        return {50000, 3000, 3000};
    if (x < width / 2)
        return {3000, 3000, 50000};
    return {20000, 20000, 20000};
}

QByteArray sceneDng(int orientation = 1, int width = 64, int height = 48)
{
    syntheticdng::Options o;
    o.width = width;
    o.height = height;
    o.orientation = orientation;
    o.scene = [width, height](int x, int y) { return scene(x, y, width, height); };
    return syntheticdng::make(o);
}

bool isReddish(QRgb c) { return qRed(c) > qGreen(c) + 60 && qRed(c) > qBlue(c) + 60; }
bool isBluish(QRgb c) { return qBlue(c) > qRed(c) + 60 && qBlue(c) > qGreen(c) + 60; }
bool isGreyish(QRgb c)
{
    return std::abs(qRed(c) - qGreen(c)) < 25 && std::abs(qBlue(c) - qGreen(c)) < 25 && qGreen(c) > 40;
}

} // namespace

TEST(OVNRAWImporterTest, DecodesASyntheticDngAtFullSize)
{
    const QByteArray dng = sceneDng(6);
    OVNRAWImporter importer;
    importer.setData(dng);
    ASSERT_EQ(importer.status(), OVNRAWImporter::Identified);
    importer.processImageBufferWithShrinkFactor(0);
    const QImage image = importer.image();
    ASSERT_FALSE(image.isNull());
    // The picture stays as the sensor saw it; the turn is in the metadata.
    EXPECT_EQ(image.size(), QSize(64, 48));
    EXPECT_TRUE(isReddish(image.pixel(32, 10))) << std::hex << image.pixel(32, 10);
    EXPECT_TRUE(isBluish(image.pixel(10, 40))) << std::hex << image.pixel(10, 40);
    EXPECT_TRUE(isGreyish(image.pixel(50, 40))) << std::hex << image.pixel(50, 40);

    const QVariantMap meta = importer.metadata();
    EXPECT_EQ(meta.value("CameraMake").toString(), QStringLiteral("Ostrevan"));
    EXPECT_EQ(meta.value("CameraModel").toString(), QStringLiteral("Test Sensor"));
    EXPECT_EQ(meta.value("DateTime").toString(), QStringLiteral("n/a"));
    EXPECT_EQ(meta.value("RAWImportWidth").toInt(), 64);
    EXPECT_EQ(meta.value("RAWImportHeight").toInt(), 48);
    EXPECT_EQ(meta.value("Orientation").toInt(), 6);
    importer.cleanup();
    EXPECT_TRUE(importer.image().isNull());
}

TEST(OVNRAWImporterTest, ShrinkFactorHalvesEachSidePerStep)
{
    const QByteArray dng = sceneDng();
    OVNRAWImporter importer;
    importer.setData(dng);
    importer.processImageBufferWithShrinkFactor(1);
    const QImage half = importer.image();
    ASSERT_FALSE(half.isNull());
    EXPECT_EQ(half.size(), QSize(32, 24));
    EXPECT_TRUE(isReddish(half.pixel(16, 5)));
    importer.processImageBufferWithShrinkFactor(2);
    const QImage quarter = importer.image();
    ASSERT_FALSE(quarter.isNull());
    EXPECT_EQ(quarter.size(), QSize(16, 12));
    EXPECT_TRUE(isBluish(quarter.pixel(3, 10)));
    EXPECT_TRUE(isGreyish(quarter.pixel(13, 10)));
    // No turn in the file: no "Orientation".
    EXPECT_FALSE(importer.metadata().contains("Orientation"));
}

TEST(OVNRAWImporterTest, OrientationCodesComeInTheExifNumbering)
{
    for (int exif : {3, 6, 8}) {
        OVNRAWImporter importer;
        importer.setData(sceneDng(exif));
        EXPECT_EQ(importer.metadata().value("Orientation").toInt(), exif);
    }
    EXPECT_EQ(OVNRAWImporter::exifOrientationForFlip(0), 0);
    EXPECT_EQ(OVNRAWImporter::exifOrientationForFlip(3), 3);
    EXPECT_EQ(OVNRAWImporter::exifOrientationForFlip(5), 8);
    EXPECT_EQ(OVNRAWImporter::exifOrientationForFlip(6), 6);
}

TEST(OVNRAWImporterTest, UnidentifiedDataGivesNoPictureButTheFixedKeys)
{
    OVNRAWImporter importer;
    importer.setData(QByteArray("this is not a camera file, only some words of text"));
    EXPECT_EQ(importer.status(), OVNRAWImporter::Unsupported);
    importer.processImageBufferWithShrinkFactor(0);
    EXPECT_TRUE(importer.image().isNull());
    const QVariantMap meta = importer.metadata();
    EXPECT_EQ(meta.value("DateTime").toString(), QStringLiteral("n/a"));
    EXPECT_FALSE(meta.contains("RAWImportWidth"));

    // A file cut off inside its sensor data.
    OVNRAWImporter cut;
    const QByteArray dng = sceneDng();
    cut.setData(dng.left(200));
    cut.processImageBufferWithShrinkFactor(0);
    EXPECT_TRUE(cut.image().isNull());
}

TEST(OVNRAWImporterTest, ComposesABinaryPpm)
{
    const QByteArray ppm = OVNRAWImporter::composePpm(2, 1, QByteArray("\x01\x02\x03\x04\x05\x06", 6));
    EXPECT_EQ(ppm, QByteArray("P6\n2 1\n255\n\x01\x02\x03\x04\x05\x06", 17));
    EXPECT_TRUE(OVNRAWImporter::composePpm(2, 2, QByteArray(6, 'x')).isEmpty());
}

TEST(OVNRAWImporterTest, ImportersOnSeveralThreadsGiveTheSamePicture)
{
    const QByteArray dng = sceneDng();
    QImage reference;
    {
        OVNRAWImporter importer;
        importer.setData(dng);
        importer.processImageBufferWithShrinkFactor(0);
        reference = importer.image();
    }
    ASSERT_FALSE(reference.isNull());
    std::vector<QImage> results(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 3; ++i) {
                OVNRAWImporter importer;
                importer.setData(dng);
                importer.processImageBufferWithShrinkFactor(0);
                results[size_t(t)] = importer.image();
            }
        });
    for (std::thread &t : threads)
        t.join();
    for (const QImage &image : results)
        EXPECT_EQ(image, reference);
}

TEST(OVNRAWImporterTest, RawFilesOfTheTestDataAreIdentifiedOrRefused)
{
    OVN_REQUIRE_TESTDATA();
    const QString base = testDataDir();
    const QStringList files = {
        "/exiftool-t-images/CanonRaw.cr2",
        "/exiftool-t-images/CanonRaw.crw",
        "/exiftool-t-images/DNG.dng",
        "/exiftool-t-images/FujiFilm.raf",
        "/exiftool-t-images/Minolta.mrw",
        "/exiftool-t-images/Nikon.nef",
        "/exiftool-t-images/Panasonic.rw2",
        "/exiv2-test-data/raw/Canon-R6-pruned.CR3",
        "/exiv2-test-data/raw/IMG_1361.dng",
        "/exiv2-test-data/raw/exiv2-canon-powershot-s40.crw",
        "/metadata-extractor-images/raw/Issue 419.rw2",
        "/metadata-extractor-images/raw/Issue 247-1.nef",
    };
    // Each file decoded at full size on four threads at once gives what it gives on one.
    for (const QString &name : files) {
        SCOPED_TRACE(qPrintable(name));
        QFile file(base + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        auto decoded = [&data] {
            OVNRAWImporter importer;
            importer.setData(data);
            importer.processImageBufferWithShrinkFactor(0);
            return importer.image();
        };
        const QImage reference = decoded();
        std::vector<QImage> results(4);
        std::vector<std::thread> threads;
        for (size_t t = 0; t < results.size(); ++t)
            threads.emplace_back([&, t] { results[t] = decoded(); });
        for (std::thread &t : threads)
            t.join();
        for (const QImage &image : results)
            EXPECT_TRUE(image == reference);
        // These hold a few kilobytes of their sensor's megabytes.
        if (name.contains(QLatin1String("Panasonic.rw2")) || name.contains(QLatin1String("FujiFilm.raf"))) {
            EXPECT_TRUE(reference.isNull());
        }
    }
    for (const QString &name : files) {
        SCOPED_TRACE(qPrintable(name));
        QFile file(base + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        OVNRAWImporter importer;
        importer.setData(file.readAll());
        importer.processImageBufferWithShrinkFactor(2);
        const QImage image = importer.image();
        const QVariantMap meta = importer.metadata();
        EXPECT_EQ(meta.value("DateTime").toString(), QStringLiteral("n/a"));
        if (importer.status() == OVNRAWImporter::Identified)
            EXPECT_GT(meta.value("RAWImportWidth").toInt(), 0);
        else
            EXPECT_TRUE(image.isNull());
    }
    // The iPhone's DNG says it is turned 90° clockwise.
    QFile iphone(base + "/exiv2-test-data/raw/IMG_1361.dng");
    ASSERT_TRUE(iphone.open(QIODevice::ReadOnly));
    OVNRAWImporter importer;
    importer.setData(iphone.readAll());
    EXPECT_EQ(importer.status(), OVNRAWImporter::Identified);
    EXPECT_EQ(importer.metadata().value("Orientation").toInt(), 6);
    EXPECT_EQ(importer.metadata().value("CameraMake").toString(), QStringLiteral("Apple"));
}
