// Import speed: 1,000 distinct 12-megapixel JPEGs imported into a new catalog file with 256-pixel
// thumbnails, by `ovn-import` with all cores, beside `vipsthumbnail -s 256` over the same files
// through `xargs -P$(nproc)` (thumbnails only: no metadata, no catalog). Prints files per second
// and the import's peak memory for a quarter of the files and for all of them, which shows that
// memory does not grow with the number of files.
//
// The pictures are made once and kept in $OVN_BENCH_DIR (default /tmp/ovn-import-bench).
// Usage: bench_import [COUNT]

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int pictureWidth = 4000;
constexpr int pictureHeight = 3000;

// A gradient whose colours depend on the index, with noise, so that every file is distinct and
// decodes like a photograph rather than a flat area.
QImage makePicture(int index)
{
    QImage image(pictureWidth, pictureHeight, QImage::Format_RGB32);
    quint32 state = 2463534242u ^ quint32(index * 2654435761u);
    const int r0 = (index * 53) % 256, g0 = (index * 97) % 256, b0 = (index * 193) % 256;
    for (int y = 0; y < pictureHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const int gy = y * 255 / pictureHeight;
        for (int x = 0; x < pictureWidth; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = int(state & 31) - 16;
            const int gx = x * 255 / pictureWidth;
            line[x] = qRgb(qBound(0, (r0 + gx) / 2 + noise, 255), qBound(0, (g0 + gy) / 2 + noise, 255),
                           qBound(0, (b0 + 255 - gx) / 2 + noise, 255));
        }
    }
    return image;
}

QStringList makePictures(const QDir &folder, int count)
{
    folder.mkpath(QStringLiteral("."));
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths.append(folder.filePath(QStringLiteral("photo%1.jpg").arg(i, 4, 10, QLatin1Char('0'))));
    std::atomic<int> next{0};
    std::atomic<int> made{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < QThread::idealThreadCount(); ++t)
        threads.emplace_back([&] {
            for (int i = next++; i < count; i = next++) {
                if (QFileInfo(paths.at(i)).size() > 0)
                    continue;
                const QString temporary = paths.at(i) + QStringLiteral(".part");
                if (makePicture(i).save(temporary, "JPEG", 90))
                    QFile::rename(temporary, paths.at(i));
                ++made;
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    if (made > 0)
        std::printf("made %d pictures of %dx%d in %s\n", made.load(), pictureWidth, pictureHeight,
                    qPrintable(folder.path()));
    return paths;
}

struct ImportRun {
    double seconds = 0;
    int imported = 0;
    long peakMiB = 0;
};

ImportRun runImport(const QString &catalog, const QStringList &paths)
{
    QFile::remove(catalog);
    QProcess tool;
    tool.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer timer;
    timer.start();
    tool.start(QStringLiteral(OVN_IMPORT_TOOL), QStringList{QStringLiteral("--quiet"), catalog, QStringLiteral("Bench")} + paths);
    tool.waitForFinished(-1);
    ImportRun run;
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    const QString output = QString::fromLocal8Bit(tool.readAllStandardOutput());
    static const QRegularExpression summary(QStringLiteral("imported (\\d+) of .* peak RSS (\\d+) MiB"));
    const QRegularExpressionMatch match = summary.match(output);
    if (match.hasMatch()) {
        run.imported = match.captured(1).toInt();
        run.peakMiB = match.captured(2).toLong();
    } else {
        std::fprintf(stderr, "ovn-import said:\n%s\n%s\n", qPrintable(output),
                     qPrintable(QString::fromLocal8Bit(tool.readAllStandardError())));
    }
    return run;
}

double runVips(const QDir &folder, const QString &outFolder)
{
    QDir(outFolder).removeRecursively();
    QDir().mkpath(outFolder);
    const QString command = QStringLiteral("cd '%1' && ls photo*.jpg | xargs -P$(nproc) -n 16 vipsthumbnail -s 256 -o '%2/%s.jpg'")
                                .arg(folder.path(), outFolder);
    QElapsedTimer timer;
    timer.start();
    QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const int made = int(QDir(outFolder).entryList({QStringLiteral("*.jpg")}, QDir::Files).size());
    std::printf("vipsthumbnail -s 256 (xargs -P%d -n 16): %d thumbnails\n", QThread::idealThreadCount(), made);
    return seconds;
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

    std::printf("%d distinct %dx%d JPEGs, %d processors\n", count, pictureWidth, pictureHeight,
                QThread::idealThreadCount());
    const ImportRun quarter = runImport(base + QStringLiteral("/quarter.sqlite"), paths.mid(0, count / 4));
    std::printf("ovn-import, %4d files: %6.2f s  %7.1f files/s  peak RSS %ld MiB\n", quarter.imported,
                quarter.seconds, quarter.imported / quarter.seconds, quarter.peakMiB);
    const ImportRun all = runImport(base + QStringLiteral("/all.sqlite"), paths);
    std::printf("ovn-import, %4d files: %6.2f s  %7.1f files/s  peak RSS %ld MiB\n", all.imported, all.seconds,
                all.imported / all.seconds, all.peakMiB);
    const double vips = runVips(pictures, base + QStringLiteral("/vips"));
    std::printf("vipsthumbnail,   %4d files: %6.2f s  %7.1f files/s\n", count, vips, count / vips);
    std::printf("ovn-import / vipsthumbnail: %.2f\n", (all.imported / all.seconds) / (count / vips));
    return all.imported == count ? 0 : 1;
}
