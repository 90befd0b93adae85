// Start-up: the splash, the tool objects, the registered defaults, the update check, the catalog
// connection with its retry loop, the first catalog window and the movie framework check.

#include "app/OVNDocumentController.h"

#include "app/OVNDesktopHotPlug.h"

#include "app/OVNAssetManager.h"
#include "app/OVNConnectionFactory.h"
#include "app/OVNConnectionSource.h"
#include "app/OVNRegisteredDefaults.h"
#include "app/OVNSplashDisplay.h"
#include "app/OVNSplashScreen.h"
#include "app/OVNUpdateChecking.h"
#include "app/QRXUpdateCheck.h"
#include "browser/OVNUDFThumbnails.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNExtensionMapping.h"
#include "import/OVNImportCamera.h"
#include "import/OVNWorkflowPanel.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"
#include "app/OVNExpressOpening.h"
#include "search/OVNExpressPanel.h"
#include "viewers/OVNZoomPanel.h"

#include <QDateTime>
#include <QFileInfo>

#include <cstdio>

namespace {

// Movie frameworks below this number cannot play movies.
constexpr int kNewEnoughMovieFramework = 0x06FFFFFF;

// The local catalog is a file: nothing to connect to, no server to check.
bool isLocalCatalog(const QString &vendor) { return vendor == QLatin1String("Integrated"); }

Alert connectionRetryAlert(const QString &vendor)
{
    Alert alert;
    if (isLocalCatalog(vendor)) {
        alert.message = localized("Could not open the catalog file");
        alert.informativeText =
            localized("Please check that the catalog file and its folder can be read and written (the disk is there, "
                      "not full and not read-only) and click 'Retry'.\n\nIf you want to use another catalog click "
                      "'Preferences'. To end Ostrevan now click 'Quit'.");
        alert.buttons = {localized("Retry"), localized("Preferences"), localized("Quit")};
        return alert;
    }
    alert.message = localized("Could not connect to database server");
    alert.informativeText =
        localized("Please check that your database is up and running and click 'Retry'.\n\nIf you are accessing "
                  "a PostgreSQL server, check that it accepts connections from this computer and that its host, "
                  "user, database and password are right in Preferences.\n\nIf you want to change your database "
                  "settings click 'Preferences'. To end Ostrevan now click 'Quit'.");
    alert.buttons = {localized("Retry"), localized("Preferences"), localized("Quit")};
    return alert;
}

// The catalog opened but is none to use (it lacks a column, or the file is another program's): why,
// with the same choices. It was left as it is.
Alert catalogRefusalAlert(const QString &vendor, const QString &refusal)
{
    Alert alert;
    alert.message = isLocalCatalog(vendor) ? localized("Could not open the catalog file")
                                           : localized("Could not open the catalog");
    alert.informativeText = refusal
                            + localized("\n\nClick 'Retry' once that is mended. If you want to use another catalog "
                                        "click 'Preferences'. To end Ostrevan now click 'Quit'.");
    alert.buttons = {localized("Retry"), localized("Preferences"), localized("Quit")};
    return alert;
}

// The account may not use the catalog: the same choices as for a failed connection, with why.
Alert loginRefusalAlert(const QString &refusal)
{
    Alert alert;
    alert.message = localized("You cannot use this catalog");
    alert.informativeText = refusal
                            + localized("\n\nClick 'Retry' once that is done. If you want to use another catalog click "
                                        "'Preferences'. To end Ostrevan now click 'Quit'.");
    alert.buttons = {localized("Retry"), localized("Preferences"), localized("Quit")};
    return alert;
}

// Why there is no catalog, in one line for standard error. A connection that failed has had its
// alert, with the database's own words, already.
QString connectionFailureText(const OVNDatabaseAccess *connection, const QString &vendor)
{
    if (!connection) {
        return localized("Could not connect to database server: the database vendor \"%1\" is none Ostrevan "
                         "connects to (Integrated, PostgreSQL or OstrevanWS).")
            .arg(vendor);
    }
    return isLocalCatalog(vendor) ? localized("Could not open the catalog file.")
                                  : localized("Could not connect to database server.");
}

bool isActive(const std::shared_ptr<OVNDatabaseAccess> &connection)
{
    return connection && connection->isDBConnectionActive();
}

} // namespace

