// The tool panels of the Window menu, Select All for the front window, the Help pages, File > Open
// and Open Recent, and the enabling of the controller's menu items.
#include "app/OVNDocumentController.h"

#include "app/OVNAssetManager.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "import/OVNImportCamera.h"
#include "import/OVNWorkflowPanel.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/PlainText.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "search/OVNExpressPanel.h"
#include "uikit/OVNWindowPlacement.h"
#include "viewers/OVNZoomPanel.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QUrl>

namespace {
const QString kHelpSiteKey = QStringLiteral("HelpSiteURL");
constexpr OVNDocumentController::Panel kPanels[] = {
    OVNDocumentController::Panel::Workflow, OVNDocumentController::Panel::Capture, OVNDocumentController::Panel::Zoom,
    OVNDocumentController::Panel::Express};
} // namespace

QString OVNDocumentController::panelVisibilityKey(Panel panel)
{
    switch (panel) {
    case Panel::Workflow:
        return QStringLiteral("WorkflowPanelVisible");
    case Panel::Capture:
        return QStringLiteral("CapturePanelVisible");
    case Panel::Zoom:
        return QStringLiteral("ZoomPanelVisible");
    case Panel::Express:
        return QStringLiteral("ExpressPanelVisible");
    }
    return {};
}

QWidget *OVNDocumentController::panelWidget(Panel panel) const
{
    switch (panel) {
    case Panel::Workflow:
        return m_workflow.get();
    case Panel::Capture:
        return m_capture.get();
    case Panel::Zoom:
        return m_zoom.get();
    case Panel::Express:
        return m_express.get();
    }
    return nullptr;
}

bool OVNDocumentController::isPanelVisible(Panel panel) const
{
    const QWidget *widget = panelWidget(panel);
    return widget && widget->isVisible();
}

QAction *OVNDocumentController::panelAction(Panel panel) const { return m_panelActions[int(panel)]; }

void OVNDocumentController::togglePanel(Panel panel)
{
    QWidget *widget = panelWidget(panel);
    if (!widget)
        return;
    const bool show = !widget->isVisible();
    if (show && panel == Panel::Express) {
        // A first showing, or one after a failed connection, connects (again) and builds the list.
        if (!m_express->databaseConnection() || !m_express->databaseConnection()->isDBConnectionActive())
            m_express->setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess>(createAndOpenDBConnection()));
        m_express->initSelections();
    }
    if (show) {
        orderPanelFront(panel);
    } else {
        switch (panel) {
        case Panel::Workflow:
            m_workflow->orderOut();
            break;
        case Panel::Capture:
            m_capture->orderOut();
            break;
        case Panel::Zoom:
            m_zoom->orderOut();
            break;
        case Panel::Express:
            m_express->orderOut();
            break;
        }
    }
    m_defaults.setString(show ? QStringLiteral("1") : QStringLiteral("0"), panelVisibilityKey(panel));
    if (show && panel == Panel::Zoom && !documents().isEmpty())
        documents().last()->mediaDelegate().loadZoomPanelImage();
}

void OVNDocumentController::orderPanelFront(Panel panel, bool activate)
{
    QWidget *widget = panelWidget(panel);
    if (!widget)
        return;
    // A panel the user (or a stored place) put somewhere stays there; a new one must not open
    // over the window's menus or wherever the window manager drops it.
    if (!widget->isVisible() && !widget->testAttribute(Qt::WA_Moved)) {
        auto *served = qobject_cast<OVNAssetManager *>(QApplication::activeWindow());
        if (!served && !documents().isEmpty())
            served = documents().last();
        if (served && served->isVisible())
            OVNWindowPlacement::placeBeside(widget, served);
    }
    switch (panel) {
    case Panel::Workflow:
        if (activate)
            m_workflow->makeKeyAndOrderFront();
        else
            m_workflow->orderFrontWithoutActivating();
        break;
    case Panel::Capture:
        m_capture->makeKeyAndOrderFront();
        break;
    case Panel::Zoom:
        m_zoom->makeKeyAndOrderFront();
        break;
    case Panel::Express:
        m_express->makeKeyAndOrderFront();
        break;
    }
}

void OVNDocumentController::windowCapturePanelMakeKeyAndOrderFront()
{
    if (!m_capture)
        return;
    orderPanelFront(Panel::Capture);
    m_defaults.setString(QStringLiteral("1"), panelVisibilityKey(Panel::Capture));
}

void OVNDocumentController::editSelectAll()
{
    // The catalog window in front, else the one used last.
    auto *front = qobject_cast<OVNAssetManager *>(QApplication::activeWindow());
    if (!front && !documents().isEmpty())
        front = documents().last();
    if (front)
        front->commands().selectAll();
}

