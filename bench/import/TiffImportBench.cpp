// Memory of importing very large TIFFs: 20 copies of a 12000 × 12000 RGB TIFF imported into a new
// catalog file through the import worker on all cores, as the program imports a folder. Prints
// the time and the process's peak resident memory (VmHWM), which must stay under 1.5 GB: no
// thread holds a whole picture, and the decodes together stay within the decoding budget.
//
// The files are written row by row with libtiff (ImageMagick will not make pictures this large)
// into a temporary folder under $OVN_BENCH_DIR (default /tmp), removed at the end.
// Usage: bench_tiff_import [COPIES [SIDE]]

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "import/OVNImportWorker.h"
#include "decoding/DecodeMemoryBudget.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QThread>

#include <tiffio.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

long statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return 0;
}

// A smooth picture with fine rings, deflated with the horizontal predictor: small on disk, and
// every row must be inflated and looked at.
bool writeTiff(const QString &path, int side)
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(side));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(side));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    std::vector<uchar> row(size_t(side) * 3);
    bool ok = true;
    for (int y = 0; y < side && ok; ++y) {
        for (int x = 0; x < side; ++x) {
            const int dx = x - side / 2, dy = y - side / 2;
            row[size_t(x) * 3] = uchar(x * 255 / side);
            row[size_t(x) * 3 + 1] = uchar(y * 255 / side);
            row[size_t(x) * 3 + 2] = uchar(((qint64(dx) * dx + qint64(dy) * dy) >> 14) & 0xff);
        }
        ok = TIFFWriteScanline(tiff, row.data(), quint32(y), 0) >= 0;
    }
    TIFFClose(tiff);
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int copies = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const int side = argc > 2 ? std::max(300, atoi(argv[2])) : 12000;
    const QString base = qEnvironmentVariableIsEmpty("OVN_BENCH_DIR") ? QDir::tempPath()
                                                                      : qEnvironmentVariable("OVN_BENCH_DIR");
    QTemporaryDir dir(base + QStringLiteral("/ovn-tiff-import-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(base));
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    const QDir pictures(dir.filePath(QStringLiteral("pictures")));
    pictures.mkpath(QStringLiteral("."));
    const QString first = pictures.filePath(QStringLiteral("large00.tif"));
    if (!writeTiff(first, side)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(first));
        return 1;
    }
    for (int i = 1; i < copies; ++i)
        QFile::copy(first, pictures.filePath(QStringLiteral("large%1.tif").arg(i, 2, 10, QLatin1Char('0'))));
    std::printf("%d copies of a %dx%d RGB TIFF (%.1f MB on disk, %.0f MB as a picture), %d threads, "
                "decoding budget %lld MiB\n",
                copies, side, side, double(QFileInfo(first).size()) / 1e6, double(side) * side * 4 / 1e6,
                QThread::idealThreadCount(), static_cast<long long>(DecodeMemoryBudget::shared().capacity() >> 20));
    std::printf("peak resident memory before the import: %ld MiB\n", statusKiB("VmHWM:") / 1024);

    auto catalog = std::make_unique<OVNDatabaseAccess>();
    catalog->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(),
                                  dir.filePath(QStringLiteral("catalog.sqlite")));
    if (!catalog->openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(*catalog)) {
        std::fprintf(stderr, "cannot make the catalog\n");
        return 1;
    }
    OVNImportWorker::Settings settings;
    settings.categoryId = catalog->addCategoryListEntry(QStringLiteral("Large"), QStringLiteral("C"));
    OVNDatabaseAccess *shared = catalog.get();
    OVNImportWorker worker([shared] { return shared->openSiblingConnection(); }, settings);
    QElapsedTimer timer;
    timer.start();
    const OVNImportWorker::Summary summary = worker.run({pictures.path()});
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const long peakMiB = statusKiB("VmHWM:") / 1024;
    for (const OVNImportWorker::Failure &failure : summary.failures)
        std::printf("%s: %s: %s\n", failure.catalogued ? "imported with a problem" : "not imported",
                    qPrintable(failure.path), qPrintable(failure.reason));
    std::printf("imported %lld of %d in %.2f s (%.2f files/s); peak resident memory (VmHWM) %ld MiB (limit 1536)\n",
                static_cast<long long>(summary.importedIds.size()), summary.total, seconds, summary.total / seconds,
                peakMiB);
    return summary.importedIds.size() == copies && summary.failures.isEmpty() && peakMiB < 1536 ? 0 : 1;
}
