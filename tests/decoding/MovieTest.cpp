#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/Movie.h"
#include "decoding/MovieSource_p.h"
#include "decoding/MovieThreads.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <limits>

namespace {

// Three A6 pages filled red, green and blue.
QString makePdf(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("pages.pdf"));
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A6));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter(&writer);
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            writer.newPage();
        painter.fillRect(QRect(QPoint(0, 0), QSize(writer.width(), writer.height())), colours[i]);
    }
    painter.end();
    return path;
}

// Twenty seconds of a test pattern with a single key frame: a frame near the end is reached only
// by decoding the five hundred before it. Empty when ffmpeg is not there or fails.
QString makeOneKeyFrameMovie(const QTemporaryDir &dir, const QStringList &extra = {})
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        return {};
    const QString path = dir.filePath(QStringLiteral("long-gop.mp4"));
    QProcess process;
    process.start(ffmpeg, QStringList{"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-t",
                                      "20", "-c:v", "mpeg4", "-g", "100000"}
                              + extra + QStringList{path});
    if (!process.waitForFinished(120'000) || process.exitCode() != 0 || !QFile::exists(path))
        return {};
    return path;
}

// A stop that answers true from its n-th question on: how often a reader asks, without a clock.
std::atomic<int> questionsLeft{0};
bool stopAfterQuestions() { return questionsLeft.fetch_sub(1) <= 0; }

} // namespace

TEST(MovieTest, PdfPagesAreFramesOfOneSecondEach)
{
    QTemporaryDir dir;
    const std::unique_ptr<Movie> pdf = Movie::open(makePdf(dir));
    ASSERT_TRUE(pdf);
    EXPECT_EQ(pdf->kind(), Movie::Kind::Document);
    EXPECT_EQ(pdf->duration().timeValue, 3 * 600);
    EXPECT_EQ(pdf->timeScale(), 600);
    // A6 is 105 × 148 mm: 298 × 420 points.
    EXPECT_NEAR(pdf->naturalSize().width(), 298, 1);
    EXPECT_NEAR(pdf->naturalSize().height(), 420, 1);
    const QPoint middle(100, 200);
    EXPECT_EQ(QColor(pdf->frameImageAtTime(MovieTime{0, 600}).pixel(middle)).red(), 255);
    EXPECT_EQ(QColor(pdf->frameImageAtTime(MovieTime{599, 600}).pixel(middle)).red(), 255);
    EXPECT_EQ(QColor(pdf->frameImageAtTime(MovieTime{600, 600}).pixel(middle)).green(), 255);
    EXPECT_EQ(QColor(pdf->frameImageAtTime(MovieTime{2, 1}).pixel(middle)).blue(), 255);
    // Before the start the first page, after the end the last.
    EXPECT_EQ(QColor(pdf->frameImageAtTime(MovieTime{-5, 1}).pixel(middle)).red(), 255);
    EXPECT_EQ(QColor(pdf->frameImageAtTime(MovieTime{99, 1}).pixel(middle)).blue(), 255);
    EXPECT_EQ(pdf->frameImageAtTime(MovieTime{0, 600}, QSize(60, 84)).size(), QSize(60, 84));
    EXPECT_TRUE(pdf->frameImageAtTime(MovieTime{0, 0}).isNull());
}

TEST(MovieTest, FilesWithoutPicturesDoNotOpen)
{
    QTemporaryDir dir;
    QString error;
    EXPECT_FALSE(Movie::open(dir.filePath(QStringLiteral("missing.mov")), &error));
    EXPECT_FALSE(error.isEmpty());
    // A PDF header with nothing behind it.
    const QString fakePdf = dir.filePath(QStringLiteral("fake.pdf"));
    QFile file(fakePdf);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4\n%%EOF\n");
    file.close();
    EXPECT_FALSE(Movie::open(fakePdf));
    // A sound-only file has no picture track.
    const QString wav = dir.filePath(QStringLiteral("tone.wav"));
    QFile sound(wav);
    ASSERT_TRUE(sound.open(QIODevice::WriteOnly));
    QByteArray header(
        "RIFF\x24\x08\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00"
        "data\x00\x08\x00\x00",
        44);
    sound.write(header + QByteArray(2048, '\0'));
    sound.close();
    error.clear();
    EXPECT_FALSE(Movie::open(wav, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(MovieTest, HostileFilesOfTheTestDataOpenOrFailQuietly)
{
    OVN_REQUIRE_TESTDATA();
    QDirIterator it(testDataDir(), QDir::Files, QDirIterator::Subdirectories);
    int opened = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String(".json")) || path.endsWith(QLatin1String(".md")))
            continue;
        SCOPED_TRACE(qPrintable(path));
        const std::unique_ptr<Movie> movie = Movie::open(path);
        if (!movie)
            continue;
        ++opened;
        const QImage start = movie->frameImageAtTime(MovieTime{0, 600}, QSize(64, 64));
        if (!start.isNull()) {
            EXPECT_EQ(start.size(), QSize(64, 64));
        }
        (void)movie->frameImageAtTime(MovieTime{movie->duration().timeValue / 2, movie->timeScale()});
    }
    EXPECT_GT(opened, 10);
}

