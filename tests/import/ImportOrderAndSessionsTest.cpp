// The import's order (records stored in the list's order, a slow file passed over) and its word
// under server faults: sessions ended at each statement, a server down at the start, imports racing
// into one new collection, a re-scan under frequent cuts, the command-line import's opening.

#include "CatalogFixture.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "import/OVNCatalogSession.h"
#include "import/OVNImportWorker.h"
#include "platform/MediaRecord.h"

#include "../support/SessionCutProxy.h"
#include "../support/TestEnvironment.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

namespace {

QString writeJpeg(const QString &path, int seed)
{
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(QColor((seed * 37) % 256, (seed * 91) % 256, 120));
    QPainter(&image).drawText(40, 40, QString::number(seed));
    EXPECT_TRUE(image.save(path, "JPEG", 85));
    return path;
}

// The names of a category's entries as the catalog lists them when sorted by nothing: the order
// the thumbnail view shows at sort code 0.
QStringList loadedNames(OVNDatabaseAccess &db, const QString &categoryId)
{
    QStringList names;
    for (const MediaRecordRef &record : db.getMediaList(categoryId))
        names.append(record->field(MediaRecord::DisplayTag));
    return names;
}

class ImportOrderAndSessionsTest : public CatalogFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        category = db.addCategoryListEntry(QStringLiteral("Card"), QStringLiteral("C"));
        ASSERT_FALSE(category.isEmpty());
    }

    // `count` small pictures named PREFIX00.jpg, PREFIX01.jpg... in a folder of their own.
    QVariantList pictures(const QString &prefix, int count, QStringList *names)
    {
        const QString folder = files.filePath(prefix);
        QDir().mkpath(folder);
        QVariantList items;
        for (int i = 0; i < count; ++i) {
            names->append(QStringLiteral("%1%2.jpg").arg(prefix).arg(i, 2, 10, QLatin1Char('0')));
            items.append(writeJpeg(folder + QLatin1Char('/') + names->last(), i));
        }
        return items;
    }

    OVNImportWorker::Settings settings(const QString &target, int threads) const
    {
        OVNImportWorker::Settings s;
        s.categoryId = target;
        s.threadCount = threads;
        s.batchSize = 7;
        return s;
    }

    // Connections to this test's catalog through `proxy`.
    OVNImportWorker::ConnectionMaker through(const SessionCutProxy &proxy) const
    {
        const PgTestServer server = *pgTestServer();
        const int port = proxy.port();
        const QString database = m_pgDatabase;
        return [server, port, database] {
            auto connection = std::make_unique<OVNDatabaseAccess>();
            connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(port),
                                             server.user, server.password, database);
            connection->openDBConnection();
            return connection;
        };
    }

    // Ends, from a connection of its own, the server session whose client end is at the port.
    SessionCutProxy::Terminate terminator()
    {
        auto side = std::shared_ptr<OVNDatabaseAccess>(openAnother().release());
        auto mutex = std::make_shared<std::mutex>();
        return [side, mutex](int clientPort) {
            std::lock_guard lock(*mutex);
            side->runSQLCommand(QStringLiteral("select pg_terminate_backend(pid, 10000) from pg_stat_activity "
                                               "where client_port=$1"),
                                {clientPort});
        };
    }

    QString category;
    QTemporaryDir files;
};

class StatusSeen : public OVNImportWorker::Observer
{
public:
    void importStatus(const QString &text) override
    {
        if (text == OVNCatalogOpening::waitingText())
            waited = true;
    }
    std::atomic<bool> waited{false};
};

} // namespace

