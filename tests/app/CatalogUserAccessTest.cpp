// A server catalog with users, as two people share it: privileges that an administrator changes
// while a member's window stays open count at once for every category action, an account that is
// no catalog user (or in no group) is refused at start-up, and a server that goes away never
// passes for a refusal, an empty collection or a saved change.

#include "CatalogWindowFixture.h"
#include "StartupFakes.h"

#include "app/OVNAccessPrivileges.h"
#include "app/OVNAnnotationWrites.h"
#include "app/OVNEntryEdits.h"
#include "app/OVNSmartFolders.h"
#include "catalogdb/OVNCatalogLogin.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNCategoryAccess.h"
#include "app/OVNCategoryTreeModel.h"
#include "app/OVNConnectionFactory.h"
#include "app/OVNDocumentController.h"
#include "app/OVNExpressOpening.h"
#include "app/OVNOutlineView.h"
#include "app/OVNPrivilegeListEditor.h"
#include "app/OVNSmartFolderSearch.h"
#include "app/OVNCategoryComment.h"
#include "browser/OVNMediaDetails.h"
#include "browser/OVNMediaPasteboard.h"
#include "output/OVNDiscBurnerSheet.h"
#include "output/OVNExportImages.h"
#include "output/OVNOutputSheets.h"
#include "output/OVNSendImagesAsMail.h"
#include "import/OVNImportMedia.h"
#include "platform/PropertyList.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"
#include "viewers/OVNCoreImageAdjustWindow.h"
#include "viewers/OVNCoreImageView.h"
#include "viewers/OVNFullScreenWindow.h"
#include "viewers/OVNImageViewer.h"
#include "viewers/OVNMediaViewer.h"
#include "search/OVNExpressPanel.h"
#include "viewers/OVNLightTable.h"
#include "viewers/OVNSlideShow.h"
#include "browser/OVNMediaRollView.h"
#include "platform/Workspace.h"
#include "../support/SessionCutProxy.h"
#include "../support/TestEnvironment.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDesktopServices>
#include <QDirIterator>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QMimeData>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// The folders the desktop is asked to open (Reveal in File Manager without a file manager on the
// session bus opens the files' folders).
class FolderRecorder : public QObject
{
    Q_OBJECT
public:
    QStringList names() const
    {
        QStringList names;
        for (const QUrl &url : opened)
            names.append(QFileInfo(url.toLocalFile()).fileName());
        names.sort();
        return names;
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

const QString full = QStringLiteral("FULL ACCESS");
const QString readWrite = QStringLiteral("READ & WRITE");
const QString readOnly = QStringLiteral("READ ONLY");

class CatalogUserAccessTest : public CatalogWindowFixture
{
public:
    void SetUp() override
    {
        if (!setUpWithAlerts())
            return;
        ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
        shelf = category("Shelf", "F");
        trip = category("Trip", "C", shelf);
        loose = category("Loose", "C");
        watched = category("Watched", "M");
        QDir().mkpath(m_dir.filePath("watched"));
        ASSERT_TRUE(db.updateCategoryListComment(
            watched, OVNCategoryComment::textForm({{"SURVEILLANCEFOLDER", m_dir.filePath("watched")}})));
        tripEntry = entry(trip, "t1");
        picture = m_dir.filePath("new.jpg");
        ASSERT_TRUE(QImage(QSize(8, 8), QImage::Format_RGB32).save(picture, "JPEG"));
    }
    void TearDown() override
    {
        letIn();
        tearDownWithAlerts();
        for (const char *key : {"LightTableShowThumbnails", "MailCommand", "ExportSettings", "AdjustExportSettings"})
            UserDefaults::standard().removeObjectForKey(QString::fromLatin1(key));
    }

    void grantAll(const char *level)
    {
        for (const QString &mid : {shelf, trip, loose, watched})
            ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, mid, staff, level));
    }
    // A window as Ann, with the tree loaded and the category selected.
    OVNAssetManager *annsWindow(const QString &selected = QString())
    {
        auto connection = std::shared_ptr<OVNDatabaseAccess>(openAnother());
        signInAsAnn(*connection);
        OVNAssetManager *window = loadWindow(connection);
        if (!selected.isEmpty()) {
            EXPECT_TRUE(window->selectCategory(selected));
        }
        return window;
    }
    std::optional<CategoryNode> node(OVNAssetManager *window, const QString &mid)
    {
        const OVNCategoryTreeModel::Item *item = window->categoryModel()->itemForMid(mid);
        return item ? std::optional<CategoryNode>(item->node) : std::nullopt;
    }
    QModelIndex rowOf(OVNAssetManager *window, const QString &mid)
    {
        return window->categoryModel()->indexForItem(window->categoryModel()->itemForMid(mid), 0);
    }
    // What a category action could change: names, places, comments and entries of the catalog.
    QStringList catalogState()
    {
        QStringList state;
        for (const OVNRow &row : db.rowsForQuery("select mid, displaytag, coalesce(supermid, ''), coalesce(comment, "
                                                 "'') from strvcategory order by mid"))
            state.append(row.value(0).toString() + '|' + row.value(1).toString() + '|' + row.value(2).toString() + '|'
                         + row.value(3).toString());
        for (const OVNRow &row : db.rowsForQuery("select mid, categoryid from strvfile order by mid"))
            state.append(row.value(0).toString() + '>' + row.value(1).toString());
        return state;
    }
    QStringList alertTitles() const
    {
        QStringList titles;
        for (const Alert &alert : presenter->shown())
            titles.append(alert.message);
        return titles;
    }
    QString lastAlertText() const
    {
        const QList<Alert> shown = presenter->shown();
        return shown.isEmpty() ? QString() : shown.last().message + '\n' + shown.last().informativeText;
    }

    // The server goes away for every session but the administrator's: sessions end, new ones
    // are turned away until letIn().
    void takeServerAway()
    {
        ASSERT_TRUE(db.runSQLCommand(
            QStringLiteral("revoke connect on database %1 from public, current_user").arg(m_pgDatabase)));
        ASSERT_GE(db.affectedRowsForQuery("select pg_terminate_backend(pid) from pg_stat_activity "
                                          "where datname=$1 and pid<>pg_backend_pid()",
                                          {m_pgDatabase}),
                  1);
        away = true;
    }
    void letIn()
    {
        if (away)
            db.runSQLCommand(QStringLiteral("grant connect on database %1 to public").arg(m_pgDatabase));
        away = false;
    }

    // Ann out of every group, as an administrator takes her out.
    void leaveEveryGroup()
    {
        ASSERT_TRUE(db.runSQLCommand("delete from strvgroupusers where usermid=$1",
                                     {db.getUserForLogin("ann").value("mid").toString()}));
    }
    // Ann back in Staff alone.
    void backInStaff()
    {
        ASSERT_NO_FATAL_FAILURE(leaveEveryGroup());
        ASSERT_FALSE(db.addUserToGroup(db.getUserForLogin("ann").value("mid").toString(), staff).isEmpty());
    }
    // The entry selected alone in the window (the collection shown first).
    void selectEntry(OVNAssetManager *window, const QString &category, const QString &mid)
    {
        ASSERT_TRUE(window->selectCategory(category));
        window->mediaView()->selectImage(window->mediaView()->rowForMid(mid));
        window->mediaView()->notifySelectionDidChange();
    }
    // Typed into the field while the server is away, ended with Return: kept, not saved.
    void typeDuringAnOutage(OVNAssetManager *window, QLineEdit *field, const char *text)
    {
        ASSERT_NO_FATAL_FAILURE(takeServerAway());
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
        ASSERT_EQ(window->mediaDetails()->unsavedField(), field);
        letIn();
    }

    // A picture entry whose file holds its name past the picture's end, so that any copy of the
    // file, and any page or list naming it, shows where it went. Its id.
    QString markedEntry(const QString &categoryId, const char *name)
    {
        // A folder of its own, so that a file manager shown it names the entry.
        const QString path = m_dir.filePath(QStringLiteral("pictures/%1/%1.jpg").arg(QLatin1String(name)));
        QDir().mkpath(QFileInfo(path).path());
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(jpegBytes(image) + name) > 0);
        QVariantMap record = importRecord(categoryId, QString::fromLatin1(name));
        record.insert("absolutepath", path);
        record.insert("Orientation", 1);
        const QString mid = db.addMediaListEntry(record);
        EXPECT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
        return mid;
    }
    // "tripsecret" in Secret and "loosefine" in Beside, two collections of the folder Desk.
    void twoMarkedEntries()
    {
        desk = category("Desk", "F");
        secret = category("Secret", "C", desk);
        markedEntry(secret, "tripsecret");
        markedEntry(category("Beside", "C", desk), "loosefine");
    }
    // Ann's window on Desk, showing both entries, both selected.
    OVNAssetManager *bothSelected()
    {
        UserDefaults::standard().setBool(true, QStringLiteral("LightTableShowThumbnails"));
        OVNAssetManager *window = annsWindow(desk);
        OVNMediaView *view = window->mediaView();
        EXPECT_EQ(shownNames(view), (QStringList{"loosefine", "tripsecret"}));
        view->selectRow(0);
        view->selectRow(1);
        return window;
    }
    // The names and contents of every file below the folder, one after the other.
    static QByteArray everythingBelow(const QString &folder)
    {
        QByteArray all;
        QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            all += file.fileName().toUtf8();
            if (file.open(QIODevice::ReadOnly))
                all += file.readAll();
        }
        return all;
    }
    // What an administrator does to Ann meanwhile, with whether "loosefine" may still go out.
    struct Change {
        const char *name;
        std::function<void(CatalogUserAccessTest &)> make;
        bool looseGoes;
        const char *alert; // the alert the output gives then
    };
    static std::vector<Change> changes()
    {
        return {
            {"Secret made NO ACCESS",
             [](CatalogUserAccessTest &t) { grantPrivilege(t.db, t.secret, t.staff, "NO ACCESS"); }, true,
             "1 entry was left out."},
            {"taken out of every group", [](CatalogUserAccessTest &t) { t.leaveEveryGroup(); }, false,
             "You can no longer use this catalog"},
        };
    }
    // Ann back in Staff with Secret as it was, and no window open.
    void undo()
    {
        closeWindows();
        ASSERT_NO_FATAL_FAILURE(backInStaff());
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, secret, staff, "FULL ACCESS"));
    }

    QString staff, shelf, trip, loose, watched, tripEntry, picture;
    QString desk, secret;
    bool away = false;
    RecordingViewers viewers;
};

INSTANTIATE_TEST_SUITE_P(Server, CatalogUserAccessTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

// An administrator lowers the group's level while Ann's window stays open: every category action
// asks the catalog then, refuses with both levels, and writes nothing.
TEST_P(CatalogUserAccessTest, ALevelLoweredAfterTheWindowLoadedRefusesEveryCategoryAction)
{
    using Act = std::function<void(CatalogUserAccessTest &, OVNAssetManager *)>;
    const struct {
        const char *name;
        QString CatalogUserAccessTest::*lowered;
        const char *level;
        QString requested;
        Act act;
    } cases[] = {
        {"open the privileges window", &CatalogUserAccessTest::trip, "READ & WRITE", full,
         [](CatalogUserAccessTest &t, OVNAssetManager *w) {
             w->selectCategory(t.trip);
             w->menuAccessPrivileges();
             EXPECT_TRUE(w->findChildren<OVNAccessPrivileges *>().isEmpty());
         }},
        {"rename in place", &CatalogUserAccessTest::trip, "READ & WRITE", full,
         [](CatalogUserAccessTest &t, OVNAssetManager *w) { EXPECT_FALSE(w->renameCategory(t.trip, "Renamed")); }},
        {"rename from the menu", &CatalogUserAccessTest::trip, "READ ONLY", full,
         [](CatalogUserAccessTest &t, OVNAssetManager *w) {
             w->selectCategory(t.trip);
             w->categoryActions().buttonRenameCatalogClick();
             EXPECT_EQ(w->categoryList()->focusWidget(), nullptr);
         }},
        {"delete", &CatalogUserAccessTest::trip, "READ & WRITE", full,
         [](CatalogUserAccessTest &t, OVNAssetManager *w) {
             EXPECT_FALSE(w->categoryActions().deleteCategory(*t.node(w, t.trip)));
         }},
        {"move by drag, the target folder", &CatalogUserAccessTest::shelf, "READ ONLY", readWrite,
         [](CatalogUserAccessTest &t, OVNAssetManager *w) {
             QMimeData data;
             data.setData(OVNOutlineView::catalogItemType(), PropertyList::writeXml(QVariantList{*t.node(w, t.loose)}));
             EXPECT_FALSE(w->outlineViewAcceptDrop(w->categoryList(), &data, t.rowOf(w, t.shelf)));
         }},
        {"move by drag, the moved category", &CatalogUserAccessTest::loose, "READ & WRITE", full,
         [](CatalogUserAccessTest &t, OVNAssetManager *w) {
             QMimeData data;
             data.setData(OVNOutlineView::catalogItemType(), PropertyList::writeXml(QVariantList{*t.node(w, t.loose)}));
             EXPECT_FALSE(w->outlineViewAcceptDrop(w->categoryList(), &data, t.rowOf(w, t.shelf)));
         }},
        {"new collection inside a folder", &CatalogUserAccessTest::shelf, "READ ONLY", readWrite,
         [](CatalogUserAccessTest &t, OVNAssetManager *w) { w->addFiles({t.picture}, t.node(w, t.shelf)); }},
        {"re-scan", &CatalogUserAccessTest::watched, "READ ONLY", readWrite,
         [](CatalogUserAccessTest &t, OVNAssetManager *w) {
             EXPECT_FALSE(w->categoryActions().rescanSurveillanceFolder(*t.node(w, t.watched)));
         }},
        {"import into a collection", &CatalogUserAccessTest::trip, "READ ONLY", readWrite,
         [](CatalogUserAccessTest &t, OVNAssetManager *w) { w->importFiles({t.picture}, t.trip); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(grantAll("FULL ACCESS"));
        OVNAssetManager *window = annsWindow();
        ASSERT_EQ(OVNAssetManager::getMyPrivilegesForItem(node(window, this->*c.lowered)), full);
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, this->*c.lowered, staff, c.level));
        const QStringList before = catalogState();
        const qsizetype alerts = presenter->shown().size();

        c.act(*this, window);

        EXPECT_TRUE(window->findChildren<OVNImportMedia *>().isEmpty());
        EXPECT_EQ(catalogState(), before);
        ASSERT_EQ(presenter->shown().size(), alerts + 1) << qPrintable(alertTitles().join('\n'));
        EXPECT_EQ(presenter->shown().last().message, "Authorization Failed");
        EXPECT_TRUE(presenter->shown().last().informativeText.endsWith("Requested Privilege: " + c.requested
                                                                       + "\nYour Privilege Level: " + c.level))
            << qPrintable(presenter->shown().last().informativeText);
        closeWindows();
    }
}

// Saving privileges needs FULL ACCESS at that moment; the window opened while it was held.
TEST_P(CatalogUserAccessTest, SavingPrivilegesAsksForFullAccessThen)
{
    ASSERT_NO_FATAL_FAILURE(grantAll("FULL ACCESS"));
    auto connection = openAnother();
    signInAsAnn(*connection);
    OVNPrivilegeListEditor editor(connection.get(), *presenter);
    ASSERT_TRUE(editor.open(trip));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, trip, staff, "READ ONLY"));
    const QString stored = *db.getCategoryCommentForMID(trip);

    editor.setLevel(0, 0);      // the group back to FULL ACCESS
    EXPECT_TRUE(editor.save()); // refused: nothing to keep the window open for
    EXPECT_EQ(*db.getCategoryCommentForMID(trip), stored);
    EXPECT_EQ(presenter->shown().last().message, "Authorization Failed");
}

