// catalogdb_list: catalogs of real-size entries for the benchmarks (`ovn-catalog CATALOG list ID`
// is the listing they time beside the sqlite3 and psql command-line programs).
//
//   catalogdb_list make FILE COUNT     a new catalog file with a collection "Bench" of COUNT entries
//                                      (thumbnails of real size) and a collection "One" of one entry;
//                                      prints "Bench ID" and "One ID"
//   catalogdb_list sql ID              the statement the layer runs for that listing
#include "BenchThumbnails.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/HeapTuning.h"

#include <QCoreApplication>
#include <QFileInfo>

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
    return usage();
}
