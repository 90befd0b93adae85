#include "app/OVNCatalogWindowCommands.h"

#include "app/OVNAssetManager.h"

#include "app/OVNOutlineView.h"
#include "app/OVNPaneGeometry.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "browser/OVNMediaPasteboard.h"
#include "browser/OVNMediaView.h"
#include "browser/OVNMediaViewSorting.h"
#include "browser/OVNThumbnailHelper.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"
#include "uikit/BundleImage.h"
#include "uikit/OVNIconSetHelper.h"
#include "viewers/OVNZoomPanel.h"
#include "uikit/OVNImageAndTextCell.h"
#include "uikit/OVNSplitView.h"
#include "viewers/OVNCoreImageAdjust.h"
#include "platform/CatalogNames.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSlider>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWidgetAction>

using OVNCatalogActions::Action;
using OVNCatalogActions::Option;

namespace {

using CatalogNames::keyType;
const QString itemPrefix = QStringLiteral("OVNAssetManager ");
const QString spaceItem = QStringLiteral("NSToolbarSpaceItem");
const QString flexibleSpaceItem = QStringLiteral("NSToolbarFlexibleSpaceItem");
const QString separatorItem = QStringLiteral("NSToolbarSeparatorItem");
const QString customizeItem = QStringLiteral("NSToolbarCustomizeToolbarItem");

QString item(const char *name) { return itemPrefix + QLatin1String(name); }

struct ToolbarItemText {
    const char *name;
    const char *label;
    const char *tooltip;
    const char *icon;
};

// Label, tooltip and icon of each item the window makes.
const ToolbarItemText toolbarTexts[] = {
    {"AdjustToolbarItemIdentifier", "Adjust Image", "Open and adjust image", "Adjust"},
    {"ViewSelectionToolbarItemIdentifier", "View",
     "View: show the thumbnails as a contact sheet, as large images or as a list", nullptr},
    {"ViewOrderToolbarItemIdentifier", "Arrange By", "Arrange By: Sort/Arrange items in the currently selected list.",
     nullptr},
    {"ViewActionToolbarItemIdentifier", "Action", "Action: Perform tasks with the selected item(s).", nullptr},
    {"SearchToolbarItemIdentifier", "Find in Resultset",
     "Searches for the given keyword in the currently displayed thumbnail set", nullptr},
    {"RotateLeftToolbarItemIdentifier", "Rotate Left", "Rotate the thumbnail image 90 degrees counterclock wise",
     "RotateLeft"},
    {"RotateRightToolbarItemIdentifier", "Rotate Right", "Rotate the image 90 degrees clockwise", "RotateRight"},
    {"AutoAnnotationsToolbarItemIdentifier", "Auto Fill", "Fill the keywords/annotations of all selected media files",
     "AutoFill"},
    {"ExportToolbarItemIdentifier", "Export", "Export selected media files", "Export"},
    {"SendAsMailToolbarItemIdentifier", "Email", "Send selected assets as Email", "Mail"},
    {"BurnDiscToolbarItemIdentifier", "Burn Disc", "Burn selected images to a disc", "Burn"},
    {"CaptureToolbarItemIdentifier", "Capture", "Capture images from digital cameras and memory cards", "Capture"},
    {"DeleteToolbarItemIdentifier", "Delete", "Removes currently selected assets from the database", "Delete"},
};

const ToolbarItemText *toolbarText(const QString &identifier)
{
    for (const ToolbarItemText &text : toolbarTexts) {
        if (identifier == item(text.name))
            return &text;
    }
    return nullptr;
}

QString toolbarLabel(const QString &identifier)
{
    if (const ToolbarItemText *text = toolbarText(identifier))
        return localizedMenu(text->label);
    if (identifier == spaceItem)
        return localizedMenu("Space");
    if (identifier == flexibleSpaceItem)
        return localizedMenu("Flexible Space");
    if (identifier == separatorItem)
        return localizedMenu("Separator");
    if (identifier == customizeItem)
        return localizedMenu("Customize");
    return identifier;
}

// An icon of the shared icon set.
QIcon commandIcon(const char *name)
{
    const QImage image = OVNIconSetHelper::sharedIconSet().toolbarIconFor(QLatin1String(name));
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

// An image of the application's own.
QIcon applicationIcon(const char *name)
{
    const QImage image = BundleImage::imageNamed(QLatin1String(name));
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

// The filter field's menu button: a magnifier with the menu's arrow.
QIcon searchMenuIcon()
{
    QPixmap pixmap(22, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x45, 0x50, 0x5a), 1.6));
    painter.drawEllipse(QRectF(2, 2, 8, 8));
    painter.drawLine(QPointF(9, 9), QPointF(13, 13));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x45, 0x50, 0x5a));
    painter.drawPolygon(QPolygonF({QPointF(15, 7), QPointF(21, 7), QPointF(18, 11)}));
    painter.end();
    return QIcon(pixmap);
}

QString preferenceKey(Option option)
{
    switch (option) {
    case OVNCatalogActions::ShowCountOnLightTablesOption:
        return QStringLiteral("ShowCountOnLightTables");
    case OVNCatalogActions::ShowCountOnFilmRollsOption:
        return QStringLiteral("ShowCountOnFilmRolls");
    case OVNCatalogActions::ShowCountOnImageSetsOption:
        return QStringLiteral("ShowCountOnImageSets");
    case OVNCatalogActions::ShowCountOnSurveillanceFoldersOption:
        return QStringLiteral("ShowCountOnSurveillanceFolders");
    case OVNCatalogActions::DatabaseShowThumbnailsOption:
        return QStringLiteral("DatabaseShowThumbnails");
    case OVNCatalogActions::LightTableShowThumbnailsOption:
        return QStringLiteral("LightTableShowThumbnails");
    case OVNCatalogActions::LightTableShowRecursiveOption:
        return QStringLiteral("LightTableShowRecursive");
    case OVNCatalogActions::OptionCount:
        break;
    }
    return QString();
}

QString toolbarConfigurationKey()
{
    return QStringLiteral("NSToolbar Configuration ") + OVNCatalogWindowCommands::toolbarIdentifier();
}

// Sorts the shown list; the selected entries stay selected where they move to, so that a command
// after a new order acts on what the user chose.
void sortKeepingSelection(OVNMediaView *view)
{
    QList<const MediaRecord *> selected;
    for (int row : view->selectedRows())
        selected.append(view->mediaContainer().at(row).get());
    view->sortMediaContainer();
    if (!selected.isEmpty()) {
        QHash<const MediaRecord *, int> rows;
        const MediaList &shown = view->mediaContainer();
        rows.reserve(shown.size());
        for (int row = 0; row < shown.size(); ++row)
            rows.insert(shown.at(row).get(), row);
        view->deselectAll();
        for (const MediaRecord *record : std::as_const(selected))
            view->selectRow(rows.value(record));
    }
    view->viewport()->update();
}

} // namespace

