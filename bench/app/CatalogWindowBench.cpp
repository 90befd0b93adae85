// Times the catalog window's main road on a large collection and prints the figures: a cold open
// of a catalog made beforehand (by catalogdb_list, with thumbnails of real size, 2.3-3 KB JPEGs):
// the connection opened, the window made, the collection of 10,000 entries selected, until the
// thumbnail view has painted its first screen of thumbnails (read from the catalog, decoded,
// drawn). Each run is a process of its own, and the catalog file leaves the page cache before it
// (posix_fadvise), as after a restart. The window is 1280 x 800 on the offscreen platform, with
// the thumbnail size the program registers for such a screen.
//
//   bench_catalog_window [count]      (default 10000)
#include "app/OVNAssetManager.h"
#include "app/OVNRegisteredDefaults.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Drops the file's pages from the page cache, as a restart of the computer would.
void dropFromPageCache(const QString &path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY);
    if (fd < 0)
        return;
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// One cold open in this process: prints "ms N shown M listed L".
int openOnce(const QString &path, const QString &big)
{
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());
    UserDefaults::standard().registerDefaults(OVNRegisteredDefaults::startupDefaults(QRectF(0, 0, 1280, 800)));
    QElapsedTimer timer;
    timer.start();
    auto connection = std::make_shared<OVNDatabaseAccess>();
    connection->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (!connection->openDBConnection() || !connection->checkForDatabaseSetup()) {
        std::fprintf(stderr, "cannot open the catalog: %s\n", qPrintable(connection->getLastErrorMessage()));
        return 1;
    }
    QPointer<OVNAssetManager> window = new OVNAssetManager;
    window->setDatabaseConnection(connection);
    window->makeWindowControllers();
    window->resize(1280, 800);
    window->selectCategory(big);
    OVNMediaView *view = window->mediaView();
    view->viewport()->repaint();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    int shown = 0;
    const QRectF visible = view->visibleDocumentRect();
    for (int row = 0; row < view->count() && view->imageRect(row).top() < visible.bottom(); ++row)
        shown += view->imageForRow(row).isNull() ? 0 : 1;
    std::printf("ms %.1f shown %d listed %d\n", ms, shown, view->count());
    delete window.data();
    return shown > 0 ? 0 : 1;
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
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("--open-once"))
        return openOnce(args.at(2), args.at(3));
    const int count = args.size() > 1 ? std::max(1, args.at(1).toInt()) : 10000;

    // The catalog, made beforehand by another program.
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("MediaDB.sqlite"));
    QProcess make;
    make.start(QStringLiteral(OVN_CATALOG_LIST), {QStringLiteral("make"), path, QString::number(count)});
    make.waitForFinished(-1);
    const QString made = QString::fromUtf8(make.readAllStandardOutput());
    const QString big =
        QRegularExpression(QStringLiteral("^Bench (.*)$"), QRegularExpression::MultilineOption).match(made).captured(1);
    if (make.exitCode() != 0 || big.isEmpty()) {
        std::fprintf(stderr, "cannot make the catalog: %s\n", make.readAllStandardError().constData());
        return 1;
    }
    std::printf("catalog of %d entries with thumbnails of real size made beforehand: %s (%.1f MiB)\n", count,
                qPrintable(path), QFileInfo(path).size() / 1048576.0);

    std::vector<double> runs;
    for (int run = 0; run < 7; ++run) {
        dropFromPageCache(path);
        QProcess once;
        once.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open-once"), path, big});
        once.waitForFinished(-1);
        const QString line = QString::fromUtf8(once.readAllStandardOutput()).trimmed();
        const QStringList words = line.split(QLatin1Char(' '));
        if (once.exitCode() != 0 || words.size() < 6) {
            std::fprintf(stderr, "run %d failed: %s\n%s\n", run + 1, qPrintable(line),
                         once.readAllStandardError().constData());
            return 1;
        }
        runs.push_back(words.at(1).toDouble());
        std::printf("run %d (a process of its own, catalog out of the page cache): %s entries listed, first screen "
                    "(%s thumbnails) painted %.1f ms after the open began\n",
                    run + 1, qPrintable(words.at(5)), qPrintable(words.at(3)), runs.back());
    }
    std::printf(
        "cold open of the catalog, select a collection of %d entries -> first thumbnails painted: median %.1f ms, "
        "best %.1f ms, worst %.1f ms (goal: under 300 ms)\n",
        count, median(runs), *std::min_element(runs.begin(), runs.end()), *std::max_element(runs.begin(), runs.end()));
    return 0;
}
