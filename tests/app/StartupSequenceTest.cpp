#include "StartupFakes.h"

#include "../support/ScriptedAlertPresenter.h"
#include "app/OVNAssetManager.h"
#include "app/OVNConnectionFactory.h"
#include "app/OVNDocumentController.h"
#include "search/OVNExpressPanel.h"
#include "app/OVNPreferencesWindow.h"
#include "browser/OVNUDFThumbnails.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNExtensionMapping.h"
#include "import/OVNImportCamera.h"
#include "import/OVNWorkflowPanel.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QtTest/qtestspontaneevent.h>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

namespace {

using Outcome = FakeConnections::Outcome;

// The scripted presenter, writing each alert into the shared log as it opens.
class LoggingPresenter : public ScriptedAlertPresenter
{
public:
    explicit LoggingPresenter(EventLog log) : m_log(std::move(log)) {}
    int run(const Alert &alert) override
    {
        m_log->append(QStringLiteral("alert ") + alert.message);
        return ScriptedAlertPresenter::run(alert);
    }

private:
    EventLog m_log;
};

constexpr int kPlaybackAvailable = 0x07000000;

class StartupSequenceTest : public testing::Test
{
protected:
    void SetUp() override
    {
        auto presenter = std::make_unique<LoggingPresenter>(log);
        alerts = presenter.get();
        Alerts::setPresenter(std::move(presenter));
        // No update endpoint unless a test sets one up.
        defaults.setString(QStringLiteral("0"), QStringLiteral("StartupUpdateCheck"));
    }

    std::unique_ptr<OVNDocumentController> makeController(std::initializer_list<Outcome> outcomes,
                                                          int movieVersion = kPlaybackAvailable)
    {
        OVNDocumentController::Services services;
        auto source = std::make_unique<FakeConnections>(log, outcomes);
        connections = source.get();
        services.connections = std::move(source);
        services.makeSplash = [this] { return std::make_unique<FakeSplash>(log); };
        services.makeUpdateCheck = [this] {
            return std::make_unique<FakeUpdateCheck>(log, updateConfigured, updateAnswer);
        };
        services.visibleFrame = [] { return QRectF(0, 0, 1440, 878); };
        services.movieFrameworkVersion = [movieVersion] { return movieVersion; };
        return std::make_unique<OVNDocumentController>(defaults, std::move(services));
    }

    QStringList alertMessages() const
    {
        QStringList messages;
        for (const Alert &alert : alerts->shown())
            messages.append(alert.message);
        return messages;
    }