OVNCatalogWindowCommands::OVNCatalogWindowCommands(OVNAssetManager &window, OVNCatalogWindowState &state)
    : QObject(&window),
      w(window),
      m_state(state)
{}

// ---- the items ----

QAction *OVNCatalogWindowCommands::addCommand(Action command, int tag, const QString &title)
{
    auto *item = new QAction(title, &w);
    m_actions.insert({int(command), tag}, item);
    // Shortcuts reach the window whether or not its menu bar carries the item.
    w.addAction(item);
    return item;
}

QAction *OVNCatalogWindowCommands::action(Action command, int tag) const
{
    return m_actions.value({int(command), tag});
}

QString OVNCatalogWindowCommands::menuPath(Action command, int tag) const
{
    const auto plain = [](QString title) { return title.remove(QLatin1Char('&')); };
    const QAction *item = action(command, tag);
    if (!item)
        return {};
    QStringList path{plain(item->text())};
    // Up through the menus that hold the item, to the menu bar's (untitled menus, such as a
    // button's, are no step of the path).
    for (const QAction *step = item; step;) {
        const QMenu *menu = nullptr;
        for (QObject *holder : step->associatedObjects()) {
            const auto *candidate = qobject_cast<const QMenu *>(holder);
            if (candidate && !candidate->title().isEmpty()) {
                menu = candidate;
                break;
            }
        }
        if (!menu)
            break;
        path.prepend(plain(menu->title()));
        step = menu->menuAction();
    }
    return path.join(QStringLiteral(" > "));
}

void OVNCatalogWindowCommands::setupActions()
{
    const auto command = [this](Action which, const char *title, const QKeySequence &keys,
                                std::function<void()> handler) {
        QAction *item = addCommand(which, -1, localizedMenu(title));
        item->setShortcut(keys);
        connect(item, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
        return item;
    };
    command(Action::Cut, "Cut", QKeySequence::Cut, [] {});
    command(Action::Copy, "Copy", QKeySequence::Copy, [this] { w.mediaDelegate().copy(); });
    command(Action::Paste, "Paste", QKeySequence::Paste, [this] { w.mediaDelegate().paste(); });
    command(Action::Delete, "Delete", QKeySequence(Qt::Key_Delete), [this] { deleteSelection(); });
    command(Action::SelectAll, "Select All", QKeySequence::SelectAll, [this] { selectAll(); });
    command(Action::Deselect, "Deselect", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A), [this] { deselect(); });
    command(Action::Find, "Find...", QKeySequence::Find, [this] { w.buttonFindClick(); });
    command(Action::ActivateSearchFilter, "Find in Resultset", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F),
            [this] { menuActivateSearchFilter(); });
    command(Action::ReloadCatalogList, "Reload Category List", QKeySequence(),
            [this] { buttonReloadCatalogListClick(); });
    command(Action::ReloadCatalog, "Reload Media", QKeySequence(Qt::CTRL | Qt::Key_R),
            [this] { buttonReloadCatalogClick(); });
    command(Action::SaveWorkspace, "Save Workspace", QKeySequence(), [this] { buttonSaveWorkspaceClick(); });
    command(Action::UsesSmallIcons, "Small Category Icons", QKeySequence(), [this] {
        toggleUsesSmallIcons();
    })->setCheckable(true);
    command(Action::RotateLeft, "Rotate Left", QKeySequence(Qt::CTRL | Qt::Key_BracketLeft), [this] {
        w.menuRotateLeft();
    })->setIcon(applicationIcon("tbRotateLeft"));
    command(Action::RotateRight, "Rotate Right", QKeySequence(Qt::CTRL | Qt::Key_BracketRight), [this] {
        w.menuRotateRight();
    })->setIcon(applicationIcon("tbRotateRight"));
    action(Action::Delete)->setIcon(commandIcon("Delete"));
    command(Action::AutoFill, "Auto Fill...", QKeySequence(), [this] {
        w.buttonAutoFillClick();
    })->setIcon(commandIcon("AutoFill"));
    command(Action::Adjust, "Adjust...", QKeySequence(), [this] { w.menuAdjust(); })->setIcon(commandIcon("Adjust"));
    command(Action::ReimportSelection, "Re-Import Media File", QKeySequence(),
            [this] { w.buttonReimportSelectionClick(); });
    command(Action::RelinkSelection, "Re-Link Media File...", QKeySequence(),
            [this] { w.buttonRelinkSelectionClick(); });
    command(Action::SetThumbnailUsingClipboard, "Set Thumbnail from Clipboard", QKeySequence(),
            [this] { w.buttonSetThumbnailUsingClipboardClick(); });
    command(Action::ExportImages, "Export...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), [this] {
        w.buttonExportImagesClick();
    })->setIcon(commandIcon("Export"));
    command(Action::SendAsEmail, "Send as E-mail...", QKeySequence(), [this] {
        w.buttonSendAsEmailClick();
    })->setIcon(commandIcon("Mail"));
    command(Action::PublishToWeb, "Publish to Web...", QKeySequence(), [this] { w.buttonPublishToWebClick(); });
    command(Action::BurnCD, "Burn Disc...", QKeySequence(), [this] {
        w.buttonBurnCDClick();
    })->setIcon(commandIcon("Burn"));
    command(Action::OpenWithMediaViewer, "Open in Viewer", QKeySequence(Qt::CTRL | Qt::Key_Down),
            [this] { w.openMedia(m_state.mediaView, 0, QString()); });
    command(Action::OpenWithMediaViewerFS, "Open in Full Screen", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F),
            [this] { w.buttonOpenWithMediaViewerFSClick(); });
    command(Action::OpenWithCreator, "Open with Default Application", QKeySequence(),
            [this] { w.openMedia(m_state.mediaView, 1, QString()); });
    command(Action::ShowCapturePanel, "Camera Capture...", QKeySequence(), [this] { emit w.capturePanelRequested(); });
    command(Action::Group, "Group", QKeySequence(Qt::CTRL | Qt::Key_G), [this] { w.buttonGroupClick(); });
    command(Action::AutoGroup, "Group by Sorting", QKeySequence(), [this] { w.buttonAutoGroupClick(); });
    command(Action::Ungroup, "Ungroup", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G),
            [this] { w.buttonUngroupClick(); });

    const struct {
        Action which;
        Option option;
        const char *title;
    } toggles[] = {
        {Action::DatabaseShowThumbnails, OVNCatalogActions::DatabaseShowThumbnailsOption, "Database Lists All Media"},
        {Action::LightTableShowThumbnails, OVNCatalogActions::LightTableShowThumbnailsOption,
         "Folders List Their Media"},
        {Action::LightTableShowRecursive, OVNCatalogActions::LightTableShowRecursiveOption,
         "Folders Include Subfolders"},
        {Action::ShowCountOnLightTables, OVNCatalogActions::ShowCountOnLightTablesOption, "Count on Folders"},
        {Action::ShowCountOnFilmRolls, OVNCatalogActions::ShowCountOnFilmRollsOption, "Count on Collections"},
        {Action::ShowCountOnImageSets, OVNCatalogActions::ShowCountOnImageSetsOption, "Count on Category Sets"},
        {Action::ShowCountOnSurveillanceFolders, OVNCatalogActions::ShowCountOnSurveillanceFoldersOption,
         "Count on Surveillance Folders"},
    };
    for (const auto &toggle : toggles) {
        QAction *item = addCommand(toggle.which, -1, localizedMenu(toggle.title));
        item->setCheckable(true);
        const Option option = toggle.option;
        connect(item, &QAction::triggered, this, [this, option] { toggleViewOption(option); });
    }

    const auto tagged = [this](Action which, int tag, const char *title, std::function<void(int)> handler) {
        QAction *item = addCommand(which, tag, localizedMenu(title));
        item->setCheckable(true);
        item->setData(tag);
        connect(item, &QAction::triggered, this, [handler = std::move(handler), tag] { handler(tag); });
        return item;
    };
    // Named as the layout editor names their layouts.
    for (int style = 0; style < 5; ++style)
        tagged(Action::ThumbnailStyle, style, OVNThumbnailHelper::styleName(style),
               [this](int tag) { setThumbnailStyle(tag); });
    const char *orders[] = {"None", "Import Date", "Name", "Kind", "File Date", "Rating"};
    for (int code = 0; code < 6; ++code)
        tagged(Action::ViewOrder, code, orders[code], [this](int tag) { buttonVieworderMenuClick(tag); });
    tagged(Action::ViewSort, 100, "Ascending", [this](int tag) { buttonViewsortMenuClick(tag); });
    tagged(Action::ViewSort, 101, "Descending", [this](int tag) { buttonViewsortMenuClick(tag); });
    const char *ratings[] = {"No Rating", "1 Star", "2 Stars", "3 Stars", "4 Stars", "5 Stars"};
    for (int rating = 0; rating < 6; ++rating)
        tagged(Action::SetRating, rating, ratings[rating], [this](int tag) {
            w.menuSetRating(tag);
        })->setShortcut(QKeySequence(Qt::CTRL | (Qt::Key_0 + rating)));
    const char *fields[] = {"All", "Displaytag", "Keywords", "Short Description", "Full Description", "Rating"};
    for (int field = 0; field < 6; ++field)
        tagged(Action::SetSearchFilter, field, fields[field], [this](int tag) { menuSetSearchFilter(tag); });

    w.categoryActions().setupCategoryActions();

    // Refreshed when something they depend on changes outside the window's own calls.
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] { refreshActions(); });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (!now || now->window() != &w || m_refreshPending)
            return;
        // Focus moves in bursts; one refresh after them is enough.
        m_refreshPending = true;
        QTimer::singleShot(0, this, [this] {
            m_refreshPending = false;
            refreshActions();
        });
    });
}

