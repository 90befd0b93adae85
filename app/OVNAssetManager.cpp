// The catalog window document: its panes, preferences and the thumbnail area.
#include "app/OVNAssetManager.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "uikit/OVNWindowPlacement.h"

#include "browser/OVNMediaPreviewImage.h"
#include "app/OVNCategoryTreeModel.h"
#include "app/OVNCountBadgeCell.h"
#include "app/OVNOutlineView.h"
#include "app/OVNPaneGeometry.h"
#include "browser/OVNMediaDetails.h"
#include "browser/OVNMediaPasteboard.h"
#include "browser/OVNMediaView.h"
#include "browser/OVNMediaViewSorting.h"
#include "output/OVNDiscBurnerSheet.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "uikit/NTPopUpHeaderView.h"
#include "uikit/OVNBGView.h"
#include "uikit/OVNButtonBGView.h"
#include "uikit/OVNMembraneButton.h"
#include "uikit/OVNIconSetHelper.h"
#include "uikit/OVNImageAndTextCell.h"
#include "uikit/OVNPopUpButtonFooter.h"
#include "uikit/OVNSplitView.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QThread>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>

namespace {

QIcon iconFromSet(const QString &name)
{
    const QImage image = OVNIconSetHelper::sharedIconSet().toolbarIconFor(name);
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

// A pane with a 17-point header on top and its content below.
QWidget *paneWithHeader(QWidget *pane, NTPopUpHeaderView *header, QWidget *content)
{
    auto *layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    header->setFixedHeight(int(NTPopUpHeaderView::defaultHeight()));
    layout->addWidget(header);
    layout->addWidget(content, 1);
    return pane;
}

OVNBGView *makeTopView(QWidget *parent, const QString &title)
{
    auto *view = new OVNBGView(parent);
    view->setType(OVNBGView::TiledStrip);
    auto *layout = new QHBoxLayout(view);
    layout->setContentsMargins(8, 2, 8, 2);
    auto *label = new QLabel(title, view);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setPixelSize(11);
    font.setBold(true);
    label->setFont(font);
    layout->addWidget(label);
    layout->addStretch(1);
    view->setFixedHeight(25);
    view->hide();
    return view;
}

} // namespace

QString OVNAssetManager::displayName() const { return localized("Asset Manager"); }

void OVNAssetManager::closeEvent(QCloseEvent *event)
{
    // Never edited: closing never asks to save. A text still being typed in the details pane goes
    // to the catalog now, while the connection is open.
    // A deletion or re-scan under way finishes first: its end reports to this window.
    if (m_state.maintenanceRunning) {
        QApplication::beep();
        event->ignore();
        return;
    }
    // So does a disc being written from a sheet on this window.
    for (const OVNDiscBurnerSheet *sheet : findChildren<OVNDiscBurnerSheet *>()) {
        if (sheet->isWriting()) {
            QApplication::beep();
            event->ignore();
            return;
        }
    }
    if (!confirmUnsavedEdits()) {
        event->ignore();
        return;
    }
    if (m_state.mediaDetails)
        m_state.mediaDetails->setDataSource(nullptr);
    event->accept();
}

bool OVNAssetManager::confirmUnsavedEdits()
{
    if (!m_state.mediaDetails)
        return true;
    // A text still being typed is handed over first; only what the catalog did not take counts.
    m_state.mediaDetails->endEditing();
    const int count = m_state.mediaDetails->unsavedEditCount();
    if (count == 0)
        return true;
    Alert alert;
    alert.message = countedText(count, "%1 text you typed in the details is not saved.",
                                "%1 texts you typed in the details are not saved.");
    alert.informativeText = localized("The catalog server could not be reached when you typed them. To save them, "
                                      "click Cancel and end editing each field marked as not saved once the server "
                                      "can be reached again. Close Without Saving gives them up.");
    alert.buttons = {localized("Cancel"), localized("Close Without Saving")};
    alert.window = this;
    if (Alerts::run(alert) != 1)
        return false;
    m_state.mediaDetails->discardUnsavedEdits();
    return true;
}

void OVNAssetManager::setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess> connection)
{
    m_state.dbcon = std::move(connection);
    if (m_state.mediaView)
        m_state.mediaView->setCatalogIdentity(catalogIdentity());
}

