#pragma once

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

// The top-left corner, in Qt's coordinates, of a frame of that height at a stored origin.
inline QPoint topLeftFor(const QPointF &origin, int frameHeight, int screenBottom)
{
    return QPoint(qRound(origin.x()), qRound(screenBottom - origin.y()) - frameHeight);
}

} // namespace OVNPanelPosition