// Forty quick files on eight threads, finishing in whatever order the threads make, are stored in
// the list's order; so are the record ids.
TEST_P(ImportOrderAndSessionsTest, QuickFilesAreStoredInTheListsOrder)
{
    const struct {
        const char *name;
        int threads;
        int batch;
    } cases[] = {{"eight threads", 8, 7}, {"eight threads, one batch", 8, 250}, {"one thread", 1, 7}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QStringList names;
        const QVariantList items = pictures(QStringLiteral("q%1_").arg(c.threads * 1000 + c.batch), 40, &names);
        const QString target = db.addCategoryListEntry(QLatin1String(c.name), QStringLiteral("C"));
        OVNImportWorker::Settings s = settings(target, c.threads);
        s.batchSize = c.batch;
        // No file is passed over here, however loaded the machine: the order is the list's alone.
        s.headHoldMilliseconds = 600000;
        // Files take different times, so that the threads finish them out of order.
        std::mutex randomMutex;
        std::mt19937 random(62);
        s.fileStarted = [&](const QString &) {
            int pause;
            {
                std::lock_guard lock(randomMutex);
                pause = int(random() % 25);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        };
        OVNImportWorker worker([this] { return openAnother(); }, s);
        const OVNImportWorker::Summary summary = worker.run(items);
        EXPECT_EQ(loadedNames(db, target), names) << qPrintable(loadedNames(db, target).join(QLatin1Char(' ')));
        ASSERT_EQ(summary.importedIds.size(), 40);
        QStringList sorted = summary.importedIds;
        sorted.sort();
        EXPECT_EQ(sorted, summary.importedIds);
    }
}

// A file that holds the head of the list is passed over: the files behind it are stored while it
// is still being read (it lets itself finish only once they are), and it is stored after them,
// keeping its place in the ids and so in the catalog's own order.
TEST_P(ImportOrderAndSessionsTest, ASlowFileIsPassedOverAndStoredWhenItFinishes)
{
    const struct {
        const char *name;
        int slow; // the slow file's place in the list
        int threads;
    } cases[] = {{"third of twelve", 2, 4}, {"first", 0, 4}, {"first, two threads", 0, 2}, {"last but one", 10, 4}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QStringList names;
        const QVariantList items = pictures(QStringLiteral("s%1_%2_").arg(c.slow).arg(c.threads), 12, &names);
        const QString target = db.addCategoryListEntry(QLatin1String(c.name), QStringLiteral("C"));
        OVNImportWorker::Settings s = settings(target, c.threads);
        std::mutex mutex;
        std::condition_variable changed;
        int stored = 0;
        const QString slowPath = items.at(c.slow).toString();
        s.fileStarted = [&](const QString &path) {
            if (path != slowPath)
                return;
            // Finishes only once every other file was handed over (or after a minute, when the
            // others wait for it: then the order below shows it).
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::seconds(60), [&] { return stored >= 11; });
        };
        class Counter : public OVNImportWorker::Observer
        {
        public:
            Counter(std::mutex &mutex, std::condition_variable &changed, int &stored, const QString &slow)
                : m_mutex(mutex),
                  m_changed(changed),
                  m_stored(stored),
                  m_slow(slow)
            {}
            void importProgress(int, int, const QString &path, const QByteArray &) override
            {
                {
                    std::lock_guard lock(m_mutex);
                    handed.append(path);
                    if (path == m_slow)
                        return;
                    ++m_stored;
                }
                m_changed.notify_all();
            }
            QStringList handed; // in the order the files were stored

        private:
            std::mutex &m_mutex;
            std::condition_variable &m_changed;
            int &m_stored;
            QString m_slow;
        } counter(mutex, changed, stored, slowPath);
        OVNImportWorker worker([this] { return openAnother(); }, s);
        const OVNImportWorker::Summary summary = worker.run(items, &counter);
        EXPECT_EQ(counter.handed.value(11), slowPath) << qPrintable(counter.handed.join(QLatin1Char(' ')));
        EXPECT_EQ(loadedNames(db, target), names) << qPrintable(loadedNames(db, target).join(QLatin1Char(' ')));
        EXPECT_EQ(summary.importedIds.size(), 12);
        EXPECT_TRUE(summary.notImported.isEmpty());
        // The ids still follow the list, the slow file's included.
        EXPECT_EQ(summary.importedPaths.value(c.slow), slowPath);
    }
}

