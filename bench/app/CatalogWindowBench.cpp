// Times the catalog window's main road on a large collection and prints the figures: selecting a
// collection of 10,000 entries in the category tree until the thumbnail view has painted its
// first screen of thumbnails (read from the catalog, decoded, drawn). The window is 1280 x 800 on
// the offscreen platform, with the thumbnail size the program registers for such a screen.
//
//   bench_catalog_window [count]      (default 10000)
#include "app/OVNAssetManager.h"
#include "app/OVNRegisteredDefaults.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray thumbnailJpeg(int index)
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((index * 37) % 360, 160, 220));
    QPainter painter(&image);
    painter.fillRect(20 + index % 80, 20, 60, 60, QColor::fromHsv((index * 11) % 360, 200, 120));
    painter.end();
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return data;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;

    // The catalog: one big collection, and a small one to switch to between the runs.
    const QString path = scratch.filePath(QStringLiteral("MediaDB.sqlite"));
    auto connection = std::make_shared<OVNDatabaseAccess>();
    connection->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (!connection->openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(*connection)) {
        std::fprintf(stderr, "cannot make the catalog: %s\n", qPrintable(connection->getLastErrorMessage()));
        return 1;
    }
    const QString big = connection->addCategoryListEntry(QStringLiteral("Big"), QStringLiteral("C"));
    const QString small = connection->addCategoryListEntry(QStringLiteral("Small"), QStringLiteral("C"));
    QElapsedTimer timer;
    timer.start();
    connection->beginTransaction();
    for (int i = 0; i < count; ++i) {
        const QVariantMap record = {
            {QStringLiteral("categoryid"), big},
            {QStringLiteral("displaytag"), QStringLiteral("IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0'))},
            {QStringLiteral("absolutepath"), QStringLiteral("/photos/IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0'))},
            {QStringLiteral("filesize"), 2000000 + i},
            {QStringLiteral("imagewidth"), 4000},
            {QStringLiteral("imageheight"), 3000},
            {QStringLiteral("filedts"), QStringLiteral("2024-05-01 10:11:12 +0000")},
            {QStringLiteral("dts"), QStringLiteral("2024-06-01 08:00:00 +0000")},
            {QStringLiteral("keywords"), QStringLiteral("Picture %1").arg(i)},
            {QStringLiteral("filetype"), QStringLiteral("Image")},
            {QStringLiteral("rating"), i % 6},
            {QStringLiteral("thumbimage"), thumbnailJpeg(i)},
        };
        if (connection->addMediaListEntry(record).isEmpty()) {
            std::fprintf(stderr, "insert failed: %s\n", qPrintable(connection->getLastErrorMessage()));
            return 1;
        }
    }
    connection->addMediaListEntry({{QStringLiteral("categoryid"), small},
                                   {QStringLiteral("displaytag"), QStringLiteral("one.jpg")},
                                   {QStringLiteral("thumbimage"), thumbnailJpeg(1)}});
    connection->commitTransaction();
    std::printf("catalog: %d entries with thumbnails made in %.0f ms\n", count, double(timer.elapsed()));

    UserDefaults::standard().registerDefaults(OVNRegisteredDefaults::startupDefaults(QRectF(0, 0, 1280, 800)));
    QPointer<OVNAssetManager> window = new OVNAssetManager;
    window->setDatabaseConnection(connection);
    window->makeWindowControllers();
    window->resize(1280, 800);
    QApplication::processEvents();

    std::vector<double> runs;
    int shownThumbnails = 0;
    for (int run = 0; run < 7; ++run) {
        window->selectCategory(small);
        QApplication::processEvents();
        timer.restart();
        window->selectCategory(big);
        OVNMediaView *view = window->mediaView();
        view->viewport()->repaint();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        runs.push_back(ms);
        // What the first screen shows: every cell in the visible part has its thumbnail.
        shownThumbnails = 0;
        const QRectF visible = view->visibleDocumentRect();
        for (int row = 0; row < view->count() && view->imageRect(row).top() < visible.bottom(); ++row)
            shownThumbnails += view->imageForRow(row).isNull() ? 0 : 1;
        std::printf("run %d: %d entries listed, first screen (%d thumbnails) painted in %.1f ms\n", run + 1,
                    view->count(), shownThumbnails, ms);
    }
    std::printf("select a collection of %d entries -> first thumbnails painted: first run %.1f ms, median "
                "%.1f ms, best %.1f ms (goal: under 300 ms)\n",
                count, runs.front(), median(runs), *std::min_element(runs.begin(), runs.end()));
    delete window.data();
    return shownThumbnails > 0 ? 0 : 1;
}
