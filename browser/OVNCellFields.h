#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QRectF>
#include <QString>

class QPainter;

// The fields of one row of a thumbnail cell (a bar over the picture, the name strip): a text, the
// rating squares or the movie sign, each at the left, in the middle or at the right. They are laid
// out so that each lies whole inside the row and none over another: first in the row's own font,
// then in a smaller one (down to three quarters of it, and no less than 7 pixels); what does not fit
// even so gives way: a name is cut short in its middle with an ellipsis (so that its number and
// extension stay), a free text at its end; a number or a date is never cut: it shows as an
// ellipsis alone; then the rating squares go, then the ellipses that do not fit either, and last
// the movie sign, so that a movie's cell says it is one as long as the sign fits at all.
// The whole text stays the cell's tooltip.
//
// Rectangles are in the drawing's own coordinates, y down.
struct OVNCellField {
    enum class Kind { Text, Rating, MovieSign };
    enum Place { Left = 0, Right = 1, Middle = 2 }; // the layouts' alignment codes

    Kind kind = Kind::Text;
    Place place = Left;
    QString whole;                           // the text as the record gives it
    Qt::TextElideMode elide = Qt::ElideNone; // where a text may be cut short; never for numbers
    int rating = 0;                          // squares, for Kind::Rating
    qreal side = 0;                          // the squares' side; 0: half the row's height, rounded down
    QColor color;                            // what it is drawn in; invalid: the colour `draw` is given
    int code = 0;                            // the layout's field code, for whoever asks what a field is

    // Set by the layout: where it is drawn (empty when it gave way), what it shows, in which font.
    QRectF rect;
    QString shown;
    QFont font;

    bool isShown() const { return !rect.isEmpty(); }
    bool isCutShort() const { return kind == Kind::Text && shown != whole; }
};

namespace OVNCellFields {

// Space kept between two fields of a row.
constexpr qreal gap = 3;
// The movie sign's width: a camera body of 12 and its lens, from one point in.
constexpr qreal movieSignWidth = 18;

// The rating squares' side in a row of that height, and the squares' width for a rating.
qreal ratingSide(const OVNCellField &field, qreal rowHeight);
qreal ratingWidth(const OVNCellField &field, int rating, qreal rowHeight);

// Lays the fields out in the row (see above); `font` is the row's.
void layoutRow(QList<OVNCellField> &fields, const QRectF &row, const QFont &font);
// Whether every field of the row shows whole in some font the row allows.
bool fitsWhole(const QList<OVNCellField> &fields, const QRectF &row, const QFont &font);

// Draws the laid-out fields: texts and the sign in their colour (or `color`), squares white framed
// in the selection colour.
void draw(QPainter &painter, const QList<OVNCellField> &fields, const QColor &color);

} // namespace OVNCellFields