// A session the server ends at any statement of a batch (as a lost network ends it, or as its
// administrator does, or after the statement reached the server and before its answer came back,
// a COMMIT carried out included) is no refusal: the batch is put in again on a new session, every
// file is stored once and in the list's order, and nothing is listed.
TEST_P(ImportOrderAndSessionsTest, ASessionEndedAtEachStatementOfABatchLosesNothing)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server has sessions to end";
    const struct {
        const char *statement;
        int nth;
    } statements[] = {
        {"BEGIN", 2},                // a batch's begin
        {"SAVEPOINT", 3},            // an entry's savepoint
        {"insert into strvfile", 4}, // the record
        {"insert into strvexif", 5}, // its metadata
        {"RELEASE SAVEPOINT", 3},    // the entry's end
        {"for no key update", 1},    // the privileges read before the commit
        {"COMMIT", 1},               // the commit
    };
    const struct {
        const char *name;
        SessionCutProxy::How how;
    } hows[] = {{"dropped", SessionCutProxy::How::Dropped},
                {"terminated", SessionCutProxy::How::Terminated},
                {"answer lost", SessionCutProxy::How::AnswerLost}};
    int round = 0;
    for (const auto &how : hows) {
        for (const auto &statement : statements) {
            SCOPED_TRACE(std::string(how.name) + " at " + statement.statement);
            QStringList names;
            const QVariantList items = pictures(QStringLiteral("b%1_").arg(++round), 20, &names);
            const QString target = db.addCategoryListEntry(QStringLiteral("b%1").arg(round), QStringLiteral("C"));
            SessionCutProxy proxy(pgTestServer()->port, terminator());
            proxy.cutAt(statement.statement, statement.nth, how.how);
            OVNImportWorker::Settings s = settings(target, 2);
            s.reconnectWaitSeconds = 30;
            OVNImportWorker worker(through(proxy), s);
            const OVNImportWorker::Summary summary = worker.run(items);
            EXPECT_GE(proxy.cuts(), 1);
            EXPECT_EQ(loadedNames(db, target), names) << qPrintable(loadedNames(db, target).join(QLatin1Char(' ')));
            EXPECT_EQ(summary.importedIds.size(), 20);
            EXPECT_TRUE(summary.notImported.isEmpty()) << qPrintable(summary.notImported.join(QLatin1Char('\n')));
            EXPECT_TRUE(summary.failures.isEmpty())
                << qPrintable(summary.failures.isEmpty() ? QString() : summary.failures.first().reason);
            EXPECT_TRUE(summary.abortMessage.isEmpty()) << qPrintable(summary.abortMessage);
            EXPECT_FALSE(summary.catalogLost);
        }
    }
}

// Making a collection by name through a session the server ends at each of its statements: one
// collection, found again when its commit went through.
TEST_P(ImportOrderAndSessionsTest, ASessionEndedWhileACollectionIsMadeMakesOne)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server has sessions to end";
    const char *statements[] = {"BEGIN", "pg_advisory_xact_lock", "from strvcategory where type",
                                "insert into strvcategory", "COMMIT"};
    int round = 0;
    for (const SessionCutProxy::How how :
         {SessionCutProxy::How::Dropped, SessionCutProxy::How::Terminated, SessionCutProxy::How::AnswerLost}) {
        for (const char *statement : statements) {
            SCOPED_TRACE(statement);
            const QString name = QStringLiteral("made %1").arg(++round);
            SessionCutProxy proxy(pgTestServer()->port, terminator());
            proxy.cutAt(statement, 1, how);
            std::unique_ptr<OVNDatabaseAccess> connection = through(proxy)();
            QString error;
            const QString id = OVNCatalogSession::findOrMakeCategory(*connection, name, QStringLiteral("C"), QString(),
                                                                     30, nullptr, nullptr, &error);
            EXPECT_FALSE(id.isEmpty()) << qPrintable(error);
            EXPECT_EQ(proxy.cuts(), 1);
            EXPECT_EQ(db.categoryNamed(name, QStringLiteral("C")), id);
            EXPECT_EQ(db.rowsForQuery(QStringLiteral("select count(*) from strvcategory where displaytag=$1"), {name})
                          .value(0)
                          .value(0)
                          .toInt(),
                      1);
        }
    }
}

