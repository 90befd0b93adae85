// The import road through the decoder processes: each hostile kind of file is catalogued with its
// icon (or its picture) and listed with the reason; a decoder that crashes costs only its file; a
// stuck read ends at the file's limit or at Cancel, and a small file behind it is stored at once.

#include "CatalogFixture.h"
#include "formats/OVNImageTagParser.h"
#include "import/OVNImportHelper.h"
#include "import/OVNImportWorker.h"
#include "tests/support/HostileMedia.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

using namespace std::chrono_literals;

namespace {

const QString tooLarge = QStringLiteral("the picture needs more memory than decoding may use");
const QString outOfTime = QStringLiteral("the picture could not be read in time");
const QString crashed = QStringLiteral("the picture's reader stopped on a fault in the file");
const QString cancelled = QStringLiteral("reading the file was cancelled");

// The decode time limit of the import, shortened for the test and set back after it.
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

} // namespace

// Every hostile kind, read for its thumbnail as the import reads it: catalogued (with its icon when
// no picture could be had) and, without a picture, listed with the words of its limit.
TEST(ImportDecoding, HostileFilesAreCataloguedAndListedWithTheirReason)
{
    QTemporaryDir dir;
    const TimeLimit limit(4s);
    const QString damaged = QStringLiteral("the file is damaged (the data ends early)");
    struct Case {
        const char *file;
        QByteArray data;
        std::set<QString> problems; // what it may be listed with; empty: a picture of its own
    };
    const Case cases[] = {
        // A whole PNG, though a small file: the larger decoder may read it within its limit.
        {"png-named.mov",
         hostilefiles::pngOfZeros(16000, 16000),
         {tooLarge, QStringLiteral("the picture does not decode"), QStringLiteral("the picture cannot be read"),
          QString()}},
        // Valid files read row by row: their thumbnails, within a thumbnail decoder's limit.
        {"layers.psd",
         hostilemedia::psdOfZeros(9000, 9000),
         {tooLarge, QStringLiteral("the picture does not decode"), QStringLiteral("the picture cannot be read"),
          QString()}},
        {"huge-entry.ico",
         hostilemedia::icoHolding(hostilemedia::pngOfZerosRgba(8000, 8000)),
         {tooLarge, QStringLiteral("the picture cannot be read")}},
        // Its data ends after 3 MB: the rows those hold.
        {"one-bit.ppm", hostilemedia::pbmOneBit(20000, 20000, 3 << 20), {tooLarge, QString(), damaged}},
        {"huge-valid.png", hostilemedia::pngOfZerosRgba(14000, 14000), {tooLarge, QString()}},
        {"rle8.bmp",
         hostilemedia::bmpRle8(30000, 30000),
         {tooLarge, QStringLiteral("the picture cannot be read"), QString()}},
        {"many-scans.jpg",
         hostilemedia::jpegOfManyScans(512, 512),
         {outOfTime, QStringLiteral("the picture cannot be read"), QString()}},
        {"empty-comments.jpg",
         hostilemedia::jpegWithEmptyComments(hostilemedia::jpegOfNoise(64, 64, false), 1000000),
         {outOfTime, QString()}},
        {"ovn-decoder-crashes.jpg", hostilemedia::jpegOfNoise(64, 64, false), {crashed}},
        {"ovn-decoder-hangs.jpg", hostilemedia::jpegOfNoise(64, 64, false), {outOfTime}},
        {"small.jpg", hostilemedia::jpegOfNoise(320, 200, false), {QString()}},
    };
    OVNImportHelper helper;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = hostilemedia::written(dir.filePath(QLatin1String(c.file)), c.data);
        QVariantMap record;
        EXPECT_FALSE(helper.thumbnailForMediaFile(path, record).isEmpty());
        const QString problem = helper.lastProblem();
        // On a loaded machine any read may reach its deadline first: that ends it within its
        // limits too.
        const bool outOfTimeOnTheWay = problem == outOfTime
                                       || problem == QLatin1String("the movie could not be opened in time")
                                       || problem == QLatin1String("the frame could not be decoded in time");
        EXPECT_TRUE(c.problems.count(problem) || (outOfTimeOnTheWay && c.problems.size() > 1)) << qPrintable(problem);
        if (!problem.isEmpty() && problem != QLatin1String("the picture does not decode") && problem != damaged) {
            // No picture: the icon, and no size claimed for it.
            EXPECT_FALSE(helper.lastProblemKeptPicture());
            EXPECT_EQ(record.value(QStringLiteral("imagewidth")).toString(), QStringLiteral("0"));
        }
    }
}