OVNDocumentController::StartupResult OVNDocumentController::startUp()
{
    std::unique_ptr<OVNSplashDisplay> splash = m_services.makeSplash();
    splash->setStatus(QStringLiteral("Starting up..."));

    addMyselfToImageCapture2HotPlugActions();

    m_workflow = std::make_unique<OVNWorkflowPanel>(m_defaults);
    m_workflow->setConnectionMaker([this] { return createAndOpenDBConnection(); });
    m_capture = std::make_unique<OVNImportCamera>(m_defaults);
    m_capture->setConnectionFactory([this] { return createAndOpenDBConnection(); });
    m_zoom = std::make_unique<OVNZoomPanel>();
    m_express = std::make_unique<OVNExpressPanel>();
    m_expressOpening = std::make_unique<OVNExpressOpening>(*this, *m_express);
    m_express->setOpening(m_expressOpening.get());
    connect(m_express.get(), &OVNExpressPanel::closed, this,
            [this] { m_defaults.setString(QStringLiteral("0"), panelVisibilityKey(Panel::Express)); });
    m_udfThumbnails = std::make_unique<OVNUDFThumbnails>(m_defaults);
    m_udfThumbnails->setSamplePicture(OVNSplashScreen::artworkImage());

    splash->setStatus(localized("Loading defaults..."));
    registerStartupDefaults(m_services.visibleFrame());

    m_extensionmapping = std::make_unique<OVNExtensionMapping>();

    runPeriodicUpdateCheck(*splash);

    splash->setStatus(localized("Creating database connection..."));
    // The factory's own failure alert must not open behind the splash.
    OVNSplashDisplay *visibleSplash = splash.get();
    m_services.connections->setBeforeAlert([visibleSplash] { visibleSplash->orderOut(); });
    m_startingUp = true;
    m_dbcon = createAndOpenDBConnection();

    splash->setStatus(localized("Startup finished."));
    splash->orderOut();

    // No connection at all (a vendor setting that names none) is answered like a failed one: the
    // user can correct the setting instead of seeing the program vanish.
    bool active = isActive(m_dbcon);
    m_showprefsonload = false;
    const bool scripted = m_defaults.boolForKey(QStringLiteral("OVNQuitAfterStartup"));
    while (!active && !m_showprefsonload) {
        const QString vendor = m_defaults.stringForKey(QStringLiteral("DBVendor"));
        const QString refusal = m_services.connections->loginRefusal();
        const QString catalogRefusal = m_services.connections->catalogRefusal();
        if (scripted) {
            // A scripted start has nobody to answer the alert: the reason it would give, and the end.
            const QString reason = !refusal.isEmpty()          ? refusal
                                   : !catalogRefusal.isEmpty() ? catalogRefusal
                                                               : connectionFailureText(m_dbcon.get(), vendor);
            std::fprintf(stderr, "%s\n", qPrintable(reason));
            m_startingUp = false;
            m_services.connections->setBeforeAlert(nullptr);
            terminate();
            return StartupResult::Refused;
        }
        const int answer = Alerts::run(!refusal.isEmpty()          ? loginRefusalAlert(refusal)
                                       : !catalogRefusal.isEmpty() ? catalogRefusalAlert(vendor, catalogRefusal)
                                                                   : connectionRetryAlert(vendor));
        if (answer == 2) {
            m_startingUp = false;
            m_services.connections->setBeforeAlert(nullptr);
            terminate();
            return StartupResult::Quit;
        }
        if (answer == 1) {
            m_showprefsonload = true;
            break;
        }
        splash->setStatus(localized("Creating database connection..."));
        splash->makeKeyAndOrderFront();
        m_dbcon = createAndOpenDBConnection();
        splash->orderOut();
        active = isActive(m_dbcon);
    }
    m_startingUp = false;
    m_services.connections->setBeforeAlert(nullptr);
    splash.reset();

    if (!m_showprefsonload && documents().isEmpty()) {
        if (OVNAssetManager *document = openUntitledDocumentAndDisplay()) {
            document->setDatabaseConnection(m_dbcon);
            document->reload();
        }
    }
    // After the catalog window, so that it opens beside that window and in front of it, leaving
    // that window the keyboard focus (its menus' shortcuts work at once).
    if (m_defaults.boolForKey(QStringLiteral("WorkflowPanelVisible")))
        orderPanelFront(Panel::Workflow, false);

    if (m_services.movieFrameworkVersion() <= kNewEnoughMovieFramework) {
        Alerts::display(localized("Movie playback is not available"),
                        localized("Ostrevan plays movies with Qt Multimedia and reads them with FFmpeg, and one of "
                                  "them is missing or has no playback plugin.\nPlease be advised that some features "
                                  "may not work without it. \n\nInstall the Qt Multimedia and FFmpeg packages of "
                                  "your distribution to work with movies in Ostrevan."));
    }
    return StartupResult::Run;
}

