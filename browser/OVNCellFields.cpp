#include "browser/OVNCellFields.h"

#include "uikit/DrawingKit.h"
#include "uikit/OVNBezierPath.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

const QString ellipsis = QString(QChar(0x2026));

// The row's font, then smaller ones down to three quarters of it and no less than 7 pixels (or
// points), largest first.
QList<QFont> fontSteps(const QFont &font)
{
    QList<QFont> steps{font};
    const bool pixels = font.pixelSize() > 0;
    const qreal size = pixels ? font.pixelSize() : font.pointSizeF();
    const qreal least = std::max<qreal>(7, size * 3 / 4);
    for (qreal step = size - 1; step >= least; --step) {
        QFont smaller = font;
        if (pixels)
            smaller.setPixelSize(int(step));
        else
            smaller.setPointSizeF(step);
        steps.append(smaller);
    }
    return steps;
}

qreal textWidth(const QString &text, const QFont &font)
{
    return text.isEmpty() ? 0 : std::ceil(QFontMetricsF(font).horizontalAdvance(text));
}

// The width a field takes in the row: the squares' five-square box when they are centred or at the
// right (so that ratings line up from cell to cell), their own width at the left.
qreal boxWidth(const OVNCellField &field, const QString &text, const QFont &font, qreal rowHeight)
{
    switch (field.kind) {
    case OVNCellField::Kind::Rating:
        return field.place == OVNCellField::Left ? OVNCellFields::ratingWidth(field, field.rating, rowHeight)
                                                 : OVNCellFields::ratingWidth(field, 5, rowHeight);
    case OVNCellField::Kind::MovieSign:
        return OVNCellFields::movieSignWidth;
    case OVNCellField::Kind::Text:
        return textWidth(text, font);
    }
    return 0;
}

// The left edges of the fields of the given widths (negative width: not placed): those at the left
// from the row's left edge, those at the right from its right edge, those in the middle centred in
// what is left between them; none when they do not fit with a gap between each two.
std::optional<QList<qreal>> place(const QList<OVNCellField> &fields, const QList<qreal> &widths, const QRectF &row)
{
    QList<qreal> x(fields.size(), 0);
    qreal lo = row.left();
    qreal hi = row.right();
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (widths[i] < 0 || fields[i].place != OVNCellField::Left)
            continue;
        x[i] = lo;
        lo += widths[i] + OVNCellFields::gap;
    }
    for (qsizetype i = fields.size() - 1; i >= 0; --i) {
        if (widths[i] < 0 || fields[i].place != OVNCellField::Right)
            continue;
        x[i] = hi - widths[i];
        hi = x[i] - OVNCellFields::gap;
    }
    qreal middle = 0;
    int middles = 0;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (widths[i] >= 0 && fields[i].place == OVNCellField::Middle) {
            middle += widths[i] + (middles > 0 ? OVNCellFields::gap : 0);
            ++middles;
        }
    }
    // lo and hi now stand a gap beyond the fields at either side.
    const qreal from = lo;
    const qreal to = hi;
    if (middles > 0) {
        if (to - from < middle)
            return std::nullopt;
        qreal at = std::clamp(std::floor(row.center().x() - middle / 2), from, to - middle);
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (widths[i] >= 0 && fields[i].place == OVNCellField::Middle) {
                x[i] = at;
                at += widths[i] + OVNCellFields::gap;
            }
        }
    } else if (to - from < -OVNCellFields::gap) {
        return std::nullopt; // the fields at the left reach into those at the right
    }
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (widths[i] >= 0 && (x[i] < row.left() || x[i] + widths[i] > row.right()))
            return std::nullopt;
    }
    return x;
}

QList<qreal> widthsFor(const QList<OVNCellField> &fields, const QStringList &texts, const QList<bool> &dropped,
                       const QFont &font, qreal rowHeight)
{
    QList<qreal> widths;
    for (qsizetype i = 0; i < fields.size(); ++i)
        widths.append(dropped[i] ? -1 : boxWidth(fields[i], texts[i], font, rowHeight));
    return widths;
}

