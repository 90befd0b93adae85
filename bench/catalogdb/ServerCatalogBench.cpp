// Times the catalog layer on a PostgreSQL server over the local socket:
//   - inserting media records through the layer in 1000-record transactions (records per second),
//     thumbnails of real size; the line says whether the server syncs its writes (fsync);
//   - listing the records of one collection as media records, in this process against libpq
//     running the same statement and reading every value (A B A B through the timing helper);
//   - listing as a whole program (ovn-catalog list) against `psql -X -At -c` on the same statement,
//     both writing every column to /dev/null.
// The server comes from the OVN_TEST_PG_* variables (scripts/pg-test-server start; with
// OVN_TEST_PG_FSYNC=on it syncs as a production server does); the benchmark makes a database of
// its own and drops it at the end.
// Usage: catalogdb_server_bench [record count]

#include "BenchCatalog.h"
#include "BenchPair.h"
#include "BenchThumbnails.h"
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

bool open(OVNDatabaseAccess &db, const Server &server, const QString &database)
{
    db.setConnectionDetails(QStringLiteral("PostgreSQL"), server.host(), server.user, server.password, database);
    return db.openDBConnection();
}

// Both list the records, a line each.
bool compareListings(const QString &title, const QStringList &a, const QStringList &b)
{
    return BenchCatalog::compareListings(QStringLiteral(OVN_BENCH_PAIR), title, a, b);
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
    if (!open(admin, server, server.database) || !admin.runSQLCommand(QStringLiteral("create database ") + database)) {
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
        QList<QByteArray> thumbnails;
        qint64 thumbnailBytes = 0;
        for (int i = 0; i < 97; ++i) {
            thumbnails.append(BenchThumbnails::photoThumbnail(i));
            thumbnailBytes += thumbnails.last().size();
        }
        std::vector<QVariantMap> records;
        records.reserve(size_t(count));
        for (int i = 0; i < count; ++i)
            records.push_back(importRecord(category, i, thumbnails.at(i % thumbnails.size())));

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

        const auto setting = [&db](const char *name) {
            return db.rowsForQuery(QStringLiteral("show ") + QLatin1String(name)).value(0).value(0).toString();
        };
        const bool syncs = setting("fsync") == QLatin1String("on");
        std::printf("Catalog layer on PostgreSQL %s over the local socket, %d media records in one collection\n\n",
                    qPrintable(setting("server_version")), count);
        std::printf(
            "Insert   layer %9.0f records/s (%.3f s, %d-record transactions, thumbnails of %lld bytes on average)%s\n"
            "         server fsync=%s, synchronous_commit=%s, full_page_writes=%s%s\n\n",
            count / insertSeconds, insertSeconds, batchSize, thumbnailBytes / thumbnails.size(),
            failed ? "  (SOME INSERTS FAILED)" : "", qPrintable(setting("fsync")),
            qPrintable(setting("synchronous_commit")), qPrintable(setting("full_page_writes")),
            syncs ? "" : ": commits are not durable, and a server that syncs inserts more slowly");

        const QString sql =
            OVNDBHelper::mediaSelect() + QStringLiteral(" where categoryid=") + OVNDBHelper::quotedText(category);
        PostgresConnection raw;
        raw.open(PostgresConnection::settingsFor(server.host(), server.user, server.password, database));
        qsizetype listed = 0;
        BenchPair::Settings settings;
        settings.title = QStringLiteral("List %1 records of one collection, in this process").arg(count).toStdString();
        BenchPair::compareCalls(
            "OVNDatabaseAccess::getMediaList (MediaRecords made)",
            [&] {
                const MediaList list = db.getMediaList(category);
                listed = list.size();
                return listed == count;
            },
            "PostgresConnection::execute (libpq) + every value read",
            [&] {
                const PostgresResult result = raw.execute(sql);
                size_t bytes = 0;
                for (int row = 0; row < result.rowCount(); ++row) {
                    for (int column = 0; column < 26; ++column)
                        bytes += size_t(result.value(row, column).size());
                }
                return result.rowCount() == count && bytes > 0;
            },
            settings);
        std::printf("\n");
        // ovn-catalog takes the login as every PostgreSQL client does.
        qputenv("PGUSER", server.user.toUtf8());
        qputenv("PGPASSWORD", server.password.toUtf8());
        if (!compareListings(QStringLiteral("List %1 records as a whole program, every column written out").arg(count),
                             {QStringLiteral(OVN_CATALOG_TOOL),
                              QStringLiteral("postgresql:%1/%2").arg(server.host(), database), QStringLiteral("list"),
                              category},
                             {QStringLiteral("psql"), QStringLiteral("-X"), QStringLiteral("-At"), QStringLiteral("-h"),
                              server.socketDir, QStringLiteral("-p"), server.port, QStringLiteral("-U"), server.user,
                              QStringLiteral("-d"), database, QStringLiteral("-c"), sql}))
            status = 1;
        if (listed != count)
            status = 1;
    }
    admin.runSQLCommand(QStringLiteral("drop database %1 with (force)").arg(database));
    return status;
}
