// The command-line writers on a server catalog whose sessions end: before a write, after it (its
// answer lost) and at the commit whose answer was lost, and every few milliseconds. Each change is
// made once and said as it is: saved when saved, every entry counted and named truly.

#include "CatalogFixture.h"

#include "catalogdb/OVNDBHelper.h"
#include "platform/SystemInfo.h"

#include "../support/SessionCutProxy.h"
#include "../support/TestEnvironment.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>

#include <QElapsedTimer>

#include <csignal>
#include <memory>

#include <signal.h>

namespace {

struct ToolRun {
    int status = -1;
    QString out;
    QString err;
};

class ToolSessionsTest : public CatalogFixture
{
protected:
    QString catalogThrough(int port) const
    {
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(pgTestServer()->user).arg(port).arg(m_pgDatabase);
    }

    ToolRun run(const char *tool, const QStringList &arguments, const QByteArray &input = {}) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PGPASSWORD"), pgTestServer()->password);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(OVN_TOOLS_DIR "/") + QLatin1String(tool), arguments);
        if (!process.waitForStarted())
            return {};
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(180000)) {
            process.kill();
            process.waitForFinished();
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    int count(const QString &sql) { return db.rowsForQuery(sql).value(0).value(0).toInt(); }

    // `count` small pictures imported into the collection `name` directly; their paths.
    QStringList imported(const QString &name, int number)
    {
        QStringList paths;
        for (int i = 0; i < number; ++i) {
            QImage image(96, 64, QImage::Format_RGB32);
            image.fill(QColor(i * 5 % 256, 90, 160));
            paths.append(m_dir.filePath(QStringLiteral("%1%2.jpg").arg(name).arg(i, 3, 10, QLatin1Char('0'))));
            EXPECT_TRUE(image.save(paths.last(), "JPEG"));
        }
        const PgTestServer server = *pgTestServer();
        const ToolRun made =
            run("ovn-import", QStringList{QStringLiteral("--quiet"), catalogThrough(server.port), name} + paths);
        EXPECT_EQ(made.status, 0) << qPrintable(made.out + made.err);
        return paths;
    }
};

// The fixture's own cases live in the catalog layer's tests.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CatalogFixture);

INSTANTIATE_TEST_SUITE_P(Server, ToolSessionsTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

} // namespace

// ovn-users: a change whose answer was lost is said as saved, and is there once.
TEST_P(ToolSessionsTest, UserChangesWhoseAnswerWasLostAreSavedOnceAndSaidSo)
{
    const PgTestServer server = *pgTestServer();
    const QByteArray password = "Adm1nPw7\n";
    const QString me = SystemInfo::accountName();
    const ToolRun setUp = run(
        "ovn-users", {catalogThrough(server.port), QStringLiteral("first-run"), me, QStringLiteral("Jane")}, password);
    ASSERT_EQ(setUp.status, 0) << qPrintable(setUp.out + setUp.err);
    const struct {
        QStringList action;
        const char *statement;
        const char *answer;
        const char *rows; // what must be there once (or, for a removal, not at all) afterwards
        int expected;
    } cases[] = {
        {{"add-user", "bob"},
         "insert into strvusers",
         "ok: user",
         "select count(*) from strvusers where login='bob'",
         1},
        {{"group-privileges", "Staff"},
         "insert into strvgroups",
         "ok: group",
         "select count(*) from strvgroups where name='Staff'",
         1},
        {{"add-member", "bob", "Staff"},
         "insert into strvgroupusers",
         "ok: member",
         "select count(*) from strvgroupusers gu join strvusers u on u.mid=gu.usermid where u.login='bob'",
         1},
        {{"remove-member", "bob", "Staff"},
         "COMMIT",
         "ok: removed",
         "select count(*) from strvgroupusers gu join strvusers u on u.mid=gu.usermid where u.login='bob'",
         0},
        {{"delete-user", "bob"}, "COMMIT", "ok: deleted", "select count(*) from strvusers where login='bob'", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.action.join(QLatin1Char(' ')).toStdString());
        SessionCutProxy proxy(server.port, {});
        proxy.cutAt(c.statement, 1, SessionCutProxy::How::AnswerLost);
        const ToolRun done = run("ovn-users", QStringList{catalogThrough(proxy.port())} + c.action, password);
        EXPECT_EQ(proxy.cuts(), 1);
        EXPECT_EQ(done.status, 0) << qPrintable(done.out + done.err);
        EXPECT_TRUE(done.out.startsWith(QLatin1String(c.answer))) << qPrintable(done.out + done.err);
        EXPECT_FALSE(done.out.contains(QLatin1String("not saved"))) << qPrintable(done.out);
        EXPECT_EQ(count(QString::fromLatin1(c.rows)), c.expected);
    }
}

// ovn-users giving a change up after its tries says why, once: a server that answered but ended
// every session the change went through is said to have done so, not to be out of reach; nothing
// of the change is kept.
TEST_P(ToolSessionsTest, AChangeGivenUpSaysWhyOnce)
{
    const PgTestServer server = *pgTestServer();
    const QByteArray password = "Adm1nPw7\n";
    const ToolRun setUp = run(
        "ovn-users",
        {catalogThrough(server.port), QStringLiteral("first-run"), SystemInfo::accountName(), QStringLiteral("Jane")},
        password);
    ASSERT_EQ(setUp.status, 0) << qPrintable(setUp.out + setUp.err);
    SessionCutProxy proxy(server.port, {});
    proxy.cutEach("insert into strvusers", SessionCutProxy::How::Dropped);
    const ToolRun done =
        run("ovn-users", {catalogThrough(proxy.port()), QStringLiteral("add-user"), QStringLiteral("carl")}, password);
    EXPECT_GT(proxy.cuts(), 1);
    EXPECT_EQ(done.status, 1) << qPrintable(done.out + done.err);
    EXPECT_TRUE(done.out.startsWith(QLatin1String("refused: the catalog server ended every session")))
        << qPrintable(done.out + done.err);
    EXPECT_FALSE(done.out.contains(QLatin1String("cannot be reached"))) << qPrintable(done.out);
    EXPECT_EQ(count(QStringLiteral("select count(*) from strvusers where login='carl'")), 0);
}

// ovn-autofill and ovn-express --rate: through a session ended at each point, every entry is
// written once (an appended word once) and counted as written.
TEST_P(ToolSessionsTest, AutoFillAndRatingsThroughEndedSessionsCountTrulyAndWriteOnce)
{
    const PgTestServer server = *pgTestServer();
    const QStringList paths = imported(QStringLiteral("fill"), 40);
    const struct {
        const char *name;
        const char *statement;
        SessionCutProxy::How how;
    } cuts[] = {
        {"before a write", "update strvfile", SessionCutProxy::How::Dropped},
        {"after a write", "update strvfile", SessionCutProxy::How::AnswerLost},
        {"commit's answer lost", "COMMIT", SessionCutProxy::How::AnswerLost},
    };
    int round = 0;
    for (const auto &cut : cuts) {
        SCOPED_TRACE(cut.name);
        ++round;
        {
            SessionCutProxy proxy(server.port, {});
            proxy.cutAt(cut.statement, 1, cut.how);
            const ToolRun filled =
                run("ovn-autofill", {catalogThrough(proxy.port()), QStringLiteral("fill"), QStringLiteral("append"),
                                     QStringLiteral("keywords=w%1").arg(round)});
            EXPECT_EQ(proxy.cuts(), 1);
            EXPECT_EQ(filled.status, 0) << qPrintable(filled.out + filled.err);
            EXPECT_TRUE(filled.out.contains(QLatin1String("written: 40\n"))) << qPrintable(filled.out + filled.err);
            EXPECT_TRUE(filled.out.contains(QLatin1String("failed: 0\n"))) << qPrintable(filled.out);
            EXPECT_EQ(count(QStringLiteral("select count(*) from strvfile where keywords like '%w%1 w%1%'").arg(round)),
                      0);
            EXPECT_EQ(count(QStringLiteral("select count(*) from strvfile where keywords like '%w%1%'").arg(round)),
                      40);
        }
        {
            SessionCutProxy proxy(server.port, {});
            proxy.cutAt(cut.statement, 1, cut.how);
            const ToolRun rated =
                run("ovn-express", {catalogThrough(proxy.port()), QStringLiteral("--rate"), QString::number(round),
                                    QStringLiteral("--quick"), QStringLiteral("All:fill")});
            EXPECT_EQ(proxy.cuts(), 1);
            EXPECT_EQ(rated.status, 0) << qPrintable(rated.out + rated.err);
            EXPECT_TRUE(rated.out.contains(QLatin1String("rated: 40"))) << qPrintable(rated.out + rated.err);
            EXPECT_EQ(count(QStringLiteral("select count(*) from strvfile where rating=%1").arg(round)), 40);
        }
    }
}

// Auto-fill over a network 40 ms slower, whose sessions end every one or two seconds: each batch
// commits between the cuts, so that it goes on to the end, every entry written once and counted.
TEST_P(ToolSessionsTest, AutoFillOverASlowNetworkWhoseSessionsEndGoesOnToTheEnd)
{
    const PgTestServer server = *pgTestServer();
    // Enough entries that the run outlasts the first cut, batches being a few round trips each.
    imported(QStringLiteral("slow"), 300);
    SessionCutProxy proxy(server.port, {});
    proxy.delayEach(40);
    proxy.cutEvery(1000, 2000);
    const ToolRun filled = run("ovn-autofill", {catalogThrough(proxy.port()), QStringLiteral("slow"),
                                                QStringLiteral("append"), QStringLiteral("keywords=slow")});
    EXPECT_GT(proxy.cuts(), 0);
    EXPECT_EQ(filled.status, 0) << qPrintable(filled.out + filled.err);
    EXPECT_TRUE(filled.out.contains(QLatin1String("written: 300\n"))) << qPrintable(filled.out + filled.err);
    EXPECT_EQ(count(QStringLiteral("select count(*) from strvfile where keywords like '%slow slow%'")), 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from strvfile where keywords like '%slow%'")), 300);
}

// Auto-fill of many entries over a slow link costs a few round trips a batch, not a few an entry:
// the whole run, opening and listing included, sends the server far fewer messages than it writes
// entries (at 40 ms each way, 400 entries in well under 40 s).
TEST_P(ToolSessionsTest, AutoFillOfManyEntriesCostsFewerRoundTripsThanEntries)
{
    const PgTestServer server = *pgTestServer();
    const QString many = db.addCategoryListEntry(QStringLiteral("many"));
    ASSERT_FALSE(many.isEmpty());
    constexpr int entries = 400;
    ASSERT_TRUE(db.beginTransaction());
    for (int i = 0; i < entries; ++i)
        ASSERT_FALSE(db.addMediaListEntry(importRecord(many, QStringLiteral("e%1.jpg").arg(i))).isEmpty());
    ASSERT_TRUE(db.commitTransaction());
    SessionCutProxy proxy(server.port, {});
    const ToolRun filled =
        run("ovn-autofill", {catalogThrough(proxy.port()), QStringLiteral("many"), QStringLiteral("overwrite"),
                             QStringLiteral("keywords=far"), QStringLiteral("purchased.owner=Ann")});
    EXPECT_EQ(filled.status, 0) << qPrintable(filled.out + filled.err);
    EXPECT_TRUE(filled.out.contains(QStringLiteral("written: %1\n").arg(2 * entries)))
        << qPrintable(filled.out + filled.err);
    EXPECT_EQ(count(QStringLiteral("select count(*) from strvfile where keywords='far'")), entries);
    EXPECT_LT(proxy.messages(), entries / 2);
}

// A re-scan whose sessions end every 5 to 20 ms ends, says "rescanned N of M" truly, and ends with
// status 0 only when every entry was re-scanned; otherwise it names the ones it did not re-scan.
TEST_P(ToolSessionsTest, AReScanThroughSessionsEndedEveryFewMillisecondsEndsAndSaysTruly)
{
    const PgTestServer server = *pgTestServer();
    const QStringList paths = imported(QStringLiteral("scan"), 8);
    // One file gone: never re-scanned, always named.
    ASSERT_TRUE(QFile::remove(paths.at(5)));
    SessionCutProxy proxy(server.port, {});
    proxy.cutEvery(5, 20);
    const ToolRun rescanned = run("ovn-import", {QStringLiteral("--quiet"), QStringLiteral("--rescan"),
                                                 catalogThrough(proxy.port()), QStringLiteral("scan")});
    EXPECT_GT(proxy.cuts(), 0);
    EXPECT_EQ(rescanned.status, 1) << qPrintable(rescanned.out + rescanned.err);
    EXPECT_FALSE(rescanned.err.contains(QLatin1String("FATAL"))) << qPrintable(rescanned.err);
    // It may not even get the catalog opened through such sessions; when it re-scans, it counts.
    if (rescanned.out.contains(QLatin1String("rescanned "))) {
        EXPECT_FALSE(rescanned.out.contains(QLatin1String("rescanned 8 of 8"))) << qPrintable(rescanned.out);
        EXPECT_TRUE(rescanned.out.contains(QLatin1String(" of 8\n"))) << qPrintable(rescanned.out + rescanned.err);
        EXPECT_TRUE(rescanned.err.contains(QLatin1String(" not re-scanned:"))) << qPrintable(rescanned.err);
        EXPECT_TRUE(rescanned.err.contains(paths.at(5))) << qPrintable(rescanned.err);
    }
}

// ovn-users through sessions that end: ten log-ins through sessions cut every 10 to 40 ms are each
// admitted (the opening and the login go on on new sessions), and 24 membership changes whose
// answers are lost each say "ok" exactly when the catalog holds the change.
TEST_P(ToolSessionsTest, LogInsAndMembershipsThroughEndedSessionsAreSaidAsTheCatalogHoldsThem)
{
    const PgTestServer server = *pgTestServer();
    const QByteArray password = "Adm1nPw7\n";
    const QString me = SystemInfo::accountName();
    const ToolRun setUp = run(
        "ovn-users", {catalogThrough(server.port), QStringLiteral("first-run"), me, QStringLiteral("Jane")}, password);
    ASSERT_EQ(setUp.status, 0) << qPrintable(setUp.out + setUp.err);
    for (const char *action : {"add-user", "group-privileges"}) {
        const ToolRun made = run("ovn-users",
                                 {catalogThrough(server.port), QLatin1String(action),
                                  QLatin1String(action == std::string("add-user") ? "bob" : "Staff")},
                                 password);
        ASSERT_EQ(made.status, 0) << qPrintable(made.out + made.err);
    }
    {
        SessionCutProxy proxy(server.port, {});
        proxy.cutEvery(10, 40);
        // However quickly the log-ins go, at least one loses its session in the middle.
        proxy.cutAt("select ", 4, SessionCutProxy::How::Dropped);
        for (int login = 0; login < 10; ++login) {
            SCOPED_TRACE(login);
            const ToolRun in = run("ovn-users", {catalogThrough(proxy.port()), QStringLiteral("login"), me}, password);
            EXPECT_EQ(in.status, 0) << qPrintable(in.out + in.err);
            EXPECT_TRUE(in.out.startsWith(QLatin1String("ok: logged in"))) << qPrintable(in.out + in.err);
        }
        EXPECT_GT(proxy.cuts(), 0);
    }
    const QString members =
        QStringLiteral("select count(*) from strvgroupusers gu join strvusers u on u.mid=gu.usermid "
                       "join strvgroups g on g.mid=gu.groupmid where u.login='bob' and g.name='Staff'");
    const struct {
        const char *action;
        const char *statement;
        SessionCutProxy::How how;
        const char *answer;
        int members;
    } changes[] = {
        {"add-member", "insert into strvgroupusers", SessionCutProxy::How::AnswerLost, "ok: member", 1},
        {"remove-member", "COMMIT", SessionCutProxy::How::AnswerLost, "ok: removed", 0},
        {"add-member", "insert into strvgroupusers", SessionCutProxy::How::Dropped, "ok: member", 1},
        {"remove-member", "delete from strvgroupusers", SessionCutProxy::How::AnswerLost, "ok: removed", 0},
    };
    for (int round = 0; round < 6; ++round) {
        for (const auto &change : changes) {
            SCOPED_TRACE(
                QStringLiteral("%1 %2 (round %3)").arg(change.action, change.statement).arg(round).toStdString());
            SessionCutProxy proxy(server.port, {});
            proxy.cutAt(change.statement, 1, change.how);
            const ToolRun done = run("ovn-users",
                                     {catalogThrough(proxy.port()), QLatin1String(change.action), QStringLiteral("bob"),
                                      QStringLiteral("Staff")},
                                     password);
            EXPECT_EQ(done.status, 0) << qPrintable(done.out + done.err);
            EXPECT_TRUE(done.out.startsWith(QLatin1String(change.answer))) << qPrintable(done.out + done.err);
            EXPECT_EQ(count(members), change.members);
        }
    }
}

// A member's level lowered between two tries of a write, or between two of its batches, counts
// for what is written after it: ovn-autofill says the entries refused as refused, and writes only
// what it counts as written. A grant that takes the granter's own level away, whose answer was
// lost, is found stored by the try after it and said as saved.
TEST_P(ToolSessionsTest, ALevelLoweredBetweenTwoTriesCountsAndALostGrantIsSaved)
{
    const PgTestServer server = *pgTestServer();
    const QByteArray password = "Adm1nPw7\n";
    const QString me = SystemInfo::accountName();
    const ToolRun setUp = run(
        "ovn-users", {catalogThrough(server.port), QStringLiteral("first-run"), me, QStringLiteral("Jane")}, password);
    ASSERT_EQ(setUp.status, 0) << qPrintable(setUp.out + setUp.err);
    imported(QStringLiteral("fill"), 40);
    const QString fill = db.rowsForQuery(QStringLiteral("select mid from strvcategory where displaytag='fill'"))
                             .value(0)
                             .value(0)
                             .toString();
    ASSERT_FALSE(fill.isEmpty());
    // The category's comment at each level, as the privileges window writes it (each from a
    // category without a list, which grants everything).
    QHash<QString, QString> comments;
    for (const char *level : {"READ ONLY", "FULL ACCESS", "READ & WRITE"}) {
        ASSERT_TRUE(db.updateCategoryListComment(fill, QString()));
        const ToolRun granted = run("ovn-users",
                                    {catalogThrough(server.port), QStringLiteral("--force"), QStringLiteral("grant"),
                                     fill, QStringLiteral("Admin"), QLatin1String(level)},
                                    password);
        ASSERT_EQ(granted.status, 0) << qPrintable(granted.out + granted.err);
        comments.insert(QLatin1String(level), *db.getCategoryCommentForMID(fill));
    }
    const auto lowered = [&] { return db.getCategoryCommentForMID(fill) == comments.value("READ ONLY"); };
    const auto keyworded = [&](int round) {
        return count(QStringLiteral("select count(*) from strvfile where keywords like '%lowered%1%'").arg(round));
    };
    const auto autofill = [&](int port, int round) {
        return run("ovn-autofill", {catalogThrough(port), QStringLiteral("fill"), QStringLiteral("append"),
                                    QStringLiteral("keywords=lowered%1").arg(round)});
    };
    const auto writtenCount = [](const QString &out) {
        return QRegularExpression(QStringLiteral("written: (\\d+)\n")).match(out).captured(1).toInt();
    };
    const auto refusedCount = [](const QString &out) {
        return QRegularExpression(QStringLiteral("refused: (\\d+)\n")).match(out).captured(1).toInt();
    };

    // The first write's session ended by the server's administrator, who lowers the level first.
    {
        SCOPED_TRACE("write cut, lowered before the retry");
        auto side = std::shared_ptr<OVNDatabaseAccess>(openAnother().release());
        SessionCutProxy proxy(server.port, [&, side](int clientPort) {
            side->runSQLCommand(QStringLiteral("select pg_terminate_backend(pid, 10000) from pg_stat_activity where "
                                               "client_port=$1"),
                                {clientPort});
            side->updateCategoryListComment(fill, comments.value("READ ONLY"));
        });
        proxy.cutAt("update strvfile", 1, SessionCutProxy::How::Terminated);
        const ToolRun filled = autofill(proxy.port(), 1);
        EXPECT_EQ(proxy.cuts(), 1);
        EXPECT_TRUE(lowered());
        EXPECT_EQ(filled.status, 1) << qPrintable(filled.out + filled.err);
        EXPECT_TRUE(filled.out.contains(QLatin1String("written: 0\nrefused: 40\nfailed: 0\n")))
            << qPrintable(filled.out + filled.err);
        EXPECT_EQ(keyworded(1), 0);
    }
    // No cut: the level is lowered as the first batch writes (a trigger, so that it comes between
    // that batch's question and the next one's); a network 30 ms slower makes the batches small.
    {
        SCOPED_TRACE("lowered between two batches");
        ASSERT_TRUE(db.updateCategoryListComment(fill, comments.value("READ & WRITE")));
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("create function ovn_test_lower() returns trigger language plpgsql "
                                                    "as $f$ begin update strvcategory set comment=$c$%1$c$ where "
                                                    "mid=$c$%2$c$; return new; end $f$")
                                         .arg(comments.value("READ ONLY"), fill)));
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("create trigger ovn_test_lower after update on strvfile for each "
                                                    "row execute function ovn_test_lower()")));
        SessionCutProxy proxy(server.port, {});
        proxy.delayEach(30);
        const ToolRun filled = autofill(proxy.port(), 2);
        db.runSQLCommand(QStringLiteral("drop trigger ovn_test_lower on strvfile"));
        db.runSQLCommand(QStringLiteral("drop function ovn_test_lower()"));
        EXPECT_TRUE(lowered());
        EXPECT_EQ(filled.status, 1) << qPrintable(filled.out + filled.err);
        const int written = writtenCount(filled.out);
        EXPECT_GT(written, 0) << qPrintable(filled.out + filled.err);
        EXPECT_GT(refusedCount(filled.out), 0) << qPrintable(filled.out + filled.err);
        EXPECT_EQ(written + refusedCount(filled.out), 40) << qPrintable(filled.out + filled.err);
        EXPECT_TRUE(filled.out.contains(QLatin1String("failed: 0\n"))) << qPrintable(filled.out);
        EXPECT_EQ(keyworded(2), written);
    }
    // The grant takes FULL ACCESS from the one who grants it; its commit's answer is lost.
    {
        SCOPED_TRACE("--force grant, the commit's answer lost");
        ASSERT_TRUE(db.updateCategoryListComment(fill, comments.value("FULL ACCESS")));
        SessionCutProxy proxy(server.port, {});
        proxy.cutAt("COMMIT", 1, SessionCutProxy::How::AnswerLost);
        const ToolRun granted = run("ovn-users",
                                    {catalogThrough(proxy.port()), QStringLiteral("--force"), QStringLiteral("grant"),
                                     fill, QStringLiteral("Admin"), QStringLiteral("NO ACCESS")},
                                    password);
        EXPECT_EQ(proxy.cuts(), 1);
        EXPECT_EQ(granted.status, 0) << qPrintable(granted.out + granted.err);
        EXPECT_TRUE(granted.out.startsWith(QLatin1String("ok: Admin has NO ACCESS"))) << qPrintable(granted.out);
        EXPECT_TRUE(db.getCategoryCommentForMID(fill).value_or(QString()).contains(QLatin1String("NO ACCESS")));
    }
}

