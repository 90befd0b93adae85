// What only a catalog server does: login failures, failed statements inside transactions, lost
// sessions, stricter columns, concurrent use, and users, groups and passwords.

#include "CatalogFixture.h"

#include "../support/SessionCutProxy.h"
#include "../support/TestEnvironment.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/PropertyList.h"

#include <QTcpServer>

#include <atomic>
#include <functional>
#include <thread>

namespace {

QString serverHost(const PgTestServer &server, bool tcp = false)
{
    return (tcp ? server.tcpHost : server.host) + QLatin1Char(':') + QString::number(server.port);
}

} // namespace

TEST(ServerConnectionTest, AServerThatIsDownOrRefusesTheLoginAnswersNoWithLibpqsMessage)
{
    const std::optional<PgTestServer> server = pgTestServer();
    OVN_REQUIRE_PG_SERVER(server);
    OVNDatabaseAccess db;

    // Over TCP the server asks for the password.
    db.setConnectionDetails(QStringLiteral("PostgreSQL"), serverHost(*server, true), server->user,
                            QStringLiteral("wrong"), server->database);
    EXPECT_FALSE(db.openDBConnection());
    EXPECT_FALSE(db.isDBConnectionActive());
    EXPECT_TRUE(db.getLastErrorMessage().contains(QStringLiteral("password authentication failed")))
        << qPrintable(db.getLastErrorMessage());
    EXPECT_FALSE(db.runSQLCommand(QStringLiteral("select 1")));
    EXPECT_TRUE(db.getMediaList(QStringLiteral("0")).isEmpty());

    db.setConnectionDetails(QStringLiteral("PostgreSQL"), serverHost(*server, true), server->user, server->password,
                            server->database);
    ASSERT_TRUE(db.openDBConnection()) << qPrintable(db.getLastErrorMessage());
    EXPECT_TRUE(db.isDBConnectionActive());

    db.setConnectionDetails(QStringLiteral("PostgreSQL"), serverHost(*server), server->user, server->password,
                            QStringLiteral("no_such_catalog"));
    EXPECT_FALSE(db.openDBConnection());
    EXPECT_TRUE(db.getLastErrorMessage().contains(QStringLiteral("does not exist")))
        << qPrintable(db.getLastErrorMessage());

    // Nothing listens on the port.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 freePort = probe.serverPort();
    probe.close();
    db.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(freePort), server->user,
                            server->password, server->database);
    EXPECT_FALSE(db.openDBConnection());
    EXPECT_TRUE(db.getLastErrorMessage().contains(QStringLiteral("refused"))) << qPrintable(db.getLastErrorMessage());
}

// A server that takes the connection but never answers: the open gives up after its time-out.
TEST(ServerConnectionTest, AServerThatNeverAnswersIsGivenUpWithinTheTimeOut)
{
    const std::optional<PgTestServer> server = pgTestServer();
    OVN_REQUIRE_PG_SERVER(server);
    QTcpServer silent; // listens; the kernel completes the handshake, nobody ever replies
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    OVNDatabaseAccess db;
    db.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()),
                            server->user, server->password, server->database);
    // It returns (were it to wait for ever, the test's own time-out would say so) and says why.
    EXPECT_FALSE(db.openDBConnection());
    EXPECT_FALSE(db.getLastErrorMessage().isEmpty());
}

class ServerCatalogTest : public CatalogFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        m_collection = db.addCategoryListEntry(QStringLiteral("Roll"));
        ASSERT_FALSE(m_collection.isEmpty());
    }

    int rows(const QString &sql) { return db.affectedRowsForQuery(sql); }

    QString m_collection;
};

