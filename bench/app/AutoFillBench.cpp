// Auto-fill of a whole collection: append of three record fields and one purchased-licence field
// to every entry of a collection of 10,000 in a catalog file, through the catalog window's apply
// (no thumbnail selected), beside the sqlite3 program running the same writes (each entry's three
// field updates and its licence row's update or insert) in one transaction on a copy of the same
// catalog. Both sides append again on every run, so each run does the same work. A B A B after a
// warm-up pair; prints each side's median and the median pair ratio (goal: apply under 1.5 s and
// at most 3 times the sqlite3 program).
//
// Usage: bench_autofill [ENTRIES] [PAIRS]      (defaults 10000, 7)
#include "BenchPair.h"

#include "app/OVNAssetManager.h"
#include "app/OVNRegisteredDefaults.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

std::shared_ptr<OVNDatabaseAccess> openCatalog(const QString &path, bool create)
{
    auto connection = std::make_shared<OVNDatabaseAccess>();
    connection->setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    if (!connection->openDBConnection() || (create && !OVNDBHelper::prefDBCreateLocalDatabase(*connection))) {
        std::fprintf(stderr, "cannot open the catalog: %s\n", qPrintable(connection->getLastErrorMessage()));
        std::exit(1);
    }
    return connection;
}

// The statements the apply makes, written out for the sqlite3 program.
QString sqliteScript(const QStringList &mids)
{
    QString script = QStringLiteral("begin;\n");
    const auto append = [](const char *column, const char *value) {
        return QStringLiteral("%1 = case when coalesce(%1, '') = '' then '%2' else %1 || ' %2' end")
            .arg(QLatin1String(column), QLatin1String(value));
    };
    for (const QString &mid : mids) {
        const QString where = QStringLiteral(" where mid = ") + OVNDBHelper::quotedText(mid) + QStringLiteral(";\n");
        for (const auto &field : {std::pair{"keywords", "sunset"}, {"shortdesc", "dune"}, {"fulldesc", "shot"}})
            script += QStringLiteral("update strvfile set ") + append(field.first, field.second) + where;
        script += QStringLiteral("update strvpurchased set ") + append("owner", "Ann O''Neil") + where;
        script += QStringLiteral("insert into strvpurchased (mid, owner) select %1, 'Ann O''Neil' where not exists "
                                 "(select 1 from strvpurchased where mid = %1);\n")
                      .arg(OVNDBHelper::quotedText(mid));
    }
    return script + QStringLiteral("commit;\n");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int pairs = argc > 2 ? std::atoi(argv[2]) : 7;
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());

    const QString ours = scratch.filePath(QStringLiteral("Ours.sqlite"));
    const QString theirs = scratch.filePath(QStringLiteral("Theirs.sqlite"));
    QStringList mids;
    QString collection;
    {
        const std::shared_ptr<OVNDatabaseAccess> connection = openCatalog(ours, true);
        collection = connection->addCategoryListEntry(QStringLiteral("Shoot"), QStringLiteral("C"));
        connection->beginTransaction();
        for (int i = 0; i < count; ++i) {
            const QVariantMap record = {
                {QStringLiteral("categoryid"), collection},
                {QStringLiteral("displaytag"), QStringLiteral("IMG_%1.JPG").arg(i)},
                {QStringLiteral("absolutepath"), QStringLiteral("/photos/Shoot/IMG_%1.JPG").arg(i)},
                {QStringLiteral("filetype"), QStringLiteral("Image")},
                {QStringLiteral("keywords"), i % 2 ? QStringLiteral("Beach") : QString()},
            };
            mids.append(connection->addMediaListEntry(record));
        }
        connection->commitTransaction();
    }
    QFile::copy(ours, theirs);
    const QString scriptPath = scratch.filePath(QStringLiteral("append.sql"));
    {
        QFile script(scriptPath);
        script.open(QIODevice::WriteOnly);
        script.write(sqliteScript(mids).toUtf8());
    }

    UserDefaults::standard().registerDefaults(OVNRegisteredDefaults::startupDefaults(QRectF(0, 0, 1280, 800)));
    const std::shared_ptr<OVNDatabaseAccess> connection = openCatalog(ours, false);
    QPointer<OVNAssetManager> window = new OVNAssetManager;
    window->setDatabaseConnection(connection);
    window->windowControllerDidLoadNib();
    window->selectCategory(collection);
    std::printf("%d entries shown in the window\n", window->mediaView()->count());

    AnnotationChanges changes;
    changes.info = {{QStringLiteral("keywords"), QStringLiteral("sunset")},
                    {QStringLiteral("shortdesc"), QStringLiteral("dune")},
                    {QStringLiteral("fulldesc"), QStringLiteral("shot")}};
    changes.purchased = {{QStringLiteral("owner"), QStringLiteral("Ann O'Neil")}};
    const auto apply = [&] {
        const auto summary = window->applyAnnotationChanges(changes, AnnotationChanges::Mode::Append, false, false);
        return summary.failed == 0 && summary.written == 4 * count;
    };
    const auto cli = [&] {
        QProcess sqlite;
        sqlite.setStandardInputFile(scriptPath);
        sqlite.start(QStringLiteral("sqlite3"), {theirs});
        return sqlite.waitForFinished(-1) && sqlite.exitStatus() == QProcess::NormalExit && sqlite.exitCode() == 0;
    };
    BenchPair::Settings settings;
    settings.title = "append of 3 record fields and 1 purchased field to every entry of one collection";
    settings.pairs = pairs;
    settings.items = count;
    const BenchPair::Outcome outcome = BenchPair::compareCalls(
        "catalog window apply", apply, "sqlite3 " + theirs.toStdString() + " < append.sql", cli, settings);
    std::printf("apply median %.3f s (goal: under 1.5 s); sqlite3 median %.3f s; median ratio %.2f (goal: at most 3)\n",
                outcome.a.medianMs / 1000, outcome.b.medianMs / 1000, outcome.ratio);
    const QString sample = connection->getMediaListEntryForMediaID(mids.value(1), QStringLiteral("keywords"));
    std::printf("entry 2 keywords after the runs: %.60s...\n", qPrintable(sample));
    delete window.data();
    // A goal missed fails the benchmark.
    return outcome.ok && outcome.a.medianMs < 1500 && outcome.ratio <= 3 ? 0 : 1;
}
