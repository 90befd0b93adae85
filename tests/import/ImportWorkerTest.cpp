#include "CatalogFixture.h"

#include "catalogdb/OVNDBHelper.h"

#include "import/OVNImportMedia.h"
#include "import/OVNImportWorker.h"
#include "decoding/ImageFileReader.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"

#include "../formats/SyntheticDng.h"
#include "../support/CatalogUsers.h"
#include "../support/RefusingTrigger.h"
#include "../support/ScriptedAlertPresenter.h"
#include "../support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QProcess>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString writeJpeg(const QString &path, int seed)
{
    QImage image(640, 480, QImage::Format_RGB32);
    image.fill(QColor((seed * 37) % 256, (seed * 91) % 256, 120));
    QPainter(&image).drawText(40, 40, QString::number(seed));
    EXPECT_TRUE(image.save(path, "JPEG", 85));
    return path;
}

QStringList listedNames(OVNDatabaseAccess &db, const QString &categoryId)
{
    QStringList names;
    for (const QList<QVariant> &row : db.rowsForQuery(
             QStringLiteral("select displaytag from strvfile where categoryid=$1 order by mid"), {categoryId}))
        names.append(row.value(0).toString());
    return names;
}

class CancelAfter : public OVNImportWorker::Observer
{
public:
    CancelAfter(OVNImportWorker *&worker, int after) : m_worker(worker), m_after(after) {}
    void importProgress(int position, int, const QString &, const QByteArray &) override
    {
        if (position == m_after)
            m_worker->cancel();
    }

private:
    OVNImportWorker *&m_worker;
    int m_after;
};

} // namespace

class ImportWorkerTest : public CatalogFixture
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
    OVNImportWorker::ConnectionMaker maker() const
    {
        return [this] { return openAnother(); };
    }
    OVNImportWorker::Settings settings(int threads = 4) const
    {
        OVNImportWorker::Settings s;
        s.categoryId = category;
        s.threadCount = threads;
        s.batchSize = 7;
        return s;
    }
    QString category;
    QTemporaryDir files;
};

