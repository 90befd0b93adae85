#include "CatalogFixture.h"

#include "import/OVNCatalogSession.h"
#include "import/OVNCumulusParser.h"
#include "import/OVNImportMedia.h"
#include "import/OVNImportWorker.h"
#include "platform/MacRoman.h"
#include "platform/NotificationCenter.h"

#include "../support/CatalogUsers.h"
#include "../support/ScriptedAlertPresenter.h"
#include "../support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <tuple>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString writeJpeg(const QString &path, int seed, QSize size = QSize(320, 240))
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor((seed * 37) % 256, (seed * 91) % 256, 120));
    QPainter(&image).drawText(20, 20, QString::number(seed));
    EXPECT_TRUE(image.save(path, "JPEG", 85));
    return path;
}

class CancelAt : public OVNImportWorker::Observer
{
public:
    CancelAt(OVNImportWorker &worker, int at) : m_worker(worker), m_at(at) {}
    void importProgress(int position, int, const QString &, const QByteArray &) override
    {
        if (position == m_at)
            m_worker.cancel();
    }

private:
    OVNImportWorker &m_worker;
    int m_at;
};

} // namespace

class SmartImportTest : public CatalogFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        folder = db.addCategoryListEntry(QStringLiteral("Cards"), QStringLiteral("F"));
        ASSERT_FALSE(folder.isEmpty());
    }
    OVNImportWorker::Settings settings() const
    {
        OVNImportWorker::Settings s;
        s.threadCount = 3;
        s.batchSize = 4;
        return s;
    }
    // "name:files" per collection under the folder, in the order made.
    QStringList collectionsUnderFolder()
    {
        QStringList made;
        for (const QList<QVariant> &row : db.rowsForQuery(
                 QStringLiteral("select c.displaytag, (select count(*) from strvfile f where f.categoryid=c.mid) "
                                "from strvcategory c where c.supermid=$1 order by c.mid"),
                 {folder}))
            made.append(QStringLiteral("%1:%2").arg(row.value(0).toString(), row.value(1).toString()));
        return made;
    }
    QString folder;
    QTemporaryDir files;
};

