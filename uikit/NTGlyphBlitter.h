#pragma once

#include "uikit/NTGlyphSegment.h"
#include "uikit/NTTextAttributes.h"

#include <QColor>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class NTTextStorage;
class QPainter;

// A label laid out once and kept as glyph runs, so that it can be redrawn any number of times with
// one glyph call per run and no further layout. It can paint a background behind each line (a
// rectangle, or an oval with rounded end caps), tint or outline that background with a label
// colour, draw without antialiasing and draw the text with a soft drop shadow.
//
// A blitter is immutable: another string, size or attribute set needs a new one. All geometry is
// y-down, measured from the rectangle it is drawn in.
class NTGlyphBlitter
{
public:
    static constexpr int endcapWidth = 5;
    static constexpr qreal layoutContainerHeight = 1000.0;
    static constexpr float labelTintAlpha = 0.4f;
    static constexpr qreal labelOutlineWidth = 3.0;

    // numLines 0 means no limit. The text storage for the layout is borrowed from the shared pool.
    static std::unique_ptr<NTGlyphBlitter> blitterWithString(const QString &string, const QSizeF &size, int numLines,
                                                             bool verticallyCenter, const NTTextAttributes &attributes,
                                                             const std::optional<QColor> &backColor,
                                                             bool ovalBackground, bool antialias, bool shadow);

    NTGlyphBlitter(const QString &string, const QSizeF &size, int numLines, bool verticallyCenter,
                   const NTTextAttributes &attributes, const std::optional<QColor> &backColor, bool ovalBackground,
                   bool antialias, bool shadow);

    // The size the blitter was made for, as given.
    QSizeF size() const { return m_size; }
    const std::vector<NTGlyphSegment> &segments() const { return m_segments; }
    // The union of the laid-out lines' used rectangles (each one point taller than the layout
    // reports); empty when nothing was laid out.
    QRectF minRect() const { return m_minRect; }

    void drawRect(QPainter &painter, const QRectF &rect, const std::optional<QColor> &textColor,
                  const std::optional<QColor> &backColor, const std::optional<QColor> &labelColor = std::nullopt) const;

    // Where the lines are drawn for `rect`: at its left edge, as wide as the laid-out text (plus
    // the end caps for an oval), and at its top or, when vertically centred, centred on it.
    QRectF drawRectForRect(const QRectF &rect) const;
    // Where the text itself falls for `rect`.
    QRectF textRectForRect(const QRectF &rect) const;

    // The layout walk over a borrowed storage: lines of at most `layoutWidth`, each taken while its
    // bottom stays within `height` (the first always), at most `maxLines` when that is not 0.
    static std::vector<NTGlyphSegment> buildSegments(NTTextStorage &storage, QRectF *outMinRect, qreal layoutWidth,
                                                     qreal height, int maxLines, const std::optional<QColor> &backColor,
                                                     bool antialias, bool shadow);

private:
    std::vector<NTGlyphSegment> m_segments;
    bool m_verticallyCenter = false;
    QRectF m_minRect;
    QSizeF m_size;
    bool m_ovalBackground = false;
};