// A folder of every kind: one row each in list order, with type, size, orientation and thumbnail;
// the broken and unknown files listed.
TEST_P(ImportWorkerTest, MixedFolderGivesOneRowPerFile)
{
    OVN_REQUIRE_TESTDATA();
    const QDir images(testDataDir() + QStringLiteral("/exiftool-t-images"));
    const QDir folder(files.path());
    const QStringList samples{QStringLiteral("ExifTool.jpg"), QStringLiteral("ExifTool.tif"), QStringLiteral("PPM.ppm"),
                              QStringLiteral("PDF.pdf")};
    for (const QString &name : samples)
        ASSERT_TRUE(QFile::copy(images.filePath(name), folder.filePath(name)));
    ASSERT_TRUE(QFile::copy(testDataDir() + QStringLiteral("/exiv2-test-data/movies/sample_640x360.mov"),
                            folder.filePath(QStringLiteral("QuickTime.mov"))));
    QFile::copy(testDataDir() + QStringLiteral("/exif-orientation-examples/Landscape_6.jpg"),
                folder.filePath(QStringLiteral("turned.jpg")));
    QFile doc(folder.filePath(QStringLiteral("letter.doc")));
    ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
    doc.write(QByteArray(3000, 'd'));
    doc.close();
    QFile broken(folder.filePath(QStringLiteral("broken.jpg")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray("\xff\xd8\xff\xdb", 4) + QByteArray(4000, '\x11'));
    broken.close();
    QFile unknown(folder.filePath(QStringLiteral("notes.zzq")));
    ASSERT_TRUE(unknown.open(QIODevice::WriteOnly));
    unknown.write("x");
    unknown.close();

    OVNImportWorker worker(maker(), settings());
    const OVNImportWorker::Summary summary = worker.run({files.path()});
    EXPECT_EQ(summary.total, 9);
    EXPECT_EQ(summary.importedIds.size(), 8);
    EXPECT_FALSE(summary.cancelled);

    QMap<QString, QString> problems;
    for (const OVNImportWorker::Failure &failure : summary.failures)
        problems.insert(QFileInfo(failure.path).fileName(), failure.reason);
    EXPECT_TRUE(problems.contains(QStringLiteral("notes.zzq")));
    EXPECT_TRUE(problems.value(QStringLiteral("broken.jpg")).contains(QLatin1String("cannot be read")));
    EXPECT_EQ(problems.size(), 2);

    QMap<QString, MediaRecord> rows;
    for (const auto &record : db.getMediaList(category))
        rows.insert(record->field(MediaRecord::DisplayTag), *record);
    ASSERT_EQ(rows.size(), 8);
    EXPECT_EQ(rows[QStringLiteral("ExifTool.jpg")].field(MediaRecord::FileType), QStringLiteral("NSImage"));
    EXPECT_EQ(rows[QStringLiteral("ExifTool.tif")].field(MediaRecord::FileType), QStringLiteral("NSImage"));
    EXPECT_EQ(rows[QStringLiteral("PPM.ppm")].field(MediaRecord::FileType), QStringLiteral("NSImage"));
    EXPECT_TRUE(rows[QStringLiteral("QuickTime.mov")].field(MediaRecord::FileType).startsWith(QLatin1String("Movie")));
    EXPECT_EQ(rows[QStringLiteral("QuickTime.mov")].field(MediaRecord::ImageWidth), QStringLiteral("640"));
    EXPECT_EQ(rows[QStringLiteral("PDF.pdf")].field(MediaRecord::FileType), QStringLiteral("PDF"));
    EXPECT_EQ(rows[QStringLiteral("letter.doc")].field(MediaRecord::ImageWidth), QStringLiteral("0"));
    EXPECT_EQ(rows[QStringLiteral("turned.jpg")].field(MediaRecord::Orientation), QStringLiteral("6"));
    EXPECT_EQ(rows[QStringLiteral("turned.jpg")].field(MediaRecord::ImageWidth), QStringLiteral("1200"));
    EXPECT_EQ(rows[QStringLiteral("ExifTool.jpg")].field(MediaRecord::FileSize),
              QString::number(QFileInfo(folder.filePath(QStringLiteral("ExifTool.jpg"))).size()));
    const QImage turned =
        QImage::fromData(db.getThumbnailForMediaID(rows[QStringLiteral("turned.jpg")].field(MediaRecord::Mid)));
    EXPECT_EQ(turned.size(), QSize(256, 171));
    for (const MediaRecord &row : rows)
        EXPECT_FALSE(db.getThumbnailForMediaID(row.field(MediaRecord::Mid)).isEmpty())
            << qPrintable(row.field(MediaRecord::DisplayTag));
}

// A portrait camera RAW file is catalogued with its orientation and an upright thumbnail; one cut
// off after its header is listed as unreadable.
TEST_P(ImportWorkerTest, RawFilesAreTurnedAndHeaderOnlyOnesListed)
{
    syntheticdng::Options portrait;
    portrait.width = 96;
    portrait.height = 64;
    portrait.orientation = 6;
    syntheticdng::Options cut;
    cut.width = 400;
    cut.height = 300;
    cut.withData = false;
    for (const auto &[name, options] : {std::pair{"portrait.dng", portrait}, std::pair{"cut.dng", cut}}) {
        QFile file(files.filePath(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(syntheticdng::make(options));
    }
    OVNImportWorker worker(maker(), settings());
    const OVNImportWorker::Summary summary = worker.run({files.path()});
    // Both are catalogued, the cut one with an icon.
    EXPECT_EQ(summary.importedIds.size(), 2);
    ASSERT_EQ(summary.failures.size(), 1);
    EXPECT_EQ(QFileInfo(summary.failures.first().path).fileName(), QStringLiteral("cut.dng"));
    EXPECT_TRUE(summary.failures.first().reason.contains(QLatin1String("the file is damaged")));
    int portraits = 0;
    for (const auto &record : db.getMediaList(category)) {
        if (record->field(MediaRecord::DisplayTag) != QLatin1String("portrait.dng"))
            continue;
        ++portraits;
        EXPECT_EQ(record->field(MediaRecord::Orientation), QStringLiteral("6"));
        const QImage thumb = QImage::fromData(db.getThumbnailForMediaID(record->field(MediaRecord::Mid)));
        EXPECT_GT(thumb.height(), thumb.width());
    }
    EXPECT_EQ(portraits, 1);
}

// Records go in in the list's order whatever order the threads finish in, across several batches.
TEST_P(ImportWorkerTest, InsertsFollowTheListOrder)
{
    QVariantList items;
    QStringList expected;
    for (int i = 0; i < 30; ++i) {
        const QString name = QStringLiteral("f%1.jpg").arg(29 - i, 2, 10, QLatin1Char('0'));
        items.append(writeJpeg(files.filePath(name), i));
        expected.append(name);
    }
    items.insert(5, QVariantMap{{QStringLiteral("PATH"), items.takeAt(5)},
                                {QStringLiteral("COMMENT"), QStringLiteral("from the card")},
                                {QStringLiteral("RATING"), 3}});
    OVNImportWorker worker(maker(), settings(6));
    const OVNImportWorker::Summary summary = worker.run(items);
    EXPECT_EQ(summary.importedIds.size(), 30);
    EXPECT_EQ(listedNames(db, category), expected);
    EXPECT_EQ(db.getMediaListEntryForMediaID(summary.importedIds.at(5), QStringLiteral("fulldesc")),
              QStringLiteral("from the card"));
    EXPECT_EQ(db.getMediaListEntryForMediaID(summary.importedIds.at(5), QStringLiteral("rating")), QStringLiteral("3"));
}

TEST_P(ImportWorkerTest, CancelKeepsWhatWasImported)
{
    QVariantList items;
    for (int i = 0; i < 60; ++i)
        items.append(writeJpeg(files.filePath(QStringLiteral("c%1.jpg").arg(i)), i));
    OVNImportWorker *running = nullptr;
    OVNImportWorker worker(maker(), settings(3));
    running = &worker;
    CancelAfter observer(running, 10);
    const OVNImportWorker::Summary summary = worker.run(items, &observer);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_GE(summary.importedIds.size(), 10);
    EXPECT_LT(summary.importedIds.size(), 60);
    EXPECT_EQ(listedNames(db, category).size(), summary.importedIds.size());
    // As the program does before it ends: the files the cancel left being made finish first.
    EXPECT_TRUE(OVNImportWorker::waitForAbandonedFiles(30000));
}

// A thread the cancel left at its file has wholly ended when the wait at the program's end
// returns, what it holds for itself alone (Qt's thread data among it) included: the program's
// statics are torn down next, and a thread still ending then crashes the program.
TEST_P(ImportWorkerTest, TheWaitAtTheEndOutlastsTheThreadsACancelLeftAtTheirFiles)
{
    static std::atomic<bool> tailEnded{false};
    struct Tail {
        ~Tail()
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            tailEnded = true;
        }
    };
    QVariantList items;
    for (int i = 0; i < 4; ++i)
        items.append(writeJpeg(files.filePath(QStringLiteral("t%1.jpg").arg(i)), i));
    const QString held = items.first().toString();
    OVNImportWorker *running = nullptr;
    OVNImportWorker::Settings s = settings(2);
    s.fileStarted = [&](const QString &path) {
        if (path != held)
            return;
        static thread_local Tail tail;
        (void)&tail;
        running->cancel();
        // Still at its file when the import ends.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    };
    OVNImportWorker worker(maker(), s);
    running = &worker;
    const OVNImportWorker::Summary summary = worker.run(items);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_FALSE(tailEnded);
    EXPECT_TRUE(OVNImportWorker::waitForAbandonedFiles(30000));
    EXPECT_TRUE(tailEnded);
}

TEST_P(ImportWorkerTest, CopyWithANameClashOverwritesNothingAndStops)
{
    QTemporaryDir destination;
    const QString a = writeJpeg(files.filePath(QStringLiteral("a.jpg")), 1);
    const QString b = writeJpeg(files.filePath(QStringLiteral("b.jpg")), 2);
    const QString c = writeJpeg(files.filePath(QStringLiteral("c.jpg")), 3);
    QFile existing(destination.filePath(QStringLiteral("b.jpg")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("keep me");
    existing.close();

    OVNImportWorker::Settings s = settings(4);
    s.destinationFolder = destination.path();
    s.copyOnProcess = true;
    OVNImportWorker worker(maker(), s);
    const OVNImportWorker::Summary summary = worker.run({a, b, c});
    EXPECT_EQ(summary.abortTitle, QStringLiteral("File copy failed."));
    EXPECT_EQ(summary.abortMessage,
              OVNImportWorker::copyFailedMessage(false, b, destination.filePath(QStringLiteral("b.jpg"))));
    ASSERT_EQ(summary.importedIds.size(), 1);
    EXPECT_EQ(db.getMediaListEntryForMediaID(summary.importedIds.first(), QStringLiteral("absolutepath")),
              destination.filePath(QStringLiteral("a.jpg")));
    QFile kept(destination.filePath(QStringLiteral("b.jpg")));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("keep me"));
    // The file after the clash was neither imported nor left copied.
    EXPECT_FALSE(QFileInfo::exists(destination.filePath(QStringLiteral("c.jpg"))));
    EXPECT_TRUE(QFileInfo::exists(c));
}

TEST_P(ImportWorkerTest, SheetShowsProgressAndPostsTheFinish)
{
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    QVariantList items;
    for (int i = 0; i < 5; ++i)
        items.append(writeJpeg(files.filePath(QStringLiteral("s%1.jpg").arg(i)), i));
    QFile unknown(files.filePath(QStringLiteral("x.zzq")));
    ASSERT_TRUE(unknown.open(QIODevice::WriteOnly));
    unknown.write("x");
    unknown.close();
    items.append(unknown.fileName());
    ASSERT_TRUE(QFile::link(files.filePath(QStringLiteral("nowhere.jpg")), files.filePath(QStringLiteral("gone.jpg"))));
    items.append(files.filePath(QStringLiteral("gone.jpg")));

    QStringList finished;
    QObject receiver;
    NotificationCenter::defaultCenter().addObserver(
        &receiver, OVNImportMedia::importMediaDidFinishNotification(), [&](const QString &, const QVariantMap &info) {
            finished.append(info.value(QStringLiteral("categoryid")).toString());
        });
    OVNImportMedia sheet;
    sheet.setDeleteOnFinish(false);
    sheet.setConnectionMaker(maker());
    sheet.processFiles(items, category, nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return sheet.isFinished(); }, waitCeilingMs));
    EXPECT_EQ(finished, QStringList{category});
    EXPECT_EQ(sheet.counterText(), QStringLiteral("6/6"));
    EXPECT_EQ(sheet.progressMaximum(), 6);
    EXPECT_FALSE(sheet.filmStripImage(4).isNull());
    EXPECT_TRUE(sheet.filmStripImage(5).isNull());
    EXPECT_EQ(sheet.summary().importedIds.size(), 5);
    ASSERT_EQ(alerts->shown().size(), 1);
    EXPECT_TRUE(alerts->shown().first().detailedText.contains(QLatin1String("x.zzq")));
    // A path the folder expansion leaves out is named too.
    EXPECT_TRUE(alerts->shown().first().detailedText.contains(
        QLatin1String("gone.jpg: a link to something that does not exist")));
}

// A JPEG cut at half is catalogued with what could be read and listed as damaged with the reason;
// the whole one beside it is not listed.
TEST_P(ImportWorkerTest, ACutJpegIsCataloguedAndListedAsDamaged)
{
    const QString whole = writeJpeg(files.filePath(QStringLiteral("whole.jpg")), 3);
    QFile source(whole);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    QFile cut(files.filePath(QStringLiteral("cut.jpg")));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(bytes.size() / 2));
    cut.close();

    OVNImportWorker worker(maker(), settings());
    const OVNImportWorker::Summary summary = worker.run({files.path()});
    EXPECT_EQ(summary.importedIds.size(), 2);
    ASSERT_EQ(summary.failures.size(), 1);
    EXPECT_EQ(QFileInfo(summary.failures.first().path).fileName(), QStringLiteral("cut.jpg"));
    EXPECT_EQ(summary.failures.first().reason, QStringLiteral("catalogued: the file is damaged (the data ends early)"));
    EXPECT_TRUE(summary.failures.first().catalogued);
    // Its thumbnail is the picture's upper half as it was read, not an icon.
    for (const auto &record : db.getMediaList(category)) {
        if (record->field(MediaRecord::DisplayTag) != QLatin1String("cut.jpg"))
            continue;
        EXPECT_EQ(record->field(MediaRecord::ImageWidth), QStringLiteral("640"));
        const QImage thumb = QImage::fromData(db.getThumbnailForMediaID(record->field(MediaRecord::Mid)));
        EXPECT_EQ(thumb.size(), QSize(256, 192));
    }
}
OVN_CATALOG_VENDORS(ImportWorkerTest);

// A refused insert is listed with the file's name; the files around it, in the same transaction,
// are kept.
TEST_P(ImportWorkerTest, RefusedInsertIsListedAndTheOthersStay)
{
    if (isPostgres()) {
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral(
            "create function refuse_bad() returns trigger as $body$ begin if new.displaytag = 'bad.jpg' then "
            "raise exception 'refused'; end if; return new; end $body$ language plpgsql")))
            << qPrintable(db.getLastErrorMessage());
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral(
            "create trigger refuse_bad before insert on strvfile for each row execute function refuse_bad()")))
            << qPrintable(db.getLastErrorMessage());
    } else {
        ASSERT_TRUE(db.runSQLCommand(
            QStringLiteral("create trigger refuse_bad before insert on strvfile when new.displaytag = 'bad.jpg' "
                           "begin select raise(abort, 'refused'); end")))
            << qPrintable(db.getLastErrorMessage());
    }
    QVariantList items;
    for (const char *name : {"one.jpg", "two.jpg", "bad.jpg", "three.jpg"})
        items.append(writeJpeg(files.filePath(QLatin1String(name)), int(items.size())));
    OVNImportWorker::Settings s = settings(2);
    s.batchSize = 100;
    OVNImportWorker worker(maker(), s);
    const OVNImportWorker::Summary summary = worker.run(items);
    EXPECT_EQ(summary.importedIds.size(), 3);
    ASSERT_EQ(summary.failures.size(), 1);
    EXPECT_EQ(QFileInfo(summary.failures.first().path).fileName(), QStringLiteral("bad.jpg"));
    EXPECT_EQ(listedNames(db, category),
              (QStringList{QStringLiteral("one.jpg"), QStringLiteral("two.jpg"), QStringLiteral("three.jpg")}));
}