// Raised levels count without a reload: the outline's READ ONLY only greyed the commands.
TEST_P(CatalogUserAccessTest, ARaisedLevelWorksWithoutAReload)
{
    ASSERT_NO_FATAL_FAILURE(grantAll("READ ONLY"));
    OVNAssetManager *window = annsWindow();
    ASSERT_NO_FATAL_FAILURE(grantAll("FULL ACCESS"));

    EXPECT_TRUE(window->renameCategory(trip, "Renamed"));
    window->selectCategory(trip);
    window->menuAccessPrivileges();
    EXPECT_EQ(window->findChildren<OVNAccessPrivileges *>().size(), 1);
    window->importFiles({picture}, loose);
    EXPECT_EQ(window->findChildren<OVNImportMedia *>().size(), 1);
    processEventsUntil([&] { return window->findChildren<OVNImportMedia *>().isEmpty(); }, waitCeilingMs);

    EXPECT_EQ(db.rowsForQuery("select displaytag from strvcategory where mid=$1", {trip}).value(0).value(0).toString(),
              "Renamed");
    EXPECT_EQ(db.getEntryCountForCategory(loose, "C"), 1);
    EXPECT_TRUE(presenter->shown().isEmpty()) << qPrintable(alertTitles().join('\n'));
}

// A paste or drop into a collection another client deleted meanwhile says so in the program's
// words; nothing is imported anywhere.
TEST_P(CatalogUserAccessTest, AWriteIntoACategoryDeletedMeanwhileSaysSo)
{
    OVNAssetManager *window = annsWindow(loose);
    ASSERT_TRUE(db.deleteCategoryListEntry(loose));
    window->importFiles({picture}, loose);
    EXPECT_TRUE(window->findChildren<OVNImportMedia *>().isEmpty());
    EXPECT_EQ(presenter->shown().last().message, "The category no longer exists.");
    EXPECT_FALSE(window->renameCategory(loose, "Gone"));
    EXPECT_EQ(presenter->shown().last().message, "The category no longer exists.");
}

// The server goes away mid-edit: each place says so, and nothing typed is lost.
TEST_P(CatalogUserAccessTest, AServerThatWentAwayIsReportedAndLosesNothingTyped)
{
    OVNAssetManager *window = annsWindow(trip);
    window->mediaView()->selectImage(window->mediaView()->rowForMid(tripEntry));
    window->mediaView()->notifySelectionDidChange();
    auto *field = window->mediaDetails()->findChild<QLineEdit *>("vcShortDescription_");
    ASSERT_NE(field, nullptr);
    auto privilegesConnection = openAnother();
    signInAsAnn(*privilegesConnection);
    auto *privileges = new OVNAccessPrivileges(std::move(privilegesConnection));
    ASSERT_TRUE(privileges->start(trip));
    privileges->addGroup(staff, "Staff");
    // The category's kind beside its name, the group picture in each row.
    EXPECT_FALSE(privileges->kindIcon()->pixmap().isNull());
    ASSERT_EQ(privileges->table()->rowCount(), 1);
    EXPECT_EQ(privileges->table()->item(0, OVNAccessPrivileges::groupColumn)->text(), "Staff");
    EXPECT_FALSE(privileges->table()->item(0, OVNAccessPrivileges::iconColumn)->data(Qt::DecorationRole).isNull());

    ASSERT_NO_FATAL_FAILURE(takeServerAway());
    const QString unreachable = OVNCategoryAccess::unreachableTitle();

    // The details pane: the alert, the typed text kept and marked, nothing stored.
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "typed");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(presenter->shown().last().message, unreachable);
    EXPECT_EQ(field->text(), "typed");
    EXPECT_EQ(window->mediaDetails()->unsavedField(), field);

    // The privileges window stays open with its changes.
    EXPECT_FALSE(privileges->close());
    EXPECT_EQ(presenter->shown().last().message, unreachable);
    EXPECT_EQ(privileges->editor().entries().size(), 1);

    // Opening a collection reports the failure; it is no empty collection.
    const qsizetype beforeOpening = presenter->shown().size();
    window->selectCategory(loose);
    EXPECT_TRUE(alertTitles().mid(beforeOpening).contains("The entries of “Loose” could not be read."))
        << qPrintable(alertTitles().join('\n'));
    EXPECT_NE(window->statusText(), "0 Items");

    // The outline reload keeps the whole tree it had, and says why.
    window->reloadCategoryList();
    EXPECT_EQ(presenter->shown().last().message, "The category list could not be read completely.");
    EXPECT_NE(window->categoryModel()->itemForMid(trip), nullptr);
    for (const Alert &alert : presenter->shown())
        EXPECT_NE(alert.message, "Authorization Failed");

    // Back: the first reload is whole, and the kept edits are saved.
    letIn();
    const qsizetype alerts = presenter->shown().size();
    window->reloadCategoryList();
    EXPECT_NE(window->categoryModel()->itemForMid(trip), nullptr);
    EXPECT_NE(window->categoryModel()->itemForMid(shelf), nullptr);
    EXPECT_TRUE(privileges->close());
    EXPECT_TRUE(OVNCategoryComment::dictionary(*db.getCategoryCommentForMID(trip)).contains("PRIVILEGES"));
    window->selectCategory(trip);
    EXPECT_EQ(presenter->shown().size(), alerts) << qPrintable(alertTitles().join('\n'));
}

// The details pane keeps an edit the catalog did not take until it is saved: ending the edit
// again once the server is back stores it.
TEST_P(CatalogUserAccessTest, AKeptEditIsSavedWhenEditingEndsAgain)
{
    OVNAssetManager *window = annsWindow(trip);
    window->mediaView()->selectImage(window->mediaView()->rowForMid(tripEntry));
    window->mediaView()->notifySelectionDidChange();
    auto *field = window->mediaDetails()->findChild<QLineEdit *>("vcShortDescription_");
    ASSERT_NE(field, nullptr);
    ASSERT_NO_FATAL_FAILURE(takeServerAway());
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "typed");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(window->mediaDetails()->unsavedField(), field);
    EXPECT_NE(stored(tripEntry, "shortdesc"), "typed");

    letIn();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(stored(tripEntry, "shortdesc"), "typed");
    EXPECT_EQ(window->mediaDetails()->unsavedField(), nullptr);
}

// Logins on a catalog with users: only a catalog user in a group gets a connection.
TEST_P(CatalogUserAccessTest, OnlyACatalogUserInAGroupIsLetIn)
{
    const QString loner = db.addUserEntry("Lone", "loner", "pw", "pw", {});
    ASSERT_FALSE(loner.isEmpty());
    const struct {
        const char *login;
        const char *refusal; // part of it; none when let in
    } cases[] = {
        {"ann", nullptr},
        {"stranger", "is not a user of this catalog"},
        {"loner", "belongs to no group"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.login);
        auto connection = openAnother();
        const QString refusal = OVNCatalogLogin::logIn(*connection, c.login);
        if (!c.refusal) {
            EXPECT_TRUE(refusal.isEmpty()) << qPrintable(refusal);
            EXPECT_TRUE(connection->isDBConnectionActive());
        } else {
            EXPECT_TRUE(refusal.contains(c.refusal)) << qPrintable(refusal);
            EXPECT_TRUE(refusal.contains(c.login));
            EXPECT_FALSE(connection->isDBConnectionActive());
        }
    }
}

// The start-up refuses this account (no catalog user here) with the retry choices, or, scripted,
// ends with the reason and status 1 without any alert.
TEST_P(CatalogUserAccessTest, StartUpRefusesAnAccountThatIsNoCatalogUser)
{
    ASSERT_TRUE(db.getUserForLogin(SystemInfo::accountName()).isEmpty());
    for (const bool scripted : {false, true}) {
        SCOPED_TRACE(scripted ? "scripted" : "by a person");
        UserDefaults defaults;
        defaults.setString("0", "StartupUpdateCheck");
        defaults.setString("PostgreSQL", "DBVendor");
        OVNDatabaseAccess settings;
        setDetails(settings);
        defaults.setString(settings.dbHost(), "DBHost");
        defaults.setString(qEnvironmentVariable("OVN_TEST_PG_USER"), "DBUser");
        defaults.setString(qEnvironmentVariable("OVN_TEST_PG_PASSWORD"), "DBPassword");
        defaults.setString(settings.dbDatabase(), "DBDatabase");
        if (scripted)
            defaults.setArguments({"ostrevan", "-OVNQuitAfterStartup", "YES"});
        EventLog log = std::make_shared<QStringList>();
        OVNDocumentController::Services services;
        services.connections = std::make_unique<OVNConnectionFactory>(defaults, m_dir.filePath("local"));
        services.makeSplash = [log] { return std::make_unique<FakeSplash>(log); };
        services.makeUpdateCheck = [log] { return std::make_unique<FakeUpdateCheck>(log, false, false); };
        services.visibleFrame = [] { return QRectF(0, 0, 1440, 878); };
        services.movieFrameworkVersion = [] { return 0x07000000; };
        OVNDocumentController controller(defaults, std::move(services));
        const qsizetype alerts = presenter->shown().size();
        presenter->enqueueAnswers({2}); // Quit

        const OVNDocumentController::StartupResult result = controller.startUp();

        if (scripted) {
            EXPECT_EQ(result, OVNDocumentController::StartupResult::Refused);
            EXPECT_EQ(presenter->shown().size(), alerts);
        } else {
            EXPECT_EQ(result, OVNDocumentController::StartupResult::Quit);
            ASSERT_EQ(presenter->shown().size(), alerts + 1);
            const Alert alert = presenter->shown().last();
            EXPECT_EQ(alert.message, "You cannot use this catalog");
            EXPECT_TRUE(alert.informativeText.contains("is not a user of this catalog"));
            EXPECT_EQ(alert.buttons, (QStringList{"Retry", "Preferences", "Quit"}));
        }
    }
}

// An administrator takes Ann out of a group while her window stays open: the next list and the next
// write count without it, and once she is in no group at all she is told so in the start-up's
// words, sees no category and writes nothing.
TEST_P(CatalogUserAccessTest, ARemovalFromAGroupCountsInTheOpenWindowAtOnce)
{
    const QString crew = db.addGroupEntry("Crew", QString(), {});
    const QString ann = db.getUserForLogin("ann").value("mid").toString();
    ASSERT_FALSE(db.addUserToGroup(ann, crew).isEmpty());
    const QVariantList staffWrites{QVariantMap{{"group", "Staff"}, {"mid", staff}, {"privilege", "READ & WRITE"}}};
    ASSERT_TRUE(db.updateCategoryListComment(trip, OVNCategoryComment::withPrivileges(QString(), staffWrites)));
    ASSERT_TRUE(db.updateCategoryListComment(
        loose,
        OVNCategoryComment::withPrivileges(
            QString(),
            staffWrites + QVariantList{QVariantMap{{"group", "Crew"}, {"mid", crew}, {"privilege", "READ ONLY"}}})));
    const QString looseEntry = entry(loose, "l1");
    OVNAssetManager *window = annsWindow(trip);
    ASSERT_EQ(shownNames(window->mediaView()), QStringList{"t1"});
    const auto leave = [&](const QString &group) {
        ASSERT_TRUE(db.runSQLCommand("delete from strvgroupusers where groupmid=$1 and usermid=$2", {group, ann}));
    };
    const auto edit = [&](const QString &mid, const QString &text) {
        window->detailsDataSource()->ovnMediaDetailsSetStringForID(window->mediaDetails(), text, "shortdesc", mid);
    };

    const QString looseTitle = stored(looseEntry, "shortdesc");
    ASSERT_NO_FATAL_FAILURE(leave(staff));
    window->reloadCategoryList();
    ASSERT_TRUE(window->selectCategory(trip));
    EXPECT_TRUE(shownNames(window->mediaView()).isEmpty());
    EXPECT_TRUE(window->statusText().startsWith("You may not see the entries of “Trip”."))
        << qPrintable(window->statusText());
    ASSERT_TRUE(window->selectCategory(loose));
    EXPECT_EQ(shownNames(window->mediaView()), QStringList{"l1"});
    edit(looseEntry, "through Crew");
    EXPECT_EQ(stored(looseEntry, "shortdesc"), looseTitle);
    EXPECT_TRUE(lastAlertText().endsWith("Your Privilege Level: READ ONLY")) << qPrintable(lastAlertText());

    ASSERT_NO_FATAL_FAILURE(leave(crew));
    const QStringList before = catalogState();
    edit(looseEntry, "in no group");
    EXPECT_FALSE(window->renameCategory(loose, "Mine"));
    window->importFiles({picture}, loose);
    EXPECT_TRUE(window->findChildren<OVNImportMedia *>().isEmpty());
    EXPECT_EQ(catalogState(), before);
    EXPECT_EQ(stored(looseEntry, "shortdesc"), looseTitle);
    for (const Alert &alert : presenter->shown().mid(presenter->shown().size() - 3)) {
        EXPECT_EQ(alert.message, "You can no longer use this catalog");
        EXPECT_TRUE(alert.informativeText.contains("The catalog user “ann” belongs to no group"));
    }
    window->reloadCategoryList();
    EXPECT_EQ(window->categoryModel()->itemForMid(loose), nullptr);
    EXPECT_EQ(window->categoryModel()->itemForMid(trip), nullptr);
}

