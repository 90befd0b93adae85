// What the metadata row costs an import: batches of entries inserted as the import worker inserts
// them (a savepoint per entry), with their metadata row (A) and alone (B), in turn through the
// timing helper (A B A B after a warm-up pair, the median pair ratio A/B). SQLite always; a PostgreSQL server
// too when the OVN_TEST_PG_* variables name one (scripts/pg-test-server start).
//
//   build-test/bench/catalogdb_metadatarow_bench [entries per batch, default 500] [pairs, default 7]

#include "BenchPair.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

QVariantMap importRecord(const QString &category, int i)
{
    return {{QStringLiteral("categoryid"), category},
            {QStringLiteral("displaytag"), QStringLiteral("IMG_%1.JPG").arg(i)},
            {QStringLiteral("absolutepath"), QStringLiteral("/home/ann/Pictures/IMG_%1.JPG").arg(i)},
            {QStringLiteral("filesize"), 4000000 + i},
            {QStringLiteral("imagewidth"), 6000},
            {QStringLiteral("imageheight"), 4000},
            {QStringLiteral("filedts"), QStringLiteral("2024-05-01 10:00:00")},
            {QStringLiteral("dts"), QStringLiteral("2024-06-01 08:00:00")},
            {QStringLiteral("filetype"), QStringLiteral("NSImage")},
            {QStringLiteral("thumbimage"), QByteArray(12000, '\x5c')}};
}

// A camera JPEG's dictionary as the tag parser gives it.
QVariantMap cameraMetadata(int i)
{
    return {{QStringLiteral("CameraMake"), QStringLiteral("Canon")},
            {QStringLiteral("CameraModel"), QStringLiteral("Canon EOS 7D")},
            {QStringLiteral("DateTime"), QStringLiteral("2024:05:01 10:00:%1").arg(i % 60, 2, 10, QLatin1Char('0'))},
            {QStringLiteral("Width"), qint64(5184)},
            {QStringLiteral("Height"), qint64(3456)},
            {QStringLiteral("Orientation"), qint64(1)},
            {QStringLiteral("ExposureTime"), QStringLiteral("0.008")},
            {QStringLiteral("ApertureFNumber"), QStringLiteral("11")},
            {QStringLiteral("ISOequivalent"), qint64(200)},
            {QStringLiteral("FocalLength"), QStringLiteral("28")},
            {QStringLiteral("FlashUsed"), qint64(16)},
            {QStringLiteral("MeteringMode"), qint64(5)},
            {QStringLiteral("ExposureProgram"), qint64(3)},
            {QStringLiteral("ExposureBias"), QStringLiteral("0")},
            {QStringLiteral("Whitebalance"), qint64(0)},
            {QStringLiteral("ExifVersion"), QStringLiteral("0221")},
            {QStringLiteral("Software"), QStringLiteral("1.2.5")},
            {QStringLiteral("ResolutionWidth"), qint64(72)},
            {QStringLiteral("ResolutionHeight"), qint64(72)}};
}

double batchSeconds(OVNDatabaseAccess &db, const QString &category, int first, int count, bool withRow)
{
    QElapsedTimer timer;
    timer.start();
    OVNDatabaseTransaction batch(db);
    for (int i = first; i < first + count; ++i) {
        OVNDatabaseTransaction entry(db);
        const QString mid = db.addMediaListEntry(importRecord(category, i));
        if (mid.isEmpty() || (withRow && !db.setExifForMediaID(mid, cameraMetadata(i))) || !entry.commit())
            std::fprintf(stderr, "a write failed: %s\n", qPrintable(db.getLastErrorMessage()));
    }
    batch.commit();
    return timer.nsecsElapsed() / 1e9;
}

void run(const char *label, OVNDatabaseAccess &db, int count, int pairs)
{
    const QString category = db.addCategoryListEntry(QStringLiteral("Holiday"));
    int next = 0;
    const auto batch = [&](bool withRow) {
        batchSeconds(db, category, next, count, withRow);
        next += count;
        return true;
    };
    BenchPair::Settings settings;
    settings.title = QStringLiteral("%1: batches of %2 entries").arg(QLatin1String(label)).arg(count).toStdString();
    settings.pairs = pairs;
    settings.items = count;
    BenchPair::compareCalls(
        "addMediaListEntry + setExifForMediaID, a savepoint each", [&] { return batch(true); },
        "addMediaListEntry alone, a savepoint each", [&] { return batch(false); }, settings);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const int pairs = argc > 2 ? std::max(5, std::atoi(argv[2])) : 7;

    QTemporaryDir dir;
    OVNDatabaseAccess file;
    file.setConnectionDetails(QStringLiteral("Integrated"), {}, {}, {}, dir.filePath(QStringLiteral("MediaDB.sqlite")));
    if (!file.openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(file)) {
        std::fprintf(stderr, "cannot create the catalog: %s\n", qPrintable(file.getLastErrorMessage()));
        return 1;
    }
    run("SQLite", file, count, pairs);

    const QString port = qEnvironmentVariable("OVN_TEST_PG_PORT");
    if (port.isEmpty())
        return 0;
    const QString host = qEnvironmentVariable("OVN_TEST_PG_SOCKET_DIR") + QLatin1Char(':') + port;
    const QString user = qEnvironmentVariable("OVN_TEST_PG_USER");
    const QString password = qEnvironmentVariable("OVN_TEST_PG_PASSWORD");
    const QString database = QStringLiteral("ovn_metadatarow_%1").arg(QCoreApplication::applicationPid());
    OVNDatabaseAccess admin;
    admin.setConnectionDetails(QStringLiteral("PostgreSQL"), host, user, password,
                               qEnvironmentVariable("OVN_TEST_PG_DB"));
    if (!admin.openDBConnection() || !admin.runSQLCommand(QStringLiteral("create database ") + database)) {
        std::fprintf(stderr, "cannot make the database: %s\n", qPrintable(admin.getLastErrorMessage()));
        return 1;
    }
    {
        OVNDatabaseAccess server;
        server.setConnectionDetails(QStringLiteral("PostgreSQL"), host, user, password, database);
        if (server.openDBConnection() && OVNDBHelper::prefDBCreatePostgreSQLDatabase(server))
            run("PostgreSQL", server, count, pairs);
        else
            std::fprintf(stderr, "cannot create the server catalog: %s\n", qPrintable(server.getLastErrorMessage()));
    }
    admin.runSQLCommand(QStringLiteral("drop database %1 with (force)").arg(database));
    return 0;
}