QByteArray OVNAssetManager::catalogIdentity() const
{
    if (!m_state.dbcon)
        return QByteArray();
    // Two windows on one catalog file or one server database share it, however they were opened.
    QString place = m_state.dbcon->dbDatabase();
    if (m_state.dbcon->vendor() == OVNDatabaseAccess::Vendor::Integrated) {
        const QFileInfo file(place);
        place = file.canonicalFilePath().isEmpty() ? file.absoluteFilePath() : file.canonicalFilePath();
    } else {
        place = m_state.dbcon->dbHost() + QLatin1Char('/') + place;
    }
    return OVNMediaPasteboard::catalogIdentity(m_state.dbcon->dbVendor() + QLatin1Char(':') + place);
}

OVNAssetManager::OVNAssetManager()
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(displayName());
    buildWindow();
}

OVNAssetManager::~OVNAssetManager()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    if (m_state.maintenanceThread)
        m_state.maintenanceThread->wait();
    // The view may still be preloading; it must not call back into a half-destroyed window.
    if (m_state.mediaView) {
        m_state.mediaView->setMediaContainer(nullptr);
        m_state.mediaView->setDelegate(nullptr);
    }
    if (m_state.mediaDetails)
        m_state.mediaDetails->setDataSource(nullptr);
}

void OVNAssetManager::buildWindow()
{
    m_commands = new OVNCatalogWindowCommands(*this, m_state);
    m_categoryActions = new OVNCatalogWindowCategoryActions(*this, m_state);
    m_mediaDelegate = std::make_unique<OVNCatalogWindowMediaDelegate>(*this, m_state);
    OVNIconSetHelper &icons = OVNIconSetHelper::sharedIconSet();
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_state.splitterMedia = new OVNSplitView(Qt::Horizontal, central);
    m_state.splitterMedia->setChildrenCollapsible(false);

    // The outline with its pane header.
    m_state.categoryList = new OVNOutlineView;
    m_state.categoryList->setOutlineDelegate(this);
    m_state.categoryModel = new OVNCategoryTreeModel(this);
    m_state.categoryList->setModel(m_state.categoryModel);
    m_state.categoryList->setHeaderHidden(true);
    m_state.categoryList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_state.categoryList->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_state.categoryList->setFrameShape(QFrame::NoFrame);
    m_state.categoryList->setUniformRowHeights(true);
    m_state.categoryList->setIndentation(12);
    m_state.categoryList->header()->setStretchLastSection(false);
    auto *cell = new OVNImageAndTextCell(m_state.categoryList);
    cell->setApplyFormat(true);
    cell->setControlSize(0);
    QFont labelFont = m_state.categoryList->font();
    labelFont.setPixelSize(12);
    cell->setFont(labelFont);
    m_state.categoryList->setItemDelegateForColumn(0, cell);
    m_state.categoryList->setItemDelegateForColumn(1, new OVNCountBadgeCell(m_state.categoryList));
    QPalette outlinePalette = m_state.categoryList->palette();
    outlinePalette.setColor(QPalette::Base, icons.colorFor(QStringLiteral("DBViewBackgroundColor")));
    m_state.categoryList->setPalette(outlinePalette);
    m_state.categoryModel->setIconProvider([this](const CategoryNode &node) {
        // Read once per kind and size: the icon set reads its files on every request.
        const QString kind = node.value(QStringLiteral("type")).toString();
        const QString key = (kind.isEmpty() ? QStringLiteral("C") : kind) + (m_state.usesSmallIcons ? u'-' : u'+');
        auto found = m_state.outlineIcons.constFind(key);
        if (found == m_state.outlineIcons.constEnd())
            found = m_state.outlineIcons.insert(key, OVNIconSetHelper::sharedIconSet().outlineIconForType(
                                                         key.chopped(1), m_state.usesSmallIcons ? 16.0f : 20.0f));
        return *found;
    });
    m_state.categoryModel->setCountProvider([this](const CategoryNode &node) { return countTextFor(node); });
    m_state.categoryModel->setRenameHandler([this](const CategoryNode &node, const QString &name) {
        return renameCategory(node.value("mid").toString(), name);
    });
    connect(m_state.categoryList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { outlineSelectionDidChange(); });

    auto *categoryPane = new QWidget;
    auto *categoryHeader = NTPopUpHeaderView::viewWithFrame(QRect(0, 0, 140, 17), localized("Databases"));
    categoryHeader->setDelegate(this);
    categoryHeader->setTag(0);
    categoryHeader->setRightGrip(2);
    m_categoryHeader1 = categoryHeader;
    paneWithHeader(categoryPane, categoryHeader, m_state.categoryList);

    // The thumbnail area and its three top bars.
    m_mediaList = new QWidget;
    auto *mediaLayout = new QVBoxLayout(m_mediaList);
    mediaLayout->setContentsMargins(0, 0, 0, 0);
    mediaLayout->setSpacing(0);
    m_topviewfind = makeTopView(this, localized("Search Results"));
    // The bars' buttons are membrane buttons, small enough for a 25-point bar.
    const auto barButton = [](OVNBGView *bar, const QString &title) {
        auto *button = new OVNMembraneButton(bar);
        button->setText(title);
        bar->layout()->addWidget(button);
        return button;
    };
    m_tvfButtonSave = barButton(m_topviewfind, localized("Save"));
    m_tvfButtonEdit = barButton(m_topviewfind, localized("Edit"));
    connect(m_tvfButtonSave, &QPushButton::clicked, this, &OVNAssetManager::tfFindSaveClick);
    connect(m_tvfButtonEdit, &QPushButton::clicked, this, &OVNAssetManager::tfFindEditClick);
    m_state.topviewsurveillance = makeTopView(this, localized("Surveillance Folder"));
    m_topviewset = makeTopView(this, localized("Category Set"));
    // A category set's own commands: its category menu, and publishing or burning what it holds.
    QPushButton *setAction = barButton(m_topviewset, localized("Action"));
    setAction->setObjectName(QStringLiteral("tvsetButtonAction_"));
    connect(setAction, &QPushButton::clicked, this, [this, setAction] {
        const std::unique_ptr<QMenu> menu = m_categoryActions->menuForContextButton(setAction);
        menu->exec(setAction->mapToGlobal(QPoint(0, setAction->height())));
    });
    QPushButton *setPublish = barButton(m_topviewset, localized("Publish"));
    setPublish->setObjectName(QStringLiteral("tvsetButtonPublish_"));
    connect(setPublish, &QPushButton::clicked, this, [this] { buttonPublishToWebClick(); });
    QPushButton *setBurn = barButton(m_topviewset, localized("Burn"));
    setBurn->setObjectName(QStringLiteral("tvsetButtonBurn_"));
    connect(setBurn, &QPushButton::clicked, this, [this] { buttonBurnCDClick(); });

    // Preview and details.
    m_mediaPreview1 = new QWidget;
    m_state.mediaPreviewImage = new OVNMediaPreviewImage;
    m_state.mediaPreviewImage->setBackgroundColor(icons.colorFor(QStringLiteral("DetailsBackgroundColor")));
    auto *previewHeader = NTPopUpHeaderView::viewWithFrame(QRect(0, 0, 256, 17), localized("Preview"));
    previewHeader->setDelegate(this);
    previewHeader->setTag(1);
    previewHeader->setLeftGrip(2);
    paneWithHeader(m_mediaPreview1, previewHeader, m_state.mediaPreviewImage);

    m_mediaPreview2 = new QWidget;
    m_state.mediaDetails = new OVNMediaDetails;
    m_state.mediaDetails->setBackgroundColor(icons.colorFor(QStringLiteral("PreviewBackgroundColor")));
    auto *detailsHeader = NTPopUpHeaderView::viewWithFrame(QRect(0, 0, 400, 17), localized("Asset Details"));
    detailsHeader->setDelegate(this);
    detailsHeader->setTag(2);
    detailsHeader->setLeftGrip(2);
    detailsHeader->setRightGrip(1);
    paneWithHeader(m_mediaPreview2, detailsHeader, m_state.mediaDetails);

    // Either row folds away when its divider is dragged past the row's minimum; the columns never do.
    m_mediaPreview1->setMinimumHeight(int(OVNPaneGeometry::minimumPreview));
    m_mediaPreview2->setMinimumHeight(int(OVNPaneGeometry::minimumDetails));
    m_state.splitterPreview = new OVNSplitView(Qt::Vertical);
    m_state.splitterPreview->setChildrenCollapsible(true);
    m_state.splitterPreview->addWidget(m_mediaPreview1);
    m_state.splitterPreview->addWidget(m_mediaPreview2);

    m_state.splitterMedia->addWidget(categoryPane);
    m_state.splitterMedia->addWidget(m_mediaList);
    m_state.splitterMedia->addWidget(m_state.splitterPreview);
    m_state.splitterMedia->setStretchFactor(1, 1);
    // A divider dragged by hand sets the sizes later layouts keep.
    connect(m_state.splitterMedia, &QSplitter::splitterMoved, this, [this] { recordFrozenSizes(); });
    connect(m_state.splitterPreview, &QSplitter::splitterMoved, this, [this] { recordFrozenSizes(); });
    layout->addWidget(m_state.splitterMedia, 1);

    // The footer's buttons sit on the button-row gradient.
    auto *footer = new OVNButtonBGView(central);
    footer->setObjectName(QStringLiteral("footer"));
    buildFooter(footer);
    layout->addWidget(footer);
    setCentralWidget(central);

    m_commands->setupActions();
    m_commands->setupSearchField();
    m_commands->setupMenus();
    m_commands->setupToolbar();
}