void OVNCatalogWindowCommands::setupMenus()
{
    QMenuBar *bar = w.menuBar();
    const auto refreshOnShow = [this](QMenu *menu) {
        connect(menu, &QMenu::aboutToShow, this, [this] { refreshActions(); });
        return menu;
    };
    QMenu *edit = refreshOnShow(bar->addMenu(localizedMenu("&Edit")));
    for (Action which : {Action::Cut, Action::Copy, Action::Paste, Action::Delete})
        edit->addAction(action(which));
    edit->addSeparator();
    edit->addAction(action(Action::SelectAll));
    edit->addAction(action(Action::Deselect));
    edit->addSeparator();
    edit->addAction(action(Action::Find));
    edit->addAction(action(Action::ActivateSearchFilter));

    QMenu *view = refreshOnShow(bar->addMenu(localizedMenu("&View")));
    QMenu *styles = refreshOnShow(view->addMenu(localizedMenu("Thumbnail Style")));
    for (int style = 0; style < 5; ++style)
        styles->addAction(action(Action::ThumbnailStyle, style));
    QMenu *order = refreshOnShow(view->addMenu(localizedMenu("Arrange By")));
    for (int code = 0; code < 6; ++code)
        order->addAction(action(Action::ViewOrder, code));
    order->addSeparator();
    order->addAction(action(Action::ViewSort, 100));
    order->addAction(action(Action::ViewSort, 101));
    view->addSeparator();
    for (Action which :
         {Action::DatabaseShowThumbnails, Action::LightTableShowThumbnails, Action::LightTableShowRecursive})
        view->addAction(action(which));
    view->addSeparator();
    for (Action which : {Action::ShowCountOnLightTables, Action::ShowCountOnFilmRolls, Action::ShowCountOnImageSets,
                         Action::ShowCountOnSurveillanceFolders, Action::UsesSmallIcons})
        view->addAction(action(which));
    view->addSeparator();
    view->addAction(action(Action::ReloadCatalogList));
    view->addAction(action(Action::ReloadCatalog));
    view->addSeparator();
    view->addAction(action(Action::SaveWorkspace));
    QAction *collapse = view->addAction(localizedMenu("Show or Hide Preview and Details"));
    collapse->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_I));
    connect(collapse, &QAction::triggered, this, [this] { buttonToggleMediaInfoClick(); });

    QMenu *media = refreshOnShow(bar->addMenu(localizedMenu("&Media")));
    for (Action which :
         {Action::OpenWithMediaViewer, Action::OpenWithMediaViewerFS, Action::OpenWithCreator, Action::RevealInFinder})
        media->addAction(action(which));
    media->addSeparator();
    // The shown (or selected) media as a slide show or on a light table.
    QAction *play = media->addAction(localizedMenu("Slide Show"));
    play->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P));
    connect(play, &QAction::triggered, this, [this] { w.buttonPlayClick(); });
    QAction *lightTable = media->addAction(localizedMenu("Light Table"));
    lightTable->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_L));
    connect(lightTable, &QAction::triggered, this, [this] { w.buttonLightTableClick(); });
    media->addSeparator();
    QMenu *rating = refreshOnShow(media->addMenu(localizedMenu("Rating")));
    for (int stars = 0; stars < 6; ++stars)
        rating->addAction(action(Action::SetRating, stars));
    media->addSeparator();
    media->addAction(action(Action::RotateLeft));
    media->addAction(action(Action::RotateRight));
    media->addSeparator();
    media->addAction(action(Action::AutoFill));
    media->addAction(action(Action::Adjust));
    media->addSeparator();
    for (Action which : {Action::ReimportSelection, Action::RelinkSelection, Action::SetThumbnailUsingClipboard})
        media->addAction(action(which));
    media->addSeparator();
    for (Action which : {Action::Group, Action::AutoGroup, Action::Ungroup})
        media->addAction(action(which));
    media->addSeparator();
    for (Action which : {Action::SendAsEmail, Action::ExportImages, Action::PublishToWeb, Action::BurnCD})
        media->addAction(action(which));
    m_windowMenus = {edit, view, media};
}

