// Going on through a catalog server that ends sessions, goes away or goes silent: each fault ends
// the work within its time and says why, a stop is heard while the server is waited for, new
// sessions are paced, and clients that open an empty database together all find its tables.

#include "CatalogFixture.h"

#include "../support/SessionCutProxy.h"
#include "../support/TestEnvironment.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseTransaction.h"

#include <QElapsedTimer>

#include <atomic>
#include <thread>
#include <vector>

namespace {

class CatalogOpeningTest : public CatalogFixture
{
protected:
    std::unique_ptr<OVNDatabaseAccess> openThroughProxy(int port, std::chrono::milliseconds answerWait) const
    {
        const PgTestServer server = *pgTestServer();
        auto connection = std::make_unique<OVNDatabaseAccess>();
        connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(port),
                                         server.user, server.password, m_pgDatabase);
        connection->setAnswerWait(answerWait);
        EXPECT_TRUE(connection->openDBConnection()) << qPrintable(connection->getLastErrorMessage());
        return connection;
    }
};

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CatalogFixture);

INSTANTIATE_TEST_SUITE_P(Server, CatalogOpeningTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

} // namespace

TEST(CatalogOpeningPauses, GrowFromAMomentToASecondAndSpreadAtRandom)
{
    const struct {
        int tries;
        int atLeastMs;
        int atMostMs;
    } cases[] = {{0, 40, 60}, {1, 80, 120}, {3, 320, 480}, {5, 800, 1200}, {40, 800, 1200}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tries);
        int lowest = 1 << 30;
        int highest = 0;
        for (int i = 0; i < 200; ++i) {
            const int pause = int(OVNCatalogOpening::pauseAfter(c.tries).count());
            lowest = std::min(lowest, pause);
            highest = std::max(highest, pause);
        }
        EXPECT_GE(lowest, c.atLeastMs);
        EXPECT_LE(highest, c.atMostMs);
        // Clients that lost their sessions together do not all come back together.
        EXPECT_LT(lowest, highest);
    }
}

