#include "CatalogFixture.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseTransaction.h"

#include <QFile>

#include <chrono>
#include <thread>

TEST(ConnectionTest, AnUnknownVendorOpensNothingAndEveryPrimitiveGivesItsEmptyResult)
{
    for (const char *vendor : {"MySQL", "", "postgresql", "Integrated "}) {
        OVNDatabaseAccess db;
        db.setConnectionDetails(QString::fromLatin1(vendor), QString(), QString(), QString(),
                                QStringLiteral(":memory:"));
        EXPECT_EQ(db.vendor(), OVNDatabaseAccess::Vendor::None);
        EXPECT_FALSE(db.openDBConnection()) << vendor;
        EXPECT_FALSE(db.isDBConnectionActive());
        EXPECT_FALSE(db.getLastErrorMessage().isEmpty());
        EXPECT_FALSE(db.runSQLCommand(QStringLiteral("select 1")));
        EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select 1")), -1);
        EXPECT_TRUE(db.rowsForQuery(QStringLiteral("select 1")).isEmpty());
        EXPECT_TRUE(db.blobcolumnForQuery(QStringLiteral("select x'01'")).isEmpty());
        EXPECT_TRUE(db.rowDictionaryForQuery(QStringLiteral("select 1 as a")).isEmpty());
        EXPECT_FALSE(db.beginTransaction());
        EXPECT_FALSE(db.checkForDatabaseSetup());
        EXPECT_TRUE(db.addCategoryListEntry(QStringLiteral("x")).isEmpty());
        EXPECT_TRUE(db.getCategoryList().isEmpty());
        EXPECT_TRUE(db.getMediaList(QStringLiteral("0")).isEmpty());
        EXPECT_TRUE(db.addMediaListEntry({}).isEmpty());
    }
}

TEST(ConnectionTest, AFileThatIsNoDatabaseLeavesTheConnectionInactive)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("not-a-catalog"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();

    OVNDatabaseAccess db;
    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
    EXPECT_FALSE(db.openDBConnection());
    EXPECT_FALSE(db.isDBConnectionActive());
    EXPECT_TRUE(db.getLastErrorMessage().contains(QStringLiteral("not a database")))
        << qPrintable(db.getLastErrorMessage());

    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(),
                            dir.filePath(QStringLiteral("missing/folder/MediaDB.sqlite")));
    EXPECT_FALSE(db.openDBConnection());
    EXPECT_FALSE(db.isDBConnectionActive());

    // No file set: SQLite would quietly use a temporary one.
    db.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), QString());
    EXPECT_FALSE(db.openDBConnection());
}

class PrimitivesTest : public CatalogFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("create table t (n int, a text, b %1)").arg(blobType())));
    }
};

OVN_CATALOG_VENDORS(PrimitivesTest);

TEST_P(PrimitivesTest, AffectedRowsCountsTheRowsASelectReturns)
{
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select a from t")), 0);
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("insert into t (a) values ('x')")));
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select a from t")), 1);
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("update t set a='y'")), 0);
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select nothing from nowhere")), -1);
}

TEST_P(PrimitivesTest, RowDictionaryKeepsTheLastRowWithNullsAsEmptyText)
{
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("insert into t (n, a) values (1, 'first')")));
    ASSERT_TRUE(
        db.runSQLCommand(QStringLiteral("insert into t (n, a, b) values (2, NULL, $1)"), {QByteArray(1, '\0')}));
    const QVariantMap row = db.rowDictionaryForQuery(QStringLiteral("select a as Name, b from t order by n"));
    ASSERT_EQ(row.size(), 2);
    EXPECT_EQ(row.value(QStringLiteral("name")).toString(), QString());
    EXPECT_TRUE(row.value(QStringLiteral("name")).isValid());

    const QList<OVNRow> rows = db.rowsForQuery(QStringLiteral("select a, b from t order by n"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.at(0).at(0).toString(), QStringLiteral("first"));
    EXPECT_FALSE(rows.at(0).at(1).isValid()); // NULL is the null marker in raw rows
    EXPECT_FALSE(rows.at(1).at(0).isValid());
    EXPECT_EQ(rows.at(1).at(1).toByteArray(), QByteArray(1, '\0'));
}

TEST_P(PrimitivesTest, BlobColumnIsEmptyWhenEveryRowIsNullOrEmpty)
{
    const QString insert = QStringLiteral("insert into t (n, b) values ($1, $2)");
    ASSERT_TRUE(db.runSQLCommand(insert, {1, QVariant()}));
    ASSERT_TRUE(db.runSQLCommand(insert, {2, QByteArray("")}));
    EXPECT_TRUE(db.blobcolumnForQuery(QStringLiteral("select b from t")).isEmpty());
    ASSERT_TRUE(db.runSQLCommand(insert, {3, QByteArray("\x01\x02", 2)}));
    ASSERT_TRUE(db.runSQLCommand(insert, {4, QVariant()}));
    EXPECT_EQ(db.blobcolumnForQuery(QStringLiteral("select b from t order by n")), QByteArray("\x01\x02", 2));
}

