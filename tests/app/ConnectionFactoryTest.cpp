#include "../support/ScriptedAlertPresenter.h"
#include "../support/TestEnvironment.h"
#include "../catalogdb/FullDisk.h"
#include "app/OVNConnectionFactory.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QWidget>

#include <libpq-fe.h>

#include <cstdio>
#include <thread>

namespace {

class ConnectionFactoryTest : public testing::Test
{
protected:
    void SetUp() override
    {
        alerts = ScriptedAlertPresenter::install();
        // Parents missing too, as in a new account without a Documents folder.
        folder = home.filePath(QStringLiteral("Documents/Ostrevan"));
    }

    void useVendor(const QString &vendor) { defaults.setString(vendor, QStringLiteral("DBVendor")); }

    QTemporaryDir home;
    QString folder;
    UserDefaults defaults;
    ScriptedAlertPresenter *alerts = nullptr;
};

TEST_F(ConnectionFactoryTest, TheFirstLocalCatalogIsCreatedWithItsTablesAndTheServerSettingsCleared)
{
    for (const char *key : {"DBHost", "DBUser", "DBPassword", "DBDatabase"})
        defaults.setString(QStringLiteral("old"), QString::fromLatin1(key));
    useVendor(QStringLiteral("Integrated"));
    OVNConnectionFactory factory(defaults, folder);
    EXPECT_EQ(factory.catalogFilePath(), folder + QStringLiteral("/MediaDB.sqlite"));

    std::unique_ptr<OVNDatabaseAccess> connection = factory.createAndOpenDBConnection();
    ASSERT_NE(connection, nullptr);
    EXPECT_TRUE(connection->isDBConnectionActive());
    EXPECT_EQ(connection->dbVendor(), QStringLiteral("Integrated"));
    EXPECT_EQ(connection->dbDatabase(), factory.catalogFilePath());
    EXPECT_TRUE(QFileInfo(factory.catalogFilePath()).isFile());
    EXPECT_TRUE(connection->checkForDatabaseSetup());
    EXPECT_TRUE(alerts->shown().isEmpty());
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("DBVendor")), QStringLiteral("Integrated"));
    for (const char *key : {"DBHost", "DBUser", "DBPassword", "DBDatabase"})
        EXPECT_EQ(defaults.stringForKey(QString::fromLatin1(key)), QString()) << key;

    // The same catalog again: opened as it is, the settings untouched.
    const QString category = connection->addCategoryListEntry(QStringLiteral("Holiday"));
    connection.reset();
    defaults.setString(QStringLiteral("kept"), QStringLiteral("DBHost"));
    connection = factory.createAndOpenDBConnection();
    ASSERT_TRUE(connection && connection->isDBConnectionActive());
    EXPECT_TRUE(connection->getCategoryForMID(category).has_value());
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("DBHost")), QStringLiteral("kept"));
}

// "-DBVendor Integrated" on the command line opens (and if need be creates) the local catalog for
// this run; the server the user chose in the preferences stays chosen, its settings kept.
TEST_F(ConnectionFactoryTest, AVendorFromTheCommandLineKeepsTheSavedServerSettings)
{
    QTemporaryDir config;
    const QString file = config.filePath(QStringLiteral("preferences.plist"));
    {
        UserDefaults saved(file);
        saved.setString(QStringLiteral("PostgreSQL"), QStringLiteral("DBVendor"));
        saved.setString(QStringLiteral("db.example.org"), QStringLiteral("DBHost"));
    }
    UserDefaults run(file);
    run.setArguments({QStringLiteral("ostrevan"), QStringLiteral("-DBVendor"), QStringLiteral("Integrated")});
    OVNConnectionFactory factory(run, folder);
    std::unique_ptr<OVNDatabaseAccess> connection = factory.createAndOpenDBConnection();
    ASSERT_TRUE(connection && connection->isDBConnectionActive());
    EXPECT_EQ(connection->dbVendor(), QStringLiteral("Integrated"));

    UserDefaults next(file);
    EXPECT_EQ(next.stringForKey(QStringLiteral("DBVendor")), QStringLiteral("PostgreSQL"));
    EXPECT_EQ(next.stringForKey(QStringLiteral("DBHost")), QStringLiteral("db.example.org"));

    // Also with no choice saved: the vendor of the command line counts for its run only and is
    // never saved (a first start stores the program's own choice, the local catalog, before).
    QTemporaryDir fresh;
    const QString freshFile = fresh.filePath(QStringLiteral("preferences.plist"));
    UserDefaults first(freshFile);
    first.setArguments({QStringLiteral("ostrevan"), QStringLiteral("-DBVendor"), QStringLiteral("Integrated")});
    OVNConnectionFactory again(first, folder);
    ASSERT_TRUE(again.createAndOpenDBConnection());
    EXPECT_FALSE(UserDefaults(freshFile).persistentDomain().contains(QStringLiteral("DBVendor")));
}

