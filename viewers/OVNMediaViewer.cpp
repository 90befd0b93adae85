#include "viewers/OVNMediaViewer.h"

#include "browser/OVNMediaNavigationView.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "viewers/OVNFullScreenWindow.h"
#include "viewers/OVNMovieView.h"
#include "uikit/BundleImage.h"
#include "uikit/OVNBezierPath.h"
#include "uikit/OVNControllerBGView.h"
#include "uikit/OVNWindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QString kAutostartKey = QStringLiteral("AutostartMoviesWithViewer");
constexpr int kTicksShown = 6; // the immediate tick and five more: half a second

QSize screenSize()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize(1280, 800);
}

// A style picture redrawn in the controller's light glyph colour, for the dark panel.
QIcon lightIcon(const QIcon &icon)
{
    QImage image = icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), QColor(0xf2, 0xf2, 0xf2));
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

void paintBlack(QWidget *widget)
{
    QPalette black = widget->palette();
    black.setColor(QPalette::Window, Qt::black);
    widget->setPalette(black);
    widget->setAutoFillBackground(true);
}

} // namespace

OVNMediaViewer::OVNMediaViewer(QWidget *parent) : QMainWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    m_central = new QWidget(this);
    paintBlack(m_central);
    m_central->setMouseTracking(true);
    setCentralWidget(m_central);
    m_mediaView = new OVNMovieView(m_central);
    m_mediaView->setMovie(&m_player);
    watchMovieView(m_mediaView);
    m_notice = new QLabel(m_central);
    m_notice->setTextFormat(Qt::PlainText);
    m_notice->setStyleSheet(QStringLiteral("color: white"));
    m_notice->setAlignment(Qt::AlignCenter);
    m_notice->setAttribute(Qt::WA_TransparentForMouseEvents); // the movie view takes the pointer
    m_notice->hide();
    m_controller = makeController(m_central, false);

    m_loop = new QAction(localizedMenu("Loop"), this);
    m_loop->setCheckable(true);
    connect(m_loop, &QAction::triggered, this, [this] { buttonLoopClick(); });
    m_central->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_central, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        QMenu menu(this);
        menu.addAction(localizedMenu("Half Size"), this, &OVNMediaViewer::buttonHalfSizeClick);
        menu.addAction(localizedMenu("Normal Size"), this, &OVNMediaViewer::buttonNormalSizeClick);
        menu.addAction(localizedMenu("Double Size"), this, &OVNMediaViewer::buttonDoubleSizeClick);
        menu.addSeparator();
        menu.addAction(localizedMenu("Full Screen"), this, &OVNMediaViewer::buttonFullScreenClick);
        menu.addAction(localizedMenu("Show Controller"), this, &OVNMediaViewer::buttonShowControllerClick);
        syncLoopMark();
        menu.addAction(m_loop);
        menu.addSeparator();
        menu.addAction(localizedMenu("Reveal in File Manager"), this, &OVNMediaViewer::buttonRevealInFinderClick);
        menu.exec(m_central->mapToGlobal(at));
    });

    m_clock = new QTimer(this);
    m_clock->setInterval(100);
    connect(m_clock, &QTimer::timeout, this, &OVNMediaViewer::mediaWindowTimer);
    connect(&m_player, &MoviePlayer::opened, this, &OVNMediaViewer::movieOpened);
    connect(&m_player, &MoviePlayer::failed, this, &OVNMediaViewer::movieFailed);
    connect(&m_player, &MoviePlayer::soundTurnedOff, this, &OVNMediaViewer::showSoundOff);
    connect(&m_player, &MoviePlayer::rateChanged, this, &OVNMediaViewer::showPlayState);
    connect(&m_player, &MoviePlayer::durationChanged, this, [this] {
        // A length that comes after the opening makes the file a movie then.
        if (m_player.isOpen() && !m_isMovie && m_player.duration().timeValue > shortestMovie) {
            m_isMovie = true;
            autostart();
        }
    });
}

OVNMediaViewer::~OVNMediaViewer()
{
    // The full-screen window goes first, while the views it holds can still reach this viewer.
    if (m_mediaWindowFS) {
        stopWatchingWindowFS();
        m_mediaWindowFS.reset();
    }
}