namespace {

class ImportDecodingTest : public CatalogFixture
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
        s.batchSize = 1;
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
    QString write(const char *name, const QByteArray &data)
    {
        return hostilemedia::written(files.filePath(QLatin1String(name)), data);
    }
    QString category;
    QTemporaryDir files;
};

// Records the order in which files came out of the import.
class Order : public OVNImportWorker::Observer
{
public:
    void importProgress(int, int, const QString &path, const QByteArray &) override
    {
        const std::lock_guard lock(m_mutex);
        m_paths.append(QFileInfo(path).fileName());
    }
    QStringList paths()
    {
        const std::lock_guard lock(m_mutex);
        return m_paths;
    }

private:
    std::mutex m_mutex;
    QStringList m_paths;
};

QString reasonFor(const OVNImportWorker::Summary &summary, const QString &name)
{
    for (const OVNImportWorker::Failure &failure : summary.failures)
        if (QFileInfo(failure.path).fileName() == name)
            return failure.reason;
    return {};
}

} // namespace

// At two threads, a file whose read is stuck holds back neither the small files behind it nor the
// import: they are stored while it is stuck, and it ends at its limit, catalogued with its icon.
// A decoder that crashes costs its file only: the files after it are read by a new decoder.
TEST_P(ImportDecodingTest, SmallFilesBehindAStuckOneAreStoredAtOnce)
{
    const TimeLimit limit(3s);
    const QVariantList items{
        write("a-ovn-decoder-hangs.jpg", hostilemedia::jpegOfNoise(64, 64, false)),
        write("b-ovn-decoder-crashes.jpg", hostilemedia::jpegOfNoise(64, 64, false)),
        write("c.jpg", hostilemedia::jpegOfNoise(320, 200, false)),
        write("d.jpg", hostilemedia::jpegOfNoise(200, 320, false)),
    };
    Order order;
    OVNImportWorker worker([this] { return openAnother(); }, settings(2));
    const OVNImportWorker::Summary summary = worker.run(items, &order);
    EXPECT_EQ(stored(),
              (QStringList{QStringLiteral("a-ovn-decoder-hangs.jpg"), QStringLiteral("b-ovn-decoder-crashes.jpg"),
                           QStringLiteral("c.jpg"), QStringLiteral("d.jpg")}));
    // The stuck file came out last, after every file behind it.
    EXPECT_EQ(order.paths().value(3), QStringLiteral("a-ovn-decoder-hangs.jpg"));
    EXPECT_EQ(reasonFor(summary, QStringLiteral("a-ovn-decoder-hangs.jpg")),
              QStringLiteral("catalogued with an icon: %1").arg(outOfTime));
    EXPECT_EQ(reasonFor(summary, QStringLiteral("b-ovn-decoder-crashes.jpg")),
              QStringLiteral("catalogued with an icon: %1").arg(crashed));
    EXPECT_TRUE(reasonFor(summary, QStringLiteral("c.jpg")).isEmpty());
}