void OVNDocumentController::awakeFromNib()
{
    if (m_showprefsonload) {
        m_showprefsonload = false;
        showPreferences();
    }
}

void OVNDocumentController::addMyselfToImageCapture2HotPlugActions()
{
    if (!m_hotPlug)
        m_hotPlug = std::make_unique<OVNDesktopHotPlug>();
    m_hotPlug->addMyself();
}

void OVNDocumentController::registerStartupDefaults(const QRectF &visibleFrame)
{
    // A first start without a preferences file opens the local catalog: nobody chose a server yet
    // (that is done in Preferences). A file that exists keeps its meaning, with or without a vendor.
    const bool noPreferencesFile = !m_defaults.filePath().isEmpty() && !QFileInfo::exists(m_defaults.filePath())
                                   && m_defaults.persistentDomain().isEmpty();
    // Also in a first start given another vendor on the command line: that one counts for the run
    // and is never saved, so the file gets the program's own first choice.
    if (noPreferencesFile)
        m_defaults.setStoredObject(QStringLiteral("Integrated"), QStringLiteral("DBVendor"));
    const QVariant firstRun = m_defaults.objectForKey(QStringLiteral("FirstRun"));
    if (!firstRun.isValid() || UserDefaults::stringFromVariant(firstRun) != QLatin1String("NO")) {
        // The program's own first-run values for the file: one given on the command line still
        // counts for this run.
        m_defaults.setStoredObject(QStringLiteral("1"), QStringLiteral("WorkflowPanelVisible"));
        m_defaults.setStoredObject(QStringLiteral("NO"), QStringLiteral("FirstRun"));
    }
    m_defaults.registerDefaults(OVNRegisteredDefaults::startupDefaults(visibleFrame));
}

void OVNDocumentController::runPeriodicUpdateCheck(OVNSplashDisplay &splash)
{
    splash.setStatus(localized("Checking for updates..."));
    if (!m_defaults.boolForKey(QStringLiteral("StartupUpdateCheck")))
        return;
    const QDateTime lastCheck = m_defaults.objectForKey(QStringLiteral("StartupUpdateCheckDate")).toDateTime();
    const qint64 period = m_defaults.integerForKey(QStringLiteral("StartupUpdateCheckPeriod"));
    const QDateTime now = QDateTime::currentDateTime();
    if (!QRXUpdateCheck::isCheckDue(lastCheck, period, now))
        return;
    std::unique_ptr<OVNUpdateChecking> check = makeUpdateCheck();
    // Without an endpoint no check is made, so none is recorded either.
    if (!check->isConfigured())
        return;
    if (check->checkForUpdateAvailable()) {
        splash.orderOut();
        Alert alert;
        alert.message = localized("Update available");
        alert.informativeText = localized("A new update is available for this application. Do you want to "
                                          "open the download page with your web browser now?");
        alert.buttons = {localized("Cancel"), localized("Download Update")};
        alert.style = Alert::Style::Informational;
        if (Alerts::run(alert) == 1)
            check->runUpdate();
    }
    m_defaults.setObject(now, QStringLiteral("StartupUpdateCheckDate"));
}
