#include "browser/OVNThumbnail.h"

#include "browser/OVNMediaViewSorting.h"
#include "browser/OVNThumbnailHelper.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "formats/OVNOrientation.h"
#include "platform/MediaRecord.h"
#include "uikit/DrawingKit.h"
#include "platform/CatalogNames.h"

#include <QFontMetricsF>
#include <QPainter>

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

// ---- fields ----

QList<OVNCellField> OVNThumbnail::barFields(const Bar &bar, const MediaRecord &record) const
{
    QList<OVNCellField> fields;
    const std::pair<int, OVNCellField::Place> places[] = {
        {bar.left, OVNCellField::Left}, {bar.middle, OVNCellField::Middle}, {bar.right, OVNCellField::Right}};
    for (const auto &[fieldCode, place] : places) {
        OVNCellField field;
        field.code = fieldCode;
        field.place = place;
        switch (fieldCode) {
        case 0:
            continue;
        case 2:
            if (!OVNThumbnailHelper::isMovieFileType(record.string(QStringLiteral("filetype"))))
                continue;
            field.kind = OVNCellField::Kind::MovieSign;
            break;
        case 3:
            field.kind = OVNCellField::Kind::Rating;
            field.rating = OVNThumbnailHelper::drawnRating(record.string(QStringLiteral("rating")));
            break;
        default:
            field.whole = barFieldText(fieldCode, record);
            if (fieldCode == 1)
                field.elide = Qt::ElideMiddle; // the name's number and extension stay
            break;
        }
        fields.append(field);
    }
    return fields;
}