void OVNMediaViewer::stopWatchingWindowFS()
{
    if (QWidget *content = m_mediaWindowFS->contentView()) {
        QList<QObject *> watched = content->findChildren<QObject *>();
        watched.append(content);
        for (QObject *object : watched)
            object->removeEventFilter(this);
    }
    m_mediaWindowFS->removeEventFilter(this);
}

OVNMediaViewer::Controller OVNMediaViewer::makeController(QWidget *parent, bool fullScreen)
{
    Controller c;
    // A borderless window of its own on the translucent dark panel, kept above its owner (the
    // viewer window, or the full-screen window that `parent` goes into) and never taking the
    // keyboard, which stays with the movie view.
    c.view = new OVNControllerBGView(parent);
    c.view->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    c.view->setAttribute(Qt::WA_ShowWithoutActivating);
    c.view->setObjectName(fullScreen ? QStringLiteral("controllerViewFS") : QStringLiteral("controllerView"));
    c.view->setStyleSheet(QStringLiteral("QLabel { color: white; }"
                                         "QToolButton { color: white; background: transparent; border: none;"
                                         " padding: 2px; }"));
    auto *row = new QHBoxLayout(c.view);
    // Clear of the panel's rounded ends and its outline.
    row->setContentsMargins(14, 7, 14, 7);
    row->setSpacing(4);
    auto button = [&](QStyle::StandardPixmap icon, const char *text, void (OVNMediaViewer::*action)()) {
        auto *b = new QToolButton(c.view);
        if (icon != QStyle::SP_CustomBase)
            b->setIcon(lightIcon(style()->standardIcon(icon)));
        else
            b->setText(localized(text));
        b->setToolTip(localized(text));
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, action);
        row->addWidget(b);
        return b;
    };
    if (fullScreen) {
        c.aspectZoom = button(QStyle::SP_CustomBase, "Zoom", &OVNMediaViewer::setFSAspectRatioToZoom);
        c.aspect16by9 = button(QStyle::SP_CustomBase, "16:9", &OVNMediaViewer::setFSAspectRatioTo16by9);
        c.aspect4by3 = button(QStyle::SP_CustomBase, "4:3", &OVNMediaViewer::setFSAspectRatioTo4by3);
        c.aspectOriginal = button(QStyle::SP_CustomBase, "Original", &OVNMediaViewer::setFSAspectRatioToOriginal);
    }
    c.rewind = button(QStyle::SP_MediaSeekBackward, "Rewind", &OVNMediaViewer::controllerRewind);
    c.play = button(QStyle::SP_MediaPlay, "Play", &OVNMediaViewer::controllerPlay);
    c.play->setIcon(playStateIcon(false));
    c.forward = button(QStyle::SP_MediaSeekForward, "Fast Forward", &OVNMediaViewer::controllerForward);
    c.elapsed = new QLabel(timeValueToDisplay(0, Movie::movieTimeScale), c.view);
    row->addWidget(c.elapsed);
    c.navigation = new OVNMediaNavigationView(c.view);
    c.navigation->setFixedSize(fullScreen ? 240 : 160, 14);
    row->addWidget(c.navigation);
    c.remaining = new QLabel(timeValueToDisplay(0, Movie::movieTimeScale), c.view);
    row->addWidget(c.remaining);
    c.zoom = button(fullScreen ? QStyle::SP_TitleBarNormalButton : QStyle::SP_TitleBarMaxButton,
                    fullScreen ? "Leave Full Screen" : "Full Screen",
                    fullScreen ? &OVNMediaViewer::controllerUnzoom : &OVNMediaViewer::controllerZoom);
    c.view->setFixedSize(c.view->sizeHint());
    // Cut to the panel's outline, so that its corners let the movie show also where no compositor
    // blends the window's transparent pixels.
    const QSizeF size(c.view->size());
    const QPainterPath outline =
        OVNBezierPath::bezierPathWithRoundedRect(OVNControllerBGView::panelRect(size).adjusted(-1.5, -1.5, 1.5, 1.5),
                                                 OVNControllerBGView::panelRadius(size) + 1.5f);
    c.view->setMask(QRegion(outline.toFillPolygon().toPolygon()));
    // The pointer over the controller keeps it up, as over the movie.
    c.view->setMouseTracking(true);
    c.view->installEventFilter(this);
    for (QWidget *child : c.view->findChildren<QWidget *>()) {
        child->setMouseTracking(true);
        child->installEventFilter(this);
    }
    c.view->hide();
    return c;
}

