// Export speed: 200 distinct 12-megapixel JPEGs exported at 1600 pixels, quality 0.9, on all
// cores, by `ovn-export` (the whole probe: catalog read, decode, scale, encode), beside
// `vipsthumbnail -s 1600 -o 'OUT/%s.jpg[Q=90]'` over the same files through `xargs -P$(nproc)`;
// the two whole programs timed in turn by the timing helper (bench_pair), with files per second
// and each side's peak memory (VmHWM).
//
// The pictures are made once and kept in $OVN_BENCH_DIR (default /tmp/ovn-export-bench).
// Usage: bench_export [COUNT] [PAIRS]

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

// The timing helper on one or two whole programs, its figures on our standard output.
bool comparePrograms(const QString &title, int pairs, int files, const QStringList &a, const QStringList &b = {})
{
    std::fflush(stdout);
    QStringList arguments{QStringLiteral("--title"), title, QStringLiteral("--pairs"), QString::number(pairs),
                          QStringLiteral("--items"), QString::number(files), QStringLiteral("--a")};
    arguments += a;
    if (!b.isEmpty())
        arguments += QStringList{QStringLiteral("--b")} + b;
    QProcess pair;
    pair.setProcessChannelMode(QProcess::ForwardedChannels);
    pair.start(QStringLiteral(OVN_BENCH_PAIR), arguments);
    return pair.waitForFinished(-1) && pair.exitCode() == 0;
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
        import.start(QStringLiteral(OVN_IMPORT_TOOL), {QStringLiteral("--quiet"), catalog, QStringLiteral("Bench"), pictures.path()});
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
        QStringLiteral("Export of %1 files at 1600 px, quality 0.9, against vipsthumbnail -s 1600 [Q=90] on all %2 cores")
            .arg(count).arg(cores),
        pairs, count,
        {QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("rm -rf '%1' && mkdir -p '%1' && exec '%2' '%3' Bench '%1' --custom 1600 >/dev/null")
             .arg(ours, QStringLiteral(OVN_EXPORT_TOOL), catalog)},
        {QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("rm -rf '%1' && mkdir -p '%1' && cd '%2' && ls photo*.jpg | xargs -P%3 -n %4 vipsthumbnail -s 1600 -o '%1/%s.jpg[Q=90]'")
             .arg(vips, pictures.path()).arg(cores).arg(perProcess)});
    const auto made = [](const QString &folder) { return int(QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files).size()); };
    std::printf("  ovn-export wrote %d files, vipsthumbnail %d\n", made(ours), made(vips));
    return ok && made(ours) == count && made(vips) == count ? 0 : 1;
}
