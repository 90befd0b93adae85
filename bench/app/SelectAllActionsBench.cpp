// Times Select All in the catalog window over a large collection, with what follows it: the
// preview and details, and every menu and toolbar item enabled again from one snapshot (the owner
// of each selected entry asked for its privileges). Prints the figures; the goal is under 50 ms.
//
//   bench_select_all_actions [count]      (default 100000)
#include "app/OVNAssetManager.h"
#include "app/OVNRegisteredDefaults.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double milliseconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;

    const QString path = scratch.filePath(QStringLiteral("MediaDB.sqlite"));
    auto connection = std::make_shared<OVNDatabaseAccess>();
    connection->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (!connection->openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(*connection)) {
        std::fprintf(stderr, "cannot make the catalog: %s\n", qPrintable(connection->getLastErrorMessage()));
        return 1;
    }
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
        if (connection->addMediaListEntry(record).isEmpty()) {
            std::fprintf(stderr, "insert failed: %s\n", qPrintable(connection->getLastErrorMessage()));
            return 1;
        }
    }
    connection->commitTransaction();

    UserDefaults::standard().registerDefaults(OVNRegisteredDefaults::startupDefaults(QRectF(0, 0, 1280, 800)));
    QPointer<OVNAssetManager> window = new OVNAssetManager;
    window->setDatabaseConnection(connection);
    window->makeWindowControllers();
    window->resize(1280, 800);
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
        window->deselect();
        QApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        window->selectAll();
        const double ms = milliseconds(timer);
        timer.restart();
        window->refreshActions();
        const double refreshMs = milliseconds(timer);
        // Its parts: the view's selection, then preview and details.
        window->deselect();
        timer.restart();
        window->mediaView()->mvselectAll();
        const double selectMs = milliseconds(timer);
        timer.restart();
        window->loadSelectionDetails();
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
    std::printf("select all over %d entries, preview, details and every action refreshed: median %.1f ms, "
                "best %.1f ms (goal: under 50 ms)\n  of which: selecting in the view %.1f ms, preview and details %.1f ms, "
                "refreshing every action %.1f ms (delete %s)\n",
                count, median(selectAll), *std::min_element(selectAll.begin(), selectAll.end()), median(select),
                median(details), median(refresh), deletable ? "enabled" : "disabled");
    delete window.data();
    return 0;
}