QList<OVNThumbnail::FieldRow> OVNThumbnail::fieldRows(const Geometry &g, const MediaRecord &record) const
{
    const qreal cellHeight = std::max(1, int(std::lround(m_height)));
    const QRectF cell(0, 0, std::max(1, int(std::lround(m_width))), cellHeight);
    QList<FieldRow> rows;
    if (m_udfLayoutSelection == 1 && g.listPanel.width() > 0 && g.listPanel.height() > 0) {
        for (int i = 0; i < 7; ++i) {
            const auto line = listLineRects(g.listPanel, i);
            if (!line)
                continue;
            const int fieldCode = m_udfListLine[i];
            OVNCellField title;
            title.place = OVNCellField::Right;
            title.whole = titleForTag(fieldCode);
            title.elide = Qt::ElideRight;
            OVNCellField value;
            value.whole = infoForTag(fieldCode, record);
            // A name keeps its number and extension, the size line is numbers, other texts end cut.
            value.elide = fieldCode == 1 ? Qt::ElideMiddle : fieldCode == 3 ? Qt::ElideNone : Qt::ElideRight;
            FieldRow titleRow{DrawingKit::flippedRect(line->first, cellHeight), false, {}, Qt::black, {title}};
            FieldRow valueRow{DrawingKit::flippedRect(line->second, cellHeight), false, {}, Qt::black, {value}};
            OVNCellFields::layoutRow(titleRow.fields, titleRow.rect, listTitleFont());
            OVNCellFields::layoutRow(valueRow.fields, valueRow.rect, listValueFont());
            rows << titleRow << valueRow;
        }
    }
    // The bars in drawing order; the name bar's texts keep inside the cell, which it runs past.
    const std::pair<const Bar *, QRectF> bars[] = {
        {&m_topBar, g.topBar}, {&m_bottomBar, g.bottomBar}, {&m_nameBar, g.nameBar}};
    QList<QRectF> taken;
    for (const auto &[bar, rect] : bars)
        if (bar->enabled)
            taken.append(DrawingKit::flippedRect(rect, cellHeight));
    const QRectF frame = DrawingKit::flippedRect(g.frame, cellHeight);
    // Over a picture too low for both info bars one gives way: the bottom one, unless only it
    // holds a movie's sign, which a movie's cell always shows.
    const Bar *givesWay = nullptr;
    if (m_topBar.enabled && m_bottomBar.enabled
        && DrawingKit::flippedRect(g.bottomBar, cellHeight).intersects(DrawingKit::flippedRect(g.topBar, cellHeight))) {
        const auto holdsSign = [&](const Bar &bar) {
            const QList<OVNCellField> fields = barFields(bar, record);
            return std::any_of(fields.begin(), fields.end(),
                               [](const OVNCellField &field) { return field.kind == OVNCellField::Kind::MovieSign; });
        };
        givesWay = holdsSign(m_bottomBar) && !holdsSign(m_topBar) ? &m_topBar : &m_bottomBar;
    }
    for (const auto &[bar, rect] : bars) {
        if (!bar->enabled)
            continue;
        const QRectF barRect = DrawingKit::flippedRect(rect, cellHeight);
        FieldRow row{barRect.intersected(cell), bar != givesWay, bar->background, bar->fontColor,
                     barFields(*bar, record)};
        // Over a narrow (portrait) picture a bar may hold the squares or the rest, not both: the
        // squares then get a row of their own inside the picture, where nothing else lies; and
        // so does the movie sign where it would leave the duration no room, the next row on.
        int ownRows = 0;
        for (const OVNCellField::Kind kind : {OVNCellField::Kind::Rating, OVNCellField::Kind::MovieSign}) {
            const auto mover = std::find_if(row.fields.begin(), row.fields.end(), [kind](const OVNCellField &field) {
                return field.kind == kind && (kind != OVNCellField::Kind::Rating || field.rating > 0);
            });
            if (bar == &m_nameBar || bar == givesWay || mover == row.fields.end()
                || OVNCellFields::fitsWhole(row.fields, row.rect, bar->font))
                continue;
            const qreal step = barRect.height() * (ownRows + 1);
            const QRectF own = bar == &m_topBar ? barRect.translated(0, step) : barRect.translated(0, -step);
            const bool free = frame.contains(own)
                              && std::none_of(taken.cbegin(), taken.cend(),
                                              [&](const QRectF &other) { return other.intersects(own); });
            if (!free)
                continue;
            FieldRow moved{own, true, bar->background, bar->fontColor, {*mover}};
            row.fields.erase(mover);
            OVNCellFields::layoutRow(moved.fields, moved.rect, bar->font);
            rows.append(moved);
            taken.append(own);
            ++ownRows;
        }
        OVNCellFields::layoutRow(row.fields, bar == givesWay ? QRectF() : row.rect, bar->font);
        rows.append(row);
    }
    return rows;
}

QList<OVNCellField> OVNThumbnail::cellFields(const QSizeF &picture, const MediaRecord &record) const
{
    QList<OVNCellField> fields;
    for (const FieldRow &row : fieldRows(geometryForPicture(picture), record))
        fields.append(row.fields);
    return fields;
}

QString OVNThumbnail::cutShortTextAt(const QPointF &point, const QSizeF &picture, const MediaRecord &record) const
{
    for (const FieldRow &row : fieldRows(geometryForPicture(picture), record)) {
        if (!row.rect.contains(point))
            continue;
        for (const OVNCellField &field : row.fields) {
            if (field.kind == OVNCellField::Kind::Text && field.isCutShort()
                && (!field.isShown() || field.rect.contains(point)))
                return field.whole;
        }
    }
    return QString();
}

// ---- drawing ----

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
    if (m_udfLayoutSelection == 1 && g.listPanel.width() > 0 && g.listPanel.height() > 0) {
        const QRectF panel = DrawingKit::flippedRect(g.listPanel, H);
        painter.fillRect(panel, QColor::fromRgbF(0.9f, 0.9f, 0.9f, 1.0f));
        DrawingKit::frameRect(painter, panel, Qt::black);
    }

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
    for (const FieldRow &row : fieldRows(g, record)) {
        if (row.filled)
            painter.fillRect(row.rect, row.background);
        OVNCellFields::draw(painter, row.fields, row.color);
    }
    return cell;
}