void OVNMediaViewer::watchMovieView(OVNMovieView *view)
{
    view->setMouseTracking(true);
    view->setFocusPolicy(Qt::StrongFocus);
    view->installEventFilter(this);
}

// ---- geometry ----

int OVNMediaViewer::leastWindowWidth() const { return m_controller.view->width() + 2 * 8; }

QSize OVNMediaViewer::windowSizeFor(QSize natural, QSize visible, int frameTop, int leastWidth)
{
    if (natural.isEmpty())
        natural = QSize(320, 240);
    const QSizeF room(std::max(1, visible.width()), std::max(1, visible.height() - frameTop - spaceBottom));
    QSizeF movie = natural;
    if (movie.width() > room.width() || movie.height() > room.height())
        movie = movie.scaled(room, Qt::KeepAspectRatio);
    const int least = std::min(leastWidth, std::max(1, visible.width()));
    const QSize whole(std::max({1, least, int(std::lround(movie.width()))}),
                      std::max(1, int(std::lround(movie.height()))));
    return whole + QSize(0, frameTop + spaceBottom);
}

QPoint OVNMediaViewer::controllerPosition(QSize client, QRect movie, QSize controller)
{
    const int x = client.width() > controller.width() ? (client.width() - controller.width()) / 2 : movie.x();
    // Measured upward from the window's bottom, then turned into Qt's downward y.
    const int movieBottom = client.height() - (movie.y() + movie.height());
    const int above = movieBottom + (client.height() + spaceTop > controller.height() + 40 ? 10 : 0);
    return {x, client.height() - above - controller.height()};
}

QRectF OVNMediaViewer::fullScreenBounds(QSizeF screen, double ratio)
{
    const double w = screen.width(), h = screen.height();
    if (!(ratio > 0.0) || h <= 0.0)
        return {0, 0, w, h};
    if (w / h > ratio)
        return {(w - ratio * h) / 2, 0, ratio * h, h};
    return {0, (h - w / ratio) / 2, w, w / ratio};
}

QString OVNMediaViewer::timeValueToDisplay(qint64 value, qint64 timeScale)
{
    const qint64 seconds = std::max<qint64>(0, timeScale != 0 ? value / timeScale : value);
    return QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, (seconds / 60) % 60, seconds % 60);
}

void OVNMediaViewer::layoutWindow()
{
    const QSize client = m_central->size();
    m_mediaView->setGeometry(0, 0, client.width(), std::max(0, client.height() - spaceBottom));
    const QRect view = m_mediaView->geometry();
    m_notice->setGeometry(m_noticeOnTop ? QRect(view.topLeft(), QSize(view.width(), m_notice->sizeHint().height()))
                                        : view);
    setTrackingWindowFrame();
}

void OVNMediaViewer::setTrackingWindowFrame()
{
    const QPoint at = controllerPosition(m_central->size(), m_mediaView->geometry(), m_controller.view->size());
    m_controller.view->move(m_central->mapToGlobal(at));
}

void OVNMediaViewer::layoutFullScreen()
{
    if (!m_mediaWindowFS || !m_mediaWindowFS->contentView() || !m_mediaViewFS)
        return;
    const QSize screen = m_mediaWindowFS->contentView()->size();
    m_mediaViewFS->setGeometry(m_fsBounds.isNull() ? QRect(QPoint(), screen) : m_fsBounds.toAlignedRect());
    const QSize p = m_controllerFS.view->size();
    const QPoint at((screen.width() - p.width()) / 2, screen.height() - 25 - p.height());
    m_controllerFS.view->move(m_mediaWindowFS->contentView()->mapToGlobal(at));
    if (m_controllerFS.view->isVisible())
        m_controllerFS.view->raise();
}