// Loose files into a collection named after their folder, each folder into its own collection, continued after the
// maximum only when a file is left; a cancel stops before the next collection.
TEST_P(SmartImportTest, FilesAreFiledIntoNumberedCollections)
{
    const QString card = files.filePath(QStringLiteral("card"));
    for (int i = 0; i < 7; ++i)
        writeJpeg(QStringLiteral("%1/IMG_%2.jpg").arg(card).arg(i), i);
    writeJpeg(card + QStringLiteral("/trip/a.jpg"), 20);
    writeJpeg(card + QStringLiteral("/trip/deep/b.jpg"), 21);
    QDir().mkpath(card + QStringLiteral("/empty"));
    QFile(card + QStringLiteral("/.DS_Store")).open(QIODevice::WriteOnly);
    const QString six = files.filePath(QStringLiteral("six"));
    QVariantList sixFiles;
    for (int i = 0; i < 6; ++i)
        sixFiles.append(writeJpeg(QStringLiteral("%1/%2.jpg").arg(six).arg(i), 30 + i));

    const struct {
        const char *name;
        QVariantList items;
        int cancelAt; // 0: no cancel
        QStringList collections;
        QStringList splits; // "NAME:FILES:COLLECTION,..."
    } cases[] = {
        // A single folder stands for its entries; ".DS_Store" is left out.
        {"card", {card}, 0, {"card:3", "card-1:3", "card-2:1", "empty:0", "trip:2"}, {"card:7:card,card-1,card-2"}},
        {"exact multiple", sixFiles, 0, {"six:3", "six-1:3"}, {"six:6:six,six-1"}},
        {"folders and loose files",
         {card + "/trip", sixFiles.at(0), card + "/empty", sixFiles.at(1)},
         0,
         {"six:2", "trip:2", "empty:0"},
         {}},
        {"cancel", sixFiles, 2, {"six:2"}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        db.runSQLCommand(QStringLiteral("delete from strvfile"));
        db.affectedRowsForQuery(QStringLiteral("delete from strvcategory where supermid=$1"), {folder});
        OVNImportWorker worker([this] { return openAnother(); }, settings());
        CancelAt observer(worker, c.cancelAt);
        const OVNImportWorker::Summary summary = worker.runSmart(c.items, folder, 3, &observer);
        EXPECT_EQ(collectionsUnderFolder(), c.collections);
        QStringList reported;
        for (const auto &made : summary.collections)
            reported.append(QStringLiteral("%1:%2").arg(made.name).arg(made.count));
        EXPECT_EQ(reported, c.collections);
        EXPECT_EQ(summary.cancelled, c.cancelAt > 0);
        // A folder filed into numbered collections is said, never left for the user to find.
        QStringList splits;
        for (const auto &split : summary.splits)
            splits.append(QStringLiteral("%1:%2:%3").arg(split.name).arg(split.files).arg(split.collections.join(',')));
        EXPECT_EQ(splits, c.splits);
        const OVNImportMedia::Report report = OVNImportMedia::importReport(summary);
        for (const QString &split : c.splits) {
            EXPECT_TRUE(report.informativeText.contains(QStringLiteral("“%1” has ").arg(split.section(':', 0, 0))))
                << qPrintable(report.message + "\n" + report.informativeText);
        }
        EXPECT_EQ(report.message.isEmpty(), c.splits.isEmpty() && summary.failures.isEmpty());
        // A file a cancel left being read ends on its own; none may still be at work when the
        // test program ends.
        EXPECT_TRUE(OVNImportWorker::waitForAbandonedFiles(30000));
    }
    EXPECT_EQ(OVNImportWorker::smartMaximum(0), 1000);
}

// What a smart import cannot catalogue is named with its reason, as the plain import names it: a
// name that is not valid UTF-8 (inside the one folder given, or given itself) and a path that names
// nothing. The window's summary lists it.
TEST_P(SmartImportTest, FilesItCannotTakeAreNamed)
{
    const QString card = files.filePath(QStringLiteral("latin"));
    writeJpeg(card + QStringLiteral("/ok.jpg"), 1);
    const QByteArray latin1Name = QFile::encodeName(card) + "/f\xeate.jpg";
    const int fd = ::open(latin1Name.constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    // As a program's argument reaches the import.
    const QString latin1Argument = QFile::decodeName(latin1Name);
    const QString missing = card + QStringLiteral("/missing.jpg");

    const struct {
        const char *name;
        QVariantList items;
        QStringList named; // "path: reason"
    } cases[] = {
        {"the folder alone", {card}, {card + "/f" + QChar(0xDCEA) + "te.jpg: the name is not valid UTF-8"}},
        {"the files given",
         {card + "/ok.jpg", latin1Argument, missing},
         {latin1Argument + ": the name is not valid UTF-8", missing + ": does not exist"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        OVNImportWorker worker([this] { return openAnother(); }, settings());
        const OVNImportWorker::Summary summary = worker.runSmart(c.items, folder, 0);
        EXPECT_EQ(summary.importedIds.size(), 1);
        QStringList named;
        for (const OVNImportWorker::Failure &failure : summary.failures)
            named.append(failure.path + QStringLiteral(": ") + failure.reason);
        EXPECT_EQ(named, c.named);
        EXPECT_EQ(summary.notImported.size(), c.named.size());
        EXPECT_EQ(OVNImportMedia::importReport(summary).message, QStringLiteral("Some files were not imported."));
    }
    // A name the temporary folder cannot remove through a QString path.
    ::unlink(latin1Name.constData());
}

// A catalog user whose right to write is withdrawn while his smart import runs, on the collection
// being filled, on the folder, or everywhere: the import stops at its next batch or collection;
// the collections and entries made before the change stay, nothing is made after it, and every
// other file is named as not imported.
TEST_P(SmartImportTest, StopsAtTheNextBatchWhenWritingIsWithdrawn)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server catalog has users";
    QString staff;
    ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
    // "alpha" fills "alpha" (files 1-5) and "alpha-1" (6-8), then "beta" (9-12).
    QVariantList items;
    QStringList paths;
    for (const char *name : {"alpha", "beta"})
        for (int i = 0; i < (qstrcmp(name, "alpha") == 0 ? 8 : 4); ++i) {
            paths.append(writeJpeg(files.filePath(QStringLiteral("%1/%2.jpg").arg(QLatin1String(name)).arg(i)), i));
            if (i == 0)
                items.append(files.filePath(QLatin1String(name)));
        }
    enum class Change { NoGroup, Collection, Folder };
    const struct {
        const char *name;
        Change change; // made by the administrator after file `at`
        int at;
        int batch;
        const char *reason; // in the stop's words
        QStringList collections;
    } cases[] = {
        {"taken out of his only group", Change::NoGroup, 7, 2, "belongs to no group", {"alpha:5", "alpha-1:2"}},
        {"its collection lowered to READ ONLY", Change::Collection, 7, 2, "READ ONLY", {"alpha:5", "alpha-1:2"}},
        {"its folder lowered to READ ONLY", Change::Folder, 7, 2, "READ ONLY", {"alpha:5", "alpha-1:2"}},
        {"a part's last batch", Change::Collection, 5, 2, "READ ONLY", {"alpha:4"}},
        // Every file of "alpha-1" stored when the folder is lowered: "beta" is not made.
        {"before the next collection", Change::Folder, 8, 1, "READ ONLY", {"alpha:5", "alpha-1:3"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        db.runSQLCommand(QStringLiteral("delete from strvfile"));
        db.affectedRowsForQuery(QStringLiteral("delete from strvcategory where supermid=$1"), {folder});
        ASSERT_NO_FATAL_FAILURE(putAnnBackInStaff(db, staff));
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, folder, staff, "READ & WRITE"));
        OVNImportWorker::Settings s = settings();
        s.batchSize = c.batch;
        OVNImportWorker worker(
            [this] {
                std::unique_ptr<OVNDatabaseAccess> connection = openAnother();
                signInAsAnn(*connection);
                return connection;
            },
            s);
        QStringList beforeTheChange;
        struct Administrator : OVNImportWorker::Observer {
            std::function<void(int)> after;
            void importProgress(int position, int, const QString &, const QByteArray &) override { after(position); }
        } administrator;
        administrator.after = [&](int position) {
            if (position != c.at)
                return;
            beforeTheChange = collectionsUnderFolder();
            switch (c.change) {
            case Change::NoGroup:
                EXPECT_TRUE(db.runSQLCommand(QStringLiteral("delete from strvgroupusers")));
                break;
            case Change::Collection: {
                const QList<QList<QVariant>> last =
                    db.rowsForQuery(QStringLiteral("select max(mid) from strvcategory where supermid=$1"), {folder});
                grantPrivilege(db, last.value(0).value(0).toString(), staff, "READ ONLY");
                break;
            }
            case Change::Folder:
                grantPrivilege(db, folder, staff, "READ ONLY");
                break;
            }
        };
        const OVNImportWorker::Summary summary = worker.runSmart(items, folder, 5, &administrator);
        EXPECT_EQ(beforeTheChange, c.collections);
        EXPECT_EQ(collectionsUnderFolder(), c.collections);
        EXPECT_TRUE(summary.writeRefused);
        EXPECT_TRUE(summary.abortMessage.contains(QLatin1String(c.reason))) << qPrintable(summary.abortMessage);
        EXPECT_TRUE(summary.abortMessage.contains(QStringLiteral(" %1 files").arg(summary.notImported.size())))
            << qPrintable(summary.abortMessage);
        // Each file is either in the catalog or named, once.
        QStringList stored;
        for (const QList<QVariant> &row : db.rowsForQuery(QStringLiteral("select absolutepath from strvfile")))
            stored.append(row.value(0).toString());
        stored.sort();
        QStringList reported = summary.importedPaths;
        reported.sort();
        EXPECT_EQ(reported, stored);
        QStringList accounted = stored + summary.notImported;
        accounted.sort();
        QStringList expected = paths;
        expected.sort();
        EXPECT_EQ(accounted, expected);
    }
}

// The sheet's cancel gives one finish, the smart one: a reload of the folder and a list change.
TEST_P(SmartImportTest, SheetCancelGivesTheSmartFinishOnce)
{
    ScriptedAlertPresenter::install();
    QVariantList items;
    for (int i = 0; i < 40; ++i)
        items.append(writeJpeg(files.filePath(QStringLiteral("s%1.jpg").arg(i)), i, QSize(1600, 1200)));
    QStringList posted;
    QObject receiver;
    NotificationCenter::defaultCenter().addObserver(
        &receiver, QString(), [&](const QString &name, const QVariantMap &info) {
            if (name.startsWith(QLatin1String("OVNNotification")))
                posted.append(name + QLatin1Char(' ') + info.value(QStringLiteral("categoryid")).toString()
                              + info.value(QStringLiteral("action")).toString());
        });
    OVNImportMedia sheet;
    sheet.setDeleteOnFinish(false);
    sheet.setThreadCount(1);
    sheet.setSmartMaximum(5);
    sheet.setConnectionMaker([this] { return openAnother(); });
    sheet.processFilesSmart(items, folder, nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return sheet.progressValue() >= 2; }, waitCeilingMs));
    sheet.btCancelClicked();
    ASSERT_TRUE(processEventsUntil([&] { return sheet.isFinished(); }, waitCeilingMs));
    processEventsUntil([] { return false; }, 200);
    // The end names where the files went: the one collection made, or else the folder.
    const QString target = sheet.summary().collections.size() == 1 ? sheet.summary().collections.first().id : folder;
    EXPECT_EQ(posted,
              (QStringList{"OVNNotificationReloadCategory " + folder, "OVNNotificationCategoryListDidChange add",
                           "OVNNotificationImportMediaDidFinish " + target}));
    EXPECT_LT(sheet.summary().importedIds.size(), 40);
}

// A changed file gets a new thumbnail and date; a deleted one keeps what it had; both count.
TEST_P(SmartImportTest, RescanRefreshesChangedFilesAndKeepsMissingOnes)
{
    const QString category = db.addCategoryListEntry(QStringLiteral("Watched"), QStringLiteral("C"));
    OVNImportWorker::Settings s = settings();
    s.categoryId = category;
    const QString changed = writeJpeg(files.filePath(QStringLiteral("changed.jpg")), 1);
    const QString deleted = writeJpeg(files.filePath(QStringLiteral("deleted.jpg")), 2);
    OVNImportWorker importer([this] { return openAnother(); }, s);
    const QStringList ids = importer.run({changed, deleted}).importedIds;
    ASSERT_EQ(ids.size(), 2);
    const QByteArray before[] = {db.getThumbnailForMediaID(ids[0]), db.getThumbnailForMediaID(ids[1])};
    const QString deletedDate = db.getMediaListEntryForMediaID(ids[1], QStringLiteral("dts"));
    writeJpeg(changed, 99, QSize(200, 400));
    QFile::remove(deleted);

    QVariantList records;
    for (int i = 0; i < 2; ++i)
        records.append(
            QVariantMap{{QStringLiteral("mid"), ids[i]}, {QStringLiteral("absolutepath"), i == 0 ? changed : deleted}});
    OVNImportWorker rescanner([this] { return openAnother(); }, s);
    const OVNImportWorker::Summary summary = rescanner.reprocess(records);
    EXPECT_EQ(summary.processed, 2);
    EXPECT_EQ(summary.importedIds, QStringList{ids[0]});
    EXPECT_NE(db.getThumbnailForMediaID(ids[0]), before[0]);
    EXPECT_EQ(db.getThumbnailForMediaID(ids[1]), before[1]);
    EXPECT_EQ(db.getMediaListEntryForMediaID(ids[1], QStringLiteral("dts")), deletedDate);
}

// The server ends the writer's session once, in the middle of its work (a trigger ends its own
// session at the first row it names; the sequence counts outside the transaction that the end
// undoes): smart import, re-scan and the collection a tool makes at its start go on in a new
// session, with nothing lost and nothing twice. When the server does not let the writer in again,
// the server is blamed.
TEST_P(SmartImportTest, WritersGoOnAfterTheServerEndsTheirSession)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server has sessions to end";
    const QString card = files.filePath(QStringLiteral("cut"));
    for (int i = 0; i < 5; ++i)
        writeJpeg(QStringLiteral("%1/loose%2.jpg").arg(card).arg(i), i);
    for (int i = 0; i < 4; ++i) {
        writeJpeg(QStringLiteral("%1/first/f%2.jpg").arg(card).arg(i), 10 + i);
        writeJpeg(QStringLiteral("%1/second/s%2.jpg").arg(card).arg(i), 20 + i);
    }
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("create sequence cut_once")));
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral("create table cut_where (tablename text, name text)")));
    ASSERT_TRUE(db.runSQLCommand(QStringLiteral(
        "create function end_once() returns trigger as $body$ begin if exists (select 1 from cut_where where "
        "tablename = tg_table_name and name = new.displaytag) and nextval('cut_once') = 1 then perform "
        "pg_terminate_backend(pg_backend_pid()); end if; return new; end $body$ language plpgsql")))
        << qPrintable(db.getLastErrorMessage());
    for (const char *table : {"strvcategory", "strvfile"})
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("create trigger end_once before insert or update on %1 for each "
                                                    "row execute function end_once()")
                                         .arg(QLatin1String(table))));
    const auto cutAt = [&](const char *table, const char *name) {
        EXPECT_TRUE(db.runSQLCommand(QStringLiteral("delete from cut_where")));
        EXPECT_TRUE(db.runSQLCommand(QStringLiteral("insert into cut_where values ($1, $2)"),
                                     {QLatin1String(table), QLatin1String(name)}));
        EXPECT_TRUE(db.runSQLCommand(QStringLiteral("select setval('cut_once', 1, false)")));
    };
    const auto cutsLeft = [&] {
        return db.rowsForQuery(QStringLiteral("select case when is_called then 0 else 1 end from cut_once"))
                   .value(0)
                   .value(0)
                   .toInt()
               == 1;
    };

    // Smart import: the session ends as a collection is made, and as a file of a folder is stored.
    const struct {
        const char *name;
        const char *table;
        const char *row;
    } smartCases[] = {
        {"as the first folder's collection is made", "strvcategory", "first"},
        {"as a continued collection is made", "strvcategory", "cut-1"},
        {"while the first folder is filled", "strvfile", "f1.jpg"},
    };
    for (const auto &c : smartCases) {
        SCOPED_TRACE(c.name);
        db.runSQLCommand(QStringLiteral("delete from strvfile"));
        db.affectedRowsForQuery(QStringLiteral("delete from strvcategory where supermid=$1"), {folder});
        cutAt(c.table, c.row);
        OVNImportWorker worker([this] { return openAnother(); }, settings());
        const OVNImportWorker::Summary summary = worker.runSmart({card}, folder, 3);
        EXPECT_FALSE(cutsLeft());
        EXPECT_EQ(collectionsUnderFolder(),
                  (QStringList{"cut:3", "cut-1:2", "first:3", "first-1:1", "second:3", "second-1:1"}));
        EXPECT_EQ(summary.importedIds.size(), 13);
        EXPECT_TRUE(summary.failures.isEmpty()) << qPrintable(summary.failures.value(0).reason);
        EXPECT_TRUE(summary.abortMessage.isEmpty()) << qPrintable(summary.abortMessage);
    }

    // Re-scan: the session ends as an entry is changed; every entry is changed once all the same.
    {
        const QString category = db.addCategoryListEntry(QStringLiteral("Rescanned"), QStringLiteral("C"));
        OVNImportWorker::Settings s = settings();
        s.categoryId = category;
        QVariantList paths;
        for (int i = 0; i < 5; ++i)
            paths.append(QStringLiteral("%1/loose%2.jpg").arg(card).arg(i));
        OVNImportWorker importer([this] { return openAnother(); }, s);
        const QStringList ids = importer.run(paths).importedIds;
        ASSERT_EQ(ids.size(), 5);
        QVariantList records;
        for (int i = 0; i < 5; ++i) {
            writeJpeg(paths.at(i).toString(), 50 + i, QSize(100, 300));
            records.append(
                QVariantMap{{QStringLiteral("mid"), ids.at(i)}, {QStringLiteral("absolutepath"), paths.at(i)}});
        }
        cutAt("strvfile", "loose2.jpg");
        OVNImportWorker rescanner([this] { return openAnother(); }, s);
        const OVNImportWorker::Summary summary = rescanner.reprocess(records);
        EXPECT_FALSE(cutsLeft());
        EXPECT_EQ(summary.importedIds, ids);
        EXPECT_TRUE(summary.failures.isEmpty()) << qPrintable(summary.failures.value(0).reason);
        EXPECT_TRUE(summary.notImported.isEmpty());
        for (const QString &id : ids)
            EXPECT_GT(QImage::fromData(db.getThumbnailForMediaID(id)).height(),
                      QImage::fromData(db.getThumbnailForMediaID(id)).width());
    }

    // The collection a tool makes when it opens the catalog: made once through an ended session;
    // when the server lets nobody in any more, it is the server that is named.
    const struct {
        const char *name;
        bool serverAway;
    } openingCases[] = {{"Opened", false}, {"Away", true}};
    for (const auto &c : openingCases) {
        SCOPED_TRACE(c.name);
        cutAt("strvcategory", c.name);
        std::unique_ptr<OVNDatabaseAccess> tool = openAnother();
        if (c.serverAway) {
            ASSERT_TRUE(db.runSQLCommand(
                QStringLiteral("revoke connect on database %1 from public, current_user").arg(m_pgDatabase)));
        }
        QString error;
        const QString made = OVNCatalogSession::makeCategory(*tool, QLatin1String(c.name), QStringLiteral("C"),
                                                             QString(), 1, nullptr, nullptr, &error);
        if (c.serverAway) {
            ASSERT_TRUE(db.runSQLCommand(QStringLiteral("grant connect on database %1 to public").arg(m_pgDatabase)));
        }
        const int rows = db.affectedRowsForQuery(QStringLiteral("select mid from strvcategory where displaytag=$1"),
                                                 {QLatin1String(c.name)});
        EXPECT_EQ(made.isEmpty(), c.serverAway);
        EXPECT_EQ(rows, c.serverAway ? 0 : 1);
        if (c.serverAway) {
            EXPECT_EQ(error, QStringLiteral("The catalog server cannot be reached."));
        }
    }
}

