#include "browser/OVNThumbnail.h"

#include "browser/OVNMediaViewSorting.h"
#include "browser/OVNThumbnailHelper.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "formats/OVNOrientation.h"
#include "platform/MediaRecord.h"
#include "uikit/DrawingKit.h"
#include "uikit/OVNBezierPath.h"
#include "platform/CatalogNames.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

using CatalogNames::keyDisplayTag;

int intValue(const QString &text)
{
    const double value = OVNHelper::leadingDouble(text.trimmed());
    return int(std::clamp(value, -2147483648.0, 2147483647.0));
}

double floatValue(const QString &text) { return OVNHelper::leadingDouble(text.trimmed()); }

// A flag is on only when its integer value is exactly 1.
bool flag(const QVariantMap &layout, const QString &key) { return intValue(layout.value(key).toString()) == 1; }

int code(const QVariantMap &layout, const QString &key) { return intValue(layout.value(key).toString()); }

QColor colorOf(const QVariantMap &layout, const QString &key)
{
    return OVNHelper::decodeToColor(layout.value(key).toMap());
}

// A bar's height: the line height of its font, with the row a descender's underline needs.
qreal lineHeight(const QFont &font) { return std::ceil(QFontMetricsF(font).height()) + 1; }

Qt::Alignment horizontalAlignment(int alignment)
{
    switch (alignment) {
    case 0:
        return Qt::AlignLeft;
    case 1:
        return Qt::AlignRight;
    case 2:
        return Qt::AlignHCenter;
    default:
        return Qt::AlignLeft;
    }
}

// The font a text is drawn in: its own, or, when the text is a little too long for its place (a
// pixel size in a narrow bar), a smaller one down to three quarters of it and no less than 7
// pixels, so that short texts show whole; what is longer still is cut.
QFont fittedFont(const QString &text, const QFont &font, qreal width)
{
    if (text.isEmpty() || QFontMetricsF(font).horizontalAdvance(text) <= width)
        return font;
    QFont smaller = font;
    const bool pixels = font.pixelSize() > 0;
    const qreal size = pixels ? font.pixelSize() : font.pointSizeF();
    const qreal least = std::max<qreal>(7, size * 3 / 4);
    for (qreal step = size - 1; step >= least; --step) {
        if (pixels)
            smaller.setPixelSize(int(step));
        else
            smaller.setPointSizeF(step);
        if (QFontMetricsF(smaller).horizontalAdvance(text) <= width)
            return smaller;
    }
    return smaller;
}

// One line from the top of its rectangle, in a font fitted to it. A text too long for it even so is
// cut with an ellipsis, in the middle for names so that their numbers and extensions stay; the
// whole text is the cell's tooltip.
void drawText(QPainter &painter, const QRectF &qtRect, const QString &text, const QFont &font, const QColor &color,
              Qt::Alignment alignment, Qt::TextElideMode elide)
{
    if (text.isEmpty() || qtRect.width() <= 0 || qtRect.height() <= 0)
        return;
    const QFont fitted = fittedFont(text, font, qtRect.width());
    painter.setFont(fitted);
    painter.setPen(color);
    painter.drawText(qtRect, int(alignment | Qt::AlignTop | Qt::TextSingleLine),
                     QFontMetricsF(fitted).elidedText(text, elide, qtRect.width()));
}

bool isCutShort(const QString &text, const QFont &font, qreal width)
{
    const QFont fitted = fittedFont(text, font, width);
    return !text.isEmpty() && QFontMetricsF(fitted).elidedText(text, Qt::ElideRight, width) != text;
}

QFont fontOf(const QString &family, bool bold, int pixelSize)
{
    QFont font(DrawingKit::installedFamily(family));
    font.setBold(bold);
    font.setPixelSize(pixelSize);
    return font;
}

const QFont &listTitleFont()
{
    static const QFont font = fontOf(QStringLiteral("Helvetica"), true, 10);
    return font;
}