INSTANTIATE_TEST_SUITE_P(Server, ServerCatalogTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(ServerCatalogTest, TheSessionTakesBackslashesLiterallyAndSpeaksIsoDates)
{
    EXPECT_EQ(db.rowsForQuery(QStringLiteral("show standard_conforming_strings")).value(0).value(0).toString(),
              QStringLiteral("on"));
    EXPECT_TRUE(db.rowsForQuery(QStringLiteral("show DateStyle"))
                    .value(0)
                    .value(0)
                    .toString()
                    .startsWith(QStringLiteral("ISO")));
    // A literal made by the one quoting helper keeps its backslashes after a reconnect too.
    const QString name = QStringLiteral("C:\\new\\ O'Brien");
    db.revalidateDBConnection();
    ASSERT_TRUE(
        db.runSQLCommand(QStringLiteral("update strvcategory set displaytag=") + OVNDBHelper::quotedText(name)));
    EXPECT_EQ(db.getCategoryForMID(m_collection)->value(QStringLiteral("displaytag")).toString(), name);
}

TEST_P(ServerCatalogTest, AFailedStatementUndoesItsTransactionAndTheConnectionGoesOn)
{
    {
        OVNDatabaseTransaction transaction(db);
        ASSERT_TRUE(transaction.isActive());
        ASSERT_FALSE(db.addCategoryListEntry(QStringLiteral("In the failed transaction")).isEmpty());
        // The foreign key refuses a record of an unknown category.
        EXPECT_TRUE(db.addMediaListEntry(importRecord(QStringLiteral("nowhere"), QStringLiteral("a.jpg"))).isEmpty());
        // Said in the program's words: what the entry names is gone (another client deleted it).
        EXPECT_EQ(db.lastFailure(), OVNDatabaseAccess::Failure::MissingReference);
        EXPECT_TRUE(db.getLastErrorMessage().contains(QStringLiteral("no longer in the catalog")))
            << qPrintable(db.getLastErrorMessage());
        // Nothing more runs in it, and it cannot be committed.
        EXPECT_TRUE(db.addCategoryListEntry(QStringLiteral("after the failure")).isEmpty());
        EXPECT_FALSE(transaction.commit());
    }
    EXPECT_EQ(db.transactionDepth(), 0);
    EXPECT_EQ(db.getCategoryList().size(), 1);
    EXPECT_TRUE(db.runSQLCommand(QStringLiteral("select 1")));

    // Inside an outer transaction only the inner level is lost.
    ASSERT_TRUE(db.beginTransaction());
    ASSERT_FALSE(db.addCategoryListEntry(QStringLiteral("Outer A")).isEmpty());
    {
        OVNDatabaseTransaction inner(db);
        ASSERT_FALSE(db.addCategoryListEntry(QStringLiteral("Inner")).isEmpty());
        EXPECT_FALSE(db.runSQLCommand(QStringLiteral("select * from no_such_table")));
    }
    EXPECT_EQ(db.transactionDepth(), 1);
    {
        OVNDatabaseTransaction inner(db);
        ASSERT_FALSE(db.addCategoryListEntry(QStringLiteral("Inner too")).isEmpty());
        EXPECT_FALSE(db.runSQLCommand(QStringLiteral("select * from no_such_table")));
        EXPECT_FALSE(inner.commit());
    }
    EXPECT_EQ(db.transactionDepth(), 1);
    ASSERT_FALSE(db.addCategoryListEntry(QStringLiteral("Outer B")).isEmpty());
    ASSERT_TRUE(db.commitTransaction());
    QStringList names;
    for (const CategoryNode &node : db.getCategoryList())
        names.append(node.value(QStringLiteral("displaytag")).toString());
    names.sort();
    EXPECT_EQ(names, QStringList({"Outer A", "Outer B", "Roll"}));

    // A transaction begun by a caller's own statement is rolled back when a statement fails in it.
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("begin")));
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("update strvcategory set displaytag='changed'")));
    EXPECT_FALSE(db.runSQLCommand(QStringLiteral("select 1/0")));
    EXPECT_TRUE(db.runSQLCommand(QStringLiteral("select 1")));
    EXPECT_EQ(rows(QStringLiteral("select mid from strvcategory where displaytag='changed'")), 0);
}

TEST_P(ServerCatalogTest, StricterColumnsReportTheWriteAsFailedAndLeaveNothingHalfWritten)
{
    const QString media = db.addMediaListEntry(importRecord(m_collection, QStringLiteral("a.jpg")));
    ASSERT_FALSE(media.isEmpty());
    const QString tooLong(300, QLatin1Char('x'));
    EXPECT_FALSE(db.updateMediaListEntry(media, QStringLiteral("displaytag"), tooLong));
    EXPECT_EQ(db.getMediaListEntryForMediaID(media, QStringLiteral("displaytag")), QStringLiteral("a.jpg"));
    EXPECT_TRUE(db.addCategoryListEntry(tooLong).isEmpty());
    EXPECT_EQ(db.getCategoryList().size(), 1);
    QVariantMap record = importRecord(m_collection, QStringLiteral("b.jpg"));
    record.insert(QStringLiteral("volumetype"), tooLong);
    record.insert(QStringLiteral("thumbimage"), QByteArray("jpeg"));
    EXPECT_TRUE(db.addMediaListEntry(record).isEmpty());
    EXPECT_EQ(db.getMediaList(m_collection).size(), 1);

    // A collection that still owns media cannot go.
    EXPECT_FALSE(db.deleteCategoryListEntry(m_collection));
    EXPECT_TRUE(db.getCategoryForMID(m_collection));
    // A licence field too long for its column leaves no licence row behind.
    EXPECT_FALSE(db.updatePurchasedEntry(media, QStringLiteral("owner"), tooLong));
    EXPECT_TRUE(db.getPurchasedForMediaID(media).isEmpty());
    EXPECT_EQ(db.transactionDepth(), 0);
    ASSERT_TRUE(db.deleteMediaListEntry(media));
    EXPECT_TRUE(db.deleteCategoryListEntry(m_collection));
}