// Four imports started together into a collection name that is not there yet find one
// collection: the first makes it, the others find it.
TEST_P(ImportOrderAndSessionsTest, FourImportsRacingIntoOneNewNameMakeOneCollection)
{
    for (int round = 0; round < 5; ++round) {
        const QString name = QStringLiteral("race %1").arg(round);
        std::vector<std::unique_ptr<OVNDatabaseAccess>> connections;
        for (int i = 0; i < 4; ++i)
            connections.push_back(openAnother());
        std::mutex mutex;
        std::condition_variable go;
        bool started = false;
        std::vector<QString> ids(4);
        std::vector<std::thread> imports;
        for (int i = 0; i < 4; ++i)
            imports.emplace_back([&, i] {
                {
                    std::unique_lock lock(mutex);
                    go.wait(lock, [&] { return started; });
                }
                ids[size_t(i)] = OVNCatalogSession::findOrMakeCategory(
                    *connections[size_t(i)], name, QStringLiteral("C"), QString(), 30, nullptr, nullptr, nullptr);
            });
        {
            std::lock_guard lock(mutex);
            started = true;
        }
        go.notify_all();
        for (std::thread &import : imports)
            import.join();
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(ids.front().isEmpty());
        EXPECT_EQ(std::count(ids.begin(), ids.end(), ids.front()), 4);
        EXPECT_EQ(db.rowsForQuery(QStringLiteral("select count(*) from strvcategory where displaytag=$1"), {name})
                      .value(0)
                      .value(0)
                      .toInt(),
                  1);
    }
}

// An import started while the server is down waits for it, saying so, and finishes once it is
// there; a re-scan started the same way too.
TEST_P(ImportOrderAndSessionsTest, AnImportStartedWithTheServerDownFinishesWhenItComes)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server can be down";
    QStringList names;
    const QVariantList items = pictures(QStringLiteral("d"), 10, &names);
    SessionCutProxy proxy(pgTestServer()->port, terminator(), false);
    std::thread comeUp([&proxy] {
        std::this_thread::sleep_for(std::chrono::seconds(8));
        proxy.comeUp();
    });
    OVNImportWorker worker(through(proxy), settings(category, 2));
    StatusSeen status;
    const OVNImportWorker::Summary summary = worker.run(items, &status);
    comeUp.join();
    EXPECT_FALSE(summary.connectionFailed);
    EXPECT_TRUE(status.waited.load());
    EXPECT_EQ(loadedNames(db, category), names);
    EXPECT_TRUE(summary.notImported.isEmpty());
}

// Through sessions that end every 0.2 to 0.5 s, each after its last message reached the server (a
// COMMIT carried out whose answer was lost among them): every file is stored once, or named as
// not imported and then not stored.
TEST_P(ImportOrderAndSessionsTest, AnImportThroughSessionsEndedEveryFewTenthsStoresEachFileOnceOrNamesIt)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server has sessions to end";
    QStringList names;
    // Enough files that the import outlasts the first cut on a quiet machine too.
    const QVariantList items = pictures(QStringLiteral("p"), 1000, &names);
    SessionCutProxy proxy(pgTestServer()->port, terminator());
    proxy.cutEvery(200, 500);
    OVNImportWorker::Settings s = settings(category, 4);
    s.batchSize = 40;
    OVNImportWorker worker(through(proxy), s);
    const OVNImportWorker::Summary summary = worker.run(items);
    QHash<QString, int> stored;
    for (const QString &name : loadedNames(db, category))
        ++stored[name];
    const QSet<QString> notImported(summary.notImported.cbegin(), summary.notImported.cend());
    for (qsizetype i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names.at(i).toStdString());
        if (notImported.contains(items.at(i).toString()))
            EXPECT_EQ(stored.value(names.at(i)), 0);
        else
            EXPECT_EQ(stored.value(names.at(i)), 1);
    }
    EXPECT_EQ(summary.importedIds.size() + notImported.size(), 1000);
    EXPECT_GT(proxy.cuts(), 0);
}

