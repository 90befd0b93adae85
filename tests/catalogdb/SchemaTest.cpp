#include "CatalogFixture.h"

#include "catalogdb/OVNDBHelper.h"

#include "../support/SessionCutProxy.h"
#include "../support/TestEnvironment.h"

#include <QCoreApplication>

#include <libpq-fe.h>

#include <sqlite3.h>

TEST(SchemaTest, TheTableChecksAnswerWhatTheFileHolds)
{
    QTemporaryDir dir;
    OVNDatabaseAccess db;
    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(),
                            dir.filePath(QStringLiteral("MediaDB.sqlite")));
    ASSERT_TRUE(db.openDBConnection());
    EXPECT_FALSE(db.checkForDatabaseSetup());
    ASSERT_TRUE(db.runSQLCommand(OVNDBHelper::sqliteCatalogScript().first()));
    EXPECT_FALSE(db.checkForDatabaseSetup()); // strvcategory alone
    EXPECT_TRUE(OVNDBHelper::prefDBCreateLocalDatabase(db));
    EXPECT_TRUE(db.checkForDatabaseSetup());
    EXPECT_FALSE(db.checkForUserManagerSetup());
    EXPECT_FALSE(db.useAuthentication());
}

TEST_P(CatalogFixture, RunningTheScriptAgainKeepsTheData)
{
    const QString category = db.addCategoryListEntry(QStringLiteral("Kept"));
    ASSERT_FALSE(db.addMediaListEntry(importRecord(category, QStringLiteral("a.jpg"))).isEmpty());
    EXPECT_TRUE(createCatalog(db));
    EXPECT_EQ(db.getCategoryList().size(), 1);
    EXPECT_EQ(db.getMediaList(category).size(), 1);
}

TEST_P(CatalogFixture, TheFileHoldsTheSixCatalogTablesAndTheirIndexes)
{
    if (isPostgres())
        GTEST_SKIP() << "the server's script is checked by PostgresScriptsRunOnAServer";
    QStringList names;
    for (const OVNRow &row : db.rowsForQuery(QStringLiteral("select name from sqlite_master where type in "
                                                            "('table', 'index') and name not like 'sqlite_%' "
                                                            "order by name")))
        names.append(row.at(0).toString());
    EXPECT_EQ(names, QStringList({"idxcategorymid",  "idxexifid",  "idxexifmid",     "idxfilecatid",    "idxfiledistag",
                                  "idxfilekeywords", "idxfilemid", "idxpurchasedid", "idxpurchasedmid", "idxset1mid",
                                  "idxset2mid",      "idxset3mid", "idxsoldid",      "idxsoldmid",      "strvcategory",
                                  "strvexif",        "strvfile",   "strvpurchased",  "strvset",         "strvsold"}));
}

// The statements that list media, categories and set members search through an index.
TEST_P(CatalogFixture, ListingQueriesUseTheIndexes)
{
    if (isPostgres())
        GTEST_SKIP() << "SQLite's query plans";
    const auto plan = [this](const QString &sql) {
        QStringList steps;
        for (const OVNRow &row : db.rowsForQuery(QStringLiteral("explain query plan ") + sql, {QStringLiteral("x")}))
            steps.append(row.value(3).toString());
        return steps.join(QStringLiteral(" | "));
    };
    const QString byCategory = plan(OVNDBHelper::mediaSelect() + QStringLiteral(" where categoryid=$1"));
    EXPECT_TRUE(byCategory.contains(QStringLiteral("USING INDEX idxfilecatid"))) << qPrintable(byCategory);
    const QString byId = plan(QStringLiteral("select thumbimage from strvfile where mid=$1"));
    EXPECT_TRUE(byId.contains(QStringLiteral("USING INDEX"))) << qPrintable(byId);
    const QString members = plan(OVNDBHelper::mediaSetSelect());
    EXPECT_TRUE(members.contains(QStringLiteral("USING INDEX idxset2mid"))) << qPrintable(members);
    const QString categoryById =
        plan(QStringLiteral("select mid, displaytag, comment, type from strvcategory where mid=$1"));
    for (const QString &statement : {byCategory, byId, members, categoryById})
        EXPECT_FALSE(statement.contains(QStringLiteral("SCAN"))) << qPrintable(statement);
}