    EventLog log = std::make_shared<QStringList>();
    UserDefaults defaults; // in memory
    LoggingPresenter *alerts = nullptr;
    FakeConnections *connections = nullptr;
    bool updateConfigured = false;
    bool updateAnswer = false;
};

TEST_F(StartupSequenceTest, AnOpenCatalogGivesTheFirstWindowTheControllersConnection)
{
    auto controller = makeController({Outcome::Active});
    ASSERT_EQ(controller->startUp(), OVNDocumentController::StartupResult::Run);

    EXPECT_EQ(*log, (QStringList{"status Starting up...", "status Loading defaults...",
                                 "status Checking for updates...", "status Creating database connection...", "connect",
                                 "status Startup finished.", "splash hidden"}));
    EXPECT_TRUE(alerts->shown().isEmpty());

    // The tool objects exist; the workflow panel is up on a first run.
    ASSERT_NE(controller->workflowPanel(), nullptr);
    EXPECT_TRUE(controller->workflowPanel()->isVisible());
    EXPECT_NE(controller->capturePanel(), nullptr);
    EXPECT_NE(controller->zoomPanel(), nullptr);
    EXPECT_NE(controller->expressPanel(), nullptr);
    EXPECT_NE(controller->thumbnailLayoutEditor(), nullptr);
    EXPECT_NE(controller->extensionMapping(), nullptr);

    const QList<OVNAssetManager *> documents = controller->documents();
    ASSERT_EQ(documents.size(), 1);
    ASSERT_NE(controller->databaseConnection(), nullptr);
    EXPECT_EQ(documents.first()->databaseConnection(), controller->databaseConnection());
    EXPECT_TRUE(controller->databaseConnection()->isDBConnectionActive());

    // First run marked and the start-up table registered.
    EXPECT_EQ(defaults.persistentDomain().value("FirstRun").toString(), "NO");
    EXPECT_EQ(defaults.persistentDomain().value("WorkflowPanelVisible").toString(), "1");
    EXPECT_EQ(defaults.stringForKey("NSWindow Frame OVNAssetManager"), "150 150 1140 748 0 0 1440 878");
    EXPECT_EQ(defaults.integerForKey("ThumbnailSize"), 114);
    EXPECT_EQ(defaults.stringForKey("DBVendor"), "OstrevanWS");
    EXPECT_EQ(defaults.stringForKey("UpdateCheckURL"), "");
}

TEST_F(StartupSequenceTest, RetryConnectsAgainUntilTheCatalogOpens)
{
    auto controller = makeController({Outcome::Failed, Outcome::Failed, Outcome::Active});
    alerts->enqueueAnswers({0, 0});
    ASSERT_EQ(controller->startUp(), OVNDocumentController::StartupResult::Run);

    EXPECT_EQ(connections->calls(), 3);
    const QStringList afterStartup = log->mid(log->indexOf("status Creating database connection..."));
    EXPECT_EQ(afterStartup,
              (QStringList{"status Creating database connection...", "connect", "splash hidden", "factory alert",
                           "status Startup finished.", "splash hidden", "alert Could not connect to database server",
                           "status Creating database connection...", "splash shown", "connect", "splash hidden",
                           "factory alert", "splash hidden", "alert Could not connect to database server",
                           "status Creating database connection...", "splash shown", "connect", "splash hidden"}));

    const Alert retry = alerts->shown().first();
    EXPECT_EQ(retry.buttons, (QStringList{"Retry", "Preferences", "Quit"}));
    EXPECT_TRUE(retry.informativeText.startsWith("Please check that your database is up and running"));
    // What a Linux user can check: the server's settings, no drivers to install.
    EXPECT_TRUE(retry.informativeText.contains("host, user, database and password are right in Preferences"));
    EXPECT_FALSE(retry.informativeText.contains("JDBC"));
    EXPECT_EQ(retry.modality, Alert::Modality::Application);

    ASSERT_EQ(controller->documents().size(), 1);
    EXPECT_TRUE(controller->databaseConnection()->isDBConnectionActive());
    EXPECT_EQ(controller->documents().first()->databaseConnection(), controller->databaseConnection());
}

TEST_F(StartupSequenceTest, ALocalCatalogThatCannotBeOpenedIsNoServerToConnectTo)
{
    defaults.setString(QStringLiteral("Integrated"), QStringLiteral("DBVendor"));
    auto controller = makeController({Outcome::Failed, Outcome::Active});
    alerts->enqueueAnswers({0});
    ASSERT_EQ(controller->startUp(), OVNDocumentController::StartupResult::Run);
    EXPECT_EQ(alertMessages(), QStringList{"Could not open the catalog file"});
    const Alert retry = alerts->shown().first();
    EXPECT_EQ(retry.buttons, (QStringList{"Retry", "Preferences", "Quit"}));
    EXPECT_FALSE(retry.informativeText.contains("server")) << qPrintable(retry.informativeText);
    EXPECT_FALSE(retry.informativeText.contains("PostgreSQL")) << qPrintable(retry.informativeText);
}

// The local catalog file as start-up finds it: completed when it lacks only tables, made when it
// is not there, and refused as it is (the reason in the alert that offers the choices) when a
// table lacks a column or the file is another program's.
TEST_F(StartupSequenceTest, TheCatalogFileIsCompletedMadeOrRefusedAsItIs)
{
    struct Case {
        const char *name;
        QStringList statements; // run on a new file before start-up; none: no file at all
        bool catalogFirst;      // the statements follow the catalog's own script
        const char *refusal;    // in the alert's text; null: start-up opens the catalog
    };
    const Case cases[] = {
        {"no file: a new catalog", {}, false, nullptr},
        {"an empty database", {"pragma user_version=0"}, false, nullptr},
        {"tables missing", {"drop table strvexif", "drop table strvsold"}, true, nullptr},
        {"a column missing", {"alter table strvfile drop column shortdesc"}, true, "strvfile.shortdesc"},
        {"another program's file",
         {"create table notes (id integer primary key, body text)", "insert into notes (body) values ('kept')"},
         false,
         "holds no catalog"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("MediaDB.sqlite"));
        if (!c.statements.isEmpty()) {
            OVNDatabaseAccess maker;
            maker.setConnectionDetails(QStringLiteral("Integrated"), QString(), QString(), QString(), path);
            ASSERT_TRUE(maker.openDBConnection());
            if (c.catalogFirst) {
                ASSERT_TRUE(OVNDBHelper::prefDBCreateLocalDatabase(maker));
            }
            for (const QString &statement : c.statements)
                ASSERT_TRUE(maker.runSQLCommand(statement)) << qPrintable(maker.getLastErrorMessage());
        }
        QByteArray before;
        if (QFile file(path); file.open(QIODevice::ReadOnly))
            before = file.readAll();

        UserDefaults run;
        run.setString(QStringLiteral("0"), QStringLiteral("StartupUpdateCheck"));
        run.setString(QStringLiteral("Integrated"), QStringLiteral("DBVendor"));
        OVNDocumentController::Services services;
        services.connections = std::make_unique<OVNConnectionFactory>(run, folder.path());
        services.makeSplash = [this] { return std::make_unique<FakeSplash>(log); };
        services.visibleFrame = [] { return QRectF(0, 0, 1440, 878); };
        services.movieFrameworkVersion = [] { return kPlaybackAvailable; };
        OVNDocumentController controller(run, std::move(services));
        const qsizetype shown = alerts->shown().size();
        if (c.refusal)
            alerts->enqueueAnswers({2}); // Quit

        const OVNDocumentController::StartupResult result = controller.startUp();
        const QList<Alert> newAlerts = alerts->shown().mid(shown);
        if (!c.refusal) {
            EXPECT_EQ(result, OVNDocumentController::StartupResult::Run);
            EXPECT_TRUE(newAlerts.isEmpty());
            ASSERT_NE(controller.databaseConnection(), nullptr);
            ASSERT_TRUE(controller.databaseConnection()->isDBConnectionActive());
            const auto contents = OVNDBHelper::catalogContents(*controller.databaseConnection());
            ASSERT_TRUE(contents.has_value());
            EXPECT_TRUE(contents->whole()) << qPrintable(contents->missingText());
            continue;
        }
        EXPECT_EQ(result, OVNDocumentController::StartupResult::Quit);
        // One alert, the one with the choices: no second one from the connection on the way.
        ASSERT_EQ(newAlerts.size(), 1);
        EXPECT_EQ(newAlerts.first().message, QStringLiteral("Could not open the catalog file"));
        EXPECT_EQ(newAlerts.first().buttons, (QStringList{"Retry", "Preferences", "Quit"}));
        EXPECT_TRUE(newAlerts.first().informativeText.contains(QLatin1String(c.refusal)))
            << qPrintable(newAlerts.first().informativeText);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), before);
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"MediaDB.sqlite"});
    }
}