void OVNMediaViewer::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    layoutWindow();
}

void OVNMediaViewer::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    // The controller window goes with the viewer window.
    if (m_controller.view && m_controller.view->isVisible())
        setTrackingWindowFrame();
}

// ---- loading ----

void OVNMediaViewer::loadAndShowFile(const QString &path)
{
    setWindowTitle(QFileInfo(path).fileName());
    setWindowFilePath(path);
    resize(std::max(320, leastWindowWidth()), 240 + spaceBottom);
    // Shown at once so that a failure's sheet has its window.
    OVNWindowPlacement::fitOnScreen(this);
    show();
    m_player.open(path);
}

void OVNMediaViewer::movieOpened()
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QSize visible = screen ? screen->availableGeometry().size() : QSize(1280, 800);
    const QSize natural = m_player.naturalSize();
    m_aspectRatio = natural.isEmpty() ? 0.0 : double(natural.width()) / natural.height();
    const int frameTop = std::max(0, frameGeometry().height() - height());
    const QSize size = windowSizeFor(natural, visible, frameTop, leastWindowWidth());
    resize(size.width(), size.height() - frameTop);
    // Grown from the small window it opened as, it stays on the screen.
    OVNWindowPlacement::fitOnScreen(this);
    raise();
    activateWindow();
    m_mediaView->setFocus(Qt::OtherFocusReason); // keys reach the viewer through its movie view
    m_isMovie = m_player.duration().timeValue > shortestMovie;
    if (m_player.isSoundOff())
        showSoundOff();
    autostart();
    if (std::exchange(m_zoomWhenOpened, false))
        controllerZoom();
    emit opened();
}

void OVNMediaViewer::showSoundOff()
{
    m_notice->setText(localized("Sound is off: no sound output could be started."));
    // A movie with a picture gets the line as a band over the picture's top edge, for a while:
    // the picture is what is wanted. Sound alone gets it in the middle, for good.
    m_noticeOnTop = m_player.hasVideo();
    m_notice->setStyleSheet(m_noticeOnTop ? QStringLiteral("color: white; background: rgba(0, 0, 0, 150); padding: 3px")
                                          : QStringLiteral("color: white"));
    if (m_noticeOnTop)
        QTimer::singleShot(8000, m_notice, [notice = m_notice] { notice->hide(); });
    m_notice->show();
    m_notice->raise();
    layoutWindow();
}

QString OVNMediaViewer::noticeText() const { return m_notice->isVisible() ? m_notice->text() : QString(); }

void OVNMediaViewer::autostart()
{
    UserDefaults &defaults = UserDefaults::standard();
    defaults.registerDefaults({{kAutostartKey, QStringLiteral("1")}});
    if (!defaults.boolForKey(kAutostartKey) || !m_isMovie)
        return;
    m_player.setLooping(true);
    m_player.setRate(1.0);
    syncLoopMark();
}

void OVNMediaViewer::movieFailed(const QString &reason)
{
    if (m_failed)
        return;
    m_failed = true;
    m_zoomWhenOpened = false;
    m_clock->stop();
    emit loadFailed(reason);
    Alert alert{localized("The media file could not be loaded."),
                reason,
                {},
                Alert::Style::Warning,
                Alert::Modality::Window,
                this};
    QPointer<OVNMediaViewer> self(this);
    Alerts::show(alert, [self](int) {
        if (self)
            self->close();
    });
}

// ---- the controller ----

bool OVNMediaViewer::isControllerVisible() const
{
    const QWidget *view = m_isFullscreen ? m_controllerFS.view : m_controller.view;
    return view && view->isVisible();
}

void OVNMediaViewer::showController()
{
    m_clock->stop();
    if (!m_isMovie)
        return;
    if (m_isFullscreen) {
        if (!m_controllerFS.view)
            return;
        layoutFullScreen();
        m_controllerFS.view->show();
        m_controllerFS.view->raise();
        m_controllerFS.navigation->setMovie(&m_player);
    } else {
        setTrackingWindowFrame();
        m_controller.view->show();
        m_controller.view->raise();
        m_controller.navigation->setMovie(&m_player);
    }
    m_clock->start();
    m_hideTimer = kTicksShown;
    mediaWindowTimer();
}