// A re-scan whose sessions end every 5 to 20 ms (as above) ends, and says truly what it did: every
// entry is re-read, or the stop says so and names the ones left as they were.
TEST_P(ImportOrderAndSessionsTest, AReScanThroughSessionsEndedEveryFewMillisecondsEndsAndCountsTruly)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server has sessions to end";
    QStringList names;
    const QVariantList items = pictures(QStringLiteral("m"), 30, &names);
    OVNImportWorker importer([this] { return openAnother(); }, settings(category, 4));
    const OVNImportWorker::Summary imported = importer.run(items);
    ASSERT_EQ(imported.importedIds.size(), 30);
    QVariantList records;
    for (qsizetype i = 0; i < imported.importedIds.size(); ++i)
        records.append(QVariantMap{{QStringLiteral("mid"), imported.importedIds.at(i)},
                                   {QStringLiteral("absolutepath"), imported.importedPaths.at(i)}});
    SessionCutProxy proxy(pgTestServer()->port, terminator());
    proxy.cutEvery(5, 20);
    OVNImportWorker::Settings s = settings(category, 4);
    s.batchSize = 250;
    s.reconnectWaitSeconds = 4;
    OVNImportWorker rescanner(through(proxy), s);
    const OVNImportWorker::Summary rescanned = rescanner.reprocess(records);
    EXPECT_GT(proxy.cuts(), 0);
    if (rescanned.importedIds.size() == 30) {
        EXPECT_TRUE(rescanned.abortMessage.isEmpty()) << qPrintable(rescanned.abortMessage);
    } else {
        EXPECT_FALSE(rescanned.abortMessage.isEmpty());
        EXPECT_EQ(rescanned.importedIds.size() + rescanned.notImported.size() + rescanned.failures.size(), 30);
    }
    // Never counted twice.
    EXPECT_EQ(QSet<QString>(rescanned.importedIds.cbegin(), rescanned.importedIds.cend()).size(),
              rescanned.importedIds.size());
}