// ---- the toolbar ----

QString OVNCatalogWindowCommands::toolbarIdentifier()
{
    return QStringLiteral("OVNAssetManager Toolbar Identifier 1.3.9");
}

QStringList OVNCatalogWindowCommands::toolbarDefaultItemIdentifiers()
{
    return {item("ViewSelectionToolbarItemIdentifier"),
            item("ViewOrderToolbarItemIdentifier"),
            item("ViewActionToolbarItemIdentifier"),
            spaceItem,
            item("RotateLeftToolbarItemIdentifier"),
            item("RotateRightToolbarItemIdentifier"),
            spaceItem,
            item("AutoAnnotationsToolbarItemIdentifier"),
            item("ExportToolbarItemIdentifier"),
            item("SendAsMailToolbarItemIdentifier"),
            item("BurnDiscToolbarItemIdentifier"),
            spaceItem,
            item("AdjustToolbarItemIdentifier"),
            flexibleSpaceItem,
            item("SearchToolbarItemIdentifier")};
}

QStringList OVNCatalogWindowCommands::toolbarAllowedItemIdentifiers()
{
    return {item("ViewSelectionToolbarItemIdentifier"),
            item("ViewOrderToolbarItemIdentifier"),
            item("ViewActionToolbarItemIdentifier"),
            item("RotateLeftToolbarItemIdentifier"),
            item("RotateRightToolbarItemIdentifier"),
            item("AdjustToolbarItemIdentifier"),
            separatorItem,
            item("AutoAnnotationsToolbarItemIdentifier"),
            item("ExportToolbarItemIdentifier"),
            item("SendAsMailToolbarItemIdentifier"),
            item("BurnDiscToolbarItemIdentifier"),
            item("CaptureToolbarItemIdentifier"),
            item("DeleteToolbarItemIdentifier"),
            spaceItem,
            flexibleSpaceItem,
            customizeItem,
            item("SearchToolbarItemIdentifier")};
}

QAction *OVNCatalogWindowCommands::toolbarItem(const QString &identifier)
{
    const ToolbarItemText *text = toolbarText(identifier);
    if (!text)
        return nullptr;
    const QString name = QLatin1String(text->name);
    QAction *result = nullptr;
    // A control with its label below, as the toolbar's buttons show theirs.
    const auto control = [this, text](QWidget *widget) {
        auto *item = new QWidget;
        auto *layout = new QVBoxLayout(item);
        layout->setContentsMargins(2, 0, 2, 0);
        layout->setSpacing(1);
        layout->addWidget(widget, 0, Qt::AlignHCenter);
        auto *label = new QLabel(localizedMenu(text->label), item);
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        label->setFont(font);
        layout->addWidget(label, 0, Qt::AlignHCenter);
        auto *holder = new QWidgetAction(&w);
        holder->setDefaultWidget(item);
        return holder;
    };
    const auto menuButton = [](const QIcon &icon, QMenu *menu) {
        auto *button = new QToolButton;
        button->setIcon(icon);
        button->setIconSize(QSize(22, 16));
        button->setMenu(menu);
        button->setPopupMode(QToolButton::InstantPopup);
        return button;
    };
    if (name == QLatin1String("ViewSelectionToolbarItemIdentifier")) {
        auto *segments = new QWidget;
        auto *layout = new QHBoxLayout(segments);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        m_viewselectionControl = new QButtonGroup(segments);
        // One segment per cell style of the layout list, in the styles' order.
        const char *icons[] = {"ViewIconOSV", "ViewIconIPhoto", "ViewIconIPhoto2", "ViewIconList"};
        for (int style = 0; style < 4; ++style) {
            auto *button = new QToolButton(segments);
            button->setIcon(commandIcon(icons[style]));
            button->setIconSize(QSize(22, 16));
            button->setToolTip(localizedMenu(OVNThumbnailHelper::styleName(style)));
            button->setCheckable(true);
            m_viewselectionControl->addButton(button, style);
            layout->addWidget(button);
        }
        connect(m_viewselectionControl, &QButtonGroup::idClicked, this,
                [this](int style) { setThumbnailStyle(style); });
        result = control(segments);
    } else if (name == QLatin1String("ViewOrderToolbarItemIdentifier")) {
        auto *menu = new QMenu(&w);
        for (int code = 0; code < 6; ++code)
            menu->addAction(action(Action::ViewOrder, code));
        menu->addSeparator();
        menu->addAction(action(Action::ViewSort, 100));
        menu->addAction(action(Action::ViewSort, 101));
        connect(menu, &QMenu::aboutToShow, this, [this] { refreshActions(); });
        result = control(menuButton(commandIcon("ViewOrder"), menu));
    } else if (name == QLatin1String("ViewActionToolbarItemIdentifier")) {
        auto *menu = new QMenu(&w);
        QMenu *rating = menu->addMenu(localizedMenu("Rating"));
        for (int stars = 0; stars < 6; ++stars)
            rating->addAction(action(Action::SetRating, stars));
        menu->addAction(action(Action::RotateLeft));
        menu->addAction(action(Action::RotateRight));
        menu->addSeparator();
        for (Action which : {Action::Copy, Action::Paste, Action::Delete, Action::SelectAll, Action::Deselect})
            menu->addAction(action(which));
        connect(menu, &QMenu::aboutToShow, this, [this] { refreshActions(); });
        result = control(menuButton(applicationIcon("viewAction"), menu));
    } else if (name == QLatin1String("SearchToolbarItemIdentifier")) {
        m_searchField->setFixedWidth(180);
        result = control(m_searchField);
    } else if (name == QLatin1String("RotateLeftToolbarItemIdentifier")) {
        result = action(Action::RotateLeft);
    } else if (name == QLatin1String("RotateRightToolbarItemIdentifier")) {
        result = action(Action::RotateRight);
    } else if (name == QLatin1String("DeleteToolbarItemIdentifier")) {
        result = action(Action::Delete);
    } else if (name == QLatin1String("AutoAnnotationsToolbarItemIdentifier")) {
        result = action(Action::AutoFill);
    } else if (name == QLatin1String("AdjustToolbarItemIdentifier")) {
        result = action(Action::Adjust);
    } else if (name == QLatin1String("ExportToolbarItemIdentifier")) {
        result = action(Action::ExportImages);
    } else if (name == QLatin1String("SendAsMailToolbarItemIdentifier")) {
        result = action(Action::SendAsEmail);
    } else if (name == QLatin1String("BurnDiscToolbarItemIdentifier")) {
        result = action(Action::BurnCD);
    } else {
        // Capture: the application's capture panel, whatever the window shows.
        result = action(Action::ShowCapturePanel);
        result->setIcon(commandIcon(text->icon));
    }
    result->setIconText(localizedMenu(text->label));
    result->setToolTip(localizedMenu(text->tooltip));
    return result;
}

