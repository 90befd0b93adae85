// imgload_bench [--quick]: how fast the loaders make what the catalog needs, beside the usual
// command-line tools on the same files.
//   1. A 256-pixel thumbnail from a 24-megapixel JPEG, one image at a time on one thread, beside
//      `vipsthumbnail -s 256` and `djpeg -scale 1/8`.
//   2. The frame at 40 % of a 1080p H.264 movie, beside `ffmpeg -ss ... -frames:v 1`.
// The figures are medians of several runs, in milliseconds per image.

#include "platform/ImageFileReader.h"
#include "platform/Movie.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double medianMs(int runs, const std::function<bool()> &once)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!once())
            return -1.0;
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool run(const QString &program, const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, args);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A photograph-like 6000 × 4000 picture: smooth gradients with sensor-like noise, so that the
// JPEG's entropy data is as heavy as a real photograph's.
bool makeJpeg(const QString &path)
{
    QImage image(6000, 4000, QImage::Format_RGB32);
    QRandomGenerator random(42);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(random.bounded(24)) - 12;
            line[x] = qRgb(std::clamp(x * 255 / 6000 + n, 0, 255), std::clamp(y * 255 / 4000 + n, 0, 255),
                           std::clamp(128 + (x - y) / 64 + n, 0, 255));
        }
    }
    QImageWriter writer(path, "jpeg");
    writer.setQuality(90);
    return writer.write(image);
}

void printRow(const char *what, double ms)
{
    if (ms < 0)
        std::printf("  %-44s   failed\n", what);
    else
        std::printf("  %-44s %8.1f ms\n", what, ms);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int runs = quick ? 3 : 9;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    const QString jpeg = dir.filePath(QStringLiteral("24mp.jpg"));
    if (!makeJpeg(jpeg)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(jpeg));
        return 1;
    }
    std::printf("256-pixel thumbnail of a 6000 x 4000 JPEG (%lld bytes), median of %d:\n",
                static_cast<long long>(QFileInfo(jpeg).size()), runs);
    QSize made;
    const double ours = medianMs(runs, [&] {
        const QImage thumb = ImageFileReader::read(jpeg, QSize(256, 256));
        made = thumb.size();
        return !thumb.isNull();
    });
    printRow("ImageFileReader::read(path, 256 x 256)", ours);
    std::printf("  (gives %d x %d)\n", made.width(), made.height());
    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    if (!vips.isEmpty()) {
        QProcessEnvironment single = QProcessEnvironment::systemEnvironment();
        single.insert(QStringLiteral("VIPS_CONCURRENCY"), QStringLiteral("1"));
        const QString out = dir.filePath(QStringLiteral("vips-%s.jpg"));
        printRow("vipsthumbnail -s 256 (one thread)",
                 medianMs(runs, [&] { return run(vips, {jpeg, "-s", "256", "-o", out}, single); }));
        printRow("vipsthumbnail -s 256 (its default threads)",
                 medianMs(runs, [&] { return run(vips, {jpeg, "-s", "256", "-o", out}); }));
    }
    const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
    if (!djpeg.isEmpty())
        printRow("djpeg -scale 1/8 (decode only)", medianMs(runs, [&] { return run(djpeg, {"-scale", "1/8", jpeg}); }));

    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        std::printf("ffmpeg is not installed: no movie to measure\n");
        return 0;
    }
    const QString movie = dir.filePath(QStringLiteral("1080p.mp4"));
    if (!run(ffmpeg, {"-y", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=30", "-c:v", "libx264",
                      "-preset", "veryfast", "-pix_fmt", "yuv420p", movie})) {
        std::fprintf(stderr, "cannot make the 1080p movie\n");
        return 1;
    }
    const std::unique_ptr<Movie> probe = Movie::open(movie);
    if (!probe)
        return 1;
    const qint64 at = probe->duration().timeValue * 40 / 100;
    const double seconds = double(at) / probe->timeScale();
    std::printf("Frame at 40 %% (%.2f s) of a 30 s 1080p H.264 movie (key frames every 250), median of %d:\n",
                seconds, runs);
    printRow("Movie::open + frameImageAtTime", medianMs(runs, [&] {
                 const std::unique_ptr<Movie> m = Movie::open(movie);
                 return m && !m->frameImageAtTime(MovieTime{at, m->timeScale()}).isNull();
             }));
    printRow("frameImageAtTime on an open movie", medianMs(runs, [&] {
                 return !probe->frameImageAtTime(MovieTime{at, probe->timeScale()}).isNull();
             }));
    printRow("ffmpeg -ss T -i F -frames:v 1 (raw BGRA out)",
             medianMs(runs, [&] {
                 return run(ffmpeg, {"-v", "quiet", "-ss", QString::number(seconds, 'f', 3), "-i", movie, "-frames:v",
                                     "1", "-f", "rawvideo", "-pix_fmt", "bgra", "-y", "/dev/null"});
             }));
    return 0;
}
