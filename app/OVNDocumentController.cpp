#include "app/OVNDocumentController.h"

#include "app/OVNAssetManager.h"
#include "app/OVNConnectionFactory.h"
#include "app/OVNDesktopHotPlug.h"
#include "app/OVNSplashScreen.h"
#include "browser/OVNUDFThumbnails.h"
#include "app/QRXUpdateCheck.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "import/OVNImportCamera.h"
#include "import/OVNImportWorker.h"
#include "import/OVNWorkflowPanel.h"
#include "output/OVNDiscBurnerSheet.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"
#include "app/OVNExpressOpening.h"
#include "search/OVNExpressPanel.h"
#include "viewers/OVNZoomPanel.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

OVNDocumentController::OVNDocumentController(UserDefaults &defaults, Services services)
    : m_defaults(defaults),
      m_services(std::move(services))
{
    if (!m_services.connections)
        m_services.connections = std::make_unique<OVNConnectionFactory>(m_defaults);
    if (!m_services.makeSplash)
        m_services.makeSplash = [] { return std::make_unique<OVNSplashScreen>(); };
    if (!m_services.visibleFrame) {
        m_services.visibleFrame = [] {
            const QScreen *screen = QGuiApplication::primaryScreen();
            if (!screen)
                return QRectF(0, 0, 1024, 768);
            const QRect full = screen->geometry();
            const QRect visible = screen->availableGeometry();
            // Measured upwards from the screen's bottom edge.
            return QRectF(visible.x() - full.x(), (full.y() + full.height()) - (visible.y() + visible.height()),
                          visible.width(), visible.height());
        };
    }
    if (!m_services.movieFrameworkVersion)
        m_services.movieFrameworkVersion = [] { return OVNHelper::quicktimeMajorVersion(); };
    createActions();
}

OVNDocumentController::~OVNDocumentController()
{
    for (const QPointer<OVNAssetManager> &document : std::as_const(m_documents))
        delete document.data();
    delete m_prefWindow.data();
}

std::unique_ptr<OVNUpdateChecking> OVNDocumentController::makeUpdateCheck() const
{
    if (m_services.makeUpdateCheck)
        return m_services.makeUpdateCheck();
    return std::make_unique<QRXUpdateCheck>(m_defaults.stringForKey(QStringLiteral("UpdateCheckURL")),
                                            QCoreApplication::applicationVersion());
}

std::unique_ptr<OVNDatabaseAccess> OVNDocumentController::createAndOpenDBConnection()
{
    std::unique_ptr<OVNDatabaseAccess> connection = m_services.connections->createAndOpenDBConnection();
    // Start-up answers a refusal with its own choices; every later connection says it here.
    const QString refusal = m_services.connections->loginRefusal();
    if (!refusal.isEmpty() && !m_startingUp)
        Alerts::inform(localized("You cannot use this catalog"), refusal);
    const QString catalogRefusal = m_services.connections->catalogRefusal();
    if (!catalogRefusal.isEmpty() && !m_startingUp)
        Alerts::inform(localized("Could not open the catalog"), catalogRefusal);
    return connection;
}

OVNAssetManager *OVNDocumentController::makeDocument(std::shared_ptr<OVNDatabaseAccess> connection)
{
    auto *document = new OVNAssetManager; // deletes itself when closed
    if (connection)
        document->setDatabaseConnection(std::move(connection));
    populateMenuBar(document->menuBar());
    connect(document, &OVNAssetManager::capturePanelRequested, this,
            [this] { windowCapturePanelMakeKeyAndOrderFront(); });
    connect(document, &OVNAssetManager::zoomPanelToggleRequested, this, [this] { togglePanel(Panel::Zoom); });
    // A new window steps down and right from the last one, so that both can be seen.
    QPointer<OVNAssetManager> last;
    for (const QPointer<OVNAssetManager> &open : std::as_const(m_documents)) {
        if (open && open->isVisible())
            last = open;
    }
    if (last)
        document->setCascadePosition(last->pos() + QPoint(24, 24));
    document->makeWindowControllers();
    // Closed windows leave null entries behind.
    m_documents.removeIf([](const QPointer<OVNAssetManager> &open) { return open.isNull(); });
    m_documents.append(document);
    return document;
}

OVNAssetManager *OVNDocumentController::applicationOpenUntitledFile()
{
    OVNAssetManager *document = makeDocument(std::shared_ptr<OVNDatabaseAccess>(createAndOpenDBConnection()));
    // A window whose connection failed opens all the same, with an empty tree.
    document->reload();
    return document;
}

OVNAssetManager *OVNDocumentController::openUntitledDocumentAndDisplay() { return makeDocument(nullptr); }

QList<OVNAssetManager *> OVNDocumentController::documents() const
{
    QList<OVNAssetManager *> open;
    for (const QPointer<OVNAssetManager> &document : m_documents) {
        if (document)
            open.append(document.data());
    }
    return open;
}

void OVNDocumentController::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    // An open preferences window stores what was typed into it, as closing it does.
    if (m_prefWindow && m_prefWindow->isVisible())
        m_prefWindow->close();
    // The windows first: each hands an edit still in progress to the catalog, some of them over
    // the connection closed next.
    for (const QPointer<OVNAssetManager> &document : std::as_const(m_documents)) {
        if (document)
            document->close();
    }
    // A file a cancelled import no longer waits for must not be decoding while the program ends.
    OVNImportWorker::waitForAbandonedFiles(5000);
    if (m_dbcon)
        m_dbcon->closeDBConnection();
    // Both store under the same keys; the capture window's place is the one kept.
    if (m_workflow)
        m_workflow->saveLocation();
    if (m_capture)
        m_capture->saveLocation();
}

void OVNDocumentController::terminate()
{
    // Ending mid-write would leave a half-written disc and the drive locked.
    if (OVNDiscBurnerSheet::anyWriting()) {
        Alerts::inform(localized("A disc is being burned."),
                       localized("Stop the burn in its window, or wait until it is finished, before quitting."));
        return;
    }
    // Texts the catalog did not take are given up only when the user says so.
    for (const QPointer<OVNAssetManager> &document : std::as_const(m_documents)) {
        if (document && !document->confirmUnsavedEdits())
            return;
    }
    applicationWillTerminate();
    QCoreApplication::quit();
}
