// Turning and rating many selected entries.
//
// Turning: 1,000 JPEG thumbnails (256 x 192) in a catalog file, all selected and turned right by
// `ovn-catalog-window --select ... --rotate right`, beside `mogrify -rotate 90 -quality 100` over
// the same JPEG files. Whole process against whole process, alternating after a warm-up; prints
// each pair and the median ratio.
//
// Rating: a collection of 10,000 entries, all selected in the catalog window and rated from the
// menu command, timed from the command to the redrawn view. Five runs, each with another rating.
//
// Usage: bench_rating_rotation [TURNED] [PAIRS] [RATED]      (defaults 1000, 7, 10000)
#include "BenchCatalog.h"
#include "BenchWindow.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

using namespace BenchCatalog;

namespace {

void addEntry(OVNDatabaseAccess &connection, const QString &category, const QString &path, const QByteArray &thumbnail)
{
    BenchCatalog::addEntry(connection, {
                                           {QStringLiteral("categoryid"), category},
                                           {QStringLiteral("displaytag"), QFileInfo(path).fileName()},
                                           {QStringLiteral("absolutepath"), path},
                                           {QStringLiteral("filetype"), QStringLiteral("Image")},
                                           {QStringLiteral("Orientation"), 1},
                                           {QStringLiteral("thumbimage"), thumbnail},
                                       });
}

// Whether the goals were met.
bool benchTurning(const QTemporaryDir &scratch, int count, int pairs)
{
    const QString pictures = scratch.filePath(QStringLiteral("thumbs"));
    QDir().mkpath(pictures);
    const QString catalog = scratch.filePath(QStringLiteral("Turned.sqlite"));
    const std::shared_ptr<OVNDatabaseAccess> connection = makeCatalog(catalog);
    const QString collection = connection->addCategoryListEntry(QStringLiteral("Turned"), QStringLiteral("C"));
    const auto [files, bytes] =
        addThumbnailFiles(*connection, collection, pictures, count, 90, {{QStringLiteral("Orientation"), 1}});
    QStringList names;
    for (const QString &path : files)
        names.append(QFileInfo(path).fileName());
    connection->closeDBConnection();
    std::printf("%d JPEG thumbnails of 256 x 192 (%.1f MB) in files and in a catalog\n", count, bytes / 1e6);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.filePath(QStringLiteral("config")));
    const QString tool = QStringLiteral(OVN_CATALOG_WINDOW_TOOL);
    const QStringList ours = {catalog,
                              QStringLiteral("--category"),
                              QStringLiteral("Turned"),
                              QStringLiteral("--select"),
                              names.join(QLatin1Char(',')),
                              QStringLiteral("--rotate"),
                              QStringLiteral("right")};
    const QString magick = QStringLiteral("/usr/bin/mogrify");
    const QStringList mogrify =
        QStringList{QStringLiteral("-rotate"), QStringLiteral("90"), QStringLiteral("-quality"), QStringLiteral("100")}
        + files;

    runSeconds(tool, ours, environment, true);
    runSeconds(magick, mogrify, environment, true);
    std::vector<double> oursRuns, magickRuns, ratios;
    for (int pair = 0; pair < pairs; ++pair) {
        const double a = runSeconds(tool, ours, environment, true);
        const double b = runSeconds(magick, mogrify, environment, true);
        oursRuns.push_back(a);
        magickRuns.push_back(b);
        ratios.push_back(a / b);
        std::printf("pair %d: catalog window --rotate right %.3f s, mogrify %.3f s, ratio %.2f\n", pair + 1, a, b,
                    a / b);
    }
    // Every run turned every entry: the code went round once per four runs.
    const std::shared_ptr<OVNDatabaseAccess> check = makeCatalog(catalog);
    const MediaList turned = check->getMediaList(collection, QStringLiteral("C"));
    const int runs = 1 + pairs;
    const QString expected = QString::number(std::array{1, 6, 3, 8}[size_t(runs % 4)]);
    const qsizetype right = std::count_if(turned.begin(), turned.end(), [&](const MediaRecordRef &record) {
        return record->field(MediaRecord::Orientation) == expected;
    });
    std::printf("%d thumbnails turned: catalog window median %.3f s, mogrify median %.3f s, median ratio "
                "window/mogrify %.2f (goal: at most 1); %lld of %lld entries at orientation %s after %d turns\n",
                count, median(oursRuns), median(magickRuns), median(ratios), qlonglong(right), qlonglong(turned.size()),
                qPrintable(expected), runs);
    return median(ratios) <= 1 && right == turned.size();
}

bool benchRating(const QTemporaryDir &scratch, int count)
{
    const std::shared_ptr<OVNDatabaseAccess> connection = makeCatalog(scratch.filePath(QStringLiteral("Rated.sqlite")));
    const QString collection = connection->addCategoryListEntry(QStringLiteral("Rated"), QStringLiteral("C"));
    const QByteArray thumbnail = [] {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        noisyThumbnail(0).scaled(160, 120).save(&buffer, "JPEG", 50);
        return data;
    }();
    connection->beginTransaction();
    for (int i = 0; i < count; ++i)
        addEntry(*connection, collection, QStringLiteral("/photos/IMG_%1.jpg").arg(i), thumbnail);
    connection->commitTransaction();

    QPointer<OVNAssetManager> window = BenchWindow::openWindow(connection);
    QApplication::processEvents();
    window->selectCategory(collection);
    OVNMediaView *view = window->mediaView();
    view->mvselectAll();
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        const int rating = run + 1;
        QElapsedTimer timer;
        timer.start();
        window->menuSetRating(rating);
        view->viewport()->repaint();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        runs.push_back(ms);
        const MediaList records = connection->getMediaList(collection, QStringLiteral("C"));
        const qsizetype stored = std::count_if(records.begin(), records.end(), [rating](const MediaRecordRef &record) {
            return record->field(MediaRecord::Rating) == QString::number(rating);
        });
        std::printf("run %d: %d selected entries rated %d in %.0f ms (%lld stored with that rating)\n", run + 1,
                    view->numberOfSelectedRows(), rating, ms, qlonglong(stored));
    }
    std::printf("rate %d selected entries: median %.0f ms, best %.0f ms (goal: under 1000 ms)\n", count, median(runs),
                *std::min_element(runs.begin(), runs.end()));
    delete window.data();
    return median(runs) < 1000;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir scratch;
    BenchWindow::prepareEnvironment(scratch);
    QApplication app(argc, argv);
    const int turned = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
    const int pairs = argc > 2 ? std::max(5, atoi(argv[2])) : 7;
    const int rated = argc > 3 ? std::max(1, atoi(argv[3])) : 10000;
    const bool turning = benchTurning(scratch, turned, pairs);
    const bool rating = benchRating(scratch, rated);
    // A goal missed fails the benchmark.
    return turning && rating ? 0 : 1;
}
