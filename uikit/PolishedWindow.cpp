#include "uikit/PolishedWindow.h"

#include <QPalette>
#include <QResizeEvent>
#include <QToolBar>

#include <algorithm>

PolishedWindow::PolishedWindow(QWidget *parent, bool flat) : QMainWindow(parent)
{
    // The flat flag is kept but has no look of its own; every window is made with it off.
    Q_UNUSED(flat);
    _flat = false;
    setAutoFillBackground(true);
    windowDidResize();
}

PolishedWindow::~PolishedWindow() = default;

QColor PolishedWindow::sizedPolishedBackground() { return QColor::fromRgbF(0.843f, 0.843f, 0.843f, 1.0f); }

QSize PolishedWindow::clampedMinSize(const QSize &size)
{
    return QSize(std::max(size.width(), minimumSide), std::max(size.height(), minimumSide));
}

void PolishedWindow::setMinSize(const QSize &size) { setMinimumSize(clampedMinSize(size)); }

void PolishedWindow::windowDidResize()
{
    QPalette background = palette();
    background.setColor(QPalette::Window, sizedPolishedBackground());
    setPalette(background);
    ++m_backgroundRefreshes;
    if (forceDisplay)
        repaint();
}

void PolishedWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    windowDidResize();
}

void PolishedWindow::setFrame(const QRect &frame, bool display, bool animate)
{
    // Qt animates no window frames; the change happens in one step.
    Q_UNUSED(animate);
    forceDisplay = true;
    setGeometry(frame);
    if (display && !isVisible())
        windowDidResize();
    forceDisplay = false;
}

void PolishedWindow::setToolbar(QToolBar *toolbar)
{
    if (!toolbar)
        return;
    toolbar->setStyleSheet(QStringLiteral("QToolBar { border: none; }"));
    toolbar->setMovable(false);
    addToolBar(Qt::TopToolBarArea, toolbar);
}

void PolishedWindow::setFlat(bool flat)
{
    _flat = flat;
    forceDisplay = true;
    windowDidResize();
    forceDisplay = false;
}