// Pre-fill writes the prepared fields and the path words into each new record.
TEST_P(ImportWorkerTest, PrefillCompletesEachRecord)
{
    QDir(files.path()).mkpath(QStringLiteral("Summer/Beach"));
    const QString path = writeJpeg(files.filePath(QStringLiteral("Summer/Beach/sunset.jpg")), 4);
    OVNImportWorker::Settings s = settings(1);
    s.prefillEnabled = true;
    s.prefillInfo = {{QStringLiteral("fulldesc"), QStringLiteral("holiday")}};
    s.prefillWords.shortDescriptionAddFilename = true;
    s.prefillWords.shortDescriptionParseFolders = 1;
    OVNImportWorker worker(maker(), s);
    const OVNImportWorker::Summary summary = worker.run({path});
    ASSERT_EQ(summary.importedIds.size(), 1);
    EXPECT_EQ(db.getMediaListEntryForMediaID(summary.importedIds.first(), QStringLiteral("fulldesc")),
              QStringLiteral("holiday"));
    const QString keywords = db.getMediaListEntryForMediaID(summary.importedIds.first(), QStringLiteral("shortdesc"));
    EXPECT_TRUE(keywords.contains(QLatin1String("sunset"))) << qPrintable(keywords);
    EXPECT_TRUE(keywords.contains(QLatin1String("Beach"))) << qPrintable(keywords);
}

// Cancel on the sheet stops the import, keeps what was imported and posts the finish once.
namespace slowfile {

// A picture whose decoder waits until the test lets it go (the decoder program's test trigger for
// names holding "ovn-decoder-waits").
QString prepare(const QString &folder)
{
    const QString path = folder + QStringLiteral("/slow-ovn-decoder-waits.jpg");
    QFile::remove(path + QStringLiteral(".go"));
    return writeJpeg(path, 99);
}

// Lets the slow file's decoder go on.
bool release(const QString &path)
{
    QFile go(path + QStringLiteral(".go"));
    return go.open(QIODevice::WriteOnly);
}

} // namespace slowfile

TEST_P(ImportWorkerTest, SheetCancelKeepsWhatWasImported)
{
    ScriptedAlertPresenter::install();
    QVariantList items;
    for (int i = 0; i < 80; ++i)
        items.append(writeJpeg(files.filePath(QStringLiteral("k%1.jpg").arg(i)), i));
    // The import cannot finish before the cancel, however fast the machine.
    const QString slow = slowfile::prepare(files.path());
    items.insert(4, slow);
    int finishes = 0;
    QObject receiver;
    NotificationCenter::defaultCenter().addObserver(&receiver, OVNImportMedia::importMediaDidFinishNotification(),
                                                    [&](const QString &, const QVariantMap &) { ++finishes; });
    OVNImportMedia sheet;
    sheet.setDeleteOnFinish(false);
    sheet.setThreadCount(1);
    sheet.setConnectionMaker(maker());
    sheet.processFiles(items, category, nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return sheet.progressValue() >= 2; }, waitCeilingMs));
    sheet.btCancelClicked();
    ASSERT_TRUE(processEventsUntil([&] { return sheet.isFinished(); }, waitCeilingMs));
    processEventsUntil([] { return false; }, 200);
    EXPECT_EQ(finishes, 1);
    EXPECT_TRUE(sheet.summary().cancelled);
    EXPECT_LT(sheet.summary().importedIds.size(), 80);
    EXPECT_EQ(listedNames(db, category).size(), sheet.summary().importedIds.size());
    EXPECT_TRUE(slowfile::release(slow));
    EXPECT_TRUE(OVNImportWorker::waitForAbandonedFiles(30000));
}

// Another program keeps the catalog locked past the busy timeout when the batch begins, and lets
// go before the entry's own begin gives up: the entry is in the catalog and counts as imported.
TEST_P(ImportWorkerTest, EntryKeptWhenItsBatchCouldNotBegin)
{
    if (isPostgres())
        GTEST_SKIP() << "only a SQLite catalog locks writers out";
    const QString path = writeJpeg(files.filePath(QStringLiteral("busy.jpg")), 3);
    const std::unique_ptr<OVNDatabaseAccess> holder = openAnother();
    ASSERT_TRUE(holder->beginTransaction());
    // The import's connection waits one second for a lock: the batch's begin gives up while the
    // other writer holds on, and the entry's own insert then gets through once it lets go.
    std::thread release([&holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        holder->rollbackTransaction();
    });
    const OVNImportWorker::ConnectionMaker impatient = [this] {
        std::unique_ptr<OVNDatabaseAccess> connection = openAnother();
        connection->runSQLCommand(QStringLiteral("pragma busy_timeout = 1000"));
        return connection;
    };
    OVNImportWorker worker(impatient, settings(1));
    const OVNImportWorker::Summary summary = worker.run({path});
    release.join();
    EXPECT_EQ(listedNames(db, category), QStringList{QStringLiteral("busy.jpg")});
    EXPECT_EQ(summary.importedIds.size(), 1);
    EXPECT_TRUE(summary.failures.isEmpty()) << qPrintable(summary.failures.value(0).reason);
}

