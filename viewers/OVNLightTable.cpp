#include "viewers/OVNLightTable.h"

#include "browser/OVNMediaRollView.h"
#include "formats/FileTypeCodes.h"
#include "formats/OVNHelper.h"
#include "platform/Localized.h"
#include "decoding/MoviePlayer.h"
#include "platform/UserDefaults.h"
#include "uikit/OVNIconSetHelper.h"
#include "viewers/OVNImageView.h"
#include "viewers/OVNLightTableStatus.h"
#include "viewers/OVNMovieView.h"
#include "platform/CatalogNames.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStyle>
#include <QVBoxLayout>

#include <cmath>

namespace {
const QString keyPath = QStringLiteral("absolutepath");
using CatalogNames::keyMid;
using CatalogNames::keyOrientation;
using CatalogNames::keyRating;
const QString prefSplitStyle = QStringLiteral("LightTableSplitStyle");
const QString prefRaw = QStringLiteral("RAWOpenWithLightTable");
constexpr int statusHeight = 22;
} // namespace

// ---- the delegate's defaults ----

bool OVNLightTableDelegate::lightTableSetRating(int, const QString &) { return false; }
bool OVNLightTableDelegate::lightTableRotate(const QString &, OVNMediaView *, Turn) { return false; }
void OVNLightTableDelegate::lightTableDoubleClick(OVNMediaView *, Qt::KeyboardModifiers) {}
QByteArray OVNLightTableDelegate::lightTableThumbnailData(OVNMediaView *, const QString &) { return {}; }
void OVNLightTableDelegate::lightTableOpen(OVNMediaView *, int) {}

OVNLightTable::Pane::Pane() = default;
OVNLightTable::Pane::Pane(Pane &&) noexcept = default;
OVNLightTable::Pane &OVNLightTable::Pane::operator=(Pane &&) noexcept = default;
OVNLightTable::Pane::~Pane() = default;

// ---- pure parts ----

QList<QRectF> OVNLightTable::paneFrames(int style, const QRectF &bounds)
{
    const double x = bounds.x(), y = bounds.y(), W = bounds.width(), H = bounds.height();
    const double w1 = std::ceil(W / 2), h1 = std::ceil(H / 2);
    switch (style) {
    case 1:
        return {bounds};
    case 2:
        return {{x, y, w1, H}, {x + w1, y, W - w1 - 2, H}};
    case 3:
        return {{x, y, W, h1}, {x, y + h1, W, H - h1}};
    case 4:
        return {
            {x, y, w1, h1}, {x + w1, y, W - w1 - 2, h1}, {x, y + h1, w1, H - h1}, {x + w1, y + h1, W - w1 - 2, H - h1}};
    default:
        return {};
    }
}

QRectF OVNLightTable::toWidget(const QRectF &frame, double areaHeight)
{
    return {frame.x(), areaHeight - frame.y() - frame.height(), frame.width(), frame.height()};
}

int OVNLightTable::splitStyleFromPreference(int stored) { return stored == 0 ? 2 : stored; }

int OVNLightTable::shrinkFactorFromPreference(int stored) { return stored == 1 ? 0 : 2; }

// ---- opening ----