// Sets each field's rectangle and text from the placing.
void assign(QList<OVNCellField> &fields, const QList<qreal> &x, const QList<qreal> &widths, const QStringList &texts,
            const QFont &font, const QRectF &row)
{
    for (qsizetype i = 0; i < fields.size(); ++i) {
        OVNCellField &field = fields[i];
        field.font = font;
        field.shown = widths[i] < 0 ? QString() : texts[i];
        field.rect = QRectF();
        if (widths[i] < 0)
            continue;
        switch (field.kind) {
        case OVNCellField::Kind::Text:
            field.rect = QRectF(x[i], row.top(), widths[i], row.height());
            break;
        case OVNCellField::Kind::Rating: {
            const qreal s = OVNCellFields::ratingSide(field, row.height());
            field.rect = QRectF(x[i], row.top() + 1, OVNCellFields::ratingWidth(field, field.rating, row.height()), s);
            break;
        }
        case OVNCellField::Kind::MovieSign:
            // The body from a point in, 12 by 10, two points above the row's bottom; the lens to 17.
            field.rect = QRectF(x[i] + 1, row.bottom() - 12, 16, 10);
            break;
        }
    }
}

// The fields that show nothing: an empty text, no rating, a sign taller than the row, anything in
// a row of no size.
QList<bool> nothingToShow(const QList<OVNCellField> &fields, const QRectF &row)
{
    QList<bool> dropped;
    for (const OVNCellField &field : fields) {
        dropped.append(row.width() <= 0 || row.height() <= 0
                       || (field.kind == OVNCellField::Kind::Text && field.whole.isEmpty())
                       || (field.kind == OVNCellField::Kind::Rating && field.rating <= 0)
                       || (field.kind == OVNCellField::Kind::MovieSign && row.height() < 12));
    }
    return dropped;
}

} // namespace

