#include "uikit/NTGlyphSegment.h"

#include "uikit/DrawingKit.h"
#include "uikit/NTDrawShadow.h"

#include <QGlyphRun>
#include <QPainter>

NTGlyphSegment NTGlyphSegment::segmentWithGlyphRun(const QGlyphRun &run, const QRectF &lineRect, int textStart,
                                                   int textLength, const NTTextAttributes &attributes,
                                                   const std::optional<QColor> &backColor, bool antialias, bool shadow)
{
    NTGlyphSegment segment;
    segment.m_font = run.rawFont();
    segment.m_lineRect = lineRect;
    segment.m_textStart = textStart;
    segment.m_textLength = textLength;
    segment.m_attributes = attributes;
    segment.m_backColor = backColor;
    segment.m_antialias = antialias;
    segment.m_shadow = shadow;

    const QList<quint32> indexes = run.glyphIndexes();
    const QList<QPointF> positions = run.positions();
    const qsizetype count = std::min(indexes.size(), positions.size());
    segment.m_glyphs.reserve(size_t(count));
    segment.m_glyphLocations.reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        if (indexes[i] == 0)
            continue;
        segment.m_glyphs.push_back(indexes[i]);
        // Relative to the line's top, so the run can be drawn anywhere.
        segment.m_glyphLocations.push_back(QPointF(positions[i].x(), positions[i].y() - lineRect.y()));
    }
    segment.m_run.setRawFont(segment.m_font);
    segment.m_run.setGlyphIndexes(QList<quint32>(segment.m_glyphs.begin(), segment.m_glyphs.end()));
    segment.m_run.setPositions(QList<QPointF>(segment.m_glyphLocations.begin(), segment.m_glyphLocations.end()));
    return segment;
}

std::vector<QPointF> NTGlyphSegment::advances() const
{
    std::vector<QPointF> result(m_glyphLocations.size(), QPointF(0, 0));
    for (size_t i = 0; i + 1 < m_glyphLocations.size(); ++i)
        result[i] = QPointF(m_glyphLocations[i + 1].x() - m_glyphLocations[i].x(), 0);
    return result;
}

QRectF NTGlyphSegment::backgroundRect(const QRectF &frame) const
{
    return QRectF(frame.x() + m_lineRect.x(), frame.y() + m_lineRect.y(), m_lineRect.width(), m_lineRect.height());
}

QPainterPath NTGlyphSegment::backgroundBezierPathForRect(const QRectF &rect)
{
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    const qreal e = 5.0;
    const qreal c = static_cast<float>(h) / 3.0f;
    QPainterPath path;
    path.moveTo(x, y);
    path.cubicTo(QPointF(x - e, y + h / 2 - c), QPointF(x - e, y + h / 2 + c), QPointF(x, y + h));
    path.lineTo(x + w, y + h);
    path.cubicTo(QPointF(x + w + e, y + h / 2 + c), QPointF(x + w + e, y + h / 2 - c), QPointF(x + w, y));
    path.closeSubpath();
    return path;
}

QPainterPath NTGlyphSegment::backgroundPath(const QRectF &frame, bool ovalBackground) const
{
    const QRectF rect = backgroundRect(frame);
    if (ovalBackground)
        return backgroundBezierPathForRect(rect);
    QPainterPath path;
    path.addRect(rect);
    return path;
}

bool NTGlyphSegment::drawBackColor(QPainter &painter, const std::optional<QColor> &color, const QRectF &frame,
                                   bool ovalBackground) const
{
    const std::optional<QColor> fill = color ? color : m_backColor;
    if (!fill)
        return false;
    painter.save();
    if (ovalBackground) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.fillPath(backgroundPath(frame, true), *fill);
    } else {
        painter.fillRect(backgroundRect(frame), *fill);
    }
    painter.restore();
    return true;
}

void NTGlyphSegment::drawRect(QPainter &painter, const QRectF &frame, const std::optional<QColor> &textColor) const
{
    if (m_glyphs.empty() || !m_font.isValid())
        return;
    const QGlyphRun &run = m_run;
    const QColor color = textColor                      ? *textColor
                         : m_attributes.foregroundColor ? *m_attributes.foregroundColor
                                                        : DrawingKit::blackColor();
    const QPointF origin(frame.x(), frame.y() + m_lineRect.y());

    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing, m_antialias);
    painter.setPen(color);
    if (m_shadow && !textColor) {
        const QRectF area = run.boundingRect().translated(origin).adjusted(-1, -1, 1, 1);
        NTDrawShadow::drawWithShadow(painter, area, [&](QPainter &p) {
            p.setPen(&p == &painter ? color : QColor(Qt::black));
            p.drawGlyphRun(origin, run);
        });
    } else {
        painter.drawGlyphRun(origin, run);
    }
    painter.restore();
}
