// The application's menus and the commands the controller carries out.

#include "app/OVNDocumentController.h"

#include "app/OVNDesktopHotPlug.h"

#include "app/OVNAssetManager.h"
#include "app/OVNConnectionFactory.h"
#include "app/OVNConnectionSource.h"
#include "app/OVNUpdateChecking.h"
#include "app/OVNUserManager.h"
#include "browser/OVNUDFThumbnails.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNExtensionMappingHelper.h"
#include "formats/OVNHelper.h"
#include "import/OVNWorkflowPanel.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QWidget>

void OVNDocumentController::createActions()
{
    m_newAction = new QAction(localizedMenu("New"), this);
    m_newAction->setShortcut(QKeySequence::New);
    connect(m_newAction, &QAction::triggered, this, [this] { fileNewViewerDocument(); });

    // Every window that comes to the front gets it too, so that the viewers, which have no menus,
    // close with the same keys.
    m_closeAction = new QAction(localizedMenu("Close"), this);
    m_closeAction->setShortcut(QKeySequence::Close);
    connect(m_closeAction, &QAction::triggered, this, [this] { closeFrontWindow(); });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        QWidget *front = now ? now->window() : nullptr;
        if (front && !front->actions().contains(m_closeAction) && !qobject_cast<QDialog *>(front))
            front->addAction(m_closeAction);
    });

    m_preferencesAction = new QAction(localizedMenu("Preferences..."), this);
    m_preferencesAction->setShortcut(QKeySequence::Preferences);
    m_preferencesAction->setMenuRole(QAction::PreferencesRole);
    connect(m_preferencesAction, &QAction::triggered, this, [this] { showPreferences(); });

    m_quitAction = new QAction(localizedMenu("Quit"), this);
    m_quitAction->setShortcut(QKeySequence::Quit);
    m_quitAction->setMenuRole(QAction::QuitRole);
    connect(m_quitAction, &QAction::triggered, this, [this] { terminate(); });

    m_workflowAction = new QAction(localizedMenu("Workflow Panel"), this);
    m_workflowAction->setCheckable(true);
    connect(m_workflowAction, &QAction::triggered, this, [this] { windowWorkflowPanel(); });

    m_layoutEditorAction = new QAction(localizedMenu("Thumbnail Layouts..."), this);
    connect(m_layoutEditorAction, &QAction::triggered, this, [this] { viewUDFThumbnailEditor(); });

    m_minimizeAction = new QAction(localizedMenu("Minimize"), this);
    m_minimizeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    connect(m_minimizeAction, &QAction::triggered, this, [] {
        if (QWidget *window = QApplication::activeWindow())
            window->showMinimized();
    });

    // The front window between its full size and the size it had.
    m_zoomAction = new QAction(localizedMenu("Zoom"), this);
    connect(m_zoomAction, &QAction::triggered, this, [] {
        QWidget *window = QApplication::activeWindow();
        if (!window || qobject_cast<QDialog *>(window))
            return;
        window->isMaximized() ? window->showNormal() : window->showMaximized();
    });

    m_downloadUpdateAction = new QAction(localizedMenu("Download Update..."), this);
    connect(m_downloadUpdateAction, &QAction::triggered, this, [this] { prefStartupUpdateCheck(); });
    createPanelActions();
}

void OVNDocumentController::populateMenuBar(QMenuBar *menuBar)
{
    // The window's own menus (Edit, View, Media) stand between File and Window.
    QAction *windowMenus = menuBar->actions().value(0);
    auto *file = new QMenu(localizedMenu("&File"), menuBar);
    menuBar->insertMenu(windowMenus, file);
    file->addAction(m_newAction);
    QPointer<OVNAssetManager> document = qobject_cast<OVNAssetManager *>(menuBar->window());
    if (document) {
        // What brings media in, between opening and closing.
        file->addSeparator();
        file->addAction(document->smartAddAction());
        file->addAction(document->action(OVNCatalogActions::Action::ImportCumulus));
        file->addSeparator();
    }
    file->addAction(m_closeAction);
    file->addSeparator();
    // Page Setup and Print belong to the window whose menu bar they are in.
    QAction *pageSetup = file->addAction(localizedMenu("Page Setup..."));
    pageSetup->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    connect(pageSetup, &QAction::triggered, this, [document] {
        if (document)
            document->runPageLayout();
    });
    QAction *print = file->addAction(localizedMenu("Print..."));
    print->setShortcut(QKeySequence::Print);
    connect(print, &QAction::triggered, this, [document] {
        if (document)
            document->printShowingPrintPanel();
    });
    connect(file, &QMenu::aboutToShow, this,
            [document, print] { print->setEnabled(document && document->canPrint()); });
    file->addSeparator();
    file->addAction(m_preferencesAction);
    file->addSeparator();
    file->addAction(m_quitAction);

    QMenu *window = menuBar->addMenu(localizedMenu("&Window"));
    window->addAction(m_workflowAction);
    window->addAction(m_layoutEditorAction);
    window->addSeparator();
    window->addAction(m_minimizeAction);
    window->addAction(m_zoomAction);
    connect(window, &QMenu::aboutToShow, this, [this] {
        m_workflowAction->setEnabled(m_workflow != nullptr);
        m_workflowAction->setChecked(m_workflow && m_workflow->isVisible());
    });

    QMenu *help = menuBar->addMenu(localizedMenu("&Help"));
    help->addAction(m_downloadUpdateAction);
    populateDesktopMenus(file, window, help);
    help->addSeparator();
    help->addAction(m_aboutAction);
}

