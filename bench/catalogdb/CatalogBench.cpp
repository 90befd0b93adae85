// Times the catalog layer against the sqlite3 C API alone on the same statements:
//   - inserting 100,000 media records inside transactions (records per second);
//   - listing the 100,000 records of one collection as media records;
// and shows the query plans of the listing statements.
// Usage: catalogdb_bench [record count]

#include "platform/HeapTuning.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int batchSize = 1000;
constexpr int repeats = 5;

const char *insertSql =
    "insert into strvfile (mid, categoryid, cataloguedby, volumetype, volumename, displaytag, "
    "servername, serverpath, absolutepath, filesize, imagewidth, imageheight, filedts, dts, "
    "keywords, orientation, shortdesc, fulldesc, filetype, rating, thumbimage) values ($1, $2, "
    "$3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19, $20, $21)";

struct Sample {
    QString name, path, filedts, keywords, shortdesc;
    qint64 size, width, height, orientation, rating;
};

Sample sample(int i)
{
    const QString name = QStringLiteral("IMG_%1.JPG").arg(i, 6, 10, QLatin1Char('0'));
    return {name,
            QStringLiteral("/home/ann/Pictures/2024/Holiday in Brittany/day %1/").arg(i / 500) + name,
            QStringLiteral("2024-05-%1 10:%2:%3 +0200").arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                .arg(i % 60, 2, 10, QLatin1Char('0')).arg((i / 60) % 60, 2, 10, QLatin1Char('0')),
            QStringLiteral("Beach walk number %1").arg(i),
            QStringLiteral("sea, sand, holiday, family, %1").arg(i % 97),
            1000000 + i, 6000, 4000, i % 2 ? 1 : 6, i % 6};
}

QVariantMap importRecord(const QString &category, int i, const QByteArray &thumbnail)
{
    const Sample s = sample(i);
    return {{QStringLiteral("categoryid"), category},
            {QStringLiteral("cataloguedby"), QStringLiteral("Ann Example")},
            {QStringLiteral("volumetype"), QStringLiteral("local")},
            {QStringLiteral("volumename"), QStringLiteral("Data")},
            {QStringLiteral("displaytag"), s.name},
            {QStringLiteral("servername"), QStringLiteral("workstation")},
            {QStringLiteral("serverpath"), QStringLiteral("/home/ann")},
            {QStringLiteral("absolutepath"), s.path},
            {QStringLiteral("filesize"), s.size},
            {QStringLiteral("imagewidth"), s.width},
            {QStringLiteral("imageheight"), s.height},
            {QStringLiteral("filedts"), s.filedts},
            {QStringLiteral("dts"), QStringLiteral("2024-06-01 08:00:00 +0200")},
            {QStringLiteral("keywords"), s.keywords},
            {QStringLiteral("shortdesc"), s.shortdesc},
            {QStringLiteral("fulldesc"), QStringLiteral("Taken on the beach at low tide, early in the morning.")},
            {QStringLiteral("filetype"), QStringLiteral("Image")},
            {QStringLiteral("rating"), s.rating},
            {QStringLiteral("Orientation"), s.orientation},
            {QStringLiteral("thumbimage"), thumbnail}};
}