void OVNAssetManager::buildFooter(QWidget *footer)
{
    footer->setFixedHeight(26);
    auto *layout = new QHBoxLayout(footer);
    layout->setContentsMargins(6, 2, 8, 2);
    layout->setSpacing(8);
    // The footer's pull-down of category actions: its menu is fetched at each press.
    m_state.footerButtonAction = new OVNPopUpButtonFooter(footer);
    m_state.footerButtonAction->setImage(iconFromSet(QStringLiteral("Adjust")).pixmap(16, 16).toImage());
    m_state.footerButtonAction->setToolTip(localized("Actions"));
    m_state.footerButtonAction->setTarget(m_categoryActions);
    layout->addWidget(m_state.footerButtonAction);
    m_statusText = new QLabel(footer);
    m_statusText->setTextFormat(Qt::PlainText);
    QFont statusFont = m_statusText->font();
    statusFont.setPixelSize(11);
    m_statusText->setFont(statusFont);
    layout->addWidget(m_statusText, 1);
    m_statusIndicator = new QProgressBar(footer);
    m_statusIndicator->setRange(0, 0);
    m_statusIndicator->setFixedSize(60, 10);
    m_statusIndicator->setTextVisible(false);
    m_statusIndicator->hide();
    layout->addWidget(m_statusIndicator);
    m_state.thumbsizeSlider = new QSlider(Qt::Horizontal, footer);
    m_state.thumbsizeSlider->setRange(48, 256);
    m_state.thumbsizeSlider->setFixedWidth(110);
    m_state.thumbsizeSlider->setEnabled(false);
    m_state.thumbsizeSlider->setToolTip(localized("Thumbnail Size"));
    connect(m_state.thumbsizeSlider, &QSlider::valueChanged, this, [this](int value) {
        if (m_state.thumbsizeSlider->isEnabled())
            m_commands->thumbsizeSliderMoved(value);
    });
    layout->addWidget(m_state.thumbsizeSlider);
    m_state.previewToggleButton = new QToolButton(footer);
    m_state.previewToggleButton->setAutoRaise(true);
    m_state.previewToggleButton->setIcon(iconFromSet(QStringLiteral("CtrlPreviewCollapseMini")));
    m_state.previewToggleButton->setToolTip(localized("Show or hide the preview"));
    m_state.previewToggleButton->setCheckable(true);
    connect(m_state.previewToggleButton, &QToolButton::clicked, this,
            [this] { m_commands->buttonToggleMediaInfoClick(); });
    layout->addWidget(m_state.previewToggleButton);
}