// Levels raised after the window loaded its tree count where the user acts: files dropped on the
// thumbnails of a collection now writable, a category dragged into a folder now fully accessible,
// and a collection that was NO ACCESS shows its entries when it is selected.
TEST_P(CatalogUserAccessTest, RaisedLevelsCountForDropsDragsAndTheList)
{
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, loose, staff, "READ ONLY"));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, shelf, staff, "READ ONLY"));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, trip, staff, "NO ACCESS"));
    OVNAssetManager *window = annsWindow(loose);
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, loose, staff, "FULL ACCESS"));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, shelf, staff, "FULL ACCESS"));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, trip, staff, "READ ONLY"));

    // Files onto the thumbnails of the collection.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(picture)});
    QWidget *thumbnails = window->mediaView()->viewport();
    const QPoint at = thumbnails->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(thumbnails, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(thumbnails, &drop);
    EXPECT_TRUE(drop.isAccepted());
    processEventsUntil([&] { return window->findChildren<OVNImportMedia *>().isEmpty(); }, waitCeilingMs);
    EXPECT_EQ(db.getEntryCountForCategory(loose, "C"), 1);

    // The collection that was NO ACCESS.
    ASSERT_TRUE(window->selectCategory(trip));
    EXPECT_EQ(shownNames(window->mediaView()), QStringList{"t1"});

    // The collection into the folder, by drag.
    QMimeData dragged;
    dragged.setData(OVNOutlineView::catalogItemType(), PropertyList::writeXml(QVariantList{*node(window, loose)}));
    QWidget *outline = window->categoryList()->viewport();
    const QPoint onShelf = window->categoryList()->visualRect(rowOf(window, shelf)).center();
    QDragEnterEvent over(onShelf, Qt::MoveAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(outline, &over);
    QDragMoveEvent move(onShelf, Qt::MoveAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(outline, &move);
    EXPECT_TRUE(move.isAccepted() && move.dropAction() == Qt::MoveAction) << qPrintable(window->statusText());
    QDropEvent onto(onShelf, Qt::MoveAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(outline, &onto);
    EXPECT_EQ(db.rowsForQuery("select supermid from strvcategory where mid=$1", {loose}).value(0).value(0).toString(),
              shelf);

    EXPECT_TRUE(presenter->shown().isEmpty()) << qPrintable(alertTitles().join('\n'));
}

// The server goes away while Ann types in the details of several entries and moves on between
// them, to another collection and through a reload: every text is kept, shown as not saved when
// she comes back, and saved once the server is back and she ends editing, changed or not.
// Quitting meanwhile asks.
TEST_P(CatalogUserAccessTest, TextsTypedDuringAnOutageAreKeptUntilSaved)
{
    const QString second = entry(trip, "t2");
    OVNAssetManager *window = annsWindow(trip);
    OVNMediaDetails *pane = window->mediaDetails();
    const auto show = [&](const QString &category, const QString &mid) {
        if (window->selectedCategory().value_or(CategoryNode()).value("mid").toString() != category) {
            ASSERT_TRUE(window->selectCategory(category));
        }
        window->mediaView()->selectImage(window->mediaView()->rowForMid(mid));
        window->mediaView()->notifySelectionDidChange();
    };
    const auto fieldFor = [&](const char *outlet) { return pane->findChild<QLineEdit *>(outlet); };
    // Each text is ended by Return or by the selection that the next one makes.
    const struct {
        const char *name;
        QString mid;
        const char *outlet, *column, *text;
        bool endWithReturn;
    } typed[] = {
        {"title, Return", tripEntry, "vcKeywords_", "keywords", "Harbour", true},
        {"keywords, then another entry", tripEntry, "vcShortDescription_", "shortdesc", "boats", false},
        {"description, then another entry", second, "vcFullDescription_", "fulldesc", "Low tide", false},
        {"volume, then another collection", tripEntry, "vcVolumeName_", "volumename", "Disc 4", false},
    };
    ASSERT_NO_FATAL_FAILURE(takeServerAway());
    for (const auto &t : typed) {
        SCOPED_TRACE(t.name);
        ASSERT_NO_FATAL_FAILURE(show(trip, t.mid));
        QLineEdit *field = fieldFor(t.outlet);
        ASSERT_NE(field, nullptr);
        ASSERT_TRUE(field->isEnabled());
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, t.text);
        if (t.endWithReturn)
            QTest::keyClick(field, Qt::Key_Return);
    }
    ASSERT_TRUE(window->selectCategory(loose));
    window->reloadCategoryList();
    EXPECT_EQ(pane->unsavedEditCount(), 4);
    for (const Alert &alert : presenter->shown()) {
        EXPECT_NE(alert.message, "Authorization Failed");
        EXPECT_FALSE(alert.informativeText.contains("Your Privilege Level"));
    }
    presenter->enqueueAnswers({0}); // Cancel
    EXPECT_FALSE(window->confirmUnsavedEdits());
    EXPECT_TRUE(presenter->shown().last().message.startsWith("4 texts you typed")) << qPrintable(lastAlertText());

    letIn();
    for (const auto &t : typed) {
        SCOPED_TRACE(t.name);
        ASSERT_NO_FATAL_FAILURE(show(trip, t.mid));
        QLineEdit *field = fieldFor(t.outlet);
        EXPECT_EQ(field->text(), t.text);
        EXPECT_NE(pane->unsavedField(), nullptr);
        EXPECT_NE(stored(t.mid, t.column), t.text);
        // Into the field and out again, unchanged.
        QFocusEvent in(QEvent::FocusIn);
        QApplication::sendEvent(field, &in);
        QFocusEvent out(QEvent::FocusOut);
        QApplication::sendEvent(field, &out);
        EXPECT_EQ(stored(t.mid, t.column), t.text);
    }
    EXPECT_EQ(pane->unsavedEditCount(), 0);
    EXPECT_TRUE(window->confirmUnsavedEdits());
}

// What the window says: a write during an outage that the server cannot be reached, an edit of an
// entry deleted with its collection that it was deleted, a category the user may not read or that
// was deleted why it shows nothing, and no alert at all for merely selecting an entry.
TEST_P(CatalogUserAccessTest, TheWindowSaysWhyInEachCase)
{
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, trip, staff, "READ ONLY"));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, watched, staff, "NO ACCESS"));
    const QString looseEntry = entry(loose, "l1");
    OVNAssetManager *window = annsWindow(trip);

    // Selecting an entry of a READ ONLY collection: its fields are closed, nothing is said.
    for (int i = 0; i < 2; ++i) {
        window->mediaView()->selectImage(window->mediaView()->rowForMid(tripEntry));
        window->mediaView()->notifySelectionDidChange();
    }
    EXPECT_TRUE(presenter->shown().isEmpty()) << qPrintable(alertTitles().join('\n'));
    EXPECT_FALSE(window->mediaDetails()->findChild<QLineEdit *>("vcKeywords_")->isEnabled());

    const struct {
        const char *name;
        QString selected;
        bool deleteFirst;
        const char *says;
    } lists[] = {
        {"no access", watched, false, "You may not see the entries of “Watched”."},
        {"deleted", loose, true, "“Loose” no longer exists."},
    };
    for (const auto &c : lists) {
        SCOPED_TRACE(c.name);
        if (c.deleteFirst) {
            ASSERT_TRUE(db.deleteEntriesOwnedByCategory(c.selected) && db.deleteCategoryListEntry(c.selected));
        }
        ASSERT_TRUE(window->selectCategory(c.selected));
        EXPECT_TRUE(window->statusText().startsWith(c.says)) << qPrintable(window->statusText());
        EXPECT_EQ(window->mediaView()->count(), 0);
    }
    EXPECT_TRUE(presenter->shown().isEmpty()) << qPrintable(alertTitles().join('\n'));

    // The edit of an entry deleted meanwhile with its collection.
    window->detailsDataSource()->ovnMediaDetailsSetStringForID(window->mediaDetails(), "x", "shortdesc", looseEntry);
    EXPECT_EQ(presenter->shown().last().message, "The entry no longer exists.");

    // Rating during an outage.
    ASSERT_TRUE(db.updateCategoryListComment(trip, QString()));
    ASSERT_TRUE(window->selectCategory(trip));
    window->mediaView()->selectImage(window->mediaView()->rowForMid(tripEntry));
    window->mediaView()->notifySelectionDidChange();
    ASSERT_NO_FATAL_FAILURE(takeServerAway());
    window->menuSetRating(3);
    EXPECT_TRUE(lastAlertText().contains("cannot be reached")) << qPrintable(lastAlertText());
    EXPECT_FALSE(lastAlertText().contains("Your Privilege Level")) << qPrintable(lastAlertText());
}

// Taken out of every group while his window stays open, a user makes no category at the top level
// and hands nothing on: each action says so in the start-up's words, and the catalog is as it was.
TEST_P(CatalogUserAccessTest, InNoGroupAnOpenWindowMakesNoCategoryAndHandsNothingOn)
{
    OVNViewerDocuments::setShared(&viewers);
    OVNAssetManager *window = annsWindow();
    ASSERT_NO_FATAL_FAILURE(selectEntry(window, trip, tripEntry));
    ASSERT_NO_FATAL_FAILURE(leaveEveryGroup());
    const QStringList before = catalogState();
    // Each answers whether something was made or handed on.
    using Act = std::function<bool(CatalogUserAccessTest &, OVNAssetManager *)>;
    const struct {
        const char *name;
        Act act;
    } cases[] = {
        {"new folder",
         [](auto &, OVNAssetManager *w) { return !w->categoryActions().buttonAddFolderClick().isEmpty(); }},
        {"new collection",
         [](auto &, OVNAssetManager *w) { return !w->categoryActions().buttonAddCatalogClick("Mine").isEmpty(); }},
        {"new category set",
         [](auto &, OVNAssetManager *w) { return !w->categoryActions().buttonAddImageSetClick().isEmpty(); }},
        {"new surveillance folder",
         [this](CatalogUserAccessTest &, OVNAssetManager *w) {
             return !w->categoryActions().addSurveillanceFolder(m_dir.filePath("watched")).isEmpty();
         }},
        {"smart add",
         [](CatalogUserAccessTest &t, OVNAssetManager *w) {
             return !w->categoryActions().buttonAddSmartClickEndSheet({t.picture}).isEmpty();
         }},
        {"files dropped outside any category",
         [](CatalogUserAccessTest &t, OVNAssetManager *w) { return w->addFiles({t.picture}, std::nullopt); }},
        {"export", [](auto &, OVNAssetManager *w) { return w->outputHandOff().has_value(); }},
        {"copy", [](auto &, OVNAssetManager *w) { return w->mediaDelegate().copy() > 0; }},
        {"open",
         [](CatalogUserAccessTest &t, OVNAssetManager *w) {
             w->openMedia(w->mediaView(), 0, QString());
             return !t.viewers.calls.isEmpty();
         }},
        {"print",
         [this](CatalogUserAccessTest &, OVNAssetManager *w) {
             QPrinter printer(QPrinter::HighResolution);
             printer.setOutputFormat(QPrinter::PdfFormat);
             printer.setOutputFileName(m_dir.filePath("sheet.pdf"));
             return w->printContactSheet(printer);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const qsizetype alerts = presenter->shown().size();
        EXPECT_FALSE(c.act(*this, window));
        ASSERT_EQ(presenter->shown().size(), alerts + 1) << qPrintable(alertTitles().join('\n'));
        EXPECT_EQ(presenter->shown().last().message, "You can no longer use this catalog");
        EXPECT_TRUE(presenter->shown().last().informativeText.contains("The catalog user “ann” belongs to no group"))
            << qPrintable(lastAlertText());
        EXPECT_TRUE(window->findChildren<OVNImportMedia *>().isEmpty());
        EXPECT_EQ(catalogState(), before);
    }
    window->buttonExportImagesClick();
    EXPECT_TRUE(window->findChildren<OVNExportImagesSheet *>().isEmpty());
    OVNViewerDocuments::setShared(nullptr);
}

// Output leaves out, and names in one alert, the entries whose collection the user may no longer
// read; the others go on.
TEST_P(CatalogUserAccessTest, OutputLeavesOutAndNamesTheEntriesNoLongerReadable)
{
    const QString looseEntry = entry(loose, "l1");
    OVNAssetManager *window = annsWindow();
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, trip, staff, "NO ACCESS"));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, loose, staff, "READ ONLY"));
    MediaList records;
    for (const auto &[mid, owner, name] : {std::tuple{tripEntry, trip, "t1"}, std::tuple{looseEntry, loose, "l1"}}) {
        auto record = std::make_shared<MediaRecord>();
        record->setField(MediaRecord::Mid, mid);
        record->setField(MediaRecord::CategoryId, owner);
        record->setField(MediaRecord::DisplayTag, name);
        records.append(record);
    }
    QSet<QString> leftOut;
    const std::optional<MediaList> readable = window->readableForOutput(records, &leftOut);
    ASSERT_TRUE(readable);
    ASSERT_EQ(readable->size(), 1);
    EXPECT_EQ(readable->first()->field(MediaRecord::Mid), looseEntry);
    EXPECT_EQ(leftOut, QSet<QString>{tripEntry});
    ASSERT_EQ(presenter->shown().size(), 1);
    EXPECT_EQ(presenter->shown().last().message, "1 entry was left out.");
    EXPECT_TRUE(presenter->shown().last().informativeText.endsWith("\n\nt1")) << qPrintable(lastAlertText());
}

