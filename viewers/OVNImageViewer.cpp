#include "viewers/OVNImageViewer.h"

#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMapping.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "uikit/OVNIconSetHelper.h"
#include "viewers/OVNCoreImageAdjustWindow.h"
#include "viewers/OVNImageView.h"
#include "viewers/OVNToolbarItems.h"
#include "uikit/OVNWindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QToolBar>
#include <QFileInfo>
#include <QScrollArea>
#include <QScrollBar>

namespace {

constexpr float kZoomStep = 1.25f;
const QString kRawKey = QStringLiteral("RAWOpenWithMediaViewer");

using ToolbarItem = OVNToolbarItem<OVNImageViewer>;

const ToolbarItem kItems[] = {
    {"OVNImageViewer RotateLeftToolbarItemIdentifier", "Rotate Left", "Rotate the image 90 degrees counterclock wise",
     "tbRotateLeft", &OVNImageViewer::menuRotateLeft},
    {"OVNImageViewer RotateRightToolbarItemIdentifier", "Rotate Right", "Rotate the image 90 degrees clockwise",
     "tbRotateRight", &OVNImageViewer::menuRotateRight},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
    {"OVNImageViewer ActualSizeToolbarItemIdentifier", "Actual Size", "Zooms viewer to actual image size",
     "tbActualSize", &OVNImageViewer::menuActualSize},
    {"OVNImageViewer ZoomToFitToolbarItemIdentifier", "Zoom To Fit", "Zooms image to fit current window size",
     "tbZoomToFit", &OVNImageViewer::menuZoomToFit},
    {"OVNImageViewer FullResolutionToolbarItemIdentifier", "Full Resolution", "Load RAW Image with full resolution",
     "tbFullRes", &OVNImageViewer::menuFullResolution},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
    {"OVNImageViewer ZoomInToolbarItemIdentifier", "Zoom In", "Zoom In", "tbZoomIn", &OVNImageViewer::menuZoomIn},
    {"OVNImageViewer ZoomOutToolbarItemIdentifier", "Zoom Out", "Zoom Out", "tbZoomOut", &OVNImageViewer::menuZoomOut},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
    {"OVNImageViewer AdjustToolbarItemIdentifier", "Adjust Image", "Open and adjust image", "tbAdjust",
     &OVNImageViewer::menuAdjust},
};

const QString kFullResolution = QStringLiteral("OVNImageViewer FullResolutionToolbarItemIdentifier");
const QString kAdjust = QStringLiteral("OVNImageViewer AdjustToolbarItemIdentifier");

QString toolbarStateKey()
{
    return QStringLiteral("NSToolbar Configuration ") + QLatin1String(OVNImageViewer::toolbarIdentifier);
}

} // namespace

QStringList OVNImageViewer::toolbarItemIdentifiers()
{
    QStringList identifiers;
    for (const ToolbarItem &item : kItems)
        identifiers.append(item.identifier ? QString::fromLatin1(item.identifier) : QString());
    return identifiers;
}

OVNImageViewer::OVNImageViewer(QWidget *parent) : QMainWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    resize(800, 600);
    m_scroller = new QScrollArea(this);
    m_scroller->setFrameShape(QFrame::NoFrame);
    m_scroller->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_view = new OVNImageView;
    m_scroller->setWidget(m_view);
    m_scroller->setWidgetResizable(false);
    setCentralWidget(m_scroller);
    m_loader = new OVNImageLoader(this);
    connect(m_loader, &OVNImageLoader::loaded, this, &OVNImageViewer::loaded);

    m_actions = addViewerToolbar(this, toolbarIdentifier, kItems);
    const QByteArray state =
        QByteArray::fromBase64(UserDefaults::standard().stringForKey(toolbarStateKey()).toLatin1());
    if (!state.isEmpty())
        restoreState(state);
    validateToolbar();
}

OVNImageViewer::~OVNImageViewer() = default;

void OVNImageViewer::contextMenuEvent(QContextMenuEvent *event)
{
    // Over the toolbar the window's own menu (which toolbars show) stays.
    for (QWidget *under = childAt(event->pos()); under; under = under->parentWidget()) {
        if (qobject_cast<QToolBar *>(under)) {
            QMainWindow::contextMenuEvent(event);
            return;
        }
    }
    QMenu menu(this);
    QAction *reveal =
        menu.addAction(localizedMenu("Reveal in File Manager"), this, &OVNImageViewer::buttonRevealInFinderClick);
    reveal->setEnabled(!m_path.isEmpty());
    menu.exec(event->globalPos());
}

void OVNImageViewer::buttonRevealInFinderClick()
{
    if (m_handOnCheck && !m_handOnCheck())
        return;
    if (m_path.isEmpty())
        QApplication::beep();
    else
        Workspace::revealFiles({m_path}, this);
}

QAction *OVNImageViewer::toolbarAction(const QString &identifier) const
{
    for (QAction *action : m_actions) {
        if (action->objectName() == identifier)
            return action;
    }
    return nullptr;
}

void OVNImageViewer::setOnLoadOrientation(int code)
{
    m_turn = OVNOrientation::turnFor(code);
    m_turnFromFile = code == OVNOrientation::codeFromFile;
}

void OVNImageViewer::setOnLoadRotation(int degrees)
{
    m_turn = {degrees, false};
    m_turnFromFile = false;
}

