// catalogdb_list: catalogs of real-size entries for the benchmarks (`ovn-catalog CATALOG list ID`
// is the listing they time beside the sqlite3 and psql command-line programs).
//
//   catalogdb_list make FILE COUNT     a new catalog file with a collection "Bench" of COUNT entries
//                                      (thumbnails of real size) and a collection "One" of one entry;
//                                      prints "Bench ID" and "One ID"
//   catalogdb_list startup FILE COUNT  a catalog of COUNT entries as a studio keeps it: collections
//                                      of 1,000 entries (ten at the top, the rest in folders of 20),
//                                      three sets of 1,000 members, a metadata row per entry;
//                                      made in one transaction; prints "Selected ID", the first
//                                      collection
//   catalogdb_list sql ID              the statement the layer runs for that listing
#include "BenchThumbnails.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/HeapTuning.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <sqlite3.h>

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: catalogdb_list make FILE COUNT | sql ID\n");
    return 2;
}

QVariantMap record(const QString &category, int i, const QByteArray &thumbnail)
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
            {QStringLiteral("imagewidth"), 4000},
            {QStringLiteral("imageheight"), 3000},
            {QStringLiteral("filedts"), QStringLiteral("2024-05-%1 10:%2:%3 +0200")
                                            .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                                            .arg(i % 60, 2, 10, QLatin1Char('0'))
                                            .arg((i / 60) % 60, 2, 10, QLatin1Char('0'))},
            {QStringLiteral("dts"), QStringLiteral("2024-06-01 08:00:00 +0200")},
            {QStringLiteral("keywords"), QStringLiteral("Beach walk number %1").arg(i)},
            {QStringLiteral("shortdesc"), QStringLiteral("sea, sand, holiday, family, %1").arg(i % 97)},
            {QStringLiteral("fulldesc"), QStringLiteral("Taken on the beach at low tide, early in the morning.")},
            {QStringLiteral("filetype"), QStringLiteral("Image")},
            {QStringLiteral("rating"), i % 6},
            {QStringLiteral("Orientation"), i % 2 ? 1 : 6},
            {QStringLiteral("thumbimage"), thumbnail}};
}

int make(const QString &file, int count)
{
    if (QFileInfo::exists(file)) {
        std::fprintf(stderr, "catalogdb_list: %s exists\n", qPrintable(file));
        return 1;
    }
    OVNDatabaseAccess db;
    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), file);
    if (!db.openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(db)) {
        std::fprintf(stderr, "catalogdb_list: %s\n", qPrintable(db.getLastErrorMessage()));
        return 1;
    }
    // 97 different thumbnails in turn: making one per row would take longer than the listing.
    QList<QByteArray> thumbnails;
    for (int i = 0; i < 97; ++i)
        thumbnails.append(BenchThumbnails::photoThumbnail(i));
    const QString bench = db.addCategoryListEntry(QStringLiteral("Bench"), QStringLiteral("C"));
    const QString one = db.addCategoryListEntry(QStringLiteral("One"), QStringLiteral("C"));
    for (int i = 0; i < count; ++i) {
        if (i % 1000 == 0)
            db.beginTransaction();
        if (db.addMediaListEntry(record(bench, i, thumbnails.at(i % thumbnails.size()))).isEmpty()) {
            std::fprintf(stderr, "catalogdb_list: %s\n", qPrintable(db.getLastErrorMessage()));
            return 1;
        }
        if (i % 1000 == 999 || i == count - 1)
            db.commitTransaction();
    }
    db.addMediaListEntry(record(one, count, thumbnails.first()));
    std::printf("Bench %s\nOne %s\n", qPrintable(bench), qPrintable(one));
    return 0;
}