TEST_F(StartupSequenceTest, NoConnectionAtAllAlsoOffersRetryInsteadOfEndingTheProgram)
{
    auto controller = makeController({Outcome::None, Outcome::Active});
    alerts->enqueueAnswers({0});
    ASSERT_EQ(controller->startUp(), OVNDocumentController::StartupResult::Run);
    EXPECT_EQ(alertMessages(), QStringList{"Could not connect to database server"});
    EXPECT_EQ(controller->documents().size(), 1);
    EXPECT_FALSE(controller->isTerminated());
}

TEST_F(StartupSequenceTest, PreferencesLeavesTheLoopWithoutACatalogWindowAndOpensTheSettingsAfterwards)
{
    auto controller = makeController({Outcome::Failed});
    alerts->enqueueAnswers({1});
    ASSERT_EQ(controller->startUp(), OVNDocumentController::StartupResult::Run);

    EXPECT_EQ(connections->calls(), 1);
    EXPECT_TRUE(controller->showPrefsOnLoad());
    EXPECT_TRUE(controller->documents().isEmpty());
    EXPECT_EQ(controller->preferencesWindow(), nullptr);

    controller->awakeFromNib();
    EXPECT_FALSE(controller->showPrefsOnLoad());
    ASSERT_NE(controller->preferencesWindow(), nullptr);
    EXPECT_TRUE(controller->preferencesWindow()->isVisible());
    EXPECT_TRUE(controller->documents().isEmpty());
}

TEST_F(StartupSequenceTest, QuitEndsStartUpAndRunsTermination)
{
    auto controller = makeController({Outcome::Failed});
    alerts->enqueueAnswers({2});
    ASSERT_EQ(controller->startUp(), OVNDocumentController::StartupResult::Quit);

    EXPECT_TRUE(controller->isTerminated());
    EXPECT_TRUE(controller->documents().isEmpty());
    EXPECT_EQ(alertMessages(), QStringList{"Could not connect to database server"});
    // The workflow panel stored its place; the capture window, never shown, left it alone.
    EXPECT_TRUE(defaults.persistentDomain().contains("WorkflowPanelX"));
    EXPECT_TRUE(defaults.persistentDomain().contains("WorkflowPanelY"));
    // No movie warning after the user chose to quit.
    EXPECT_EQ(alerts->shown().size(), 1);
}