// A new server catalog takes files over 2 GiB and paths and titles of any length; one made with
// the old narrower columns keeps them, and a value that does not fit is refused with a message that
// names the file and the column.
TEST_P(ServerCatalogTest, LargeFilesAndLongPathsFitANewCatalogAndAreRefusedClearlyByAnOldOne)
{
    const QString longPath = QStringLiteral("/srv/") + QString(300, QLatin1Char('p'));
    const QString longTitle(300, QChar(0x6771)); // characters, not bytes, count
    const qint64 largeFile = 3LL << 30;
    QVariantMap record = importRecord(m_collection, QStringLiteral("big.mov"));
    record.insert(QStringLiteral("filesize"), largeFile);
    record.insert(QStringLiteral("absolutepath"), longPath);
    record.insert(QStringLiteral("keywords"), longTitle);
    const QString media = db.addMediaListEntry(record);
    ASSERT_FALSE(media.isEmpty()) << qPrintable(db.getLastErrorMessage());
    EXPECT_EQ(db.getMediaListEntryForMediaID(media, QStringLiteral("filesize")), QString::number(largeFile));
    EXPECT_EQ(db.getMediaListEntryForMediaID(media, QStringLiteral("absolutepath")), longPath);
    EXPECT_EQ(db.getMediaListEntryForMediaID(media, QStringLiteral("keywords")), longTitle);
    // Keywords far beyond what a b-tree index entry holds, and not compressible.
    QString longKeywords;
    for (int i = 0; longKeywords.size() < 10000; ++i)
        longKeywords += QString::number(quint64(i) * 2654435761u % 1000003, 36) + QLatin1Char(' ');
    EXPECT_TRUE(db.updateMediaListEntry(media, QStringLiteral("keywords"), longKeywords))
        << qPrintable(db.getLastErrorMessage());
    EXPECT_EQ(db.getMediaListEntryForMediaID(media, QStringLiteral("keywords")), longKeywords);
    ASSERT_TRUE(db.deleteMediaListEntry(media));

    ASSERT_TRUE(
        db.runSQLCommand(QStringLiteral("alter table strvfile alter column filesize type int, alter column "
                                        "absolutepath type varchar(255), alter column keywords type varchar(255)")));
    std::unique_ptr<OVNDatabaseAccess> old = openAnother();
    const QString fits = old->addMediaListEntry(importRecord(m_collection, QStringLiteral("small.jpg")));
    ASSERT_FALSE(fits.isEmpty());
    const QString fitsPath = importRecord(m_collection, QStringLiteral("small.jpg")).value("absolutepath").toString();
    struct Case {
        const char *column;
        QVariant value;
    };
    const QList<Case> cases = {
        {"filesize", largeFile},
        {"absolutepath", longPath},
        {"keywords", longTitle},
    };
    for (const Case &test : cases) {
        const QString column = QString::fromLatin1(test.column);
        QVariantMap tooLarge = importRecord(m_collection, QStringLiteral("big.mov"));
        tooLarge.insert(column, test.value);
        EXPECT_TRUE(old->addMediaListEntry(tooLarge).isEmpty()) << test.column;
        const QString message = old->getLastErrorMessage();
        EXPECT_TRUE(message.contains(tooLarge.value("absolutepath").toString()) && message.contains(column))
            << qPrintable(message);
        // An edit of a catalogued file is refused the same way, and the stored value stays.
        const QString before = old->getMediaListEntryForMediaID(fits, column);
        EXPECT_FALSE(old->updateMediaListEntry(fits, column, test.value.toString())) << test.column;
        EXPECT_TRUE(old->getLastErrorMessage().contains(fitsPath) && old->getLastErrorMessage().contains(column))
            << qPrintable(old->getLastErrorMessage());
        EXPECT_EQ(old->getMediaListEntryForMediaID(fits, column), before);
    }
    EXPECT_EQ(db.getMediaList(m_collection).size(), 1);
}

