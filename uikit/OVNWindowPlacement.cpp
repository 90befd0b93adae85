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
    // Before the window is shown its frame is not known: the contents' size stands for it.
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    const QMargins decoration(inner.left() - frame.left(), inner.top() - frame.top(),
                              frame.right() - inner.right(), frame.bottom() - inner.bottom());
    const QRect target = fitted(frame, screen->availableGeometry());
    if (target == frame)
        return;
    if (target.size() != frame.size())
        window->resize(target.size().shrunkBy(decoration));
    window->move(target.topLeft());
}

} // namespace OVNWindowPlacement