TEST_F(ConnectionFactoryTest, AnEmptyCatalogFileGetsItsTables)
{
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile empty(folder + QStringLiteral("/MediaDB.sqlite"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    useVendor(QStringLiteral("Integrated"));
    defaults.setString(QStringLiteral("kept"), QStringLiteral("DBHost"));

    auto connection = OVNConnectionFactory(defaults, folder).createAndOpenDBConnection();
    ASSERT_TRUE(connection && connection->isDBConnectionActive());
    EXPECT_TRUE(connection->checkForDatabaseSetup());
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("DBHost")), QStringLiteral("kept"));
}

TEST_F(ConnectionFactoryTest, ACatalogThatCannotOpenIsReportedAndLeftInactive)
{
    // A folder where the file should be.
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/MediaDB.sqlite")));
    useVendor(QStringLiteral("Integrated"));
    OVNConnectionFactory factory(defaults, folder);
    int hookCalls = 0;
    factory.setBeforeAlert([&hookCalls] { ++hookCalls; });

    auto connection = factory.createAndOpenDBConnection();
    ASSERT_NE(connection, nullptr);
    EXPECT_FALSE(connection->isDBConnectionActive());
    ASSERT_EQ(alerts->shown().size(), 1);
    const Alert alert = alerts->shown().first();
    EXPECT_EQ(alert.message, QStringLiteral("Database connection failed"));
    // The database layer's own message, naming the file.
    EXPECT_TRUE(alert.informativeText.contains(factory.catalogFilePath())) << qPrintable(alert.informativeText);
    EXPECT_EQ(alert.modality, Alert::Modality::Application);
    EXPECT_EQ(hookCalls, 1);
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("DBVendor")), QStringLiteral("Integrated"));
}

TEST_F(ConnectionFactoryTest, ANewCatalogOnAFullDiskSaysSoAndLeavesNoFileBehind)
{
    useVendor(QStringLiteral("Integrated"));
    for (FullDisk::Kind kind : {FullDisk::Kind::Mounted, FullDisk::Kind::Injected}) {
        SCOPED_TRACE(FullDisk::name(kind));
        FullDisk disk(kind);
        if (disk.folder().isEmpty()) {
            std::printf("the %s variant is skipped: %s\n", FullDisk::name(kind), qPrintable(disk.why()));
            continue;
        }
        disk.fillLeaving(8192);
        OVNConnectionFactory factory(defaults, disk.folder());
        const qsizetype alertsBefore = alerts->shown().size();
        auto connection = factory.createAndOpenDBConnection();
        ASSERT_NE(connection, nullptr);
        EXPECT_FALSE(connection->isDBConnectionActive());
        ASSERT_EQ(alerts->shown().size(), alertsBefore + 1);
        EXPECT_TRUE(alerts->shown().last().informativeText.contains(QStringLiteral("full")))
            << qPrintable(alerts->shown().last().informativeText);
        EXPECT_EQ(QDir(disk.folder()).entryList(QDir::Files), QStringList());

        // With room again the catalog is made as if nothing had happened.
        disk.fillLeaving(-1);
        connection = factory.createAndOpenDBConnection();
        ASSERT_TRUE(connection && connection->isDBConnectionActive());
        EXPECT_TRUE(connection->checkForDatabaseSetup());
    }
}

TEST_F(ConnectionFactoryTest, TheAlertGoesOnThePreferencesWindowOnlyWhileItIsOnScreen)
{
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/MediaDB.sqlite")));
    useVendor(QStringLiteral("Integrated"));
    OVNConnectionFactory factory(defaults, folder);
    QWidget preferences;
    factory.setAlertWindow(&preferences);

    factory.createAndOpenDBConnection();
    preferences.show();
    factory.createAndOpenDBConnection();

    ASSERT_EQ(alerts->shown().size(), 2);
    EXPECT_EQ(alerts->shown().at(0).modality, Alert::Modality::Application);
    EXPECT_EQ(alerts->shown().at(1).modality, Alert::Modality::Window);
    EXPECT_EQ(alerts->shown().at(1).window, &preferences);
}

