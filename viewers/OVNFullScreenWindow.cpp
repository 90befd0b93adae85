#include "viewers/OVNFullScreenWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {
int g_capturedDisplays = 0;
}

bool OVNFullScreenWindow::captureMainDisplay()
{
    ++g_capturedDisplays;
    return true;
}

void OVNFullScreenWindow::releaseMainDisplay()
{
    if (g_capturedDisplays > 0)
        --g_capturedDisplays;
}

int OVNFullScreenWindow::capturedDisplayCount() { return g_capturedDisplays; }

OVNFullScreenWindow::OVNFullScreenWindow(Opacity opacity)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_OpaquePaintEvent, opacity == Opacity::Opaque);
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}

std::unique_ptr<OVNFullScreenWindow> OVNFullScreenWindow::enter(QWidget *content, Opacity opacity,
                                                                OVNFullScreenWindowDelegate *delegate)
{
    if (!captureMainDisplay())
        return nullptr;
    std::unique_ptr<OVNFullScreenWindow> window(new OVNFullScreenWindow(opacity));
    window->m_holdsDisplay = true;
    window->m_delegate = delegate;
    if (content) {
        window->m_content = content;
        window->layout()->addWidget(content);
    }
    if (QScreen *screen = QGuiApplication::primaryScreen())
        window->setGeometry(screen->geometry());
    window->showFullScreen();
    window->raise();
    window->activateWindow();
    // Once the window manager has answered the mapping: a window that does not cover the screen
    // then asks again.
    QTimer::singleShot(400, window.get(), [w = window.get()] { w->keepFullScreen(); });
    if (content)
        content->setFocus(Qt::ActiveWindowFocusReason);
    else
        window->setFocus(Qt::ActiveWindowFocusReason);
    return window;
}

OVNFullScreenWindow::~OVNFullScreenWindow() { leave(); }

void OVNFullScreenWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !windowState().testFlag(Qt::WindowFullScreen))
        QMetaObject::invokeMethod(this, &OVNFullScreenWindow::keepFullScreen, Qt::QueuedConnection);
}

void OVNFullScreenWindow::keepFullScreen()
{
    // Without a window system (the offscreen platform of tools and tests) no window manager can
    // have refused the screen, and a tool may have sized the show to the screen it stands for.
    if (!m_holdsDisplay || !isVisible() || m_requestsLeft <= 0
        || QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    const QScreen *screen = QGuiApplication::primaryScreen();
    const bool covers = windowState().testFlag(Qt::WindowFullScreen)
                        && (!screen || frameGeometry() == screen->geometry());
    if (covers) {
        // The keys belong to the show: a window manager that kept them with the window the show
        // was started from is asked once more.
        if (!isActiveWindow()) {
            --m_requestsLeft;
            raise();
            activateWindow();
        }
        return;
    }
    --m_requestsLeft;
    if (screen)
        setGeometry(screen->geometry());
    showFullScreen();
    raise();
    activateWindow();
}

QWidget *OVNFullScreenWindow::takeContentView()
{
    QWidget *content = m_content;
    if (content) {
        layout()->removeWidget(content);
        content->setParent(nullptr);
    }
    m_content = nullptr;
    return content;
}

void OVNFullScreenWindow::leave()
{
    hide();
    if (m_holdsDisplay) {
        m_holdsDisplay = false;
        releaseMainDisplay();
    }
}

// The events stop here either way: what the delegate does not take is dropped, never passed on.
void OVNFullScreenWindow::keyPressEvent(QKeyEvent *event)
{
    if (m_delegate)
        m_delegate->ovnFullScreenWindowKeyDown(event);
    event->accept();
}

void OVNFullScreenWindow::mousePressEvent(QMouseEvent *event)
{
    if (m_delegate)
        m_delegate->ovnFullScreenWindowMouseDown(event);
    event->accept();
}

void OVNFullScreenWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_delegate)
        m_delegate->ovnFullScreenWindowMouseMoved(event);
    event->accept();
}