void OVNCatalogWindowCommands::setupToolbar()
{
    m_toolbar = new QToolBar(localizedMenu("Toolbar"), &w);
    m_toolbar->setObjectName(toolbarIdentifier());
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar->setIconSize(QSize(24, 24));
    m_toolbar->toggleViewAction()->setVisible(false);
    m_toolbar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_toolbar, &QWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        QMenu menu;
        menu.addAction(localizedMenu("Customize Toolbar..."), this, [this] { runToolbarCustomization(); });
        menu.exec(m_toolbar->mapToGlobal(position));
    });
    w.addToolBar(Qt::TopToolBarArea, m_toolbar);
    for (const QString &identifier : toolbarAllowedItemIdentifiers()) {
        if (QAction *made = toolbarItem(identifier))
            m_toolbarItems.insert(identifier, made);
    }
    QStringList shown;
    for (const QVariant &identifier : UserDefaults::standard().arrayForKey(toolbarConfigurationKey()))
        shown.append(identifier.toString());
    const QStringList allowed = toolbarAllowedItemIdentifiers();
    shown.removeIf([&allowed](const QString &identifier) { return !allowed.contains(identifier); });
    // A stored order that names nothing the window knows is no order: the default set stands in.
    setToolbarItemIdentifiers(shown.isEmpty() ? toolbarDefaultItemIdentifiers() : shown);
}

QStringList OVNCatalogWindowCommands::toolbarItemIdentifiers() const
{
    return m_toolbar ? m_toolbar->property("ovnItemIdentifiers").toStringList() : QStringList();
}

void OVNCatalogWindowCommands::setToolbarItemIdentifiers(const QStringList &identifiers)
{
    if (!m_toolbar)
        return;
    // Spaces and separators are made per use; the items are the window's and stay.
    const QList<QAction *> previous = m_toolbar->actions();
    m_toolbar->clear();
    for (QAction *old : previous) {
        if (old->property("ovnPlacement").toBool())
            old->deleteLater();
    }
    const auto placement = [this](QWidget *widget) {
        auto *holder = new QWidgetAction(m_toolbar);
        holder->setDefaultWidget(widget);
        holder->setProperty("ovnPlacement", true);
        m_toolbar->addAction(holder);
    };
    QStringList kept;
    const QStringList allowed = toolbarAllowedItemIdentifiers();
    for (const QString &identifier : identifiers) {
        if (!allowed.contains(identifier))
            continue;
        if (identifier == spaceItem) {
            auto *space = new QWidget;
            space->setFixedWidth(16);
            placement(space);
        } else if (identifier == flexibleSpaceItem) {
            auto *space = new QWidget;
            space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            placement(space);
        } else if (identifier == separatorItem) {
            m_toolbar->addSeparator()->setProperty("ovnPlacement", true);
        } else if (identifier == customizeItem) {
            QAction *customize =
                m_toolbar->addAction(localizedMenu("Customize"), this, [this] { runToolbarCustomization(); });
            customize->setProperty("ovnPlacement", true);
        } else if (QAction *made = m_toolbarItems.value(identifier)) {
            // An item is shown once; the View item shows the current style when it comes.
            if (m_toolbar->actions().contains(made))
                continue;
            m_toolbar->addAction(made);
        } else {
            continue;
        }
        kept.append(identifier);
    }
    if (m_viewselectionControl) {
        if (QAbstractButton *segment = m_viewselectionControl->button(m_state.prefThumbnailType))
            segment->setChecked(true);
    }
    m_toolbar->setProperty("ovnItemIdentifiers", kept);
    UserDefaults::standard().setObject(QVariant(kept), toolbarConfigurationKey());
}

