#include "tests/support/TestEnvironment.h"
#include "CatalogWindowFixture.h"
#include "../support/RefusingTrigger.h"
#include "../support/ScriptedAlertPresenter.h"

#include "app/OVNCategoryMaintenance.h"
#include "app/OVNCategoryTreeModel.h"
#include "formats/OVNHelper.h"
#include "import/OVNImportHelper.h"
#include "import/OVNImportMedia.h"
#include "platform/FileAccess.h"

#include "uikit/OVNPopUpButtonFooter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <ctime>
#include <functional>
#include <future>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace OVNCategoryMaintenance;

// Sets the process's time zone for the length of a scope.
class ZoneScope
{
public:
    explicit ZoneScope(const char *zone) : m_old(qgetenv("TZ")), m_had(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneScope()
    {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray m_old;
    bool m_had;
};

QDateTime utc(const char *text)
{
    QDateTime time = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    time.setTimeSpec(Qt::UTC);
    return time;
}

// Everything that goes needs "FULL ACCESS"; the root's own level was checked before.
TEST(CategoryMaintenanceTest, TheFirstCategoryBelowTheRootWithoutFullAccessStopsADeletion)
{
    const Category root{"root", "F", "Top", "READ ONLY"};
    const Category full{"a", "C", "Shots", "FULL ACCESS"};
    const Category readWrite{"b", "C", "Picks", "READ & WRITE"};
    const Category none{"c", "S", "Set", "NO ACCESS"};
    const struct {
        QList<Category> bottomUp;
        const char *refused; // "" when all may go
    } cases[] = {
        {{root}, ""},
        {{full, root}, ""},
        {{full, readWrite, none, root}, "b"},
        {{none, readWrite, root}, "c"},
    };
    for (const auto &c : cases) {
        const std::optional<Category> refused = firstUndeletable(c.bottomUp, root.mid);
        EXPECT_EQ(refused ? refused->mid : QString(), QString::fromLatin1(c.refused)) << c.bottomUp.size();
    }
}

// A surveillance folder on a volume that stops answering: the listing given up on says it is
// incomplete (so that its files are not taken for deleted ones), whichever folder stalled.
TEST(CategoryMaintenanceTest, AFolderListingThatStallsIsIncomplete)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("watched"));
    for (const char *file : {"a.jpg", "sub/b.jpg"}) {
        const QString path = root + QLatin1Char('/') + QLatin1String(file);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile(path).open(QIODevice::WriteOnly);
    }
    const std::chrono::milliseconds limit = OVNImportHelper::decodeTimeLimit();
    OVNImportHelper::setDecodeTimeLimit(std::chrono::milliseconds(500));
    // Held until the test's end, as a mount that stopped answering holds its callers.
    const auto stall = std::make_shared<std::promise<void>>();
    const std::shared_future<void> released = stall->get_future().share();
    const struct {
        const char *name;
        const char *stalls; // the folder whose listing stalls; none: all answer
        bool complete;
        QStringList files;
    } cases[] = {
        {"every folder answers", nullptr, true, {root + "/a.jpg", root + "/sub/b.jpg"}},
        {"a sub-folder stalls", "/sub", false, {root + "/a.jpg"}},
        {"the folder itself stalls", "/watched", false, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString stalls = c.stalls ? QLatin1String(c.stalls) : QString();
        OVNHelper::setFolderReader([stalls, released](const QString &folder, QStringList *undecodable, QString *why) {
            if (!stalls.isEmpty() && folder.endsWith(stalls))
                released.wait();
            return FileAccess::folderEntries(folder, undecodable, why);
        });
        FolderListing listing = folderFiles(root);
        listing.files.sort();
        EXPECT_EQ(listing.complete, c.complete);
        EXPECT_EQ(listing.files, c.files);
        EXPECT_EQ(listing.modified.size(), listing.files.size());
    }
    stall->set_value();
    OVNHelper::setFolderReader({});
    OVNImportHelper::setDecodeTimeLimit(limit);
}

TEST(CategoryMaintenanceTest, ImportDatesAreReadInTheirOwnSeasonAndFilesCompareInWholeSeconds)
{
    const struct {
        const char *zone;
        const char *dts;
        const char *modifiedUtc;
        bool changed;
    } cases[] = {
        // Summer in a zone whose offset today is the winter one: a wrong offset is an hour off.
        {"Europe/Berlin", "2026-07-15 12:00:00", "2026-07-15T10:30:00", true},
        {"Europe/Berlin", "2026-07-15 12:00:00", "2026-07-15T09:30:00", false},
        {"Europe/Berlin", "2026-01-15 12:00:00", "2026-01-15T11:30:00", true},
        {"Europe/Berlin", "2026-01-15 12:00:00", "2026-01-15T10:30:00", false},
        {"Asia/Kolkata", "2026-01-15 12:00:00", "2026-01-15T06:30:01", true},
        {"Asia/Kolkata", "2026-01-15 12:00:00", "2026-01-15T06:29:59", false},
        {"America/New_York", "2026-01-15 12:00:00", "2026-01-15T17:00:01", true},
        {"America/New_York", "2026-01-15 12:00:00", "2026-01-15T16:59:59", false},
        // A stored zone wins over the local one; equal is unchanged; a fraction is cut to seconds.
        {"Europe/Berlin", "2026-01-15 12:00:00 +0530", "2026-01-15T06:30:01", true},
        {"Europe/Berlin", "2026-01-15 12:00:00 -0500", "2026-01-15T17:00:00", false},
        {"Europe/Berlin", "2026-07-15 12:00:00.750", "2026-07-15T10:00:00", false},
        {"Europe/Berlin", "2026-07-15 12:00:00.750", "2026-07-15T10:00:01", true},
        // What does not parse is no reason to do anything.
        {"Europe/Berlin", "yesterday", "2030-01-01T00:00:00", false},
        {"Europe/Berlin", "2026-02-30 12:00:00", "2030-01-01T00:00:00", false},
        {"Europe/Berlin", "", "2030-01-01T00:00:00", false},
    };
    for (const auto &test : cases) {
        const ZoneScope zone(test.zone);
        const QList<Record> records = {
            {QStringLiteral("m1"), QStringLiteral("/w/a.jpg"), QString::fromLatin1(test.dts)}};
        const RescanPlan plan =
            planRescan({QStringLiteral("/w/a.jpg")}, {utc(test.modifiedUtc).toSecsSinceEpoch()}, records);
        EXPECT_EQ(plan.changed.size(), test.changed ? 1 : 0) << test.zone << " " << test.dts << " " << test.modifiedUtc;
        EXPECT_TRUE(plan.newFiles.isEmpty());
        EXPECT_TRUE(plan.missing.isEmpty());
    }

    // New and missing by exact path; the first record of a path counts.
    const QList<Record> records = {{"a1", "/w/a.jpg", "2026-01-01 00:00:00"},
                                   {"a2", "/w/a.jpg", "2026-01-01 00:00:00"},
                                   {"b", "/w/B.jpg", "2026-01-01 00:00:00"}};
    const qint64 later = utc("2030-01-01T00:00:00").toSecsSinceEpoch();
    const RescanPlan plan = planRescan({"/w/a.jpg", "/w/b.jpg"}, {later, later}, records);
    EXPECT_EQ(plan.newFiles, QStringList{"/w/b.jpg"});
    ASSERT_EQ(plan.missing.size(), 1);
    EXPECT_EQ(plan.missing.first().mid, "b");
    ASSERT_EQ(plan.changed.size(), 1);
    EXPECT_EQ(plan.changed.first().mid, "a1");

    // A comment that is no property list names no folder.
    EXPECT_EQ(watchedFolder("{ SURVEILLANCEFOLDER = \"/srv/shots\"; }"), "/srv/shots");
    EXPECT_EQ(watchedFolder("<not a plist"), QString());
    EXPECT_EQ(watchedFolderState("/no/such/folder"), FolderState::Missing);
    EXPECT_EQ(watchedFolderState("/etc/hostname"), FolderState::NotAFolder);
}

class CategoryMaintenanceCatalogTest : public CatalogWindowFixture
{
protected:
    void TearDown() override
    {
        closeWindows();
        CatalogWindowFixture::TearDown();
    }