// A text kept through an outage meets a value another user saved after the server came back: the
// user chooses; an unchanged value, or his own, asks nothing.
TEST_P(CatalogUserAccessTest, AKeptTextOverAValueChangedMeanwhileAsks)
{
    const struct {
        const char *name;
        const char *meanwhile; // saved by another user after the outage; nullptr: nothing
        int answer;            // 0 keep mine, 1 take the stored one
        const char *stored;
        bool asked;
    } cases[] = {
        {"changed, keep mine", "theirs", 0, "typed", true},
        {"changed, take the stored one", "theirs", 1, "theirs", true},
        {"unchanged", nullptr, 0, "typed", false},
        {"changed to the same text", "typed", 0, "typed", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(db.updateMediaListEntry(tripEntry, "shortdesc", "before"));
        OVNAssetManager *window = annsWindow();
        ASSERT_NO_FATAL_FAILURE(selectEntry(window, trip, tripEntry));
        auto *field = window->mediaDetails()->findChild<QLineEdit *>("vcShortDescription_");
        ASSERT_NE(field, nullptr);
        ASSERT_NO_FATAL_FAILURE(typeDuringAnOutage(window, field, "typed"));
        if (c.meanwhile) {
            ASSERT_TRUE(db.updateMediaListEntry(tripEntry, "shortdesc", c.meanwhile));
        }
        const qsizetype alerts = presenter->shown().size();
        presenter->enqueueAnswers({c.answer});

        QTest::keyClick(field, Qt::Key_Return);

        EXPECT_EQ(stored(tripEntry, "shortdesc"), c.stored);
        EXPECT_EQ(field->text(), c.stored);
        EXPECT_EQ(window->mediaDetails()->unsavedEditCount(), 0);
        ASSERT_EQ(presenter->shown().size(), alerts + (c.asked ? 1 : 0)) << qPrintable(alertTitles().join('\n'));
        if (c.asked) {
            EXPECT_EQ(presenter->shown().last().message, "Someone else changed this text meanwhile.");
            EXPECT_TRUE(presenter->shown().last().informativeText.contains("“typed” over “before”"))
                << qPrintable(lastAlertText());
        }
        closeWindows();
    }
}

// A kept text whose save is refused stays kept, in a field the user may no longer change too, until
// he gives it up with Escape; the field then closes. The pane opens and closes its fields by the
// groups read when an entry is selected.
TEST_P(CatalogUserAccessTest, ARefusedKeptTextStaysUntilGivenUp)
{
    const struct {
        const char *name;
        std::function<void(CatalogUserAccessTest &)> withdraw;
        const char *says;
    } cases[] = {
        {"taken out of every group", [](CatalogUserAccessTest &t) { t.leaveEveryGroup(); },
         "You can no longer use this catalog"},
        {"lowered to READ ONLY",
         [this](CatalogUserAccessTest &) { ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, trip, staff, "READ ONLY")); },
         "Authorization Failed"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(backInStaff());
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, trip, staff, "FULL ACCESS"));
        const QString before = stored(tripEntry, "shortdesc");
        OVNAssetManager *window = annsWindow();
        ASSERT_NO_FATAL_FAILURE(selectEntry(window, trip, tripEntry));
        OVNMediaDetails *pane = window->mediaDetails();
        auto *field = pane->findChild<QLineEdit *>("vcShortDescription_");
        ASSERT_NE(field, nullptr);
        ASSERT_NO_FATAL_FAILURE(typeDuringAnOutage(window, field, "typed"));
        c.withdraw(*this);

        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(presenter->shown().last().message, c.says);
        EXPECT_EQ(stored(tripEntry, "shortdesc"), before);
        EXPECT_EQ(pane->unsavedEditCount(), 1);
        EXPECT_EQ(field->text(), "typed");

        // Shown again: closed to typing, open to Escape.
        ASSERT_NO_FATAL_FAILURE(selectEntry(window, trip, tripEntry));
        EXPECT_EQ(field->text(), "typed");
        EXPECT_TRUE(field->isEnabled());
        EXPECT_TRUE(field->isReadOnly());
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Escape);
        EXPECT_EQ(pane->unsavedEditCount(), 0);
        EXPECT_EQ(field->text(), before);
        EXPECT_FALSE(field->isEnabled());
        EXPECT_EQ(stored(tripEntry, "shortdesc"), before);
        closeWindows();
    }
}

// The details pane follows the groups as they are when an entry is selected: taken into a group
// that may change the collection after the window loaded, the user finds the fields open.
TEST_P(CatalogUserAccessTest, TheDetailsPaneOpensByTheGroupsReadAtSelection)
{
    const QString crew = db.addGroupEntry("Crew", QString(), {});
    const QVariantList crewWrites{QVariantMap{{"group", "Crew"}, {"mid", crew}, {"privilege", "READ & WRITE"}}};
    ASSERT_TRUE(db.updateCategoryListComment(trip, OVNCategoryComment::withPrivileges(QString(), crewWrites)));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, loose, staff, "READ ONLY"));
    const QString looseEntry = entry(loose, "l1");
    OVNAssetManager *window = annsWindow();
    ASSERT_NO_FATAL_FAILURE(selectEntry(window, loose, looseEntry));
    auto *field = window->mediaDetails()->findChild<QLineEdit *>("vcShortDescription_");
    ASSERT_NE(field, nullptr);
    EXPECT_FALSE(field->isEnabled());

    ASSERT_FALSE(db.addUserToGroup(db.getUserForLogin("ann").value("mid").toString(), crew).isEmpty());
    window->reloadCategoryList();
    ASSERT_NO_FATAL_FAILURE(selectEntry(window, trip, tripEntry));
    EXPECT_TRUE(field->isEnabled());
    EXPECT_FALSE(field->isReadOnly());
}

// Files dropped on the thumbnails: the source hears a copy, while the pointer is over them and at
// the drop, when they are catalogued; nothing when it offered no copy or when a drop would be
// refused (READ ONLY, the collection deleted meanwhile, taken out of every group meanwhile, a type
// the file-type table does not import), and never a move. A drop refused over the view is refused
// without a word, as the window system shows it.
TEST_P(CatalogUserAccessTest, AFileDropAnswersCopyOrNothing)
{
    const QString untyped = m_dir.filePath("notes.xyz");
    {
        QFile file(untyped);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("not a picture") > 0);
    }
    // A folder of such files, and one that holds a picture deep inside.
    const QString untypedFolder = m_dir.filePath("notes");
    const QString pictureFolder = m_dir.filePath("shoot");
    ASSERT_TRUE(QDir().mkpath(untypedFolder + "/more") && QDir().mkpath(pictureFolder + "/day/raw"));
    for (const QString &copy : {untypedFolder + "/a.xyz", untypedFolder + "/more/b.xyz"})
        ASSERT_TRUE(QFile::copy(untyped, copy));
    ASSERT_TRUE(QFile::copy(picture, pictureFolder + "/day/raw/d.jpg"));
    using Change = std::function<void()>;
    const Change none = [] {};
    const struct {
        const char *name;
        Change change;
        QString file;
        Qt::DropActions offered;
        Qt::DropAction answered;
    } cases[] = {
        {"member, copy and move offered", none, picture, Qt::CopyAction | Qt::MoveAction, Qt::CopyAction},
        {"member, only a copy offered", none, picture, Qt::CopyAction, Qt::CopyAction},
        {"member, only a move offered", none, picture, Qt::MoveAction, Qt::IgnoreAction},
        {"a type the table does not import", none, untyped, Qt::CopyAction | Qt::MoveAction, Qt::IgnoreAction},
        {"a folder of types the table does not import", none, untypedFolder, Qt::CopyAction | Qt::MoveAction,
         Qt::IgnoreAction},
        {"a folder holding a picture", none, pictureFolder, Qt::CopyAction | Qt::MoveAction, Qt::CopyAction},
        {"READ ONLY", [this] { grantPrivilege(db, loose, staff, "READ ONLY"); }, picture,
         Qt::CopyAction | Qt::MoveAction, Qt::IgnoreAction},
        {"in no group", [this] { leaveEveryGroup(); }, picture, Qt::CopyAction | Qt::MoveAction, Qt::IgnoreAction},
        // Last: the collection is gone for good.
        {"the collection deleted meanwhile",
         [this] {
             // Its entries first: the catalog keeps no entry without its collection.
             ASSERT_TRUE(db.runSQLCommand("delete from strvfile where categoryid=$1", {loose}));
             ASSERT_TRUE(db.deleteCategoryListEntry(loose));
         },
         picture, Qt::CopyAction | Qt::MoveAction, Qt::IgnoreAction},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        OVNAssetManager *window = annsWindow(loose);
        ASSERT_NO_FATAL_FAILURE(c.change());
        const qint64 before = db.getEntryCountForCategory(loose, "C");
        const qsizetype alerts = presenter->shown().size();
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(c.file)});
        QWidget *thumbnails = window->mediaView()->viewport();
        const QPoint at = thumbnails->rect().center();
        const bool taken = c.answered != Qt::IgnoreAction;
        // What the source hears while the pointer is over the thumbnails.
        QDragEnterEvent enter(at, c.offered, &files, Qt::LeftButton, Qt::NoModifier);
        enter.setDropAction(c.offered & Qt::MoveAction ? Qt::MoveAction : Qt::CopyAction);
        QApplication::sendEvent(thumbnails, &enter);
        EXPECT_EQ(enter.isAccepted(), taken);
        EXPECT_EQ(enter.isAccepted() ? enter.dropAction() : Qt::IgnoreAction, c.answered);
        // Moves reach the thumbnails only after they took the enter, and the drop only after an
        // accepted move, as the window system sends them.
        if (enter.isAccepted()) {
            QDragMoveEvent move(at + QPoint(3, 3), c.offered, &files, Qt::LeftButton, Qt::NoModifier);
            move.setDropAction(enter.dropAction());
            move.accept();
            QApplication::sendEvent(thumbnails, &move);
            EXPECT_TRUE(move.isAccepted());
            EXPECT_EQ(move.dropAction(), c.answered);
            QDropEvent drop(at, c.offered, &files, Qt::LeftButton, Qt::NoModifier);
            drop.setDropAction(move.dropAction());
            QApplication::sendEvent(thumbnails, &drop);
            EXPECT_EQ(drop.dropAction(), c.answered);
            EXPECT_TRUE(drop.isAccepted());
        }
        processEventsUntil([&] { return window->findChildren<OVNImportMedia *>().isEmpty(); }, waitCeilingMs);
        EXPECT_EQ(db.getEntryCountForCategory(loose, "C"), before + (taken ? 1 : 0));
        EXPECT_EQ(presenter->shown().size(), alerts) << qPrintable(alertTitles().join('\n'));
        EXPECT_TRUE(QFileInfo::exists(c.file));
        closeWindows();
        ASSERT_NO_FATAL_FAILURE(backInStaff());
        if (db.getCategoryForMID(loose)) {
            ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, loose, staff, "FULL ACCESS"));
        }
    }
}