TEST_F(StartupSequenceTest, AScriptedStartEndsInsteadOfAskingWhenThereIsNoCatalog)
{
    struct Case {
        const char *name;
        Outcome outcome;
    };
    for (const Case &c :
         {Case{"failed connection", Outcome::Failed}, Case{"no connection for the vendor", Outcome::None}}) {
        SCOPED_TRACE(c.name);
        UserDefaults scripted;
        scripted.setString(QStringLiteral("0"), QStringLiteral("StartupUpdateCheck"));
        scripted.setArguments({"ostrevan", "-OVNQuitAfterStartup", "YES"});
        OVNDocumentController::Services services;
        auto source =
            std::make_unique<FakeConnections>(log, std::initializer_list<Outcome>{c.outcome, Outcome::Active});
        FakeConnections *made = source.get();
        services.connections = std::move(source);
        services.makeSplash = [this] { return std::make_unique<FakeSplash>(log); };
        services.visibleFrame = [] { return QRectF(0, 0, 1440, 878); };
        services.movieFrameworkVersion = [] { return kPlaybackAvailable; };
        OVNDocumentController controller(scripted, std::move(services));
        const qsizetype shown = alerts->shown().size();
        alerts->enqueueAnswers({0}); // Retry, were the question asked

        EXPECT_EQ(controller.startUp(), OVNDocumentController::StartupResult::Refused);
        EXPECT_EQ(alerts->shown().size(), shown);
        EXPECT_EQ(made->calls(), 1);
        EXPECT_TRUE(controller.isTerminated());
        EXPECT_TRUE(controller.documents().isEmpty());
    }
}

TEST_F(StartupSequenceTest, TerminationClosesTheConnectionThenSavesWorkflowThenCapturePositions)
{
    auto controller = makeController({Outcome::Active});
    ASSERT_EQ(controller->startUp(), OVNDocumentController::StartupResult::Run);
    controller->workflowPanel()->move(40, 50);
    controller->capturePanel()->makeKeyAndOrderFront();
    controller->capturePanel()->move(300, 200);
    // What was typed into an open preferences window is kept, as closing it keeps it.
    controller->showPreferences();
    controller->preferencesWindow()->automountSwitch()->setChecked(true);

    controller->applicationWillTerminate();
    EXPECT_FALSE(controller->databaseConnection()->isDBConnectionActive());
    EXPECT_EQ(defaults.stringForKey("MSAAutomount"), "1");
    // Each keeps its own place.
    EXPECT_EQ(defaults.doubleForKey("WorkflowPanelX"), controller->workflowPanel()->geometry().x());
    EXPECT_EQ(defaults.doubleForKey("CapturePanelX"), controller->capturePanel()->geometry().x());

    // A second termination (the event loop's end after Quit) changes nothing.
    defaults.setDouble(-1, "WorkflowPanelX");
    controller->applicationWillTerminate();
    EXPECT_EQ(defaults.doubleForKey("WorkflowPanelX"), -1);
}

TEST_F(StartupSequenceTest, FirstRunSwitchesTheWorkflowPanelOnUnlessMarkedNO)
{
    {
        defaults.setString("NO", "FirstRun");
        defaults.setString("0", "WorkflowPanelVisible");
        auto controller = makeController({Outcome::Active});
        controller->startUp();
        EXPECT_EQ(defaults.stringForKey("WorkflowPanelVisible"), "0");
        EXPECT_FALSE(controller->workflowPanel()->isVisible());
    }
    {
        defaults.setString("no", "FirstRun");
        auto controller = makeController({Outcome::Active});
        controller->startUp();
        EXPECT_EQ(defaults.stringForKey("WorkflowPanelVisible"), "1");
        EXPECT_EQ(defaults.stringForKey("FirstRun"), "NO");
        EXPECT_TRUE(controller->workflowPanel()->isVisible());
    }
}

TEST_F(StartupSequenceTest, TheWorkflowPanelComesBackUnlessTheUserClosedIt)
{
    defaults.setString("NO", "FirstRun");
    defaults.setString("1", "WorkflowPanelVisible");
    struct Case {
        const char *name;
        bool byTheUser; // the title bar's close, else the program's end closing every window
        bool shownNext;
    };
    for (const Case &c : {Case{"the program ends", false, true}, Case{"the user closes it", true, false}}) {
        SCOPED_TRACE(c.name);
        {
            auto controller = makeController({Outcome::Active});
            controller->startUp();
            ASSERT_TRUE(controller->workflowPanel()->isVisible());
            QCloseEvent close;
            if (c.byTheUser)
                QSpontaneKeyEvent::setSpontaneous(&close);
            // Delivered as the window system delivers it (sendEvent would clear the flag).
            QApplication::instance()->notify(controller->workflowPanel(), &close);
            controller->applicationWillTerminate();
        }
        auto next = makeController({Outcome::Active});
        next->startUp();
        EXPECT_EQ(next->workflowPanel()->isVisible(), c.shownNext);
    }
}

