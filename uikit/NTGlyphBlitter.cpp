#include "uikit/NTGlyphBlitter.h"

#include "uikit/NTTextStorage.h"
#include "uikit/NTTextStorageStore.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

std::unique_ptr<NTGlyphBlitter> NTGlyphBlitter::blitterWithString(const QString &string, const QSizeF &size,
                                                                  int numLines, bool verticallyCenter,
                                                                  const NTTextAttributes &attributes,
                                                                  const std::optional<QColor> &backColor,
                                                                  bool ovalBackground, bool antialias, bool shadow)
{
    return std::make_unique<NTGlyphBlitter>(string, size, numLines, verticallyCenter, attributes, backColor,
                                            ovalBackground, antialias, shadow);
}

NTGlyphBlitter::NTGlyphBlitter(const QString &string, const QSizeF &size, int numLines, bool verticallyCenter,
                               const NTTextAttributes &attributes, const std::optional<QColor> &backColor,
                               bool ovalBackground, bool antialias, bool shadow)
    : m_verticallyCenter(verticallyCenter),
      m_size(size),
      m_ovalBackground(ovalBackground)
{
    const qreal layoutWidth = size.width() - (ovalBackground ? 2 * endcapWidth : 0);
    if (string.isEmpty())
        return;
    NTTextStorageStore &pool = NTTextStorageStore::sharedInstance();
    std::unique_ptr<NTTextStorage> storage = pool.checkOutForString(string, attributes);
    m_segments =
        buildSegments(*storage, &m_minRect, layoutWidth, size.height(), numLines, backColor, antialias, shadow);
    pool.checkIn(std::move(storage));
}

std::vector<NTGlyphSegment> NTGlyphBlitter::buildSegments(NTTextStorage &storage, QRectF *outMinRect, qreal layoutWidth,
                                                          qreal height, int maxLines,
                                                          const std::optional<QColor> &backColor, bool antialias,
                                                          bool shadow)
{
    std::vector<NTGlyphSegment> result;
    QRectF minRect;
    storage.setContainerSize(QSizeF(layoutWidth, layoutContainerHeight));
    const NTTextAttributes &attributes = storage.attributes();
    const qreal padding = storage.lineFragmentPadding();
    const qreal lineWidth = std::max<qreal>(0.0, layoutWidth - 2 * padding);

    // A truncating paragraph is one line, cut with an ellipsis where it does not fit.
    QString text = storage.string();
    if (attributes.truncation != Qt::ElideNone)
        text = QFontMetricsF(attributes.font).elidedText(text, attributes.truncation, lineWidth);

    QTextLayout &layout = storage.layoutManager();
    layout.clearLayout();
    layout.setText(text);
    layout.setFont(attributes.font);
    QTextOption option(attributes.alignment);
    option.setWrapMode(attributes.truncation != Qt::ElideNone ? QTextOption::NoWrap
                                                              : QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);

    // Lay out as many lines as the container's height holds.
    layout.beginLayout();
    qreal y = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(lineWidth);
        line.setPosition(QPointF(padding, y));
        y += line.height();
        if (y > layoutContainerHeight)
            break;
    }
    layout.endLayout();

    int lineCount = 0;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        QRectF used = line.naturalTextRect();
        if (used.y() + used.height() > layoutContainerHeight)
            break;
        used.setHeight(used.height() + 1.0);
        if (lineCount > 0 && used.y() + used.height() > height)
            break;
        minRect = lineCount == 0 ? used : minRect.united(used);
        ++lineCount;
        const QList<QGlyphRun> runs = line.glyphRuns();
        for (const QGlyphRun &run : runs) {
            result.push_back(NTGlyphSegment::segmentWithGlyphRun(run, used, line.textStart(), line.textLength(),
                                                                 attributes, backColor, antialias, shadow));
        }
        if (maxLines != 0 && lineCount >= maxLines)
            break;
    }
    if (outMinRect)
        *outMinRect = minRect;
    return result;
}

QRectF NTGlyphBlitter::drawRectForRect(const QRectF &rect) const
{
    const qreal width = m_minRect.width() + (m_ovalBackground ? 2 * endcapWidth : 0);
    const qreal height = m_minRect.height();
    const qreal y = m_verticallyCenter ? rect.y() + (rect.height() - height) / 2 : rect.y();
    return QRectF(rect.x(), y, width, height);
}

QRectF NTGlyphBlitter::textRectForRect(const QRectF &rect) const
{
    QRectF result = drawRectForRect(rect).translated(m_minRect.topLeft());
    if (m_ovalBackground)
        result.adjust(endcapWidth, 0, -endcapWidth, 0);
    return result;
}

void NTGlyphBlitter::drawRect(QPainter &painter, const QRectF &rect, const std::optional<QColor> &textColor,
                              const std::optional<QColor> &backColor, const std::optional<QColor> &labelColor) const
{
    if (m_segments.empty())
        return;
    QRectF frame = drawRectForRect(rect);
    if (m_ovalBackground)
        frame.adjust(endcapWidth, 0, -endcapWidth, 0);

    bool paintedBackground = false;
    for (const NTGlyphSegment &segment : m_segments)
        paintedBackground = segment.drawBackColor(painter, backColor, frame, m_ovalBackground);

    if (labelColor) {
        QPainterPath path;
        for (const NTGlyphSegment &segment : m_segments)
            path.addPath(segment.backgroundPath(frame, m_ovalBackground));
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, m_ovalBackground);
        if (!paintedBackground) {
            QColor tint = *labelColor;
            tint.setAlphaF(labelTintAlpha);
            painter.fillPath(path, tint);
        } else {
            // Clipped to the path, a 3-point stroke leaves a 1.5-point border inside it.
            painter.setClipPath(path, Qt::IntersectClip);
            painter.strokePath(path, QPen(*labelColor, labelOutlineWidth));
        }
        painter.restore();
    }

    for (const NTGlyphSegment &segment : m_segments)
        segment.drawRect(painter, frame, textColor);
}