// A sheet stands open while an administrator changes Ann's groups, then she confirms it: what goes
// out is asked then, and nothing of an entry she may no longer read is written anywhere.
TEST_P(CatalogUserAccessTest, ASheetConfirmedAfterAChangeHandsOnOnlyWhatIsStillReadable)
{
    twoMarkedEntries();
    // A mail program that lists what it was given in the case's folder.
    const QString stub = m_dir.filePath("stub-mail");
    const auto writeStub = [&stub](const QString &folder) {
        QFile script(stub);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + folder.toUtf8() + "/args'\n");
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    };
    UserDefaults::standard().setString(stub, QStringLiteral("MailCommand"));
    // Each opens its sheet from the window (the sheet, or none), and later fills it in to write
    // below the folder and confirms it.
    const struct {
        const char *name;
        std::function<QDialog *(OVNAssetManager *)> open;
        std::function<void(QDialog *, const QString &folder)> confirm;
        QList<int> answers; // to the sheet's own alerts after the confirmation, when something goes
    } sheets[] = {
        {"export",
         [](OVNAssetManager *w) -> QDialog * {
             w->buttonExportImagesClick();
             return w->mediaView()->window()->findChild<OVNExportImagesSheet *>();
         },
         [](QDialog *dialog, const QString &folder) {
             auto *sheet = static_cast<OVNExportImagesSheet *>(dialog);
             sheet->folderField()->setText(folder);
             sheet->sizeSelector()->setCurrentIndex(OVNExportImages::unchangedCopyIndex);
             sheet->accept();
         },
         {}},
        {"e-mail",
         [](OVNAssetManager *w) -> QDialog * {
             w->buttonSendAsEmailClick();
             return w->mediaView()->window()->findChild<OVNSendImagesAsMailSheet *>();
         },
         [&writeStub](QDialog *dialog, const QString &folder) {
             writeStub(folder);
             static_cast<OVNSendImagesAsMailSheet *>(dialog)->sizeSelector()->setCurrentIndex(
                 OVNSendImagesAsMail::originalIndex);
             dialog->accept();
         },
         {}},
        {"web gallery",
         [](OVNAssetManager *w) -> QDialog * {
             w->buttonPublishToWebClick();
             return w->mediaView()->window()->findChild<OVNPublishToWebSheet *>();
         },
         [](QDialog *dialog, const QString &folder) {
             static_cast<OVNPublishToWebSheet *>(dialog)->folderField()->setText(folder);
             dialog->accept();
         },
         {1}}, // "Close" on the gallery's alert: no browser in a test
        {"disc image",
         [](OVNAssetManager *w) -> QDialog * {
             w->buttonBurnCDClick();
             return w->mediaView()->window()->findChild<OVNDiscBurnerSheet *>();
         },
         [](QDialog *dialog, const QString &folder) {
             QPointer<OVNDiscBurnerSheet> sheet = static_cast<OVNDiscBurnerSheet *>(dialog);
             sheet->useImageFile(QDir(folder).filePath("disc.iso"));
             ASSERT_TRUE(processEventsUntil([&] { return sheet && sheet->okButton()->isEnabled(); }, waitCeilingMs));
             sheet->okButton()->click();
         },
         {}},
    };
    int run = 0;
    for (const auto &sheet : sheets) {
        for (const Change &change : changes()) {
            SCOPED_TRACE(std::string(sheet.name) + ", " + change.name);
            const QString folder = m_dir.filePath(QStringLiteral("out%1").arg(++run));
            ASSERT_TRUE(QDir().mkpath(folder));
            OVNAssetManager *window = bothSelected();
            QPointer<QDialog> opened = sheet.open(window);
            ASSERT_TRUE(opened) << qPrintable(alertTitles().join('\n'));
            // The change comes while the sheet stands open with both entries.
            ASSERT_NO_FATAL_FAILURE(change.make(*this));
            const qsizetype alerts = presenter->shown().size();
            // The left-out alert takes the first answer (its one button), the sheet's own the rest.
            if (change.looseGoes && !sheet.answers.isEmpty()) {
                presenter->enqueueAnswers({0});
                for (int answer : sheet.answers)
                    presenter->enqueueAnswers({answer});
            }
            ASSERT_NO_FATAL_FAILURE(sheet.confirm(opened, folder));
            // A sheet ends with deleteLater, also straight from the confirmation.
            ASSERT_TRUE(processEventsUntil(
                [&] {
                    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                    return opened.isNull();
                },
                waitCeilingMs));
            const QByteArray written = everythingBelow(folder);
            EXPECT_FALSE(written.contains("tripsecret"));
            EXPECT_EQ(written.contains("loosefine"), change.looseGoes) << written.size() << " bytes";
            ASSERT_GT(presenter->shown().size(), alerts) << qPrintable(alertTitles().join('\n'));
            EXPECT_EQ(presenter->shown().at(alerts).message, change.alert) << qPrintable(alertTitles().join('\n'));
            ASSERT_NO_FATAL_FAILURE(undo());
        }
    }
}

// The adjustment window asks at its export, not only when it opened; once the catalog window it
// came from is closed, nothing can be asked and nothing is exported.
TEST_P(CatalogUserAccessTest, TheAdjustmentWindowsExportAsksAtTheExport)
{
    twoMarkedEntries();
    OVNCoreImageAdjustWindow::installFactory();
    std::vector<Change> cases = changes();
    cases.insert(cases.begin(), {"nothing changed", [](CatalogUserAccessTest &) {}, true, ""});
    cases.push_back({"its catalog window closed", [this](CatalogUserAccessTest &) { closeWindows(); }, false,
                     "Nothing was handed on."});
    int run = 0;
    for (const Change &change : cases) {
        SCOPED_TRACE(change.name);
        OVNAssetManager *window = annsWindow(secret);
        window->mediaView()->selectRow(0);
        window->menuAdjust();
        QPointer<OVNCoreImageAdjustWindow> adjust;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *found = qobject_cast<OVNCoreImageAdjustWindow *>(widget))
                adjust = found;
        ASSERT_TRUE(adjust);
        ASSERT_TRUE(processEventsUntil([&] { return adjust->preview()->hasImage(); }, waitCeilingMs));
        ASSERT_NO_FATAL_FAILURE(change.make(*this));
        const qsizetype alerts = presenter->shown().size();
        const QString target = m_dir.filePath(QStringLiteral("adjusted%1.jpg").arg(++run));
        // The picture is the one in Secret: it goes only while nothing changed.
        const bool goes = !*change.alert;
        EXPECT_EQ(adjust->exportImage(target, OVNCoreImageAdjustWindow::ExportFormat::Jpeg, 90), goes);
        EXPECT_EQ(QFileInfo::exists(target), goes);
        if (!goes) {
            ASSERT_EQ(presenter->shown().size(), alerts + 1) << qPrintable(alertTitles().join('\n'));
            EXPECT_EQ(presenter->shown().last().message, change.alert);
        }
        delete adjust.data();
        ASSERT_NO_FATAL_FAILURE(undo());
    }
    OVNCoreImageAdjust::setFactory(nullptr);
}

// A drag of the selection to another program carries only the files Ann may still read, asked as
// the drag starts; nothing is dragged when she may read none of them.
TEST_P(CatalogUserAccessTest, ADragOutCarriesOnlyWhatIsStillReadable)
{
    twoMarkedEntries();
    std::vector<Change> cases = changes();
    cases.insert(cases.begin(), {"nothing changed", [](CatalogUserAccessTest &) {}, true, ""});
    for (const Change &change : cases) {
        SCOPED_TRACE(change.name);
        OVNAssetManager *window = bothSelected();
        ASSERT_NO_FATAL_FAILURE(change.make(*this));
        const qsizetype alerts = presenter->shown().size();
        // From the row of the entry that goes first, then from the other.
        for (int row : {0, 1}) {
            const std::unique_ptr<QMimeData> data = window->mediaView()->dragContents(row);
            QStringList names;
            if (data) {
                for (const QString &path : OVNMediaPasteboard::read(data.get(), QByteArray()).paths)
                    names.append(QFileInfo(path).completeBaseName());
                names.sort();
            }
            const QStringList expected = QString::fromLatin1(change.alert).isEmpty()
                                             ? QStringList{"loosefine", "tripsecret"}
                                             : (change.looseGoes ? QStringList{"loosefine"} : QStringList());
            EXPECT_EQ(names, expected) << row;
            EXPECT_EQ(bool(data), !expected.isEmpty()) << row;
        }
        if (*change.alert) {
            ASSERT_EQ(presenter->shown().size(), alerts + 2) << qPrintable(alertTitles().join('\n'));
            EXPECT_EQ(presenter->shown().last().message, change.alert);
        } else {
            EXPECT_EQ(presenter->shown().size(), alerts) << qPrintable(alertTitles().join('\n'));
        }
        ASSERT_NO_FATAL_FAILURE(undo());
    }
}