void OVNMediaViewer::hideController()
{
    m_clock->stop();
    m_controller.view->hide();
}

void OVNMediaViewer::hideControllerFS()
{
    m_clock->stop();
    if (m_controllerFS.view)
        m_controllerFS.view->hide();
}

void OVNMediaViewer::mediaWindowTimer()
{
    if (m_hideTimer > 0)
        --m_hideTimer;
    const qint64 elapsed = m_player.currentTime().timeValue;
    const qint64 remaining = m_player.duration().timeValue - elapsed;
    const Controller &c = m_isFullscreen && m_controllerFS.view ? m_controllerFS : m_controller;
    c.elapsed->setText(timeValueToDisplay(elapsed, Movie::movieTimeScale));
    c.remaining->setText(timeValueToDisplay(remaining, Movie::movieTimeScale));
    c.navigation->update();
    showPlayState();
    syncLoopMark();
    if (m_hideTimer <= 0) {
        if (m_isFullscreen)
            hideControllerFS();
        else
            hideController();
    }
}

QIcon OVNMediaViewer::playStateIcon(bool playing) const
{
    // The program's own "ctrlPlay" and "ctrlPause"; the style's where they are missing.
    const QImage image = BundleImage::imageNamed(playing ? QStringLiteral("ctrlPause") : QStringLiteral("ctrlPlay"));
    if (!image.isNull())
        return QIcon(QPixmap::fromImage(image));
    return lightIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
}

void OVNMediaViewer::showPlayState()
{
    const QIcon icon = playStateIcon(m_player.rate() != 0.0);
    for (const Controller *c : {&m_controller, &m_controllerFS}) {
        if (c->play)
            c->play->setIcon(icon);
    }
}

// The check mark shows what the player does, whoever changed it.
void OVNMediaViewer::syncLoopMark()
{
    if (m_loop->isChecked() != m_player.isLooping()) {
        const QSignalBlocker block(m_loop);
        m_loop->setChecked(m_player.isLooping());
    }
}

// ---- play and spool ----

void OVNMediaViewer::controllerPlay()
{
    if (!m_player.isOpen())
        return;
    if (m_player.rate() != 0.0) {
        m_player.setRate(0.0);
        return;
    }
    // At the end of a movie that does not loop, playing again starts over.
    if (!m_player.isLooping() && m_player.currentTime().timeValue >= m_player.duration().timeValue - 1)
        m_player.setCurrentTime({0, Movie::movieTimeScale});
    m_player.setRate(1.0);
}

void OVNMediaViewer::controllerRewind()
{
    if (m_player.isOpen())
        m_player.setRate(rateAfterRewind(m_player.rate()));
}

void OVNMediaViewer::controllerForward()
{
    if (m_player.isOpen())
        m_player.setRate(rateAfterForward(m_player.rate()));
}

void OVNMediaViewer::buttonLoopClick()
{
    m_player.setLooping(!m_player.isLooping());
    syncLoopMark();
}

void OVNMediaViewer::buttonRevealInFinderClick()
{
    if (m_handOnCheck && !m_handOnCheck())
        return;
    Workspace::revealFiles({path()}, this);
}

void OVNMediaViewer::resizeWithMagnification(double magnification)
{
    hideController();
    hide();
    const bool wasPlaying = m_player.rate() != 0.0;
    const double rate = m_player.rate();
    if (wasPlaying)
        m_player.setRate(0.0);
    QSize natural = m_player.naturalSize();
    if (natural.isEmpty())
        natural = m_mediaView->size();
    const QSize movie(int(std::lround(natural.width() * magnification)),
                      int(std::lround(natural.height() * magnification)));
    resize(std::max(movie.width(), leastWindowWidth()), movie.height() + spaceBottom);
    OVNWindowPlacement::fitOnScreen(this);
    show();
    raise();
    activateWindow();
    if (wasPlaying)
        m_player.setRate(rate);
}

// ---- full screen ----

