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
// when it is on none), frame and title bar included. Call it before or after showing.
void fitOnScreen(QWidget *window);

} // namespace OVNWindowPlacement