namespace {

// Counts, from another connection, the records of the category that are committed when the last
// file is reported.
class CommittedAtTheEnd : public OVNImportWorker::Observer
{
public:
    CommittedAtTheEnd(std::unique_ptr<OVNDatabaseAccess> other, QString categoryId, int total)
        : m_other(std::move(other)),
          m_category(std::move(categoryId)),
          m_total(total)
    {}
    void importProgress(int position, int, const QString &, const QByteArray &) override
    {
        // The first file is reported with its batch open; holding the import here is a file that
        // takes long, for as long as the open-batch limit (half a second) and more.
        if (position == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
        if (position == m_total)
            m_committed = m_other->affectedRowsForQuery(QStringLiteral("select mid from strvfile where categoryid=$1"),
                                                        {m_category});
    }
    int committed() const { return m_committed; }

private:
    std::unique_ptr<OVNDatabaseAccess> m_other;
    QString m_category;
    int m_total;
    int m_committed = -1;
};

} // namespace

// A batch waiting for files that take long is committed as it goes: on SQLite an open batch
// keeps every other writer out of the catalog.
TEST_P(ImportWorkerTest, SlowFilesDoNotKeepTheBatchOpen)
{
    QVariantList items;
    for (int i = 0; i < 4; ++i)
        items.append(writeJpeg(files.filePath(QStringLiteral("file%1.jpg").arg(i)), i + 1));
    OVNImportWorker::Settings s = settings(1);
    s.batchSize = 100;
    OVNImportWorker worker(maker(), s);
    CommittedAtTheEnd observer(openAnother(), category, int(items.size()));
    const OVNImportWorker::Summary summary = worker.run(items, &observer);
    EXPECT_EQ(summary.importedIds.size(), items.size());
    EXPECT_GT(observer.committed(), 0);
}

// A file that takes long holds back only its own record: the other threads make every other file
// meanwhile, and the records still go in in list order.
TEST_P(ImportWorkerTest, SlowFileDoesNotHoldTheOthersBack)
{
    QVariantList items;
    QStringList names;
    for (int i = 0; i < 16; ++i) {
        names.append(QStringLiteral("s%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
        items.append(writeJpeg(files.filePath(names.last()), i));
    }
    std::mutex mutex;
    std::condition_variable started;
    int others = 0;
    bool othersStartedMeanwhile = false;
    OVNImportWorker::Settings s = settings(2);
    s.fileStarted = [&](const QString &path) {
        std::unique_lock lock(mutex);
        if (!path.endsWith(QLatin1String("s00.jpg"))) {
            ++others;
            started.notify_all();
            return;
        }
        // The slow file ends only once every other file has been started (or, when the others are
        // held back, after a minute, and the test fails).
        othersStartedMeanwhile = started.wait_for(lock, std::chrono::minutes(1), [&] { return others == 15; });
    };
    OVNImportWorker worker(maker(), s);
    const OVNImportWorker::Summary summary = worker.run(items);
    EXPECT_TRUE(othersStartedMeanwhile);
    EXPECT_EQ(summary.importedIds.size(), 16);
    EXPECT_EQ(listedNames(db, category), names);
}

// A file early in the list that takes long holds back no finished record: while it is still being
// read, every other file is in the catalog (committed, as another connection sees it), so a cancel
// then keeps them all; released, it goes in too, and the ids keep the list's order.
TEST_P(ImportWorkerTest, FinishedFilesAreStoredWhileASlowOneDecodes)
{
    const struct {
        const char *name;
        bool cancelWhileSlow;
    } cases[] = {{"released", false}, {"cancelled", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = files.filePath(QLatin1String(c.name));
        QDir().mkpath(folder);
        QVariantList items;
        QStringList names;
        for (int i = 0; i < 16; ++i) {
            names.append(QStringLiteral("w%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
            items.append(writeJpeg(folder + QLatin1Char('/') + names.last(), i));
        }
        const QString target = db.addCategoryListEntry(QLatin1String(c.name), QStringLiteral("C"));
        std::unique_ptr<OVNDatabaseAccess> watcher = openAnother();
        const auto stored = [&] {
            const QList<QList<QVariant>> rows =
                watcher->rowsForQuery(QStringLiteral("select count(*) from strvfile where categoryid=$1"), {target});
            return rows.isEmpty() ? -1 : rows.first().value(0).toInt();
        };
        OVNImportWorker *running = nullptr;
        int storedWhileSlow = -1;
        OVNImportWorker::Settings s = settings(3);
        s.categoryId = target;
        s.batchSize = 4;
        // The second file stays in its reading until the other fifteen are in the catalog (or a
        // minute has passed, and the test fails).
        s.fileStarted = [&](const QString &path) {
            if (!path.endsWith(QLatin1String("w01.jpg")))
                return;
            for (int look = 0; look < 1200 && storedWhileSlow < 15; ++look) {
                storedWhileSlow = stored();
                if (storedWhileSlow < 15)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (c.cancelWhileSlow)
                running->cancel();
        };
        OVNImportWorker worker(maker(), s);
        running = &worker;
        const OVNImportWorker::Summary summary = worker.run(items);
        EXPECT_EQ(storedWhileSlow, 15);
        QStringList expected = names;
        if (c.cancelWhileSlow) {
            expected.removeAt(1);
            EXPECT_TRUE(summary.cancelled);
        }
        EXPECT_EQ(listedNames(db, target), expected);
        EXPECT_EQ(summary.importedIds.size(), expected.size());
        for (qsizetype i = 0; i < summary.importedPaths.size(); ++i)
            EXPECT_EQ(QFileInfo(summary.importedPaths.at(i)).fileName(), expected.value(i));
    }
    EXPECT_TRUE(OVNImportWorker::waitForAbandonedFiles(30000));
}

// A catalog user whose right to write into the category is withdrawn while his import runs: the
// batch being stored then is undone and the import stops; what was stored before stays, the rest
// is named as not imported with the reason.
TEST_P(ImportWorkerTest, ImportStopsAtTheNextBatchWhenWritingIsWithdrawn)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server catalog has users";
    QString staff;
    ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
    const struct {
        const char *name;
        const char *change; // run by the administrator after the sixth file
        const char *reason; // in the stop's words
    } cases[] = {
        {"taken out of his only group", "delete from strvgroupusers", "belongs to no group"},
        {"lowered to READ ONLY", nullptr, "READ ONLY"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = files.filePath(QLatin1String(c.name));
        QDir().mkpath(folder);
        QVariantList items;
        QStringList names;
        for (int i = 0; i < 20; ++i) {
            names.append(QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
            items.append(writeJpeg(folder + QLatin1Char('/') + names.last(), i));
        }
        const QString target = db.addCategoryListEntry(QLatin1String(c.name), QStringLiteral("C"));
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, target, staff, "READ & WRITE"));
        ASSERT_NO_FATAL_FAILURE(putAnnBackInStaff(db, staff));
        OVNImportWorker::Settings s = settings(2);
        s.categoryId = target;
        s.batchSize = 4;
        OVNImportWorker worker(
            [this] {
                std::unique_ptr<OVNDatabaseAccess> connection = openAnother();
                signInAsAnn(*connection);
                return connection;
            },
            s);
        int storedBeforeTheChange = -1;
        struct Administrator : OVNImportWorker::Observer {
            std::function<void()> change;
            void importProgress(int position, int, const QString &, const QByteArray &) override
            {
                if (position == 6)
                    change();
            }
        } administrator;
        administrator.change = [&] {
            storedBeforeTheChange = int(listedNames(db, target).size());
            if (c.change)
                EXPECT_TRUE(db.runSQLCommand(QLatin1String(c.change)));
            else
                grantPrivilege(db, target, staff, "READ ONLY");
        };
        const OVNImportWorker::Summary summary = worker.run(items, &administrator);
        const QStringList rows = listedNames(db, target);
        EXPECT_GE(storedBeforeTheChange, 4);
        EXPECT_EQ(rows.size(), storedBeforeTheChange);
        EXPECT_EQ(summary.importedIds.size(), rows.size());
        EXPECT_TRUE(summary.writeRefused);
        EXPECT_TRUE(summary.abortMessage.contains(QLatin1String(c.reason))) << qPrintable(summary.abortMessage);
        QStringList notImported;
        for (const QString &path : summary.notImported)
            notImported.append(QFileInfo(path).fileName());
        // Stored as they finished: each file is either in the catalog or named, once.
        QStringList accounted = rows + notImported;
        accounted.sort();
        EXPECT_EQ(accounted, names);
    }
}

// The same for a re-scan: the entries re-read before the change keep their new thumbnails, the
// batch open at the change and every entry after it are left as they were and named.
TEST_P(ImportWorkerTest, RescanStopsAtTheNextBatchWhenWritingIsWithdrawn)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server catalog has users";
    QString staff;
    ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
    const struct {
        const char *name;
        const char *change; // run by the administrator after the sixth entry
        const char *reason; // in the stop's words
    } cases[] = {
        {"taken out of his only group", "delete from strvgroupusers", "belongs to no group"},
        {"lowered to READ ONLY", nullptr, "READ ONLY"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = files.filePath(QLatin1String(c.name));
        QDir().mkpath(folder);
        QVariantList items;
        QStringList paths;
        for (int i = 0; i < 20; ++i) {
            paths.append(writeJpeg(folder + QStringLiteral("/r%1.jpg").arg(i, 2, 10, QLatin1Char('0')), i));
            items.append(paths.last());
        }
        const QString target = db.addCategoryListEntry(QLatin1String(c.name), QStringLiteral("C"));
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, target, staff, "READ & WRITE"));
        ASSERT_NO_FATAL_FAILURE(putAnnBackInStaff(db, staff));
        const auto asAnn = [this] {
            std::unique_ptr<OVNDatabaseAccess> connection = openAnother();
            signInAsAnn(*connection);
            return connection;
        };
        OVNImportWorker::Settings s = settings(2);
        s.categoryId = target;
        s.batchSize = 4;
        const OVNImportWorker::Summary imported = OVNImportWorker(asAnn, s).run(items);
        ASSERT_EQ(imported.importedIds.size(), 20);
        // A re-read entry gets its thumbnail back.
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("update strvfile set thumbimage=null")));
        const auto reread = [&] {
            QStringList mids;
            for (const QList<QVariant> &row :
                 db.rowsForQuery(QStringLiteral("select mid from strvfile where categoryid=$1 and thumbimage is not "
                                                "null order by mid"),
                                 {target}))
                mids.append(row.value(0).toString());
            return mids;
        };
        QVariantList records;
        for (qsizetype i = 0; i < imported.importedIds.size(); ++i)
            records.append(QVariantMap{{QStringLiteral("mid"), imported.importedIds.at(i)},
                                       {QStringLiteral("absolutepath"), imported.importedPaths.at(i)}});

        int rereadBeforeTheChange = -1;
        struct Administrator : OVNImportWorker::Observer {
            std::function<void()> change;
            void importProgress(int position, int, const QString &, const QByteArray &) override
            {
                if (position == 6)
                    change();
            }
        } administrator;
        administrator.change = [&] {
            rereadBeforeTheChange = int(reread().size());
            if (c.change)
                EXPECT_TRUE(db.runSQLCommand(QLatin1String(c.change)));
            else
                grantPrivilege(db, target, staff, "READ ONLY");
        };
        OVNImportWorker rescanner(asAnn, s);
        const OVNImportWorker::Summary summary = rescanner.reprocess(records, &administrator);
        const QStringList rows = reread();
        EXPECT_GE(rereadBeforeTheChange, 4);
        EXPECT_EQ(rows.size(), rereadBeforeTheChange);
        QStringList reported = summary.importedIds;
        reported.sort();
        EXPECT_EQ(reported, rows);
        EXPECT_TRUE(summary.writeRefused);
        EXPECT_TRUE(summary.abortMessage.contains(QLatin1String(c.reason))) << qPrintable(summary.abortMessage);
        EXPECT_TRUE(summary.abortMessage.contains(QString::number(summary.notImported.size())))
            << qPrintable(summary.abortMessage);
        // Each entry is either re-read or named, once.
        QStringList accounted = summary.importedPaths + summary.notImported;
        accounted.sort();
        EXPECT_EQ(accounted, paths);
    }
}

// A dictionary item given as a hash is imported with its values, as a map is.
TEST_P(ImportWorkerTest, HashItemsAreImportedLikeMaps)
{
    const QString path = writeJpeg(files.filePath(QStringLiteral("hashed.jpg")), 5);
    const QVariantHash item{{QStringLiteral("PATH"), path}, {QStringLiteral("RATING"), 4}};
    OVNImportWorker worker(maker(), settings(1));
    const OVNImportWorker::Summary summary = worker.run({QVariant(item)});
    ASSERT_EQ(summary.importedIds.size(), 1);
    EXPECT_EQ(db.getMediaListEntryForMediaID(summary.importedIds.first(), QStringLiteral("rating")),
              QStringLiteral("4"));
}

// A pre-fill field the catalog refuses leaves the record without it, and the file is listed.
TEST_P(ImportWorkerTest, RefusedPrefillFieldIsListed)
{
    const QString path = writeJpeg(files.filePath(QStringLiteral("priced.jpg")), 6);
    OVNImportWorker::Settings s = settings(1);
    s.prefillEnabled = true;
    s.prefillInfo = {{QStringLiteral("pricetag"), QStringLiteral("12,50")},
                     {QStringLiteral("fulldesc"), QStringLiteral("market")}};
    OVNImportWorker worker(maker(), s);
    const OVNImportWorker::Summary summary = worker.run({path});
    ASSERT_EQ(summary.importedIds.size(), 1);
    EXPECT_EQ(db.getMediaListEntryForMediaID(summary.importedIds.first(), QStringLiteral("fulldesc")),
              QStringLiteral("market"));
    ASSERT_EQ(summary.failures.size(), 1);
    EXPECT_EQ(summary.failures.first().path, path);
    EXPECT_TRUE(summary.failures.first().reason.contains(QLatin1String("12,50")))
        << qPrintable(summary.failures.first().reason);
}

// Each entry gets its metadata row from the file's camera tags; a row the catalog refuses costs
// the entry its metadata only, and the file is listed.
TEST_P(ImportWorkerTest, CameraTagsGoIntoTheMetadataRow)
{
    OVN_REQUIRE_TESTDATA();
    const QDir cameras(testDataDir() + QStringLiteral("/metadata-extractor-images/jpg"));
    const QString canon = files.filePath(QStringLiteral("canon.jpg"));
    const QString nikon = files.filePath(QStringLiteral("nikon.jpg"));
    ASSERT_TRUE(QFile::copy(cameras.filePath(QStringLiteral("Canon EOS 7D.jpg")), canon));
    ASSERT_TRUE(QFile::copy(cameras.filePath(QStringLiteral("Nikon D5000.jpg")), nikon));
    ASSERT_TRUE(addRefusingTrigger(db, QStringLiteral("strvexif"), QStringLiteral("insert"),
                                   QStringLiteral("new.CameraMake like 'NIKON%'")))
        << qPrintable(db.getLastErrorMessage());

    OVNImportWorker worker(maker(), settings(2));
    const OVNImportWorker::Summary summary = worker.run({canon, nikon});
    ASSERT_EQ(summary.importedIds.size(), 2);
    ASSERT_EQ(summary.failures.size(), 1);
    EXPECT_EQ(summary.failures.first().path, nikon);
    EXPECT_TRUE(summary.failures.first().reason.contains(QLatin1String("metadata")));

    const QList<OVNRow> rows =
        db.rowsForQuery(QStringLiteral("select mid, cameramake, cameramodel, isoequivalent, exiftags from strvexif"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first().at(0).toString(), summary.importedIds.first());
    EXPECT_EQ(rows.first().at(1).toString(), QStringLiteral("Canon"));
    EXPECT_EQ(rows.first().at(2).toString(), QStringLiteral("Canon EOS 7D"));
    EXPECT_EQ(rows.first().at(3).toString(), QStringLiteral("200"));
    const QVariantMap tags = PropertyList::read(rows.first().at(4).toString().toUtf8()).toMap();
    EXPECT_EQ(tags.value(QStringLiteral("CameraModel")).toString(), QStringLiteral("Canon EOS 7D"));
}

namespace {

// Takes the catalog server away from the import after its eighth file: ends the import's session
// and, for a while or for good, lets no new session in.
class CatalogOutage : public OVNImportWorker::Observer
{
public:
    enum Refusal { None = 0, ForGood = -1 }; // or the seconds until sessions are let in again

    CatalogOutage(OVNDatabaseAccess &db, QString database, int refusal)
        : m_db(db),
          m_database(std::move(database)),
          m_refusal(refusal)
    {}
    ~CatalogOutage() override
    {
        if (m_letIn.joinable())
            m_letIn.join();
        letIn();
    }
    void importStatus(const QString &text) override
    {
        if (text == QLatin1String("Waiting for the catalog server..."))
            m_waited = true;
    }
    void importProgress(int position, int, const QString &, const QByteArray &) override
    {
        if (position != 8)
            return;
        if (m_refusal != None) {
            EXPECT_TRUE(m_db.runSQLCommand(
                QStringLiteral("revoke connect on database %1 from public, current_user").arg(m_database)));
        }
        EXPECT_GE(m_db.affectedRowsForQuery(QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity "
                                                           "where datname=$1 and pid<>pg_backend_pid()"),
                                            {m_database}),
                  1);
        if (m_refusal > 0) {
            m_letIn = std::thread([this] {
                std::this_thread::sleep_for(std::chrono::seconds(m_refusal));
                letIn();
            });
        }
    }
    bool waited() const { return m_waited; }

private:
    void letIn() { m_db.runSQLCommand(QStringLiteral("grant connect on database %1 to public").arg(m_database)); }

    OVNDatabaseAccess &m_db;
    QString m_database;
    int m_refusal;
    std::thread m_letIn;
    std::atomic<bool> m_waited{false};
};

} // namespace

// The server goes away in the middle of a batch: the import waits for it, puts the lost batch in
// again and goes on; when it does not come back the import stops and names what it did not import.
TEST_P(ImportWorkerTest, ImportWaitsForACatalogServerThatWentAway)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server goes away";
    const struct {
        const char *name;
        int refusal;
        bool comesBack;
    } cases[] = {
        {"session ended", CatalogOutage::None, true},
        {"away for a second", 1, true},
        {"gone", CatalogOutage::ForGood, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = files.filePath(QLatin1String(c.name));
        QDir().mkpath(folder);
        QVariantList items;
        QStringList names;
        for (int i = 0; i < 20; ++i) {
            names.append(QStringLiteral("o%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
            items.append(writeJpeg(folder + QLatin1Char('/') + names.last(), i));
        }
        const QString target = db.addCategoryListEntry(QLatin1String(c.name), QStringLiteral("C"));
        OVNImportWorker::Settings s = settings(2);
        s.categoryId = target;
        s.reconnectWaitSeconds = 3;
        OVNImportWorker worker(maker(), s);
        CatalogOutage outage(db, m_pgDatabase, c.refusal);
        const OVNImportWorker::Summary summary = worker.run(items, &outage);

        const QStringList rows = listedNames(db, target);
        EXPECT_EQ(summary.catalogLost, !c.comesBack);
        EXPECT_EQ(outage.waited(), c.refusal != CatalogOutage::None);
        if (c.comesBack) {
            EXPECT_EQ(rows, names);
            EXPECT_EQ(summary.importedIds.size(), 20);
            EXPECT_TRUE(summary.notImported.isEmpty()) << qPrintable(summary.notImported.join(QLatin1Char('\n')));
        } else {
            // What the import did not keep is named; nothing is in the catalog twice or missing.
            QStringList notImported;
            for (const QString &path : summary.notImported)
                notImported.append(QFileInfo(path).fileName());
            // Files are stored as they finish: a later file may be in the catalog and an earlier
            // one named.
            EXPECT_GE(rows.size(), 7);
            QStringList accounted = rows + notImported;
            accounted.sort();
            EXPECT_EQ(accounted, names);
            EXPECT_EQ(summary.importedIds.size(), rows.size());
        }
    }
}

// A batch whose commit the server refuses (a check it makes only at commit) is no lost server:
// its files are listed with the catalog's message at once, and the batches after it go in.
TEST_P(ImportWorkerTest, BatchRefusedAtCommitIsListedAndTheImportGoesOn)
{
    if (!isPostgres())
        GTEST_SKIP() << "a catalog file checks nothing at commit";
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral(
        "create function refuse_marked() returns trigger as $body$ begin if new.displaytag = 'o09.jpg' then "
        "raise exception 'marked entries are refused'; end if; return new; end $body$ language plpgsql")))
        << qPrintable(db.getLastErrorMessage());
    ASSERT_TRUE(db.runSQLCommand(
        QStringLiteral("create constraint trigger refuse_marked after insert on strvfile deferrable initially deferred "
                       "for each row execute function refuse_marked()")))
        << qPrintable(db.getLastErrorMessage());
    QVariantList items;
    QStringList names;
    for (int i = 0; i < 20; ++i) {
        names.append(QStringLiteral("o%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
        items.append(writeJpeg(files.filePath(names.last()), i));
    }
    OVNImportWorker::Settings s = settings(2);
    s.batchSize = 7;
    s.reconnectWaitSeconds = 30;
    OVNImportWorker worker(maker(), s);
    const OVNImportWorker::Summary summary = worker.run(items);
    // The batch that held o09 (the files stored with it, in the order they were finished: seven,
    // or fewer when half a second ended the batch first on a busy machine) went with it; the other
    // batches are in.
    QStringList notImported;
    for (const QString &path : summary.notImported)
        notImported.append(QFileInfo(path).fileName());
    EXPECT_GE(notImported.size(), 1);
    EXPECT_LE(notImported.size(), 7);
    EXPECT_TRUE(notImported.contains(QStringLiteral("o09.jpg")));
    const QStringList rows = listedNames(db, category);
    QStringList accounted = rows + notImported;
    accounted.sort();
    EXPECT_EQ(accounted, names);
    EXPECT_EQ(summary.importedIds.size(), 20 - notImported.size());
    EXPECT_FALSE(summary.catalogLost);
    EXPECT_TRUE(summary.abortMessage.isEmpty()) << qPrintable(summary.abortMessage);
    ASSERT_EQ(summary.failures.size(), notImported.size());
    for (const OVNImportWorker::Failure &failure : summary.failures)
        EXPECT_TRUE(failure.reason.endsWith(QLatin1String(": marked entries are refused")))
            << qPrintable(failure.reason);
}

namespace {

// Ends the import's server sessions: from the import itself after some files (right after a batch
// of seven was committed, and in the middle of one), and from a side thread every 0.2 to 0.3
// seconds, at most `sideCuts` times. After file `goneAfter` (when > 0) no new session is let in.
class SessionCutter : public OVNImportWorker::Observer
{
public:
    SessionCutter(OVNDatabaseAccess &db, std::unique_ptr<OVNDatabaseAccess> side, QString database, int sideCuts,
                  int goneAfter)
        : m_db(db),
          m_database(std::move(database)),
          m_goneAfter(goneAfter)
    {
        const QString ownPid = db.rowsForQuery(QStringLiteral("select pg_backend_pid()")).value(0).value(0).toString();
        m_side = std::thread([this, side = std::move(side), sideCuts, ownPid] {
            std::mt19937 random(51);
            for (int cut = 0; cut < sideCuts && !m_done.load(); ++cut) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200 + random() % 100));
                side->runSQLCommand(QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity "
                                                   "where datname=$1 and pid<>pg_backend_pid() and pid<>$2"),
                                    {m_database, ownPid});
            }
        });
    }
    ~SessionCutter() override
    {
        m_done = true;
        m_side.join();
        m_db.runSQLCommand(QStringLiteral("grant connect on database %1 to public").arg(m_database));
    }
    void importProgress(int position, int, const QString &, const QByteArray &) override
    {
        if (position == m_goneAfter) {
            EXPECT_TRUE(m_db.runSQLCommand(
                QStringLiteral("revoke connect on database %1 from public, current_user").arg(m_database)));
        }
        if (position % 7 == 0 || position % 7 == 3 || position == m_goneAfter)
            m_db.runSQLCommand(QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity "
                                              "where datname=$1 and pid<>pg_backend_pid()"),
                               {m_database});
    }

private:
    OVNDatabaseAccess &m_db;
    QString m_database;
    int m_goneAfter;
    std::atomic<bool> m_done{false};
    std::thread m_side;
};