// A prepared statement run once per row of values (text, or blob when the value is a byte array).
class Insert
{
public:
    Insert(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK)
            m_statement = nullptr;
    }
    ~Insert() { sqlite3_finalize(m_statement); }
    bool ok() const { return m_statement; }
    bool run(const QList<QVariant> &values)
    {
        sqlite3_reset(m_statement);
        for (int i = 0; i < values.size(); ++i) {
            const QVariant &value = values.at(i);
            if (value.typeId() == QMetaType::QByteArray) {
                const QByteArray bytes = value.toByteArray();
                sqlite3_bind_blob(m_statement, i + 1, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            } else if (value.typeId() == QMetaType::Int) {
                sqlite3_bind_int(m_statement, i + 1, value.toInt());
            } else {
                const QByteArray text = value.toString().toUtf8();
                sqlite3_bind_text(m_statement, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            }
        }
        return sqlite3_step(m_statement) == SQLITE_DONE;
    }

private:
    sqlite3_stmt *m_statement = nullptr;
};

int startup(const QString &file, int count)
{
    if (QFileInfo::exists(file)) {
        std::fprintf(stderr, "catalogdb_list: %s exists\n", qPrintable(file));
        return 1;
    }
    {
        OVNDatabaseAccess schema;
        schema.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), file);
        if (!schema.openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(schema)) {
            std::fprintf(stderr, "catalogdb_list: %s\n", qPrintable(schema.getLastErrorMessage()));
            return 1;
        }
    }
    sqlite3 *db = nullptr;
    if (sqlite3_open(file.toUtf8().constData(), &db) != SQLITE_OK) {
        std::fprintf(stderr, "catalogdb_list: cannot open %s\n", qPrintable(file));
        return 1;
    }
    sqlite3_exec(db, "pragma journal_mode=off; pragma synchronous=off; begin", nullptr, nullptr, nullptr);
    bool ok = true;
    {
        Insert category(db,
                        "insert into strvcategory (mid, supermid, type, displaytag, comment) values (?, ?, ?, ?, '')");
        Insert file(db, "insert into strvfile (mid, categoryid, displaytag, cataloguedby, volumetype, volumename, "
                        "servername, serverpath, absolutepath, thumbimage, filetype, filesize, imagewidth, "
                        "imageheight, filedts, dts, keywords, shortdesc, fulldesc, rating, orientation) "
                        "values (?, ?, ?, 'Ann Example', 'local', 'Data', 'workstation', '/home/ann', ?, ?, "
                        "'Image', ?, 4000, 3000, ?, '2024-06-01 08:00:00 +0200', ?, ?, "
                        "'Taken on the beach at low tide, early in the morning.', ?, ?)");
        Insert exif(db, "insert into strvexif (mid, CameraMake, CameraModel, DateTime, Height, Width, Orientation, "
                        "ISOEquivalent) values (?, 'Canon', 'Canon EOS 5D Mark IV', ?, 3000, 4000, ?, 200)");
        Insert member(db, "insert into strvset (mid, categorymid, filemid) values (?, ?, ?)");
        ok = category.ok() && file.ok() && exif.ok() && member.ok();
        QList<QByteArray> thumbnails;
        for (int i = 0; i < 97; ++i)
            thumbnails.append(BenchThumbnails::photoThumbnail(i));
        const auto id = [](char kind, int n) {
            return QStringLiteral("2024-06-01 08:00:00:%1/M%2BENCH")
                .arg(n, 7, 10, QLatin1Char('0'))
                .arg(QLatin1Char(kind));
        };
        constexpr int perCollection = 1000, atTop = 10, perFolder = 20;
        const int collections = (count + perCollection - 1) / perCollection;
        for (int f = 0; ok && f * perFolder < collections - atTop; ++f)
            ok = category.run({id('F', f), QString(), QStringLiteral("F"), QStringLiteral("Year %1").arg(2000 + f)});
        for (int c = 0; ok && c < collections; ++c) {
            const QString parent = c < atTop ? QString() : id('F', (c - atTop) / perFolder);
            ok = category.run({id('C', c), parent, QStringLiteral("C"),
                               QStringLiteral("Roll %1").arg(c + 1, 5, 10, QLatin1Char('0'))});
        }
        for (int s = 0; ok && s < 3; ++s)
            ok = category.run({id('S', s), QString(), QStringLiteral("S"), QStringLiteral("Selection %1").arg(s + 1)});
        for (int i = 0; ok && i < count; ++i) {
            const QString name = QStringLiteral("IMG_%1.JPG").arg(i, 7, 10, QLatin1Char('0'));
            const QString date = QStringLiteral("2024-05-%1 10:%2:%3 +0200")
                                     .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                                     .arg(i % 60, 2, 10, QLatin1Char('0'))
                                     .arg((i / 60) % 60, 2, 10, QLatin1Char('0'));
            ok = file.run({id('E', i), id('C', i / perCollection), name,
                           QStringLiteral("/home/ann/Pictures/%1/Roll %2/").arg(2000 + i / 20000).arg(i / perCollection)
                               + name,
                           thumbnails.at(i % thumbnails.size()), QString::number(1000000 + i), date,
                           QStringLiteral("Beach walk number %1").arg(i),
                           QStringLiteral("sea, sand, holiday, family, %1").arg(i % 97), i % 6, i % 2 ? 1 : 6})
                 && exif.run({id('E', i), date.left(19), i % 2 ? 1 : 6});
            // Each set links every count/1000-th entry, so its members come from every collection.
            if (ok && i % std::max(1, count / perCollection) == 0)
                for (int s = 0; ok && s < 3; ++s)
                    ok = member.run({id('M', i * 3 + s), id('S', s), id('E', i)});
        }
        std::printf("Selected %s\n", qPrintable(id('C', 0)));
    }
    if (!ok)
        std::fprintf(stderr, "catalogdb_list: %s\n", sqlite3_errmsg(db));
    ok = ok && sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    HeapTuning::keepFreedMemoryForReuse(); // as the application runs
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 3 && args.at(0) == QLatin1String("make"))
        return make(args.at(1), std::max(1, args.at(2).toInt()));
    if (args.size() == 2 && args.at(0) == QLatin1String("sql")) {
        std::printf("%s\n", qPrintable(OVNDBHelper::mediaSelect() + QStringLiteral(" where categoryid=")
                                       + OVNDBHelper::quotedText(args.at(1))));
        return 0;
    }
    if (args.size() == 3 && args.at(0) == QLatin1String("startup"))
        return startup(args.at(1), std::max(1000, args.at(2).toInt()));
    return usage();
}
