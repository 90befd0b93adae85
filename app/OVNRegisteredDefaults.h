#pragma once

#include <QRectF>
#include <QString>
#include <QVariantMap>

// The preferences registered at every start, with the catalog window's frame and thumbnail size
// computed from the main screen. Screen rectangles here are measured upwards from the bottom of the
// main screen, as the saved window frames are.
class OVNRegisteredDefaults
{
public:
    OVNRegisteredDefaults() = delete;

    // The smallest and largest thumbnail size the catalog window's slider offers at start-up.
    static constexpr int minimumThumbnailSize = 48;
    static constexpr int maximumStartupThumbnailSize = 120;

    // The whole table for a main screen with that visible frame.
    static QVariantMap startupDefaults(const QRectF &visibleFrame);

    // The catalog window's default frame: the visible frame, inset to x 150 and width sw - 300 on
    // screens wider than 1024, and to y 150 and height sh - 130 on screens taller than 768.
    static QRectF defaultWindowFrame(const QRectF &visibleFrame);
    // "x y w h sx sy sw sh": the window frame and then the screen's visible frame, whole numbers.
    static QString windowFrameString(const QRectF &windowFrame, const QRectF &visibleFrame);
    // The window width less the category and preview columns (570).
    static int mediaViewWidth(const QRectF &windowFrame);
    // A fifth of the media view's width, kept between the two bounds above.
    static int thumbnailSize(const QRectF &windowFrame);
};
