// Re-linking many entries: 10,000 entries of a catalog file pointed at a folder holding their
// files, as the catalog window's re-link does it (one transaction, a savepoint and a file check
// each, privileges per category), against the sqlite3 program running the same updates in one
// transaction. Both sides are whole processes, alternated A B A B by BenchPair.
//
//   bench_relink [count]                  (default 10000)
//   bench_relink --relink CATALOG FOLDER  (one side: re-links and prints its own time)
#include "catalogdb/OVNPrivilegeLevel.h"
#include "app/OVNRelink.h"
#include "BenchCatalog.h"
#include "BenchPair.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int relinkSide(const QString &catalog, const QString &folder)
{
    QElapsedTimer timer;
    timer.start();
    OVNDatabaseAccess db;
    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), catalog);
    if (!db.openDBConnection())
        return 1;
    QList<OVNRelink::Entry> entries;
    for (const OVNRow &row :
         db.rowsForQuery(QStringLiteral("SELECT mid, absolutepath, categoryid FROM strvfile ORDER BY mid")))
        entries.append({row.value(0).toString(), row.value(1).toString(), row.value(2).toString()});
    QHash<QString, bool> writable;
    const auto mayWrite = [&](const QString &owner) {
        auto known = writable.constFind(owner);
        if (known == writable.constEnd())
            known = writable.insert(owner, OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readWrite(),
                                                                        db.getCategoryAccessPrivilegesForMID(owner)));
        return *known;
    };
    const OVNRelink::Result result = OVNRelink::toFolder(db, entries, folder, mayWrite);
    std::fprintf(stderr, "  relink side: %lld entries re-linked, %lld failed, %.0f ms in the process\n",
                 static_cast<long long>(result.relinked.size()), static_cast<long long>(result.failedNames.size()),
                 double(timer.nsecsElapsed()) / 1e6);
    return result.ok && result.failedNames.isEmpty() ? 0 : 1;
}

QString literal(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.value(1) == QLatin1String("--relink"))
        return relinkSide(arguments.value(2), arguments.value(3));
    const int count = arguments.size() > 1 ? std::max(1, arguments.value(1).toInt()) : 10000;

    QTemporaryDir scratch;
    const QString catalog = scratch.filePath(QStringLiteral("MediaDB.sqlite"));
    const QString folder = scratch.filePath(QStringLiteral("moved"));
    QDir().mkpath(folder);
    {
        const std::shared_ptr<OVNDatabaseAccess> made = BenchCatalog::makeCatalog(catalog);
        OVNDatabaseAccess &db = *made;
        const QString collection = db.addCategoryListEntry(QStringLiteral("Shots"), QStringLiteral("C"));
        db.beginTransaction();
        QString sql = QStringLiteral("BEGIN;\n");
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
            const QString mid =
                db.addMediaListEntry({{QStringLiteral("categoryid"), collection},
                                      {QStringLiteral("displaytag"), name},
                                      {QStringLiteral("absolutepath"), QStringLiteral("/photos/") + name},
                                      {QStringLiteral("filetype"), QStringLiteral("Image")}});
            QFile file(folder + QLatin1Char('/') + name);
            if (mid.isEmpty() || !file.open(QIODevice::WriteOnly)) {
                std::fprintf(stderr, "cannot fill the catalog\n");
                return 1;
            }
            sql += QStringLiteral("UPDATE strvfile SET absolutepath = %1 WHERE mid = %2;\n")
                       .arg(literal(folder + QLatin1Char('/') + name), literal(mid));
        }
        sql += QStringLiteral("COMMIT;\n");
        db.commitTransaction();
        QFile script(scratch.filePath(QStringLiteral("updates.sql")));
        if (!script.open(QIODevice::WriteOnly) || script.write(sql.toUtf8()) < 0)
            return 1;
    }

    BenchPair::Settings settings;
    settings.title = QStringLiteral("re-link %1 entries to a folder: Ostrevan against sqlite3 with the same updates")
                         .arg(count)
                         .toStdString();
    settings.items = count;
    const BenchPair::Outcome outcome = BenchPair::comparePrograms(
        {arguments.first().toStdString(), "--relink", catalog.toStdString(), folder.toStdString()},
        {"sqlite3", catalog.toStdString(), ".read " + scratch.filePath(QStringLiteral("updates.sql")).toStdString()},
        settings);
    if (!outcome.ok)
        return 1;
    std::printf("re-link %d entries: %.0f ms (goal: under 2000 ms), sqlite3 %.0f ms, ratio %.2f (goal: at most 3)\n",
                count, outcome.a.medianMs, outcome.b.medianMs, outcome.ratio);
    // A goal missed fails the benchmark.
    return outcome.a.medianMs < 2000 && outcome.ratio <= 3 ? 0 : 1;
}