// A read retried through each fault with a budget of 3 seconds: what it answers, when, how many
// sessions it opened, and why it failed.
TEST_P(CatalogOpeningTest, EachFaultEndsTheRetriesWithinTheBudgetAndSaysWhy)
{
    using namespace std::chrono_literals;
    const PgTestServer server = *pgTestServer();
    constexpr int budget = 3;
    enum class Fault { CutOnce, EveryStatementEnded, ServerAway, ServerSilent, StoppedWhileWaiting };
    const struct {
        const char *name;
        Fault fault;
        bool ran;
        double atLeastSeconds;
        double atMostSeconds;
        int mostSessions;
    } cases[] = {
        // A session lost once is opened again at once.
        {"cut once", Fault::CutOnce, true, 0, 2, 3},
        // Without pauses between new sessions this opens hundreds in the budget.
        {"every session ended at its first statement", Fault::EveryStatementEnded, false, budget, budget + 3, 15},
        {"server away for longer than the budget", Fault::ServerAway, false, budget, budget + 3, 1},
        // A statement that gets no answer is given up after the answer wait, within the budget.
        // (A new session on a silent network takes the connect timeout, 5 seconds, to give up.)
        {"network silent for longer than the budget", Fault::ServerSilent, false, 1, budget + 8, 15},
        {"stopped while the server is waited for", Fault::StoppedWhileWaiting, false, 0, 1.5, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SessionCutProxy proxy(server.port, {});
        const auto connection = openThroughProxy(proxy.port(), 1s);
        ASSERT_TRUE(connection->runSQLCommand(QStringLiteral("select 1")));
        std::atomic<bool> cancelled{false};
        std::atomic<int> waitsSaid{0};
        switch (c.fault) {
        case Fault::CutOnce:
            proxy.cutAt("strvfile", 1, SessionCutProxy::How::Dropped);
            break;
        case Fault::EveryStatementEnded:
            proxy.endEachAtStatement(1);
            break;
        case Fault::ServerAway:
        case Fault::StoppedWhileWaiting:
            proxy.goDown();
            break;
        case Fault::ServerSilent:
            proxy.hold();
            break;
        }
        const int sessionsBefore = proxy.sessions();
        QElapsedTimer clock;
        clock.start();
        int entries = -1;
        const bool ran = OVNCatalogOpening::retried(
            *connection,
            [&] { entries = connection->affectedRowsForQuery(QStringLiteral("select mid from strvfile")); },
            [&](const QString &text) {
                EXPECT_EQ(text, OVNCatalogOpening::waitingText());
                ++waitsSaid;
                // The user's stop comes while the server is waited for.
                if (c.fault == Fault::StoppedWhileWaiting)
                    cancelled = true;
            },
            budget, &cancelled);
        const double seconds = double(clock.elapsed()) / 1000;
        proxy.release();
        EXPECT_EQ(ran, c.ran) << qPrintable(connection->getLastErrorMessage());
        EXPECT_GE(seconds, c.atLeastSeconds);
        EXPECT_LE(seconds, c.atMostSeconds);
        EXPECT_LE(proxy.sessions() - sessionsBefore, c.mostSessions);
        if (c.ran) {
            EXPECT_EQ(entries, 0);
            continue;
        }
        // (On the silent network the budget goes by in the unanswered statement and the new
        // session's connect timeout, before any wait between tries.)
        if (c.fault != Fault::ServerSilent) {
            EXPECT_GT(waitsSaid.load(), 0);
        }
        // Said as a server out of reach, never as a refusal the user could act on.
        EXPECT_EQ(connection->lastFailure(), OVNDatabaseAccess::Failure::Unreachable);
        EXPECT_TRUE(connection->lastErrorLostConnection());
        EXPECT_FALSE(connection->getLastErrorMessage().isEmpty());
    }
}

// A write whose statement met a silent network is given up, and is not stored when the network
// comes back: its session ends without a commit.
TEST_P(CatalogOpeningTest, AWriteGivenUpOnASilentNetworkIsNotStoredLater)
{
    using namespace std::chrono_literals;
    const PgTestServer server = *pgTestServer();
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("create table scratch (v integer)")));
    SessionCutProxy proxy(server.port, {});
    const auto connection = openThroughProxy(proxy.port(), 1s);
    bool written = false;
    {
        OVNDatabaseTransaction transaction(*connection);
        ASSERT_TRUE(transaction.isActive());
        proxy.hold();
        written = connection->runSQLCommand(QStringLiteral("insert into scratch values (1)")) && transaction.commit();
    }
    EXPECT_FALSE(written);
    EXPECT_TRUE(connection->lastErrorLostConnection());
    proxy.release();
    // Once the server has ended every other session of this database, the insert it may have
    // received late is either committed or gone for good.
    const QString others = QStringLiteral("select count(*) from pg_stat_activity where datname = current_database() "
                                          "and pid <> pg_backend_pid()");
    QElapsedTimer clock;
    clock.start();
    while (db.rowsForQuery(others).value(0).value(0).toInt() > 0 && clock.elapsed() < 20000)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(db.rowsForQuery(QStringLiteral("select count(*) from scratch")).value(0).value(0).toInt(), 0);
}

// Eight clients that open an empty database at the same moment all find the whole catalog: the
// table script takes the server's lock first, so one makes the tables and the others, after it,
// find them there rather than running its statements into each other.
TEST_P(CatalogOpeningTest, EightFirstOpeningsAtOnceAllFindTheCatalog)
{
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("drop schema public cascade")));
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("create schema public")));
    ASSERT_FALSE(db.checkForDatabaseSetup());
    constexpr int clients = 8;
    std::vector<std::unique_ptr<OVNDatabaseAccess>> connections;
    for (int i = 0; i < clients; ++i)
        connections.push_back(openAnother());
    std::atomic<int> ready{0};
    std::vector<int> made(clients, 0);
    std::vector<QString> why(clients);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            OVNDatabaseAccess &connection = *connections[size_t(i)];
            ++ready;
            while (ready.load() < clients)
                std::this_thread::yield();
            made[size_t(i)] = OVNDBHelper::prefDBCreatePostgreSQLDatabase(connection);
            why[size_t(i)] = connection.getLastErrorMessage();
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int i = 0; i < clients; ++i)
        EXPECT_TRUE(made[size_t(i)]) << i << ": " << qPrintable(why[size_t(i)]);
    EXPECT_TRUE(db.checkForDatabaseSetup());
}