void OVNImageViewer::loadAndShowFile(const QString &path)
{
    m_path = QFileInfo(path).absoluteFilePath();
    setWindowFilePath(m_path);
    setWindowTitle(QFileInfo(path).fileName());
    m_view->setBackgroundColor(OVNIconSetHelper::sharedIconSet().colorFor(QStringLiteral("LightTableBackgroundColor")));
    refreshView();
    OVNWindowPlacement::fitOnScreen(this);
    show();
    raise();
    activateWindow();
    UserDefaults &defaults = UserDefaults::standard();
    defaults.registerDefaults({{kRawKey, QStringLiteral("0")}});
    m_shrinkFactor = defaults.integerForKey(kRawKey) == 1 ? 0 : 2;
    if (m_processor.isEmpty())
        m_processor = OVNExtensionMapping().getProcessorForFile(m_path);
    startLoad();
}

void OVNImageViewer::startLoad()
{
    m_loaded = false;
    m_view->setShowLoadingTag(true);
    validateToolbar();
    OVNImageLoader::Request request{m_path, m_processor, m_shrinkFactor, {}, m_turnFromFile};
    // The reduced picture fills the window until the whole one is decoded; both come fitted to
    // the window (unturned), so that the GUI thread need not scale a camera's picture.
    if (m_view->zoomType() == OVNImageView::Fit) {
        const QSize box = m_scroller->viewport()->size() * devicePixelRatio();
        request.previewSize = m_turn.degrees == 90 || m_turn.degrees == 270 ? box.transposed() : box;
    }
    m_loader->load(request);
}

void OVNImageViewer::loaded(const OVNImageLoader::Result &result)
{
    if (m_failed)
        return;
    if (result.image.isNull()) {
        m_failed = true;
        emit loadFailed(result.problem);
        showLoadFailureAndClose(this, result.problem);
        return;
    }
    if (m_turnFromFile) {
        m_turn = OVNOrientation::turnFor(result.orientation);
        m_turnFromFile = false;
    }
    m_view->setRotation(m_turn.degrees);
    // A reduced picture was decoded to fit the window: it is its own screen copy.
    const QImage image = OVNOrientation::flippedBeforeTurn(result.image, m_turn);
    m_view->setImage(image, result.preview ? image : OVNOrientation::flippedBeforeTurn(result.screen, m_turn));
    if (!result.preview) {
        m_view->setShowLoadingTag(false);
        // Its first whole picture is the full one: nothing left to ask for.
        if (FileTypeCodes::processor(m_processor).decodesAtAnySize)
            m_shrinkFactor = 0;
        m_loaded = true;
    } else {
        m_view->setShowLoadingTag(false);
    }
    refreshView();
    validateToolbar();
    m_view->repaint();
    emit pictureShown(result.preview);
}

void OVNImageViewer::validateToolbar()
{
    if (QAction *full = toolbarAction(kFullResolution))
        full->setEnabled(m_shrinkFactor != 0);
    if (QAction *adjust = toolbarAction(kAdjust))
        adjust->setEnabled(!m_view->image().isNull());
}

void OVNImageViewer::menuAdjust()
{
    if (m_view->image().isNull())
        return;
    // The picture as shown (a RAW file opened reduced stays reduced) and its current turn. The
    // window lives on its own.
    auto *adjust = new OVNCoreImageAdjustWindow;
    adjust->setExportCheck(m_handOnCheck);
    adjust->setOnLoadRotation(m_view->rotation());
    adjust->setImage(m_view->image());
}

void OVNImageViewer::refreshView()
{
    const QSizeF needed = m_view->currentViewSize();
    const QSizeF bounds = m_scroller->viewport()->size();
    QSizeF visible = bounds;
    if (m_view->zoomType() == OVNImageView::Fit) {
        m_scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_scroller->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    } else {
        const bool wide = needed.width() > bounds.width();
        const bool tall = needed.height() > bounds.height();
        m_scroller->setHorizontalScrollBarPolicy(wide ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        m_scroller->setVerticalScrollBarPolicy(tall ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        visible = QSizeF(wide ? needed.width() : bounds.width(), tall ? needed.height() : bounds.height());
    }
    m_view->setVisibleSize(visible);
    m_view->setScrollerSize(bounds);
    m_view->update();
}

void OVNImageViewer::menuRotateLeft()
{
    m_view->rotateLeft();
    refreshView();
}

void OVNImageViewer::menuRotateRight()
{
    m_view->rotateRight();
    refreshView();
}

void OVNImageViewer::menuActualSize()
{
    m_view->setZoomType(OVNImageView::ActualSize);
    refreshView();
}

void OVNImageViewer::menuZoomToFit()
{
    m_view->setZoomType(OVNImageView::Fit);
    refreshView();
}

void OVNImageViewer::menuZoomIn()
{
    // Fit computes its factor while drawing; start from the one it would draw at now.
    const float factor = m_view->effectiveFactor();
    m_view->setZoomType(OVNImageView::Free);
    m_view->setZoomFactor(factor * kZoomStep);
    refreshView();
}

void OVNImageViewer::menuZoomOut()
{
    const float factor = m_view->effectiveFactor();
    m_view->setZoomType(OVNImageView::Free);
    m_view->setZoomFactor(factor / kZoomStep);
    refreshView();
}

void OVNImageViewer::menuFullResolution()
{
    if (m_path.isEmpty() || m_failed)
        return;
    m_shrinkFactor = 0;
    startLoad();
}

void OVNImageViewer::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    refreshView();
}

void OVNImageViewer::closeEvent(QCloseEvent *event)
{
    UserDefaults::standard().setString(QString::fromLatin1(saveState().toBase64()), toolbarStateKey());
    m_loader->cancel();
    QMainWindow::closeEvent(event);
}