// A re-scan met by a server away for a moment says, while it waits, how far it has got, and
// then goes on to the end.
TEST_P(ImportOrderAndSessionsTest, AReScanWaitingForTheServerSaysHowFarItGot)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server goes away";
    QStringList names;
    const QVariantList items = pictures(QStringLiteral("w"), 30, &names);
    OVNImportWorker importer([this] { return openAnother(); }, settings(category, 4));
    const OVNImportWorker::Summary imported = importer.run(items);
    ASSERT_EQ(imported.importedIds.size(), 30);
    QVariantList records;
    for (qsizetype i = 0; i < imported.importedIds.size(); ++i)
        records.append(QVariantMap{{QStringLiteral("mid"), imported.importedIds.at(i)},
                                   {QStringLiteral("absolutepath"), imported.importedPaths.at(i)}});
    SessionCutProxy proxy(pgTestServer()->port, terminator());
    // Away from the eleventh file read on, for a second and a half.
    class GoesAway : public OVNImportWorker::Observer
    {
    public:
        explicit GoesAway(SessionCutProxy &proxy) : m_proxy(proxy) {}
        void importProgress(int position, int, const QString &, const QByteArray &) override
        {
            if (position == 11 && !m_back.joinable())
                m_back = m_proxy.awayFor(std::chrono::milliseconds(1500));
        }
        void importStatus(const QString &text) override
        {
            std::lock_guard lock(m_mutex);
            said.append(text);
        }
        std::thread m_back;
        std::mutex m_mutex;
        QStringList said;

    private:
        SessionCutProxy &m_proxy;
    } observer(proxy);
    OVNImportWorker::Settings s = settings(category, 1);
    s.batchSize = 5;
    OVNImportWorker rescanner(through(proxy), s);
    const OVNImportWorker::Summary rescanned = rescanner.reprocess(records, &observer);
    if (observer.m_back.joinable())
        observer.m_back.join();
    EXPECT_EQ(rescanned.importedIds.size(), 30) << qPrintable(rescanned.abortMessage);
    const QStringList waits = observer.said.filter(OVNCatalogOpening::waitingText());
    ASSERT_FALSE(waits.isEmpty()) << qPrintable(observer.said.join(QLatin1Char('|')));
    static const QRegularExpression counted(
        QStringLiteral("^Waiting for the catalog server\\.\\.\\. (\\d+) of 30 re-scanned$"));
    for (const QString &wait : waits) {
        const QRegularExpressionMatch match = counted.match(wait);
        ASSERT_TRUE(match.hasMatch()) << qPrintable(wait);
        EXPECT_LE(match.captured(1).toInt(), 30) << qPrintable(wait);
    }
    // The first wait counts what was kept before the server went away: never more than was read.
    EXPECT_LE(counted.match(waits.first()).captured(1).toInt(), 11) << qPrintable(waits.first());
}

// A re-scan whose sessions are ended every 50 to 100 ms halves its batch after each loss, as the
// import does, and finishes with every entry re-read.
TEST_P(ImportOrderAndSessionsTest, AReScanUnderFrequentCutsFinishes)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server has sessions to end";
    QStringList names;
    const QVariantList items = pictures(QStringLiteral("r"), 300, &names);
    OVNImportWorker::Settings s = settings(category, 4);
    s.batchSize = 250;
    OVNImportWorker importer([this] { return openAnother(); }, s);
    const OVNImportWorker::Summary imported = importer.run(items);
    ASSERT_EQ(imported.importedIds.size(), 300);
    QVariantList records;
    for (qsizetype i = 0; i < imported.importedIds.size(); ++i)
        records.append(QVariantMap{{QStringLiteral("mid"), imported.importedIds.at(i)},
                                   {QStringLiteral("absolutepath"), imported.importedPaths.at(i)}});

    const QString ownPid = db.rowsForQuery(QStringLiteral("select pg_backend_pid()")).value(0).value(0).toString();
    std::unique_ptr<OVNDatabaseAccess> side = openAnother();
    const QString sidePid = side->rowsForQuery(QStringLiteral("select pg_backend_pid()")).value(0).value(0).toString();
    std::atomic<bool> done{false};
    std::atomic<int> cuts{0};
    std::thread cutter([&] {
        std::mt19937 random(6103);
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % 51));
            cuts += side->affectedRowsForQuery(
                QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity where datname=$1 and "
                               "pid<>$2 and pid<>$3"),
                {m_pgDatabase, ownPid, sidePid});
        }
    });
    OVNImportWorker rescanner([this] { return openAnother(); }, s);
    const OVNImportWorker::Summary rescanned = rescanner.reprocess(records);
    done = true;
    cutter.join();
    EXPECT_EQ(rescanned.importedIds.size(), 300) << qPrintable(rescanned.abortMessage);
    EXPECT_FALSE(rescanned.catalogLost);
    EXPECT_TRUE(rescanned.failures.isEmpty());
    EXPECT_GT(cuts.load(), 0);
}