const QFont &listValueFont()
{
    static const QFont font = fontOf(QStringLiteral("Helvetica"), false, 10);
    return font;
}

// The list panel's lines come every 15 points from its top; each is as high as its font's line,
// descenders (the underscore of "100_0306.AVI") included, hanging from the line's top.
std::optional<std::pair<QRectF, QRectF>> listLineRects(const QRectF &panel, int line)
{
    const qreal y = panel.y() + panel.height() - 5 - 15 * line - 10;
    if (y <= panel.y())
        return std::nullopt;
    const qreal top = y + 12;
    const qreal height = std::max(lineHeight(listTitleFont()), lineHeight(listValueFont())) - 1;
    return std::make_pair(QRectF(panel.x() + 5, top - height, 70, height),
                          QRectF(panel.x() + 80, top - height, panel.width() - 85, height));
}

} // namespace

OVNThumbnail::OVNThumbnail() : m_extensionMapper(std::make_unique<OVNExtensionMapping>()) { setLayout(QVariantMap()); }

OVNThumbnail::~OVNThumbnail() = default;

QVariantMap OVNThumbnail::builtInLayout(int index) const { return OVNThumbnailHelper::getLayoutForThumbnail(index); }

void OVNThumbnail::setLayout(const QVariantMap &layout)
{
    m_layout = layout;
    auto readBar = [&layout](Bar &bar, const QString &prefix, const QString &enableKey) {
        bar.enabled = flag(layout, enableKey);
        bar.font = DrawingKit::withInstalledFamily(
            OVNHelper::decodeToFont(layout.value(prefix + QStringLiteral("Font")).toMap()));
        bar.height = lineHeight(bar.font);
        bar.background = colorOf(layout, prefix + QStringLiteral("BGColor"));
        bar.fontColor = colorOf(layout, prefix + QStringLiteral("FontColor"));
        bar.left = code(layout, prefix + QStringLiteral("Left"));
        bar.middle = code(layout, prefix + QStringLiteral("Middle"));
        bar.right = code(layout, prefix + QStringLiteral("Right"));
    };
    readBar(m_nameBar, QStringLiteral("udfNameBar"), QStringLiteral("udfEnableNameBar"));
    readBar(m_topBar, QStringLiteral("udfTopBar"), QStringLiteral("udfEnableTopInfoBar"));
    readBar(m_bottomBar, QStringLiteral("udfBottomBar"), QStringLiteral("udfEnableBottomInfoBar"));
    m_udfBackgroundColor = colorOf(layout, QStringLiteral("udfBackgroundColor"));
    m_udfFrameBackgroundColor = colorOf(layout, QStringLiteral("udfFrameBackgroundColor"));
    m_udfShadowColor = colorOf(layout, QStringLiteral("udfShadowColor"));
    m_udfFrameColor = colorOf(layout, QStringLiteral("udfFrameColor"));
    m_udfLayoutSelection = code(layout, QStringLiteral("udfLayoutSelection"));
    m_udfFrameFullSize = flag(layout, QStringLiteral("udfFrameFullSize"));
    m_udfEnableFrame = flag(layout, QStringLiteral("udfEnableFrame"));
    m_udfFrameDrawBackground = flag(layout, QStringLiteral("udfFrameDrawBackground"));
    m_udfEnableShadow = flag(layout, QStringLiteral("udfEnableShadow"));
    for (int i = 0; i < 7; ++i)
        m_udfListLine[i] = code(layout, QStringLiteral("udfListLine%1").arg(i + 1));
    m_shadowCache.clear();
}

// ---- geometry ----

QRectF OVNThumbnail::fitPicture(const QRectF &area, const QSizeF &picture)
{
    QRectF fitted = area;
    if (picture.width() <= 0 || picture.height() <= 0 || area.width() <= 0 || area.height() <= 0)
        return fitted;
    const float a = float(area.width()) / float(area.height());
    const float p = float(picture.width()) / float(picture.height());
    if (p > a)
        fitted.setHeight(std::floor(area.height() / double(p / a)));
    else if (a > p)
        fitted.setWidth(std::floor(area.width() / double(a / p)));
    if (fitted.height() < area.height())
        fitted.moveTop(area.y() + std::floor((area.height() - fitted.height()) / 2));
    if (fitted.width() < area.width())
        fitted.moveLeft(std::floor((area.width() - fitted.width()) / 2));
    return fitted;
}

