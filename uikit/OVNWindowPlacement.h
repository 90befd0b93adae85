#pragma once

#include <QRect>

class QWidget;

// Windows open wholly on the screen's free area (its available geometry: without panels and
// docks), so that no title bar or button starts out of reach.
namespace OVNWindowPlacement {

// The frame moved (and, when larger than the area, shrunk) to lie inside `available`; an empty
// area leaves it as it is.
QRect fitted(const QRect &frame, const QRect &available);

// Fits the top-level window onto the available area of the screen it is on (the primary screen
// when it is on none), frame and title bar included; one that nobody placed goes to the middle.
// Call it just before showing the window (a window just shown, not yet framed by the window
// manager, would have its contents moved rather than its frame), or on a window long shown.
void fitOnScreen(QWidget *window);

} // namespace OVNWindowPlacement