// The import that makes a server catalog's tables, its sessions cut at the table script: twice at
// its BEGIN, twice inside it, or its commit's answer lost. The import goes on to a whole catalog
// and says "imported" only into one; never a catalog with some of its tables.
TEST_P(ToolSessionsTest, CutsAtTheTableScriptLeaveAWholeCatalogOrNone)
{
    const PgTestServer server = *pgTestServer();
    QImage image(32, 24, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString picture = m_dir.filePath(QStringLiteral("made.jpg"));
    ASSERT_TRUE(image.save(picture, "JPEG"));
    const QString allTables = QStringLiteral("strvcategory, strvset, strvfile, strvexif, strvpurchased, strvsold");
    const struct {
        const char *name;
        QString dropped; // the tables the server catalog lacks before the import
        const char *statement;
        SessionCutProxy::How how;
        int times;
    } cuts[] = {
        {"BEGIN lost twice", allTables, "BEGIN", SessionCutProxy::How::Dropped, 2},
        {"inside the script twice", allTables, "create table strvexif", SessionCutProxy::How::Dropped, 2},
        {"the commit's answer lost", allTables, "COMMIT", SessionCutProxy::How::AnswerLost, 1},
        // What cuts left behind where the script ran outside its transaction.
        {"three of six tables left by earlier cuts", QStringLiteral("strvexif, strvpurchased, strvsold"), "",
         SessionCutProxy::How::Dropped, 0},
    };
    for (const auto &cut : cuts) {
        SCOPED_TRACE(cut.name);
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("drop table if exists ") + allTables));
        ASSERT_TRUE(createCatalog(db));
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("drop table ") + cut.dropped));
        SessionCutProxy proxy(server.port, {});
        proxy.cutAt(cut.statement, 1, cut.how, cut.times);
        const ToolRun made = run(
            "ovn-import", {QStringLiteral("--quiet"), catalogThrough(proxy.port()), QStringLiteral("made"), picture});
        EXPECT_EQ(proxy.cuts(), cut.times);
        const std::optional<OVNDBHelper::CatalogContents> contents = OVNDBHelper::catalogContents(db);
        ASSERT_TRUE(contents) << qPrintable(db.getLastErrorMessage());
        EXPECT_TRUE(contents->whole() || !contents->holdsCatalogTables) << qPrintable(contents->missingText());
        EXPECT_EQ(made.status, 0) << qPrintable(made.out + made.err);
        EXPECT_TRUE(made.out.contains(QLatin1String("imported 1 of 1 file"))) << qPrintable(made.out + made.err);
        EXPECT_TRUE(contents->whole()) << qPrintable(contents->missingText());
        if (contents->whole()) {
            EXPECT_EQ(count(QStringLiteral("select count(*) from strvfile")), 1);
        }
    }
}

