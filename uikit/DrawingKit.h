#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

#include <vector>

class QImage;
class QPainter;

// The few drawing primitives every hand-drawn control of the kit shares: the platform's named
// colours, point-sized fonts, the row-by-row gradients, a soft shadow and the conversion from the
// y-up geometry the controls are designed in to Qt's y-down coordinates.
namespace DrawingKit {

// Puts the application's standard controls in Qt's Fusion style and fixes its palette, so that
// they look the same on every desktop and in tests. Call once, after the application is made.
void installApplicationStyle();

// Named colours. They are fixed values, not the desktop palette's, so that every control looks the
// same on every desktop and in tests.
QColor whiteColor();
QColor blackColor();
QColor clearColor();
QColor lightGrayColor();     // 2/3 white
QColor grayColor();          // 1/2 white
QColor darkGrayColor();      // 1/3 white
QColor controlShadowColor(); // the hairlines and frames of controls
QColor controlTextColor();
QColor disabledControlTextColor();
QColor selectedControlColor(); // the light selection blue

// Fonts: an N-point font is N device-independent pixels high. DejaVu Sans stands in for the
// platform's system and label faces, DejaVu Sans Condensed for Helvetica.
QString defaultFontFamily();
// The installed family that draws a family the program's layouts name: DejaVu Sans Condensed for
// Helvetica and Arial (their widths within a few percent), DejaVu Sans for the system faces (Lucida
// Grande, Geneva). Both come with the program's packages, so text measures the same on every
// machine whatever fontconfig would match for those names. Any other family is kept.
QString installedFamily(const QString &family);
// The font with its family replaced by installedFamily()'s.
QFont withInstalledFamily(QFont font);
QFont pixelFont(int pixelSize, bool bold = false, const QString &family = QString());
QFont systemFont(int pixelSize);
QFont boldSystemFont(int pixelSize);
QFont labelFont(int pixelSize);

// Row colours of a stepped gradient: `rows` colours, the first exactly `start`, each further one
// the previous plus (end - start) / rows per component, computed in single precision. None for
// rows < 1.
std::vector<QColor> steppedGradientRows(const QColor &start, const QColor &end, int rows);

enum class RowOrder {
    TopDown,  // row 0 is the top row (flipped views)
    BottomUp, // row 0 is the bottom row (views whose origin is the bottom-left corner)
};

// Fills `bounds` one 1-point row at a time, replacing the pixels (alpha included), with
// int(bounds.height()) rows from `start` to `end`.
void fillSteppedGradient(QPainter &painter, const QRectF &bounds, const QColor &start, const QColor &end,
                         RowOrder order);

// The mirrored variant: int(height / 2) rows stepped from `edge` towards `middle`, each drawn at the
// same distance from the top and from the bottom. An odd middle row is left alone.
void fillMirroredGradient(QPainter &painter, const QRectF &bounds, const QColor &edge, const QColor &middle);

// Light labels drawn over pictures (a cell's sizes and movie sign, the film roll's names) get a
// dark halo, so that they stay readable on a light picture as on a dark one: the colour of the
// halo for a label of that colour, invalid for a dark label, which needs none.
QColor haloColor(const QColor &labelColor);
// Draws a text (QPainter::drawText's flags) in `color`, with the halo a light one gets: the text
// in the halo's colour one point off in each of eight directions, then the text itself.
void drawLabel(QPainter &painter, const QRectF &rect, int flags, const QString &text, const QColor &color);

// A one-point frame drawn inside `rect`.
void frameRect(QPainter &painter, const QRectF &rect, const QColor &color);

// Converts a rectangle given with its origin at the bottom-left of a container of the given height
// (y up) into Qt's top-left coordinates, and back (the conversion is its own inverse).
QRectF flippedRect(const QRectF &rect, qreal containerHeight);
QPointF flippedPoint(const QPointF &point, qreal containerHeight);

// A soft shadow: `alphaMask`'s alpha blurred by about `blurRadius` pixels and tinted `color`. The
// result is larger than the mask by `margin(blurRadius)` on every side.
int shadowMargin(qreal blurRadius);
QImage softShadow(const QImage &alphaMask, qreal blurRadius, const QColor &color);

} // namespace DrawingKit
