#include "formats/OVNHelper.h"
#include "decoding/ImageFileReader.h"
#include "decoding/Movie.h"
#include "platform/FileAccess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/formats/SyntheticDng.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return path;
}

QByteArray redDng()
{
    syntheticdng::Options o;
    o.scene = [](int, int) { return syntheticdng::Rgb{50000, 3000, 3000}; };
    return syntheticdng::make(o);
}

// A three-second movie of 64 × 48: red, then green, then blue, a second each.
QString makeColourMovie(const QTemporaryDir &dir)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        return {};
    const QString path = dir.filePath(QStringLiteral("colours.mov"));
    QProcess process;
    process.start(ffmpeg, {"-v",
                           "quiet",
                           "-y",
                           "-f",
                           "lavfi",
                           "-i",
                           "color=c=red:s=64x48:r=25:d=1",
                           "-f",
                           "lavfi",
                           "-i",
                           "color=c=lime:s=64x48:r=25:d=1",
                           "-f",
                           "lavfi",
                           "-i",
                           "color=c=blue:s=64x48:r=25:d=1",
                           "-filter_complex",
                           "[0][1][2]concat=n=3:v=1",
                           "-c:v",
                           "mpeg4",
                           "-q:v",
                           "2",
                           path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return path;
}

enum class Colour { Red, Green, Blue, Other };
Colour colourOf(QRgb c)
{
    if (qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80)
        return Colour::Red;
    if (qGreen(c) > 180 && qRed(c) < 80 && qBlue(c) < 80)
        return Colour::Green;
    if (qBlue(c) > 180 && qRed(c) < 80 && qGreen(c) < 80)
        return Colour::Blue;
    return Colour::Other;
}

} // namespace

TEST(OVNHelperLoadersTest, RawLoaderDecodesAtTheShrinkFactorAndRefusesOtherFiles)
{
    QTemporaryDir dir;
    const QString dng = writeFile(dir, QStringLiteral("red.dng"), redDng());
    ASSERT_FALSE(dng.isEmpty());
    const QImage full = OVNHelper::imageForRAWMediaFile(dng);
    ASSERT_FALSE(full.isNull());
    EXPECT_EQ(full.size(), QSize(64, 48));
    EXPECT_EQ(colourOf(full.pixel(30, 20)), Colour::Red);
    EXPECT_EQ(OVNHelper::imageForRAWMediaFile(dng, 2).size(), QSize(16, 12));

    const QString text = writeFile(dir, QStringLiteral("notes.dng"), "no camera wrote this");
    EXPECT_TRUE(OVNHelper::imageForRAWMediaFile(text).isNull());
    EXPECT_TRUE(OVNHelper::imageForRAWMediaFile(dir.filePath(QStringLiteral("missing.dng"))).isNull());
}

TEST(OVNHelperLoadersTest, DcrawLoaderGivesTheSameHalfSizePictureWhateverTheFactor)
{
    if (QStandardPaths::findExecutable(OVNHelper::dcrawCommand()).isEmpty())
        GTEST_SKIP() << "dcraw is not installed";
    QTemporaryDir dir;
    // A name that starts with "-" must not be read as an option.
    const QString dng = writeFile(dir, QStringLiteral("-red.dng"), redDng());
    ASSERT_FALSE(dng.isEmpty());
    const QImage plain = OVNHelper::imageForDCRAWMediaFile(dng);
    const QImage shrunk = OVNHelper::imageForDCRAWMediaFile(dng, 2);
    ASSERT_FALSE(plain.isNull());
    EXPECT_EQ(plain.size(), QSize(32, 24));
    EXPECT_EQ(plain, shrunk);
    EXPECT_EQ(colourOf(plain.pixel(16, 12)), Colour::Red);

    const QString text = writeFile(dir, QStringLiteral("notes.x3f"), "no camera wrote this");
    EXPECT_TRUE(OVNHelper::imageForDCRAWMediaFile(text).isNull());

    // Held for its import, the file dcraw reads is the one that was found, though another file
    // now has its name.
    const QString held = writeFile(dir, QStringLiteral("held.dng"), redDng());
    const FileAccess::HeldFile holding(held);
    ASSERT_TRUE(holding.isOpen());
    EXPECT_EQ(OVNHelper::imageForDCRAWMediaFile(held), plain);
    ASSERT_TRUE(QFile::rename(held, dir.filePath(QStringLiteral("elsewhere.dng"))));
    ASSERT_TRUE(QFile::copy(text, held));
    EXPECT_TRUE(OVNHelper::imageForDCRAWMediaFile(held).isNull());
}