void OVNAssetManager::makeWindowControllers()
{
    windowControllerDidLoadNib();
    setWindowTitle(displayName());
    if (m_cascadePosition)
        move(*m_cascadePosition);
    OVNWindowPlacement::fitOnScreen(this);
    show();
    raise();
}

void OVNAssetManager::windowControllerDidLoadNib()
{
    if (m_loaded)
        return;
    m_loaded = true;
    initMediaView();
    if (m_state.dbcon)
        reloadCategoryList();
    loadPreferences();

    UserDefaults &defaults = UserDefaults::standard();
    m_state.viewDatabaseShowThumbnails = defaults.boolForKey(QStringLiteral("DatabaseShowThumbnails"));
    m_state.viewLightTableShowThumbnails = defaults.boolForKey(QStringLiteral("LightTableShowThumbnails"));
    m_state.viewLightTableShowRecursive = defaults.boolForKey(QStringLiteral("LightTableShowRecursive"));
    m_state.viewShowCountOnLightTables = defaults.boolForKey(QStringLiteral("ShowCountOnLightTables"));
    m_state.viewShowCountOnFilmRolls = defaults.boolForKey(QStringLiteral("ShowCountOnFilmRolls"));
    m_state.viewShowCountOnImageSets = defaults.boolForKey(QStringLiteral("ShowCountOnImageSets"));
    m_state.viewShowCountOnSurveillanceFolders = defaults.boolForKey(QStringLiteral("ShowCountOnSurveillanceFolders"));

    restoreFrameAndSplitters();
    if (defaults.boolForKey(QStringLiteral("MediaInfoCollapsed")))
        m_commands->buttonToggleMediaInfoClick();
    m_state.usesSmallIcons = defaults.boolForKey(QStringLiteral("UsesSmallCatalogIcons"));
    if (auto *cell = qobject_cast<OVNImageAndTextCell *>(m_state.categoryList->itemDelegateForColumn(0)))
        cell->setControlSize(m_state.usesSmallIcons ? 0 : 24);

    NotificationCenter &center = NotificationCenter::defaultCenter();
    center.addObserver(this, importMediaDidFinishNotification(),
                       [this](const QString &, const QVariantMap &info) { ovnImportMediaDidFinish(info); });
    center.addObserver(this, categoryListDidChangeNotification(),
                       [this](const QString &, const QVariantMap &info) { ovnCategoryListDidChange(info); });
    center.addObserver(this, reloadCategoryNotification(),
                       [this](const QString &, const QVariantMap &info) { ovnCategoryListReload(info); });
    m_state.trackImportDidFinish = false;

    m_state.categoryList->setIndentation(12);
    if (!m_internalSectionList.isEmpty())
        m_state.categoryList->expand(m_state.categoryModel->index(0, 0));
    updateCategoryList();

    initMediaViewWithTopView(nullptr);
    m_state.mediaView->resizeFrameToFitMediaContainer();
    updateEmptyListHint();
    setStatus(QString(), false);
    refreshActions();
}

