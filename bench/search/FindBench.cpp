// Times ovn-find (the find sheet's statement compiled from stored settings and run through the
// catalog layer, every entry printed) against the sqlite3 command-line program running the same
// statement, whole process against whole process through bench_pair (output to /dev/null), on a
// catalog of 100,000 records with their metadata rows:
//   - one line "Keywords" contains a word that 10% of the records hold;
//   - three AND/OR lines inside a folder;
//   - one line on the metadata table (the join);
//   - a line no record matches: the whole table read, nothing listed (what starting the program,
//     opening the catalog and reading the search-in list cost beside sqlite3).
// Usage: find_bench [record count [folder to keep the catalog and settings in]]

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>

namespace {

bool exec(sqlite3 *db, const QString &sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "find_bench: %s\n", error);
        sqlite3_free(error);
        return false;
    }
    return true;
}

// The catalog: a folder "Travel" with four collections and a collection "Studio"; records spread
// over the five, each with a metadata row.
bool fill(const QString &path, int count)
{
    OVNDatabaseAccess layer;
    layer.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (!layer.openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(layer))
        return false;
    const QString travel = layer.addCategoryListEntry(QStringLiteral("Travel"), QStringLiteral("F"));
    QStringList collections;
    for (int i = 0; i < 4; ++i) {
        collections << layer.addCategoryListEntry(QStringLiteral("Day %1").arg(i + 1), QStringLiteral("C"));
        layer.setCategoryListEntrySuperMID(collections.last(), travel);
    }
    collections << layer.addCategoryListEntry(QStringLiteral("Studio"), QStringLiteral("C"));
    layer.closeDBConnection();

    sqlite3 *db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    bool ok = exec(db, QStringLiteral("begin"));
    sqlite3_stmt *file = nullptr;
    sqlite3_stmt *exif = nullptr;
    sqlite3_prepare_v2(db,
                       "insert into strvfile (mid, categoryid, displaytag, cataloguedby, volumetype, volumename, "
                       "servername, serverpath, absolutepath, filetype, filesize, imagewidth, imageheight, filedts, "
                       "dts, keywords, shortdesc, fulldesc, rating, orientation) values (?1, ?2, ?3, 'Ann Example', "
                       "'local', 'Data', 'workstation', '/home/ann', ?4, 'Image', 1000000, 6000, 4000, "
                       "'2024-05-01 10:11:12 +0200', '2024-06-01 08:00:00 +0200', ?5, ?6, "
                       "'Taken on the beach at low tide.', ?7, 1)",
                       -1, &file, nullptr);
    sqlite3_prepare_v2(db,
                       "insert into strvexif (mid, CameraMake, CameraModel, DateTime, Width, Height, exiftags) "
                       "values (?1, ?2, 'Model', '2024-05-01 10:11:12', 6000, 4000, 'Make Model')",
                       -1, &exif, nullptr);
    static const char *const makes[] = {"Canon", "Nikon", "Sony", "Fujifilm"};
    for (int i = 0; i < count && ok; ++i) {
        const QByteArray mid = QStringLiteral("2024-01-01 00:00:00:000/M%1").arg(i, 12, 10, QLatin1Char('0')).toUtf8();
        const QByteArray name = QStringLiteral("IMG_%1.JPG").arg(i, 6, 10, QLatin1Char('0')).toUtf8();
        const QByteArray path = "/home/ann/Pictures/" + name;
        const QByteArray title = QStringLiteral("Beach walk number %1").arg(i).toUtf8();
        const QByteArray words = QStringLiteral("sea, sand, holiday, k%1").arg(i % 10).toUtf8();
        sqlite3_bind_text(file, 1, mid.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 2, collections.at(i % 5).toUtf8().constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 3, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 4, path.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 5, title.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 6, words.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(file, 7, i % 6);
        sqlite3_bind_text(exif, 1, mid.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(exif, 2, makes[i % 4], -1, SQLITE_STATIC);
        ok = sqlite3_step(file) == SQLITE_DONE && sqlite3_step(exif) == SQLITE_DONE;
        sqlite3_reset(file);
        sqlite3_reset(exif);
    }
    sqlite3_finalize(file);
    sqlite3_finalize(exif);
    ok = ok && exec(db, QStringLiteral("commit"));
    sqlite3_close(db);
    return ok;
}

// The statement ovn-find prints for the settings, and the number of entries.
QString statementOf(const QString &catalog, const QString &settings, QString *found)
{
    QProcess find;
    find.start(QStringLiteral(OVN_FIND), {catalog, settings});
    find.waitForFinished(-1);
    QString sql;
    for (const QString &line : QString::fromUtf8(find.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("sql: ")))
            sql = line.mid(5);
        else if (line.startsWith(QLatin1String("found: ")))
            *found = line.mid(7);
    }
    return sql;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100000;
    QTemporaryDir temporary;
    const QDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path());
    const QString catalog = dir.filePath(QStringLiteral("find.sqlite"));
    QFile::remove(catalog);
    if (!fill(catalog, count)) {
        std::fprintf(stderr, "find_bench: cannot make the catalog\n");
        return 1;
    }
    const struct {
        const char *title;
        const char *settings;
    } searches[] = {
        {"Keywords contains a word of 10% of the records",
         "{ LINES = ( { FIELDTITLE = Keywords; OPERATORID = 0; VALUE = k3; } ); }"},
        {"Three AND/OR lines in a folder",
         "{ CATALOG = Travel; LINES = ( { FIELDTITLE = Rating; OPERATORID = 1; VALUE = 3; }, "
         "{ COMBOPERATORTITLE = AND; FIELDTITLE = Name; OPERATORID = 2; VALUE = \"5.JPG\"; }, "
         "{ COMBOPERATORTITLE = OR; FIELDTITLE = Keywords; OPERATORID = 0; VALUE = k7; } ); }"},
        {"A metadata-table line (Camera Make is Canon)",
         "{ LINES = ( { FIELDOBJECT = { TABLENAME = strvexif; FIELDNAME = cameramake; OPERATORTYPE = 1; }; "
         "OPERATORID = 3; VALUE = canon; } ); }"},
        {"A line no record matches (Rating equals 9)",
         "{ LINES = ( { FIELDTITLE = Rating; OPERATORID = 0; VALUE = 9; } ); }"},
    };
    int index = 0;
    for (const auto &search : searches) {
        const QString settings = dir.filePath(QStringLiteral("search%1.plist").arg(++index));
        QFile file(settings);
        if (!file.open(QIODevice::WriteOnly) || file.write(search.settings) < 0)
            return 1;
        file.close();
        QString found;
        const QString sql = statementOf(catalog, settings, &found);
        if (sql.isEmpty()) {
            std::fprintf(stderr, "find_bench: ovn-find compiled no statement for %s\n", search.settings);
            return 1;
        }
        std::printf("%s: %s of %d records\nsql: %s\n", search.title, qPrintable(found), count, qPrintable(sql));
        std::fflush(stdout);
        QProcess pair;
        pair.setProcessChannelMode(QProcess::ForwardedChannels);
        pair.start(QStringLiteral(OVN_BENCH_PAIR),
                   {QStringLiteral("--title"), QString::fromUtf8(search.title), QStringLiteral("--a"),
                    QStringLiteral(OVN_FIND), catalog, settings, QStringLiteral("--b"), QStringLiteral("sqlite3"),
                    catalog, sql});
        pair.waitForFinished(-1);
        std::printf("\n");
    }
    return 0;
}
