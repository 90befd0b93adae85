#pragma once

#include "uikit/OVNWindowPlacement.h"

#include <QGuiApplication>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QSize>

// Panel positions are stored as the frame's lower-left corner measured upwards from the bottom of
// the primary screen, the way the catalog window's saved frame is kept; Qt places windows by their
// top-left corner measured downwards. These two convert between the forms.
namespace OVNPanelPosition {

inline int primaryScreenBottom()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().y() + screen->geometry().height() : 0;
}

// The stored origin of a frame given in Qt's coordinates.
inline QPointF storedOrigin(const QRect &frame, int screenBottom)
{
    return QPointF(frame.x(), screenBottom - (frame.y() + frame.height()));
}

// The geometry, in Qt's coordinates, of a window's contents of that size whose lower-left corner is
// at a stored origin. A window placed by its contents (setGeometry) and stored by them
// (storedOrigin of geometry()) comes back where it was left: the window manager's title bar and
// borders, unknown before the window is shown, take part in neither.
inline QRect contentGeometryFor(const QPointF &origin, const QSize &size, int screenBottom)
{
    return QRect(QPoint(qRound(origin.x()), qRound(screenBottom - origin.y()) - size.height()), size);
}

// Where a panel whose contents have that size comes back to from a stored origin: its contents'
// geometry, fitted on the screen it falls on (the primary screen when none).
inline QRect restoredContents(const QPointF &origin, const QSize &size)
{
    const QRect placed = contentGeometryFor(origin, size, primaryScreenBottom());
    const QScreen *screen = QGuiApplication::screenAt(placed.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? OVNWindowPlacement::fittedContents(placed, screen->availableGeometry()) : placed;
}

} // namespace OVNPanelPosition
