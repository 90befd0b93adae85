// The express panel's search on a catalog of 100,000 records with their metadata rows:
//   1. ovn-express (the quick search "All" compiled, run read-only on a connection of its own,
//      every entry printed) against the sqlite3 program running the same statement, whole process
//      against whole process through bench_pair (output to /dev/null): a word that 10% of the
//      records hold, and a word none holds (the whole table read, nothing listed);
//   2. how long after Stop, and after its time limit, a runaway condition ends (SQLite; and on
//      the test PostgreSQL server when OVN_TEST_PG_* name one);
//   3. the longest the GUI thread goes without running its event loop while the panel searches
//      (a timer every 2 ms notes the gaps), for the quick search and a runaway condition stopped
//      by its limit; showing the found entries is timed apart.
// Usage: express_bench [record count [folder to keep the catalog in]]

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "search/OVNExpressPanel.h"
#include "search/OVNExpressSearch.h"
#include "search/OVNExpressStatements.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char *const runaway = "(select count(*) from strvfile a, strvfile b, strvfile c, strvfile d) > 0";

bool exec(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "express_bench: %s\n", error);
        sqlite3_free(error);
        return false;
    }
    return true;
}

// Records spread over a folder's collection and a collection, each with a metadata row.
bool fill(const QString &path, int count)
{
    OVNDatabaseAccess layer;
    layer.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (!layer.openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(layer))
        return false;
    const QString travel = layer.addCategoryListEntry(QStringLiteral("Travel"), QStringLiteral("F"));
    const QString day = layer.addCategoryListEntry(QStringLiteral("Day 1"), QStringLiteral("C"));
    layer.setCategoryListEntrySuperMID(day, travel);
    const QString studio = layer.addCategoryListEntry(QStringLiteral("Studio"), QStringLiteral("C"));
    layer.closeDBConnection();

    sqlite3 *db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    bool ok = exec(db, "begin");
    sqlite3_stmt *file = nullptr;
    sqlite3_prepare_v2(db,
                       "insert into strvfile (mid, categoryid, displaytag, cataloguedby, volumetype, volumename, "
                       "servername, serverpath, absolutepath, filetype, filesize, imagewidth, imageheight, filedts, "
                       "dts, keywords, shortdesc, fulldesc, rating, orientation) values (?1, ?2, ?3, 'Ann Example', "
                       "'local', 'Data', 'workstation', '/home/ann', ?4, 'Image', 1000000, 6000, 4000, "
                       "'2024-05-01 10:11:12 +0200', '2024-06-01 08:00:00 +0200', ?5, ?6, "
                       "'Taken on the beach at low tide.', ?7, 1)",
                       -1, &file, nullptr);
    for (int i = 0; i < count && ok; ++i) {
        const QByteArray mid = QStringLiteral("2024-01-01 00:00:00:000/M%1").arg(i, 12, 10, QLatin1Char('0')).toUtf8();
        const QByteArray name = QStringLiteral("IMG_%1.JPG").arg(i, 6, 10, QLatin1Char('0')).toUtf8();
        const QByteArray filePath = "/home/ann/Pictures/" + name;
        const QByteArray title = QStringLiteral("Walk number %1").arg(i).toUtf8();
        const QByteArray words = QStringLiteral("sea, sand, holiday, k%1").arg(i % 10).toUtf8();
        const QByteArray category = (i % 2 ? day : studio).toUtf8();
        sqlite3_bind_text(file, 1, mid.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 2, category.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 3, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 4, filePath.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 5, title.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 6, words.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(file, 7, i % 6);
        ok = sqlite3_step(file) == SQLITE_DONE;
        sqlite3_reset(file);
    }
    sqlite3_finalize(file);
    ok = ok && exec(db, "commit");
    sqlite3_close(db);
    return ok;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Ends of a runaway condition: after Stop (sent 300 ms in) and after a limit of 1 s, five times each.
void runawayEnds(OVNDatabaseAccess &connection, const char *title, const QString &clause)
{
    OVNExpress::ExpertSearch expert;
    expert.clause = clause;
    const QString sql = expert.statement();
    std::vector<double> afterStop;
    std::vector<double> afterLimit;
    QString statuses;
    for (int i = 0; i < 5; ++i) {
        OVNExpressSearch::Outcome outcome;
        Clock::time_point stopped;
        std::thread worker([&] { outcome = OVNExpressSearch::run(connection, sql, 60000); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stopped = Clock::now();
        connection.stopReadOnlySearch();
        worker.join();
        afterStop.push_back(msSince(stopped));
        statuses += outcome.status == OVNExpressSearch::Outcome::Status::Stopped ? QLatin1Char('S') : QLatin1Char('?');

        const Clock::time_point started = Clock::now();
        outcome = OVNExpressSearch::run(connection, sql, 1000);
        afterLimit.push_back(msSince(started) - 1000);
        statuses += outcome.status == OVNExpressSearch::Outcome::Status::TimedOut ? QLatin1Char('T') : QLatin1Char('?');
    }
    std::printf("%s: ends %.1f ms (median; longest %.1f) after Stop, %.1f ms (median; longest %.1f) after a 1 s "
                "limit [%s]\n",
                title, median(afterStop), *std::max_element(afterStop.begin(), afterStop.end()), median(afterLimit),
                *std::max_element(afterLimit.begin(), afterLimit.end()), qPrintable(statuses));
    std::fflush(stdout);
}

// The panel searching on the GUI thread's watch: the longest gap between two timer ticks while the
// search runs (until its result arrives), then the time the result takes to show.
void guiThreadGaps(const QString &catalog)
{
    auto connection = std::make_shared<OVNDatabaseAccess>();
    connection->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalog);
    connection->openDBConnection();
    OVNExpressPanel panel;
    panel.setDatabaseConnection(connection);
    panel.initSelections();
    panel.show();

    // Five runs each: the median and the longest of the runs' longest gaps.
    const auto measure = [&panel](const char *title, auto prepare) {
        prepare();
        std::vector<double> gaps;
        std::vector<double> shows;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer clock;
            qint64 last = 0;
            qint64 longest = 0;
            qint64 showing = 0;
            bool done = false;
            QTimer tick;
            tick.setInterval(2);
            QObject::connect(&tick, &QTimer::timeout, [&] {
                const qint64 now = clock.nsecsElapsed();
                if (!done)
                    longest = std::max(longest, now - last);
                last = now;
            });
            // The result's arrival ends the watch; what showing it costs is measured alone.
            const QMetaObject::Connection finished =
                QObject::connect(&panel, &OVNExpressPanel::searchFinished, [&] { done = true; });
            clock.start();
            tick.start();
            panel.findSearchClicked();
            const qint64 searchStarted = clock.nsecsElapsed();
            longest = std::max(longest, searchStarted - last);
            last = searchStarted;
            while (!done) {
                const qint64 before = clock.nsecsElapsed();
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
                if (done)
                    showing = clock.nsecsElapsed() - before;
            }
            tick.stop();
            QObject::disconnect(finished);
            gaps.push_back(longest / 1e6);
            shows.push_back(showing / 1e6);
        }
        std::printf("GUI thread, %s: longest gap while searching %.1f ms (median of 5; longest %.1f); showing the "
                    "result (%s) %.1f ms (median; longest %.1f)\n",
                    title, median(gaps), *std::max_element(gaps.begin(), gaps.end()), qPrintable(panel.statusText()),
                    median(shows), *std::max_element(shows.begin(), shows.end()));
        std::fflush(stdout);
    };
    measure("quick search All \"k3\"", [&panel] {
        panel.tabs()->setCurrentIndex(0);
        panel.findField(0)->setText(QStringLiteral("k3"));
    });
    measure("quick search All \"nothing\"", [&panel] { panel.findField(0)->setText(QStringLiteral("nothing")); });
    measure("runaway condition, 2 s limit", [&panel] {
        panel.tabs()->setCurrentIndex(1);
        panel.expertText()->setPlainText(QString::fromLatin1(runaway));
        panel.setTimeLimitMs(2000);
    });
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100000;
    QTemporaryDir temporary;
    const QDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path());
    const QString catalog = dir.filePath(QStringLiteral("express.sqlite"));
    QFile::remove(catalog);
    if (!fill(catalog, count)) {
        std::fprintf(stderr, "express_bench: cannot make the catalog\n");
        return 1;
    }

    for (const char *word : {"k3", "nothing"}) {
        OVNExpress::QuickSearch quick;
        quick.fields[0].text = QString::fromLatin1(word);
        const QString sql = quick.statement(OVNExpress::Dialect::SQLite);
        const QString title = QStringLiteral("Quick search All \"%1\" on %2 records").arg(QLatin1String(word)).arg(count);
        std::printf("%s\nsql: %s\n", qPrintable(title), qPrintable(sql));
        std::fflush(stdout);
        QProcess pair;
        pair.setProcessChannelMode(QProcess::ForwardedChannels);
        pair.start(QStringLiteral(OVN_BENCH_PAIR),
                   {QStringLiteral("--title"), title, QStringLiteral("--a"), QStringLiteral(OVN_EXPRESS), catalog,
                    QStringLiteral("--quick"), QStringLiteral("All:") + QLatin1String(word), QStringLiteral("--b"),
                    QStringLiteral("sqlite3"), catalog, sql});
        pair.waitForFinished(-1);
        std::printf("\n");
    }

    OVNDatabaseAccess searching;
    searching.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalog);
    searching.openDBConnection();
    runawayEnds(searching, "SQLite, a four-fold cross product", QString::fromLatin1(runaway));

    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (environment.contains(QStringLiteral("OVN_TEST_PG_HOST"))) {
        // A database of its own on the test server, dropped afterwards.
        const auto details = [&environment](OVNDatabaseAccess &connection, const QString &database) {
            connection.setConnectionDetails(QStringLiteral("PostgreSQL"),
                                            environment.value(QStringLiteral("OVN_TEST_PG_HOST")) + QLatin1Char(':')
                                                + environment.value(QStringLiteral("OVN_TEST_PG_PORT")),
                                            environment.value(QStringLiteral("OVN_TEST_PG_USER")),
                                            environment.value(QStringLiteral("OVN_TEST_PG_PASSWORD")), database);
        };
        const QString database = QStringLiteral("ovn_express_bench_%1").arg(QCoreApplication::applicationPid());
        OVNDatabaseAccess admin;
        details(admin, environment.value(QStringLiteral("OVN_TEST_PG_DB")));
        {
            OVNDatabaseAccess server;
            details(server, database);
            if (admin.openDBConnection() && admin.runSQLCommand(QStringLiteral("create database ") + database)
                && server.openDBConnection() && OVNDBHelper::prefDBCreatePostgreSQLDatabase(server))
                runawayEnds(server, "PostgreSQL, a sub-select over generate_series",
                            QStringLiteral("(select count(*) from generate_series(1, 100000000000)) > 0"));
            else
                std::printf("PostgreSQL: %s %s\n", qPrintable(admin.getLastErrorMessage()),
                            qPrintable(server.getLastErrorMessage()));
        }
        admin.runSQLCommand(QStringLiteral("drop database if exists %1 with (force)").arg(database));
    }

    guiThreadGaps(catalog);
    return 0;
}