    qint64 count(const QString &sql)
    {
        const QList<OVNRow> rows = db.rowsForQuery(sql);
        return rows.isEmpty() ? -1 : rows.first().value(0).toLongLong();
    }

    // Rows per table, to see that a refused deletion left everything as it was.
    QList<qint64> tableCounts()
    {
        QList<qint64> counts;
        for (const char *table : {"strvcategory", "strvfile", "strvset", "strvexif", "strvpurchased", "strvsold"})
            counts.append(count(QStringLiteral("select count(*) from %1").arg(QLatin1String(table))));
        return counts;
    }

    void addRows(const QString &mid)
    {
        ASSERT_TRUE(db.setExifForMediaID(mid, {{QStringLiteral("Make"), QStringLiteral("Test")}}));
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("insert into strvpurchased (mid) values ($1)"), {mid}));
        ASSERT_TRUE(db.runSQLCommand(QStringLiteral("insert into strvsold (mid) values ($1)"), {mid}));
    }

    static void writeImage(const QString &path, Qt::GlobalColor color)
    {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(color);
        ASSERT_TRUE(image.save(path, "JPG"));
    }

    static void waitForImports(OVNAssetManager *window)
    {
        EXPECT_TRUE(
            QTest::qWaitFor([window] { return window->findChildren<OVNImportMedia *>().isEmpty(); }, waitCeilingMs));
    }
};