TEST_P(ServerCatalogTest, ALostSessionIsConnectedAgainForTheNextStatement)
{
    std::unique_ptr<OVNDatabaseAccess> other = openAnother();
    const auto terminate = [&] {
        const QList<OVNRow> pid = db.rowsForQuery(QStringLiteral("select pg_backend_pid()"));
        ASSERT_EQ(pid.size(), 1);
        ASSERT_TRUE(other->runSQLCommand(QStringLiteral("select pg_terminate_backend($1::int)"), {pid.at(0).at(0)}));
    };
    // Lost inside a transaction: the statement fails as unreachable, and the rest of the
    // transaction is refused up to its end rather than run on its own in a new session.
    ASSERT_TRUE(db.beginTransaction());
    ASSERT_FALSE(db.addCategoryListEntry(QStringLiteral("lost")).isEmpty());
    terminate();
    EXPECT_TRUE(db.addCategoryListEntry(QStringLiteral("fails")).isEmpty());
    EXPECT_EQ(db.lastFailure(), OVNDatabaseAccess::Failure::Unreachable);
    EXPECT_TRUE(db.addCategoryListEntry(QStringLiteral("refused")).isEmpty());
    EXPECT_FALSE(db.commitTransaction());
    EXPECT_EQ(db.transactionDepth(), 0);
    EXPECT_EQ(db.getCategoryList().size(), 1);
    EXPECT_TRUE(db.isDBConnectionActive());
    // Lost just before the rollback: the next transaction begins all the same.
    ASSERT_TRUE(db.beginTransaction());
    terminate();
    db.rollbackTransaction();
    EXPECT_TRUE(db.beginTransaction());
    EXPECT_TRUE(db.rollbackTransaction());
    // Lost between statements: a read is answered by a new session; a write fails, since it
    // cannot be known whether the server took it.
    terminate();
    const quint64 failures = db.failureCount();
    EXPECT_EQ(db.getCategoryList().size(), 1);
    EXPECT_EQ(db.failureCount(), failures);
    terminate();
    EXPECT_TRUE(db.addCategoryListEntry(QStringLiteral("unknown")).isEmpty());
    EXPECT_EQ(db.lastFailure(), OVNDatabaseAccess::Failure::Unreachable);
    EXPECT_EQ(db.getCategoryList().size(), 1);
}