// Stands between the import and the server on 127.0.0.1. Every second COMMIT reaches the server,
// which commits, but its answer is lost with the connection; the next two look-ups of entries
// after that lose their connection before they reach the server.
class CommitAnswerThief
{
public:
    explicit CommitAnswerThief(int serverPort) : m_serverPort(serverPort)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length), 0);
        EXPECT_EQ(::listen(m_listener, 16), 0);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { accept(); });
    }
    ~CommitAnswerThief()
    {
        m_done = true;
        m_acceptor.join();
        for (std::thread &relay : m_relays)
            relay.join();
        ::close(m_listener);
    }
    int port() const { return m_port; }
    int answersStolen() const { return m_stolen.load(); }

private:
    enum class Cut { No, BeforeServer, AfterAnswer };

    void accept()
    {
        while (!m_done) {
            pollfd incoming{m_listener, POLLIN, 0};
            if (::poll(&incoming, 1, 50) <= 0)
                continue;
            const int client = ::accept(m_listener, nullptr, nullptr);
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(quint16(m_serverPort));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
                ::close(client);
                ::close(server);
                continue;
            }
            m_relays.emplace_back([this, client, server] { relay(client, server); });
        }
    }

    Cut decide(QByteArrayView bytes)
    {
        std::lock_guard lock(m_mutex);
        if (bytes.contains(QByteArrayView("\0COMMIT\0", 8)) && ++m_commits % 2 == 0) {
            m_lookupsToCut = 2;
            ++m_stolen;
            return Cut::AfterAnswer;
        }
        if (bytes.contains(QByteArrayView("from strvfile where mid")) && m_lookupsToCut > 0) {
            --m_lookupsToCut;
            return Cut::BeforeServer;
        }
        return Cut::No;
    }

    void relay(int client, int server)
    {
        QByteArray buffer(1 << 16, Qt::Uninitialized);
        const auto pass = [&](int from, int to) {
            const ssize_t read = ::read(from, buffer.data(), size_t(buffer.size()));
            return read > 0 && ::send(to, buffer.constData(), size_t(read), MSG_NOSIGNAL) == read;
        };
        while (!m_done) {
            pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(ends, 2, 50) < 0)
                break;
            if (ends[1].revents && !pass(server, client))
                break;
            if (!ends[0].revents)
                continue;
            const ssize_t read = ::read(client, buffer.data(), size_t(buffer.size()));
            if (read <= 0)
                break;
            const Cut cut = decide(QByteArrayView(buffer.constData(), read));
            if (cut == Cut::BeforeServer || ::send(server, buffer.constData(), size_t(read), MSG_NOSIGNAL) != read)
                break;
            if (cut == Cut::AfterAnswer) {
                // The server has answered once its first bytes come: it committed.
                pollfd answer{server, POLLIN, 0};
                ::poll(&answer, 1, 10000);
                break;
            }
        }
        ::close(client);
        ::close(server);
    }

    int m_serverPort;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_done{false};
    std::atomic<int> m_stolen{0};
    std::mutex m_mutex;
    int m_commits = 0;
    int m_lookupsToCut = 0;
    std::thread m_acceptor;
    std::vector<std::thread> m_relays; // used by the acceptor only, until it is joined
};

} // namespace