TEST(OVNHelperLoadersTest, DcrawLoaderWithoutTheCommandAnswersNothing)
{
    QTemporaryDir dir;
    const QString dng = writeFile(dir, QStringLiteral("red.dng"), redDng());
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8());
    const QImage image = OVNHelper::imageForDCRAWMediaFile(dng);
    qputenv("PATH", path);
    EXPECT_TRUE(image.isNull());
}

TEST(OVNHelperLoadersTest, MovieFramesAtTimeValuesOfTheMoviesScale)
{
    QTemporaryDir dir;
    const QString path = makeColourMovie(dir);
    if (path.isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed to make the movie";
    const QImage first = OVNHelper::imageForQTMediaFile(path);
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first.size(), QSize(64, 48));
    EXPECT_EQ(colourOf(first.pixel(32, 24)), Colour::Red);

    const std::unique_ptr<Movie> movie = Movie::open(path);
    ASSERT_TRUE(movie);
    EXPECT_EQ(movie->timeScale(), 600);
    EXPECT_NEAR(double(movie->duration().timeValue), 1800.0, 30.0);
    EXPECT_EQ(colourOf(OVNHelper::imageForMovie(*movie, 600).pixel(32, 24)), Colour::Green);
    EXPECT_EQ(colourOf(OVNHelper::imageForMovie(*movie, 1500).pixel(32, 24)), Colour::Blue);
    EXPECT_EQ(colourOf(OVNHelper::imageForMovie(*movie, 0).pixel(32, 24)), Colour::Red);
    // Past the end: the last picture.
    EXPECT_EQ(colourOf(OVNHelper::imageForMovie(*movie, 100000).pixel(32, 24)), Colour::Blue);
    // Times in another scale mean the same seconds.
    EXPECT_EQ(colourOf(movie->frameImageAtTime(MovieTime{1, 1}).pixel(32, 24)), Colour::Green);
}

TEST(OVNHelperLoadersTest, MovieThatDoesNotOpenGivesNothing)
{
    QTemporaryDir dir;
    EXPECT_TRUE(OVNHelper::imageForQTMediaFile(dir.filePath(QStringLiteral("missing.mov"))).isNull());
    const QString junk = writeFile(dir, QStringLiteral("junk.mov"), QByteArray(4096, '\x17'));
    EXPECT_TRUE(OVNHelper::imageForQTMediaFile(junk).isNull());
}