// An insert whose answer was lost while the server carried it out (the connection closed between
// the statement reaching the server and its answer) is made again with the id its writer chose:
// the catalog answers that id as stored and holds one row, for every kind of row a writer adds.
// An id that another row holds is still no copy: the insert gets a new id.
TEST_P(ServerCatalogTest, AnInsertMadeAgainAfterItsAnswerWasLostMakesOneRow)
{
    ASSERT_TRUE(OVNDBHelper::prefDBCreatePostgreSQLUserManagerTables(db)) << qPrintable(db.getLastErrorMessage());
    const QString user = db.addUserEntry(QStringLiteral("Bea"), QStringLiteral("bea"), QString(), QString(), {});
    const QString group = db.addGroupEntry(QStringLiteral("Crew"), QString(), {});
    ASSERT_FALSE(user.isEmpty());
    ASSERT_FALSE(group.isEmpty());
    QVariantMap record = importRecord(m_collection, QStringLiteral("IMG_0001.JPG"));
    record.insert(QStringLiteral("absolutepath"), QStringLiteral("/roll/IMG_0001.JPG"));
    const struct {
        const char *name;
        const char *statement;
        const char *table;
        std::function<QString(OVNDatabaseAccess &, const QString &mid)> insert;
    } cases[] = {
        {"an entry", "insert into strvfile", "strvfile",
         [&](OVNDatabaseAccess &c, const QString &mid) { return c.addMediaListEntry(record, mid); }},
        {"a category", "insert into strvcategory", "strvcategory",
         [](OVNDatabaseAccess &c, const QString &mid) {
             return c.addCategoryListEntryWithMID(mid, QStringLiteral("Made once"), QStringLiteral("C"));
         }},
        {"a user", "insert into strvusers", "strvusers",
         [](OVNDatabaseAccess &c, const QString &mid) {
             return c.addUserEntry(QStringLiteral("Cy"), QStringLiteral("cy"), QString(), QString(), {}, mid);
         }},
        {"a group", "insert into strvgroups", "strvgroups",
         [](OVNDatabaseAccess &c, const QString &mid) {
             return c.addGroupEntry(QStringLiteral("Night"), {}, {}, mid);
         }},
        {"a membership", "insert into strvgroupusers", "strvgroupusers",
         [&](OVNDatabaseAccess &c, const QString &mid) { return c.addUserToGroup(user, group, mid); }},
    };
    const PgTestServer server = *pgTestServer();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SessionCutProxy proxy(server.port, {});
        proxy.cutAt(c.statement, 1, SessionCutProxy::How::AnswerLost);
        OVNDatabaseAccess through;
        through.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(through.openDBConnection()) << qPrintable(through.getLastErrorMessage());
        const QString mid = through.createNewMID();
        EXPECT_TRUE(c.insert(through, mid).isEmpty());
        EXPECT_TRUE(through.lastErrorLostConnection());
        // Whether or not the server has finished with the lost session yet.
        EXPECT_EQ(c.insert(through, mid), mid) << qPrintable(through.getLastErrorMessage());
        EXPECT_TRUE(through.lastInsertFoundEarlierCopy());
        EXPECT_EQ(rows(QStringLiteral("select 1 from %1 where mid='%2'").arg(QLatin1String(c.table), mid)), 1);
    }
    // Another row's id is no copy: the entry gets an id of its own.
    QVariantMap other = record;
    other.insert(QStringLiteral("absolutepath"), QStringLiteral("/roll/IMG_0002.JPG"));
    const QString otherMid = db.addMediaListEntry(other);
    const QString taken = db.addMediaListEntry(record, otherMid);
    EXPECT_FALSE(taken.isEmpty());
    EXPECT_NE(taken, otherMid);
    EXPECT_FALSE(db.lastInsertFoundEarlierCopy());
    EXPECT_EQ(rows(QStringLiteral("select 1 from strvfile where absolutepath='/roll/IMG_0001.JPG'")), 2);
}

TEST_P(ServerCatalogTest, DatesReadBackAsTheWallTimeThatWasWrittenWhateverTheSessionZone)
{
    const QString media = db.addMediaListEntry(importRecord(m_collection, QStringLiteral("a.jpg")));
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("set timezone to 'Pacific/Auckland'")));
    const MediaList list = db.getMediaList(m_collection);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list.at(0)->string(QStringLiteral("filedts")), fileDateText());
    EXPECT_EQ(db.getMediaListEntryForMediaID(media, QStringLiteral("filedts")), fileDateText());
    // A text with another zone's offset keeps its wall time: the column has no zone.
    ASSERT_TRUE(db.updateMediaListEntry(media, QStringLiteral("dts"), QStringLiteral("2023-12-24 18:30:00 -0500")));
    EXPECT_EQ(db.getMediaList(m_collection).at(0)->string(QStringLiteral("dts")),
              OVNDatabaseAccess::timestampText(QDateTime(QDate(2023, 12, 24), QTime(18, 30))));
}

TEST_P(ServerCatalogTest, ListingsFromTwoConnectionsAndFromTwoThreadsOnOneConnectionAreCorrect)
{
    constexpr int mediaCount = 200;
    for (int i = 0; i < 5; ++i)
        db.addCategoryListEntry(QStringLiteral("Category %1").arg(i), QStringLiteral("C"));
    {
        OVNDatabaseTransaction transaction(db);
        for (int i = 0; i < mediaCount; ++i)
            ASSERT_FALSE(db.addMediaListEntry(importRecord(m_collection, QStringLiteral("%1.jpg").arg(i))).isEmpty());
        ASSERT_TRUE(transaction.commit());
    }
    std::atomic<int> wrong{0};
    const auto listMedia = [&](OVNDatabaseAccess &connection) {
        for (int round = 0; round < 20; ++round) {
            const MediaList list = connection.getMediaList(m_collection);
            if (list.size() != mediaCount || list.at(7)->field(MediaRecord::CategoryId) != m_collection
                || list.at(7)->field(MediaRecord::FileDts) != fileDateText())
                ++wrong;
        }
    };
    const auto listCategories = [&](OVNDatabaseAccess &connection) {
        for (int round = 0; round < 100; ++round) {
            if (connection.getCategoryList().size() != 6
                || connection.getEntryCountForCategory(m_collection, "C") != mediaCount)
                ++wrong;
        }
    };

    std::unique_ptr<OVNDatabaseAccess> other = openAnother();
    std::thread first([&] { listMedia(db); });
    std::thread second([&] { listCategories(*other); });
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);

    // One connection shared by two threads: each statement and its rows stay together.
    std::thread third([&] { listMedia(db); });
    std::thread fourth([&] { listCategories(db); });
    third.join();
    fourth.join();
    EXPECT_EQ(wrong.load(), 0);
}