QString OVNDocumentController::helpPage(const QString &root, const QString &query)
{
    const QUrl url(root.trimmed());
    if (root.trimmed().isEmpty() || !url.isValid()
        || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")))
        return {};
    QUrl page(url);
    page.setQuery(query);
    return page.toString();
}

void OVNDocumentController::helpAbout()
{
    Alert alert;
    alert.style = Alert::Style::Informational;
    alert.message = QStringLiteral("Ostrevan");
    alert.informativeText = localized("Digital Asset Manager") + QLatin1Char('\n')
                            + localized("Version %1").arg(QCoreApplication::applicationVersion());
    Alerts::run(alert);
}

void OVNDocumentController::tellHowToSetAddress(const QString &title, const QString &key) const
{
    const QString file = m_defaults.filePath().isEmpty() ? UserDefaults::defaultFilePath() : m_defaults.filePath();
    Alerts::inform(title, localized("No address is set for it. Quit Ostrevan, then set the preference \"%1\" to an "
                                    "http or https address in %2.")
                              .arg(key, file));
}

void OVNDocumentController::helpOnlineManual()
{
    const QString page = helpPage(m_defaults.stringForKey(kHelpSiteKey), QStringLiteral("action=manual"));
    if (!page.isEmpty())
        Workspace::openUrl(page);
    else
        tellHowToSetAddress(localized("The online manual cannot be opened."), kHelpSiteKey);
}

void OVNDocumentController::helpOnlineSupport()
{
    const QString page = helpPage(m_defaults.stringForKey(kHelpSiteKey), QStringLiteral("action=service"));
    if (!page.isEmpty())
        Workspace::openUrl(page);
    else
        tellHowToSetAddress(localized("The online support cannot be opened."), kHelpSiteKey);
}

OVNDocumentController::MenuState OVNDocumentController::validateMenuItem(const MenuQuery &query)
{
    switch (query.command) {
    case Command::AlwaysAvailable:
    case Command::OpenRecentItem:
        return {true, false};
    case Command::Panel:
        return {query.panelExists, query.panelExists && query.panelVisible};
    case Command::Help:
        // Without a site the item says how to set one, rather than standing dead.
        return {true, false};
    case Command::DocumentCommand:
        break;
    }
    return {query.hasDocument && query.documentEnables, false};
}

void OVNDocumentController::createPanelActions()
{
    const char *titles[] = {"Workflow Panel", "Camera Capture Panel", "Zoom Panel", "Express Panel"};
    const QKeySequence keys[] = {
        QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_1), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_2),
        QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_3), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_4)};
    for (Panel panel : kPanels) {
        QAction *action = panel == Panel::Workflow && m_workflowAction
                              ? m_workflowAction
                              : new QAction(localizedMenu(titles[int(panel)]), this);
        action->setCheckable(true);
        action->setShortcut(keys[int(panel)]);
        if (action != m_workflowAction)
            connect(action, &QAction::triggered, this, [this, panel] { togglePanel(panel); });
        m_panelActions[int(panel)] = action;
    }
    m_aboutAction = new QAction(localizedMenu("About Ostrevan"), this);
    m_aboutAction->setMenuRole(QAction::AboutRole);
    connect(m_aboutAction, &QAction::triggered, this, [this] { helpAbout(); });
    m_helpManualAction = new QAction(localizedMenu("Online Manual"), this);
    connect(m_helpManualAction, &QAction::triggered, this, [this] { helpOnlineManual(); });
    m_helpSupportAction = new QAction(localizedMenu("Online Support"), this);
    connect(m_helpSupportAction, &QAction::triggered, this, [this] { helpOnlineSupport(); });
    m_openAction = new QAction(localizedMenu("Open..."), this);
    m_openAction->setShortcut(QKeySequence::Open);
    connect(m_openAction, &QAction::triggered, this, [this] {
        const QStringList files = QFileDialog::getOpenFileNames(QApplication::activeWindow(), localizedMenu("Open"));
        openFiles(files);
    });
}

void OVNDocumentController::populateDesktopMenus(QMenu *file, QMenu *window, QMenu *help)
{
    QAction *firstFileItem = file->actions().value(1);
    file->insertAction(firstFileItem, m_openAction);
    QMenu *recent = new QMenu(localizedMenu("Open Recent"), file);
    file->insertMenu(firstFileItem, recent);
    connect(recent, &QMenu::aboutToShow, this, [this, recent] {
        recent->clear();
        for (const QString &path : recentDocuments())
            recent
                ->addAction(menuItemText(QFileInfo(path).fileName()), this,
                            [this, path] { openDocumentWithContentsOfFile(path); })
                ->setToolTip(plainToolTip(path));
        recent->setEnabled(true);
    });

    QAction *afterPanels = window->actions().value(1);
    for (Panel panel : kPanels) {
        if (panel != Panel::Workflow)
            window->insertAction(afterPanels, m_panelActions[int(panel)]);
    }
    connect(window, &QMenu::aboutToShow, this, [this] {
        for (Panel panel : kPanels) {
            MenuQuery query;
            query.command = Command::Panel;
            query.panelExists = panelWidget(panel) != nullptr;
            query.panelVisible = isPanelVisible(panel);
            const MenuState state = validateMenuItem(query);
            m_panelActions[int(panel)]->setEnabled(state.enabled);
            m_panelActions[int(panel)]->setChecked(state.checked);
        }
    });

    help->addAction(m_helpManualAction);
    help->addAction(m_helpSupportAction);
}