namespace OVNCellFields {

qreal ratingSide(const OVNCellField &field, qreal rowHeight)
{
    return field.side > 0 ? field.side : std::floor(rowHeight / 2);
}

qreal ratingWidth(const OVNCellField &field, int rating, qreal rowHeight)
{
    const int squares = std::clamp(rating, 0, 5);
    return squares > 0 ? squares * (ratingSide(field, rowHeight) + 1) - 1 : 0;
}

bool fitsWhole(const QList<OVNCellField> &fields, const QRectF &row, const QFont &font)
{
    QStringList texts;
    for (const OVNCellField &field : fields)
        texts.append(field.whole);
    const QList<bool> dropped = nothingToShow(fields, row);
    for (const QFont &step : fontSteps(font)) {
        if (place(fields, widthsFor(fields, texts, dropped, step, row.height()), row))
            return true;
    }
    return false;
}

void layoutRow(QList<OVNCellField> &fields, const QRectF &row, const QFont &font)
{
    QStringList texts;
    for (const OVNCellField &field : fields)
        texts.append(field.whole);
    QList<bool> dropped = nothingToShow(fields, row);
    const QList<QFont> steps = fontSteps(font);
    for (const QFont &step : steps) {
        const QList<qreal> widths = widthsFor(fields, texts, dropped, step, row.height());
        if (const auto x = place(fields, widths, row)) {
            assign(fields, *x, widths, texts, step, row);
            return;
        }
    }
    // In the smallest font, fields give way one at a time until the rest fit.
    const QFont &least = steps.last();
    const QFontMetricsF metrics(least);
    const qreal ellipsisWidth = textWidth(ellipsis, least);
    for (int round = 0; round < 4 * fields.size() + 1; ++round) {
        const QList<qreal> widths = widthsFor(fields, texts, dropped, least, row.height());
        if (const auto x = place(fields, widths, row)) {
            assign(fields, *x, widths, texts, least, row);
            return;
        }
        // The room a field has: the row less the others and the gaps between.
        const auto room = [&](qsizetype index) {
            qreal others = 0;
            int shown = 0;
            for (qsizetype i = 0; i < fields.size(); ++i) {
                if (widths[i] < 0)
                    continue;
                ++shown;
                if (i != index)
                    others += widths[i];
            }
            return row.width() - others - gap * std::max(0, shown - 1);
        };
        qsizetype victim = -1;
        // A name or a free text is cut short first,
        for (qsizetype i = 0; i < fields.size() && victim < 0; ++i) {
            if (dropped[i] || fields[i].kind != OVNCellField::Kind::Text || fields[i].elide == Qt::ElideNone
                || texts[i] == ellipsis)
                continue;
            victim = i;
            const QString cut = metrics.elidedText(fields[i].whole, fields[i].elide, std::floor(room(i)));
            if (!cut.isEmpty() && cut != texts[i] && textWidth(cut, least) <= room(i))
                texts[i] = cut;
            else if (ellipsisWidth <= room(i))
                texts[i] = ellipsis;
            else
                dropped[i] = true;
        }
        // then the widest number or date becomes an ellipsis,
        if (victim < 0) {
            qreal widest = -1;
            for (qsizetype i = 0; i < fields.size(); ++i) {
                if (!dropped[i] && fields[i].kind == OVNCellField::Kind::Text && texts[i] != ellipsis
                    && widths[i] > widest) {
                    widest = widths[i];
                    victim = i;
                }
            }
            if (victim >= 0)
                texts[victim] = ellipsis;
        }
        // then the squares go, then the ellipses, and last the movie sign: what a movie's cell
        // says to the end is that it is a movie.
        for (const OVNCellField::Kind kind :
             {OVNCellField::Kind::Rating, OVNCellField::Kind::Text, OVNCellField::Kind::MovieSign}) {
            for (qsizetype i = 0; i < fields.size() && victim < 0; ++i) {
                if (!dropped[i] && fields[i].kind == kind) {
                    victim = i;
                    dropped[i] = true;
                }
            }
        }
        if (victim < 0)
            break;
    }
    dropped.fill(true);
    assign(fields, QList<qreal>(fields.size(), 0), QList<qreal>(fields.size(), -1), texts, least, row);
}

void draw(QPainter &painter, const QList<OVNCellField> &fields, const QColor &rowColor)
{
    for (const OVNCellField &field : fields) {
        if (!field.isShown())
            continue;
        const QColor color = field.color.isValid() ? field.color : rowColor;
        switch (field.kind) {
        case OVNCellField::Kind::Text:
            painter.setFont(field.font);
            DrawingKit::drawLabel(painter, field.rect, int(Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine),
                                  field.shown, color);
            break;
        case OVNCellField::Kind::Rating: {
            const qreal s = field.rect.height();
            for (int i = 0; i < std::min(field.rating, 5); ++i) {
                const QRectF square(field.rect.x() + i * (s + 1), field.rect.y(), s, s);
                painter.fillRect(square, DrawingKit::whiteColor());
                DrawingKit::frameRect(painter, square, DrawingKit::selectedControlColor());
            }
            break;
        }
        case OVNCellField::Kind::MovieSign: {
            // The rectangle is the body's; the lens reaches 4 points beyond it, from 1 below its top
            // to 1 above its bottom.
            const QRectF body(field.rect.x(), field.rect.y(), 12, 10);
            const qreal x = body.right();
            const qreal bottom = body.bottom();
            const OVNBezierPath bodyPath = OVNBezierPath::bezierPathWithRoundedRect(body, 2);
            const QPolygonF lens({QPointF(x, bottom - 6), QPointF(x + 4, bottom - 9), QPointF(x + 4, bottom - 1),
                                  QPointF(x, bottom - 4)});
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing);
            // A light sign gets the labels' dark halo: an outline a point wide around it.
            if (const QColor halo = DrawingKit::haloColor(color); halo.isValid()) {
                painter.setPen(QPen(halo, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                painter.setBrush(Qt::NoBrush);
                painter.drawPath(bodyPath);
                painter.drawPolygon(lens);
            }
            painter.setPen(Qt::NoPen);
            painter.setBrush(color);
            painter.drawPath(bodyPath);
            painter.drawPolygon(lens);
            painter.restore();
            break;
        }
        }
    }
}

} // namespace OVNCellFields
