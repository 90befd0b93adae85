#pragma once

#include "app/OVNAssetManager.h"
#include "app/OVNConnectionSource.h"
#include "app/OVNPreferencesWindow.h"
#include "app/OVNSplashDisplay.h"
#include "app/OVNUpdateChecking.h"
#include "formats/OVNOrientation.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRectF>

#include <functional>
#include <memory>

class OVNConnectionFactory;
class OVNDesktopHotPlug;
class OVNDatabaseAccess;
class OVNExpressOpening;
class OVNExpressPanel;
class OVNExtensionMapping;
class OVNImportCamera;
class OVNUDFThumbnails;
class OVNViewerDocuments;
struct OVNOpenRoute;
class OVNWorkflowPanel;
class OVNZoomPanel;
class QAction;
class QMenu;
class QMenuBar;
class QWidget;
class UserDefaults;

// The application controller: runs start-up, owns the tool panels, the catalog connection it makes
// at start-up (shared with the first catalog window), the connection factory and the catalog
// windows, and carries the application's menu commands.
//
// Start-up is split into steps behind small interfaces (connections, splash, update check, screen,
// movie framework) so that tests drive it with stand-ins; every member left empty in Services gets
// the real one.
//
// The implementation is split by concern: OVNDocumentController.cpp (lifetime, connections,
// windows, termination), OVNDocumentController_startup.cpp, OVNDocumentController_menus.cpp.
class OVNDocumentController : public QObject
{
    Q_OBJECT
public:
    struct Services {
        std::unique_ptr<OVNConnectionSource> connections;
        std::function<std::unique_ptr<OVNSplashDisplay>()> makeSplash;
        std::function<std::unique_ptr<OVNUpdateChecking>()> makeUpdateCheck;
        // The main screen's visible frame, measured upwards from the screen's bottom.
        std::function<QRectF()> visibleFrame;
        // The movie framework's version number (OVNHelper::quicktimeMajorVersion()).
        std::function<int()> movieFrameworkVersion;
    };

    // Refused: the start-up was scripted (-OVNQuitAfterStartup YES) and there is no catalog to use
    // (no connection, or the account may not use it): instead of asking, the reason went to
    // standard error, and the program ends with status 1.
    enum class StartupResult { Run, Quit, Refused };

    explicit OVNDocumentController(UserDefaults &defaults, Services services = {});
    ~OVNDocumentController() override;

    // ---- Start-up (OVNDocumentController_startup.cpp) ----
    // The whole start-up, before the event loop runs. Quit means the user chose to end the program
    // (termination has run already); the caller must not enter the event loop then.
    StartupResult startUp();
    // After start-up: opens the preferences when the user asked for them at start-up.
    void awakeFromNib();
    // Registers the start-up defaults for a main screen with that visible frame, after marking the
    // first run.
    void registerStartupDefaults(const QRectF &visibleFrame);
    // The update check that start-up runs when it is due; hides the splash before its alert.
    void runPeriodicUpdateCheck(OVNSplashDisplay &splash);
    // Adds the program to the system's camera hot-plug applications.
    void addMyselfToImageCapture2HotPlugActions();
    bool showPrefsOnLoad() const { return m_showprefsonload; }

    // ---- Connections, windows and termination (OVNDocumentController.cpp) ----
    std::unique_ptr<OVNDatabaseAccess> createAndOpenDBConnection();
    OVNDatabaseAccess *databaseConnection() const { return m_dbcon.get(); }
    // A new catalog window with a connection of its own.
    OVNAssetManager *applicationOpenUntitledFile();
    // A new catalog window without a connection.
    OVNAssetManager *openUntitledDocumentAndDisplay();
    QList<OVNAssetManager *> documents() const;
    // Closes the catalog windows (which store what is being edited in them) and the controller's
    // connection, then stores the workflow panel's and then the capture window's position. Runs
    // once; later calls do nothing.
    void applicationWillTerminate();
    // Ends the program: termination now, and the event loop's end when it runs.
    void terminate();
    bool isTerminated() const { return m_terminated; }

