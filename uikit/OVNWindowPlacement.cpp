#include "uikit/OVNWindowPlacement.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {
// What a window manager's frame usually adds to a window: room for a title bar and borders, for a
// window not framed yet.
constexpr QMargins kUnframedDecoration(4, 32, 4, 4);

const QScreen *screenOf(const QWidget *window)
{
    return window->screen() ? window->screen() : QGuiApplication::primaryScreen();
}
} // namespace

namespace OVNWindowPlacement {

QRect fitted(const QRect &frame, const QRect &available)
{
    if (available.isEmpty())
        return frame;
    const int width = std::min(frame.width(), available.width());
    const int height = std::min(frame.height(), available.height());
    const int x = std::clamp(frame.x(), available.left(), available.left() + available.width() - width);
    const int y = std::clamp(frame.y(), available.top(), available.top() + available.height() - height);
    return QRect(x, y, width, height);
}

QRect fittedContents(const QRect &contents, const QRect &available)
{
    return fitted(contents.marginsAdded(kUnframedDecoration), available).marginsRemoved(kUnframedDecoration);
}

void fitOnScreen(QWidget *window)
{
    if (!window)
        return;
    window = window->window();
    const QScreen *screen = screenOf(window);
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    QMargins decoration(window->geometry().left() - frame.left(), window->geometry().top() - frame.top(),
                        frame.right() - window->geometry().right(), frame.bottom() - window->geometry().bottom());
    if (!window->isVisible()) {
        // Not framed yet: its position is where the frame will go, and room is kept for a title
        // bar and borders.
        decoration = kUnframedDecoration;
        frame = QRect(window->pos(), window->size().grownBy(decoration));
        // A window nobody placed would go wherever the window manager likes: the middle it is.
        if (!window->testAttribute(Qt::WA_Moved))
            frame.moveCenter(available.center());
    }
    const QRect target = fitted(frame, available);
    if (target.size() != frame.size())
        window->resize(target.size().shrunkBy(decoration));
    if (target.topLeft() != frame.topLeft() || !window->testAttribute(Qt::WA_Moved))
        window->move(target.topLeft());
}

int widthForTitle(const QString &title, const QFontMetrics &metrics)
{
    // A title bar's bold font runs wider than the text's own, and its buttons (close, maximise,
    // minimise, a window menu) and margins take about 140 pixels on the usual window managers.
    constexpr int titleBarButtons = 140;
    return metrics.horizontalAdvance(title) * 6 / 5 + titleBarButtons;
}

void fitTitle(QWidget *window)
{
    if (!window)
        return;
    window = window->window();
    QFont bold = window->font();
    bold.setBold(true);
    const int width = widthForTitle(window->windowTitle(), QFontMetrics(bold));
    if (window->minimumWidth() < width)
        window->setMinimumWidth(width);
}

QRect besideWindow(const QRect &window, const QSize &panel, const QRect &available, int headerBottom, int gap)
{
    const int roomRight = available.right() - window.right() - gap;
    const int roomLeft = window.left() - available.left() - gap;
    const int roomBelow = available.bottom() - window.bottom() - gap;
    const int roomAbove = window.top() - available.top() - gap;
    const int alignedRight = window.right() + 1 - panel.width();
    QRect frame;
    if (available.isEmpty() || roomRight >= panel.width())
        frame = QRect(QPoint(window.right() + 1 + gap, window.top()), panel);
    else if (roomLeft >= panel.width())
        frame = QRect(QPoint(window.left() - gap - panel.width(), window.top()), panel);
    else if (roomBelow >= panel.height())
        frame = QRect(QPoint(alignedRight, window.bottom() + 1 + gap), panel);
    else if (roomAbove >= panel.height())
        frame = QRect(QPoint(alignedRight, window.top() - gap - panel.height()), panel);
    else {
        const int x = roomRight >= roomLeft ? available.right() + 1 - panel.width() : available.left();
        frame = QRect(QPoint(x, std::max(window.top(), headerBottom + 1 + gap)), panel);
    }
    return fitted(frame, available);
}

void placeBeside(QWidget *panel, const QWidget *window)
{
    if (!panel || !window)
        return;
    panel = panel->window();
    window = window->window();
    const QScreen *screen = screenOf(window);
    if (!screen || panel == window)
        return;
    const QSize panelFrame = panel->isVisible() ? panel->frameGeometry().size()
                                                : panel->size().grownBy(kUnframedDecoration);
    const QRect windowFrame = window->isVisible() ? window->frameGeometry()
                                                  : QRect(window->pos(), window->size().grownBy(kUnframedDecoration));
    // The title bar, and in a main window its menus and toolbars, end where its central widget
    // begins.
    int headerBottom = windowFrame.top() + kUnframedDecoration.top() - 1;
    if (window->isVisible()) {
        headerBottom = window->geometry().top() - 1;
        if (const auto *main = qobject_cast<const QMainWindow *>(window); main && main->centralWidget())
            headerBottom = main->centralWidget()->mapToGlobal(QPoint(0, 0)).y() - 1;
    }
    const QRect target = besideWindow(windowFrame, panelFrame, screen->availableGeometry(), headerBottom);
    panel->move(target.topLeft());
}

} // namespace OVNWindowPlacement