// Listings are read row by row as the server sends them: a listing that fails after rows came,
// or is given up at its first row, is no listing, and the session goes on, in a transaction too.
TEST_P(ServerCatalogTest, AListingThatFailsOrIsGivenUpMidwayGivesNoRecordsAndTheSessionGoesOn)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_FALSE(db.addMediaListEntry(importRecord(m_collection, QStringLiteral("%1.jpg").arg(i))).isEmpty());
    const QString failsAtRow150 = QStringLiteral(
        "select x::text, 'n', '', '', '', 1, 1, 1, now(), now(), '', '', '', 0, 0, '', 0, '', '', '', '', 0, "
        "1/(x-150), '0', 'Image', 'c' from generate_series(1, 5000) x");
    const struct {
        QString sql;
        QString message;
    } cases[] = {
        {failsAtRow150, QStringLiteral("division by zero")},
        {QStringLiteral("select mid from strvfile"), QStringLiteral("columns of a media list")},
    };
    for (const auto &listing : cases) {
        for (bool inTransaction : {false, true}) {
            if (inTransaction) {
                ASSERT_TRUE(db.beginTransaction());
            }
            EXPECT_TRUE(db.getMediaListForSQL(listing.sql).isEmpty()) << qPrintable(listing.sql);
            EXPECT_TRUE(db.getLastErrorMessage().contains(listing.message)) << qPrintable(db.getLastErrorMessage());
            if (inTransaction)
                db.commitTransaction();
            EXPECT_EQ(db.transactionDepth(), 0);
            const MediaList list = db.getMediaList(m_collection);
            ASSERT_EQ(list.size(), 3);
            EXPECT_EQ(list.at(2)->field(MediaRecord::CategoryId), m_collection);
        }
    }
}

class UserManagerTest : public ServerCatalogTest
{
protected:
    void SetUp() override
    {
        ServerCatalogTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        ASSERT_TRUE(OVNDBHelper::prefDBCreatePostgreSQLUserManagerTables(db));
        const QVariantMap manage = {{QStringLiteral("PRIVILEGES"), QVariantList{QStringLiteral("MANAGE USERS")}}};
        m_staff = db.addGroupEntry(QStringLiteral("Staff"), QStringLiteral("everyone"), {});
        m_editors = db.addGroupEntry(QStringLiteral("Editors"), QString(), manage);
        m_ann = db.addUserEntry(QStringLiteral("Ann O'Neil"), QStringLiteral("ann"), QStringLiteral("secret"),
                                QStringLiteral("second"), {});
        ASSERT_FALSE(m_staff.isEmpty());
        ASSERT_FALSE(m_editors.isEmpty());
        ASSERT_FALSE(m_ann.isEmpty());
        m_annInStaff = db.addUserToGroup(m_ann, m_staff);
        ASSERT_FALSE(m_annInStaff.isEmpty());
        ASSERT_FALSE(db.addUserToGroup(m_ann, m_editors).isEmpty());
    }

    QString m_staff, m_editors, m_ann, m_annInStaff;
};