TEST_F(StartupSequenceTest, AnUpdateHidesTheSplashBeforeItsAlertAndRecordsTheCheck)
{
    defaults.setString("1", "StartupUpdateCheck");
    updateConfigured = true;
    updateAnswer = true;
    auto controller = makeController({Outcome::Active});
    alerts->enqueueAnswers({1});
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    controller->startUp();

    const qsizetype check = log->indexOf("update check");
    ASSERT_GE(check, 0);
    EXPECT_EQ(log->mid(check, 4),
              (QStringList{"update check", "splash hidden", "alert Update available", "download page"}));
    EXPECT_EQ(alerts->shown().first().buttons, (QStringList{"Cancel", "Download Update"}));
    EXPECT_GE(defaults.objectForKey("StartupUpdateCheckDate").toDateTime(), before);

    // Checked a moment ago with a weekly period: not due.
    log->clear();
    auto again = makeController({Outcome::Active});
    again->startUp();
    EXPECT_FALSE(log->contains("update check"));
}

TEST_F(StartupSequenceTest, NoUpdateCheckWhenSwitchedOffOrWithoutEndpoint)
{
    // Switched off: the status still shows, nothing is asked or recorded.
    auto off = makeController({Outcome::Active});
    off->startUp();
    EXPECT_TRUE(log->contains("status Checking for updates..."));
    EXPECT_FALSE(log->contains("update check"));
    EXPECT_FALSE(defaults.contains("StartupUpdateCheckDate"));

    // On but without an endpoint: no request and no date.
    defaults.setString("1", "StartupUpdateCheck");
    auto unconfigured = makeController({Outcome::Active});
    unconfigured->startUp();
    EXPECT_FALSE(log->contains("update check"));
    EXPECT_FALSE(defaults.contains("StartupUpdateCheckDate"));

    // A failed or negative check is still recorded, and shows nothing.
    updateConfigured = true;
    auto negative = makeController({Outcome::Active});
    negative->startUp();
    EXPECT_TRUE(log->contains("update check"));
    EXPECT_TRUE(defaults.contains("StartupUpdateCheckDate"));
    EXPECT_TRUE(alerts->shown().isEmpty());
}

TEST_F(StartupSequenceTest, MissingMoviePlaybackIsReportedOnceAtTheEnd)
{
    auto controller = makeController({Outcome::Active}, 0x06000000);
    controller->startUp();
    ASSERT_EQ(alerts->shown().size(), 1);
    EXPECT_EQ(alerts->shown().first().message, "Movie playback is not available");
    EXPECT_EQ(controller->documents().size(), 1);
}

} // namespace