void OVNAssetManager::restoreFrameAndSplitters()
{
    UserDefaults &defaults = UserDefaults::standard();
    // "x y w h sx sy sw sh", measured upwards from the main screen's bottom edge.
    const QString stored = defaults.stringForKey(QStringLiteral("NSWindow Frame OVNAssetManager"));
    QStringList frame = stored.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (frame.size() < 4) {
        frame = {QStringLiteral("50"), QStringLiteral("120"), QStringLiteral("800"), QStringLiteral("480")};
        defaults.setString(frame.join(QLatin1Char(' ')), QStringLiteral("NSWindow Frame OVNAssetManager"));
        defaults.synchronize();
    }
    const int width = frame.value(2).toInt();
    const int height = frame.value(3).toInt();
    resize(std::max(width, 400), std::max(height, 300));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect full = screen->geometry();
        const QRect visible = screen->availableGeometry();
        const int left = full.x() + frame.value(0).toInt();
        const int top = full.y() + full.height() - (frame.value(1).toInt() + this->height());
        // Kept on the visible part of the screen, title bar included.
        move(std::clamp(left, visible.left(), std::max(visible.left(), visible.right() - this->width())),
             std::clamp(top, visible.top(), std::max(visible.top(), visible.bottom() - this->height())));
    }

    const auto size = [&defaults](const char *key, float fallback) {
        const double value = defaults.doubleForKey(QString::fromLatin1(key));
        return value == 0.0 ? fallback : float(value);
    };
    m_frozenFrame1Width = size("OVNAssetManagerCategoryWidth", 140);
    m_frozenFrame2Width = size("OVNAssetManagerMediaViewWidth", 270);
    m_frozenVFrame1Height = size("OVNAssetManagerPreviewHeight", 180);

    // The stored media width is what the thumbnails get; the preview column takes the rest, but
    // never less than a usable strip.
    const int total = this->width();
    const int category = std::clamp(int(m_frozenFrame1Width), 80, std::max(80, total / 2));
    const int preview = std::max(200, total - category - std::max(0, int(m_frozenFrame2Width)));
    const int media = std::max(100, total - category - preview);
    m_state.splitterMedia->setSizes({category, media, preview});
    // What the right column comes back to when it starts hidden.
    m_state.savedMediaSizes = {category, media, preview};
    const int previewHeight = std::max(60, int(m_frozenVFrame1Height));
    m_state.splitterPreview->setSizes({previewHeight, std::max(60, height - previewHeight)});
}