bool openCatalog(OVNDatabaseAccess &db, const QString &path)
{
    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    return db.openDBConnection() && OVNDBHelper::prefDBCreateLocalDatabase(db);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Raw inserts: one prepared statement, bound values, the same batches; ids made beforehand.
double rawInsertSeconds(sqlite3 *db, const QString &category, int count, const QByteArray &thumbnail)
{
    QStringList ids;
    OVNDatabaseAccess idMaker;
    for (int i = 0; i < count; ++i)
        ids.append(idMaker.createNewMID());
    const QByteArray categoryUtf8 = category.toUtf8();
    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db, insertSql, -1, &statement, nullptr);
    const auto text = [statement](int index, const QString &value) {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    };
    for (int i = 0; i < count; ++i) {
        if (i % batchSize == 0)
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        const Sample s = sample(i);
        text(1, ids.at(i));
        sqlite3_bind_text(statement, 2, categoryUtf8.constData(), int(categoryUtf8.size()), SQLITE_STATIC);
        text(3, QStringLiteral("Ann Example"));
        text(4, QStringLiteral("local"));
        text(5, QStringLiteral("Data"));
        text(6, s.name);
        text(7, QStringLiteral("workstation"));
        text(8, QStringLiteral("/home/ann"));
        text(9, s.path);
        sqlite3_bind_int64(statement, 10, s.size);
        sqlite3_bind_int64(statement, 11, s.width);
        sqlite3_bind_int64(statement, 12, s.height);
        text(13, s.filedts);
        text(14, QStringLiteral("2024-06-01 08:00:00 +0200"));
        text(15, s.keywords);
        sqlite3_bind_int64(statement, 16, s.orientation);
        text(17, s.shortdesc);
        text(18, QStringLiteral("Taken on the beach at low tide, early in the morning."));
        text(19, QStringLiteral("Image"));
        sqlite3_bind_int64(statement, 20, s.rating);
        sqlite3_bind_blob(statement, 21, thumbnail.constData(), int(thumbnail.size()), SQLITE_STATIC);
        if (sqlite3_step(statement) != SQLITE_DONE)
            std::fprintf(stderr, "raw insert failed: %s\n", sqlite3_errmsg(db));
        sqlite3_reset(statement);
        if (i % batchSize == batchSize - 1 || i == count - 1)
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_finalize(statement);
    return timer.nsecsElapsed() / 1e9;
}

// Raw listing: the same SELECT stepped to the end. With `readText`, every column is also read as
// text (what a caller needs to have the values), and dropped.
double rawListSeconds(sqlite3 *db, const QString &category, bool readText)
{
    const QByteArray sql = (OVNDBHelper::mediaSelect() + QStringLiteral(" where categoryid=$1")).toUtf8();
    const QByteArray categoryUtf8 = category.toUtf8();
    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr);
    sqlite3_bind_text(statement, 1, categoryUtf8.constData(), int(categoryUtf8.size()), SQLITE_STATIC);
    size_t bytes = 0;
    int rows = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        ++rows;
        if (readText) {
            for (int column = 0; column < 26; ++column) {
                sqlite3_column_text(statement, column);
                bytes += size_t(sqlite3_column_bytes(statement, column));
            }
        }
    }
    sqlite3_finalize(statement);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (rows == 0 || (readText && bytes == 0))
        std::fprintf(stderr, "raw listing read nothing\n");
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    // The allocator set up as the application sets it (freed heap kept for the next listing).
    HeapTuning::keepFreedMemoryForReuse();
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    QTemporaryDir dir;
    const QByteArray thumbnail(512, '\x5c');

    // ---- Inserts ----
    OVNDatabaseAccess db;
    if (!openCatalog(db, dir.filePath(QStringLiteral("layer.sqlite")))) {
        std::fprintf(stderr, "cannot create the catalog: %s\n", qPrintable(db.getLastErrorMessage()));
        return 1;
    }
    const QString category = db.addCategoryListEntry(QStringLiteral("Holiday"));
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
    const double layerInsert = timer.nsecsElapsed() / 1e9;

    OVNDatabaseAccess rawCatalog;
    openCatalog(rawCatalog, dir.filePath(QStringLiteral("raw.sqlite")));
    rawCatalog.runSQLCommand(QStringLiteral("insert into strvcategory (mid, type, displaytag) values ($1, 'C', 'H')"),
                             {category});
    rawCatalog.closeDBConnection();
    sqlite3 *raw = nullptr;
    sqlite3_open(dir.filePath(QStringLiteral("raw.sqlite")).toUtf8().constData(), &raw);
    const double rawInsert = rawInsertSeconds(raw, category, count, thumbnail);

    std::printf("Catalog layer benchmark, %d media records in one collection (%d-record transactions, "
                "512-byte thumbnails, SQLite %s; freed heap kept for reuse, as the application runs)\n\n",
                count, batchSize, sqlite3_libversion());
    std::printf("Insert   layer %9.0f records/s (%.3f s)   raw sqlite3 %9.0f records/s (%.3f s)   "
                "layer/raw time %.2fx   target >= 20000 records/s: %s%s\n",
                count / layerInsert, layerInsert, count / rawInsert, rawInsert, layerInsert / rawInsert,
                count / layerInsert >= 20000 ? "met" : "MISSED", failed ? "  (SOME INSERTS FAILED)" : "");

    // ---- Listing ----
    // Each layer run is timed between raw runs, with the previous list already gone. A second
    // series lists again straight after dropping the previous list, as when the user goes from one
    // large collection to another: then the allocator hands freed memory back and forth with the
    // system, and the figure shows it.
    std::vector<double> layerTimes, rawStepTimes, rawTextTimes, againTimes;
    qsizetype listed = 0;
    for (int r = 0; r < repeats; ++r) {
        {
            timer.restart();
            const MediaList list = db.getMediaList(category);
            layerTimes.push_back(timer.nsecsElapsed() / 1e9);
            listed = list.size();
        }
        rawStepTimes.push_back(rawListSeconds(raw, category, false));
        rawTextTimes.push_back(rawListSeconds(raw, category, true));
    }
    {
        MediaList list = db.getMediaList(category);
        for (int r = 0; r < repeats; ++r) {
            list = MediaList();
            timer.restart();
            list = db.getMediaList(category);
            againTimes.push_back(timer.nsecsElapsed() / 1e9);
        }
    }
    const double layerList = median(layerTimes), rawStep = median(rawStepTimes), rawText = median(rawTextTimes);
    const double again = median(againTimes);
    std::printf("Listing  layer %.3f s (%lld MediaRecords)   raw sqlite3 step only %.3f s   "
                "step + text of every column %.3f s   (medians of %d)\n",
                layerList, static_cast<long long>(listed), rawStep, rawText, repeats);
    std::printf("         layer/raw: %.2fx against stepping, %.2fx against stepping and reading the text   "
                "target <= 1.5x: %s\n",
                layerList / rawStep, layerList / rawText, layerList / rawText <= 1.5 ? "met (text floor)" : "MISSED");
    std::printf("         listing again right after dropping the previous list: %.3f s (%.2fx the text floor)\n",
                again, again / rawText);
    sqlite3_close(raw);

    // ---- Query plans ----
    std::printf("\nQuery plans:\n");
    const std::pair<const char *, QString> statements[] = {
        {"media of a collection", OVNDBHelper::mediaSelect() + QStringLiteral(" where categoryid=$1")},
        {"one record by id", QStringLiteral("select thumbimage from strvfile where mid=$1")},
        {"members of a category set", OVNDBHelper::mediaSetSelect()},
        {"a category by id", QStringLiteral("select mid, displaytag, comment, type from strvcategory where mid=$1")},
    };
    bool fullScan = false;
    for (const auto &[title, sql] : statements) {
        QStringList steps;
        for (const OVNRow &row : db.rowsForQuery(QStringLiteral("explain query plan ") + sql, {category}))
            steps.append(row.value(3).toString());
        const QString plan = steps.join(QStringLiteral("; "));
        fullScan = fullScan || plan.contains(QStringLiteral("SCAN"));
        std::printf("  %-26s %s\n", title, qPrintable(plan));
    }
    std::printf("  full table scans: %s\n", fullScan ? "YES" : "none");
    return failed || fullScan ? 1 : 0;
}
