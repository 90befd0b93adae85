// Times the catalog layer on a PostgreSQL server over the local socket against psql on the same
// statement:
//   - inserting media records through the layer in 1000-record transactions (records per second);
//   - listing the records of one collection as media records, beside
//     psql -c 'select ...' > /dev/null (psql's start, connection, fetch and aligned output).
// The server comes from the OVN_TEST_PG_* variables (scripts/pg-test-server start); the
// benchmark makes a database of its own and drops it at the end.
// Usage: catalogdb_server_bench [record count]

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/PostgresConnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int batchSize = 1000;
constexpr int repeats = 5;

struct Server {
    QString socketDir, port, user, password, database;
    QString host() const { return socketDir + QLatin1Char(':') + port; }
};

QVariantMap importRecord(const QString &category, int i, const QByteArray &thumbnail)
{
    const QString name = QStringLiteral("IMG_%1.JPG").arg(i, 6, 10, QLatin1Char('0'));
    return {{QStringLiteral("categoryid"), category},
            {QStringLiteral("cataloguedby"), QStringLiteral("Ann Example")},
            {QStringLiteral("volumetype"), QStringLiteral("local")},
            {QStringLiteral("volumename"), QStringLiteral("Data")},
            {QStringLiteral("displaytag"), name},
            {QStringLiteral("servername"), QStringLiteral("workstation")},
            {QStringLiteral("serverpath"), QStringLiteral("/home/ann")},
            {QStringLiteral("absolutepath"),
             QStringLiteral("/home/ann/Pictures/2024/Holiday in Brittany/day %1/").arg(i / 500) + name},
            {QStringLiteral("filesize"), 1000000 + i},
            {QStringLiteral("imagewidth"), 6000},
            {QStringLiteral("imageheight"), 4000},
            {QStringLiteral("filedts"), QStringLiteral("2024-05-%1 10:%2:%3")
                                            .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                                            .arg(i % 60, 2, 10, QLatin1Char('0'))
                                            .arg((i / 60) % 60, 2, 10, QLatin1Char('0'))},
            {QStringLiteral("dts"), QStringLiteral("2024-06-01 08:00:00")},
            {QStringLiteral("keywords"), QStringLiteral("Beach walk number %1").arg(i)},
            {QStringLiteral("shortdesc"), QStringLiteral("sea, sand, holiday, family, %1").arg(i % 97)},
            {QStringLiteral("fulldesc"), QStringLiteral("Taken on the beach at low tide, early in the morning.")},
            {QStringLiteral("filetype"), QStringLiteral("Image")},
            {QStringLiteral("rating"), i % 6},
            {QStringLiteral("Orientation"), i % 2 ? 1 : 6},
            {QStringLiteral("thumbimage"), thumbnail}};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool open(OVNDatabaseAccess &db, const Server &server, const QString &database)
{
    db.setConnectionDetails(QStringLiteral("PostgreSQL"), server.host(), server.user, server.password, database);
    return db.openDBConnection();
}

// psql on the statement, its output thrown away; the seconds from start to exit.
double psqlSeconds(const Server &server, const QString &database, const QString &sql, bool aligned)
{
    QProcess psql;
    psql.setStandardOutputFile(QProcess::nullDevice());
    QStringList arguments = {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-h"), server.socketDir,
                             QStringLiteral("-p"), server.port, QStringLiteral("-U"), server.user,
                             QStringLiteral("-d"), database, QStringLiteral("-c"), sql};
    if (!aligned)
        arguments.prepend(QStringLiteral("-At"));
    QElapsedTimer timer;
    timer.start();
    psql.start(QStringLiteral("psql"), arguments);
    if (!psql.waitForFinished(600000) || psql.exitCode() != 0) {
        std::fprintf(stderr, "psql failed: %s\n", psql.readAllStandardError().constData());
        return 0;
    }
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    Server server{qEnvironmentVariable("OVN_TEST_PG_SOCKET_DIR"), qEnvironmentVariable("OVN_TEST_PG_PORT"),
                  qEnvironmentVariable("OVN_TEST_PG_USER"), qEnvironmentVariable("OVN_TEST_PG_PASSWORD"),
                  qEnvironmentVariable("OVN_TEST_PG_DB")};
    if (server.port.isEmpty()) {
        std::fprintf(stderr, "no server: eval \"$(scripts/pg-test-server start)\" first\n");
        return 1;
    }
    const QString database = QStringLiteral("ovn_bench_%1").arg(QCoreApplication::applicationPid());
    OVNDatabaseAccess admin;
    if (!open(admin, server, server.database)
        || !admin.runSQLCommand(QStringLiteral("create database ") + database)) {
        std::fprintf(stderr, "cannot make the database: %s\n", qPrintable(admin.getLastErrorMessage()));
        return 1;
    }

    int status = 0;
    {
        OVNDatabaseAccess db;
        if (!open(db, server, database) || !OVNDBHelper::prefDBCreatePostgreSQLDatabase(db)) {
            std::fprintf(stderr, "cannot create the catalog: %s\n", qPrintable(db.getLastErrorMessage()));
            return 1;
        }
        const QString category = db.addCategoryListEntry(QStringLiteral("Holiday"));
        const QByteArray thumbnail(512, '\x5c');
        std::vector<QVariantMap> records;
        records.reserve(size_t(count));
        for (int i = 0; i < count; ++i)
            records.push_back(importRecord(category, i, thumbnail));

        QElapsedTimer timer;
        timer.start();
        int failed = 0;
        for (int start = 0; start < count; start += batchSize) {
            OVNDatabaseTransaction transaction(db);
            for (int i = start; i < std::min(count, start + batchSize); ++i) {
                if (db.addMediaListEntry(records[size_t(i)]).isEmpty())
                    ++failed;
            }
            if (!transaction.commit())
                ++failed;
        }
        const double insertSeconds = timer.nsecsElapsed() / 1e9;
        records.clear();
        db.runSQLCommand(QStringLiteral("analyze strvfile"));

        std::printf("Catalog layer on PostgreSQL %s over the local socket, %d media records in one collection\n\n",
                    qPrintable(db.rowsForQuery(QStringLiteral("show server_version")).value(0).value(0).toString()),
                    count);
        std::printf("Insert   layer %9.0f records/s (%.3f s, %d-record transactions, 512-byte thumbnails)%s\n\n",
                    count / insertSeconds, insertSeconds, batchSize, failed ? "  (SOME INSERTS FAILED)" : "");

        const QString sql = OVNDBHelper::mediaSelect() + QStringLiteral(" where categoryid=") + OVNDBHelper::quotedText(category);
        // The statement alone over libpq, its result received and not read: the share of the
        // server and the socket in every figure.
        PostgresConnection raw;
        raw.open(PostgresConnection::settingsFor(server.host(), server.user, server.password, database));
        std::vector<double> layer, aligned, unaligned, fetched;
        qsizetype listed = 0;
        for (int run = 0; run < repeats; ++run) {
            aligned.push_back(psqlSeconds(server, database, sql, true));
            unaligned.push_back(psqlSeconds(server, database, sql, false));
            timer.restart();
            if (raw.execute(sql).rowCount() != count)
                status = 1;
            fetched.push_back(timer.nsecsElapsed() / 1e9);
            timer.restart();
            {
                const MediaList list = db.getMediaList(category);
                listed = list.size();
                layer.push_back(timer.nsecsElapsed() / 1e9);
            }
        }
        const double ratio = median(layer) / median(aligned);
        std::printf("Listing (median of %d)   layer getMediaList %.3f s (%lld records)   psql -c ... > /dev/null "
                    "%.3f s   psql -At -c ... > /dev/null %.3f s\n",
                    repeats, median(layer), static_cast<long long>(listed), median(aligned), median(unaligned));
        std::printf("         layer/psql %.2fx   target within 1.5x: %s   (statement and transfer alone, libpq: %.3f s)\n",
                    ratio, ratio <= 1.5 ? "met" : "MISSED", median(fetched));
        if (listed != count)
            status = 1;
    }
    admin.runSQLCommand(QStringLiteral("drop database %1 with (force)").arg(database));
    return status;
}