// The PostgreSQL scripts run as they stand on a real server, and its foreign key holds.
TEST(SchemaTest, PostgresScriptsRunOnAServer)
{
    const std::optional<PgTestServer> server = pgTestServer();
    OVN_REQUIRE_PG_SERVER(server);
    const QByteArray port = QByteArray::number(server->port);
    const QByteArray host = server->host.toUtf8(), user = server->user.toUtf8(), name = server->database.toUtf8();
    const char *keys[] = {"host", "port", "user", "dbname", nullptr};
    const char *values[] = {host.constData(), port.constData(), user.constData(), name.constData(), nullptr};
    std::unique_ptr<PGconn, void (*)(PGconn *)> connection(PQconnectdbParams(keys, values, 0), PQfinish);
    ASSERT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
    const auto run = [&connection](const QString &sql) {
        PGresult *result = PQexec(connection.get(), sql.toUtf8().constData());
        const ExecStatusType status = PQresultStatus(result);
        const QString message = QString::fromUtf8(PQresultErrorMessage(result));
        PQclear(result);
        return std::make_pair(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK, message);
    };
    // A schema of its own, so that the test leaves the database as it found it.
    const QString schema = QStringLiteral("ovn_schema_test_%1").arg(QCoreApplication::applicationPid());
    ASSERT_TRUE(run(QStringLiteral("create schema %1").arg(schema)).first);
    ASSERT_TRUE(run(QStringLiteral("set search_path to %1").arg(schema)).first);
    run(QStringLiteral("set client_min_messages to warning"));
    for (const QString &statement : OVNDBHelper::postgresCatalogScript() + OVNDBHelper::postgresUserManagerScript()) {
        const auto [ok, message] = run(statement);
        EXPECT_TRUE(ok) << qPrintable(statement) << qPrintable(message);
    }
    EXPECT_FALSE(run(QStringLiteral("insert into strvfile (mid, categoryid, displaytag, absolutepath, filedts, dts) "
                                    "values ('m', 'nowhere', 'n', '/p', now(), now())"))
                     .first);
    EXPECT_TRUE(run(QStringLiteral("insert into strvexif (mid) values ('m')")).first);
    run(QStringLiteral("drop schema %1 cascade").arg(schema));
}

// A session lost at the BEGIN of the table script makes nothing: the script never goes on
// statement by statement on the next session; the caller's next try makes the whole catalog.
TEST_P(CatalogFixture, TheTableScriptMakesNothingWhenItsTransactionCannotBegin)
{
    if (!isPostgres())
        GTEST_SKIP() << "a server session to lose";
    const QString allTables = QStringLiteral("strvcategory, strvset, strvfile, strvexif, strvpurchased, strvsold");
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("drop table ") + allTables));
    const PgTestServer server = *pgTestServer();
    SessionCutProxy proxy(server.port, {});
    std::shared_ptr<OVNDatabaseAccess> through = openThrough(proxy.port());
    proxy.cutAt("BEGIN", 1, SessionCutProxy::How::Dropped);
    EXPECT_FALSE(OVNDBHelper::prefDBCreatePostgreSQLDatabase(*through));
    EXPECT_EQ(proxy.cuts(), 1);
    std::optional<OVNDBHelper::CatalogContents> contents = OVNDBHelper::catalogContents(db);
    ASSERT_TRUE(contents);
    EXPECT_FALSE(contents->holdsCatalogTables) << qPrintable(contents->missingText());
    EXPECT_TRUE(OVNDBHelper::prefDBCreatePostgreSQLDatabase(*through)) << qPrintable(through->getLastErrorMessage());
    contents = OVNDBHelper::catalogContents(db);
    ASSERT_TRUE(contents);
    EXPECT_TRUE(contents->whole()) << qPrintable(contents->missingText());
}