TEST_P(PrimitivesTest, AFailedStepIsAFailureWithItsMessage)
{
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("create unique index tu on t (a)")));
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("insert into t (a) values ($1)"), {QStringLiteral("x")}));
    EXPECT_FALSE(db.runSQLCommand(QStringLiteral("insert into t (a) values ($1)"), {QStringLiteral("x")}));
    EXPECT_TRUE(db.getLastErrorMessage().contains(QStringLiteral("unique"), Qt::CaseInsensitive))
        << qPrintable(db.getLastErrorMessage());
    EXPECT_FALSE(db.runSQLCommand(QStringLiteral("insert into nowhere values (1)")));
    EXPECT_TRUE(db.getLastErrorMessage().contains(QStringLiteral("nowhere")));
}

TEST_P(PrimitivesTest, ASecondStatementInOneTextIsRefusedAndNotRun)
{
    EXPECT_FALSE(db.runSQLCommand(QStringLiteral("select 1; drop table strvfile")));
    EXPECT_TRUE(db.checkForDatabaseSetup());
    EXPECT_TRUE(db.runSQLCommand(QStringLiteral("select 1;  ")));
    EXPECT_FALSE(db.runSQLCommand(QStringLiteral("   ")));
}

TEST_P(PrimitivesTest, ParametersAreBoundByNumberWhateverTheirOrderInTheText)
{
    const QList<OVNRow> rows =
        db.rowsForQuery(QStringLiteral("select $2, $1, $3, $4, $5"),
                        {QStringLiteral("one"), qint64(2), QVariant(), 2.5, QByteArray("\0\x27\x5c", 3)});
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.at(0).at(0).toString(), QStringLiteral("2"));
    EXPECT_EQ(rows.at(0).at(1).toString(), QStringLiteral("one"));
    EXPECT_FALSE(rows.at(0).at(2).isValid());
    EXPECT_EQ(rows.at(0).at(3).toString(), QStringLiteral("2.5"));
    EXPECT_EQ(rows.at(0).at(4).toByteArray(), QByteArray("\0\x27\x5c", 3));
    EXPECT_FALSE(db.runSQLCommand(QStringLiteral("select $1"), {1, 2}));
}

TEST_P(PrimitivesTest, TransactionsNestAsSavepoints)
{
    EXPECT_FALSE(db.commitTransaction());
    ASSERT_TRUE(db.beginTransaction());
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("insert into t (a) values ('outer')")));
    {
        OVNDatabaseTransaction inner(db);
        ASSERT_TRUE(inner.isActive());
        EXPECT_EQ(db.transactionDepth(), 2);
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("insert into t (a) values ('inner')")));
        // Leaving the scope without commit undoes only the inner part.
    }
    EXPECT_EQ(db.transactionDepth(), 1);
    ASSERT_TRUE(db.commitTransaction());
    EXPECT_EQ(db.transactionDepth(), 0);
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select a from t where a='outer'")), 1);
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select a from t where a='inner'")), 0);

    ASSERT_TRUE(db.beginTransaction());
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("insert into t (a) values ('gone')")));
    ASSERT_TRUE(db.rollbackTransaction());
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select a from t where a='gone'")), 0);
}

TEST_P(PrimitivesTest, ClosedConnectionAnswersNothing)
{
    db.closeDBConnection();
    EXPECT_FALSE(db.isDBConnectionActive());
    EXPECT_FALSE(db.runSQLCommand(QStringLiteral("select 1")));
    EXPECT_EQ(db.affectedRowsForQuery(QStringLiteral("select 1")), -1);
    EXPECT_TRUE(db.revalidateDBConnection());
    EXPECT_TRUE(db.checkForDatabaseSetup());
}

// Workers write through connections of their own while the main thread reads; the busy timeout
// lets them take turns instead of failing.
TEST_P(CatalogFixture, WorkersWithTheirOwnConnectionsWriteTogether)
{
    constexpr int perWorker = 150;
    std::atomic<int> failures{0};
    const auto work = [&] {
        std::unique_ptr<OVNDatabaseAccess> connection = openAnother();
        for (int batch = 0; batch < 3; ++batch) {
            OVNDatabaseTransaction transaction(*connection);
            for (int i = 0; i < perWorker / 3; ++i) {
                if (connection->addCategoryListEntry(QStringLiteral("c")).isEmpty())
                    ++failures;
            }
            if (!transaction.commit())
                ++failures;
        }
    };
    std::thread first(work), second(work);
    for (int i = 0; i < 20; ++i)
        db.getCategoryList();
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(db.getCategoryList().size(), 2 * perWorker);
}

// A transaction that reads before it writes waits behind another writer instead of failing at
// once: it holds the write lock from its begin, so it never has to turn a read lock into a write
// lock while the other writer holds that.
TEST_P(CatalogFixture, ATransactionThatReadsFirstWaitsForAnotherWriter)
{
    if (isPostgres())
        GTEST_SKIP() << "only a catalog file locks writers out";
    std::unique_ptr<OVNDatabaseAccess> other = openAnother();
    ASSERT_TRUE(other->beginTransaction());
    ASSERT_FALSE(other->addCategoryListEntry(QStringLiteral("held")).isEmpty());
    std::thread release([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        other->commitTransaction();
    });
    OVNDatabaseTransaction transaction(db);
    const bool begun = transaction.isActive();
    db.getCategoryList();
    const QString added = db.addCategoryListEntry(QStringLiteral("mine"));
    const QString error = db.getLastErrorMessage();
    const bool committed = transaction.commit();
    release.join();
    EXPECT_TRUE(begun);
    EXPECT_FALSE(added.isEmpty()) << qPrintable(error);
    EXPECT_TRUE(committed);
    EXPECT_EQ(db.getCategoryList().size(), 2);
}