void OVNMediaViewer::controllerZoom()
{
    // Callers open a file and ask for full screen at once; the movie opens a little later.
    if (!m_player.isOpen()) {
        m_zoomWhenOpened = !m_failed;
        return;
    }
    if (m_isFullscreen)
        return;
    if (m_controller.view->isVisible())
        hideController();
    auto content = std::make_unique<QWidget>();
    paintBlack(content.get());
    content->setMouseTracking(true);
    auto *view = new OVNMovieView(content.get());
    view->setAspectRatioMode(Qt::IgnoreAspectRatio);
    Controller controller = makeController(content.get(), true);
    // No delegate on the window: keys come through the movie view in it.
    m_mediaWindowFS = OVNFullScreenWindow::enter(content.get(), OVNFullScreenWindow::Opacity::Translucent);
    if (!m_mediaWindowFS)
        return;
    content.release()->installEventFilter(this);
    m_mediaWindowFS->installEventFilter(this); // closed by the window manager: leave full screen
    m_controllerFS = controller;
    m_mediaViewFS = view;
    watchMovieView(view);
    m_isFullscreen = true;
    hide();
    m_mediaView->setMovie(nullptr);
    view->setMovie(&m_player);
    setFSAspectRatioToOriginal();
    showPlayState();
    view->setFocus(Qt::ActiveWindowFocusReason);
}

void OVNMediaViewer::controllerUnzoom()
{
    if (!m_isFullscreen)
        return;
    hideControllerFS();
    m_isFullscreen = false;
    if (m_mediaViewFS)
        m_mediaViewFS->setMovie(nullptr);
    m_mediaView->setMovie(&m_player);
    show();
    raise();
    activateWindow();
    // Often reached from a key in the full-screen view itself: the window goes once that returns.
    stopWatchingWindowFS();
    m_mediaWindowFS->leave();
    m_mediaWindowFS.release()->deleteLater();
    m_controllerFS = {};
    m_mediaViewFS = nullptr;
    m_fsBounds = {};
}

void OVNMediaViewer::setFSAspectRatio(double ratio)
{
    if (!m_mediaWindowFS)
        return;
    const QWidget *content = m_mediaWindowFS->contentView();
    m_fsBounds = fullScreenBounds(content ? QSizeF(content->size()) : QSizeF(screenSize()), ratio);
    layoutFullScreen();
}

void OVNMediaViewer::setFSAspectRatioToZoom() { setFSAspectRatio(0.0); }

// ---- events ----

bool OVNMediaViewer::ovnMovieViewKeyDown(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        if (!m_isFullscreen)
            return false;
        controllerUnzoom();
        return true;
    case Qt::Key_Space:
        controllerPlay();
        return true;
    default:
        return false;
    }
}

void OVNMediaViewer::ovnMovieViewShowController(bool show)
{
    if (show)
        showController();
}

bool OVNMediaViewer::eventFilter(QObject *watched, QEvent *event)
{
    const bool movieView = watched == m_mediaView || (m_mediaViewFS && watched == m_mediaViewFS);
    switch (event->type()) {
    case QEvent::KeyPress:
        if (movieView)
            return ovnMovieViewKeyDown(static_cast<QKeyEvent *>(event));
        break;
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
        if (movieView || (m_mediaWindowFS && watched == m_mediaWindowFS->contentView()))
            ovnMovieViewShowController(true);
        else if (m_clock->isActive())
            m_hideTimer = kTicksShown; // over the controller
        break;
    case QEvent::Enter:
        if (!movieView && m_clock->isActive())
            m_hideTimer = kTicksShown;
        break;
    case QEvent::Close:
        if (m_mediaWindowFS && watched == m_mediaWindowFS.get()) {
            controllerUnzoom();
            return true;
        }
        break;
    case QEvent::Resize:
        if (m_mediaWindowFS && watched == m_mediaWindowFS->contentView())
            layoutFullScreen();
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void OVNMediaViewer::closeEvent(QCloseEvent *event)
{
    hideController();
    if (m_player.rate() != 0.0)
        m_player.setRate(0.0);
    QMainWindow::closeEvent(event);
}
