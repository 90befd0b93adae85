// Files and folders on a mount that stopped answering: a file whose thread is stuck in a call
// that no deadline reaches is given up on, listed and replaced by a new thread; a folder whose
// listing stalls is left out and named; the rest of the import goes on and ends.

#include "CatalogFixture.h"
#include "decoding/DecodeInterrupt.h"
#include "formats/OVNHelper.h"
#include "import/OVNImportHelper.h"
#include "import/OVNImportWorker.h"
#include "import/OVNImportWorker_p.h"
#include "platform/FileAccess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

const QString fileNotInTime = QStringLiteral("the file could not be read in time");
const QString folderNotInTime = QStringLiteral("the folder could not be read in time");

QString writeJpeg(const QString &path, int seed)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(QColor((seed * 37) % 256, (seed * 91) % 256, 120));
    EXPECT_TRUE(image.save(path, "JPEG", 85));
    return path;
}

// The import's per-file limit, shortened for the test and set back after it.
class TimeLimit
{
public:
    explicit TimeLimit(std::chrono::milliseconds limit) : m_previous(OVNImportHelper::decodeTimeLimit())
    {
        OVNImportHelper::setDecodeTimeLimit(limit);
    }
    ~TimeLimit() { OVNImportHelper::setDecodeTimeLimit(m_previous); }

private:
    std::chrono::milliseconds m_previous;
};

// A call blocked as on a stalled mount until the test lets it go (at its end, or after a minute,
// so that an import that waits for it fails the test rather than hanging it).
class Stall
{
public:
    ~Stall() { release(); }
    void wait() const { m_released.wait_for(60s); }
    void release()
    {
        if (!m_done) {
            m_done = true;
            m_release.set_value();
        }
    }

private:
    std::promise<void> m_release;
    std::shared_future<void> m_released = m_release.get_future().share();
    bool m_done = false;
};

QString reasonFor(const OVNImportWorker::Summary &summary, const QString &path)
{
    for (const OVNImportWorker::Failure &failure : summary.failures)
        if (failure.path == path)
            return failure.reason;
    return QString();
}

// Waits, up to a minute, for what a thread left behind to settle.
template <typename Condition>
bool eventually(Condition condition)
{
    const auto until = std::chrono::steady_clock::now() + 60s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

} // namespace

class ImportStallTest : public CatalogFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        category = db.addCategoryListEntry(QStringLiteral("Trip"), QStringLiteral("C"));
        ASSERT_FALSE(category.isEmpty());
    }
    OVNImportWorker::Settings settings(int threads) const
    {
        OVNImportWorker::Settings s;
        s.categoryId = category;
        s.threadCount = threads;
        s.batchSize = 2;
        s.stallGraceMilliseconds = 300;
        return s;
    }
    QStringList stored()
    {
        QStringList names;
        for (const QList<QVariant> &row : db.rowsForQuery(
                 QStringLiteral("select displaytag from strvfile where categoryid=$1 order by mid"), {category}))
            names.append(row.value(0).toString());
        return names;
    }
    QString category;
    QTemporaryDir files;
};