// Every window that shows entries or hands them on asks the read rule at that moment, through the
// output roads' own question: the light table (what its roll shows when it opens, a drag out of the
// roll, the whole picture in its pane, its Reveal in File Manager), the slide show, Reveal in File
// Manager, the adjustment window opened from the catalog window or from the image viewer, the
// image and movie viewers' Reveal in File Manager, and the express panel's roads (its buttons, a
// double-click, a drag out, and the viewers it opens). An entry no longer readable is left out and named in one alert;
// a user in no group gets the start-up words and nothing is shown or handed on. Each road answers the names it showed
// or handed on; `asks` is how many questions it asks (each may alert when nothing may go).
TEST_P(CatalogUserAccessTest, EveryWindowThatShowsOrHandsOnEntriesAsksAtThatMoment)
{
    twoMarkedEntries();
    OVNCoreImageAdjustWindow::installFactory();
    OVNImageViewerDocuments imageViewers;
    OVNViewerDocuments::setShared(&imageViewers);
    FolderRecorder folders;
    QDesktopServices::setUrlHandler("file", &folders, "open");
    // A file manager on the session bus is asked instead of opening folders: not watched here.
    const bool foldersOpen = Workspace::revealFiles({m_dir.filePath("pictures/x.jpg")})
                             == Workspace::RevealResult::Folder;
    const auto cleanUp = qScopeGuard([] {
        QDesktopServices::unsetUrlHandler("file");
        OVNViewerDocuments::setShared(nullptr);
        OVNCoreImageAdjust::setFactory(nullptr);
        for (const char *key : {"DefaultViewerType", "DefaultViewerApplication"})
            UserDefaults::standard().removeObjectForKey(QString::fromLatin1(key));
    });
    // The program's controller, whose viewers the express panel opens with.
    UserDefaults controllerDefaults;
    OVNDocumentController controller(controllerDefaults);
    controller.setViewerDocuments(&imageViewers);
    // A program chosen to open files with: it notes each file it is given.
    const QString launched = m_dir.filePath("launched.txt");
    const QString program = m_dir.filePath("note-file.sh");
    {
        QFile script(program);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$1\" >> '" + launched.toUtf8() + "'\n");
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
    }
    // Movies beside the entries' pictures, for the movie viewer.
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    for (const char *name : {"loosefine", "tripsecret"}) {
        if (ffmpeg.isEmpty())
            break;
        QProcess make;
        make.start(ffmpeg, {"-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10", "-t", "1",
                            "-pix_fmt", "yuv420p",
                            m_dir.filePath(QStringLiteral("pictures/%1/%1.mp4").arg(QLatin1String(name)))});
        ASSERT_TRUE(make.waitForFinished(120000) && make.exitCode() == 0);
    }

    using Make = std::function<void()>;
    using Road = std::function<QStringList(CatalogUserAccessTest &, OVNAssetManager *, const Make &)>;
    const auto sorted = [](QStringList names) {
        names.sort();
        return names;
    };
    const auto rollNames = [](OVNLightTable *table) {
        QStringList names;
        for (int row = 0; row < table->roll()->count(); ++row)
            names.append(table->roll()->mediaObject("displaytag", row).toString());
        return names;
    };
    const auto openTable = [](OVNAssetManager *w) {
        QPointer<OVNLightTable> table = w->openLightTable();
        if (table) {
            table->roll()->selectRow(0);
            table->roll()->selectRow(1);
        }
        return table;
    };
    // Exports each adjustment window after the change; the names of those that wrote a file.
    const auto exported = [this](const QList<QPair<QString, QPointer<OVNCoreImageAdjustWindow>>> &windows) {
        QStringList names;
        int n = 0;
        for (const auto &[name, adjust] : windows) {
            if (!adjust)
                continue;
            const QString target = m_dir.filePath(QStringLiteral("out/%1-%2.jpg").arg(name).arg(++n));
            QDir().mkpath(QFileInfo(target).path());
            if (adjust->exportImage(target, OVNCoreImageAdjustWindow::ExportFormat::Jpeg, 90)
                && QFileInfo::exists(target))
                names.append(name);
            delete adjust.data();
        }
        names.sort();
        return names;
    };
    const auto adjustWindows = [] {
        QList<QPointer<OVNCoreImageAdjustWindow>> found;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *adjust = qobject_cast<OVNCoreImageAdjustWindow *>(widget))
                found.append(adjust);
        return found;
    };
    // The express panel over a connection of Ann's own, with the window's entries as found
    // results, both selected.
    const auto expressPanel = [this](OVNAssetManager *w) {
        auto panel = std::make_unique<OVNExpressPanel>();
        auto connection = std::shared_ptr<OVNDatabaseAccess>(openAnother());
        signInAsAnn(*connection);
        panel->setDatabaseConnection(connection);
        panel->mediaView()->setMediaContainer(std::make_shared<MediaList>(w->mediaView()->mediaContainer()));
        panel->mediaView()->selectRow(0);
        panel->mediaView()->selectRow(1);
        return panel;
    };
    // The image viewers open, by their entries' names; closes them.
    const auto closeImageViewers = [&] {
        QStringList names;
        for (OVNImageViewer *viewer : imageViewers.documents()) {
            names.append(QFileInfo(viewer->path()).completeBaseName());
            delete viewer;
        }
        return sorted(names);
    };
    // Reveal in File Manager in each image viewer open, then closes them; the folders shown.
    const auto revealInImageViewers = [&](const Make &change) {
        const QList<OVNImageViewer *> open = imageViewers.documents();
        EXPECT_EQ(open.size(), 2);
        change();
        folders.opened.clear();
        for (OVNImageViewer *viewer : open) {
            viewer->buttonRevealInFinderClick();
            delete viewer;
        }
        return folders.names();
    };
    const struct {
        const char *name;
        int asks;
        Road road;
    } roads[] = {
        {"light table, its roll as it opens", 1,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             change();
             QPointer<OVNLightTable> table = w->openLightTable();
             const QStringList names = table ? rollNames(table) : QStringList();
             delete table.data();
             return sorted(names);
         }},
        {"light table, a drag out of its roll", 1,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             QPointer<OVNLightTable> table = openTable(w);
             EXPECT_EQ(rollNames(table).size(), 2);
             change();
             QStringList names;
             if (const std::unique_ptr<QMimeData> data = table->roll()->dragContents(0)) {
                 for (const QString &path : OVNMediaPasteboard::read(data.get(), QByteArray()).paths)
                     names.append(QFileInfo(path).completeBaseName());
             }
             delete table.data();
             return sorted(names);
         }},
        {"light table, the picture in its pane", 2,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             QPointer<OVNLightTable> table = openTable(w);
             EXPECT_GE(table->selectedPane(), 0);
             change();
             QStringList names;
             for (int row = 0; row < table->roll()->count(); ++row) {
                 table->roll()->selectImage(row, true, false);
                 table->ovnMediaViewSelectionDidChange(table->roll());
                 if (!table->mediaPath().isEmpty())
                     names.append(table->roll()->mediaObject("displaytag", row).toString());
             }
             OVNImageLoader::waitForAll();
             delete table.data();
             return sorted(names);
         }},
        {"light table, Reveal in File Manager", 1,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             QPointer<OVNLightTable> table = openTable(w);
             change();
             folders.opened.clear();
             table->roll()->revealInFinder();
             delete table.data();
             return folders.names();
         }},
        {"slide show", 1,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             change();
             w->buttonPlayClick();
             QStringList names;
             for (QWidget *widget : QApplication::topLevelWidgets()) {
                 auto *screen = qobject_cast<OVNFullScreenWindow *>(widget);
                 auto *show = screen ? dynamic_cast<OVNSlideShow *>(screen->delegate()) : nullptr;
                 if (!show || !show->isRunning())
                     continue;
                 for (const OVNSlideShow::Slide &slide : show->slides())
                     names.append(QFileInfo(slide.path).completeBaseName());
                 show->stopSlideShow();
             }
             QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
             return sorted(names);
         }},
        {"Reveal in File Manager", 1,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             change();
             folders.opened.clear();
             w->categoryActions().buttonRevealInFinderClick();
             return folders.names();
         }},
        {"adjustment window from the catalog window", 2,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             w->menuAdjust();
             QList<QPair<QString, QPointer<OVNCoreImageAdjustWindow>>> windows;
             for (const QPointer<OVNCoreImageAdjustWindow> &adjust : adjustWindows()) {
                 EXPECT_TRUE(processEventsUntil([&] { return adjust->preview()->hasImage(); }, waitCeilingMs));
                 windows.append({QFileInfo(adjust->fileName()).completeBaseName(), adjust});
             }
             EXPECT_EQ(windows.size(), 2);
             change();
             return exported(windows);
         }},
        {"adjustment window from the image viewer", 2,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             w->openMedia(w->mediaView(), 0, QString());
             QList<QPair<QString, QPointer<OVNCoreImageAdjustWindow>>> windows;
             for (OVNImageViewer *viewer : imageViewers.documents()) {
                 EXPECT_TRUE(processEventsUntil([&] { return viewer->isLoaded(); }, waitCeilingMs));
                 const QList<QPointer<OVNCoreImageAdjustWindow>> before = adjustWindows();
                 viewer->menuAdjust();
                 for (const QPointer<OVNCoreImageAdjustWindow> &adjust : adjustWindows())
                     if (!before.contains(adjust))
                         windows.append({QFileInfo(viewer->path()).completeBaseName(), adjust});
                 delete viewer;
             }
             EXPECT_EQ(windows.size(), 2);
             change();
             return exported(windows);
         }},
        {"image viewer, Reveal in File Manager", 2,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             w->openMedia(w->mediaView(), 0, QString());
             return revealInImageViewers(change);
         }},
        {"movie viewer, Reveal in File Manager", 2,
         [&](CatalogUserAccessTest &t, OVNAssetManager *, const Make &change) {
             // The same entries as movies, in a window that shows them so.
             const auto pointAt = [&](const char *from, const char *to) {
                 EXPECT_TRUE(db.runSQLCommand(QStringLiteral("update strvfile set absolutepath = "
                                                             "replace(absolutepath, '%1', '%2')")
                                                  .arg(QLatin1String(from), QLatin1String(to))));
             };
             pointAt(".jpg", ".mp4");
             OVNAssetManager *movies = t.bothSelected();
             movies->openMedia(movies->mediaView(), 0, QString());
             pointAt(".mp4", ".jpg");
             const QList<OVNMediaViewer *> open = imageViewers.movieDocuments();
             EXPECT_EQ(open.size(), 2);
             for (OVNMediaViewer *viewer : open)
                 EXPECT_TRUE(processEventsUntil([&] { return viewer->isMovie(); }, waitCeilingMs));
             change();
             folders.opened.clear();
             for (OVNMediaViewer *viewer : open) {
                 viewer->buttonRevealInFinderClick();
                 delete viewer;
             }
             return folders.names();
         }},
        {"express panel, Open", 1,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             const auto panel = expressPanel(w);
             OVNExpressOpening opening(controller, *panel);
             panel->setOpening(&opening);
             change();
             EXPECT_TRUE(panel->buttonOpenWithMediaViewerClick());
             return closeImageViewers();
         }},
        {"express panel, Full Screen", 2,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             const auto panel = expressPanel(w);
             OVNExpressOpening opening(controller, *panel);
             panel->setOpening(&opening);
             change();
             for (int row : {0, 1}) {
                 panel->mediaView()->deselectAll();
                 panel->mediaView()->selectRow(row);
                 EXPECT_TRUE(panel->buttonOpenWithMediaViewerFSClick());
             }
             // A picture opened in full screen is a show of that one picture.
             QStringList shown = closeImageViewers();
             for (OVNSlideShow *show : qApp->findChildren<OVNSlideShow *>(Qt::FindDirectChildrenOnly)) {
                 for (const OVNSlideShow::Slide &slide : show->slides())
                     shown.append(QFileInfo(slide.path).completeBaseName());
                 delete show;
             }
             return sorted(shown);
         }},
        {"express panel, a double-click opening a chosen program", 1,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             const auto panel = expressPanel(w);
             OVNExpressOpening opening(controller, *panel);
             panel->setOpening(&opening);
             UserDefaults::standard().setInteger(2, "DefaultViewerType");
             UserDefaults::standard().setString(program, "DefaultViewerApplication");
             QFile::remove(launched);
             change();
             panel->ovnMediaViewDoubleClickWithModifierFlag(panel->mediaView(), Qt::NoModifier);
             // The programs run on their own: waited for until both files are noted, or for a while
             // when fewer were handed on.
             QStringList names;
             processEventsUntil(
                 [&] {
                     QFile file(launched);
                     names.clear();
                     if (file.open(QIODevice::ReadOnly)) {
                         for (const QByteArray &line : file.readAll().split('\n'))
                             if (!line.isEmpty())
                                 names.append(QFileInfo(QString::fromUtf8(line)).completeBaseName());
                     }
                     return names.size() >= 2;
                 },
                 waitCeilingMs);
             return sorted(names);
         }},
        {"express panel, Reveal in File Manager", 1,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             const auto panel = expressPanel(w);
             OVNExpressOpening opening(controller, *panel);
             panel->setOpening(&opening);
             change();
             folders.opened.clear();
             panel->buttonRevealInFinderClick();
             return folders.names();
         }},
        {"express panel, a drag out of its results", 1,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             const auto panel = expressPanel(w);
             OVNExpressOpening opening(controller, *panel);
             panel->setOpening(&opening);
             change();
             QStringList names;
             if (const std::unique_ptr<QMimeData> data = panel->mediaView()->dragContents(0)) {
                 for (const QString &path : OVNMediaPasteboard::read(data.get(), QByteArray()).paths)
                     names.append(QFileInfo(path).completeBaseName());
             }
             return sorted(names);
         }},
        {"express panel, Reveal in File Manager in the image viewer it opened", 2,
         [&](CatalogUserAccessTest &, OVNAssetManager *w, const Make &change) {
             const auto panel = expressPanel(w);
             OVNExpressOpening opening(controller, *panel);
             panel->setOpening(&opening);
             EXPECT_TRUE(panel->buttonOpenWithMediaViewerClick());
             return revealInImageViewers(change);
         }},
    };
    std::vector<Change> cases = changes();
    cases.insert(cases.begin(), {"nothing changed", [](CatalogUserAccessTest &) {}, true, ""});
    for (const auto &road : roads) {
        const bool reveals = QString::fromLatin1(road.name).contains("Reveal");
        if (reveals && !foldersOpen)
            continue;
        if (QString::fromLatin1(road.name).contains("movie") && ffmpeg.isEmpty())
            continue;
        for (const Change &change : cases) {
            SCOPED_TRACE(std::string(road.name) + ", " + change.name);
            OVNAssetManager *window = bothSelected();
            const qsizetype alerts = presenter->shown().size();
            const QStringList names = road.road(*this, window, [&] { change.make(*this); });
            const bool nothingChanged = !*change.alert;
            const QStringList expected = nothingChanged     ? QStringList{"loosefine", "tripsecret"}
                                         : change.looseGoes ? QStringList{"loosefine"}
                                                            : QStringList();
            EXPECT_EQ(names, expected);
            const qsizetype said = nothingChanged ? 0 : change.looseGoes ? 1 : road.asks;
            ASSERT_EQ(presenter->shown().size(), alerts + said) << qPrintable(alertTitles().join('\n'));
            if (said > 0) {
                EXPECT_EQ(presenter->shown().last().message, change.alert);
                if (!change.looseGoes) {
                    EXPECT_TRUE(presenter->shown().last().informativeText.contains("belongs to no group"))
                        << qPrintable(lastAlertText());
                } else {
                    EXPECT_TRUE(presenter->shown().last().informativeText.endsWith("tripsecret"))
                        << qPrintable(lastAlertText());
                }
            }
            ASSERT_NO_FATAL_FAILURE(undo());
        }
    }
}

} // namespace

// A file dropped on the thumbnails through a session that ends on the way (at the drag's check,
// at the making of the drop's collection with its answer lost, at the import's commit with its
// answer lost): the drop goes on on a new session, the source hears a copy, and the catalog holds
// the file once, in one collection made for it, and nothing is said.
TEST_P(CatalogUserAccessTest, AFileDropThroughEndedSessionsAnswersWhatTheCatalogHolds)
{
    const PgTestServer server = *pgTestServer();
    const struct {
        const char *name;
        const char *statement;
        SessionCutProxy::How how;
        bool intoFolder; // a new collection is made for the file
    } cuts[] = {
        {"the check's session ended", "select comment from strvcategory", SessionCutProxy::How::Dropped, false},
        {"the collection's insert, answer lost", "insert into strvcategory", SessionCutProxy::How::AnswerLost, true},
        {"the collection's commit, answer lost", "COMMIT", SessionCutProxy::How::AnswerLost, true},
        {"the import's commit, answer lost", "COMMIT", SessionCutProxy::How::AnswerLost, false},
    };
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.name);
        SessionCutProxy proxy(server.port, {});
        auto connection = std::make_shared<OVNDatabaseAccess>();
        connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                         server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(connection->openDBConnection());
        signInAsAnn(*connection);
        OVNAssetManager *window = loadWindow(connection);
        ASSERT_TRUE(window->selectCategory(c.intoFolder ? shelf : loose));
        const int collectionsBefore = int(db.getCategoryListForMID(shelf).size());
        const int copiesBefore =
            db.rowsForQuery("select count(*) from strvfile where absolutepath=$1", {picture}).value(0).value(0).toInt();
        const qsizetype alerts = presenter->shown().size();
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(picture)});
        QWidget *thumbnails = window->mediaView()->viewport();
        const QPoint at = thumbnails->rect().center();
        proxy.cutAt(c.statement, 1, c.how);
        QDragEnterEvent enter(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        enter.setDropAction(Qt::CopyAction);
        QApplication::sendEvent(thumbnails, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        drop.setDropAction(Qt::CopyAction);
        QApplication::sendEvent(thumbnails, &drop);
        processEventsUntil([&] { return window->findChildren<OVNImportMedia *>().isEmpty(); }, waitCeilingMs);
        EXPECT_EQ(proxy.cuts(), 1);
        EXPECT_TRUE(drop.isAccepted());
        EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
        EXPECT_EQ(
            db.rowsForQuery("select count(*) from strvfile where absolutepath=$1", {picture}).value(0).value(0).toInt(),
            copiesBefore + 1);
        EXPECT_EQ(int(db.getCategoryListForMID(shelf).size()), collectionsBefore + (c.intoFolder ? 1 : 0));
        EXPECT_EQ(presenter->shown().size(), alerts) << qPrintable(alertTitles().join('\n'));
        closeWindows();
    }
}

// A rating and a turn made in the window while the server restarts (down, back three seconds
// later): the window waits, saying so in its status line, and stores both; no alert is shown.
TEST_P(CatalogUserAccessTest, ARatingAndATurnMadeWhileTheServerRestartsAreStored)
{
    const PgTestServer server = *pgTestServer();
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, trip, staff, "READ & WRITE"));
    QImage picture(32, 24, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const QString turned = entriesWithThumbnail(trip, {QStringLiteral("turned")}, jpegBytes(picture)).first();
    SessionCutProxy proxy(server.port, {});
    auto connection = std::make_shared<OVNDatabaseAccess>();
    connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
    ASSERT_TRUE(connection->openDBConnection());
    signInAsAnn(*connection);
    OVNAssetManager *window = loadWindow(connection);
    ASSERT_NO_FATAL_FAILURE(selectEntry(window, trip, turned));
    const QString orientation = stored(turned, "orientation");
    const qsizetype alerts = presenter->shown().size();
    for (const bool turning : {false, true}) {
        SCOPED_TRACE(turning ? "turn" : "rating");
        proxy.goDown();
        std::thread restart([&proxy] {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            proxy.comeBack();
        });
        if (turning)
            window->menuRotateRight();
        else
            window->menuSetRating(3);
        restart.join();
    }
    EXPECT_EQ(stored(turned, "rating"), "3");
    EXPECT_EQ(stored(turned, "orientation"), QString::number(OVNEntryEdits::orientationAfterQuarterTurn(
                                                 orientation.toInt(), OVNEntryEdits::QuarterTurn::Right)));
    EXPECT_EQ(presenter->shown().size(), alerts) << qPrintable(lastAlertText());
    EXPECT_FALSE(window->statusText().contains(OVNCatalogOpening::waitingText())) << qPrintable(window->statusText());
}

