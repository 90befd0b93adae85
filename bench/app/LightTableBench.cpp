// The light table's two roads that a user waits on, printed as figures:
//
// 1. A collection of 10,000 entries (256 x 192 JPEG thumbnails) shown in the catalog window: from
//    the light-table action to the roll's first screen of thumbnails painted (read from the
//    catalog, decoded, drawn). Seven runs after a warm-up; the median against the 300 ms goal.
// 2. A 24-megapixel JPEG (6000 x 4000, noise over gradients) selected in the roll to its picture
//    painted in a 1600 x 800 pane, beside the image viewer's open to its first picture in a
//    1600 x 1000 window, in turn A B after a warm-up pair; the median of the pair ratios.
//
//   bench_lighttable [entries]      (default 10000)
#include "BenchCatalog.h"
#include "BenchWindow.h"
#include "browser/OVNMediaRollView.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "viewers/OVNImageLoader.h"
#include "viewers/OVNImageViewer.h"
#include "viewers/OVNLightTable.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <vector>

using namespace BenchCatalog;

namespace {

void settle()
{
    OVNImageLoader::waitForAll();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Action to the roll's first screen painted; the thumbnails it shows in `shown`.
double openOnce(OVNAssetManager *window, int *shown)
{
    QElapsedTimer clock;
    clock.start();
    QPointer<OVNLightTable> table = window->openLightTable();
    OVNMediaRollView *roll = table->roll();
    // Until the roll's paints have drawn every frame it shows (those the roll keeps pictures of;
    // a frame a paint put off has none yet).
    const int wanted = std::min(roll->count(), int(std::ceil(roll->viewport()->width() / 133.0)));
    while (int(roll->thumbnailCacheCount()) < wanted && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    *shown = int(roll->thumbnailCacheCount());
    table->close();
    settle();
    return ms;
}

// Waits for `signal` of `sender` to say a picture is on screen; the milliseconds since `clock`.
template <typename Sender, typename Signal>
double firstPicture(Sender *sender, Signal signal, const QElapsedTimer &clock, const std::function<void()> &start)
{
    double first = -1;
    QEventLoop loop;
    const QMetaObject::Connection shown = QObject::connect(sender, signal, &loop, [&](bool) {
        if (first < 0)
            first = double(clock.nsecsElapsed()) / 1e6;
        loop.quit();
    });
    start();
    if (first < 0)
        loop.exec();
    QObject::disconnect(shown);
    return first;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir scratch;
    BenchWindow::prepareEnvironment(scratch);
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;

    // ---- 1: opening on a large collection ----
    const QString catalog = scratch.filePath(QStringLiteral("LightTable.sqlite"));
    const std::shared_ptr<OVNDatabaseAccess> connection = makeCatalog(catalog);
    const QString big = connection->addCategoryListEntry(QStringLiteral("Big"), QStringLiteral("C"));
    const QString pictures = scratch.filePath(QStringLiteral("thumbs"));
    QDir().mkpath(pictures);
    addThumbnailFiles(*connection, big, pictures, count, 80);
    // One picture of a camera's size, in a collection of its own.
    const QString camera = scratch.filePath(QStringLiteral("camera.jpg"));
    saveCameraPicture(camera);
    const QString single = connection->addCategoryListEntry(QStringLiteral("Camera"), QStringLiteral("C"));
    addEntry(*connection, {{QStringLiteral("categoryid"), single},
                           {QStringLiteral("displaytag"), QStringLiteral("camera.jpg")},
                           {QStringLiteral("absolutepath"), camera},
                           {QStringLiteral("filetype"), QStringLiteral("Image")},
                           {QStringLiteral("Orientation"), 1},
                           {QStringLiteral("thumbimage"), QByteArray()}});

    QPointer<OVNAssetManager> window = BenchWindow::openWindow(connection);
    window->show();
    window->selectCategory(big);
    std::vector<double> opens;
    int shown = 0;
    for (int i = 0; i <= 7; ++i) {
        const double ms = openOnce(window, &shown);
        if (i > 0)
            opens.push_back(ms);
    }
    std::printf("light table on %d entries: action to the roll's first thumbnails painted (%d painted), median of 7 "
                "after a warm-up %.1f ms (goal 300 ms)\n",
                window->mediaView()->count(), shown, median(opens));

    // ---- 2: a 24-megapixel JPEG selected, beside the image viewer ----
    window->selectCategory(single);
    QPointer<OVNLightTable> table = window->openLightTable();
    table->resize(1600, 800 + 143 + 22 + 20);
    table->statusStripClicked(QPointF(10, 10)); // one pane
    QCoreApplication::processEvents();
    std::vector<double> inPane, inViewer, ratios;
    for (int i = 0; i <= 7; ++i) {
        QElapsedTimer clock;
        clock.start();
        const double a = firstPicture(table.data(), &OVNLightTable::pictureShown, clock, [&] {
            table->roll()->selectImage(0, true, false);
            table->ovnMediaViewSelectionDidChange(table->roll());
        });
        settle();
        table->roll()->deselectAll();
        table->ovnMediaViewSelectionDidChange(table->roll());
        clock.restart();
        QPointer<OVNImageViewer> viewer = new OVNImageViewer;
        viewer->resize(1600, 1000);
        const double b =
            firstPicture(viewer.data(), &OVNImageViewer::pictureShown, clock, [&] { viewer->loadAndShowFile(camera); });
        viewer->close();
        settle();
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "a picture did not come\n");
            return 1;
        }
        if (i == 0)
            continue;
        inPane.push_back(a);
        inViewer.push_back(b);
        ratios.push_back(a / b);
    }
    std::printf("6000x4000 JPEG, first picture: selected in a light-table pane %.0f ms, image viewer opened %.0f ms, "
                "median pair ratio %.2f (7 pairs A B after a warm-up)\n",
                median(inPane), median(inViewer), median(ratios));
    table->close();
    settle();
    delete window.data();
    return 0;
}