// A movie's frame ends at its thread's deadline and at Cancel with the reason, and so does its
// opening; without them the same frame decodes.
TEST(MovieTest, FramesEndAtTheirDeadlineAndAtCancel)
{
    QTemporaryDir dir;
    const QString path = makeOneKeyFrameMovie(dir);
    if (path.isEmpty())
        GTEST_SKIP() << "ffmpeg cannot make the test movie here";
    const std::unique_ptr<Movie> movie = Movie::open(path);
    ASSERT_TRUE(movie);
    const MovieTime nearTheEnd{movie->duration().timeValue * 9 / 10, movie->timeScale()};

    struct Case {
        const char *name;
        bool cancelled;
        std::chrono::milliseconds limit;
        QString frameError; // empty: the frame decodes
        QString openError;
    };
    const Case cases[] = {
        {"no limit reached", false, std::chrono::minutes(10), {}, {}},
        {"past its deadline", false, std::chrono::milliseconds(0),
         QStringLiteral("the frame could not be decoded in time"),
         QStringLiteral("the movie could not be opened in time")},
        {"cancelled", true, std::chrono::minutes(10), QStringLiteral("decoding the frame was cancelled"),
         QStringLiteral("opening the movie was cancelled")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::atomic<bool> cancel{c.cancelled};
        const DecodeInterrupt::Scope scope(&cancel, c.limit);
        const QImage frame = movie->frameImageAtTime(nearTheEnd, QSize(80, 60));
        EXPECT_EQ(frame.isNull(), !c.frameError.isEmpty());
        EXPECT_EQ(movie->frameError(), c.frameError);
        QString error;
        EXPECT_EQ(Movie::open(path, &error) == nullptr, !c.openError.isEmpty());
        EXPECT_EQ(error, c.openError);
    }
}

// The reader asks its limits per packet: a stop that comes while it works its way from the key
// frame to the one asked for ends the decode there.
TEST(MovieTest, TheReaderAsksItsLimitsPerPacket)
{
    QTemporaryDir dir;
    const QString path = makeOneKeyFrameMovie(dir);
    if (path.isEmpty())
        GTEST_SKIP() << "ffmpeg cannot make the test movie here";
    const MovieReaders *readers = movieReaders();
    ASSERT_TRUE(readers);
    QString error;
    const std::unique_ptr<Movie::Source> source = readers->openFfmpeg(path, FrameLimits{}, &error);
    ASSERT_TRUE(source) << qPrintable(error);
    const MovieTime nearTheEnd{source->duration().timeValue * 9 / 10, source->duration().timeScale};

    struct Case {
        const char *name;
        int questions; // answered "go on" before the stop
        bool decodes;
    };
    const Case cases[] = {
        {"stopped at the first packet", 0, false},
        {"stopped a hundred packets in", 100, false},
        {"stopped long after the frame", 1'000'000, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        questionsLeft = c.questions;
        const FrameLimits limits{&stopAfterQuestions};
        QString frameError;
        QString damage;
        const QImage frame = source->frameImageAtTime(nearTheEnd, QSize(80, 60), limits, &frameError, &damage);
        EXPECT_EQ(frame.isNull(), !c.decodes);
        EXPECT_EQ(frameError, c.decodes ? QString() : QStringLiteral("the frame could not be decoded in time"));
        EXPECT_TRUE(damage.isEmpty());
    }
}

// A movie cut at half opens from its index, gives its early frames as they are and says that its
// data ends early where a frame is missing.
TEST(MovieTest, AMovieCutAtHalfSaysItsDataEndsEarly)
{
    QTemporaryDir dir;
    // The index at the start, as cameras and phones write it, so that the cut keeps it.
    const QString path = makeOneKeyFrameMovie(dir, {"-g", "25", "-movflags", "+faststart"});
    if (path.isEmpty())
        GTEST_SKIP() << "ffmpeg cannot make the test movie here";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() / 2));
    file.close();
    const std::unique_ptr<Movie> movie = Movie::open(path);
    ASSERT_TRUE(movie);
    const qint64 duration = movie->duration().timeValue;

    struct Case {
        const char *name;
        qint64 timeValue;
        QString damage;
    };
    const Case cases[] = {
        {"a tenth in", duration / 10, {}},
        {"nine tenths in", duration * 9 / 10, QStringLiteral("the data ends early")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeReport::Scope report;
        const QImage frame = movie->frameImageAtTime(MovieTime{c.timeValue, movie->timeScale()}, QSize(80, 60));
        EXPECT_EQ(frame.isNull(), !c.damage.isEmpty());
        EXPECT_EQ(movie->frameDamage(), c.damage);
        EXPECT_EQ(report.damage(), c.damage);
    }
}

// Movies of odd sizes keep their sizes as stored, frames included, and are not stretched: pixels
// a fraction of a per cent from square (a scaler's rounding) count as square; anamorphic pixels
// (HDV's 4:3) still widen the picture.
TEST(MovieTest, OddSizesAreAsStored)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed";
    const struct {
        const char *name;
        const char *size;
        const char *sar;
        QStringList codec;
        QSize natural;
    } cases[] = {
        {"odd.mp4", "1919x1001", "1/1", {"-c:v", "libx264", "-pix_fmt", "yuv444p"}, {1919, 1001}},
        {"odd.avi", "1001x1919", "1/1", {"-c:v", "mpeg4"}, {1001, 1919}},
        {"odd.mov", "1001x1001", "1/1", {"-c:v", "mjpeg", "-pix_fmt", "yuvj444p"}, {1001, 1001}},
        {"nearly square.mp4", "1001x1001", "201/200", {"-c:v", "libx264", "-pix_fmt", "yuv444p"}, {1001, 1001}},
        {"nearly square narrow.mp4",
         "1919x1001",
         "1918/1919",
         {"-c:v", "libx264", "-pix_fmt", "yuv444p"},
         {1919, 1001}},
        {"anamorphic.mp4", "1440x1080", "4/3", {"-c:v", "libx264", "-pix_fmt", "yuv420p"}, {1920, 1080}},
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QLatin1String(c.name));
        QProcess process;
        process.start(ffmpeg,
                      QStringList{"-v", "error", "-y", "-f", "lavfi", "-i",
                                  QStringLiteral("testsrc=size=%1:rate=5").arg(QLatin1String(c.size)), "-frames:v", "2",
                                  "-vf", QStringLiteral("setsar=sar=%1:max=10000").arg(QLatin1String(c.sar))}
                          + c.codec + QStringList{path});
        if (!process.waitForFinished(120'000) || process.exitCode() != 0)
            GTEST_SKIP() << "ffmpeg cannot make " << c.name << " here";
        const std::unique_ptr<Movie> movie = Movie::open(path);
        ASSERT_TRUE(movie);
        EXPECT_EQ(movie->naturalSize(), c.natural);
        EXPECT_EQ(movie->frameImageAtTime(MovieTime{0, 600}).size(), c.natural);
        // A frame asked at half the size is half the size.
        EXPECT_EQ(movie->frameImageAtTime(MovieTime{0, 600}, c.natural / 2).size(), c.natural / 2);
    }
}

// The threads a movie decodes on, fitted to a decoder's budget when it opens, and whether that
// decoder keeps it or leaves it to the larger one before its first frame.
TEST(MovieTest, AMoviesThreadsFitTheDecodersBudget)
{
    constexpr qint64 mib = qint64(1) << 20;
    constexpr qint64 hd = 1920LL * 1080 * 3 / 2;           // 8-bit 4:2:0
    constexpr qint64 uhd = 3840LL * 2160 * 3 / 2;          // 8-bit 4:2:0
    constexpr qint64 eightK10 = 7680LL * 4320 * 3 / 2 * 2; // 10-bit 4:2:0
    constexpr qint64 thumbnailBudget = 144 * mib, largerBudget = 608 * mib;
    struct Case {
        const char *name;
        qint64 picture, budget;
        int wanted;
        int threads; // fitted
        bool kept;   // enough for this decoder to keep the movie
    };
    const Case cases[] = {
        {"1080p in a thumbnail decoder on its one thread", hd, thumbnailBudget, 1, 1, true},
        {"1080p in a full-size read on a 16-core machine", hd, thumbnailBudget, 17, 9, true},
        {"1080p on a 2-core machine", hd, thumbnailBudget, 3, 3, true},
        {"2160p wanting many threads is left to the larger decoder", uhd, thumbnailBudget, 17, 1, false},
        {"2160p in the larger decoder", uhd, largerBudget, 17, 11, true},
        {"8K 10-bit does not fit a thumbnail decoder at all", eightK10, thumbnailBudget, 1, 0, false},
        {"8K 10-bit in the larger decoder on what it can", eightK10, largerBudget, 17, 0, false},
        {"no limit: as many as wanted", uhd, std::numeric_limits<qint64>::max(), 17, 17, true},
        {"a picture of no size", 0, thumbnailBudget, 4, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int threads = MovieThreads::fitted(c.picture, c.budget, c.wanted);
        EXPECT_EQ(threads, c.threads);
        EXPECT_EQ(MovieThreads::isEnough(threads, c.wanted), c.kept);
        if (threads > 0) {
            EXPECT_LE(MovieThreads::neededBytes(c.picture, threads), c.budget);
            if (threads < c.wanted) {
                EXPECT_GT(MovieThreads::neededBytes(c.picture, threads + 1), c.budget);
            }
        }
    }
}