#include "CatalogUserAccessTest.moc"

// A text typed in the details pane and a category renamed in place, through a session that ends
// before the write, with the write's answer lost, and with the commit's answer lost: each is
// stored once, the pane keeps no unsaved mark, and nothing is said.
TEST_P(CatalogUserAccessTest, DetailsAndRenamesThroughEndedSessionsAreSavedAndSaidSo)
{
    ASSERT_NO_FATAL_FAILURE(grantAll("FULL ACCESS"));
    const PgTestServer server = *pgTestServer();
    const struct {
        const char *name;
        bool rename;
        const char *statement;
        SessionCutProxy::How how;
    } cuts[] = {
        {"details, the write cut", false, "update strvfile", SessionCutProxy::How::Dropped},
        {"details, the write's answer lost", false, "update strvfile", SessionCutProxy::How::AnswerLost},
        {"rename, the write cut", true, "update strvcategory", SessionCutProxy::How::Dropped},
        {"rename, the commit's answer lost", true, "COMMIT", SessionCutProxy::How::AnswerLost},
    };
    int round = 0;
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.name);
        SessionCutProxy proxy(server.port, {});
        auto connection = std::make_shared<OVNDatabaseAccess>();
        connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                         server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(connection->openDBConnection());
        signInAsAnn(*connection);
        OVNAssetManager *window = loadWindow(connection);
        ASSERT_TRUE(window->selectCategory(trip));
        const qsizetype alerts = presenter->shown().size();
        const QString text = QStringLiteral("typed %1").arg(++round);
        proxy.cutAt(c.statement, 1, c.how);
        if (c.rename) {
            EXPECT_TRUE(window->renameCategory(loose, text));
            EXPECT_EQ(db.rowsForQuery("select displaytag from strvcategory where mid=$1", {loose}).value(0).value(0),
                      text);
        } else {
            window->detailsDataSource()->ovnMediaDetailsSetStringForID(window->mediaDetails(), text, "keywords",
                                                                       tripEntry);
            EXPECT_EQ(db.getMediaListEntryForMediaID(tripEntry, "keywords"), text);
            EXPECT_EQ(window->mediaDetails()->unsavedField(), nullptr);
        }
        EXPECT_EQ(presenter->shown().size(), alerts) << qPrintable(alertTitles().join('\n'));
    }
}

// A watched folder's and a smart folder's comment written through a session that ends at the
// write, and with the write's answer lost: each goes again on a new session, the folder is made
// once with its comment, and nothing is said.
TEST_P(CatalogUserAccessTest, CategoryCommentsThroughEndedSessionsAreSavedAndSaidSo)
{
    ASSERT_NO_FATAL_FAILURE(grantAll("FULL ACCESS"));
    const PgTestServer server = *pgTestServer();
    // Any search will do: the smart folder keeps the settings it was made from.
    class Nothing : public OVNSmartFolderSearch
    {
    public:
        QString searchClause(const QVariantMap &, const QList<Catalog> &, bool, QString *) const override
        {
            return OVNDBHelper::mediaSelect() + " where 1=0";
        }
    };
    OVNSmartFolders::setSearch(std::make_shared<Nothing>());
    const auto searchGone = qScopeGuard([] { OVNSmartFolders::setSearch(nullptr); });
    const QVariantMap settings = {{"CATALOG", "0"}, {"LINES", QVariantList{QVariantMap{{"VALUE", "kept"}}}}};
    const QString stars = category("Stars", "I");
    ASSERT_TRUE(db.updateCategoryListComment(stars, OVNCategoryComment::textForm(settings)));
    const struct {
        const char *name;
        bool smart;
        SessionCutProxy::How how;
    } cuts[] = {
        {"watched folder, the write cut", false, SessionCutProxy::How::Dropped},
        {"watched folder, the write's answer lost", false, SessionCutProxy::How::AnswerLost},
        {"smart folder, the write cut", true, SessionCutProxy::How::Dropped},
        {"smart folder, the write's answer lost", true, SessionCutProxy::How::AnswerLost},
    };
    int round = 0;
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.name);
        SessionCutProxy proxy(server.port, {});
        auto connection = std::make_shared<OVNDatabaseAccess>();
        connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                         server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(connection->openDBConnection());
        signInAsAnn(*connection);
        OVNAssetManager *window = loadWindow(connection);
        const QString name = QStringLiteral("folder %1").arg(++round);
        const qsizetype alerts = presenter->shown().size();
        QString mid;
        QString expected;
        if (c.smart) {
            ASSERT_TRUE(window->selectCategory(stars));
            ASSERT_EQ(window->lastSearchSettings(), settings);
            expected = OVNCategoryComment::textForm(settings);
            proxy.cutAt("update strvcategory set comment", 1, c.how);
            mid = window->saveSmartFolder(name);
        } else {
            const QString folder = m_dir.filePath(name);
            ASSERT_TRUE(QDir().mkpath(folder));
            expected = OVNCategoryComment::textForm({{"SURVEILLANCEFOLDER", QDir::cleanPath(folder)}});
            proxy.cutAt("update strvcategory set comment", 1, c.how);
            mid = window->categoryActions().addSurveillanceFolder(folder);
            processEventsUntil([&] { return window->findChildren<OVNImportMedia *>().isEmpty(); }, waitCeilingMs);
        }
        EXPECT_EQ(proxy.cuts(), 1);
        EXPECT_FALSE(mid.isEmpty());
        const auto rows = db.rowsForQuery("select mid, comment from strvcategory where displaytag=$1", {name});
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows.first().value(0).toString(), mid);
        EXPECT_EQ(rows.first().value(1).toString(), expected);
        EXPECT_EQ(presenter->shown().size(), alerts) << qPrintable(alertTitles().join('\n'));
        closeWindows();
    }
}

// Privileges that give up the user's own full access, saved through a session that ends at the
// write and with the commit's answer lost: the save goes again on a new session, finds a list
// already stored as asked, and says saved, with no alert but the question asked first.
TEST_P(CatalogUserAccessTest, PrivilegesSavedThroughEndedSessionsAreSavedAndSaidSo)
{
    ASSERT_NO_FATAL_FAILURE(grantAll("FULL ACCESS"));
    const PgTestServer server = *pgTestServer();
    const struct {
        const char *name;
        const char *statement;
        SessionCutProxy::How how;
    } cuts[] = {
        {"the write cut", "update strvcategory set comment", SessionCutProxy::How::Dropped},
        {"the write's answer lost", "update strvcategory set comment", SessionCutProxy::How::AnswerLost},
        {"the commit's answer lost", "COMMIT", SessionCutProxy::How::AnswerLost},
    };
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, trip, staff, "FULL ACCESS"));
        const QString before = *db.getCategoryCommentForMID(trip);
        SessionCutProxy proxy(server.port, {});
        OVNDatabaseAccess connection;
        connection.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                        server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(connection.openDBConnection());
        signInAsAnn(connection);
        OVNPrivilegeListEditor editor(&connection, *presenter);
        ASSERT_TRUE(editor.open(trip));
        editor.setLevel(editor.rowForGroup(staff), 2); // READ ONLY: Ann's full access goes
        const qsizetype alerts = presenter->shown().size();
        presenter->enqueueAnswers({1}); // save anyway
        proxy.cutAt(c.statement, 1, c.how);
        EXPECT_TRUE(editor.save());
        EXPECT_EQ(proxy.cuts(), 1);
        EXPECT_EQ(*db.getCategoryCommentForMID(trip), OVNCategoryComment::withPrivileges(before, editor.entries()));
        ASSERT_EQ(presenter->shown().size(), alerts + 1) << qPrintable(alertTitles().join('\n'));
        EXPECT_EQ(presenter->shown().last().message, OVNPrivilegeListEditor::losingFullAccessText());
    }
}

// The details pane's purchase rows read through a session that ends at the read: they are read
// on a new session and shown, and nothing is said.
TEST_P(CatalogUserAccessTest, DetailsReadThroughAnEndedSessionShowWhatIsStored)
{
    ASSERT_NO_FATAL_FAILURE(grantAll("FULL ACCESS"));
    ASSERT_TRUE(db.updatePurchasedEntry(tripEntry, "owner", "Harbour Co"));
    const PgTestServer server = *pgTestServer();
    SessionCutProxy proxy(server.port, {});
    auto connection = std::make_shared<OVNDatabaseAccess>();
    connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
    ASSERT_TRUE(connection->openDBConnection());
    signInAsAnn(*connection);
    OVNAssetManager *window = loadWindow(connection);
    ASSERT_TRUE(window->selectCategory(trip));
    window->mediaView()->selectImage(window->mediaView()->rowForMid(tripEntry));
    const qsizetype alerts = presenter->shown().size();
    proxy.cutAt("from strvpurchased", 1, SessionCutProxy::How::Dropped);
    window->mediaView()->notifySelectionDidChange();
    EXPECT_EQ(window->detailsDataSource()->ovnMediaDetailsPurchasedForID(window->mediaDetails(), "owner"),
              "Harbour Co");
    EXPECT_EQ(presenter->shown().size(), alerts) << qPrintable(alertTitles().join('\n'));
}

namespace {
// Brings the proxy's server back two seconds after it went away (once), and ends with the test.
class ComesBackLater
{
public:
    explicit ComesBackLater(SessionCutProxy &proxy)
        : m_thread([this, &proxy] {
              while (!m_over && !proxy.isDown())
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              if (m_over)
                  return;
              std::this_thread::sleep_for(std::chrono::seconds(2));
              proxy.comeBack();
          })
    {}
    ~ComesBackLater()
    {
        m_over = true;
        m_thread.join();
    }
    ComesBackLater(const ComesBackLater &) = delete;
    ComesBackLater &operator=(const ComesBackLater &) = delete;

private:
    std::atomic<bool> m_over{false};
    std::thread m_thread;
};
} // namespace

// The window's reads to show a category, through a server that goes away at the read (and comes
// back two seconds later) and with the read's answer lost: the list, the privileges of its entries,
// the category tree, a thumbnail preloaded with the list, drawn in its cell or asked for the
// preview, and the check of what may go out to an output. Each is read on a new session: the entries and their
// thumbnail are shown, the status line says "Waiting for the catalog server..." while the server is away, and no alert
// comes.
TEST_P(CatalogUserAccessTest, TheWindowsReadsThroughEndedSessionsShowWhatIsStored)
{
    ASSERT_NO_FATAL_FAILURE(grantAll("FULL ACCESS"));
    const QString pictured =
        entriesWithThumbnail(trip, {QStringLiteral("pictured")}, filledJpeg({16, 12}, Qt::red)).first();
    const PgTestServer server = *pgTestServer();
    enum class Road { List, Tree, Preloaded, Drawn, Preview, Output };
    const struct {
        const char *name;
        Road road;
        const char *statement;
        int nth;
        SessionCutProxy::How how;
    } cuts[] = {
        {"the list, server away", Road::List, "from strvfile mf", 1, SessionCutProxy::How::Down},
        {"the list, answer lost", Road::List, "from strvfile mf", 1, SessionCutProxy::How::AnswerLost},
        {"the entries' privileges, server away", Road::List, "select comment from strvcategory", 2,
         SessionCutProxy::How::Down},
        {"the tree, server away", Road::Tree, "select mid, displaytag, comment from strvcategory", 1,
         SessionCutProxy::How::Down},
        {"a preloaded thumbnail, server away", Road::Preloaded, "select thumbimage", 1, SessionCutProxy::How::Down},
        {"a drawn thumbnail, server away", Road::Drawn, "select thumbimage", 1, SessionCutProxy::How::Down},
        {"a drawn thumbnail, answer lost", Road::Drawn, "select thumbimage", 1, SessionCutProxy::How::AnswerLost},
        {"the preview's thumbnail, server away", Road::Preview, "select thumbimage", 1, SessionCutProxy::How::Down},
        {"an output's check, server away", Road::Output, "from strvgroupusers", 1, SessionCutProxy::How::Down},
    };
    const auto preloadGone =
        qScopeGuard([] { UserDefaults::standard().removeObjectForKey(QStringLiteral("AssetBackgroundLoader")); });
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.name);
        UserDefaults::standard().setBool(c.road == Road::Preloaded, QStringLiteral("AssetBackgroundLoader"));
        SessionCutProxy proxy(server.port, {});
        auto connection = std::make_shared<OVNDatabaseAccess>();
        connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                         server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(connection->openDBConnection());
        signInAsAnn(*connection);
        OVNAssetManager *window = loadWindow(connection);
        if (c.road == Road::Drawn)
            window->show();
        ASSERT_TRUE(window->selectCategory(loose));
        QStringList said;
        QObject::connect(window, &OVNAssetManager::statusShown, window,
                         [&said](const QString &text) { said.append(text); });
        const qsizetype alerts = presenter->shown().size();
        const ComesBackLater restart(proxy);
        if (c.road == Road::Output) {
            ASSERT_TRUE(window->selectCategory(trip));
        }
        proxy.cutAt(c.statement, c.nth, c.how);
        if (c.road == Road::Output) {
            const MediaList shown = window->mediaView()->mediaContainer();
            const std::optional<MediaList> going = window->readableForOutput(shown);
            ASSERT_TRUE(going.has_value());
            EXPECT_EQ(going->size(), shown.size());
        } else if (c.road == Road::Tree) {
            window->reload();
            EXPECT_NE(window->categoryModel()->itemForMid(trip), nullptr);
        } else {
            EXPECT_TRUE(window->selectCategory(trip));
            EXPECT_GE(window->mediaView()->rowForMid(tripEntry), 0);
        }
        const int row = window->mediaView()->rowForMid(pictured);
        switch (c.road) {
        case Road::List:
            EXPECT_GE(row, 0);
            EXPECT_EQ(window->statusText(), "2 Items");
            break;
        case Road::Tree:
        case Road::Output:
            break;
        case Road::Preloaded:
            EXPECT_GT(window->mediaView()->thumbnailCacheCount(), 0);
            break;
        case Road::Drawn:
            processEventsUntil([&] { return window->mediaView()->thumbnailCacheCount() > 0; }, waitCeilingMs);
            EXPECT_GT(window->mediaView()->thumbnailCacheCount(), 0);
            break;
        case Road::Preview:
            ASSERT_GE(row, 0);
            EXPECT_FALSE(window->mediaView()->imageForRow(row).isNull());
            break;
        }
        EXPECT_EQ(proxy.cuts(), 1);
        EXPECT_EQ(said.contains(OVNCatalogOpening::waitingText()), c.how == SessionCutProxy::How::Down)
            << qPrintable(said.join('|'));
        EXPECT_FALSE(window->statusText().contains(OVNCatalogOpening::waitingText()));
        EXPECT_EQ(presenter->shown().size(), alerts) << qPrintable(alertTitles().join('\n'));
        closeWindows();
    }
}