TEST_P(CategoryMaintenanceCatalogTest, DeletingAFolderRemovesItsWholeSubtreeInOneTransaction)
{
    // Top (F) > Middle (F) > Bottom (F) > Deep (C); Top > Shots (C), Watched (M), Picks (S);
    // outside: Keep (C) and Favourites (S), which links entries from inside and outside.
    for (const bool refused : {true, false}) {
        SCOPED_TRACE(refused ? "refused" : "done");
        const QString top = category("Top", "F");
        const QString middle = category("Middle", "F", top);
        const QString bottom = category("Bottom", "F", middle);
        const QString deep = category("Deep", "C", bottom);
        const QString shots = category("Shots", "C", top);
        const QString watched = category("Watched", "M", top);
        const QString picks = category("Picks", "S", top);
        const QString keep = category("Keep", "C");
        const QString favourites = category("Favourites", "S");
        const QString deepEntry = entry(deep, "deep.jpg");
        const QString shot = entry(shots, "shot.jpg");
        entry(watched, "watched.jpg");
        const QString kept = entry(keep, "kept.jpg");
        addRows(deepEntry);
        addRows(kept);
        ASSERT_FALSE(db.addEntryToImageSet(shot, favourites).isEmpty());
        ASSERT_FALSE(db.addEntryToImageSet(kept, favourites).isEmpty());
        ASSERT_FALSE(db.addEntryToImageSet(kept, picks).isEmpty());
        if (refused) {
            ASSERT_TRUE(addRefusingTrigger(db, "strvcategory", "delete", "old.displaytag = 'Middle'"));
        }
        const QList<qint64> before = tableCounts();

        QString error;
        const QList<Category> order = subtreeBottomUp(db, {top, "F", "Top", "FULL ACCESS"});
        ASSERT_EQ(order.size(), 7);
        EXPECT_EQ(order.first().mid, deep);
        EXPECT_EQ(order.last().mid, top);
        EXPECT_EQ(deleteCategories(db, order, &error), !refused);
        if (refused) {
            EXPECT_FALSE(error.isEmpty());
            EXPECT_EQ(tableCounts(), before);
            db.runSQLCommand(isPostgres() ? "drop trigger refuse_strvcategory_delete on strvcategory"
                                          : "drop trigger refuse_strvcategory_delete");
            ASSERT_TRUE(deleteCategories(db, order, &error)) << qPrintable(error);
        }
        // Left: Keep, Favourites, the kept entry with its rows, and its one membership.
        EXPECT_EQ(count("select count(*) from strvcategory"), 2);
        EXPECT_EQ(count("select count(*) from strvfile"), 1);
        EXPECT_EQ(count("select count(*) from strvexif"), 1);
        EXPECT_EQ(count("select count(*) from strvpurchased"), 1);
        EXPECT_EQ(count("select count(*) from strvsold"), 1);
        EXPECT_EQ(db.rowsForQuery("select categorymid, filemid from strvset"), (QList<OVNRow>{{favourites, kept}}));
        ASSERT_TRUE(deleteCategories(db, {{keep, "C", "Keep", ""}, {favourites, "S", "Favourites", ""}}, &error));
        ASSERT_EQ(tableCounts(), (QList<qint64>{0, 0, 0, 0, 0, 0}));
    }
}