namespace {

QStringList menuTitles(const QMenuBar *menuBar)
{
    QStringList titles;
    for (const QAction *action : menuBar->actions())
        titles.append(action->text());
    return titles;
}

QStringList itemTitles(const QMenu *menu)
{
    QStringList titles;
    for (const QAction *action : menu->actions()) {
        if (!action->isSeparator())
            titles.append(action->text());
    }
    return titles;
}

TEST_F(StartupSequenceTest, TheCatalogWindowCarriesTheApplicationMenus)
{
    auto controller = makeController({Outcome::Active});
    controller->startUp();
    ASSERT_EQ(controller->documents().size(), 1);
    const QMenuBar *menuBar = controller->documents().first()->menuBar();
    // The window's own menus stand between the application's.
    EXPECT_EQ(menuTitles(menuBar), (QStringList{"&File", "&Edit", "&View", "&Media", "&Window", "&Help"}));
    const QList<QAction *> menus = menuBar->actions();
    EXPECT_EQ(itemTitles(menus.at(0)->menu()),
              (QStringList{"New", "Open...", "Open Recent", "Smart Add...", "Import Record Export...", "Close",
                           "Page Setup...", "Print...", "Preferences...", "Quit"}));
    QMenu *file = menus.at(0)->menu();
    const auto fileItem = [file](const QString &title) -> QAction * {
        for (QAction *item : file->actions())
            if (item->text() == title)
                return item;
        return nullptr;
    };
    // Print needs thumbnails to print; the first window shows none. Page Setup is always there.
    emit file->aboutToShow();
    ASSERT_NE(fileItem("Print..."), nullptr);
    EXPECT_FALSE(fileItem("Print...")->isEnabled());
    EXPECT_TRUE(fileItem("Page Setup...")->isEnabled());
    // Smart Add and the record export are the window's own commands.
    OVNAssetManager *document = controller->documents().first();
    EXPECT_EQ(fileItem("Smart Add..."), document->smartAddAction());
    EXPECT_EQ(fileItem("Import Record Export..."), document->action(OVNCatalogActions::Action::ImportCumulus));
    EXPECT_EQ(fileItem("Close")->shortcut(), QKeySequence(QKeySequence::Close));
    EXPECT_EQ(itemTitles(menus.at(1)->menu()), (QStringList{"Cut", "Copy", "Paste", "Delete", "Select All", "Deselect",
                                                            "Find...", "Find in Resultset"}));
    EXPECT_EQ(itemTitles(menus.at(4)->menu()),
              (QStringList{"Workflow Panel", "Camera Capture Panel", "Zoom Panel", "Express Panel",
                           "Thumbnail Layouts...", "Minimize", "Zoom"}));
    EXPECT_EQ(itemTitles(menus.at(5)->menu()),
              (QStringList{"Download Update...", "Online Manual", "Online Support", "About Ostrevan"}));
    // Without an address each Help item says which preference sets it; About names the program.
    const qsizetype shownBefore = alerts->shown().size();
    emit menus.at(5)->menu()->aboutToShow();
    for (QAction *item : menus.at(5)->menu()->actions()) {
        if (item->isSeparator())
            continue;
        EXPECT_TRUE(item->isEnabled()) << item->text().toStdString();
        item->trigger();
    }
    ASSERT_EQ(alerts->shown().size(), shownBefore + 4);
    const char *named[] = {"UpdateCheckURL", "HelpSiteURL", "HelpSiteURL", "Version "};
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(alerts->shown().at(shownBefore + i).informativeText.contains(named[i]))
            << alerts->shown().at(shownBefore + i).informativeText.toStdString();
    EXPECT_EQ(alerts->shown().last().message, "Ostrevan");

    // The Window menu brings the layout editor to the front.
    EXPECT_FALSE(controller->thumbnailLayoutEditor()->isVisible());
    menus.at(4)->menu()->actions().at(4)->trigger();
    EXPECT_TRUE(controller->thumbnailLayoutEditor()->isVisible());

    // New: a second window with a connection of its own.
    controller->documents().first()->move(40, 40);
    menus.at(0)->menu()->actions().first()->trigger();
    ASSERT_EQ(controller->documents().size(), 2);
    EXPECT_NE(controller->documents().at(1)->databaseConnection(), controller->databaseConnection());
    EXPECT_TRUE(controller->documents().at(1)->databaseConnection()->isDBConnectionActive());
    // It opens beside the first, not on top of it, and Close closes the window in front.
    // (Moved no further than the screen's free area allows.)
    const QWidget *first = controller->documents().at(0);
    const QWidget *newer = controller->documents().at(1);
    EXPECT_EQ(newer->pos().y() - first->pos().y(), 24);
    EXPECT_TRUE(newer->screen()->availableGeometry().contains(newer->frameGeometry()));
    const QPointer<OVNAssetManager> second = controller->documents().at(1);
    QApplication::setActiveWindow(second);
    fileItem("Close")->trigger();
    EXPECT_FALSE(second && second->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(controller->documents().size(), 1);
    menus.at(0)->menu()->actions().first()->trigger();
    ASSERT_EQ(controller->documents().size(), 2);

    // The workflow panel's toggle remembers its choice.
    controller->windowWorkflowPanel();
    EXPECT_FALSE(controller->workflowPanel()->isVisible());
    EXPECT_EQ(defaults.stringForKey("WorkflowPanelVisible"), "0");
    controller->windowWorkflowPanel();
    EXPECT_TRUE(controller->workflowPanel()->isVisible());
    EXPECT_EQ(defaults.stringForKey("WorkflowPanelVisible"), "1");

    // The other panels by their menu items: shown, checked, stored; the express panel keeps the
    // connection it got when first shown.
    using Panel = OVNDocumentController::Panel;
    for (Panel panel : {Panel::Capture, Panel::Zoom, Panel::Express}) {
        QAction *item = controller->panelAction(panel);
        const QString key = OVNDocumentController::panelVisibilityKey(panel);
        item->trigger();
        emit menus.at(4)->menu()->aboutToShow();
        EXPECT_TRUE(controller->isPanelVisible(panel) && item->isChecked()) << qPrintable(key);
        EXPECT_EQ(defaults.stringForKey(key), "1");
        const OVNDatabaseAccess *connection = controller->expressPanel()->databaseConnection();
        item->trigger();
        emit menus.at(4)->menu()->aboutToShow();
        EXPECT_FALSE(controller->isPanelVisible(panel) || item->isChecked()) << qPrintable(key);
        EXPECT_EQ(defaults.stringForKey(key), "0");
        item->trigger();
        EXPECT_EQ(controller->expressPanel()->databaseConnection(), connection);
        EXPECT_EQ(connection != nullptr, panel == Panel::Express);
    }
}

TEST_F(StartupSequenceTest, SavedDatabaseSettingsOpenACatalogWindowWhenNoneIsOpen)
{
    auto controller = makeController({Outcome::Failed, Outcome::Active});
    alerts->enqueueAnswers({1});
    controller->startUp();
    controller->awakeFromNib();
    OVNPreferencesWindow *settings = controller->preferencesWindow();
    ASSERT_NE(settings, nullptr);
    settings->vendorPopUp()->setCurrentIndex(OVNPreferencesWindow::PostgreSQL);
    settings->hostField()->setText("db.example.org");
    settings->userField()->setText("anna");
    settings->passwordField()->setText(" secret ");
    settings->databaseField()->setText("media");
    ASSERT_TRUE(settings->savePreferences());
    EXPECT_EQ(defaults.persistentDomain().value("DBVendor").toString(), "PostgreSQL");
    EXPECT_EQ(defaults.persistentDomain().value("DBHost").toString(), "db.example.org");
    EXPECT_EQ(defaults.persistentDomain().value("DBUser").toString(), "anna");
    EXPECT_EQ(defaults.persistentDomain().value("DBPassword").toString(), " secret ");
    EXPECT_EQ(defaults.persistentDomain().value("DBDatabase").toString(), "media");

    emit settings->databaseSettingsSaved();
    ASSERT_EQ(controller->documents().size(), 1);
    EXPECT_TRUE(controller->documents().first()->databaseConnection()->isDBConnectionActive());
}

} // namespace

namespace {

// The express panel from its menu command: a failed connection shows its alert and is tried again
// at the next showing, the search-in list is built once, and closing the panel stores "0".
TEST_F(StartupSequenceTest, ExpressPanelConnectsUntilItWorksAndBuildsItsListOnce)
{
    using Panel = OVNDocumentController::Panel;
    auto controller = makeController({Outcome::Active, Outcome::Failed, Outcome::Active});
    ASSERT_EQ(controller->startUp(), OVNDocumentController::StartupResult::Run);
    OVNExpressPanel *panel = controller->expressPanel();
    controller->togglePanel(Panel::Express);
    EXPECT_TRUE(alertMessages().last().startsWith("Ostrevan failed to connect to the media database."));
    EXPECT_EQ(panel->selectionBuilds(), 0);
    controller->togglePanel(Panel::Express);
    EXPECT_EQ(defaults.stringForKey("ExpressPanelVisible"), "0");
    for (int showing = 0; showing < 2; ++showing) {
        controller->togglePanel(Panel::Express);
        EXPECT_TRUE(panel->isVisible());
        EXPECT_EQ(defaults.stringForKey("ExpressPanelVisible"), "1");
        EXPECT_EQ(panel->selectionBuilds(), 1);
        controller->togglePanel(Panel::Express);
    }
    EXPECT_EQ(connections->calls(), 3);
    EXPECT_EQ(panel->searchIn()->itemText(1), "Holiday 3");
    controller->togglePanel(Panel::Express);
    panel->close();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(defaults.stringForKey("ExpressPanelVisible"), "0");
}

} // namespace

// Only a start without any preferences file takes the local catalog for granted; a file that
// exists keeps its meaning (no vendor in it is the server), and a vendor given for this run is
// not saved.
TEST(FirstStartTest, WithoutAPreferencesFileTheLocalCatalogIsTheChoice)
{
    struct Case {
        const char *name;
        const char *fileContent; // nullptr: no file
        QStringList arguments;
        QString vendor; // in effect after the start-up defaults
        QString saved;  // in the file afterwards
    };
    const char *withoutVendor = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>FirstRun</key><string>NO</string></dict></plist>)";
    const char *withServer = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>DBVendor</key><string>PostgreSQL</string></dict></plist>)";
    const QList<Case> cases{
        {"no file", nullptr, {}, "Integrated", "Integrated"},
        {"a file without a vendor", withoutVendor, {}, "OstrevanWS", ""},
        {"a file naming a server", withServer, {}, "PostgreSQL", "PostgreSQL"},
        // The run's vendor is never saved: the next start without it opens the local catalog.
        {"no file, a vendor for this run",
         nullptr,
         {"ostrevan", "-DBVendor", "PostgreSQL"},
         "PostgreSQL",
         "Integrated"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("ostrevan/preferences.plist");
        if (c.fileContent) {
            QDir().mkpath(dir.filePath("ostrevan"));
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.fileContent);
        }
        UserDefaults prefs(path);
        prefs.setArguments(c.arguments);
        OVNDocumentController::Services services;
        services.connections = std::make_unique<FakeConnections>(std::make_shared<QStringList>(),
                                                                 std::initializer_list<FakeConnections::Outcome>{});
        OVNDocumentController controller(prefs, std::move(services));
        controller.registerStartupDefaults(QRectF(0, 0, 1440, 878));
        EXPECT_EQ(prefs.stringForKey("DBVendor"), c.vendor);
        EXPECT_EQ(prefs.persistentDomain().value("DBVendor").toString(), c.saved);
    }
}