TEST(OVNHelperLoadersTest, MoviesOfTheTestDataGiveFramesAtStartAndMiddle)
{
    OVN_REQUIRE_TESTDATA();
    const QString base = testDataDir();
    const QStringList movies = {
        "/exiv2-test-data/movies/flame.avi",
        "/exiv2-test-data/movies/sample_640x360.mov",
        "/exiv2-test-data/movies/small_video.mp4",
        "/metadata-extractor-images/movies/100_0306.AVI",
        "/metadata-extractor-images/movies/sample.3gp",
        "/metadata-extractor-images/movies/sample_mpeg4.mp4",
        "/metadata-extractor-images/movies/with-gps.mov",
        "/metadata-extractor-images/movies/with-gps.mp4",
        "/metadata-extractor-images/movies/xmp480qt.mov",
    };
    for (const QString &name : movies) {
        SCOPED_TRACE(qPrintable(name));
        const std::unique_ptr<Movie> movie = Movie::open(base + name);
        ASSERT_TRUE(movie);
        EXPECT_EQ(movie->kind(), Movie::Kind::Video);
        EXPECT_GT(movie->duration().timeValue, 0);
        const QImage start = OVNHelper::imageForMovie(*movie, 0);
        const QImage middle = OVNHelper::imageForMovie(*movie, movie->duration().timeValue / 2);
        ASSERT_FALSE(start.isNull());
        ASSERT_FALSE(middle.isNull());
        EXPECT_EQ(start.size(), movie->naturalSize());
        EXPECT_EQ(middle.size(), movie->naturalSize());
        // Whole files: no frame of the four a thumbnail shows is taken for damaged.
        for (const qint64 percent : {10, 40, 60, 90}) {
            (void)movie->frameImageAtTime(MovieTime{movie->duration().timeValue * percent / 100, movie->timeScale()});
            EXPECT_EQ(movie->frameDamage(), QString()) << percent;
        }
    }
    // The phone held upright: the track turns the 568 × 320 picture.
    const std::unique_ptr<Movie> phone = Movie::open(base + "/metadata-extractor-images/movies/with-gps.mov");
    ASSERT_TRUE(phone);
    EXPECT_EQ(phone->naturalSize(), QSize(320, 568));
}

TEST(OVNHelperLoadersTest, PdfAndStillFormatsOpenAsMovies)
{
    OVN_REQUIRE_TESTDATA();
    const QString base = testDataDir() + "/exiftool-t-images/";
    const QImage page = OVNHelper::imageForQTMediaFile(base + "PDF.pdf");
    ASSERT_FALSE(page.isNull());
    const std::unique_ptr<Movie> pdf = Movie::open(base + "PDF.pdf");
    ASSERT_TRUE(pdf);
    EXPECT_EQ(pdf->kind(), Movie::Kind::Document);
    EXPECT_EQ(page.size(), pdf->naturalSize());
    // A larger rendering of the same page, for thumbnails.
    EXPECT_EQ(pdf->frameImageAtTime(MovieTime{0, 600}, pdf->naturalSize() * 4).size(), pdf->naturalSize() * 4);

    const std::unique_ptr<Movie> psd = Movie::open(base + "Photoshop.psd");
    ASSERT_TRUE(psd);
    EXPECT_EQ(psd->kind(), Movie::Kind::Still);
    EXPECT_FALSE(OVNHelper::imageForQTMediaFile(base + "Photoshop.psd").isNull());
}

TEST(OVNHelperLoadersTest, BrokenAndHostileFilesGiveNothing)
{
    OVN_REQUIRE_TESTDATA();
    QStringList files;
    QDirIterator it(testDataDir() + "/exiv2-test-data/fuzz-crw", {"*.crw"}, QDir::Files);
    while (it.hasNext())
        files << it.next();
    files << testDataDir() + "/metadata-extractor-images/raw/Issue 419.rw2";
    ASSERT_GT(files.size(), 10);
    for (const QString &path : files) {
        SCOPED_TRACE(qPrintable(path));
        EXPECT_TRUE(OVNHelper::imageForRAWMediaFile(path).isNull());
        EXPECT_TRUE(OVNHelper::imageForRAWMediaFile(path, 2).isNull());
        EXPECT_TRUE(OVNHelper::imageForQTMediaFile(path).isNull());
        EXPECT_TRUE(ImageFileReader::read(path).isNull());
        EXPECT_TRUE(ImageFileReader::read(path, QSize(256, 256)).isNull());
        if (!QStandardPaths::findExecutable(OVNHelper::dcrawCommand()).isEmpty()) {
            EXPECT_TRUE(OVNHelper::imageForDCRAWMediaFile(path).isNull());
        }
    }
    // Header-only movies: no crash, whatever they give.
    for (const char *name : {"ASF.wmv", "M2TS.mts", "Matroska.mkv", "QuickTime.mov", "RIFF.avi"})
        (void)OVNHelper::imageForQTMediaFile(testDataDir() + "/exiftool-t-images/" + name);
}