// A category deleted while the server is away (it goes at the count of its entries read before
// the question, or at the deletion on the maintenance worker's connection, and comes back two
// seconds later): the window's status line says "Waiting for the catalog server..." while it waits;
// the category is deleted, no alert.
TEST_P(CatalogUserAccessTest, ACategoryDeletedWhileTheServerIsAwaySaysItWaits)
{
    ASSERT_NO_FATAL_FAILURE(grantAll("FULL ACCESS"));
    const PgTestServer server = *pgTestServer();
    const struct {
        const char *name;
        const char *statement;
    } cuts[] = {
        {"the count before the question", "select count(*) from strvfile where categoryid"},
        {"the deletion on the worker's connection", "delete from strvcategory"},
    };
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.name);
        const QString doomed = category("Doomed", "C");
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, doomed, staff, "FULL ACCESS"));
        SessionCutProxy proxy(server.port, {});
        auto connection = std::make_shared<OVNDatabaseAccess>();
        connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                         server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(connection->openDBConnection());
        signInAsAnn(*connection);
        OVNAssetManager *window = loadWindow(connection);
        ASSERT_TRUE(window->selectCategory(doomed));
        QStringList said;
        QObject::connect(window, &OVNAssetManager::statusShown, window,
                         [&said](const QString &text) { said.append(text); });
        std::optional<QString> failure;
        QObject::connect(window, &OVNAssetManager::deletionFinished, window,
                         [&failure](const QString &text) { failure = text; });
        const qsizetype alerts = presenter->shown().size();
        const ComesBackLater restart(proxy);
        proxy.cutAt(c.statement, 1, SessionCutProxy::How::Down);
        window->buttonDeleteCatalogClick();
        processEventsUntil([&] { return failure.has_value(); }, waitCeilingMs);
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(*failure, QString());
        EXPECT_GE(proxy.cuts(), 1); // the window's session ends with the worker's
        EXPECT_FALSE(db.getCategoryForMID(doomed).has_value());
        EXPECT_TRUE(said.contains(OVNCatalogOpening::waitingText())) << qPrintable(said.join('|'));
        EXPECT_FALSE(window->statusText().contains(OVNCatalogOpening::waitingText()));
        EXPECT_EQ(presenter->shown().size(), alerts) << qPrintable(alertTitles().join('\n'));
        closeWindows();
    }
}

// A watched folder re-scanned while the server is away at the read of its catalogued entries (it
// comes back two seconds later): the window waits, saying so, and reads them; the file already
// catalogued is found unchanged, not imported a second time, and no alert comes.
TEST_P(CatalogUserAccessTest, AReScanWhileTheServerIsAwayImportsNothingTwice)
{
    ASSERT_NO_FATAL_FAILURE(grantAll("FULL ACCESS"));
    // The privileges written, the folder named again beside them.
    QVariantMap comment = OVNCategoryComment::dictionary(*db.getCategoryCommentForMID(watched));
    comment.insert("SURVEILLANCEFOLDER", QDir::cleanPath(m_dir.filePath("watched")));
    ASSERT_TRUE(db.updateCategoryListComment(watched, OVNCategoryComment::textForm(comment)));
    const QString file = QDir::cleanPath(m_dir.filePath("watched/kept.jpg"));
    ASSERT_TRUE(QImage(QSize(8, 8), QImage::Format_RGB32).save(file, "JPEG"));
    QVariantMap record = importRecord(watched, "kept.jpg");
    record.insert("absolutepath", file);
    const QString kept = db.addMediaListEntry(record);
    ASSERT_FALSE(kept.isEmpty());
    ASSERT_TRUE(db.updateMediaListEntry(kept, "dts",
                                        OVNDatabaseAccess::timestampText(QDateTime::currentDateTime().addSecs(3600))));
    const PgTestServer server = *pgTestServer();
    SessionCutProxy proxy(server.port, {});
    auto connection = std::make_shared<OVNDatabaseAccess>();
    connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
    ASSERT_TRUE(connection->openDBConnection());
    signInAsAnn(*connection);
    OVNAssetManager *window = loadWindow(connection);
    QStringList said;
    QObject::connect(window, &OVNAssetManager::statusShown, window,
                     [&said](const QString &text) { said.append(text); });
    QList<QVariantList> finished;
    QObject::connect(window, &OVNAssetManager::rescanFinished, window,
                     [&finished](int added, int missing, int changed, const QString &refusal) {
                         finished.append({added, missing, changed, refusal});
                     });
    const qsizetype alerts = presenter->shown().size();
    const ComesBackLater restart(proxy);
    proxy.cutAt("select mid, absolutepath, dts from strvfile where categoryid", 1, SessionCutProxy::How::Down);
    ASSERT_TRUE(window->categoryActions().rescanSurveillanceFolder(*node(window, watched)))
        << qPrintable(lastAlertText());
    processEventsUntil([&] { return !finished.isEmpty(); }, waitCeilingMs);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.first(), (QVariantList{0, 0, 0, QString()}));
    processEventsUntil([&] { return window->findChildren<OVNImportMedia *>().isEmpty(); }, waitCeilingMs);
    EXPECT_EQ(db.rowsForQuery("select count(*) from strvfile where absolutepath=$1", {file}).value(0).value(0).toInt(),
              1);
    EXPECT_TRUE(said.contains(OVNCatalogOpening::waitingText())) << qPrintable(said.join('|'));
    EXPECT_EQ(presenter->shown().size(), alerts) << qPrintable(alertTitles().join('\n'));
}

// A member's write whose session the server's administrator ends, his level lowered before the
// write goes again: each writer asks the level again in its next try's transaction, stores
// nothing, and counts or says the refusal. (Linking needs only READ ONLY on the entries: there the
// set is lowered; a category at the top level needs a group: there Ann is taken out of hers.)
TEST_P(CatalogUserAccessTest, AWriteRetriedAfterTheLevelWasLoweredIsRefusedByEveryWriter)
{
    const PgTestServer server = *pgTestServer();
    enum class Writer { AutoFill, Rating, Turn, MoveEntries, Link, Details, Rename, NewCategory };
    const struct {
        const char *name;
        Writer writer;
        const char *statement;
    } writers[] = {
        {"auto-fill", Writer::AutoFill, "update strvfile"},
        {"rating", Writer::Rating, "update strvfile"},
        {"turning", Writer::Turn, "update strvfile"},
        {"moving entries", Writer::MoveEntries, "update strvfile"},
        {"linking entries", Writer::Link, "insert into strvset"},
        {"the details pane", Writer::Details, "update strvfile"},
        {"renaming a category", Writer::Rename, "update strvcategory"},
        {"a new category at the top level", Writer::NewCategory, "insert into strvcategory"},
    };
    QImage picture(32, 24, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const QString set = category("Picks", "S");
    auto side = std::shared_ptr<OVNDatabaseAccess>(openAnother().release());
    int round = 0;
    for (const auto &w : writers) {
        SCOPED_TRACE(w.name);
        ++round;
        for (const QString &mid : {trip, loose, set})
            ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, mid, staff, "FULL ACCESS"));
        const QStringList mids = entriesWithThumbnail(
            trip, {QStringLiteral("a%1").arg(round), QStringLiteral("b%1").arg(round)}, jpegBytes(picture));
        const QString lowered = w.writer == Writer::Link ? set : trip;
        // The administrator ends the member's session as its write arrives, and lowers the level
        // before the member hears of it.
        SessionCutProxy proxy(server.port, [&, side](int clientPort) {
            side->runSQLCommand(QStringLiteral("select pg_terminate_backend(pid, 10000) from pg_stat_activity where "
                                               "client_port=$1"),
                                {clientPort});
            if (w.writer == Writer::NewCategory)
                side->runSQLCommand("delete from strvgroupusers where usermid=$1",
                                    {side->getUserForLogin("ann").value("mid").toString()});
            else
                grantPrivilege(*side, lowered, staff, "READ ONLY");
        });
        auto connection = std::make_shared<OVNDatabaseAccess>();
        connection->setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                         server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(connection->openDBConnection());
        signInAsAnn(*connection);
        const QStringList before = catalogState();
        const QString ratings = stored(mids[0], "rating") + stored(mids[1], "rating");
        const QString orientations = stored(mids[0], "orientation") + stored(mids[1], "orientation");
        const qsizetype alerts = presenter->shown().size();
        proxy.cutAt(w.statement, 1, SessionCutProxy::How::Terminated);
        QList<OVNEntryEdits::Target> targets;
        for (const QString &mid : mids)
            targets.append({mid, trip, int(targets.size()), {}, {}});
        OVNEntryEdits edits(connection.get());
        OVNEntryEdits::Summary summary;
        switch (w.writer) {
        case Writer::AutoFill: {
            AnnotationChanges changes;
            changes.info.insert(QStringLiteral("keywords"), QStringLiteral("lowered"));
            OVNAnnotationWrites::Callbacks callbacks;
            callbacks.value = [&](int tag, const QString &key) {
                return QVariant(db.getMediaListEntryForMediaID(mids.at(tag), key));
            };
            callbacks.show = [](int, const QString &, const QString &) {};
            const OVNAnnotationWrites::Summary filled =
                OVNAnnotationWrites(connection.get())
                    .apply(targets, changes, AnnotationChanges::Mode::Overwrite, false, callbacks);
            EXPECT_EQ(filled.written, 0);
            EXPECT_EQ(filled.refused, 2);
            EXPECT_EQ(filled.refusedLevel, readOnly);
            break;
        }
        case Writer::Rating:
            EXPECT_TRUE(edits.rate(2, targets, summary).isEmpty());
            break;
        case Writer::Turn:
            EXPECT_TRUE(edits.turn(targets, OVNEntryEdits::QuarterTurn::Right, summary).isEmpty());
            break;
        case Writer::MoveEntries:
            summary = edits.moveEntries(mids, loose);
            break;
        case Writer::Link:
            summary = edits.linkEntries(mids, set);
            break;
        case Writer::Details: {
            OVNAssetManager *window = loadWindow(connection);
            ASSERT_NO_FATAL_FAILURE(selectEntry(window, trip, mids[0]));
            window->detailsDataSource()->ovnMediaDetailsSetStringForID(window->mediaDetails(), "lowered", "keywords",
                                                                       mids[0]);
            EXPECT_EQ(presenter->shown().size(), alerts + 1);
            EXPECT_TRUE(lastAlertText().endsWith("Your Privilege Level: READ ONLY")) << qPrintable(lastAlertText());
            break;
        }
        case Writer::Rename: {
            OVNAssetManager *window = loadWindow(connection);
            EXPECT_FALSE(window->renameCategory(trip, "lowered"));
            EXPECT_EQ(presenter->shown().size(), alerts + 1);
            EXPECT_TRUE(lastAlertText().endsWith("Your Privilege Level: READ ONLY")) << qPrintable(lastAlertText());
            break;
        }
        case Writer::NewCategory: {
            OVNAssetManager *window = loadWindow(connection);
            EXPECT_TRUE(window->categoryActions().buttonAddCatalogClick("lowered").isEmpty());
            EXPECT_EQ(alertTitles().value(alerts), "You can no longer use this catalog")
                << qPrintable(alertTitles().join('\n'));
            break;
        }
        }
        if (w.writer <= Writer::Link && w.writer != Writer::AutoFill) {
            EXPECT_EQ(summary.changed, 0);
            EXPECT_EQ(summary.refused, 2);
            EXPECT_EQ(summary.refusedLevel, readOnly);
            EXPECT_TRUE(edits.unchangedText(summary).contains("your access privileges do not allow it"));
        }
        EXPECT_GE(proxy.cuts(), 1);
        EXPECT_EQ(stored(mids[0], "rating") + stored(mids[1], "rating"), ratings);
        EXPECT_EQ(stored(mids[0], "orientation") + stored(mids[1], "orientation"), orientations);
        EXPECT_FALSE(db.getMediaListEntryForMediaID(mids[0], "keywords").contains("lowered"));
        EXPECT_TRUE(db.membersOfImageSet(set, mids).isEmpty());
        // Nothing else changed but the lowered level itself.
        QStringList after = catalogState();
        after.removeIf([&](const QString &line) { return line.startsWith(lowered + '|'); });
        QStringList expected = before;
        expected.removeIf([&](const QString &line) { return line.startsWith(lowered + '|'); });
        EXPECT_EQ(after, expected);
        closeWindows();
        ASSERT_NO_FATAL_FAILURE(putAnnBackInStaff(db, staff));
    }
}
