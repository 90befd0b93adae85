#include "platform/Movie.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>

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
