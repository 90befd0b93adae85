// Export speed: 200 distinct 12-megapixel JPEGs exported at 1600 pixels, quality 0.9, on all
// cores, by `ovn-export` (the whole probe: catalog read, decode, scale, encode), beside
// `vipsthumbnail -s 1600 -o 'OUT/%s.jpg[Q=90,strip,subsample-mode=on]'` over the same files through
// `xargs -P$(nproc)`, one thread a process (VIPS_CONCURRENCY=1), so that vips writes what ours
// writes: 4:2:0 chroma and no metadata (at Q=90 vips would keep full colour resolution, and the
// EXIF block, unless told); the two whole programs timed in turn by the timing helper (bench_pair), with files per
// second and each side's peak memory (VmHWM).
//
// The pictures are made once and kept in $OVN_BENCH_DIR (default /tmp/ovn-export-bench).
// Usage: bench_export [COUNT] [PAIRS]

#include "BenchCatalog.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using BenchCatalog::pictureHeight;
using BenchCatalog::pictureWidth;

QStringList makePictures(const QDir &folder, int count) { return BenchCatalog::makeCameraJpegs(folder, count); }

bool comparePrograms(const QString &title, int pairs, int files, const QStringList &a, const QStringList &b = {})
{
    return BenchCatalog::comparePrograms(QStringLiteral(OVN_BENCH_PAIR), title, pairs, files, a, b);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::max(4, atoi(argv[1])) : 200;
    const int pairs = argc > 2 ? std::max(5, atoi(argv[2])) : 5;
    const QString base = qEnvironmentVariableIsEmpty("OVN_BENCH_DIR") ? QStringLiteral("/tmp/ovn-export-bench")
                                                                      : qEnvironmentVariable("OVN_BENCH_DIR");
    const QDir pictures(base + QStringLiteral("/pictures-%1").arg(count));
    makePictures(pictures, count);
    const int cores = QThread::idealThreadCount();
    std::printf("%d distinct %dx%d JPEGs, %d processors\n\n", count, pictureWidth, pictureHeight, cores);

    // The catalog the probe exports from, made once.
    const QString catalog = base + QStringLiteral("/catalog-%1.sqlite").arg(count);
    if (!QFileInfo::exists(catalog)) {
        QProcess import;
        import.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        import.start(QStringLiteral(OVN_IMPORT_TOOL),
                     {QStringLiteral("--quiet"), catalog, QStringLiteral("Bench"), pictures.path()});
        if (!import.waitForFinished(-1) || import.exitCode() != 0) {
            std::fprintf(stderr, "bench_export: the import failed\n");
            QFile::remove(catalog);
            return 1;
        }
    }

    const QString ours = base + QStringLiteral("/ours");
    const QString vips = base + QStringLiteral("/vips");
    // Every vipsthumbnail gets an even share of the files, so that each core has one process.
    const int perProcess = std::max(1, (count + cores - 1) / cores);
    const bool ok = comparePrograms(
        QStringLiteral("Export of %1 files at 1600 px, quality 0.9, against vipsthumbnail -s 1600 "
                       "[Q=90,strip,subsample-mode=on] on all %2 cores")
            .arg(count)
            .arg(cores),
        pairs, count,
        {QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("rm -rf '%1' && mkdir -p '%1' && exec '%2' '%3' Bench '%1' --custom 1600 >/dev/null")
             .arg(ours, QStringLiteral(OVN_EXPORT_TOOL), catalog)},
        {QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral(
             "rm -rf '%1' && mkdir -p '%1' && cd '%2' && ls photo*.jpg | VIPS_CONCURRENCY=1 xargs -P%3 -n %4 "
             "vipsthumbnail -s 1600 -o '%1/%s.jpg[Q=90,strip,subsample-mode=on]'")
             .arg(vips, pictures.path())
             .arg(cores)
             .arg(perProcess)});
    const auto made = [](const QString &folder) {
        return int(QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files).size());
    };
    std::printf("  ovn-export wrote %d files, vipsthumbnail %d\n", made(ours), made(vips));
    return ok && made(ours) == count && made(vips) == count ? 0 : 1;
}