    OVNWorkflowPanel *workflowPanel() const { return m_workflow.get(); }
    OVNImportCamera *capturePanel() const { return m_capture.get(); }
    OVNZoomPanel *zoomPanel() const { return m_zoom.get(); }
    OVNExpressPanel *expressPanel() const { return m_express.get(); }
    OVNUDFThumbnails *thumbnailLayoutEditor() const { return m_udfThumbnails.get(); }
    OVNExtensionMapping *extensionMapping() const { return m_extensionmapping.get(); }
    OVNPreferencesWindow *preferencesWindow() const { return m_prefWindow; }

    // ---- Menu commands (OVNDocumentController_menus.cpp) ----
    // Gives a catalog window's menu bar the application's menus.
    void populateMenuBar(QMenuBar *menuBar);
    void fileNewViewerDocument();
    void showPreferences();
    void windowWorkflowPanel();
    // Brings the thumbnail layout editor to the front.
    void viewUDFThumbnailEditor();
    // Opens the download page (the preferences' update button).
    void prefStartupUpdateCheck();

    // ---- Tool panels, Select All, Help and menu validation (OVNDocumentController_panels.cpp) ----
    enum class Panel { Workflow, Capture, Zoom, Express };
    // Shows the panel when hidden and hides it when shown, storing its "...PanelVisible" key; the
    // express panel gets a connection of its own first when it has none that works.
    void togglePanel(Panel panel);
    void windowCapturePanelMakeKeyAndOrderFront();
    bool isPanelVisible(Panel panel) const;
    QAction *panelAction(Panel panel) const;
    static QString panelVisibilityKey(Panel panel);
    // Select All for the catalog window in front.
    void editSelectAll();
    // The Help pages: the site's root (the "HelpSiteURL" preference, empty: none) and a query.
    // Name and version.
    void helpAbout();
    void helpOnlineManual();
    void helpOnlineSupport();
    QAction *aboutAction() const { return m_aboutAction; }
    static QString helpPage(const QString &root, const QString &query);
    QAction *helpManualAction() const { return m_helpManualAction; }
    QAction *helpSupportAction() const { return m_helpSupportAction; }

    // What a menu item of the controller's shows: the first rule that matches decides.
    enum class Command { AlwaysAvailable, OpenRecentItem, Panel, Help, DocumentCommand };
    struct MenuQuery {
        Command command = Command::DocumentCommand;
        bool panelExists = false;
        bool panelVisible = false;
        bool hasDocument = false;
        bool documentEnables = false; // the front window's own answer
    };
    struct MenuState {
        bool enabled = false;
        bool checked = false;
        bool operator==(const MenuState &) const = default;
    };
    static MenuState validateMenuItem(const MenuQuery &query);