// Cancel during a stuck read (a stalled mount) ends the import at once, long before the file's
// limit, and lists the file. (A FIFO never reaches a decoder on this road: its size is 0 and it is
// listed as empty.)
TEST_P(ImportDecodingTest, CancelDuringAStuckReadListsTheFile)
{
    const TimeLimit limit(120s);
    const QString stuck = write("ovn-decoder-hangs.jpg", hostilemedia::jpegOfNoise(64, 64, false));
    OVNImportWorker::Settings s = settings(2);
    OVNImportWorker *running = nullptr;
    std::thread canceller;
    s.fileStarted = [&](const QString &path) {
        if (path == stuck)
            canceller = std::thread([&running] {
                std::this_thread::sleep_for(300ms);
                running->cancel();
            });
    };
    OVNImportWorker worker([this] { return openAnother(); }, s);
    running = &worker;
    const OVNImportWorker::Summary summary = worker.run({stuck});
    if (canceller.joinable())
        canceller.join();
    // Ended by the cancel, which its summary and the file's reason say.
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(reasonFor(summary, QStringLiteral("ovn-decoder-hangs.jpg")), cancelled);
    EXPECT_TRUE(summary.notImported.contains(stuck));
    EXPECT_TRUE(stored().isEmpty());
    EXPECT_TRUE(OVNImportWorker::waitForAbandonedFiles(30000));
}

// A file on a stalled mount: its metadata read never returns (the read blocks as a read of a mount
// whose server stopped answering does). The import gives up on it at the file's limit, lists it
// with its reason, stores it with its icon and the other files with their pictures, and ends; as
// does a re-scan, which keeps the entry's thumbnail and names the reason.
TEST_P(ImportDecodingTest, AFileWhoseMetadataReadStallsIsListedAndTheImportEnds)
{
    const TimeLimit limit(2s);
    // Held by the test until its end: the reads it stalls outlive the import and take it then.
    const auto stall = std::make_shared<std::mutex>();
    std::unique_lock stalled(*stall);
    OVNImportHelper::setMetadataReader([stall](const QString &path) {
        if (path.contains(QLatin1String("stalled"))) {
            const std::lock_guard held(*stall);
        }
        return OVNImageTagParser().parseFileForExifInfo(path);
    });
    const QVariantList items{
        write("a.jpg", hostilemedia::jpegOfNoise(320, 200, false)),
        write("b-stalled.jpg", hostilemedia::jpegOfNoise(320, 200, false)),
        write("c.jpg", hostilemedia::jpegOfNoise(200, 320, false)),
    };
    const QString timeProblem = QStringLiteral("the file could not be read in time");
    OVNImportWorker worker([this] { return openAnother(); }, settings(2));
    const OVNImportWorker::Summary summary = worker.run(items);
    EXPECT_EQ(stored(),
              (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b-stalled.jpg"), QStringLiteral("c.jpg")}));
    EXPECT_EQ(reasonFor(summary, QStringLiteral("b-stalled.jpg")),
              QStringLiteral("catalogued with an icon: %1").arg(timeProblem));
    EXPECT_TRUE(reasonFor(summary, QStringLiteral("a.jpg")).isEmpty());
    EXPECT_TRUE(reasonFor(summary, QStringLiteral("c.jpg")).isEmpty());

    // A re-scan on the same stalled mount: the entry keeps what it has, and the reason is named.
    QVariantList records;
    for (const QList<QVariant> &row : db.rowsForQuery(
             QStringLiteral("select mid, absolutepath from strvfile where categoryid=$1 order by mid"), {category}))
        records.append(
            QVariantMap{{QStringLiteral("mid"), row.value(0)}, {QStringLiteral("absolutepath"), row.value(1)}});
    OVNImportWorker::Settings again = settings(2);
    OVNImportWorker rescanner([this] { return openAnother(); }, again);
    const OVNImportWorker::Summary rescanned = rescanner.reprocess(records);
    EXPECT_EQ(reasonFor(rescanned, QStringLiteral("b-stalled.jpg")),
              QStringLiteral("left as it was: %1").arg(timeProblem));
    EXPECT_TRUE(reasonFor(rescanned, QStringLiteral("a.jpg")).isEmpty());
    EXPECT_EQ(rescanned.importedIds.size(), 2);

    stalled.unlock();
    OVNImportHelper::setMetadataReader({});
}

OVN_CATALOG_VENDORS(ImportDecodingTest);
