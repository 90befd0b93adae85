// The express panel's search on a catalog of 100,000 records with their metadata rows:
//   1. ovn-express (the quick search "All" compiled, run read-only on a connection of its own,
//      every entry's id and name printed) against the sqlite3 program running the same statement
//      and printing the same two columns, whole process
//      against whole process through bench_pair (output to /dev/null): a word that 10% of the
//      records hold, and a word none holds (the whole table read, nothing listed);
//   2. how long after Stop, and after its time limit, a runaway condition ends (SQLite; and on
//      the test PostgreSQL server when OVN_TEST_PG_* name one);
//   3. the longest the GUI thread goes without running its event loop while the panel searches
//      (a timer every 2 ms notes the gaps), for the quick search and a runaway condition stopped
//      by its limit; showing the found entries is timed apart.
// Usage: express_bench [record count [folder to keep the catalog in]]

#include "BenchCatalog.h"
#include "SearchBenchCatalog.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "search/OVNExpressPanel.h"
#include "search/OVNExpressSearch.h"
#include "search/OVNExpressStatements.h"
#include "search/OVNFind.h"

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
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A condition a user may write that takes long on every entry: a pattern that matches a run of 4000
// letters almost to its end (a thousand of them), at each of its places.
const QString runaway = QStringLiteral("#fulldesc# || '%1' like '%%2b%'")
                            .arg(QString(4000, QLatin1Char('a')), QString(999, QLatin1Char('a')));

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The expert statement of a condition.
QString expertStatement(const QString &clause)
{
    OVNExpress::ExpertSearch expert;
    expert.clause = clause;
    return expert.statement();
}

// Ends of a runaway statement: after Stop (sent 300 ms in) and after a limit of 1 s, five times each.
void runawayEnds(OVNDatabaseAccess &connection, const char *title, const QString &sql)
{
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
                title, BenchCatalog::median(afterStop), *std::max_element(afterStop.begin(), afterStop.end()),
                BenchCatalog::median(afterLimit), *std::max_element(afterLimit.begin(), afterLimit.end()),
                qPrintable(statuses));
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
                    title, BenchCatalog::median(gaps), *std::max_element(gaps.begin(), gaps.end()),
                    qPrintable(panel.statusText()), BenchCatalog::median(shows),
                    *std::max_element(shows.begin(), shows.end()));
        std::fflush(stdout);
    };
    measure("quick search All \"k3\"", [&panel] {
        panel.tabs()->setCurrentIndex(0);
        panel.findField(0)->setText(QStringLiteral("k3"));
    });
    measure("quick search All \"nothing\"", [&panel] { panel.findField(0)->setText(QStringLiteral("nothing")); });
    measure("runaway condition, 2 s limit", [&panel] {
        panel.tabs()->setCurrentIndex(1);
        panel.expertText()->setPlainText(runaway);
        panel.setTimeLimitMs(2000);
    });
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100000;
    QTemporaryDir temporary;
    const QDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path());
    const QString catalog = dir.filePath(QStringLiteral("express.sqlite"));
    QFile::remove(catalog);
    if (!SearchBenchCatalog::fill(catalog, count, 1, false)) {
        std::fprintf(stderr, "express_bench: cannot make the catalog\n");
        return 1;
    }

    bool alike = true;
    for (const char *word : {"k3", "nothing"}) {
        OVNExpress::QuickSearch quick;
        quick.fields[0].text = QString::fromLatin1(word);
        const QString sql = quick.statement(OVNExpress::Dialect::SQLite);
        const QString title =
            QStringLiteral("Quick search All \"%1\" on %2 records").arg(QLatin1String(word)).arg(count);
        std::printf("%s\nsql: %s\n", qPrintable(title), qPrintable(sql));
        // Both print each record found as its id and name with a tab between; the word none holds
        // lists nothing to compare.
        const QStringList ours{QStringLiteral(OVN_EXPRESS), catalog, QStringLiteral("--quick"),
                               QStringLiteral("All:") + QLatin1String(word)};
        const QStringList theirs{QStringLiteral("sqlite3"), QStringLiteral("-separator"), QStringLiteral("\t"), catalog,
                                 BenchCatalog::sameColumnsAsOurs(sql)};
        alike = (std::strcmp(word, "nothing") == 0
                     ? BenchCatalog::comparePrograms(QStringLiteral(OVN_BENCH_PAIR), title, ours, theirs)
                     : BenchCatalog::compareListings(QStringLiteral(OVN_BENCH_PAIR), title, ours, theirs,
                                                     QStringLiteral("\t")))
                && alike;
        std::printf("\n");
    }

    OVNDatabaseAccess searching;
    searching.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalog);
    searching.openDBConnection();
    runawayEnds(searching, "SQLite, a slow condition on every entry", expertStatement(runaway));

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
                // No condition a user may write runs long on an empty catalog: the statement is
                // given whole, to time the server's own limit and cancel.
                runawayEnds(server, "PostgreSQL, a sub-select over generate_series",
                            OVNFind::selectList()
                                + QStringLiteral(" where (select count(*) from generate_series(1, 100000000000)) > 0"));
            else
                std::printf("PostgreSQL: %s %s\n", qPrintable(admin.getLastErrorMessage()),
                            qPrintable(server.getLastErrorMessage()));
        }
        admin.runSQLCommand(QStringLiteral("drop database if exists %1 with (force)").arg(database));
    }

    guiThreadGaps(catalog);
    return alike ? 0 : 1;
}