void OVNAssetManager::loadPreferences()
{
    UserDefaults &defaults = UserDefaults::standard();
    defaults.registerDefaults({
        {QStringLiteral("AssetThumbnailQuality"), QStringLiteral("2")},
        {QStringLiteral("AssetBackgroundLoader"), QStringLiteral("1")},
        {QStringLiteral("DefaultImageViewer"), QStringLiteral("0")},
        {QStringLiteral("DefaultMovieViewer"), QStringLiteral("0")},
        {QStringLiteral("AutostartMoviesWithViewer"), QStringLiteral("1")},
        {QStringLiteral("MediaInfoCollapsed"), QStringLiteral("0")},
    });
    m_state.prefThumbnailSize = int(defaults.integerForKey(QStringLiteral("ThumbnailSize")));
    m_state.prefThumbnailType = int(defaults.integerForKey(QStringLiteral("ThumbnailStyle")));
    m_state.viewOrderBy = int(defaults.integerForKey(QStringLiteral("ThumbnailArrangeBy")));
    m_state.viewOrderASC = defaults.contains(QStringLiteral("ThumbnailOrderBy"))
                               ? defaults.boolForKey(QStringLiteral("ThumbnailOrderBy"))
                               : true;
    m_prefThumbnailQuality = int(defaults.integerForKey(QStringLiteral("AssetThumbnailQuality")));
    m_prefBackgroundLoader = defaults.boolForKey(QStringLiteral("AssetBackgroundLoader"));
    m_state.prefDefaultViewerType1 = int(defaults.integerForKey(QStringLiteral("DefaultViewerType")));
    m_state.prefExternalViewer1 = defaults.stringForKey(QStringLiteral("DefaultViewerApplication"));
    m_state.prefDefaultViewerType2 = int(defaults.integerForKey(QStringLiteral("DefaultViewerType2")));
    m_state.prefExternalViewer2 = defaults.stringForKey(QStringLiteral("DefaultViewerApplication2"));
}