OVNThumbnail::Geometry OVNThumbnail::geometryForPicture(const QSizeF &picture) const
{
    const qreal w = m_width;
    const qreal h = m_height;
    Geometry g;
    g.area = QRectF(2, 2, m_udfLayoutSelection == 0 ? w - 4 : h - 4, h - 4);
    if (m_nameBar.enabled) {
        g.nameBar = QRectF(2, 2, w, m_nameBar.height);
        g.area.setTop(g.area.top() + m_nameBar.height + 2); // y up: the bottom edge moves up
    }
    g.fitted = fitPicture(g.area, picture);
    if (m_nameBar.enabled && !m_udfFrameFullSize)
        g.nameBar.moveTop(g.fitted.y() - m_nameBar.height - 2);
    g.frame = m_udfFrameFullSize ? g.area : g.fitted;
    const QRectF &r = g.frame;
    g.topBar = QRectF(r.x() + 1, r.y() + r.height() - m_topBar.height - 1, r.width() - 2, m_topBar.height);
    g.bottomBar = QRectF(r.x() + 1, r.y() + 1, r.width() - 2, m_bottomBar.height);
    if (m_udfLayoutSelection == 1)
        g.listPanel = QRectF(h + 10, 2, w - h - 12, h - 4);
    return g;
}

QRectF OVNThumbnail::ratingSquare(const QRectF &rect, int alignment, int index)
{
    const qreal s = std::floor(rect.height() / 2);
    const qreal total = 5 * (s + 1);
    // Within the bar, which lies over the picture: a narrow picture's bar does not start at the
    // cell's left edge.
    qreal x = rect.x();
    if (alignment == 2)
        x = rect.x() + std::floor(rect.width() / 2) - std::floor(total / 2);
    else if (alignment == 1)
        x = rect.x() + rect.width() - total;
    return QRectF(x + index * (s + 1), rect.y() + rect.height() - 1 - s, s, s);
}

qreal OVNThumbnail::movieSymbolX(const QRectF &rect, int alignment)
{
    if (alignment == 2)
        return rect.x() + std::floor(rect.width() / 2) - 10;
    if (alignment == 1)
        return rect.x() + rect.width() - 20;
    return rect.x();
}

// ---- texts ----

QString OVNThumbnail::barFieldText(int fieldCode, const MediaRecord &record)
{
    switch (fieldCode) {
    case 1:
        return record.string(QStringLiteral("displaytag"));
    case 6:
        return record.string(QStringLiteral("dts"));
    case 7:
        return record.string(QStringLiteral("filedts"));
    case 4:
        return OVNThumbnailHelper::uprightSizeText(record.string(QStringLiteral("imagewidth")),
                                                   record.string(QStringLiteral("imageheight")),
                                                   record.string(QStringLiteral("orientation")));
    case 5: {
        const double size = floatValue(record.string(QStringLiteral("filesize")));
        if (size != 0)
            return QString::asprintf("%.1fMB", size / 1048576.0);
        return QString();
    }
    case 8: {
        const QString type = record.string(QStringLiteral("filetype"));
        if (!OVNThumbnailHelper::isMovieFileType(type))
            return QString();
        return OVNThumbnailHelper::durationText(OVNThumbnailHelper::movieDurationSeconds(type));
    }
    default:
        return QString();
    }
}

QString OVNThumbnail::titleForTag(int fieldCode)
{
    switch (fieldCode) {
    case 1:
        return QStringLiteral("Name:");
    case 2:
        return QStringLiteral("Processor:");
    case 3:
        return QStringLiteral("Size:");
    case 4:
        return QStringLiteral("File Date:");
    case 5:
        return QStringLiteral("Catalog Date:");
    case 6:
        return QStringLiteral("Title:"); // the "keywords" column holds the title
    case 7:
        return QStringLiteral("Description:");
    default:
        return QStringLiteral("");
    }
}