void OVNCatalogWindowCommands::runToolbarCustomization()
{
    QDialog dialog(&w);
    dialog.setWindowTitle(localizedMenu("Customize Toolbar"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *lists = new QHBoxLayout;
    layout->addLayout(lists);
    const auto listItem = [](QListWidget *list, const QString &identifier) {
        auto *row = new QListWidgetItem(toolbarLabel(identifier), list);
        row->setData(Qt::UserRole, identifier);
    };
    auto *allowed = new QListWidget(&dialog);
    for (const QString &identifier : toolbarAllowedItemIdentifiers())
        listItem(allowed, identifier);
    auto *shown = new QListWidget(&dialog);
    const auto fillShown = [shown, listItem](const QStringList &identifiers) {
        shown->clear();
        for (const QString &identifier : identifiers)
            listItem(shown, identifier);
    };
    fillShown(toolbarItemIdentifiers());
    auto *buttons = new QVBoxLayout;
    auto *add = new QPushButton(localizedMenu("Add"), &dialog);
    auto *remove = new QPushButton(localizedMenu("Remove"), &dialog);
    auto *up = new QPushButton(localizedMenu("Up"), &dialog);
    auto *down = new QPushButton(localizedMenu("Down"), &dialog);
    auto *defaults = new QPushButton(localizedMenu("Default Set"), &dialog);
    for (QPushButton *button : {add, remove, up, down, defaults})
        buttons->addWidget(button);
    buttons->addStretch(1);
    auto *allowedColumn = new QVBoxLayout;
    allowedColumn->addWidget(new QLabel(localizedMenu("Available items"), &dialog));
    allowedColumn->addWidget(allowed);
    auto *shownColumn = new QVBoxLayout;
    shownColumn->addWidget(new QLabel(localizedMenu("Toolbar"), &dialog));
    shownColumn->addWidget(shown);
    lists->addLayout(allowedColumn);
    lists->addLayout(buttons);
    lists->addLayout(shownColumn);

    const auto shownIdentifiers = [shown] {
        QStringList result;
        for (int row = 0; row < shown->count(); ++row)
            result.append(shown->item(row)->data(Qt::UserRole).toString());
        return result;
    };
    connect(add, &QPushButton::clicked, &dialog, [=] {
        const QListWidgetItem *chosen = allowed->currentItem();
        if (!chosen)
            return;
        const QString identifier = chosen->data(Qt::UserRole).toString();
        const bool repeatable = identifier == spaceItem || identifier == flexibleSpaceItem
                                || identifier == separatorItem;
        if (!repeatable && shownIdentifiers().contains(identifier))
            return;
        const int at = shown->currentRow() < 0 ? shown->count() : shown->currentRow() + 1;
        auto *row = new QListWidgetItem(toolbarLabel(identifier));
        row->setData(Qt::UserRole, identifier);
        shown->insertItem(at, row);
        shown->setCurrentRow(at);
    });
    connect(remove, &QPushButton::clicked, &dialog, [shown] { delete shown->takeItem(shown->currentRow()); });
    const auto move = [shown](int step) {
        const int row = shown->currentRow();
        if (row < 0 || row + step < 0 || row + step >= shown->count())
            return;
        QListWidgetItem *taken = shown->takeItem(row);
        shown->insertItem(row + step, taken);
        shown->setCurrentRow(row + step);
    };
    connect(up, &QPushButton::clicked, &dialog, [move] { move(-1); });
    connect(down, &QPushButton::clicked, &dialog, [move] { move(1); });
    connect(defaults, &QPushButton::clicked, &dialog, [fillShown] { fillShown(toolbarDefaultItemIdentifiers()); });
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(box);
    dialog.resize(520, 420);
    if (dialog.exec() == QDialog::Accepted)
        setToolbarItemIdentifiers(shownIdentifiers());
}

// ---- enabling ----

void OVNCatalogWindowCommands::selectionPrivileges(bool *mayWrite, bool *fullAccess)
{
    const QString readWrite = OVNPrivilegeLevel::readWrite();
    const QString full = OVNPrivilegeLevel::fullAccess();
    if (!m_state.mediaView || m_state.mediaView->numberOfSelectedRows() == 0) {
        const QString own = w.levelForCurrentSelection();
        *mayWrite = OVNPrivilegeLevel::isGranted(readWrite, own);
        *fullAccess = OVNPrivilegeLevel::isGranted(full, own);
        return;
    }
    // Each entry answers to the category that owns it; neighbours mostly share one.
    QSet<QString> owners;
    const MediaList &shown = m_state.mediaView->mediaContainer();
    const QString *last = nullptr;
    for (int row : m_state.mediaView->selectedRows()) {
        const QString &owner = shown.at(row)->field(MediaRecord::CategoryId);
        if (last && owner == *last)
            continue;
        last = &owner;
        owners.insert(owner);
    }
    *mayWrite = *fullAccess = true;
    for (const QString &owner : std::as_const(owners)) {
        const QString level = owner.isEmpty() ? QString() : w.cachedCategoryLevel(owner);
        *mayWrite = *mayWrite && OVNPrivilegeLevel::isGranted(readWrite, level);
        *fullAccess = *fullAccess && OVNPrivilegeLevel::isGranted(full, level);
    }
}

OVNCatalogActions::Snapshot OVNCatalogWindowCommands::actionSnapshot()
{
    OVNCatalogActions::Snapshot s;
    OVNMediaView *view = m_state.mediaView;
    if (view) {
        s.selectedCount = view->numberOfSelectedRows();
        s.listCount = view->count();
        s.containerKind = view->mediaContainerType();
        s.mediaViewFocused = view->hasFocus();
        s.selectedGroup = view->selectedGroup();
        if (s.selectedCount == 1) {
            const MediaRecordRef record = view->objectForRow(view->selectedRow());
            if (record && record->hasField(MediaRecord::Rating))
                s.selectedRating = record->field(MediaRecord::Rating).toInt();
        }
    }
    s.filterActive = m_searchField && !m_searchField->text().isEmpty();
    s.adjustAvailable = OVNCoreImageAdjust::factory() != nullptr;
    const QList<CategoryNode> categories = w.selectedCategoryNodes();
    s.selectedCategoryCount = int(categories.size());
    if (categories.size() == 1) {
        const CategoryNode &node = categories.first();
        s.categoryHasType = node.contains(keyType);
        s.categoryKind = node.value(keyType).toString();
        const QString own = w.getMyPrivilegesForItem(node);
        s.categoryMayWrite = OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readWrite(), own);
        s.categoryFullAccess = OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::fullAccess(), own);
    }
    if (const QMimeData *data = QGuiApplication::clipboard()->mimeData()) {
        s.clipboardHasFiles = data->hasUrls() && !OVNMediaPasteboard::read(data, QByteArray()).paths.isEmpty();
        s.clipboardHasImage = data->hasFormat(QStringLiteral("image/tiff"))
                              || data->hasFormat(QStringLiteral("application/pdf")) || data->hasImage();
    }
    selectionPrivileges(&s.mayWrite, &s.fullAccess);
    s.thumbnailStyle = m_state.prefThumbnailType;
    s.sortOrder = m_state.viewOrderBy;
    s.sortAscending = m_state.viewOrderASC;
    s.searchField = m_state.viewSearchFilterSelected;
    s.smallIcons = m_state.usesSmallIcons;
    for (int option = 0; option < OVNCatalogActions::OptionCount; ++option)
        s.options[size_t(option)] = viewOption(Option(option));
    return s;
}

void OVNCatalogWindowCommands::refreshActions()
{
    const OVNCatalogActions::Snapshot snapshot = actionSnapshot();
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it) {
        const OVNCatalogActions::State answer =
            OVNCatalogActions::state(Action(it.key().first), it.key().second, snapshot);
        it.value()->setEnabled(answer.enabled);
        if (answer.checked)
            it.value()->setChecked(*answer.checked);
    }
    if (QAction *search = m_toolbarItems.value(item("SearchToolbarItemIdentifier")))
        search->setEnabled(OVNCatalogActions::state(Action::Search, -1, snapshot).enabled);
}

QStringList OVNCatalogWindowCommands::describeActions()
{
    const OVNCatalogActions::Snapshot snapshot = actionSnapshot();
    QStringList lines;
    for (const OVNCatalogActions::Item &entry : OVNCatalogActions::menuItems())
        lines.append(OVNCatalogActions::describe(entry, snapshot));
    return lines;
}

// ---- edit ----

void OVNCatalogWindowCommands::deleteSelection()
{
    const std::optional<CategoryNode> category = w.selectedCategory();
    if (!m_state.mediaView || !category || !category->contains(keyType))
        return;
    if (m_state.mediaView->count() == 0 || m_state.mediaView->numberOfSelectedRows() == 0) {
        if (w.isUserAuthorizedForAccessType(OVNPrivilegeLevel::fullAccess(), category, true))
            w.buttonDeleteCatalogClick();
        return;
    }
    const QString kind = category->value(keyType).toString();
    if (kind != QLatin1String("C") && kind != QLatin1String("S")) {
        // Smart folders, surveillance folders, folders and the whole catalog list what others hold.
        QApplication::beep();
        return;
    }
    // Asks again, with the alert: what the menu showed may be stale.
    w.delete_(m_state.mediaView);
}

void OVNCatalogWindowCommands::selectAll()
{
    if (!m_state.mediaView)
        return;
    m_state.mediaView->mvselectAll();
    w.ovnMediaViewSelectionDidChange(m_state.mediaView);
}

void OVNCatalogWindowCommands::deselect()
{
    if (!m_state.mediaView)
        return;
    m_state.mediaView->deselectAll();
    w.ovnMediaViewSelectionDidChange(m_state.mediaView);
    m_state.mediaView->viewport()->update();
}

// ---- view options ----