TEST_P(CategoryMaintenanceCatalogTest, TheWindowDeletesAfterAskingAndOtherWindowsLetGo)
{
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    const QString folder = category("Folder", "F");
    const QString inside = category("Inside", "C", folder);
    entry(inside, "a.jpg");
    OVNAssetManager *window = loadWindow();
    OVNAssetManager *other = loadWindow();
    ASSERT_TRUE(other->selectCategory(inside));
    ASSERT_TRUE(window->selectCategory(folder));
    QSignalSpy finished(window, &OVNAssetManager::deletionFinished);
    alerts->enqueueAnswers({1}); // Cancel
    window->buttonDeleteCatalogClick();
    EXPECT_EQ(finished.size(), 0);
    EXPECT_EQ(db.getEntryCountForCategory(folder, "F"), 1);
    alerts->enqueueAnswers({0}); // Delete
    window->buttonDeleteCatalogClick();
    EXPECT_TRUE(window->isMaintenanceRunning());
    ASSERT_TRUE(finished.wait(waitCeilingMs));
    EXPECT_EQ(finished.first().first().toString(), QString());
    EXPECT_FALSE(db.getCategoryForMID(folder).has_value());
    EXPECT_FALSE(window->categoryModel()->itemForMid(folder));
    EXPECT_FALSE(other->categoryModel()->itemForMid(inside));
    EXPECT_FALSE(other->selectedCategory().has_value());
}

