// The catalog both search benchmarks search: a folder "Travel" of collections "Day 1" ... and a
// collection "Studio", records spread over them in turn, with words that 10% of the records hold.
#pragma once

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <QString>
#include <QStringList>

#include <sqlite3.h>

#include <cstdio>

namespace SearchBenchCatalog {

inline bool exec(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", error);
        sqlite3_free(error);
        return false;
    }
    return true;
}

// `days` collections in the folder; with `metadata`, each record also has a metadata row naming
// one of four camera makes.
inline bool fill(const QString &path, int count, int days, bool metadata)
{
    OVNDatabaseAccess layer;
    layer.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (!layer.openDBConnection() || !OVNDBHelper::prefDBCreateLocalDatabase(layer))
        return false;
    const QString travel = layer.addCategoryListEntry(QStringLiteral("Travel"), QStringLiteral("F"));
    QStringList collections;
    for (int i = 0; i < days; ++i) {
        collections << layer.addCategoryListEntry(QStringLiteral("Day %1").arg(i + 1), QStringLiteral("C"));
        layer.setCategoryListEntrySuperMID(collections.last(), travel);
    }
    collections << layer.addCategoryListEntry(QStringLiteral("Studio"), QStringLiteral("C"));
    layer.closeDBConnection();

    sqlite3 *db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    bool ok = exec(db, "begin");
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
    if (metadata)
        sqlite3_prepare_v2(db,
                           "insert into strvexif (mid, CameraMake, CameraModel, DateTime, Width, Height, exiftags) "
                           "values (?1, ?2, 'Model', '2024-05-01 10:11:12', 6000, 4000, 'Make Model')",
                           -1, &exif, nullptr);
    static const char *const makes[] = {"Canon", "Nikon", "Sony", "Fujifilm"};
    for (int i = 0; i < count && ok; ++i) {
        const QByteArray mid = QStringLiteral("2024-01-01 00:00:00:000/M%1").arg(i, 12, 10, QLatin1Char('0')).toUtf8();
        const QByteArray name = QStringLiteral("IMG_%1.JPG").arg(i, 6, 10, QLatin1Char('0')).toUtf8();
        const QByteArray filePath = "/home/ann/Pictures/" + name;
        const QByteArray title = QStringLiteral("Beach walk number %1").arg(i).toUtf8();
        const QByteArray words = QStringLiteral("sea, sand, holiday, k%1").arg(i % 10).toUtf8();
        const QByteArray category = collections.at(i % collections.size()).toUtf8();
        sqlite3_bind_text(file, 1, mid.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 2, category.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 3, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 4, filePath.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 5, title.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(file, 6, words.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(file, 7, i % 6);
        ok = sqlite3_step(file) == SQLITE_DONE;
        sqlite3_reset(file);
        if (exif && ok) {
            sqlite3_bind_text(exif, 1, mid.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(exif, 2, makes[i % 4], -1, SQLITE_STATIC);
            ok = sqlite3_step(exif) == SQLITE_DONE;
            sqlite3_reset(exif);
        }
    }
    sqlite3_finalize(file);
    sqlite3_finalize(exif);
    ok = ok && exec(db, "commit");
    sqlite3_close(db);
    return ok;
}

} // namespace SearchBenchCatalog
