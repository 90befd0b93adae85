#include "viewers/OVNFullScreenWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
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
    if (content)
        content->setFocus(Qt::ActiveWindowFocusReason);
    else
        window->setFocus(Qt::ActiveWindowFocusReason);
    return window;
}

OVNFullScreenWindow::~OVNFullScreenWindow() { leave(); }

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