QString OVNThumbnail::infoForTag(int fieldCode, const MediaRecord &record) const
{
    switch (fieldCode) {
    case 1:
        return record.string(keyDisplayTag);
    case 2:
        return m_extensionMapper->getProcessorForExtension(
            OVNMediaViewSorting::pathExtension(record.string(keyDisplayTag)));
    case 3: {
        double width = floatValue(record.string(QStringLiteral("imagewidth")));
        double height = floatValue(record.string(QStringLiteral("imageheight")));
        if (OVNOrientation::turnFor(intValue(record.string(QStringLiteral("orientation")))).degrees % 180 != 0)
            std::swap(width, height); // as the picture is shown
        return QString::asprintf("%.0f x %.0f, %.1f MB", width, height,
                                 floatValue(record.string(QStringLiteral("filesize"))) / 1048576.0);
    }
    case 4:
        return record.string(QStringLiteral("filedts"));
    case 5:
        return record.string(QStringLiteral("dts"));
    case 6:
        return record.string(QStringLiteral("keywords"));
    case 7:
        return record.string(QStringLiteral("fulldesc"));
    default:
        return QStringLiteral("");
    }
}

// ---- drawing ----

void OVNThumbnail::drawRatingMarker(QPainter &painter, qreal cellHeight, int rating, const QRectF &rect, int alignment)
{
    const int squares = std::min(rating, 5);
    for (int i = 0; i < squares; ++i) {
        const QRectF square = DrawingKit::flippedRect(ratingSquare(rect, alignment, i), cellHeight);
        painter.fillRect(square, DrawingKit::whiteColor());
        DrawingKit::frameRect(painter, square, DrawingKit::selectedControlColor());
    }
}

void OVNThumbnail::drawInfoTag(QPainter &painter, qreal cellHeight, int fieldCode, const QRectF &rect,
                               const MediaRecord &record, const QFont &font, int alignment, const QColor &color) const
{
    switch (fieldCode) {
    case 3: {
        const QString rating = record.string(QStringLiteral("rating"));
        const int value = OVNThumbnailHelper::drawnRating(rating);
        if (value > 0)
            drawRatingMarker(painter, cellHeight, value, rect, alignment);
        return;
    }
    case 2: {
        if (!OVNThumbnailHelper::isMovieFileType(record.string(QStringLiteral("filetype"))))
            return;
        const qreal x = movieSymbolX(rect, alignment);
        const qreal y = rect.y();
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPath(OVNBezierPath::bezierPathWithRoundedRect(
            DrawingKit::flippedRect(QRectF(x + 1, y + 2, 12, 10), cellHeight), 2));
        const QPolygonF lens({DrawingKit::flippedPoint(QPointF(x + 13, y + 8), cellHeight),
                              DrawingKit::flippedPoint(QPointF(x + 17, y + 11), cellHeight),
                              DrawingKit::flippedPoint(QPointF(x + 17, y + 3), cellHeight),
                              DrawingKit::flippedPoint(QPointF(x + 13, y + 6), cellHeight)});
        painter.drawPolygon(lens);
        painter.restore();
        return;
    }
    default:
        drawText(painter, DrawingKit::flippedRect(rect, cellHeight), barFieldText(fieldCode, record), font, color,
                 horizontalAlignment(alignment), fieldCode == 1 ? Qt::ElideMiddle : Qt::ElideRight);
        return;
    }
}

