// Several clients writing into one catalog at once: imports from four processes, licence edits
// from eight connections, and inserts that meet a record id taken already.

#include "CatalogFixture.h"

#include "../support/TestEnvironment.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseTransaction.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTimeZone>

#include <atomic>
#include <functional>
#include <thread>

namespace {

// Every record id a table keys its rows by, over all the catalog's tables that have their own.
QStringList allRecordIds(OVNDatabaseAccess &db)
{
    QStringList tables = {"strvcategory", "strvfile", "strvset"};
    if (db.checkForUserManagerSetup())
        tables += {"strvusers", "strvgroups", "strvgroupusers"};
    QStringList ids;
    for (const QString &table : tables)
        for (const OVNRow &row : db.rowsForQuery(QStringLiteral("select mid from ") + table))
            ids.append(row.value(0).toString());
    return ids;
}

} // namespace

class ServerImportTest : public CatalogFixture
{};

INSTANTIATE_TEST_SUITE_P(Server, ServerImportTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

#ifdef OVN_IMPORT_TOOL
TEST_P(ServerImportTest, FourProcessesImportingAtOnceCatalogueEveryFileUnderIdsOfTheirOwn)
{
    constexpr int processes = 4, filesEach = 300;
    const std::optional<PgTestServer> server = pgTestServer();
    const QString collection = db.addCategoryListEntry(QStringLiteral("Shared"));
    ASSERT_FALSE(collection.isEmpty());

    QList<QString> folders;
    for (int p = 0; p < processes; ++p) {
        const QString folder = m_dir.filePath(QStringLiteral("card%1").arg(p));
        ASSERT_TRUE(QDir().mkpath(folder));
        for (int i = 0; i < filesEach; ++i) {
            QFile file(QStringLiteral("%1/img%2.ppm").arg(folder).arg(i));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("P6\n4 3\n255\n" + QByteArray(36, char(i)));
        }
        folders.append(folder);
    }

    // The password comes from the environment, never in the command line.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PGPASSWORD"), server->password);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString catalog = QStringLiteral("postgresql://%1@%2:%3/%4")
                                .arg(server->user, server->tcpHost)
                                .arg(server->port)
                                .arg(m_pgDatabase);
    std::vector<std::unique_ptr<QProcess>> imports;
    for (const QString &folder : folders) {
        auto import = std::make_unique<QProcess>();
        import->setProcessEnvironment(environment);
        import->start(QStringLiteral(OVN_IMPORT_TOOL), {QStringLiteral("--quiet"), catalog, collection, folder});
        imports.push_back(std::move(import));
    }
    for (const std::unique_ptr<QProcess> &import : imports) {
        ASSERT_TRUE(import->waitForFinished(120000));
        const QString output = QString::fromUtf8(import->readAllStandardOutput() + import->readAllStandardError());
        EXPECT_EQ(import->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(import->exitCode(), 0) << qPrintable(output);
    }

    EXPECT_EQ(db.getEntryCountForCategory(collection, QStringLiteral("C")), processes * filesEach);
    const QStringList ids = allRecordIds(db);
    EXPECT_EQ(ids.size(), processes * filesEach + 1);
    EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
}
#endif

// Clients that write the first licence field of the same entries at the same moment leave one row
// per entry, and every write is kept.
TEST_P(CatalogFixture, EightClientsEditingLicencesOfTheSameEntriesLeaveOneRowPerEntry)
{
    constexpr int clients = 8, entries = 6;
    const QString collection = db.addCategoryListEntry(QStringLiteral("Roll"));
    QStringList media;
    for (int i = 0; i < entries; ++i)
        media.append(db.addMediaListEntry(importRecord(collection, QStringLiteral("%1.jpg").arg(i))));
    ASSERT_FALSE(media.contains(QString()));

    const QStringList purchasedColumns = {"owner", "ordernumber", "photographer", "licenserestrictions"};
    const QStringList soldColumns = {"customer", "licenserestrictions"};
    std::vector<std::unique_ptr<OVNDatabaseAccess>> connections;
    for (int c = 0; c < clients; ++c)
        connections.push_back(openAnother());
    std::atomic<int> waiting{clients};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            OVNDatabaseAccess &connection = *connections[size_t(c)];
            --waiting;
            while (waiting.load() > 0)
                std::this_thread::yield();
            for (const QString &entry : media) {
                if (!connection.updatePurchasedEntry(entry, purchasedColumns.at(c % 4),
                                                     QStringLiteral("client %1").arg(c))
                    || !connection.updateSoldEntry(entry, soldColumns.at(c % 2), QStringLiteral("client %1").arg(c)))
                    ++failed;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(failed.load(), 0);
    for (const QString &entry : media) {
        for (const char *table : {"strvpurchased", "strvsold"})
            EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select id from %1 where mid=$1").arg(table), {entry}), 1)
                << table;
        const QVariantMap purchased = db.getPurchasedForMediaID(entry);
        for (const QString &column : purchasedColumns)
            EXPECT_TRUE(purchased.value(column).toString().startsWith(QStringLiteral("client"))) << qPrintable(column);
    }
}

// A catalog that holds two licence rows for one entry already reads them as one, each field from
// the newest row that has it, and an update writes both.
TEST_P(CatalogFixture, DuplicateLicenceRowsReadAsOneAndAreUpdatedTogether)
{
    const QString collection = db.addCategoryListEntry(QStringLiteral("Roll"));
    const QString media = db.addMediaListEntry(importRecord(collection, QStringLiteral("a.jpg")));
    ASSERT_TRUE(db.runSQLCommand(
        QStringLiteral("insert into strvpurchased (mid, owner, photographer) values ($1, 'Old owner', 'Pat')"),
        {media}));
    ASSERT_TRUE(db.runSQLCommand(
        QStringLiteral("insert into strvpurchased (mid, owner, licensetype) values ($1, 'New owner', 2)"), {media}));
    QVariantMap purchased = db.getPurchasedForMediaID(media);
    EXPECT_EQ(purchased.value(QStringLiteral("owner")).toString(), QStringLiteral("New owner"));
    EXPECT_EQ(purchased.value(QStringLiteral("photographer")).toString(), QStringLiteral("Pat"));
    EXPECT_EQ(purchased.value(QStringLiteral("licensetype")).toString(), QStringLiteral("2"));
    EXPECT_EQ(purchased.value(QStringLiteral("ordernumber")).toString(), QString());

    ASSERT_TRUE(db.updatePurchasedEntry(media, QStringLiteral("photographer"), QStringLiteral("Sam")));
    ASSERT_TRUE(db.updatePurchasedEntry(media, QStringLiteral("owner"), QStringLiteral("Third owner")));
    EXPECT_EQ(
        db.affectedRowsForQuery(QStringLiteral("select id from strvpurchased where mid=$1 and owner='Third owner' "
                                               "and photographer='Sam'"),
                                {media}),
        2);
    purchased = db.getPurchasedForMediaID(media);
    EXPECT_EQ(purchased.value(QStringLiteral("owner")).toString(), QStringLiteral("Third owner"));
    EXPECT_EQ(purchased.value(QStringLiteral("photographer")).toString(), QStringLiteral("Sam"));
}

// Every insert that makes a record id takes another when the one it made is taken (by a client
// that made ids with the same machine part), instead of losing the entry.
TEST_P(CatalogFixture, AnInsertThatMeetsATakenIdTakesAnotherOne)
{
    const QString collection = db.addCategoryListEntry(QStringLiteral("Roll"));
    const QString set = db.addCategoryListEntry(QStringLiteral("Set"), QStringLiteral("S"));
    const QString media = db.addMediaListEntry(importRecord(collection, QStringLiteral("a.jpg")));
    ASSERT_FALSE(media.isEmpty());
    QString user, group;
    if (isPostgres()) {
        ASSERT_TRUE(OVNDBHelper::prefDBCreatePostgreSQLUserManagerTables(db));
        user = db.addUserEntry(QStringLiteral("Ann"), QStringLiteral("ann"), {}, {}, {});
        group = db.addGroupEntry(QStringLiteral("Staff"), {}, {});
    }

    struct Case {
        const char *table;
        const char *takenRow; // the values after the id
        std::function<QString(OVNDatabaseAccess &)> insert;
    };
    const QList<Case> cases = {
        {"strvcategory (mid, type, displaytag)", "'C', 'taken'",
         [](OVNDatabaseAccess &c) { return c.addCategoryListEntry(QStringLiteral("New")); }},
        {"strvfile (mid, categoryid, displaytag, absolutepath, filedts, dts)",
         "'CAT', 'taken', '/taken', '2024-01-01 00:00:00', '2024-01-01 00:00:00'",
         [&](OVNDatabaseAccess &c) { return c.addMediaListEntry(importRecord(collection, QStringLiteral("b.jpg"))); }},
        {"strvset (mid, categorymid, filemid)", "'x', 'y'",
         [&](OVNDatabaseAccess &c) { return c.addEntryToImageSet(media, set); }},
        {"strvusers (mid, name)", "'taken'",
         [](OVNDatabaseAccess &c) { return c.addUserEntry(QStringLiteral("Bob"), QStringLiteral("bob"), {}, {}, {}); }},
        {"strvgroups (mid, name)", "'taken'",
         [](OVNDatabaseAccess &c) { return c.addGroupEntry(QStringLiteral("Editors"), {}, {}); }},
        {"strvgroupusers (mid, groupmid, usermid)", "'x', 'y'",
         [&](OVNDatabaseAccess &c) { return c.addUserToGroup(user, group); }},
    };
    for (const Case &test : cases) {
        const QString table = QString::fromLatin1(test.table);
        if (table.startsWith(QLatin1String("strvg")) || table.startsWith(QLatin1String("strvu"))) {
            if (!isPostgres())
                continue;
        }
        // Take every id that this process hands out over the next five seconds.
        std::unique_ptr<OVNDatabaseAccess> client = openAnother();
        const QString last = client->createNewMID();
        const QString machinePart = last.section(QLatin1Char('/'), 1);
        const QDateTime wall = QDateTime::fromString(last.left(23), QStringLiteral("yyyy-MM-dd HH:mm:ss:zzz"));
        const qint64 lastTime = QDateTime(wall.date(), wall.time(), QTimeZone::utc()).toMSecsSinceEpoch();
        QStringList rows;
        QVariantList taken;
        for (int ms = 1; ms <= 5000; ++ms) {
            taken.append(OVNDatabaseAccess::recordIdFor(lastTime + ms, machinePart));
            rows.append(
                QStringLiteral("($%1, %2)").arg(ms).arg(QString::fromLatin1(test.takenRow).replace("CAT", collection)));
        }
        ASSERT_TRUE(
            db.runSQLCommand(QStringLiteral("insert into %1 values %2").arg(table, rows.join(QLatin1Char(','))), taken))
            << qPrintable(db.getLastErrorMessage());

        const QString id = test.insert(*client);
        EXPECT_FALSE(id.isEmpty()) << test.table << ": " << qPrintable(client->getLastErrorMessage());
        EXPECT_FALSE(taken.contains(id)) << test.table;
        EXPECT_NE(id.section(QLatin1Char('/'), 1), machinePart) << test.table << ": the taken id was not met";
    }
}
