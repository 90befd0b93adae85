#pragma once

#include <QRect>

class QFontMetrics;
class QString;

class QWidget;

// Windows open wholly on the screen's free area (its available geometry: without panels and
// docks), so that no title bar or button starts out of reach.
namespace OVNWindowPlacement {

// The frame moved (and, when larger than the area, shrunk) to lie inside `available`; an empty
// area leaves it as it is.
QRect fitted(const QRect &frame, const QRect &available);

// The contents of a window not framed yet and placed by its contents (setGeometry), moved (and
// shrunk) so that its frame, with the room a window manager's title bar and borders usually take,
// lies inside `available`.
QRect fittedContents(const QRect &contents, const QRect &available);

// Fits the top-level window onto the available area of the screen it is on (the primary screen
// when it is on none), frame and title bar included; one that nobody placed goes to the middle.
// Call it just before showing the window (a window just shown, not yet framed by the window
// manager, would have its contents moved rather than its frame), or on a window long shown.
void fitOnScreen(QWidget *window);

// The frame of a tool panel (`panel`: its size, frame included) opened beside the window it
// serves (`window`: that window's frame), `gap` apart, inside `available`: to the right of the
// window with the top edges in line, else to its left, else below or above it with the right
// edges in line. Where no side has room the panel must cover part of the window: it goes to the
// screen's edge on the side with the most room, below `headerBottom` (the lowest row of the
// window's title bar, menus and toolbar), so that it hides the least of the window and none of
// its commands. The answer always lies inside `available` (an empty area is not consulted).
QRect besideWindow(const QRect &window, const QSize &panel, const QRect &available, int headerBottom, int gap = 8);

// Moves the top-level `panel` beside the top-level `window` (besideWindow on the free area of
// the window's screen). Call it before showing the panel.
void placeBeside(QWidget *panel, const QWidget *window);

// The least width at which a window manager's title bar shows `title` whole beside its buttons,
// in the font `metrics` measures with.
int widthForTitle(const QString &title, const QFontMetrics &metrics);

// Widens the top-level window (its minimum width) so that its title is not cut short; a small
// dialog otherwise takes the width of its contents alone.
void fitTitle(QWidget *window);

} // namespace OVNWindowPlacement