TEST_P(CategoryMaintenanceCatalogTest, ReScanRemovesImportsAndReprocessesAndRefusesAMissingFolder)
{
    ScriptedAlertPresenter::install();
    QTemporaryDir disk;
    const QString shots = disk.filePath("Shots");
    ASSERT_TRUE(QDir().mkpath(shots + "/sub"));
    // Files from two hours ago, catalogued an hour ago.
    const QDateTime now = QDateTime::currentDateTime();
    for (const char *name : {"gone.jpg", "same.jpg", "sub/touched.jpg"}) {
        writeImage(shots + "/" + name, Qt::red);
        QFile file(shots + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(now.addSecs(-7200), QFileDevice::FileModificationTime));
    }
    OVNAssetManager *window = loadWindow();
    const QString mid = window->categoryActions().addSurveillanceFolder(shots);
    ASSERT_FALSE(mid.isEmpty());
    waitForImports(window);
    EXPECT_EQ(watchedFolder(db.getCategoryForMID(mid)->value("comment").toString()), QDir::cleanPath(shots));
    ASSERT_EQ(db.getEntryCountForCategory(mid, "M"), 3);
    for (const QString &entryId : db.getMediaMIDListForCategory(mid))
        ASSERT_TRUE(db.updateMediaListEntry(entryId, "dts", OVNDatabaseAccess::timestampText(now.addSecs(-3600))));

    QFile::remove(shots + "/gone.jpg");
    writeImage(shots + "/new.jpg", Qt::blue);
    QFile touched(shots + "/sub/touched.jpg");
    ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
    ASSERT_TRUE(touched.setFileTime(now, QFileDevice::FileModificationTime));
    touched.close();

    QSignalSpy finished(window, &OVNAssetManager::rescanFinished);
    ASSERT_TRUE(window->categoryActions().rescanSurveillanceFolder(*db.getCategoryForMID(mid)));
    ASSERT_TRUE(finished.wait(waitCeilingMs));
    EXPECT_EQ(finished.first(), (QVariantList{1, 1, 1, QString()}));
    waitForImports(window);
    QStringList names;
    for (const OVNRow &row : db.rowsForQuery("select absolutepath from strvfile order by absolutepath"))
        names.append(QFileInfo(row.value(0).toString()).fileName());
    EXPECT_EQ(names, (QStringList{"new.jpg", "same.jpg", "touched.jpg"}));

    // Nothing changed now: a second run finds nothing to do.
    finished.clear();
    ASSERT_TRUE(window->categoryActions().rescanSurveillanceFolder(*db.getCategoryForMID(mid)));
    ASSERT_TRUE(finished.wait(waitCeilingMs));
    EXPECT_EQ(finished.first(), (QVariantList{0, 0, 0, QString()}));

    // Re-importing an entry reads its file again: a new import date.
    const QString same =
        db.rowsForQuery("select mid from strvfile where absolutepath like '%same.jpg'").value(0).value(0).toString();
    ASSERT_TRUE(db.updateMediaListEntry(same, "dts", OVNDatabaseAccess::timestampText(now.addSecs(-3600))));
    window->categoryActions().reimport({same}, mid);
    waitForImports(window);
    EXPECT_TRUE(importDate(db.getMediaListEntryForMediaID(same, "dts"))->secsTo(now) < 600);

    // Moved away (as on a volume that is not mounted): refused, nothing removed.
    ASSERT_TRUE(QDir().rename(shots, disk.filePath("Elsewhere")));
    finished.clear();
    EXPECT_FALSE(window->categoryActions().rescanSurveillanceFolder(*db.getCategoryForMID(mid)));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(finished.first().at(3).toString().isEmpty());
    EXPECT_EQ(db.getEntryCountForCategory(mid, "M"), 3);

    // An empty folder in its place (a mount point without its volume) asks first; keeping is the default.
    ASSERT_TRUE(QDir().mkpath(shots));
    finished.clear();
    ASSERT_TRUE(window->categoryActions().rescanSurveillanceFolder(*db.getCategoryForMID(mid)));
    ASSERT_TRUE(finished.wait(waitCeilingMs));
    EXPECT_FALSE(finished.first().at(3).toString().isEmpty());
    EXPECT_EQ(db.getEntryCountForCategory(mid, "M"), 3);
}