bool OVNCatalogWindowCommands::viewOption(Option option) const
{
    switch (option) {
    case OVNCatalogActions::ShowCountOnLightTablesOption:
        return m_state.viewShowCountOnLightTables;
    case OVNCatalogActions::ShowCountOnFilmRollsOption:
        return m_state.viewShowCountOnFilmRolls;
    case OVNCatalogActions::ShowCountOnImageSetsOption:
        return m_state.viewShowCountOnImageSets;
    case OVNCatalogActions::ShowCountOnSurveillanceFoldersOption:
        return m_state.viewShowCountOnSurveillanceFolders;
    case OVNCatalogActions::DatabaseShowThumbnailsOption:
        return m_state.viewDatabaseShowThumbnails;
    case OVNCatalogActions::LightTableShowThumbnailsOption:
        return m_state.viewLightTableShowThumbnails;
    case OVNCatalogActions::LightTableShowRecursiveOption:
        return m_state.viewLightTableShowRecursive;
    case OVNCatalogActions::OptionCount:
        break;
    }
    return false;
}

void OVNCatalogWindowCommands::toggleViewOption(Option option)
{
    bool *flag = nullptr;
    switch (option) {
    case OVNCatalogActions::ShowCountOnLightTablesOption:
        flag = &m_state.viewShowCountOnLightTables;
        break;
    case OVNCatalogActions::ShowCountOnFilmRollsOption:
        flag = &m_state.viewShowCountOnFilmRolls;
        break;
    case OVNCatalogActions::ShowCountOnImageSetsOption:
        flag = &m_state.viewShowCountOnImageSets;
        break;
    case OVNCatalogActions::ShowCountOnSurveillanceFoldersOption:
        flag = &m_state.viewShowCountOnSurveillanceFolders;
        break;
    case OVNCatalogActions::DatabaseShowThumbnailsOption:
        flag = &m_state.viewDatabaseShowThumbnails;
        break;
    case OVNCatalogActions::LightTableShowThumbnailsOption:
        flag = &m_state.viewLightTableShowThumbnails;
        break;
    case OVNCatalogActions::LightTableShowRecursiveOption:
        flag = &m_state.viewLightTableShowRecursive;
        break;
    case OVNCatalogActions::OptionCount:
        return;
    }
    *flag = !*flag;
    UserDefaults::standard().setString(*flag ? QStringLiteral("1") : QStringLiteral("0"), preferenceKey(option));
    const std::optional<CategoryNode> category = w.selectedCategory();
    const QString kind = category ? category->value(keyType).toString() : QString();
    if (option == OVNCatalogActions::DatabaseShowThumbnailsOption) {
        if (kind == QLatin1String("EXPANDABLE"))
            w.reloadMediaList();
    } else if (option == OVNCatalogActions::LightTableShowThumbnailsOption
               || option == OVNCatalogActions::LightTableShowRecursiveOption) {
        if (kind == QLatin1String("F"))
            w.reloadMediaList();
    } else {
        w.updateCategoryList();
    }
    refreshActions();
}

void OVNCatalogWindowCommands::toggleUsesSmallIcons() { setUsesSmallIcons(!m_state.usesSmallIcons); }

void OVNCatalogWindowCommands::setUsesSmallIcons(bool small)
{
    m_state.usesSmallIcons = small;
    m_state.outlineIcons.clear();
    if (auto *cell = qobject_cast<OVNImageAndTextCell *>(m_state.categoryList->itemDelegateForColumn(0)))
        cell->setControlSize(small ? 0 : 24);
    UserDefaults::standard().setString(small ? QStringLiteral("1") : QStringLiteral("0"),
                                       QStringLiteral("UsesSmallCatalogIcons"));
    w.updateCategoryList();
    m_state.categoryList->doItemsLayout();
    refreshActions();
}

void OVNCatalogWindowCommands::setThumbsizeSliderEnabled(bool enabled)
{
    const QSignalBlocker blocker(m_state.thumbsizeSlider);
    if (enabled)
        m_state.thumbsizeSlider->setRange(48, 256);
    m_state.thumbsizeSlider->setValue(m_state.prefThumbnailSize);
    m_state.thumbsizeSlider->setEnabled(enabled);
}

void OVNCatalogWindowCommands::thumbsizeSliderMoved(double value)
{
    m_state.prefThumbnailSize = int(value);
    if (m_state.mediaView) {
        m_state.mediaView->setThumbnailWidth(m_state.prefThumbnailSize);
        m_state.mediaView->resizeFrameToFitMediaContainer();
        m_state.mediaView->viewport()->update();
    }
    UserDefaults::standard().setInteger(m_state.prefThumbnailSize, QStringLiteral("ThumbnailSize"));
}

void OVNCatalogWindowCommands::setThumbnailStyle(int style)
{
    m_state.prefThumbnailType = style;
    if (m_state.mediaView) {
        m_state.mediaView->setThumbnailStyle(style);
        m_state.mediaView->resizeFrameToFitMediaContainer();
        m_state.mediaView->viewport()->update();
    }
    UserDefaults::standard().setInteger(style, QStringLiteral("ThumbnailStyle"));
    if (m_viewselectionControl) {
        const int shown = m_state.mediaView ? m_state.mediaView->thumbnailStyle() : style;
        if (QAbstractButton *segment = m_viewselectionControl->button(shown)) {
            segment->setChecked(true);
        } else if (QAbstractButton *checked = m_viewselectionControl->checkedButton()) {
            // A style without a segment (compact): none is marked.
            m_viewselectionControl->setExclusive(false);
            checked->setChecked(false);
            m_viewselectionControl->setExclusive(true);
        }
    }
    refreshActions();
}

void OVNCatalogWindowCommands::buttonVieworderMenuClick(int code)
{
    m_state.viewOrderBy = code;
    if (m_state.mediaView) {
        m_state.mediaView->setSortOrder(code);
        m_state.mediaView->setSortAscending(m_state.viewOrderASC);
        if (code == 0) {
            // No order: the list as it was loaded, still filtered by the field.
            menuSearch();
        } else {
            sortKeepingSelection(m_state.mediaView);
        }
    }
    UserDefaults::standard().setInteger(code, QStringLiteral("ThumbnailArrangeBy"));
    refreshActions();
}

void OVNCatalogWindowCommands::buttonViewsortMenuClick(int tag)
{
    m_state.viewOrderASC = tag == 100;
    if (m_state.mediaView) {
        m_state.mediaView->setSortOrder(m_state.viewOrderBy);
        m_state.mediaView->setSortAscending(m_state.viewOrderASC);
        if (m_state.viewOrderBy != OVNMediaViewSorting::SortNone)
            sortKeepingSelection(m_state.mediaView);
    }
    UserDefaults::standard().setInteger(m_state.viewOrderASC ? 1 : 0, QStringLiteral("ThumbnailOrderBy"));
    refreshActions();
}

void OVNCatalogWindowCommands::buttonReloadCatalogListClick()
{
    w.reloadCategoryList();
    w.updateCategoryList();
    // The thumbnails shown came with the list before: they are read again by the privileges as the
    // catalog holds them now (none while no category is selected).
    w.reloadMediaList();
}

void OVNCatalogWindowCommands::buttonReloadCatalogClick() { w.reloadMediaList(); }