void OVNDocumentController::fileNewViewerDocument() { applicationOpenUntitledFile(); }

void OVNDocumentController::closeFrontWindow()
{
    QWidget *front = QApplication::activeWindow();
    if (!front || qobject_cast<QDialog *>(front) || front->isModal()) {
        QApplication::beep();
        return;
    }
    front->close();
}

void OVNDocumentController::showPreferences()
{
    if (!m_prefWindow) {
        auto *factory = dynamic_cast<OVNConnectionFactory *>(m_services.connections.get());
        if (!factory) {
            m_trialConnections = std::make_unique<OVNConnectionFactory>(m_defaults);
            factory = m_trialConnections.get();
        }
        if (!m_extensionmapping)
            m_extensionmapping = std::make_unique<OVNExtensionMapping>();
        // A table given on the command line counts for this run only: the window then shows and
        // edits the stored one, so that saving an edit never writes the given table to the file.
        OVNExtensionMapping *edited = m_extensionmapping.get();
        if (m_defaults.argumentDomain().contains(QStringLiteral("FileTypeMapping"))) {
            m_storedExtensionMapping =
                std::make_unique<OVNExtensionMapping>(OVNExtensionMappingHelper::mappingFromPreferenceValue(
                    m_defaults.storedObjectForKey(QStringLiteral("FileTypeMapping")), OVNHelper::systemMajorVersion()));
            edited = m_storedExtensionMapping.get();
        }
        // Made once; closing it hides it.
        m_prefWindow = new OVNPreferencesWindow(m_defaults, *factory, *edited);
        m_prefWindow->setConnectionInUse([this] { return m_dbcon.get(); });
        // Each use makes a window of its own on a new connection.
        m_prefWindow->setUserManagerOpener([this] {
            auto *manager = new OVNUserManager(createAndOpenDBConnection(), m_prefWindow);
            manager->start();
        });
        m_prefWindow->setDownloadPageOpener([this] { prefStartupUpdateCheck(); });
        connect(m_prefWindow, &OVNPreferencesWindow::databaseSettingsSaved, this, [this] {
            // Without a menu bar of its own the program would have no window left to go on from:
            // open a catalog window on the new settings.
            if (documents().isEmpty())
                fileNewViewerDocument();
        });
        factory->setAlertWindow(m_prefWindow);
        if (!m_hotPlug)
            m_hotPlug = std::make_unique<OVNDesktopHotPlug>();
        m_prefWindow->setCameraHotPlug(m_hotPlug.get());
    }
    m_prefWindow->showPreferences();
}

void OVNDocumentController::viewUDFThumbnailEditor()
{
    if (m_udfThumbnails)
        m_udfThumbnails->makeKeyAndOrderFront();
}

void OVNDocumentController::windowWorkflowPanel()
{
    if (!m_workflow)
        return;
    if (m_workflow->isVisible()) {
        m_workflow->orderOut();
        m_defaults.setString(QStringLiteral("0"), QStringLiteral("WorkflowPanelVisible"));
    } else {
        orderPanelFront(Panel::Workflow);
        m_defaults.setString(QStringLiteral("1"), QStringLiteral("WorkflowPanelVisible"));
    }
}

void OVNDocumentController::prefStartupUpdateCheck()
{
    if (!makeUpdateCheck()->isConfigured()) {
        tellHowToSetAddress(localized("Updates cannot be looked for."), QStringLiteral("UpdateCheckURL"));
        return;
    }
    makeUpdateCheck()->runUpdate();
}