    // ---- Opening media files (OVNDocumentController_open.cpp) ----
    // Files opened from the desktop, the command line, File > Open and Open Recent: each as
    // openDocumentWithContentsOfFile() with no volume, turned as the file itself says.
    void openFiles(const QStringList &paths);
    // One alert naming files a later start asked for that are not there.
    void reportMissingFiles(const QStringList &paths);
    // Opens the file in the viewer its type names, or in the application the desktop opens it
    // with; a missing file, or a file the desktop would hand back to us, gets an alert. True when
    // something opened it. The orientation is the catalog's, or OVNOrientation::codeFromFile.
    bool openDocumentWithContentsOfFile(const QString &path, const QString &volume = {},
                                        int orientation = OVNOrientation::codeFromFile);
    // The same road without a controller (the catalog window's open commands): the viewers when
    // given, else the desktop, with the alerts.
    // In full screen, movies play at once in full screen; other files open as they would in a window.
    enum class OpenMode { Window, FullScreen };
    // `handOnCheck` goes with a catalog's entry to its viewer, image or movie: the viewer asks it
    // before revealing the file, an adjustment window opened from it at each export (see
    // OVNViewerDocuments::openImage).
    static bool openFile(const QString &path, const QString &volume, int orientation, OVNViewerDocuments *viewers,
                         OpenMode mode = OpenMode::Window, const std::function<bool()> &handOnCheck = {});
    // Opens a catalogued file with the named application (a desktop entry or a program), or with
    // the desktop's default one when none is named; a missing file gets the "Media file not
    // found." alert for its volume and path. True when something was started.
    static bool openWithDesktop(const QString &stored, const QString &volume, const QString &application);
    // Starts the desktop's application for the route (Desktop routes only); false when it did not start.
    static bool launch(const OVNOpenRoute &route);
    // Brings the front catalog window forward, or opens one when none is left.
    void activateIgnoringOtherApps();
    // Not owned; null sends the viewers' files to the desktop.
    void setViewerDocuments(OVNViewerDocuments *viewers) { m_viewers = viewers; }
    OVNViewerDocuments *viewerDocuments() const { return m_viewers; }
    // File > Open Recent: the newest first, a short list kept in the preferences.
    QStringList recentDocuments() const;
    void noteNewRecentDocument(const QString &path);

private:
    // An alert for a Help item whose address preference `key` is not set: how to set it.
    void tellHowToSetAddress(const QString &title, const QString &key) const;
    void createActions();
    OVNAssetManager *makeDocument(std::shared_ptr<OVNDatabaseAccess> connection);
    // Closes the front window (a catalog window or a viewer); beeps when a dialog is in front.
    void closeFrontWindow();
    std::unique_ptr<OVNUpdateChecking> makeUpdateCheck() const;

    UserDefaults &m_defaults;
    Services m_services;
    std::shared_ptr<OVNDatabaseAccess> m_dbcon;
    std::unique_ptr<OVNWorkflowPanel> m_workflow;
    std::unique_ptr<OVNImportCamera> m_capture;
    std::unique_ptr<OVNZoomPanel> m_zoom;
    std::unique_ptr<OVNExpressPanel> m_express;
    std::unique_ptr<OVNExpressOpening> m_expressOpening;
    std::unique_ptr<OVNUDFThumbnails> m_udfThumbnails;
    std::unique_ptr<OVNExtensionMapping> m_extensionmapping;
    // The stored table the preferences window edits while the command line gives another.
    std::unique_ptr<OVNExtensionMapping> m_storedExtensionMapping;
    QPointer<OVNPreferencesWindow> m_prefWindow;
    // Trial connections for the preferences when the connections come from elsewhere (tests).
    std::unique_ptr<OVNConnectionFactory> m_trialConnections;
    QList<QPointer<OVNAssetManager>> m_documents;
    OVNViewerDocuments *m_viewers = nullptr;
    std::unique_ptr<OVNDesktopHotPlug> m_hotPlug;
    bool m_showprefsonload = false;
    bool m_startingUp = false;
    bool m_terminated = false;

    QAction *m_newAction = nullptr;
    QAction *m_closeAction = nullptr;
    QAction *m_layoutEditorAction = nullptr;
    QAction *m_preferencesAction = nullptr;
    QAction *m_quitAction = nullptr;
    // Edit > Copy and Paste act on the catalog window in front.
    QAction *m_workflowAction = nullptr;
    QAction *m_minimizeAction = nullptr;
    QAction *m_zoomAction = nullptr;
    QAction *m_downloadUpdateAction = nullptr;
    QAction *m_panelActions[4] = {};
    QAction *m_helpManualAction = nullptr;
    QAction *m_helpSupportAction = nullptr;
    QAction *m_aboutAction = nullptr;
    QAction *m_openAction = nullptr;
    QMenu *m_recentMenu = nullptr;
    void createPanelActions();
    void populateDesktopMenus(QMenu *file, QMenu *window, QMenu *help);
    QWidget *panelWidget(Panel panel) const;
    // Shows the panel in front; one that has no place of its own yet opens beside the catalog
    // window it serves (the one in front, else the one used last). Without `activate` the workflow
    // panel leaves the keyboard focus where it is.
    void orderPanelFront(Panel panel, bool activate = true);
};