void OVNCatalogWindowCommands::buttonSaveWorkspaceClick()
{
    saveWindowPosition();
    if (OVNZoomPanel *panel = OVNZoomPanel::instance())
        panel->saveWindowPosition();
}

void OVNCatalogWindowCommands::saveWindowPosition()
{
    UserDefaults &defaults = UserDefaults::standard();
    // "x y w h sx sy sw sh", measured upwards from the screen's bottom edge.
    const QRect frame = w.geometry();
    QRect full(0, 0, 1280, 800);
    if (const QScreen *screen = w.screen() ? w.screen() : QGuiApplication::primaryScreen())
        full = screen->geometry();
    const int bottom = full.y() + full.height() - (frame.y() + frame.height());
    const QList<int> values{frame.x() - full.x(), bottom,       frame.width(), frame.height(), full.x(), 0,
                            full.width(),         full.height()};
    QStringList text;
    for (int value : values)
        text.append(QString::number(value));
    defaults.setString(text.join(QLatin1Char(' ')), QStringLiteral("NSWindow Frame OVNAssetManager"));
    const QList<int> media = isMediaInfoCollapsed() && m_state.savedMediaSizes.size() == 3
                                 ? m_state.savedMediaSizes
                                 : m_state.splitterMedia->sizes();
    if (media.size() >= 2) {
        defaults.setDouble(media.at(0), QStringLiteral("OVNAssetManagerCategoryWidth"));
        defaults.setDouble(media.at(1), QStringLiteral("OVNAssetManagerMediaViewWidth"));
    }
    const QList<int> preview = m_state.splitterPreview->sizes();
    if (!preview.isEmpty() && preview.first() > 0)
        defaults.setDouble(preview.first(), QStringLiteral("OVNAssetManagerPreviewHeight"));
    defaults.setString(isMediaInfoCollapsed() ? QStringLiteral("1") : QStringLiteral("0"),
                       QStringLiteral("MediaInfoCollapsed"));
}

bool OVNCatalogWindowCommands::isMediaInfoCollapsed() const { return m_state.splitterPreview->isHidden(); }

void OVNCatalogWindowCommands::buttonToggleMediaInfoClick()
{
    OVNIconSetHelper &icons = OVNIconSetHelper::sharedIconSet();
    const auto icon = [&icons](const char *name) {
        const QImage image = icons.toolbarIconFor(QLatin1String(name));
        return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
    };
    if (!isMediaInfoCollapsed()) {
        // Before the window is laid out its panes have no sizes yet: the stored ones stand.
        if (m_state.splitterMedia->isVisible())
            m_state.savedMediaSizes = m_state.splitterMedia->sizes();
        m_state.splitterPreview->hide();
        m_state.previewToggleButton->setIcon(icon("CtrlPreviewExpandMini"));
        m_state.previewToggleButton->setChecked(true);
    } else {
        m_state.splitterPreview->show();
        // The right pane gets its width back; the thumbnails give it up.
        int total = 0;
        for (int size : m_state.splitterMedia->sizes())
            total += size;
        if (total <= 0)
            total = m_state.splitterMedia->width();
        const OVNPaneGeometry::Columns before{double(m_state.savedMediaSizes.value(0)), 0,
                                              double(m_state.savedMediaSizes.value(2))};
        const OVNPaneGeometry::Columns after = OVNPaneGeometry::reopenedColumns(before, total);
        m_state.splitterMedia->setSizes({int(after.w0), int(after.w1), int(after.w2)});
        m_state.previewToggleButton->setIcon(icon("CtrlPreviewCollapseMini"));
        m_state.previewToggleButton->setChecked(false);
    }
    if (m_state.mediaView)
        m_state.mediaView->viewport()->update();
}

// ---- the filter field ----

void OVNCatalogWindowCommands::setupSearchField()
{
    m_searchField = new QLineEdit(&w);
    m_searchField->setClearButtonEnabled(true);
    m_searchMenu = new QMenu(localizedMenu("Search Menu"), &w);
    for (int field = 0; field < 6; ++field) {
        m_searchMenu->addAction(action(Action::SetSearchFilter, field));
        if (field == 0 || field == 4)
            m_searchMenu->addSeparator();
    }
    connect(m_searchMenu, &QMenu::aboutToShow, this, [this] { refreshActions(); });
    QAction *menuButton = m_searchField->addAction(searchMenuIcon(), QLineEdit::LeadingPosition);
    menuButton->setToolTip(localizedMenu("Search Menu"));
    connect(menuButton, &QAction::triggered, this,
            [this] { m_searchMenu->popup(m_searchField->mapToGlobal(QPoint(0, m_searchField->height()))); });
    connect(m_searchField, &QLineEdit::textChanged, this, [this] { menuSearch(); });
    updateSearchFieldPlaceholder();
}

std::optional<QString> OVNCatalogWindowCommands::searchKeyForField(int tag)
{
    switch (tag) {
    case 0:
        return QString();
    case 1:
        return QStringLiteral("displaytag");
    // The column "shortdesc" holds the keywords and "keywords" the title.
    case 2:
        return QStringLiteral("shortdesc");
    case 3:
        return QStringLiteral("keywords");
    case 4:
        return QStringLiteral("fulldesc");
    case 5:
        return QStringLiteral("rating");
    default:
        return std::nullopt;
    }
}

void OVNCatalogWindowCommands::menuSearch()
{
    const QString text = m_searchField->text().toLower();
    const std::optional<QString> key = searchKeyForField(m_state.viewSearchFilterSelected);
    if (key && m_state.mediaView) {
        m_state.searchText = text;
        m_state.mediaView->setFilter(text, *key);
        if (m_state.mediaView->hasMediaContainer())
            w.showItemCount();
        // The filter drops the selection: preview, details and commands follow.
        w.ovnMediaViewSelectionDidChange(m_state.mediaView);
    }
    updateSearchFieldPlaceholder();
}

void OVNCatalogWindowCommands::menuSetSearchFilter(int tag)
{
    m_state.viewSearchFilterSelected = tag;
    updateSearchFieldPlaceholder();
    if (!m_searchField->text().isEmpty())
        menuSearch();
    refreshActions();
}

void OVNCatalogWindowCommands::menuActivateSearchFilter()
{
    m_searchField->setFocus(Qt::ShortcutFocusReason);
    m_searchField->selectAll();
}

void OVNCatalogWindowCommands::updateSearchFieldPlaceholder()
{
    if (QAction *chosen = action(Action::SetSearchFilter, m_state.viewSearchFilterSelected))
        m_searchField->setPlaceholderText(chosen->text().remove(QLatin1Char('&')));
}

void OVNCatalogWindowCommands::setSearchText(const QString &text)
{
    const QSignalBlocker blocker(m_searchField);
    m_searchField->setText(text);
    m_state.searchText = text.toLower();
    updateSearchFieldPlaceholder();
}