// Sessions ended again and again during an import: every file is either in the catalog once or
// named as not imported, never both, never twice. The import goes on as long as new sessions
// open, and when it stops it says why: a server that could not be reached, or one that answered
// but ended every session before anything was kept.
TEST_P(ImportWorkerTest, EndedSessionsStoreNothingTwice)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server has sessions to end";
    const struct {
        const char *name;
        int sideCuts;
        int goneAfter;       // 0: the server stays
        const char *endsAll; // the file whose insert ends its own session, every time
        int waitSeconds;
        const char *cause;        // in the stop's message; nullptr: the import does not stop
        bool answersLost = false; // commits that went through lose their answer, look-ups their session
    } cases[] = {
        {"ended again and again", 40, 0, nullptr, 30, nullptr},
        {"ended, then gone", 40, 25, nullptr, 2, "could not be reached for 2 seconds"},
        {"ended at every try", 0, 0, "c20.jpg", 2, "ended the import's connection"},
        {"commit answers lost", 0, 0, nullptr, 30, nullptr, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = files.filePath(QLatin1String(c.name));
        QDir().mkpath(folder);
        QVariantList items;
        QStringList names;
        for (int i = 0; i < 50; ++i) {
            names.append(QStringLiteral("c%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
            items.append(writeJpeg(folder + QLatin1Char('/') + names.last(), i));
        }
        if (c.endsAll) {
            ASSERT_TRUE(db.runSQLCommand(
                QStringLiteral("create or replace function end_own_session() returns trigger as $body$ begin "
                               "if new.displaytag = '%1' then perform pg_terminate_backend(pg_backend_pid()); end if; "
                               "return new; end $body$ language plpgsql")
                    .arg(QLatin1String(c.endsAll))))
                << qPrintable(db.getLastErrorMessage());
            ASSERT_TRUE(db.runSQLCommand(QStringLiteral("create trigger end_own_session before insert on strvfile "
                                                        "for each row execute function end_own_session()")));
        }
        const QString target = db.addCategoryListEntry(QLatin1String(c.name), QStringLiteral("C"));
        OVNImportWorker::Settings s = settings(2);
        s.categoryId = target;
        s.reconnectWaitSeconds = c.waitSeconds;
        // Paced, so that the side thread's cuts fall during the import.
        s.fileStarted = [](const QString &) { std::this_thread::sleep_for(std::chrono::milliseconds(40)); };
        OVNImportWorker::Summary summary;
        {
            const PgTestServer server = *pgTestServer();
            CommitAnswerThief thief(server.port);
            OVNImportWorker::ConnectionMaker connections = maker();
            if (c.answersLost)
                connections = [&] {
                    auto connection = std::make_unique<OVNDatabaseAccess>();
                    connection->setConnectionDetails(QStringLiteral("PostgreSQL"),
                                                     QStringLiteral("127.0.0.1:%1").arg(thief.port()), server.user,
                                                     server.password, m_pgDatabase);
                    connection->openDBConnection();
                    return connection;
                };
            SessionCutter cutter(db, openAnother(), m_pgDatabase, c.sideCuts, c.goneAfter);
            OVNImportWorker worker(connections, s);
            summary = worker.run(items, c.answersLost ? nullptr : &cutter);
            if (c.answersLost) {
                EXPECT_GE(thief.answersStolen(), 3);
            }
        }
        if (c.endsAll)
            db.runSQLCommand(QStringLiteral("drop trigger end_own_session on strvfile"));

        const QStringList rows = listedNames(db, target);
        QStringList notImported;
        for (const QString &path : summary.notImported)
            notImported.append(QFileInfo(path).fileName());
        QStringList uncertain;
        for (const OVNImportWorker::Failure &failure : summary.failures)
            if (failure.reason.contains(QLatin1String("may be in the catalog")))
                uncertain.append(QFileInfo(failure.path).fileName());
        for (const QString &name : rows) {
            EXPECT_EQ(rows.count(name), 1) << qPrintable(name);
            EXPECT_FALSE(notImported.contains(name)) << qPrintable(name);
        }
        for (const QString &name : uncertain)
            EXPECT_FALSE(notImported.contains(name)) << qPrintable(name);
        QStringList accounted = rows + notImported + uncertain;
        accounted.removeDuplicates();
        accounted.sort();
        EXPECT_EQ(accounted, names);
        EXPECT_EQ(summary.importedIds.size(), rows.size());
        EXPECT_EQ(summary.catalogLost, c.cause != nullptr);
        if (c.cause) {
            // A server that ends sessions and then lets none in may be found out either way within a
            // budget of 2 seconds of paced tries: by a refused opening, or by sessions ended until
            // the budget is spent. Either stop is said as what it met.
            const bool endedThenGone = c.goneAfter > 0
                                       && summary.abortMessage.contains(QLatin1String("ended the import's connection"));
            EXPECT_TRUE(summary.abortMessage.contains(QLatin1String(c.cause)) || endedThenGone)
                << qPrintable(summary.abortMessage);
            EXPECT_FALSE(notImported.isEmpty());
        } else {
            EXPECT_EQ(rows, names);
            EXPECT_TRUE(summary.abortMessage.isEmpty()) << qPrintable(summary.abortMessage);
        }
        if (c.endsAll) {
            // Files are stored as they finish, so a neighbour of the file that ends every session
            // may be on either side of the stop; that file itself never is, nor what follows far
            // after it.
            EXPECT_FALSE(rows.contains(QLatin1String(c.endsAll)));
            EXPECT_GE(rows.size(), 15);
            for (const QString &name : rows)
                EXPECT_TRUE(names.mid(0, 25).contains(name)) << qPrintable(name);
        }
    }
}

// Cancel closes the sheet and finishes the import while a file is still being read; that file
// is dropped when its reading ends, after the sheet is gone, and nothing of it reaches the catalog.
TEST_P(ImportWorkerTest, SheetCancelDoesNotWaitForFilesInFlight)
{
    ScriptedAlertPresenter::install();
    const QString slow = slowfile::prepare(files.path());
    const QVariantList items{writeJpeg(files.filePath(QStringLiteral("a.jpg")), 1), slow,
                             writeJpeg(files.filePath(QStringLiteral("b.jpg")), 2)};

    QPointer<OVNImportMedia> sheet = new OVNImportMedia;
    sheet->setThreadCount(2);
    sheet->setConnectionMaker(maker());
    sheet->processFiles(items, category, nullptr);
    // The two small files are in while the slow one is still being read.
    ASSERT_TRUE(processEventsUntil([&] { return sheet && sheet->progressValue() >= 2; }, waitCeilingMs));
    sheet->btCancelClicked();
    EXPECT_FALSE(sheet->isVisible());
    // Finished and deleted while the slow file was being read: its decoder ends at the cancel.
    EXPECT_TRUE(processEventsUntil([&] { return sheet.isNull(); }, waitCeilingMs));
    const QStringList imported = listedNames(db, category);
    EXPECT_EQ(imported, (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg")}));
    EXPECT_TRUE(OVNImportWorker::waitForAbandonedFiles(30000));
    // Let go now, the file's decoder is gone: nothing more comes into the catalog.
    EXPECT_TRUE(slowfile::release(slow));
    processEventsUntil([] { return false; }, 300);
    EXPECT_EQ(listedNames(db, category), imported);
}

namespace {

// A small file system for a catalog, where this process may mount one (root, outside a sandbox
// that forbids it); unmounted when it goes.
class SmallDisk
{
public:
    SmallDisk(const QString &folder, const char *size) : m_folder(folder)
    {
        QDir().mkpath(folder);
        m_mounted =
            ::geteuid() == 0
            && QProcess::execute(QStringLiteral("mount"),
                                 {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                  QStringLiteral("size=") + QLatin1String(size), QStringLiteral("tmpfs"), folder})
                   == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {m_folder});
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    bool mounted() const { return m_mounted; }

private:
    QString m_folder;
    bool m_mounted = false;
};

} // namespace

// A catalog whose disk fills during the import: a file system that runs out (the batch's commit
// fails) or a page limit on the import's connection (an insert fails). Every file is either in the
// catalog or named as not imported, the disk is named as the cause (never a lost server), and the
// catalog stays whole.
TEST(ImportOntoAFullDisk, EveryFileIsAccountedForAndTheDiskNamed)
{
    QTemporaryDir dir;
    QVariantList items;
    QStringList paths;
    writeJpeg(dir.filePath(QStringLiteral("one.jpg")), 5);
    QDir().mkpath(dir.filePath(QStringLiteral("files")));
    for (int i = 0; i < 400; ++i) {
        paths.append(dir.filePath(QStringLiteral("files/f%1.jpg").arg(i, 3, 10, QLatin1Char('0'))));
        ASSERT_TRUE(QFile::copy(dir.filePath(QStringLiteral("one.jpg")), paths.last()));
        items.append(paths.last());
    }
    const struct {
        const char *name;
        bool smallDisk; // else a page limit
        int batchSize;
    } cases[] = {{"small file system", true, 250}, {"page limit", false, 7}, {"page limit, large batches", false, 250}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = dir.filePath(QLatin1String(c.name));
        std::optional<SmallDisk> disk;
        if (c.smallDisk) {
            disk.emplace(folder, "1m");
            if (!disk->mounted()) {
                std::printf("(%s: no file system could be mounted here; the page limit stands for it)\n", c.name);
                continue;
            }
        }
        QDir().mkpath(folder);
        const QString file = folder + QStringLiteral("/MediaDB.sqlite");
        QString category;
        int pageLimit = 0;
        {
            OVNDatabaseAccess catalog;
            catalog.setConnectionDetails(QStringLiteral("Integrated"), {}, {}, {}, file);
            ASSERT_TRUE(catalog.openDBConnection());
            ASSERT_TRUE(OVNDBHelper::prefDBCreateLocalDatabase(catalog));
            category = catalog.addCategoryListEntry(QStringLiteral("Trip"), QStringLiteral("C"));
            ASSERT_FALSE(category.isEmpty());
            pageLimit = catalog.rowsForQuery(QStringLiteral("pragma page_count")).value(0).value(0).toInt() + 60;
        }
        OVNImportWorker::Settings s;
        s.categoryId = category;
        s.threadCount = 4;
        s.batchSize = c.batchSize;
        s.reconnectWaitSeconds = 1;
        const bool limitPages = !c.smallDisk;
        OVNImportWorker worker(
            [file, limitPages, pageLimit] {
                auto connection = std::make_unique<OVNDatabaseAccess>();
                connection->setConnectionDetails(QStringLiteral("Integrated"), {}, {}, {}, file);
                connection->openDBConnection();
                if (limitPages)
                    connection->runSQLCommand(QStringLiteral("pragma max_page_count = %1").arg(pageLimit));
                return connection;
            },
            s);
        const OVNImportWorker::Summary summary = worker.run(items);

        OVNDatabaseAccess after;
        after.setConnectionDetails(QStringLiteral("Integrated"), {}, {}, {}, file);
        ASSERT_TRUE(after.openDBConnection());
        EXPECT_EQ(after.rowsForQuery(QStringLiteral("pragma integrity_check")).value(0).value(0).toString(),
                  QStringLiteral("ok"));
        QStringList catalogued;
        for (const QList<QVariant> &row :
             after.rowsForQuery(QStringLiteral("select absolutepath from strvfile where categoryid=$1"), {category}))
            catalogued.append(row.value(0).toString());
        EXPECT_EQ(catalogued.size(), summary.importedIds.size());
        // A failed insert may take its whole batch with it: with small batches, earlier ones stay.
        if (c.batchSize < 10) {
            EXPECT_FALSE(catalogued.isEmpty());
        }
        EXPECT_FALSE(summary.notImported.isEmpty());
        // In the catalog or named, never both, never neither.
        QStringList accounted = catalogued + summary.notImported;
        accounted.sort();
        EXPECT_EQ(accounted, paths);

        EXPECT_TRUE(summary.diskFull);
        EXPECT_FALSE(summary.catalogLost);
        EXPECT_TRUE(summary.abortMessage.contains(QLatin1String("disk"))) << qPrintable(summary.abortMessage);
        EXPECT_FALSE(summary.abortMessage.contains(QLatin1String("seconds"))) << qPrintable(summary.abortMessage);
        EXPECT_FALSE(summary.failures.isEmpty());
        for (const OVNImportWorker::Failure &failure : summary.failures)
            EXPECT_TRUE(failure.reason.endsWith(QLatin1String("the disk is full"))) << qPrintable(failure.reason);

        if (!c.smallDisk)
            continue;
        // Reading the entries again, changed, on the full disk: each is rescanned or listed with
        // the disk.
        writeJpeg(dir.filePath(QStringLiteral("other.jpg")), 9);
        for (const QString &path : std::as_const(paths)) {
            QFile::remove(path);
            ASSERT_TRUE(QFile::copy(dir.filePath(QStringLiteral("other.jpg")), path));
        }
        QFile filler(folder + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {}
        QVariantList records;
        for (const QString &mid : summary.importedIds)
            records.append(QVariantMap{{QStringLiteral("mid"), mid},
                                       {QStringLiteral("absolutepath"),
                                        after.getMediaListEntryForMediaID(mid, QStringLiteral("absolutepath"))}});
        const OVNImportWorker::Summary rescan = worker.reprocess(records);
        EXPECT_EQ(rescan.importedIds.size() + rescan.failures.size(), records.size());
        EXPECT_FALSE(rescan.failures.isEmpty());
        for (const OVNImportWorker::Failure &failure : rescan.failures)
            EXPECT_TRUE(failure.reason.endsWith(QLatin1String("the disk is full"))) << qPrintable(failure.reason);
        EXPECT_EQ(after.rowsForQuery(QStringLiteral("pragma integrity_check")).value(0).value(0).toString(),
                  QStringLiteral("ok"));
    }
}