#ifdef OVN_IMPORT_TOOL
// ovn-import opens its catalog through sessions the server ends at each step of the opening (the
// login, the table check, the making of a new catalog's tables, the collection's making) and
// through a server that is down for a while when it starts: it waits, saying so, and imports
// every file.
TEST_P(ImportOrderAndSessionsTest, TheCommandLineImportOpensThroughEndedSessionsAndAServerThatIsDown)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server has sessions to end";
    const struct {
        const char *name;
        const char *statement; // nullptr: no cut
        int nth;
        bool newCatalog;
        int downSeconds;
        int cutEveryMs = 0; // sessions ended every this to four times this many milliseconds
    } cases[] = {
        {"at the login", "user", 1, false, 0},
        {"at the table check", "strvcategory", 1, false, 0},
        {"at the making of the tables", "create table", 3, true, 0},
        {"at the commit of the tables", "COMMIT", 1, true, 0},
        {"at the collection's lock", "pg_advisory_xact_lock", 1, false, 0},
        {"at the collection's insert", "insert into strvcategory", 1, false, 0},
        {"down for 8 seconds", nullptr, 0, false, 8},
        {"sessions ended every 10 to 40 ms, into a new catalog", nullptr, 0, true, 0, 10},
    };
    const PgTestServer server = *pgTestServer();
    int round = 0;
    for (const auto &c : cases) {
        for (const SessionCutProxy::How how : {SessionCutProxy::How::Dropped, SessionCutProxy::How::Terminated}) {
            if (!c.statement && how == SessionCutProxy::How::Terminated)
                continue;
            SCOPED_TRACE(std::string(c.name) + (how == SessionCutProxy::How::Dropped ? ", dropped" : ", terminated"));
            ++round;
            QString database = m_pgDatabase;
            if (c.newCatalog) {
                database = QStringLiteral("%1_new%2").arg(m_pgDatabase).arg(round);
                ASSERT_TRUE(db.runSQLCommand(QStringLiteral("create database ") + database))
                    << qPrintable(db.getLastErrorMessage());
            }
            QStringList names;
            const QVariantList items = pictures(QStringLiteral("t%1_").arg(round), 5, &names);
            SessionCutProxy proxy(server.port, terminator(), c.downSeconds == 0);
            if (c.statement)
                proxy.cutAt(c.statement, c.nth, how);
            if (c.cutEveryMs > 0)
                proxy.cutEvery(c.cutEveryMs, 4 * c.cutEveryMs);
            QProcess import;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("PGPASSWORD"), server.password);
            import.setProcessEnvironment(environment);
            QStringList arguments{
                QStringLiteral("--quiet"),
                QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(server.user).arg(proxy.port()).arg(database),
                QStringLiteral("opened %1").arg(round)};
            for (const QVariant &item : items)
                arguments.append(item.toString());
            import.start(QStringLiteral(OVN_IMPORT_TOOL), arguments);
            ASSERT_TRUE(import.waitForStarted());
            if (c.downSeconds > 0) {
                std::this_thread::sleep_for(std::chrono::seconds(c.downSeconds));
                proxy.comeUp();
            }
            ASSERT_TRUE(import.waitForFinished(120000));
            const QString out = QString::fromUtf8(import.readAllStandardOutput());
            const QString err = QString::fromUtf8(import.readAllStandardError());
            if (c.cutEveryMs > 0 && import.exitCode() == 1) {
                // The tables are made in one transaction: a server that ends every session sooner
                // than the script gets through (a loaded machine's) leaves none, and the import
                // says so; it never imports into a catalog with some of its tables.
                EXPECT_TRUE(err.contains(QLatin1String("ended every session before the catalog's tables were made")))
                    << qPrintable(out + err);
                OVNDatabaseAccess check;
                check.setConnectionDetails(QStringLiteral("PostgreSQL"),
                                           server.host + QLatin1Char(':') + QString::number(server.port), server.user,
                                           server.password, database);
                ASSERT_TRUE(check.openDBConnection());
                EXPECT_FALSE(check.relationExists(QStringLiteral("strvfile")));
                EXPECT_FALSE(check.relationExists(QStringLiteral("strvcategory")));
                check.closeDBConnection();
                db.runSQLCommand(QStringLiteral("drop database if exists %1 with (force)").arg(database));
                continue;
            }
            EXPECT_EQ(import.exitCode(), 0) << qPrintable(out + err);
            EXPECT_TRUE(out.contains(QStringLiteral("imported 5 of 5 files"))) << qPrintable(out + err);
            // The server's and libpq's own words go to the log, never to the terminal.
            EXPECT_FALSE(err.contains(QLatin1String("FATAL"))) << qPrintable(err);
            EXPECT_FALSE(err.contains(QLatin1String("server closed the connection"))) << qPrintable(err);
            if (c.downSeconds > 0) {
                EXPECT_TRUE(err.contains(OVNCatalogOpening::waitingText())) << qPrintable(err);
            }
            if (c.statement) {
                EXPECT_EQ(proxy.cuts(), 1);
            }
            OVNDatabaseAccess check;
            check.setConnectionDetails(QStringLiteral("PostgreSQL"),
                                       server.host + QLatin1Char(':') + QString::number(server.port), server.user,
                                       server.password, database);
            ASSERT_TRUE(check.openDBConnection());
            const QString made = check.categoryNamed(QStringLiteral("opened %1").arg(round), QStringLiteral("C"));
            EXPECT_EQ(loadedNames(check, made), names);
            check.closeDBConnection();
            if (c.newCatalog)
                db.runSQLCommand(QStringLiteral("drop database if exists %1 with (force)").arg(database));
        }
    }
}

