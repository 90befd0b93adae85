// Import speed: 1,000 distinct 12-megapixel JPEGs imported into a new catalog file with 256-pixel
// thumbnails, by `ovn-import` with all cores, beside `vipsthumbnail -s 256` over the same files
// through `xargs -P$(nproc)`, one thread a process (VIPS_CONCURRENCY=1: one process a core, as
// vips's users run it over many files; its own threads would put 8 a core) (thumbnails only: no metadata, no catalog),
// the two whole programs timed in turn by the timing helper (bench_pair), each with its peak memory (VmHWM). A quarter
// of the files goes through ovn-import alone too, which shows that memory does not grow with the
// number of files.
//
// The pictures are made once and kept in $OVN_BENCH_DIR (default /tmp/ovn-import-bench).
// Usage: bench_import [COUNT] [PAIRS]

#include "BenchCatalog.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QThread>

#include <unistd.h>

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

// A folder of exactly these pictures (hard links: regular files, no copies), so that a folder
// left with more pictures by a larger count is not imported whole.
QDir folderOf(const QStringList &paths, const QString &path)
{
    QDir folder(path);
    folder.removeRecursively();
    folder.mkpath(QStringLiteral("."));
    for (const QString &picture : paths) {
        const QString linked = folder.filePath(QFileInfo(picture).fileName());
        if (::link(QFile::encodeName(picture).constData(), QFile::encodeName(linked).constData()) != 0)
            QFile::copy(picture, linked);
    }
    return folder;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::max(4, atoi(argv[1])) : 1000;
    const QString base = qEnvironmentVariableIsEmpty("OVN_BENCH_DIR") ? QStringLiteral("/tmp/ovn-import-bench")
                                                                      : qEnvironmentVariable("OVN_BENCH_DIR");
    const QDir pictures(base + QStringLiteral("/pictures"));
    const QStringList paths = makePictures(pictures, count);

    const int pairs = argc > 2 ? std::max(5, atoi(argv[2])) : 5;
    std::printf("%d distinct %dx%d JPEGs, %d processors\n\n", count, pictureWidth, pictureHeight,
                QThread::idealThreadCount());

    const QDir all = folderOf(paths, base + QStringLiteral("/set-%1").arg(count));
    const QDir quarter = folderOf(paths.mid(0, count / 4), base + QStringLiteral("/set-%1").arg(count / 4));
    bool ok = comparePrograms(QStringLiteral("ovn-import of %1 of the files alone").arg(count / 4), pairs, count / 4,
                              BenchCatalog::importCommand(QStringLiteral(OVN_IMPORT_TOOL),
                                                          base + QStringLiteral("/quarter.sqlite"), quarter.path()));
    std::printf("\n");

    const QString out = base + QStringLiteral("/vips");
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    // Up to 16 files a vipsthumbnail, and every core busy with few files too.
    const int perProcess = std::clamp(count / QThread::idealThreadCount(), 1, 16);
    ok = comparePrograms(
             QStringLiteral(
                 "Import of %1 files into a new catalog file, against VIPS_CONCURRENCY=1 vipsthumbnail -s 256 on all "
                 "%2 cores (thumbnails only)")
                 .arg(count)
                 .arg(QThread::idealThreadCount()),
             pairs, count,
             BenchCatalog::importCommand(QStringLiteral(OVN_IMPORT_TOOL), base + QStringLiteral("/all.sqlite"),
                                         all.path()),
             {QStringLiteral("sh"), QStringLiteral("-c"),
              QStringLiteral(
                  "cd '%1' && ls photo*.jpg | VIPS_CONCURRENCY=1 xargs -P%2 -n %3 vipsthumbnail -s 256 -o '%4/%s.jpg'")
                  .arg(all.path())
                  .arg(QThread::idealThreadCount())
                  .arg(perProcess)
                  .arg(out)})
         && ok;
    const int made = int(QDir(out).entryList({QStringLiteral("*.jpg")}, QDir::Files).size());
    std::printf("  vipsthumbnail made %d thumbnails\n", made);
    return ok && made == count ? 0 : 1;
}
