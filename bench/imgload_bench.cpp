// imgload_bench: how fast the loaders make what the catalog needs, beside the usual command-line
// tools on the same files, each side a whole process (ovn-imgload) timed in turn by the timing
// helper (bench_pair):
//   1. A 256-pixel JPEG thumbnail file from a 24-megapixel JPEG, both programs on one CPU, beside
//      `vipsthumbnail -s 256`.
//   2. The frame at 40 % of a 1080p H.264 movie as a camera records it (BenchMovie.h) written as a
//      BMP file, beside `ffmpeg -ss ... -frames:v 1` writing the same.
// Also the thumbnail's time inside one process, with nothing to compare it with.

#include "BenchMovie.h"
#include "decoding/ImageFileReader.h"
#include "decoding/Movie.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

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

// The timing helper on two whole programs, its figures on our standard output.
bool comparePrograms(const QString &title, const QString &cpus, const QStringList &a, const QStringList &b)
{
    std::fflush(stdout);
    QStringList arguments{QStringLiteral("--title"), title};
    if (!cpus.isEmpty())
        arguments += QStringList{QStringLiteral("--cpus"), cpus};
    QProcess pair;
    pair.setProcessChannelMode(QProcess::ForwardedChannels);
    pair.start(QStringLiteral(OVN_BENCH_PAIR),
               arguments + QStringList{QStringLiteral("--a")} + a + QStringList{QStringLiteral("--b")} + b);
    return pair.waitForFinished(-1) && pair.exitCode() == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString tool = QStringLiteral(OVN_IMGLOAD_TOOL);

    const QString jpeg = dir.filePath(QStringLiteral("24mp.jpg"));
    if (!makeJpeg(jpeg)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(jpeg));
        return 1;
    }
    std::printf("A 6000 x 4000 JPEG of %lld bytes\n", static_cast<long long>(QFileInfo(jpeg).size()));
    QSize made;
    const double inProcess = medianMs(9, [&] {
        const QImage thumb = ImageFileReader::read(jpeg, QSize(256, 256));
        made = thumb.size();
        return !thumb.isNull();
    });
    std::printf("  in this process, ImageFileReader::read(path, 256 x 256): median of 9 %.1f ms (gives %d x %d)\n\n",
                inProcess, made.width(), made.height());
    bool ok = true;
    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    // One CPU for both (the last one: the first ones take the interrupts).
    const QString cpu = QString::number(std::max(0L, sysconf(_SC_NPROCESSORS_ONLN) - 1));
    if (vips.isEmpty())
        std::printf("vipsthumbnail is not installed (Debian package libvips-tools)\n");
    else
        ok = comparePrograms(QStringLiteral("A 256-pixel JPEG thumbnail file of the 24 MP JPEG, one CPU"), cpu,
                             {tool, jpeg, QStringLiteral("--size"), QStringLiteral("256"), QStringLiteral("-o"),
                              dir.filePath(QStringLiteral("ours.jpg"))},
                             {QStringLiteral("env"), QStringLiteral("VIPS_CONCURRENCY=1"), vips, jpeg,
                              QStringLiteral("-s"), QStringLiteral("256"), QStringLiteral("-o"),
                              dir.filePath(QStringLiteral("vips.jpg"))})
             && ok;

    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        std::printf("ffmpeg is not installed: no movie to measure\n");
        return ok ? 0 : 1;
    }
    const QString movie = BenchMovie::cameraLikeClip(ffmpeg);
    if (movie.isEmpty()) {
        std::fprintf(stderr, "cannot make the 1080p movie\n");
        return 1;
    }
    const std::unique_ptr<Movie> probe = Movie::open(movie);
    if (!probe)
        return 1;
    const qint64 at = probe->duration().timeValue * 40 / 100;
    const QString seconds = QString::number(double(at) / probe->timeScale(), 'f', 3);
    std::printf("\n");
    ok = comparePrograms(
             QStringLiteral("The frame at 40 %% (%1 s) of a 10 s 1080p H.264 camera-like movie (key frames every 250) "
                            "written as a BMP file")
                 .arg(seconds)
                 .replace(QStringLiteral("%%"), QStringLiteral("%")),
             QString(),
             {tool, movie, QStringLiteral("--time"), seconds, QStringLiteral("-o"),
              dir.filePath(QStringLiteral("ours.bmp"))},
             {ffmpeg, QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-ss"), seconds,
              QStringLiteral("-i"), movie, QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-y"),
              dir.filePath(QStringLiteral("ffmpeg.bmp"))})
         && ok;
    return ok ? 0 : 1;
}