INSTANTIATE_TEST_SUITE_P(Server, UserManagerTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(UserManagerTest, AUserInTwoGroupsLogsInWithTheRightPasswordOnly)
{
    QStringList texts = db.getGroupPrivilegesForUser(QStringLiteral("ann"), QStringLiteral("secret"));
    ASSERT_EQ(texts.size(), 2);
    texts.sort();
    EXPECT_EQ(texts.at(0), QString());
    EXPECT_EQ(PropertyList::read(texts.at(1).toUtf8()).toMap().value(QStringLiteral("PRIVILEGES")).toList(),
              QVariantList{QStringLiteral("MANAGE USERS")});
    EXPECT_TRUE(db.getGroupPrivilegesForUser(QStringLiteral("ann"), QStringLiteral("wrong")).isEmpty());
    EXPECT_TRUE(db.getGroupPrivilegesForUser(QStringLiteral("ann"), QString()).isEmpty());
    EXPECT_TRUE(db.getGroupPrivilegesForUser(QStringLiteral("ann"), QStringLiteral("second")).isEmpty());
    EXPECT_TRUE(db.getGroupPrivilegesForUser(QStringLiteral("bob"), QStringLiteral("secret")).isEmpty());

    EXPECT_FALSE(db.authenticateWebUser(QStringLiteral("ann"), QStringLiteral("wrong")));
    EXPECT_TRUE(db.authGroupMids().isEmpty());
    ASSERT_TRUE(db.authenticateWebUser(QStringLiteral("ann"), QStringLiteral("secret")));
    QStringList groups = db.authGroupMids();
    groups.sort();
    QStringList expected{m_staff, m_editors};
    expected.sort();
    EXPECT_EQ(groups, expected);
    EXPECT_EQ(db.authUserMid(), m_ann);

    // The login of the catalog user needs no password.
    ASSERT_TRUE(db.authenticateUser(QStringLiteral("ann")));
    EXPECT_EQ(db.authGroupMids().size(), 2);
    EXPECT_EQ(db.authUserName(), QStringLiteral("ann"));
    // Hashes, never passwords, are stored.
    const QList<OVNRow> stored = db.rowsForQuery(QStringLiteral("select s1pass, s2pass from strvusers"));
    ASSERT_EQ(stored.size(), 1);
    EXPECT_TRUE(stored.at(0).at(0).toString().startsWith(QStringLiteral("Qz")));
    EXPECT_TRUE(stored.at(0).at(1).toString().startsWith(QStringLiteral("Vx")));
    EXPECT_NE(stored.at(0).at(0).toString(), QStringLiteral("secret"));
}

TEST_P(UserManagerTest, EmptyOrStarHashesNeverMatchAndAChangedPasswordReplacesTheOld)
{
    for (const char *hash : {"", "*", "*0"}) {
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("update strvusers set s1pass=$1"), {QString::fromLatin1(hash)}));
        EXPECT_TRUE(db.getGroupPrivilegesForUser(QStringLiteral("ann"), QStringLiteral("secret")).isEmpty()) << hash;
        EXPECT_TRUE(db.getGroupPrivilegesForUser(QStringLiteral("ann"), QString::fromLatin1(hash)).isEmpty()) << hash;
    }
    ASSERT_TRUE(db.setPasswordForUser(QStringLiteral("Grüße 2"), m_ann));
    EXPECT_EQ(db.getGroupPrivilegesForUser(QStringLiteral("ann"), QStringLiteral("Grüße 2")).size(), 2);
    EXPECT_TRUE(db.getGroupPrivilegesForUser(QStringLiteral("ann"), QStringLiteral("secret")).isEmpty());
    ASSERT_TRUE(db.setPasswordForUser(QStringLiteral("secret"), m_ann));
    EXPECT_TRUE(db.getGroupPrivilegesForUser(QStringLiteral("ann"), QStringLiteral("Grüße 2")).isEmpty());
    EXPECT_EQ(db.getGroupPrivilegesForUser(QStringLiteral("ann"), QStringLiteral("secret")).size(), 2);
    // No password set means none can log in with one.
    ASSERT_TRUE(db.setPasswordForUser(QString(), m_ann));
    EXPECT_TRUE(db.getGroupPrivilegesForUser(QStringLiteral("ann"), QString()).isEmpty());
    EXPECT_FALSE(db.setPasswordForUser(QStringLiteral("x"), QStringLiteral("no such user")));
}