TEST_F(ConnectionFactoryTest, AWorkerThreadIsNotHeldUpByTheAlert)
{
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/MediaDB.sqlite")));
    useVendor(QStringLiteral("Integrated"));
    OVNConnectionFactory factory(defaults, folder);
    bool hookCalled = false;
    factory.setBeforeAlert([&hookCalled] { hookCalled = true; });

    bool active = true;
    std::thread worker([&] { active = factory.createAndOpenDBConnection()->isDBConnectionActive(); });
    worker.join(); // returns without anyone answering the alert
    EXPECT_FALSE(active);
    EXPECT_FALSE(hookCalled); // the hook touches windows: GUI thread only
    EXPECT_TRUE(processEventsUntil([&] { return alerts->shown().size() == 1; }));
    EXPECT_EQ(alerts->shown().first().message, QStringLiteral("Database connection failed"));
}

TEST_F(ConnectionFactoryTest, VendorsThatNameNoConnectionGiveNoneAndNoAlert)
{
    OVNConnectionFactory factory(defaults, folder);
    for (const char *vendor : {"MySQL", "postgresql", "Oracle", "Integrated "}) {
        useVendor(QString::fromLatin1(vendor));
        EXPECT_EQ(factory.createAndOpenDBConnection(), nullptr) << vendor;
    }
    EXPECT_TRUE(alerts->shown().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST_F(ConnectionFactoryTest, AnEmptyVendorAndOstrevanWSMeanAPostgreSQLServer)
{
    // Nothing listens on this port: the open fails at once.
    defaults.setString(QStringLiteral("127.0.0.1"), QStringLiteral("DBHost"));
    qputenv("PGPORT", "9");
    OVNConnectionFactory factory(defaults, folder);
    for (const char *vendor : {"", "OstrevanWS", "PostgreSQL"}) {
        useVendor(QString::fromLatin1(vendor));
        auto connection = factory.createAndOpenDBConnection();
        ASSERT_NE(connection, nullptr) << vendor;
        EXPECT_EQ(connection->dbVendor(), QStringLiteral("PostgreSQL"));
        EXPECT_FALSE(connection->isDBConnectionActive());
    }
    qunsetenv("PGPORT");
    ASSERT_EQ(alerts->shown().size(), 3);
    EXPECT_EQ(alerts->shown().first().message, QStringLiteral("Database connection failed"));
    EXPECT_FALSE(QFileInfo::exists(folder));
}

// ---- On the throwaway PostgreSQL server ----

struct PgConnCloser {
    void operator()(PGconn *connection) const { PQfinish(connection); }
};

// Runs one statement as the server's superuser over its local socket.
bool runAsSuperuser(const PgTestServer &server, const QByteArray &sql)
{
    const QByteArray host = server.host.toUtf8();
    const QByteArray port = QByteArray::number(server.port);
    const char *keys[] = {"host", "port", "user", "dbname", nullptr};
    const char *values[] = {host.constData(), port.constData(), "postgres", "postgres", nullptr};
    std::unique_ptr<PGconn, PgConnCloser> connection(PQconnectdbParams(keys, values, 0));
    if (PQstatus(connection.get()) != CONNECTION_OK)
        return false;
    PGresult *result = PQexec(connection.get(), sql.constData());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    return ok;
}

TEST_F(ConnectionFactoryTest, OneStartCreatesTheTablesOnAServer)
{
    const std::optional<PgTestServer> server = pgTestServer();
    OVN_REQUIRE_PG_SERVER(server);
    // A database of its own, so that the tables are surely new.
    const QByteArray database = "ovn_startup_" + QByteArray::number(QCoreApplication::applicationPid());
    runAsSuperuser(*server, "DROP DATABASE IF EXISTS " + database);
    ASSERT_TRUE(runAsSuperuser(*server, "CREATE DATABASE " + database + " OWNER " + server->user.toUtf8()));
    qputenv("PGPORT", QByteArray::number(server->port));

    OVNDatabaseAccess probe;
    probe.setConnectionDetails(QStringLiteral("PostgreSQL"), server->host, server->user, server->password,
                               QString::fromUtf8(database));
    if (!probe.openDBConnection()) {
        qunsetenv("PGPORT");
        runAsSuperuser(*server, "DROP DATABASE IF EXISTS " + database);
        GTEST_SKIP() << "this build's catalog layer does not reach PostgreSQL: "
                     << qPrintable(probe.getLastErrorMessage());
    }
    ASSERT_FALSE(probe.checkForDatabaseSetup());
    probe.closeDBConnection();

    useVendor(QStringLiteral("PostgreSQL"));
    defaults.setString(server->host, QStringLiteral("DBHost"));
    defaults.setString(server->user, QStringLiteral("DBUser"));
    defaults.setString(server->password, QStringLiteral("DBPassword"));
    defaults.setString(QString::fromUtf8(database), QStringLiteral("DBDatabase"));
    auto connection = OVNConnectionFactory(defaults, folder).createAndOpenDBConnection();
    ASSERT_NE(connection, nullptr);
    EXPECT_TRUE(connection->isDBConnectionActive());
    EXPECT_TRUE(connection->checkForDatabaseSetup());
    EXPECT_TRUE(alerts->shown().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(folder));
    connection.reset();

    qunsetenv("PGPORT");
    runAsSuperuser(*server, "DROP DATABASE IF EXISTS " + database);
}

// A catalog on a server as the window finds it: completed when it lacks only tables (beside
// tables of something else as well), refused as it is when a table lacks a column.
TEST_F(ConnectionFactoryTest, AServerCatalogIsCompletedOrRefusedAsItIs)
{
    const std::optional<PgTestServer> server = pgTestServer();
    OVN_REQUIRE_PG_SERVER(server);
    const QByteArray database = "ovn_partly_" + QByteArray::number(QCoreApplication::applicationPid());
    qputenv("PGPORT", QByteArray::number(server->port));
    const auto cleanUp = qScopeGuard([&] {
        qunsetenv("PGPORT");
        runAsSuperuser(*server, "DROP DATABASE IF EXISTS " + database);
    });
    struct Case {
        const char *name;
        QStringList statements; // run after the catalog's own script
        const char *refusal;    // in catalogRefusal(); null: the catalog opens whole
    };
    const Case cases[] = {
        {"tables missing", {"drop table strvexif", "drop table strvsold"}, nullptr},
        {"beside another program's tables", {"drop table strvexif", "create table notes (id int)"}, nullptr},
        {"a column missing", {"alter table strvfile drop column shortdesc"}, "strvfile.shortdesc"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        runAsSuperuser(*server, "DROP DATABASE IF EXISTS " + database);
        ASSERT_TRUE(runAsSuperuser(*server, "CREATE DATABASE " + database + " OWNER " + server->user.toUtf8()));
        OVNDatabaseAccess maker;
        maker.setConnectionDetails(QStringLiteral("PostgreSQL"), server->host, server->user, server->password,
                                   QString::fromUtf8(database));
        if (!maker.openDBConnection())
            GTEST_SKIP() << "this build's catalog layer does not reach PostgreSQL: "
                         << qPrintable(maker.getLastErrorMessage());
        ASSERT_TRUE(OVNDBHelper::prefDBCreatePostgreSQLDatabase(maker));
        for (const QString &statement : c.statements)
            ASSERT_TRUE(maker.runSQLCommand(statement)) << qPrintable(maker.getLastErrorMessage());
        maker.closeDBConnection();

        OVNConnectionFactory factory(defaults, folder);
        auto connection = factory.createAndOpenPostgreSQLDBConnection(server->host, server->user, server->password,
                                                                      QString::fromUtf8(database));
        ASSERT_NE(connection, nullptr);
        EXPECT_TRUE(alerts->shown().isEmpty());
        ASSERT_TRUE(maker.openDBConnection());
        const auto contents = OVNDBHelper::catalogContents(maker);
        maker.closeDBConnection();
        ASSERT_TRUE(contents.has_value());
        if (!c.refusal) {
            EXPECT_TRUE(connection->isDBConnectionActive()) << qPrintable(connection->getLastErrorMessage());
            EXPECT_TRUE(factory.catalogRefusal().isEmpty());
            EXPECT_TRUE(contents->whole()) << qPrintable(contents->missingText());
            continue;
        }
        EXPECT_FALSE(connection->isDBConnectionActive());
        EXPECT_TRUE(factory.catalogRefusal().contains(QLatin1String(c.refusal)))
            << qPrintable(factory.catalogRefusal());
        // Left as it was.
        EXPECT_EQ(contents->missingColumns, QStringList{QString::fromLatin1(c.refusal)});
        EXPECT_TRUE(contents->missingTables.isEmpty());
    }
}

// Sets an environment variable for the test's time, or removes it; restores it afterwards.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char *name, const QByteArray &value, bool set)
        : m_name(name),
          m_had(qEnvironmentVariableIsSet(name)),
          m_old(qgetenv(name))
    {
        if (set)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~ScopedEnvironment()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

// The server password: one in the preferences file (or this run's command line) wins; without
// one, PGPASSWORD and then ~/.pgpass are asked; the registered default is sent only when neither
// of them gives one. A role of the test's own, whose password is not the registered one, logs in
// over TCP, where the server asks for a password.
TEST_F(ConnectionFactoryTest, TheServerPasswordComesFromThePreferencesThenTheClientLibraryThenTheDefault)
{
    const std::optional<PgTestServer> server = pgTestServer();
    OVN_REQUIRE_PG_SERVER(server);
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    const QByteArray role = "ovn_pw_" + pid;
    const QByteArray right = "right-" + pid;
    runAsSuperuser(*server, "DROP DATABASE IF EXISTS " + role);
    runAsSuperuser(*server, "DROP ROLE IF EXISTS " + role);
    ASSERT_TRUE(runAsSuperuser(*server, "CREATE ROLE " + role + " LOGIN PASSWORD '" + right + "'"));
    ASSERT_TRUE(runAsSuperuser(*server, "CREATE DATABASE " + role + " OWNER " + role));
    const auto cleanUp = qScopeGuard([&] {
        runAsSuperuser(*server, "DROP DATABASE IF EXISTS " + role);
        runAsSuperuser(*server, "DROP ROLE IF EXISTS " + role);
    });
    const QString host = server->tcpHost + QLatin1Char(':') + QString::number(server->port);
    const QString pgpassPath = home.filePath(QStringLiteral("pgpass"));

    const QString none;                       // a null string: the key is absent
    const QString empty = QStringLiteral(""); // stored empty: the field was cleared
    const QString good = QString::fromUtf8(right);
    const QString bad = QStringLiteral("wrong");
    struct Case {
        const char *name;
        QString stored;      // the preferences file's "DBPassword"
        QString commandLine; // "-DBPassword"
        QString environment; // PGPASSWORD
        QString pgpass;      // the password line of the pgpass file
        QString registered;  // the registered "DBPassword"
        bool connects;
    };
    const Case cases[] = {
        {"preferences win", good, none, bad, bad, bad, true},
        {"a wrong one in the preferences is not replaced", bad, none, good, good, good, false},
        {"the command line wins for its run", bad, good, bad, bad, bad, true},
        {"PGPASSWORD", none, none, good, bad, bad, true},
        {"pgpass", none, none, none, good, bad, true},
        {"pgpass after a cleared field", empty, none, none, good, bad, true},
        {"the default when neither gives one", none, none, none, none, good, true},
        {"the default after a cleared field", empty, none, none, none, good, true},
        {"PGPASSWORD gave one: no default", none, none, bad, none, good, false},
        {"pgpass gave one: no default", none, none, none, bad, good, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UserDefaults run;
        run.registerDefaults({{QStringLiteral("DBPassword"), c.registered}});
        run.setString(QStringLiteral("PostgreSQL"), QStringLiteral("DBVendor"));
        run.setString(host, QStringLiteral("DBHost"));
        run.setString(QString::fromUtf8(role), QStringLiteral("DBUser"));
        run.setString(QString::fromUtf8(role), QStringLiteral("DBDatabase"));
        if (!c.stored.isNull())
            run.setString(c.stored, QStringLiteral("DBPassword"));
        if (!c.commandLine.isNull())
            run.setArguments({QStringLiteral("ostrevan"), QStringLiteral("-DBPassword"), c.commandLine});
        QFile::remove(pgpassPath);
        if (!c.pgpass.isNull()) {
            QFile file(pgpassPath);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QStringLiteral("%1:%2:*:%3:%4\n")
                           .arg(server->tcpHost, QString::number(server->port), QString::fromUtf8(role), c.pgpass)
                           .toUtf8());
            file.close();
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        }
        const ScopedEnvironment environment("PGPASSWORD", c.environment.toUtf8(), !c.environment.isNull());
        const ScopedEnvironment pgpass("PGPASSFILE", pgpassPath.toUtf8(), true);

        OVNConnectionFactory factory(run, folder);
        auto connection = factory.createAndOpenDBConnection();
        ASSERT_NE(connection, nullptr);
        EXPECT_EQ(connection->isDBConnectionActive(), c.connects) << qPrintable(connection->getLastErrorMessage());
        connection.reset();

        // The preferences' trial connection with the same password field follows the same order.
        if (c.commandLine.isNull()) {
            auto trial = factory.createAndOpenPostgreSQLDBConnection(host, QString::fromUtf8(role), c.stored,
                                                                     QString::fromUtf8(role));
            ASSERT_NE(trial, nullptr);
            EXPECT_EQ(trial->isDBConnectionActive(), c.connects);
        }
    }
}

} // namespace
