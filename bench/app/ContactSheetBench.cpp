// Contact-sheet printing speed: 1,000 JPEG thumbnails (256 x 192) printed from a catalog into a
// PDF by `ovn-catalog-window --print-pdf` (6 per line, A4: 21 pages), beside ImageMagick `montage`
// over the same JPEG files in one run (6 x 8 tiles a page at the thumbnails' own size, 21 pages).
// Debian's ImageMagick policy forbids writing PDF, so montage writes its pages as JPEG files, the
// raster a PDF of it would wrap. Whole process against whole process, alternating after a warm-up;
// prints each pair and the median ratio.
//
// The thumbnails and the catalog holding them are made first, in a scratch folder.
// Usage: bench_contact_sheet [COUNT] [PAIRS]
#include "BenchCatalog.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace BenchCatalog;

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
    const int pairs = argc > 2 ? std::max(5, atoi(argv[2])) : 7;
    QTemporaryDir scratch;
    const QString pictures = scratch.filePath(QStringLiteral("thumbs"));
    QDir().mkpath(pictures);

    // The thumbnails as files (for montage) and as a catalog's collection (for the sheet).
    const QString catalog = scratch.filePath(QStringLiteral("MediaDB.sqlite"));
    const std::shared_ptr<OVNDatabaseAccess> connection = makeCatalog(catalog);
    const QString sheet = connection->addCategoryListEntry(QStringLiteral("Sheet"), QStringLiteral("C"));
    const auto [files, bytes] = addThumbnailFiles(*connection, sheet, pictures, count, 75);
    connection->closeDBConnection();
    std::printf("%d JPEG thumbnails of 256 x 192 (%.1f MB) in files and in a catalog\n", count, bytes / 1e6);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.filePath(QStringLiteral("config")));
    const QString pdf = scratch.filePath(QStringLiteral("sheet.pdf"));
    const QStringList ours = {catalog,
                              QStringLiteral("--category"),
                              QStringLiteral("Sheet"),
                              QStringLiteral("--print-pdf"),
                              pdf,
                              QStringLiteral("--per-line"),
                              QStringLiteral("6"),
                              QStringLiteral("--print-style"),
                              QStringLiteral("0")};
    const QString montagePages = scratch.filePath(QStringLiteral("montage-%02d.jpg"));
    const QStringList montage = files
                                + QStringList{QStringLiteral("-tile"),
                                              QStringLiteral("6x8"),
                                              QStringLiteral("-geometry"),
                                              QStringLiteral("256x256+14+14"),
                                              QStringLiteral("-quality"),
                                              QStringLiteral("90"),
                                              montagePages};
    const QString tool = QStringLiteral(OVN_CATALOG_WINDOW_TOOL);
    const QString magick = QStringLiteral("/usr/bin/montage");

    runSeconds(tool, ours, environment);
    runSeconds(magick, montage, environment);
    std::vector<double> oursRuns, montageRuns, ratios;
    for (int pair = 0; pair < pairs; ++pair) {
        const double a = runSeconds(tool, ours, environment);
        const double b = runSeconds(magick, montage, environment);
        oursRuns.push_back(a);
        montageRuns.push_back(b);
        ratios.push_back(a / b);
        std::printf("pair %d: sheet to PDF %.3f s, montage %.3f s, ratio %.2f\n", pair + 1, a, b, a / b);
    }
    const int montageOutputs = int(QDir(scratch.path()).entryList({QStringLiteral("montage-*.jpg")}).size());
    std::printf("%d thumbnails: sheet to PDF median %.3f s (%.1f MB), montage median %.3f s (%d pages), "
                "median ratio sheet/montage %.2f (goal: at most 1)\n",
                count, median(oursRuns), QFileInfo(pdf).size() / 1e6, median(montageRuns), montageOutputs,
                median(ratios));
    return 0;
}