OVNLightTable::OVNLightTable(QWidget *parent) : QMainWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(localized("Light Table"));
    resize(1000, 760);
    const QColor background = OVNIconSetHelper::sharedIconSet().colorFor(QStringLiteral("LightTableBackgroundColor"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, background);
    setPalette(palette);

    m_content = new QWidget(this);
    m_content->setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(m_content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_mediaroll = new OVNMediaRollView(m_content);
    m_mediaroll->setFixedHeight(143 + m_mediaroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    m_mediazoomview = new QWidget(m_content);
    m_mediazoomview->setAutoFillBackground(true);
    m_mediazoomview->installEventFilter(this);
    m_mediastatus = new OVNLightTableStatus(m_content);
    m_mediastatus->setFixedHeight(statusHeight);
    m_mediastatus->setBackgroundColor(background);
    m_mediastatus->setClickHandler([this](const QPointF &point) { statusStripClicked(point); });
    layout->addWidget(m_mediaroll);
    layout->addWidget(m_mediazoomview, 1);
    // Along the bottom of the content, so that its origin is the content's bottom-left corner.
    layout->addWidget(m_mediastatus);
    setCentralWidget(m_content);

    m_mediaMenu = menuBar()->addMenu(localizedMenu("&Media"));
    connect(m_mediaMenu, &QMenu::aboutToShow, this, &OVNLightTable::validateMenus);
    const auto open = [this](int viewerType) {
        OVNLightTableDelegate *delegate = liveDelegate(OVNLightTableDelegate::Open);
        const qsizetype selected = m_mediaroll->selectedRows().size();
        if (!delegate || selected == 0 || (viewerType == 2 && selected != 1))
            QApplication::beep();
        else
            delegate->lightTableOpen(m_mediaroll, viewerType);
    };
    m_mediaMenu->addAction(localizedMenu("Open in Viewer"), this, [open] { open(0); })->setData(-1);
    m_mediaMenu->addAction(localizedMenu("Open in Full Screen"), this, [open] { open(2); })->setData(-1);
    m_mediaMenu->addAction(localizedMenu("Reveal in File Manager"), this, [this] { m_mediaroll->revealInFinder(); })
        ->setData(-1);
    m_mediaMenu->addSeparator();
    const char *ratings[] = {"No Rating", "1 Star", "2 Stars", "3 Stars", "4 Stars", "5 Stars"};
    for (int rating = 0; rating < 6; ++rating) {
        QAction *item =
            m_mediaMenu->addAction(localizedMenu(ratings[rating]), this, [this, rating] { rateSelection(rating); });
        item->setCheckable(true);
        item->setData(rating);
        item->setShortcut(QKeySequence(Qt::CTRL | (Qt::Key_0 + rating)));
    }

    m_loader = new OVNImageLoader(this);
    connect(m_loader, &OVNImageLoader::loaded, this, &OVNLightTable::imageLoaded);
    m_slideshowtimer.setSingleShot(true);
    m_slideshowtimer.setInterval(advanceIntervalMs);
    connect(&m_slideshowtimer, &QTimer::timeout, this, &OVNLightTable::displayNextMediaFile);
}

OVNLightTable::~OVNLightTable()
{
    m_slideshowtimer.stop();
    exitFullscreenMode();
    releaseZoomViewAssets();
    releaseAssetViews();
}

void OVNLightTable::setDelegate(OVNLightTableDelegate *delegate)
{
    m_delegate = delegate;
    m_delegateObject = dynamic_cast<QObject *>(delegate);
    m_delegateIsObject = m_delegateObject != nullptr;
}

OVNLightTableDelegate *OVNLightTable::liveDelegate(OVNLightTableDelegate::Capability capability) const
{
    if (!m_delegate || (m_delegateIsObject && !m_delegateObject))
        return nullptr;
    return m_delegate->lightTableCapabilities().testFlag(capability) ? m_delegate : nullptr;
}

void OVNLightTable::setMediaContainer(const MediaList &list, const QString &type, const QString &mid)
{
    m_mediacontainer = std::make_shared<MediaList>(list);
    m_mediatype = type;
    m_mediamid = mid;
}

void OVNLightTable::showLightTable()
{
    m_mediaroll->setDelegate(this);
    m_mediaroll->setMediaContainer(m_mediacontainer ? m_mediacontainer : std::make_shared<MediaList>());
    m_mediaroll->setMediaContainerMID(m_mediamid);
    m_mediaroll->setMediaContainerType(m_mediatype);
    m_mediaroll->setMenuForEventType(1);
    m_mediacontainer.reset(); // the roll holds it now
    m_splitScreenType = splitStyleFromPreference(int(UserDefaults::standard().integerForKey(prefSplitStyle)));
    initZoomView();
    show();
    // Laid out now, so that the roll and the panes have their sizes before the first paint.
    layout()->activate();
    m_content->layout()->activate();
    m_mediaroll->resizeFrameToFitMediaContainer();
    resizeSubviews();
}

// ---- panes ----

OVNImageView *OVNLightTable::imageView(int pane) const
{
    return pane >= 0 && pane < paneCount() ? m_panes[size_t(pane)].image.get() : nullptr;
}

OVNMovieView *OVNLightTable::movieView(int pane) const
{
    return pane >= 0 && pane < paneCount() ? m_panes[size_t(pane)].movie.get() : nullptr;
}

bool OVNLightTable::paneShowsMovie(int pane) const
{
    return pane >= 0 && pane < paneCount() && m_panes[size_t(pane)].showsMovie;
}

void OVNLightTable::selectPane(int pane)
{
    m_selectedPane = pane >= 0 && pane < paneCount() ? pane : -1;
    for (int i = 0; i < paneCount(); ++i) {
        Pane &p = m_panes[size_t(i)];
        p.image->setSelected(i == m_selectedPane && !p.showsMovie);
        p.movie->setSelected(i == m_selectedPane && p.showsMovie);
    }
}

void OVNLightTable::initZoomView()
{
    // A load for the panes that go is dropped.
    m_loader->cancel();
    m_pending = {};
    ++m_selectionGeneration;
    releaseZoomViewAssets();
    releaseAssetViews();
    const QColor background = OVNIconSetHelper::sharedIconSet().colorFor(QStringLiteral("LightTableBackgroundColor"));
    const int count = int(paneFrames(m_splitScreenType, QRectF(0, 0, 100, 100)).size());
    for (int i = 0; i < count; ++i) {
        Pane pane;
        pane.image = std::make_unique<OVNImageView>(m_mediazoomview);
        pane.image->setBackgroundColor(background);
        pane.image->setZoomType(OVNImageView::Fit);
        pane.image->setSelectionDidChange([this, i](OVNImageView *) { selectPane(i); });
        pane.image->show();
        pane.movie = std::make_unique<OVNMovieView>(m_mediazoomview);
        pane.movie->setBackgroundColor(background);
        pane.movie->setInset(2.0f);
        pane.movie->setSelectionDidChange([this, i](OVNMovieView *) { selectPane(i); });
        pane.movie->hide();
        m_panes.push_back(std::move(pane));
    }
    selectPane(count > 0 ? 0 : -1);
    m_mediastatus->setViewStyle(m_splitScreenType);
    m_mediastatus->update();
    resizeSubviews();
    emit panesBuilt(count);
}

void OVNLightTable::resizeSubviews()
{
    const double height = m_mediazoomview->height();
    const QList<QRectF> frames = paneFrames(m_splitScreenType, QRectF(0, 0, m_mediazoomview->width(), height));
    for (int i = 0; i < paneCount() && i < frames.size(); ++i) {
        const QRect frame = toWidget(frames[i], height).toRect();
        Pane &pane = m_panes[size_t(i)];
        pane.image->setGeometry(frame);
        pane.image->setVisibleSize(QSizeF(frame.size()));
        pane.image->setScrollerSize(QSizeF(frame.size()));
        pane.movie->setGeometry(frame);
    }
}

void OVNLightTable::emptyPane(Pane &pane)
{
    if (pane.player) {
        pane.player->setRate(0);
        pane.movie->setMovie(nullptr);
        // Possibly inside one of the player's own signals.
        pane.player.release()->deleteLater();
    }
    pane.image->setImage(QImage());
}

void OVNLightTable::releaseZoomViewAssets()
{
    for (Pane &pane : m_panes)
        emptyPane(pane);
}

void OVNLightTable::releaseAssetViews()
{
    m_panes.clear();
    m_selectedPane = -1;
}

void OVNLightTable::setSelectedMediaViewType(bool movie)
{
    if (m_selectedPane < 0)
        return;
    Pane &pane = m_panes[size_t(m_selectedPane)];
    emptyPane(pane);
    if (pane.showsMovie == movie)
        return;
    QWidget *old = movie ? static_cast<QWidget *>(pane.image.get()) : pane.movie.get();
    QWidget *partner = movie ? static_cast<QWidget *>(pane.movie.get()) : pane.image.get();
    old->hide();
    // The partner starts unturned: a turn belongs to what the pane showed.
    if (movie)
        pane.movie->setRotation(0);
    else
        pane.image->resetRotation();
    partner->setGeometry(old->geometry());
    partner->show();
    pane.showsMovie = movie;
    selectPane(m_selectedPane);
}

void OVNLightTable::setSelectedRepresentedObject(const QVariantMap &object)
{
    if (m_selectedPane < 0)
        return;
    Pane &pane = m_panes[size_t(m_selectedPane)];
    pane.image->setRepresentedObject(object);
    pane.movie->setRepresentedObject(object);
}

QVariantMap OVNLightTable::representedObject(int pane) const
{
    if (pane < 0 || pane >= paneCount())
        return {};
    const Pane &p = m_panes[size_t(pane)];
    return p.showsMovie ? p.movie->representedObject() : p.image->representedObject();
}

void OVNLightTable::refreshPanes()
{
    m_mediazoomview->update();
    for (Pane &pane : m_panes) {
        pane.image->update();
        pane.movie->update();
    }
}

// ---- loading ----

void OVNLightTable::loadSelection()
{
    // Whatever was loading is for an older selection now.
    ++m_selectionGeneration;
    m_loader->cancel();
    m_pending = {};
    if (m_mediaroll->numberOfSelectedRows() != 1) {
        if (!m_panes.empty())
            emptyPane(m_panes.front());
        refreshPanes();
        m_mediapath.clear();
        m_mediastatus->setStatus(QString());
        return;
    }
    // Everything the load needs is read here, on the GUI thread.
    const int row = m_mediaroll->selectedRow();
    const MediaRecordRef record = m_mediaroll->objectForRow(row);
    if (!record)
        return;
    const QString path = record->field(MediaRecord::AbsolutePath);
    const QString mid = record->field(MediaRecord::Mid);
    // The pane shows the whole picture: only an entry the user may still read, asked now. The
    // rule has said why not; the automatic advance stops there.
    if (m_selectedPane >= 0 && leftOutOf({row}) != QSet<QString>()) {
        if (m_slideshow)
            toggleAdvance();
        emptyPane(m_panes[size_t(m_selectedPane)]);
        setSelectedRepresentedObject({});
        refreshPanes();
        m_mediapath.clear();
        m_mediastatus->setStatus(localized("This entry may not be shown."));
        emit itemFailed(row, mid, localized("This entry may not be shown."));
        return;
    }
    m_mediapath = path;
    if (m_selectedPane < 0) {
        m_mediastatus->setStatus(QString());
        return;
    }
    m_pending = {true, 0,   m_selectedPane,
                 row,  mid, OVNOrientation::turnFor(record->field(MediaRecord::Orientation).toInt())};
    const QString extension = OVNExtensionMapping::pathExtension(path);
    const QString existing = path.isEmpty() ? QString() : OVNHelper::existingFilePath(path);
    const bool image = FileTypeCodes::windowForFile(m_extensionmap.getViewerForExtension(extension), existing)
                       == ViewerCode::Window::ImageViewer;
    setSelectedMediaViewType(!image);
    setSelectedRepresentedObject({{keyPath, path}, {keyMid, mid}});
    if (existing.isEmpty()) {
        loadFinished(false, {}, 0, localized("Media file not found."));
        return;
    }
    if (image) {
        m_mediastatus->setStatus(localized("Loading Image..."));
        m_mediastatus->repaint();
        UserDefaults &defaults = UserDefaults::standard();
        defaults.registerDefaults({{prefRaw, QStringLiteral("0")}});
        m_onLoadShrinkFactor = shrinkFactorFromPreference(int(defaults.integerForKey(prefRaw)));
        startImageLoad();
    } else {
        m_mediastatus->setStatus(localized("Loading QuickTime Content..."));
        m_mediastatus->repaint();
        startMovie(existing, m_extensionmap.getTypeForExtension(extension));
    }
}

void OVNLightTable::startImageLoad()
{
    OVNImageView *view = m_panes[size_t(m_pending.pane)].image.get();
    OVNImageLoader::Request request{
        m_mediapath, m_extensionmap.getProcessorForFile(m_mediapath), m_onLoadShrinkFactor, {}};
    // The pane shows the picture fitted to it (unturned): it is decoded to fit, and nothing larger
    // crosses from the decoder. The full-resolution command decodes a RAW file unreduced, but
    // still fitted to the pane.
    const QSize box = view->size() * view->devicePixelRatio();
    if (!box.isEmpty()) {
        const bool quarter = m_pending.turn.degrees == 90 || m_pending.turn.degrees == 270;
        request.previewSize = quarter ? box.transposed() : box;
        request.fittedOnly = true;
    }
    m_pending.generation = m_loader->load(request);
}

void OVNLightTable::imageLoaded(const OVNImageLoader::Result &result)
{
    if (!m_pending.active || result.generation != m_pending.generation || m_pending.pane >= paneCount())
        return;
    Pane &pane = m_panes[size_t(m_pending.pane)];
    if (pane.showsMovie)
        return;
    if (result.image.isNull()) {
        pane.image->setImage(QImage());
        loadFinished(false, {}, 0, localized("The media file could not be loaded."));
        return;
    }
    const OVNOrientation::Turn turn = m_pending.turn;
    pane.image->setRotation(turn.degrees);
    const QImage image = OVNOrientation::flippedBeforeTurn(result.image, turn);
    pane.image->setImage(image, result.preview ? image : OVNOrientation::flippedBeforeTurn(result.screen, turn));
    pane.image->repaint();
    emit pictureShown(result.preview);
    if (!result.preview)
        loadFinished(true, result.fullSize.isValid() ? result.fullSize : result.image.size(), turn.degrees, QString());
}

void OVNLightTable::startMovie(const QString &path, const QString &type)
{
    Pane &pane = m_panes[size_t(m_pending.pane)];
    pane.player = std::make_unique<MoviePlayer>();
    MoviePlayer *player = pane.player.get();
    const quint64 generation = m_selectionGeneration;
    const int index = m_pending.pane;
    const auto current = [this, player, generation, index] {
        return generation == m_selectionGeneration && m_pending.active && index < paneCount()
               && m_panes[size_t(index)].player.get() == player;
    };
    connect(player, &MoviePlayer::opened, this, [this, player, current, index, type] {
        if (!current())
            return;
        OVNMovieView *view = m_panes[size_t(index)].movie.get();
        // Movies get their play bar and keep their shape; sound plays without either.
        const bool movie = type == QLatin1String("Movie");
        view->setShowsController(movie);
        view->setPreservesAspectRatio(movie);
        player->setLooping(true);
        view->setMovie(player);
        player->setRate(1.0);
        loadFinished(true, player->naturalSize(), 0, QString());
    });
    connect(player, &MoviePlayer::failed, this, [this, current, index](const QString &reason) {
        if (!current())
            return;
        emptyPane(m_panes[size_t(index)]);
        loadFinished(false, {}, 0, localized("The media file could not be played.") + QLatin1Char(' ') + reason);
    });
    player->open(path);
}

void OVNLightTable::loadFinished(bool ok, QSize size, int rotation, const QString &reason)
{
    const PendingLoad done = m_pending;
    m_pending.active = false;
    m_mediastatus->setStatus(ok ? QString() : reason);
    refreshPanes();
    if (ok)
        emit itemLoaded(done.row, done.mid, size, rotation);
    else
        emit itemFailed(done.row, done.mid, reason);
    // The next step counts from the moment this item is on screen (or has failed).
    if (m_slideshow)
        triggerNextMediaFile();
}

void OVNLightTable::loadFullResolution()
{
    m_onLoadShrinkFactor = 0;
    if (m_mediaroll->numberOfSelectedRows() != 1 || m_selectedPane < 0 || m_panes[size_t(m_selectedPane)].showsMovie
        || m_mediapath.isEmpty())
        return;
    m_mediastatus->setStatus(localized("Loading Full Res Image..."));
    m_mediastatus->repaint();
    const MediaRecordRef record = m_mediaroll->objectForRow(m_mediaroll->selectedRow());
    m_loader->cancel();
    m_pending = {true,
                 0,
                 m_selectedPane,
                 m_mediaroll->selectedRow(),
                 record ? record->field(MediaRecord::Mid) : QString(),
                 OVNOrientation::turnFor(record ? record->field(MediaRecord::Orientation).toInt() : 0)};
    startImageLoad();
}

// ---- commands ----

void OVNLightTable::statusStripClicked(const QPointF &point)
{
    switch (OVNLightTableStatus::commandAt(point, m_mediastatus->width())) {
    case OVNLightTableStatus::Command::ToggleFullScreen:
        if (m_isFullscreen)
            exitFullscreenMode();
        else
            gotoFullscreenMode();
        break;
    case OVNLightTableStatus::Command::RotateLeft:
        rotateSelectedPane(OVNLightTableDelegate::Turn::Left);
        break;
    case OVNLightTableStatus::Command::RotateRight:
        rotateSelectedPane(OVNLightTableDelegate::Turn::Right);
        break;
    case OVNLightTableStatus::Command::SlideShow:
        toggleAdvance();
        break;
    case OVNLightTableStatus::Command::FullResolution:
        loadFullResolution();
        break;
    case OVNLightTableStatus::Command::SplitStyle:
        setSplitStyle(OVNLightTableStatus::viewStyleForPoint(point));
        break;
    case OVNLightTableStatus::Command::None:
        break;
    }
}

void OVNLightTable::setSplitStyle(int style)
{
    if (style <= 0 || style == m_splitScreenType)
        return;
    m_splitScreenType = style;
    initZoomView();
    UserDefaults::standard().setInteger(style, prefSplitStyle);
}

void OVNLightTable::rotateSelectedPane(OVNLightTableDelegate::Turn turn)
{
    if (m_selectedPane < 0)
        return;
    Pane &pane = m_panes[size_t(m_selectedPane)];
    const bool left = turn == OVNLightTableDelegate::Turn::Left;
    if (pane.showsMovie) {
        // Only the picture turns; the catalog is not told.
        left ? pane.movie->rotateLeft() : pane.movie->rotateRight();
        refreshPanes();
        return;
    }
    const QString mid = pane.image->representedObject().value(keyMid).toString();
    OVNLightTableDelegate *delegate = mid.isEmpty() ? nullptr : liveDelegate(OVNLightTableDelegate::Rotate);
    if (delegate) {
        // The pane turns only with the catalog entry; a refusal has been said and changes nothing.
        if (!delegate->lightTableRotate(mid, m_mediaroll, turn)) {
            emit writeFailed(QStringLiteral("turn"), mid);
            return;
        }
    }
    left ? pane.image->rotateLeft() : pane.image->rotateRight();
    refreshPanes();
    if (delegate) {
        const int row = m_mediaroll->rowForMid(mid);
        emit turned(row, mid, m_mediaroll->mediaObject(keyOrientation, row).toString());
    }
}

void OVNLightTable::toggleAdvance()
{
    m_slideshow = !m_slideshow;
    m_mediastatus->setSlideShowStatus(m_slideshow);
    m_mediastatus->update();
    if (m_slideshow)
        displayNextMediaFile();
    else
        m_slideshowtimer.stop();
}

void OVNLightTable::displayNextMediaFile()
{
    if (!m_slideshow)
        return;
    int index = 0;
    if (m_mediaroll->numberOfSelectedRows() == 1) {
        const int row = m_mediaroll->selectedRow();
        index = row >= m_mediaroll->count() - 1 ? 0 : row + 1;
    }
    // Several selected items are let go first, so that the step selects one and goes on.
    m_mediaroll->deselectAll();
    m_mediaroll->selectRow(index);
    const bool stepped = m_mediaroll->numberOfSelectedRows() == 1;
    if (stepped)
        emit advanced(index);
    loadSelection();
    m_mediaroll->scrollRowToVisible(index);
    m_mediaroll->viewport()->update();
}

void OVNLightTable::triggerNextMediaFile()
{
    if (m_slideshow)
        m_slideshowtimer.start();
}

void OVNLightTable::rateSelection(int rating)
{
    if (rating < 0 || rating > 5)
        return;
    OVNLightTableDelegate *delegate = liveDelegate(OVNLightTableDelegate::SetRating);
    for (int row : m_mediaroll->selectedRows()) {
        const QString mid = m_mediaroll->mediaIDForRow(row);
        if (delegate && !delegate->lightTableSetRating(rating, mid)) {
            emit writeFailed(QStringLiteral("rating"), mid);
            continue;
        }
        m_mediaroll->setMediaObject(keyRating, QString::number(rating), row);
        emit rated(row, mid, rating);
    }
    m_mediaroll->viewport()->update();
}

void OVNLightTable::validateMenus()
{
    const QList<int> rows = m_mediaroll->selectedRows();
    for (QAction *item : m_mediaMenu->actions()) {
        if (item->isSeparator())
            continue;
        item->setEnabled(!rows.isEmpty());
        const int rating = item->data().toInt();
        if (rating < 0)
            continue;
        if (rows.size() > 1) {
            item->setChecked(false);
        } else if (rows.size() == 1) {
            // A record without a rating leaves the marks as they were.
            const QString stored = m_mediaroll->mediaObject(keyRating, rows.first()).toString();
            if (!stored.isEmpty())
                item->setChecked(stored.toInt() == rating);
        }
    }
}

// ---- full screen ----

void OVNLightTable::gotoFullscreenMode()
{
    if (m_isFullscreen)
        return;
    QWidget *content = takeCentralWidget();
    m_mediaWindowFS = OVNFullScreenWindow::enter(content, OVNFullScreenWindow::Opacity::Opaque, this);
    if (!m_mediaWindowFS) {
        setCentralWidget(content);
        refreshPanes();
        return;
    }
    content->show();
    m_isFullscreen = true;
    m_mediaroll->setMenuForEventType(2);
    m_mediaroll->setFocus();
    m_mediaroll->resizeFrameToFitMediaContainer();
    resizeSubviews();
    refreshPanes();
}

void OVNLightTable::exitFullscreenMode()
{
    if (!m_isFullscreen || !m_mediaWindowFS)
        return;
    QWidget *content = m_mediaWindowFS->takeContentView();
    m_mediaWindowFS->leave();
    m_mediaWindowFS.reset();
    m_isFullscreen = false;
    if (content) {
        setCentralWidget(content);
        content->show();
    }
    m_mediaroll->setMenuForEventType(1);
    m_mediaroll->setFocus();
    resizeSubviews();
    refreshPanes();
}

// ---- the roll's delegate ----

OVNMediaViewDelegate::Capabilities OVNLightTable::capabilities() const
{
    return ThumbnailData | SelectionDidChange | DoubleClick | Escape | OpenWithDefaultViewer | OpenWithCreator
           | MenuSetRating | HandOn;
}

std::optional<QSet<QString>> OVNLightTable::leftOutOf(const QList<int> &rows)
{
    QList<MediaRecord> records;
    for (int row : rows) {
        if (const MediaRecordRef record = m_mediaroll->objectForRow(row))
            records.append(*record);
    }
    if (!m_readRule || records.isEmpty())
        return QSet<QString>();
    const std::optional<QList<MediaRecord>> kept = m_readRule(records);
    if (!kept || kept->isEmpty())
        return std::nullopt;
    QSet<QString> leftOut;
    for (const MediaRecord &record : std::as_const(records))
        leftOut.insert(record.field(MediaRecord::Mid));
    for (const MediaRecord &record : *kept)
        leftOut.remove(record.field(MediaRecord::Mid));
    return leftOut;
}

std::optional<QSet<QString>> OVNLightTable::ovnMediaViewLeftOutOfHandOn(OVNMediaView *view, const QList<int> &rows)
{
    if (view != m_mediaroll)
        return std::nullopt;
    return leftOutOf(rows);
}

QByteArray OVNLightTable::ovnMediaViewThumbnailData(OVNMediaView *view, const QString &mediaId)
{
    OVNLightTableDelegate *delegate = liveDelegate(OVNLightTableDelegate::ThumbnailData);
    return delegate ? delegate->lightTableThumbnailData(view, mediaId) : QByteArray();
}

void OVNLightTable::ovnMediaViewSelectionDidChange(OVNMediaView *) { loadSelection(); }

void OVNLightTable::ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *view, Qt::KeyboardModifiers modifiers)
{
    if (OVNLightTableDelegate *delegate = liveDelegate(OVNLightTableDelegate::DoubleClick))
        delegate->lightTableDoubleClick(view, modifiers);
}

void OVNLightTable::ovnMediaViewEscape(OVNMediaView *) { exitFullscreenMode(); }

void OVNLightTable::ovnMediaViewOpenWithDefaultViewer(OVNMediaView *view)
{
    if (OVNLightTableDelegate *delegate = liveDelegate(OVNLightTableDelegate::Open))
        delegate->lightTableOpen(view, 0);
    else
        QApplication::beep();
}

void OVNLightTable::ovnMediaViewOpenWithCreator(OVNMediaView *view)
{
    if (OVNLightTableDelegate *delegate = liveDelegate(OVNLightTableDelegate::Open))
        delegate->lightTableOpen(view, 1);
    else
        QApplication::beep();
}

void OVNLightTable::menuSetRating(int rating) { rateSelection(rating); }

// ---- events ----

void OVNLightTable::ovnFullScreenWindowKeyDown(QKeyEvent *event)
{
    const QString text = event->text();
    if (text.isEmpty())
        return;
    if (text.at(0).unicode() == 27 && m_isFullscreen)
        exitFullscreenMode();
}

void OVNLightTable::ovnFullScreenWindowMouseDown(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF local = m_mediastatus->mapFromGlobal(event->globalPosition());
    statusStripClicked(OVNLightTableStatus::fromWidget(local, m_mediastatus->height()));
}

void OVNLightTable::keyPressEvent(QKeyEvent *event)
{
    ovnFullScreenWindowKeyDown(event);
    event->accept();
}

bool OVNLightTable::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_mediazoomview && event->type() == QEvent::Resize)
        resizeSubviews();
    return QMainWindow::eventFilter(watched, event);
}

void OVNLightTable::closeEvent(QCloseEvent *event)
{
    // Nothing may step, load or play into a window that goes.
    m_slideshow = false;
    m_slideshowtimer.stop();
    m_loader->cancel();
    m_pending = {};
    ++m_selectionGeneration;
    exitFullscreenMode();
    releaseZoomViewAssets();
    QMainWindow::closeEvent(event);
}
