#pragma once

#include "uikit/NTTextAttributes.h"

#include <QColor>
#include <QGlyphRun>
#include <QPainterPath>
#include <QPointF>
#include <QRawFont>
#include <QRectF>

#include <optional>
#include <vector>

class QPainter;

// One run of laid-out glyphs: the glyphs of one line drawn with one font, with their positions
// relative to the line's top-left corner, kept so that the run can be redrawn with one call and no
// further layout. Coordinates are y-down.
class NTGlyphSegment
{
public:
    // Builds a segment from a run of a laid-out line. `lineRect` is the line's used rectangle in
    // layout coordinates (already one point taller than the layout reports); glyph id 0 is skipped.
    static NTGlyphSegment segmentWithGlyphRun(const QGlyphRun &run, const QRectF &lineRect, int textStart,
                                              int textLength, const NTTextAttributes &attributes,
                                              const std::optional<QColor> &backColor, bool antialias, bool shadow);

    int numGlyphs() const { return int(m_glyphs.size()); }
    const std::vector<quint32> &glyphs() const { return m_glyphs; }
    const std::vector<QPointF> &glyphLocations() const { return m_glyphLocations; }
    // The x distance from each stored glyph to the next; (0, 0) for the last one.
    std::vector<QPointF> advances() const;
    const QRectF &lineRect() const { return m_lineRect; }
    int textStart() const { return m_textStart; }
    int textLength() const { return m_textLength; }
    const NTTextAttributes &attributes() const { return m_attributes; }
    bool shadow() const { return m_shadow; }
    bool antialias() const { return m_antialias; }

    // Paints the line's background in `color`, else the segment's own back colour, and answers
    // whether there was a colour to paint with. Every segment of a line paints the whole line.
    bool drawBackColor(QPainter &painter, const std::optional<QColor> &color, const QRectF &frame,
                       bool ovalBackground) const;
    // The same area as a path.
    QPainterPath backgroundPath(const QRectF &frame, bool ovalBackground) const;
    // The line rectangle in the drawing rectangle.
    QRectF backgroundRect(const QRectF &frame) const;
    static QPainterPath backgroundBezierPathForRect(const QRectF &rect);

    // Draws the glyphs into `frame`; a text colour replaces the run's own and suppresses the shadow.
    void drawRect(QPainter &painter, const QRectF &frame, const std::optional<QColor> &textColor) const;

private:
    QRawFont m_font;
    QGlyphRun m_run; // the stored glyphs, ready to draw
    std::vector<quint32> m_glyphs;
    std::vector<QPointF> m_glyphLocations;
    QRectF m_lineRect;
    int m_textStart = 0;
    int m_textLength = 0;
    NTTextAttributes m_attributes;
    std::optional<QColor> m_backColor;
    bool m_shadow = false;
    bool m_antialias = true;
};