TEST_P(UserManagerTest, UsersGroupsAndMembershipsAreListedChangedAndRemoved)
{
    const QString bob = db.addUserEntry(QStringLiteral("Bob"), QString(), QString(), QString(),
                                        {{QStringLiteral("PRIVILEGES"), QVariantList{QStringLiteral("SELF MANAGED")}}});
    ASSERT_FALSE(bob.isEmpty());
    const QList<QVariantMap> users = db.getUserList();
    ASSERT_EQ(users.size(), 2);
    EXPECT_EQ(users.at(0).value(QStringLiteral("name")).toString(), QStringLiteral("Ann O'Neil")); // by name
    EXPECT_EQ(users.at(0).value(QStringLiteral("login")).toString(), QStringLiteral("ann"));
    EXPECT_EQ(users.at(0).keys(), QStringList({"comment", "login", "mid", "name", "xml"}));
    EXPECT_EQ(users.at(1).value(QStringLiteral("login")).toString(), QString());
    EXPECT_TRUE(PropertyList::read(users.at(1).value(QStringLiteral("xml")).toString().toUtf8())
                    .toMap()
                    .contains(QStringLiteral("PRIVILEGES")));
    EXPECT_EQ(db.getUserForLogin(QStringLiteral("ann")).value(QStringLiteral("mid")).toString(), m_ann);
    EXPECT_TRUE(db.getUserForLogin(QStringLiteral("nobody")).isEmpty());

    ASSERT_TRUE(db.setNameForUser(QStringLiteral("Bob B."), bob));
    ASSERT_TRUE(db.setLoginForUser(QStringLiteral("bob"), bob));
    ASSERT_TRUE(db.setXMLForUser({}, bob));
    EXPECT_EQ(db.getUserForLogin(QStringLiteral("bob")).value(QStringLiteral("xml")).toString(), QString());
    ASSERT_TRUE(db.setNameForGroup(QStringLiteral("All staff"), m_staff));
    ASSERT_TRUE(
        db.setXMLForGroup({{QStringLiteral("PRIVILEGES"), QVariantList{QStringLiteral("WEB ACCESS")}}}, m_staff));
    EXPECT_FALSE(db.setNameForGroup(QStringLiteral("x"), QStringLiteral("no such group")));
    const QList<QVariantMap> groups = db.getGroupList();
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(groups.at(0).value(QStringLiteral("name")).toString(), QStringLiteral("All staff"));
    EXPECT_EQ(groups.at(0).keys(), QStringList({"comment", "mid", "name", "xml"}));

    ASSERT_FALSE(db.addUserToGroup(bob, m_staff).isEmpty());
    const QList<QVariantMap> members = db.getUserListForGroup(m_staff);
    ASSERT_EQ(members.size(), 2);
    EXPECT_EQ(members.at(0).value(QStringLiteral("usermid")).toString(), m_ann);
    EXPECT_EQ(members.at(0).value(QStringLiteral("mid")).toString(), m_annInStaff);
    EXPECT_EQ(members.at(1).value(QStringLiteral("login")).toString(), QStringLiteral("bob"));
    EXPECT_EQ(db.getGroupListForUser(m_ann).size(), 2);

    ASSERT_TRUE(db.deleteUserFromGroup(m_annInStaff));
    EXPECT_FALSE(db.deleteUserFromGroup(m_annInStaff));
    EXPECT_EQ(db.getUserListForGroup(m_staff).size(), 1);
    ASSERT_TRUE(db.deleteGroupEntry(m_staff));
    EXPECT_EQ(rows(QStringLiteral("select mid from strvgroupusers")), 1); // Ann in Editors
    ASSERT_TRUE(db.deleteUserEntry(m_ann));
    EXPECT_EQ(rows(QStringLiteral("select mid from strvgroupusers")), 0);
    EXPECT_FALSE(db.deleteUserEntry(m_ann));
    EXPECT_EQ(db.getUserList().size(), 1);
    // An insert the server refuses answers no id.
    EXPECT_TRUE(db.addUserEntry(QString(300, QLatin1Char('n')), QStringLiteral("x"), {}, {}, {}).isEmpty());
}

TEST_P(UserManagerTest, TheLevelOfACategoryIsTheHighestOfTheUsersGroups)
{
    ASSERT_TRUE(db.authenticateUser(QStringLiteral("ann")));
    const auto comment = [](const QVariantList &entries) {
        return QString::fromUtf8(PropertyList::writeXml(QVariantMap{{QStringLiteral("PRIVILEGES"), entries}}));
    };
    const auto entry = [](const QString &group, const char *level) {
        return QVariantMap{{QStringLiteral("group"), group}, {QStringLiteral("privilege"), QString::fromLatin1(level)}};
    };
    ASSERT_TRUE(db.updateCategoryListComment(
        m_collection,
        comment({entry(m_staff, "READ ONLY"), entry(m_editors, "READ & WRITE"), entry("g9", "FULL ACCESS")})));
    EXPECT_EQ(db.getCategoryAccessPrivilegesForMID(m_collection), QStringLiteral("READ & WRITE"));
    EXPECT_EQ(db.getCategoryForMID(m_collection)->value(QStringLiteral("MYPRIVILEGES")).toString(),
              QStringLiteral("READ & WRITE"));
    ASSERT_TRUE(db.updateCategoryListComment(m_collection, comment({entry("g9", "FULL ACCESS")})));
    EXPECT_EQ(db.getCategoryAccessPrivilegesForMID(m_collection), QStringLiteral("NO ACCESS"));
    EXPECT_TRUE(db.getCategoryForMID(m_collection)->isEmpty());
}