// ovn-import whose server goes away for 6 seconds in the middle of the import says that it waits,
// on standard error, and finishes with every file imported and status 0.
TEST_P(ImportOrderAndSessionsTest, TheCommandLineImportWaitsForAServerAwayForSixSecondsAndSaysSo)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server can go away";
    const PgTestServer server = *pgTestServer();
    QStringList names;
    const QVariantList items = pictures(QStringLiteral("w"), 30, &names);
    SessionCutProxy proxy(server.port, terminator());
    proxy.cutAt("insert into strvfile", 5, SessionCutProxy::How::Down);
    std::atomic<bool> finished{false};
    std::thread back([&] {
        while (!proxy.isDown() && !finished)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::seconds(6));
        proxy.comeBack();
    });
    QProcess import;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PGPASSWORD"), server.password);
    import.setProcessEnvironment(environment);
    QStringList arguments{
        QStringLiteral("--quiet"), QStringLiteral("--batch"), QStringLiteral("3"),
        QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(server.user).arg(proxy.port()).arg(m_pgDatabase),
        QStringLiteral("away")};
    for (const QVariant &item : items)
        arguments.append(item.toString());
    import.start(QStringLiteral(OVN_IMPORT_TOOL), arguments);
    ASSERT_TRUE(import.waitForStarted());
    const bool ended = import.waitForFinished(120000);
    finished = true;
    back.join();
    ASSERT_TRUE(ended);
    const QString out = QString::fromUtf8(import.readAllStandardOutput());
    const QString err = QString::fromUtf8(import.readAllStandardError());
    EXPECT_GE(proxy.cuts(), 1);
    EXPECT_EQ(import.exitCode(), 0) << qPrintable(out + err);
    EXPECT_TRUE(err.contains(OVNCatalogOpening::waitingText())) << qPrintable(err);
    EXPECT_TRUE(out.contains(QStringLiteral("imported 30 of 30 files"))) << qPrintable(out + err);
    EXPECT_FALSE(err.contains(QLatin1String("FATAL"))) << qPrintable(err);
    const QString made = db.categoryNamed(QStringLiteral("away"), QStringLiteral("C"));
    EXPECT_EQ(loadedNames(db, made), names);
}
#endif

OVN_CATALOG_VENDORS(ImportOrderAndSessionsTest);