TEST_P(CategoryMaintenanceCatalogTest, NewCategoriesAreUntitledAtTheTopLevelAndARefusedInsertIsShown)
{
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    const QString folder = category("Folder", "F");
    OVNAssetManager *window = loadWindow();
    ASSERT_TRUE(window->selectCategory(folder));
    using Actions = OVNCatalogWindowCategoryActions;
    const struct {
        std::function<QString(Actions &)> add;
        const char *kind;
    } cases[] = {{[](Actions &a) { return a.buttonAddFolderClick(); }, "F"},
                 {[](Actions &a) { return a.buttonAddCatalogClick(); }, "C"},
                 {[](Actions &a) { return a.buttonAddImageSetClick(); }, "S"}};
    for (const auto &test : cases) {
        const QString mid = test.add(window->categoryActions());
        ASSERT_FALSE(mid.isEmpty()) << test.kind;
        const QList<OVNRow> rows =
            db.rowsForQuery("select displaytag, type, supermid from strvcategory where mid=$1", {mid});
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows.first().value(0).toString(), "untitled");
        EXPECT_EQ(rows.first().value(1).toString(), test.kind);
        EXPECT_TRUE(rows.first().value(2).toString().isEmpty());
        EXPECT_TRUE(window->categoryModel()->itemForMid(mid)) << test.kind;
    }
    EXPECT_TRUE(alerts->shown().isEmpty());

    // The category menu: the window's items, those whose work is not built yet disabled.
    ASSERT_TRUE(window->selectCategory(folder));
    QStringList items;
    const std::unique_ptr<QMenu> menu = window->categoryActions().menuForContextButton(nullptr);
    for (const QAction *item : menu->actions())
        if (!item->isSeparator())
            items.append(item->text() + (item->isEnabled() ? " +" : " -"));
    EXPECT_EQ(items, (QStringList{"Reload Database +", "Rename... +", "Delete... +", "Smart Add... +", "New Folder +",
                                  "New Collection +", "New Category Set +", "New Surveillance Folder... +",
                                  "New Smart Folder... +", "Access Privileges... +"}));
    // Its first item is the View menu's reload of the category list.
    QSignalSpy reloads(window->action(OVNCatalogActions::Action::ReloadCatalogList), &QAction::triggered);
    menu->actions().first()->trigger();
    EXPECT_EQ(reloads.count(), 1);
    // The footer's pop-up button pulls down the same menu, fetched as it is pressed, under its
    // title item "Action", which is not offered.
    auto *footer = window->findChild<OVNPopUpButtonFooter *>();
    ASSERT_TRUE(footer);
    QTest::mousePress(footer, Qt::LeftButton);
    ASSERT_TRUE(footer->popUpMenu());
    QStringList pulled;
    for (const QAction *item : footer->popUpMenu()->actions())
        if (!item->isSeparator())
            pulled.append(item->text() + (item->isVisible() ? "" : " (title)"));
    footer->popUpMenu()->hide();
    EXPECT_EQ(pulled.mid(0, 3), (QStringList{"Action (title)", "Reload Database", "Rename..."}));
    EXPECT_EQ(pulled.size(), items.size() + 1);

    ASSERT_TRUE(addRefusingTrigger(db, "strvcategory", "insert", "new.type = 'M'"));
    QTemporaryDir disk;
    EXPECT_TRUE(window->categoryActions().addSurveillanceFolder(disk.path()).isEmpty());
    EXPECT_TRUE(window->categoryActions().addSurveillanceFolder(disk.filePath("missing")).isEmpty());
    EXPECT_EQ(alerts->shown().size(), 2);
    EXPECT_EQ(count("select count(*) from strvcategory where type = 'M'"), 0);
}

OVN_CATALOG_VENDORS(CategoryMaintenanceCatalogTest);

} // namespace

// A surveillance folder's re-scan takes in its new files as an import does: a link at the first, a
// middle or the last element below the watched folder is followed when it is this account's, and
// another account's link there does not bring the user's private picture into the catalog.
// A watched folder whose path became another account's link (to the user's private folder, holding
// nothing the catalog knows) is named as such, before the listing and after it, and nothing is
// offered for removal.
TEST_P(CategoryMaintenanceCatalogTest, AWatchedFolderThatBecameAnotherAccountsLinkIsNamedAndNothingIsOffered)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can lay links that another account owns";
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    constexpr uid_t stranger = 65534;
    QTemporaryDir disk;
    const QString shots = disk.filePath("Shots");
    ASSERT_TRUE(QDir().mkpath(shots));
    writeImage(shots + "/one.jpg", Qt::red);
    writeImage(shots + "/two.jpg", Qt::red);
    OVNAssetManager *window = loadWindow();
    const QString mid = window->categoryActions().addSurveillanceFolder(shots);
    ASSERT_FALSE(mid.isEmpty());
    waitForImports(window);
    ASSERT_EQ(db.getEntryCountForCategory(mid, "M"), 2);

    ASSERT_TRUE(QDir().rename(shots, disk.filePath("Elsewhere")));
    ASSERT_TRUE(QDir().mkpath(disk.filePath("private")));
    const QByteArray link = QFile::encodeName(shots);
    ASSERT_EQ(::symlink(QFile::encodeName(disk.filePath("private")).constData(), link.constData()), 0);
    ASSERT_EQ(::lchown(link.constData(), stranger, ~gid_t(0)), 0);
    EXPECT_EQ(watchedFolderState(shots), FolderState::ForeignLink);
    // Listed after the check let it pass (laid between the two): not taken for an empty folder.
    const FolderListing listing = folderFiles(shots);
    EXPECT_EQ(listing.state, FolderState::ForeignLink);

    QSignalSpy finished(window, &OVNAssetManager::rescanFinished);
    EXPECT_FALSE(window->categoryActions().rescanSurveillanceFolder(*db.getCategoryForMID(mid)));
    ASSERT_EQ(finished.size(), 1);
    const QString said = finished.first().at(3).toString();
    EXPECT_TRUE(said.contains("belongs to another user") && said.contains(shots)) << qPrintable(said);
    for (const Alert &alert : alerts->shown()) {
        EXPECT_FALSE(alert.informativeText.contains("from the catalog")) << qPrintable(alert.informativeText);
    }
    EXPECT_EQ(db.getEntryCountForCategory(mid, "M"), 2);
}