// The first start's own values go to the file; a value given on the command line for the same key
// still counts for that run and is not saved.
TEST(FirstStartTest, FirstRunValuesLeaveTheCommandLineValuesOfTheRun)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ostrevan/preferences.plist");
    UserDefaults prefs(path);
    prefs.setArguments({"ostrevan", "-WorkflowPanelVisible", "0", "-DBVendor", "PostgreSQL"});
    OVNDocumentController::Services services;
    services.connections = std::make_unique<FakeConnections>(std::make_shared<QStringList>(),
                                                             std::initializer_list<FakeConnections::Outcome>{});
    OVNDocumentController controller(prefs, std::move(services));
    controller.registerStartupDefaults(QRectF(0, 0, 1440, 878));
    EXPECT_EQ(prefs.stringForKey("WorkflowPanelVisible"), "0");
    EXPECT_EQ(prefs.stringForKey("DBVendor"), "PostgreSQL");
    const UserDefaults file(path);
    EXPECT_EQ(file.persistentDomain().value("WorkflowPanelVisible").toString(), "1");
    EXPECT_EQ(file.persistentDomain().value("FirstRun").toString(), "NO");
    EXPECT_EQ(file.persistentDomain().value("DBVendor").toString(), "Integrated");
}

// A file-type table given on the command line counts for the run: the program reads its files by
// it, while the preferences window shows and edits the stored table and never saves the given one.
TEST_F(StartupSequenceTest, AFileTypeTableGivenOnTheCommandLineIsNeitherShownNorSaved)
{
    UserDefaults &standard = UserDefaults::standard(); // where the file-type table lives
    const auto entry = [](const char *extension) {
        return QVariantMap{{"extension", extension},
                           {"hfstype", ""},
                           {"description", extension},
                           {"processor", "Image"},
                           {"viewer", "NSIInternal"},
                           {"type", "Image"},
                           {"exif", "0"},
                           {"iptc", "0"}};
    };
    standard.setObject(QVariantList{entry("aaa")}, "FileTypeMapping");
    standard.setArguments(
        {"ostrevan", "-FileTypeMapping", "({extension = zzz; processor = Image; viewer = NSIInternal;})"});
    {
        OVNDocumentController::Services services;
        services.connections = std::make_unique<FakeConnections>(log, std::initializer_list<Outcome>{});
        services.makeSplash = [this] { return std::make_unique<FakeSplash>(log); };
        services.visibleFrame = [] { return QRectF(0, 0, 1440, 878); };
        OVNDocumentController controller(standard, std::move(services));
        controller.showPreferences();
        OVNPreferencesWindow *window = controller.preferencesWindow();
        ASSERT_NE(window, nullptr);
        const QAbstractItemModel *shown = window->fileTypeTable()->model();
        ASSERT_EQ(shown->rowCount(), 1);
        EXPECT_EQ(shown->index(0, 0).data().toString(), "aaa");
        ASSERT_NE(controller.extensionMapping(), nullptr);
        EXPECT_EQ(controller.extensionMapping()->getProcessorForExtension("zzz"), "Image");

        window->addFileType();
        window->sheetExtensionField()->setText("xyz");
        ASSERT_TRUE(window->saveFileTypeSheet());
        window->close();
    }
    QStringList saved;
    for (const QVariant &row : standard.persistentDomain().value("FileTypeMapping").toList())
        saved.append(row.toMap().value("extension").toString());
    EXPECT_EQ(saved, (QStringList{"aaa", "xyz"}));
    standard.setArguments({});
    standard.removeObjectForKey("FileTypeMapping");
}