// A record export in Mac OS Roman with a German header and CRLF lines: the good record is imported
// with its keywords and categories after the file's own; bad records are listed; bad files refused.
TEST_P(SmartImportTest, RecordExportImportsItsFilesAndListsTheRest)
{
    const QString roots = files.filePath(QStringLiteral("vols"));
    writeJpeg(roots + QStringLiteral("/Card/Shoots/Day 1/a.jpg"), 1);
    qputenv("OVN_VOLUME_ROOTS", (files.filePath(QStringLiteral("nothing")) + QLatin1Char(':') + roots).toUtf8());
    const auto exported = [](const QString &first, const QString &header, const QStringList &records) {
        const QString text = first + QStringLiteral("\r\nTab\tbefore\tdata\r\n") + header
                             + QStringLiteral("\r\nsrv\tCard\tShoots:Day 1:\ta.jpg\r\n%Data\r\n")
                             + records.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
        return *MacRoman::encode(text);
    };
    const QString german = QStringLiteral("Server-Name\tVolume-Name\tOrdnername\tAsset-Name\tSchlagwörter");
    const QStringList records{
        QStringLiteral("srv\tCard\tShoots:Day 1:\ta.jpg\tSonne\tUrlaub\t\tMeer"),
        QStringLiteral("srv\tCard"),
        QStringLiteral("srv\tCard\tShoots:..:\tb.jpg\t"),
        QStringLiteral("srv\tNoVolume\tShoots\tc.jpg\t"),
        QStringLiteral("srv\tCard\tShoots:Day 1\tgone.jpg\t"),
    };
    const OVNCumulusParser::Parsed parsed =
        OVNCumulusParser::parse(exported(OVNCumulusParser::identifier(), german, records));
    ASSERT_FALSE(parsed.refused()) << qPrintable(parsed.errorMessage);
    QStringList failed;
    for (const auto &failure : parsed.failed)
        failed.append(failure.path + QStringLiteral(": ") + failure.reason);
    EXPECT_EQ(failed, (QStringList{QStringLiteral("line 7: the record has 2 fields, the header 5"),
                                   QStringLiteral("Card/Shoots/../b.jpg: unsafe path"),
                                   files.filePath(QStringLiteral("nothing"))
                                       + QStringLiteral("/NoVolume/Shoots/c.jpg: the volume NoVolume is not mounted "
                                                        "(volumes are looked for in ")
                                       + files.filePath(QStringLiteral("nothing")) + QStringLiteral(", ") + roots
                                       + QStringLiteral("; OVN_VOLUME_ROOTS names other places)")}));
    ASSERT_EQ(parsed.items.size(), 2);
    EXPECT_EQ(parsed.items.at(0).toMap().value(QStringLiteral("PATH")).toString(),
              roots + QStringLiteral("/Card/Shoots/Day 1/a.jpg"));

    const QString category = db.addCategoryListEntry(QStringLiteral("Export"), QStringLiteral("C"));
    OVNImportWorker::Settings s = settings();
    s.categoryId = category;
    OVNImportWorker worker([this] { return openAnother(); }, s);
    const OVNImportWorker::Summary summary = worker.run(parsed.items);
    ASSERT_EQ(summary.importedIds.size(), 1);
    EXPECT_EQ(summary.notImported, QStringList{roots + QStringLiteral("/Card/Shoots/Day 1/gone.jpg")});
    EXPECT_TRUE(db.getMediaListEntryForMediaID(summary.importedIds.at(0), QStringLiteral("keywords"))
                    .endsWith(QStringLiteral("Sonne")));
    EXPECT_TRUE(db.getMediaListEntryForMediaID(summary.importedIds.at(0), QStringLiteral("shortdesc"))
                    .endsWith(QStringLiteral("Urlaub\nMeer\n")));

    const QString noAsset = QStringLiteral("Volume Name\tFolder Name\tNotes");
    for (const auto &[first, header, title] : {std::tuple{QStringLiteral("v5.0 Canto(r) Cumulus(r) Record Exporx"),
                                                          german, QStringLiteral("Format not recognized")},
                                               std::tuple{OVNCumulusParser::identifier(), noAsset,
                                                          QStringLiteral("The record export cannot be imported")}}) {
        const OVNCumulusParser::Parsed refused = OVNCumulusParser::parse(exported(first, header, records));
        EXPECT_EQ(refused.errorTitle, title);
        EXPECT_TRUE(refused.items.isEmpty() && refused.failed.isEmpty());
    }
    qunsetenv("OVN_VOLUME_ROOTS");
}

OVN_CATALOG_VENDORS(SmartImportTest);
