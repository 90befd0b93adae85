// Times Select All in the catalog window over a large collection, with what follows it: the
// preview and details, and every menu and toolbar item enabled again from one snapshot (the owner
// of each selected entry asked for its privileges). Prints the figures; the goal is under 50 ms.
//
//   bench_select_all_actions [count]      (default 100000)
#include "BenchCatalog.h"
#include "BenchWindow.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using BenchCatalog::median;

namespace {

double milliseconds(const QElapsedTimer &timer) { return double(timer.nsecsElapsed()) / 1e6; }

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir scratch;
    BenchWindow::prepareEnvironment(scratch);
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;

    const std::shared_ptr<OVNDatabaseAccess> connection =
        BenchCatalog::makeCatalog(scratch.filePath(QStringLiteral("MediaDB.sqlite")));
    const QString big = connection->addCategoryListEntry(QStringLiteral("Big"), QStringLiteral("C"));
    connection->beginTransaction();
    for (int i = 0; i < count; ++i) {
        const QVariantMap record = {
            {QStringLiteral("categoryid"), big},
            {QStringLiteral("displaytag"), QStringLiteral("IMG_%1.jpg").arg(i, 6, 10, QLatin1Char('0'))},
            {QStringLiteral("absolutepath"), QStringLiteral("/photos/IMG_%1.jpg").arg(i, 6, 10, QLatin1Char('0'))},
            {QStringLiteral("filesize"), 2000000 + i},
            {QStringLiteral("keywords"), QStringLiteral("Picture %1").arg(i)},
            {QStringLiteral("rating"), i % 6},
        };
        BenchCatalog::addEntry(*connection, record);
    }
    connection->commitTransaction();

    QPointer<OVNAssetManager> window = BenchWindow::openWindow(connection);
    window->selectCategory(big);
    window->activateWindow();
    window->mediaView()->setFocus();
    QApplication::processEvents();
    if (window->mediaView()->count() != count) {
        std::fprintf(stderr, "the window shows %d entries, not %d\n", window->mediaView()->count(), count);
        return 1;
    }

    std::vector<double> selectAll;
    std::vector<double> refresh;
    std::vector<double> select;
    std::vector<double> details;
    for (int run = 0; run < 8; ++run) {
        window->commands().deselect();
        QApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        window->commands().selectAll();
        const double ms = milliseconds(timer);
        timer.restart();
        window->refreshActions();
        const double refreshMs = milliseconds(timer);
        // Its parts: the view's selection, then preview and details.
        window->commands().deselect();
        timer.restart();
        window->mediaView()->mvselectAll();
        const double selectMs = milliseconds(timer);
        timer.restart();
        window->mediaDelegate().loadSelectionDetails();
        const double detailsMs = milliseconds(timer);
        // The first run warms the privilege cache and the allocator.
        if (run > 0) {
            selectAll.push_back(ms);
            refresh.push_back(refreshMs);
            select.push_back(selectMs);
            details.push_back(detailsMs);
        }
    }
    const bool deletable = window->describeActions().contains(QStringLiteral("delete enabled"));
    std::printf(
        "select all over %d entries, preview, details and every action refreshed: median %.1f ms, "
        "best %.1f ms (goal: under 50 ms)\n  of which: selecting in the view %.1f ms, preview and details %.1f ms, "
        "refreshing every action %.1f ms (delete %s)\n",
        count, median(selectAll), *std::min_element(selectAll.begin(), selectAll.end()), median(select),
        median(details), median(refresh), deletable ? "enabled" : "disabled");
    delete window.data();
    return 0;
}
