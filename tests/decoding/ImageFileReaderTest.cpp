#include "decoding/ImageFileReader.h"
#include "decoding/RawDecoder.h"
#include "tests/formats/SyntheticDng.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>

#include <sys/stat.h>

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