QRectF OVNThumbnail::textRectBesideRating(const QRectF &rect, int alignment, int ratingAlignment, int rating)
{
    if (rating <= 0)
        return rect;
    const qreal gap = 3;
    const qreal squaresLeft = ratingSquare(rect, ratingAlignment, 0).left();
    const qreal squaresRight = ratingSquare(rect, ratingAlignment, std::min(rating, 5) - 1).right();
    const QRectF before(rect.left(), rect.y(), std::max<qreal>(0, squaresLeft - gap - rect.left()), rect.height());
    const QRectF after(squaresRight + gap, rect.y(), std::max<qreal>(0, rect.right() - squaresRight - gap),
                       rect.height());
    switch (alignment) {
    case 0:
        return before.width() > 0 ? before : after;
    case 1:
        return after.width() > 0 ? after : before;
    default:
        return before.width() >= after.width() ? before : after;
    }
}

void OVNThumbnail::drawBar(QPainter &painter, qreal cellHeight, const Bar &bar, const QRectF &rect,
                           const MediaRecord &record) const
{
    painter.fillRect(DrawingKit::flippedRect(rect, cellHeight), bar.background);
    // The rating's squares and a text in the same bar share it: the text keeps clear of them.
    const std::pair<int, int> fields[] = {{bar.left, 0}, {bar.middle, 2}, {bar.right, 1}};
    int ratingAlignment = -1;
    for (const auto &[code, alignment] : fields)
        if (code == 3)
            ratingAlignment = alignment;
    const int rating = ratingAlignment < 0 ? 0
                                           : OVNThumbnailHelper::drawnRating(record.string(QStringLiteral("rating")));
    // A bar over a narrow (portrait) picture may hold the squares or the text, not both: the
    // squares then get a row of their own, inside the picture, and the text the whole bar.
    QRectF ratingRow = rect;
    if (rating > 0 && &bar != &m_nameBar) {
        const QFontMetricsF metrics(bar.font);
        for (const auto &[code, alignment] : fields) {
            if (code == 0 || code == 2 || code == 3)
                continue;
            const qreal width = metrics.horizontalAdvance(barFieldText(code, record));
            if (ratingNeedsOwnRow(rect, alignment, ratingAlignment, rating, width))
                ratingRow = &bar == &m_bottomBar ? rect.translated(0, rect.height())
                                                 : rect.translated(0, -rect.height());
        }
    }
    const bool ownRow = ratingRow != rect;
    if (ownRow)
        painter.fillRect(DrawingKit::flippedRect(ratingRow, cellHeight), bar.background);
    for (const auto &[code, alignment] : fields) {
        if (code == 0)
            continue;
        const QRectF area = code == 3 ? ratingRow
                            : ownRow  ? rect
                                      : textRectBesideRating(rect, alignment, ratingAlignment, rating);
        drawInfoTag(painter, cellHeight, code, area, record, bar.font, alignment, bar.fontColor);
    }
}

bool OVNThumbnail::ratingNeedsOwnRow(const QRectF &rect, int alignment, int ratingAlignment, int rating,
                                     qreal textWidth)
{
    return rating > 0 && textWidth > textRectBesideRating(rect, alignment, ratingAlignment, rating).width();
}

void OVNThumbnail::drawInfoRect(QPainter &painter, qreal cellHeight, const QRectF &rect,
                                const MediaRecord &record) const
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    const QRectF panel = DrawingKit::flippedRect(rect, cellHeight);
    painter.fillRect(panel, QColor::fromRgbF(0.9f, 0.9f, 0.9f, 1.0f));
    DrawingKit::frameRect(painter, panel, Qt::black);
    for (int i = 0; i < 7; ++i) {
        const auto line = listLineRects(rect, i);
        if (!line)
            continue;
        drawText(painter, DrawingKit::flippedRect(line->first, cellHeight), titleForTag(m_udfListLine[i]),
                 listTitleFont(), Qt::black, Qt::AlignRight, Qt::ElideRight);
        drawText(painter, DrawingKit::flippedRect(line->second, cellHeight), infoForTag(m_udfListLine[i], record),
                 listValueFont(), Qt::black, Qt::AlignLeft, m_udfListLine[i] == 1 ? Qt::ElideMiddle : Qt::ElideRight);
    }
}

