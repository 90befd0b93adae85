#include "formats/OVNHelper.h"
#include "decoding/Movie.h"
#include "decoding/MoviePlayer.h"
#include "tests/formats/SyntheticDng.h"
#include "tests/support/TestEnvironment.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <functional>

namespace {

// This process's resident memory, and its peak since the last reset, in bytes.
qint64 statusBytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// How far this process's peak resident memory rose above where it stood while `work` ran.
qint64 peakGrowth(const std::function<void()> &work)
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        return -1;
    clear.close();
    const qint64 before = statusBytes("VmRSS:");
    work();
    const qint64 peak = statusBytes("VmHWM:");
    if (before < 0 || peak < 0)
        return -1;
    // The kernel sums a process's resident pages from per-thread counts it folds in now and then,
    // so the peak may read a few pages below the size read before: no growth.
    return std::max<qint64>(0, peak - before);
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() ? path : QString();
}

QString ffmpegMovie(const QTemporaryDir &dir, const QString &name, const QStringList &arguments)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        return {};
    QProcess process;
    process.start(ffmpeg, QStringList{"-loglevel", "error", "-y"} + arguments + QStringList{dir.filePath(name)});
    return process.waitForFinished(120000) && process.exitCode() == 0 ? dir.filePath(name) : QString();
}

bool isRed(QRgb c) { return qRed(c) > 180 && qGreen(c) < 90 && qBlue(c) < 90; }

// A movie played to its first frame through MoviePlayer, in a 200-pixel box; `failure` gets why
// it did not play.
QImage playedFrame(const QString &path, QString *failure)
{
    MoviePlayer player;
    player.setFrameBox(QSize(200, 200));
    if (!player.openAndWait(path, failure, 60000))
        return {};
    QObject::connect(&player, &MoviePlayer::failed, [failure](const QString &reason) { *failure = reason; });
    player.setRate(1);
    processEventsUntil([&] { return !player.currentImage().isNull() || !player.isOpen(); }, waitCeilingMs);
    player.setRate(0);
    return player.currentImage();
}

} // namespace

// Each road that decodes outside ovn-decoder: the picture comes back right and no larger than
// asked, while this process's own memory hardly moves, however large the picture the road
// decodes; a picture too large for the road's limit fails with its reason.
TEST(DecodingRoadsTest, EachRoadDecodesInAChildAndGivesThePictureAskedFor)
{
    QTemporaryDir dir;
    const bool haveDcraw = !QStandardPaths::findExecutable(OVNHelper::dcrawCommand()).isEmpty();
    syntheticdng::Options red;
    red.scene = [](int, int) { return syntheticdng::Rgb{50000, 3000, 3000}; };
    // A header naming a 60-megapixel sensor whose data was never written: dcraw streams a black
    // picture of 45 MB, which is no picture.
    syntheticdng::Options empty;
    empty.width = 9000;
    empty.height = 6700;
    empty.withData = false;
    const QString redDng = writeFile(dir, QStringLiteral("-red.dng"), syntheticdng::make(red));
    const QString emptyDng = writeFile(dir, QStringLiteral("empty.dng"), syntheticdng::make(empty));
    const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
    {
        QPdfWriter writer(pdf);
        writer.setPageSize(QPageSize(QPageSize::A6));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        painter.fillRect(QRect(QPoint(0, 0), QSize(writer.width(), writer.height())), Qt::red);
    }
    // The document is opened here (tests and benchmarks read documents in their own process);
    // its page is drawn in a child.
    const std::unique_ptr<Movie> document = Movie::open(pdf);
    ASSERT_TRUE(document);
    const QString movie = ffmpegMovie(dir, QStringLiteral("red.mp4"),
                                      {"-f", "lavfi", "-i", "color=c=red:s=3840x2160:r=25:d=1", "-c:v", "libx264",
                                       "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
    const QString huge = ffmpegMovie(dir, QStringLiteral("huge.mov"),
                                     {"-f", "lavfi", "-i", "color=c=red:s=16000x16000:r=1:d=1", "-c:v", "png"});

    struct Case {
        const char *road;
        bool runs;
        std::function<QImage(QString *)> decode;
        QSize largest;   // invalid: no picture expected
        QString failure; // what the failure says, in part
    };
    const Case cases[] = {
        {"dcraw, fitted into a box",
         haveDcraw,
         [&](QString *) { return OVNHelper::imageForDCRAWMediaFile(redDng, QSize(16, 16)); },
         QSize(16, 12),
         {}},
        {"dcraw, full size",
         haveDcraw,
         [&](QString *) { return OVNHelper::imageForDCRAWMediaFile(redDng); },
         QSize(32, 24),
         {}},
        {"dcraw, a black picture of 45 MB",
         haveDcraw,
         [&](QString *) { return OVNHelper::imageForDCRAWMediaFile(emptyDng, QSize(256, 256)); },
         QSize(),
         {}},
        {"PDF page",
         true,
         [&](QString *) {
             return document->frameImageAtTime(MovieTime{0, 600}, QSize(149, 210));
         },
         QSize(149, 210),
         {}},
        {"movie playback, 4K",
         !movie.isEmpty(),
         [&](QString *failure) { return playedFrame(movie, failure); },
         QSize(200, 113),
         {}},
        {"movie playback, 16000 x 16000", !huge.isEmpty(), [&](QString *failure) { return playedFrame(huge, failure); },
         QSize(), QStringLiteral("more memory")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.road);
        if (!c.runs)
            continue;
        QImage picture;
        QString failure;
        const qint64 growth = peakGrowth([&] { picture = c.decode(&failure); });
        EXPECT_GE(growth, 0);
        EXPECT_LT(growth, qint64(24) << 20) << "the road decoded in this process";
        if (!c.largest.isValid()) {
            EXPECT_TRUE(picture.isNull());
        } else {
            ASSERT_FALSE(picture.isNull()) << failure.toStdString();
            EXPECT_LE(picture.width(), c.largest.width());
            EXPECT_LE(picture.height(), c.largest.height());
            EXPECT_GE(picture.width(), c.largest.width() - 1);
            EXPECT_TRUE(isRed(picture.pixel(picture.width() / 2, picture.height() / 2)));
        }
        EXPECT_TRUE(failure.contains(c.failure)) << failure.toStdString();
    }
}