void OVNAssetManager::initMediaView() { initMediaViewWithTopView(nullptr); }

void OVNAssetManager::detachTopView()
{
    if (!m_currentTopView)
        return;
    m_mediaList->layout()->removeWidget(m_currentTopView);
    m_currentTopView->hide();
    m_currentTopView->setParent(this);
    m_currentTopView = nullptr;
}

void OVNAssetManager::initMediaViewWithTopView(OVNBGView *topView)
{
    OVNMediaView *old = m_state.mediaView;
    auto *layout = static_cast<QVBoxLayout *>(m_mediaList->layout());
    detachTopView();
    if (old) {
        // The old view may be the one calling us (a delegate message that ends in a reload).
        layout->removeWidget(old);
        old->setMediaContainer(nullptr);
        old->setDelegate(nullptr);
        old->hide();
        old->deleteLater();
    }
    if (topView) {
        topView->setParent(m_mediaList);
        topView->setType(OVNBGView::TiledStrip);
        layout->insertWidget(0, topView);
        topView->show();
        m_currentTopView = topView;
    }

    m_state.mediaView = new OVNMediaView(m_mediaList);
    m_state.mediaView->setCatalogIdentity(catalogIdentity());
    m_state.mediaView->setThumbnailWidth(m_state.prefThumbnailSize > 0 ? m_state.prefThumbnailSize : 100);
    m_state.mediaView->setThumbnailStyle(m_state.prefThumbnailType);
    m_state.mediaView->setThumbnailQuality(m_prefThumbnailQuality);
    m_state.mediaView->setUseBackgroundLoader(m_prefBackgroundLoader);
    restorePrintSettings();
    m_commands->setThumbsizeSliderEnabled(m_state.thumbsizeSlider->isEnabled());
    m_state.mediaView->setSortOrder(m_state.viewOrderBy);
    m_state.mediaView->setSortAscending(m_state.viewOrderASC);
    if (m_state.viewOrderBy == OVNMediaViewSorting::SortNone)
        m_state.mediaView->setFilter(
            m_state.searchText.toLower(),
            OVNCatalogWindowCommands::searchKeyForField(m_state.viewSearchFilterSelected).value_or(QString()));
    else
        m_state.mediaView->sortMediaContainer();
    if (old && m_state.dbcon)
        m_state.dbcon->runGarbageCollection();
    m_state.mediaView->setDelegate(m_mediaDelegate.get());
    layout->addWidget(m_state.mediaView, 1);
    m_state.mediaView->show();
}

bool OVNAssetManager::thumbnailSizeSliderEnabled() const { return m_state.thumbsizeSlider->isEnabled(); }

QString OVNAssetManager::statusText() const { return m_statusText->text(); }

std::unique_ptr<OVNCatalogWait> OVNAssetManager::catalogWait()
{
    return std::make_unique<OVNCatalogWait>(
        [this](const QString &text, bool busy) {
            // The text from before comes back only over the waiting words: what the command said
            // since (the count of a list it showed, say) stays.
            if (!busy && statusText() != OVNCatalogOpening::waitingText())
                return;
            setStatus(text, busy);
        },
        statusText());
}

void OVNAssetManager::setStatus(const QString &text, bool busy)
{
    m_showsDropRefusal = false;
    m_statusText->setText(text);
    m_statusIndicator->setVisible(busy);
    if (isVisible())
        m_statusText->repaint();
    emit statusShown(text, busy);
}