TEST_P(CategoryMaintenanceCatalogTest, ASurveillanceReScanFollowsNoOtherAccountsLink)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can lay links that another account owns";
    ScriptedAlertPresenter::install();
    constexpr uid_t stranger = 65534;
    const struct {
        const char *name;
        const char *link;   // below the watched folder
        const char *target; // below the private folder
        uid_t owner;
    } cases[] = {
        {"my link first", "a", "a", ::geteuid()},
        {"his link first", "a", "a", stranger},
        {"his link in the middle", "a/b", "a/b", stranger},
        {"my link last", "a/b/new.jpg", "a/b/new.jpg", ::geteuid()},
        {"his link last", "a/b/new.jpg", "a/b/new.jpg", stranger},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir disk;
        const QString shots = disk.filePath("Shots");
        const QString privateFolder = disk.filePath("private");
        ASSERT_TRUE(QDir().mkpath(shots + "/a/b") && QDir().mkpath(privateFolder + "/a/b"));
        for (const QString &folder : {shots, shots + "/a", shots + "/a/b"}) {
            ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 01777), 0);
        }
        writeImage(shots + "/a/b/old.jpg", Qt::red);
        // The private picture is smaller than the others: its width tells it in the catalog.
        QImage secret(32, 16, QImage::Format_RGB32);
        secret.fill(Qt::blue);
        ASSERT_TRUE(secret.save(privateFolder + "/a/b/new.jpg", "JPG"));
        ASSERT_EQ(::chmod(QFile::encodeName(privateFolder).constData(), 0700), 0);
        OVNAssetManager *window = loadWindow();
        const QString mid = window->categoryActions().addSurveillanceFolder(shots);
        ASSERT_FALSE(mid.isEmpty());
        waitForImports(window);

        const QString link = shots + "/" + c.link;
        if (QFileInfo(link).isDir()) {
            ASSERT_TRUE(QDir(link).removeRecursively());
        }
        const QByteArray linkName = QFile::encodeName(link);
        ASSERT_EQ(::symlink(QFile::encodeName(privateFolder + "/" + c.target).constData(), linkName.constData()), 0);
        ASSERT_EQ(::lchown(linkName.constData(), c.owner, ~gid_t(0)), 0);
        const qint64 before = count("select count(*) from strvfile where imagewidth = 32");
        QSignalSpy finished(window, &OVNAssetManager::rescanFinished);
        ASSERT_TRUE(window->categoryActions().rescanSurveillanceFolder(*db.getCategoryForMID(mid)));
        ASSERT_TRUE(finished.wait(waitCeilingMs));
        waitForImports(window);
        EXPECT_EQ(count("select count(*) from strvfile where imagewidth = 32") - before, c.owner == stranger ? 0 : 1);
        closeWindows();
    }
}