// ovn-users group-privileges for a new group: the group and its privileges are kept together or
// not at all, and a try after a lost answer makes neither twice.
TEST_P(ToolSessionsTest, ANewGroupIsKeptWithItsPrivilegesOrNotAtAll)
{
    const PgTestServer server = *pgTestServer();
    const QByteArray password = "Adm1nPw7\n";
    const ToolRun setUp = run(
        "ovn-users",
        {catalogThrough(server.port), QStringLiteral("first-run"), SystemInfo::accountName(), QStringLiteral("Jane")},
        password);
    ASSERT_EQ(setUp.status, 0) << qPrintable(setUp.out + setUp.err);
    const struct {
        const char *group;
        const char *statement;
        SessionCutProxy::How how;
        int status;
        const char *answer;
        int kept; // rows of that group, each with its privilege
    } cases[] = {
        // The server goes for good after the group's row: nothing may stay without its privileges.
        {"Gone", "update strvgroups", SessionCutProxy::How::Down, 0, "ok: group", 1},
        {"Lost", "insert into strvgroups", SessionCutProxy::How::AnswerLost, 0, "ok: group", 1},
        {"Dropped", "insert into strvgroups", SessionCutProxy::How::Dropped, 0, "ok: group", 1},
        {"Committed", "COMMIT", SessionCutProxy::How::AnswerLost, 0, "ok: group", 1},
        {"Away", "insert into strvgroups", SessionCutProxy::How::Down, 1, "refused: ", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.group);
        SessionCutProxy proxy(server.port, {});
        proxy.cutAt(c.statement, 1, c.how);
        const ToolRun done = run("ovn-users",
                                 {catalogThrough(proxy.port()), QStringLiteral("group-privileges"),
                                  QLatin1String(c.group), QStringLiteral("WEB ACCESS")},
                                 password);
        EXPECT_EQ(done.status, c.status) << qPrintable(done.out + done.err);
        EXPECT_TRUE((done.out + done.err).contains(QLatin1String(c.answer))) << qPrintable(done.out + done.err);
        EXPECT_EQ(count(QStringLiteral("select count(*) from strvgroups where name='%1'").arg(c.group)), c.kept);
        EXPECT_EQ(count(QStringLiteral("select count(*) from strvgroups where name='%1' and xml like '%WEB ACCESS%'")
                            .arg(c.group)),
                  c.kept);
    }
}

