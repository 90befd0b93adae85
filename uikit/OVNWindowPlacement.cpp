#include "uikit/OVNWindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

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

void fitOnScreen(QWidget *window)
{
    if (!window)
        return;
    window = window->window();
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    QMargins decoration(window->geometry().left() - frame.left(), window->geometry().top() - frame.top(),
                        frame.right() - window->geometry().right(), frame.bottom() - window->geometry().bottom());
    if (!window->isVisible()) {
        // Not framed yet: its position is where the frame will go, and room is kept for a title
        // bar and borders.
        decoration = QMargins(4, 32, 4, 4);
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

} // namespace OVNWindowPlacement
