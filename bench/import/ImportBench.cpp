// Import speed: 1,000 distinct 12-megapixel JPEGs imported into a new catalog file with 256-pixel
// thumbnails, by `ovn-import` with all cores, beside `vipsthumbnail -s 256` over the same files
// through `xargs -P$(nproc)` (thumbnails only: no metadata, no catalog), the two whole programs
// timed in turn by the timing helper (bench_pair), each with its peak memory (VmHWM). A quarter
// of the files goes through ovn-import alone too, which shows that memory does not grow with the
// number of files.
//
// The pictures are made once and kept in $OVN_BENCH_DIR (default /tmp/ovn-import-bench).
// Usage: bench_import [COUNT] [PAIRS]

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

// ovn-import of a folder into a new catalog each run; `exec` makes the timed process ovn-import
// itself.
QStringList importCommand(const QString &catalog, const QString &folder)
{
    return {QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("rm -f '%1' && exec '%2' --quiet '%1' Bench '%3'").arg(catalog, QStringLiteral(OVN_IMPORT_TOOL), folder)};
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
                              importCommand(base + QStringLiteral("/quarter.sqlite"), quarter.path()));
    std::printf("\n");

    const QString out = base + QStringLiteral("/vips");
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    // Up to 16 files a vipsthumbnail, and every core busy with few files too.
    const int perProcess = std::clamp(count / QThread::idealThreadCount(), 1, 16);
    ok = comparePrograms(QStringLiteral("Import of %1 files into a new catalog file, against vipsthumbnail -s 256 on all "
                                        "%2 cores (thumbnails only)").arg(count).arg(QThread::idealThreadCount()),
                         pairs, count, importCommand(base + QStringLiteral("/all.sqlite"), all.path()),
                         {QStringLiteral("sh"), QStringLiteral("-c"),
                          QStringLiteral("cd '%1' && ls photo*.jpg | xargs -P%2 -n %3 vipsthumbnail -s 256 -o '%4/%s.jpg'")
                              .arg(all.path()).arg(QThread::idealThreadCount()).arg(perProcess).arg(out)})
        && ok;
    const int made = int(QDir(out).entryList({QStringLiteral("*.jpg")}, QDir::Files).size());
    std::printf("  vipsthumbnail made %d thumbnails\n", made);
    return ok && made == count ? 0 : 1;
}