// One thread only: the file it is stuck on (in a call no deadline reaches, as a stat on a stalled
// mount) is listed as not read in time and a new thread imports the others; the stuck thread's
// late result is dropped and its copy taken back. A file that waits its turn (a pause) as long is
// not given up on.
TEST_P(ImportStallTest, AFileStuckPastItsDeadlineIsGivenUpOnAndTheImportEnds)
{
    const TimeLimit limit(1500ms);
    enum class Hold { Stalls, WaitsItsTurn };
    const struct {
        const char *name;
        Hold hold;
        QStringList stored;
    } cases[] = {
        {"stalls", Hold::Stalls, {"b.jpg", "c.jpg", "d.jpg"}},
        {"waits its turn", Hold::WaitsItsTurn, {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        db.affectedRowsForQuery(QStringLiteral("delete from strvfile where categoryid=$1"), {category});
        const QString source = files.filePath(QLatin1String(c.name));
        const QString destination = files.filePath(QStringLiteral("%1-copies").arg(QLatin1String(c.name)));
        QVariantList items;
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
            items.append(writeJpeg(source + QLatin1Char('/') + QLatin1String(name), int(items.size())));
        const QString held = items.first().toString();
        Stall stall;
        OVNImportWorker::Settings s = settings(1);
        s.destinationFolder = destination;
        s.copyOnProcess = true;
        s.fileStarted = [&, hold = c.hold](const QString &path) {
            if (path != held)
                return;
            if (hold == Hold::Stalls) {
                stall.wait();
            } else {
                // Past the limit and the grace, but waiting for a turn.
                const DecodeInterrupt::Pause pause;
                std::this_thread::sleep_for(2500ms);
            }
        };
        OVNImportWorker worker([this] { return openAnother(); }, s);
        const OVNImportWorker::Summary summary = worker.run(items);

        EXPECT_EQ(stored(), c.stored);
        EXPECT_EQ(summary.processed, 4);
        const bool givenUp = c.hold == Hold::Stalls;
        EXPECT_EQ(reasonFor(summary, held), givenUp ? fileNotInTime : QString());
        EXPECT_EQ(summary.notImported, givenUp ? QStringList{held} : QStringList());
        // The stuck thread is not waited for at the program's end.
        EXPECT_TRUE(OVNImportWorker::waitForAbandonedFiles(5000));

        // Let go, it finishes the file, drops it and takes back its copy; nothing more is stored.
        stall.release();
        const QString copy = QDir(destination).filePath(QFileInfo(held).fileName());
        EXPECT_TRUE(eventually([&] { return QFileInfo::exists(copy) != givenUp; }));
        EXPECT_TRUE(eventually([] { return OVNImportHandOut::aliveFileThreads() == 0; }));
        EXPECT_EQ(stored(), c.stored);
    }
}

// A re-scan on one thread: the entry whose file it is stuck on keeps what it has and is listed,
// and a new thread reads the others again.
TEST_P(ImportStallTest, ARescanGivesUpOnAFileStuckPastItsDeadline)
{
    const TimeLimit limit(1500ms);
    QVariantList items;
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        items.append(writeJpeg(files.filePath(QLatin1String(name)), int(items.size())));
    OVNImportWorker importer([this] { return openAnother(); }, settings(2));
    const OVNImportWorker::Summary imported = importer.run(items);
    ASSERT_EQ(imported.importedIds.size(), 3);
    QVariantList records;
    for (qsizetype at = 0; at < imported.importedIds.size(); ++at)
        records.append(QVariantMap{{QStringLiteral("mid"), imported.importedIds[at]},
                                   {QStringLiteral("absolutepath"), imported.importedPaths[at]}});

    const QString held = items.first().toString();
    Stall stall;
    OVNImportWorker::Settings s = settings(1);
    s.fileStarted = [&](const QString &path) {
        if (path == held)
            stall.wait();
    };
    OVNImportWorker rescanner([this] { return openAnother(); }, s);
    const OVNImportWorker::Summary rescanned = rescanner.reprocess(records);
    EXPECT_EQ(reasonFor(rescanned, held), QStringLiteral("left as it was: %1").arg(fileNotInTime));
    EXPECT_EQ(rescanned.importedPaths, (QStringList{items[1].toString(), items[2].toString()}));
    EXPECT_EQ(rescanned.processed, 3);
    EXPECT_TRUE(OVNImportWorker::waitForAbandonedFiles(5000));
    // Let go, it finishes the file and drops it.
    stall.release();
    EXPECT_TRUE(eventually([] { return OVNImportHandOut::aliveFileThreads() == 0; }));
}

// A folder whose listing stalls is left out and named, for the plain import and the smart one;
// the other folder's files and the loose file are imported.
TEST_P(ImportStallTest, AFolderWhoseListingStallsIsLeftOutAndNamed)
{
    const TimeLimit limit(1500ms);
    const QString stalled = files.filePath(QStringLiteral("stalled"));
    const QString live = files.filePath(QStringLiteral("live"));
    writeJpeg(stalled + QStringLiteral("/x.jpg"), 1);
    writeJpeg(live + QStringLiteral("/y.jpg"), 2);
    writeJpeg(live + QStringLiteral("/deeper/z.jpg"), 3);
    const QString loose = writeJpeg(files.filePath(QStringLiteral("loose.jpg")), 4);
    const auto stall = std::make_shared<Stall>();
    const auto listingsLeft = std::make_shared<std::atomic<int>>(0);
    OVNHelper::setFolderReader([stall, listingsLeft](const QString &folder, QStringList *undecodable, QString *why) {
        if (!folder.endsWith(QLatin1String("/stalled")))
            return FileAccess::folderEntries(folder, undecodable, why);
        ++*listingsLeft;
        stall->wait();
        auto entries = FileAccess::folderEntries(folder, undecodable, why);
        --*listingsLeft;
        return entries;
    });
    const QString folderId = db.addCategoryListEntry(QStringLiteral("Cards"), QStringLiteral("F"));
    const struct {
        const char *name;
        bool smart;
        QVariantList items;
    } cases[] = {
        {"import", false, {stalled, live, loose}},
        {"smart import", true, {stalled, live, loose}},
        {"smart import of the folder alone", true, {stalled}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        OVNImportWorker worker([this] { return openAnother(); }, settings(2));
        const OVNImportWorker::Summary summary = c.smart ? worker.runSmart(c.items, folderId, 0) : worker.run(c.items);
        EXPECT_EQ(reasonFor(summary, stalled), folderNotInTime);
        EXPECT_TRUE(summary.notImported.contains(stalled));
        EXPECT_EQ(summary.foldersNotRead, QStringList{stalled});
        const int others = c.items.size() > 1 ? 3 : 0;
        EXPECT_EQ(summary.importedIds.size(), others);
        EXPECT_EQ(summary.failures.size(), 1);
    }
    stall->release();
    // The listings given up on end before the test does.
    EXPECT_TRUE(eventually([&] { return listingsLeft->load() == 0; }));
    OVNHelper::setFolderReader({});
}

OVN_CATALOG_VENDORS(ImportStallTest);

// A stop while folders are still being listed: the folders not read by then are named as folders,
// and none of them counts as a file; the files listed before the stop are the ones counted.
TEST_P(ImportStallTest, AStopWhileFoldersAreListedNamesTheFoldersNotRead)
{
    QStringList folders;
    for (const char *name : {"a", "b", "c", "d"}) {
        folders.append(files.filePath(QLatin1String(name)));
        for (int i = 0; i < 2; ++i)
            writeJpeg(folders.last() + QStringLiteral("/%1.jpg").arg(i), i);
    }
    OVNImportWorker worker([this] { return openAnother(); }, settings(2));
    // The stop comes as the second folder is listed.
    OVNHelper::setFolderReader([&worker](const QString &folder, QStringList *undecodable, QString *why) {
        if (folder.endsWith(QLatin1String("/b")))
            worker.cancel();
        return FileAccess::folderEntries(folder, undecodable, why);
    });
    const OVNImportWorker::Summary summary = worker.run({files.path()});
    OVNHelper::setFolderReader({});
    EXPECT_TRUE(summary.cancelled);
    EXPECT_TRUE(summary.foldersNotRead.contains(folders[2]));
    EXPECT_TRUE(summary.foldersNotRead.contains(folders[3]));
    EXPECT_FALSE(summary.foldersNotRead.contains(folders[0]));
    // The files counted are files: the two of the first folder, and any of the second listed.
    EXPECT_GE(summary.total, 2);
    EXPECT_LE(summary.total, 4);
    for (const QString &folder : summary.foldersNotRead)
        EXPECT_TRUE(summary.notImported.contains(folder)) << qPrintable(folder);
    EXPECT_EQ(summary.passedOver, int(summary.foldersNotRead.size()));
}

// An entry of a folder whose check does not answer costs only itself: it is left out and named,
// and each of the folder's other files is imported, or named where its check does not answer
// either. When none of the entries after the first that stalled answers, the folder's volume
// stopped answering: each of them is named, and the folder.
TEST_P(ImportStallTest, AnEntryWhoseCheckStallsIsLeftOutAndTheOthersImported)
{
    const TimeLimit limit(1500ms);
    const struct {
        const char *name;
        std::vector<int> stalls; // places in the folder's listing order
    } cases[] = {
        {"one entry stalls", {2}},
        {"two entries stall", {1, 4}},
        {"every entry after the first stalls", {1, 2, 3, 4, 5}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = files.filePath(QString::fromLatin1(c.name).replace(QLatin1Char(' '), QLatin1Char('-')));
        for (int i = 0; i < 6; ++i)
            writeJpeg(folder + QStringLiteral("/p%1.jpg").arg(i), i);
        const QStringList listed = OVNHelper::folderEntryPaths(folder, nullptr).value_or(QStringList());
        ASSERT_EQ(listed.size(), 6);
        QStringList stalled;
        for (const int at : c.stalls)
            stalled.append(QDir::cleanPath(listed.at(at)));
        const auto stall = std::make_shared<Stall>();
        const auto checksLeft = std::make_shared<std::atomic<int>>(0);
        OVNHelper::setPathCheckHook([stall, checksLeft, stalled](const QString &path) {
            if (!stalled.contains(path))
                return;
            ++*checksLeft;
            stall->wait();
            --*checksLeft;
        });
        OVNImportWorker worker([this] { return openAnother(); }, settings(2));
        const OVNImportWorker::Summary summary = worker.run({folder});
        stall->release();
        EXPECT_TRUE(eventually([&] { return checksLeft->load() == 0; }));
        OVNHelper::setPathCheckHook({});

        QStringList imported;
        for (int i = 0; i < 6; ++i) {
            const QString path = QDir::cleanPath(listed.at(i));
            if (stalled.contains(path))
                EXPECT_EQ(reasonFor(summary, listed.at(i)), fileNotInTime) << i;
            else
                imported.append(path);
        }
        QStringList got;
        for (const QString &path : summary.importedPaths)
            got.append(QDir::cleanPath(path));
        std::sort(got.begin(), got.end());
        std::sort(imported.begin(), imported.end());
        EXPECT_EQ(got, imported);
        EXPECT_EQ(reasonFor(summary, folder), c.stalls.size() == 5 ? folderNotInTime : QString());
        EXPECT_EQ(summary.failures.size(), c.stalls.size() + (c.stalls.size() == 5 ? 1 : 0));
    }
}