// ovn-import given SIGTERM or SIGINT while it waits for a server that is not there at its
// opening ends at once (not after the 30 seconds of the wait), says that it was stopped rather
// than that the server cannot be reached, and imports nothing.
TEST_P(ToolSessionsTest, AStopWhileTheOpeningWaitsEndsTheImportAtOnceAndSaysSo)
{
    const PgTestServer server = *pgTestServer();
    // Refused as by a server that is not running.
    SessionCutProxy proxy(server.port, {}, false);
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(Qt::red);
    const QString picture = m_dir.filePath(QStringLiteral("stopped.jpg"));
    ASSERT_TRUE(image.save(picture, "JPEG"));
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PGPASSWORD"), server.password);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.setReadChannel(QProcess::StandardError);
        process.start(QStringLiteral(OVN_TOOLS_DIR "/ovn-import"),
                      {catalogThrough(proxy.port()), QStringLiteral("Stopped"), picture});
        ASSERT_TRUE(process.waitForStarted());
        QByteArray err;
        while (!err.contains("Waiting for the catalog server...") && process.state() == QProcess::Running)
            if (process.waitForReadyRead(60000))
                err += process.readAllStandardError();
        ASSERT_TRUE(err.contains("Waiting for the catalog server...")) << err.constData();
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(60000));
        // Well within the wait it would otherwise have gone on with.
        EXPECT_LT(clock.elapsed(), 10000);
        err += process.readAllStandardError();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 1);
        EXPECT_TRUE(err.contains("stopped by a signal")) << err.constData();
        EXPECT_FALSE(err.contains("cannot be reached")) << err.constData();
        EXPECT_TRUE(err.contains("1 file was not imported")) << err.constData();
    }
    EXPECT_EQ(count(QStringLiteral("select count(*) from strvfile")), 0);
}