QString OVNThumbnail::cutShortTextAt(const QPointF &point, const QSizeF &picture, const MediaRecord &record) const
{
    const qreal cellHeight = std::max(1, int(std::lround(m_height)));
    const Geometry g = geometryForPicture(picture);
    const auto at = [&](const QRectF &rect, const QString &text, const QFont &font) {
        const QRectF qtRect = DrawingKit::flippedRect(rect, cellHeight);
        return qtRect.contains(point) && isCutShort(text, font, qtRect.width());
    };
    if (m_udfLayoutSelection == 1 && g.listPanel.isValid()) {
        for (int i = 0; i < 7; ++i) {
            const auto line = listLineRects(g.listPanel, i);
            if (!line)
                continue;
            if (const QString title = titleForTag(m_udfListLine[i]); at(line->first, title, listTitleFont()))
                return title;
            if (const QString value = infoForTag(m_udfListLine[i], record); at(line->second, value, listValueFont()))
                return value;
        }
    }
    const std::pair<const Bar *, QRectF> bars[] = {
        {&m_nameBar, g.nameBar}, {&m_topBar, g.topBar}, {&m_bottomBar, g.bottomBar}};
    for (const auto &[bar, rect] : bars) {
        if (!bar->enabled)
            continue;
        for (const int fieldCode : {bar->left, bar->middle, bar->right}) {
            if (const QString text = barFieldText(fieldCode, record); at(rect, text, bar->font))
                return text;
        }
    }
    return QString();
}

void OVNThumbnail::drawShadow(QPainter &painter, const QRectF &target) const
{
    const int w = int(std::lround(target.width()));
    const int h = int(std::lround(target.height()));
    if (w <= 0 || h <= 0)
        return;
    const quint64 key = (quint64(quint32(w)) << 32) | quint32(h);
    auto it = m_shadowCache.find(key);
    if (it == m_shadowCache.end()) {
        QImage mask(w, h, QImage::Format_ARGB32_Premultiplied);
        mask.fill(Qt::black);
        if (m_shadowCache.size() > 64)
            m_shadowCache.clear();
        it = m_shadowCache.insert(key, DrawingKit::softShadow(mask, 2.0, m_udfShadowColor));
    }
    const int margin = DrawingKit::shadowMargin(2.0);
    // Offset (2, -2) with y up: right and down.
    painter.drawImage(QPointF(target.x() + 2 - margin, target.y() + 2 - margin), it.value());
}

QImage OVNThumbnail::createThumbnailForImage(const QImage &image, const MediaRecord &record)
{
    const int w = std::max(1, int(std::lround(m_width)));
    const int h = std::max(1, int(std::lround(m_height)));
    QImage cell(w, h, QImage::Format_ARGB32_Premultiplied);
    cell.fill(m_udfBackgroundColor);
    QPainter painter(&cell);
    const qreal H = h;

    const Geometry g = geometryForPicture(image.isNull() ? QSizeF() : QSizeF(image.size()));
    if (m_udfLayoutSelection == 1)
        drawInfoRect(painter, H, g.listPanel, record);

    if (m_udfEnableFrame && m_udfFrameDrawBackground) {
        const QRectF fill(g.frame.x(), g.frame.y(), g.frame.width(), g.frame.height() - 1);
        painter.fillRect(DrawingKit::flippedRect(fill, H), m_udfFrameBackgroundColor);
    }
    if (!image.isNull()) {
        const QRectF target = DrawingKit::flippedRect(g.fitted, H);
        if (m_udfEnableShadow)
            drawShadow(painter, target);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, image);
    }
    if (m_udfEnableFrame)
        DrawingKit::frameRect(painter, DrawingKit::flippedRect(g.frame, H), m_udfFrameColor);
    if (m_topBar.enabled)
        drawBar(painter, H, m_topBar, g.topBar, record);
    if (m_bottomBar.enabled)
        drawBar(painter, H, m_bottomBar, g.bottomBar, record);
    if (m_nameBar.enabled)
        drawBar(painter, H, m_nameBar, g.nameBar, record);
    return cell;
}
