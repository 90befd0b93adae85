// Import speed off the JPEG road: COUNT distinct PNGs, then COUNT distinct Deflate TIFFs, each
// imported into a new catalog file with 256-pixel thumbnails by `ovn-import` on all cores, beside
// `vipsthumbnail -s 256` over the same files through `xargs -P$(nproc) -n 1` (one thread a
// process, as in the JPEG pair, one file each, so that no core idles at the end while another
// still has a batch), the two whole programs timed in turn by the timing helper (bench_pair: a
// warm-up pair, then A B A B, the median pair ratio of wall and of processor time, each side's
// peak memory summed over its whole process tree: the import with its decoders, xargs with every
// vipsthumbnail).
//
// The pictures (3000 x 2000 with a photograph's content, BenchCatalog::photograph: PNGs as Qt
// writes them, TIFFs of 64-row Deflate strips with the horizontal predictor, as cameras' and
// scanners' software writes them) are made once and kept in $OVN_BENCH_DIR (default
// /tmp/ovn-import-bench/photographs).
// Usage: bench_import_formats [COUNT [PAIRS]]

#include "BenchCatalog.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QThread>

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int width = 3000;
constexpr int height = 2000;

bool saveTiff(const QImage &image, const QString &path)
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(image.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(image.height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 64);
    std::vector<uchar> row(size_t(image.width()) * 3);
    bool ok = true;
    for (int y = 0; y < image.height() && ok; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            row[size_t(x) * 3] = uchar(qRed(line[x]));
            row[size_t(x) * 3 + 1] = uchar(qGreen(line[x]));
            row[size_t(x) * 3 + 2] = uchar(qBlue(line[x]));
        }
        ok = TIFFWriteScanline(tiff, row.data(), quint32(y), 0) >= 0;
    }
    TIFFClose(tiff);
    return ok;
}

// `count` pictures named photoNNNN.EXTENSION in `folder`, made on every core unless there.
QStringList makePictures(const QDir &folder, int count, const QString &extension)
{
    return BenchCatalog::makePhotographs(
        folder, count, extension, QSize(width, height), [&extension](const QImage &picture, const QString &path) {
            return extension == QLatin1String("png") ? picture.save(path, "PNG") : saveTiff(picture, path);
        });
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::max(4, atoi(argv[1])) : 300;
    const int pairs = argc > 2 ? std::max(5, atoi(argv[2])) : 5;
    const QString base = qEnvironmentVariableIsEmpty("OVN_BENCH_DIR") ? QStringLiteral("/tmp/ovn-import-bench")
                                                                      : qEnvironmentVariable("OVN_BENCH_DIR");
    const int cores = QThread::idealThreadCount();
    bool ok = true;
    for (const QString &extension : {QStringLiteral("png"), QStringLiteral("tif")}) {
        const QDir folder(base + QStringLiteral("/photographs/%1-%2").arg(extension).arg(count));
        const QStringList paths = makePictures(folder, count, extension);
        const QString out = base + QStringLiteral("/vips-") + extension;
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        std::printf("\n");
        ok = BenchCatalog::comparePrograms(
                 QStringLiteral(OVN_BENCH_PAIR),
                 QStringLiteral("Import of %1 %2x%3 %4 files into a new catalog file, against VIPS_CONCURRENCY=1 "
                                "vipsthumbnail -s 256 on all %5 cores (thumbnails only)")
                     .arg(count)
                     .arg(width)
                     .arg(height)
                     .arg(extension == QLatin1String("png") ? QStringLiteral("PNG") : QStringLiteral("Deflate TIFF"))
                     .arg(cores),
                 pairs, count,
                 BenchCatalog::importCommand(QStringLiteral(OVN_IMPORT_TOOL),
                                             base + QStringLiteral("/%1.sqlite").arg(extension), folder.path()),
                 {QStringLiteral("sh"), QStringLiteral("-c"),
                  QStringLiteral("cd '%1' && ls photo*.%2 | VIPS_CONCURRENCY=1 xargs -P%3 -n 1 vipsthumbnail -s 256 "
                                 "-o '%4/%s.jpg'")
                      .arg(folder.path(), extension)
                      .arg(cores)
                      .arg(out)})
             && ok;
        const int made = int(QDir(out).entryList({QStringLiteral("*.jpg")}, QDir::Files).size());
        std::printf("  vipsthumbnail made %d thumbnails of %d\n", made, int(paths.size()));
        ok = ok && made == count;
    }
    return ok ? 0 : 1;
}
