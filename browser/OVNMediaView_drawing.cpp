// The thumbnail view's drawing: the cells of the exposed rows, stack and rating markers, the
// selection frames, the compact style of the express panel, the film roll, the messages and the
// rubber band.
//
// The cells were designed with y growing upward from each cell's bottom edge; the offsets below
// keep those numbers and `up()` turns them into the document's Qt coordinates.
#include "browser/OVNMediaView.h"

#include "browser/OVNMediaViewSorting.h"
#include "browser/OVNThumbnailHelper.h"
#include "browser/OVNThumbnailRenderer.h"
#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "platform/Localized.h"
#include "uikit/DrawingKit.h"
#include "uikit/OVNBezierPath.h"
#include "platform/CatalogNames.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <QScrollBar>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

const QString keyGroup = QStringLiteral("group");
const QString keyKeyframe = QStringLiteral("keyframe");
using CatalogNames::keyRating;

QColor grey(float level) { return QColor::fromRgbF(level, level, level, 1.0f); }

// A rectangle given from a cell's bottom edge upward (absolute x) in document coordinates.
QRectF up(const QRectF &cell, qreal x, qreal yUp, qreal width, qreal height)
{
    return QRectF(x, cell.bottom() - yUp - height, width, height);
}

QPointF up(const QRectF &cell, qreal x, qreal yUp) { return QPointF(x, cell.bottom() - yUp); }

// A frame `width` points wide inside a rectangle.
void strokeInside(QPainter &painter, const QRectF &rect, const QColor &color, qreal width)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    const qreal w = std::min(width, rect.width() / 2);
    const qreal h = std::min(width, rect.height() / 2);
    painter.fillRect(QRectF(rect.x(), rect.y(), rect.width(), h), color);
    painter.fillRect(QRectF(rect.x(), rect.bottom() - h, rect.width(), h), color);
    painter.fillRect(QRectF(rect.x(), rect.y() + h, w, rect.height() - 2 * h), color);
    painter.fillRect(QRectF(rect.right() - w, rect.y() + h, w, rect.height() - 2 * h), color);
}

int intValue(const QVariant &value)
{
    return int(std::clamp(OVNHelper::leadingDouble(value.toString().trimmed()), -2147483648.0, 2147483647.0));
}

} // namespace

void OVNMediaView::drawRatingMarker(QPainter &painter, int rating, const QRectF &rect)
{
    const int squares = std::min(rating, 5);
    const qreal s = std::ceil(rect.height() / 2);
    for (int i = 0; i < squares; ++i) {
        const QRectF square(rect.x() + i * (s + 1), rect.y() + 1, s, s);
        painter.fillRect(square, DrawingKit::whiteColor());
        DrawingKit::frameRect(painter, square, DrawingKit::selectedControlColor());
    }
}

void OVNMediaView::drawCenteredText(QPainter &painter, const QString &text)
{
    QFont font(DrawingKit::installedFamily(QStringLiteral("Helvetica")));
    font.setPixelSize(12);
    const QSizeF size = QFontMetricsF(font).size(0, text);
    const QSizeF frame(viewport()->size());
    const qreal tx = std::ceil((frame.width() - size.width()) / 2);
    const qreal ty = std::ceil((frame.height() - size.height()) / 2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(
        OVNBezierPath::bezierPathWithRoundedRect(QRectF(tx - 10, ty - 6, size.width() + 20, size.height() + 12), 5),
        QColor::fromRgbF(0.6f, 0.67f, 0.77f, 1.0f));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(tx, ty, size.width(), size.height()), Qt::AlignCenter, text);
    painter.restore();
}

QString OVNMediaView::emptySetMessage() const
{
    return m_emptysetmessage.isEmpty() ? localized("Empty Imageset") : m_emptysetmessage;
}

QRectF OVNMediaView::rubberBandRect() const
{
    return m_isdragging ? getDragSelectionRectFrom(m_lastclickloc, m_lastdragloc) : QRectF();
}

// ---- repaint ----

void OVNMediaView::paintEvent(QPaintEvent *event)
{
    m_painting = true;
    const auto painted = qScopeGuard([this] { m_painting = false; });
    QPainter painter(viewport());
    painter.fillRect(event->rect(), m_backgroundcolor);

    if (doesThumbnailLayoutNeedRecalcWithFrame(QSizeF(viewport()->size())))
        resizeFrameToFitMediaContainer();

    const QPointF offset(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QRectF exposed = QRectF(event->rect()).translated(offset);

    if (m_mediaContainer.isEmpty()) {
        if (m_showemptysetmessage)
            drawCenteredText(painter, emptySetMessage());
    } else if (m_frame.width() < m_thumbnailWidth + m_thumbnailDistance) {
        drawCenteredText(painter, localized("Thumbnails too large!"));
    } else if (m_thumbnailHeight > 0) {
        painter.save();
        painter.translate(-offset);
        painter.setClipRect(exposed);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, m_thumbnailQuality > 1);
        const int columns = std::max(1, m_grid.columns);
        const int firstLine = std::max(0, int(std::floor(exposed.top() / m_thumbnailHeight)));
        const int lastLine = int(std::floor(std::nextafter(exposed.bottom(), exposed.top()) / m_thumbnailHeight));
        const int n = count();
        applyThumbnailCacheLimits();
        QElapsedTimer clock;
        clock.start();
        const qint64 deadline = m_loadBudgetMs > 0 ? m_loadBudgetMs : -1;
        bool deferred = false;
        for (int line = firstLine; line <= lastLine; ++line) {
            for (int column = 0; column < columns; ++column) {
                const int row = line * columns + column;
                const QRectF cell = imageRect(row);
                if (!cell.adjusted(-m_thumbnailDistance - 2, 0, 0, 0).intersects(exposed))
                    continue;
                if (m_inLiveResize) {
                    DrawingKit::frameRect(painter, cell, DrawingKit::lightGrayColor());
                    continue;
                }
                if (row >= n)
                    break;
                const qint64 left = deadline < 0 ? -1 : std::max<qint64>(0, deadline - clock.elapsed());
                const QImage image = imageForDrawing(row, left, &deferred);
                const MediaRecordRef record = m_mediaContainer.at(row);
                const bool selected = isRowSelected(row);
                if (m_displaytype == FilmRollDisplay) {
                    if (!image.isNull()) {
                        painter.save();
                        painter.setCompositionMode(QPainter::CompositionMode_Source);
                        painter.drawImage(cell.topLeft(), makeRollImage(image, record->field(MediaRecord::DisplayTag)));
                        painter.restore();
                        if (selected)
                            strokeInside(painter, cell, m_selectioncolor, 2);
                    }
                    QVariant rating;
                    {
                        QMutexLocker draw(&m_drawlock);
                        rating = record->value(keyRating);
                    }
                    const int value = intValue(rating);
                    if (value > 0)
                        drawRatingMarker(painter, value,
                                         up(cell, cell.x() + 3, m_thumbnailHeight - 25, cell.width(), 12));
                    continue;
                }
                if (!image.isNull())
                    drawThumbnailInRect(painter, cell, image, *record, selected);
                drawStackMarker(painter, cell, *record);
            }
        }
        painter.restore();
        if (deferred) {
            // The cells left blank are drawn as soon as the events that waited have run.
            QTimer::singleShot(0, viewport(), [this] { viewport()->update(); });
        }
    }

    if (m_isdragging) {
        painter.save();
        painter.translate(-offset);
        const QRectF band = rubberBandRect();
        DrawingKit::frameRect(painter, band, DrawingKit::selectedControlColor());
        QColor fill = DrawingKit::selectedControlColor();
        fill.setAlphaF(0.2f);
        painter.fillRect(band, fill);
        painter.restore();
    }
    if (m_currentDragOperation != OVNMediaPasteboard::Operation::None) {
        // The view takes the drag over it.
        painter.setPen(QPen(Qt::blue, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(viewport()->rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

void OVNMediaView::drawThumbnailInRect(QPainter &painter, const QRectF &cell, const QImage &image,
                                       const MediaRecord &record, bool selected)
{
    if (m_thumbnailStyle >= ContactSheetStyle && m_thumbnailStyle <= ListStyle) {
        painter.drawImage(cell.topLeft(), renderedCell(image, record));
        if (selected)
            strokeInside(painter, cell, m_selectioncolor, 2);
    } else if (m_thumbnailStyle == CompactStyle) {
        drawExpressCell(painter, cell, image, record, selected);
    }
}

void OVNMediaView::drawStackMarker(QPainter &painter, const QRectF &cell, const MediaRecord &record)
{
    QVariant group;
    QVariant keyframe;
    {
        QMutexLocker draw(&m_drawlock);
        group = record.value(keyGroup);
        keyframe = record.value(keyKeyframe);
    }
    if (!group.isValid())
        return;
    const int gid = group.toInt();
    const bool isKeyframe = keyframe.isValid() && keyframe.toInt() == 1;
    const qreal x = cell.x();
    const qreal d = m_thumbnailDistance;
    const qreal h = cell.height();
    const QColor band = grey(0.7f);
    painter.save();
    if (!isKeyframe) {
        // Bridges the gap to the previous member and overlaps its cell by 2.
        painter.fillRect(up(cell, x - d - 2, 2, d + 2, h - 4), band);
    } else {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(OVNBezierPath::bezierPathWithLeftRoundedRect(up(cell, x - d + 2, 2, d - 2, h - 4), 3), band);
        painter.setRenderHint(QPainter::Antialiasing, false);
    }
    strokeInside(painter, up(cell, x, 2, cell.width(), h - 4), band, 2);
    QPolygonF triangle;
    if (isGroupCollapsed(gid)) {
        triangle << up(cell, x - d + 4, 6) << up(cell, x - d + 10, 10) << up(cell, x - d + 4, 14);
    } else {
        triangle << up(cell, x - d + 10, 6) << up(cell, x - d + 4, 10) << up(cell, x - d + 10, 14);
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(grey(0.15f), 1));
    painter.setBrush(grey(0.3f));
    painter.drawPolygon(triangle);
    painter.restore();
}

QRectF OVNMediaView::expressPictureRect(const QRectF &cell, const QSize &picture) const
{
    if (picture.width() <= 0 || picture.height() <= 0)
        return QRectF();
    const qreal b = m_thumbboarder;
    const qreal iw = cell.width() - 2 * b;
    const qreal ih = cell.height() - 2 * b - m_thumbnailTitleHeight - m_thumbnailTitleDistance;
    const float scale = std::min(float(iw) / float(picture.width()), float(ih) / float(picture.height()));
    int padX = 0;
    int padY = 0;
    if (scale * picture.width() < iw)
        padX = std::abs(int(iw - scale * picture.width())) / 2;
    if (scale * picture.height() < ih)
        padY = std::abs(int((ih - scale * picture.height()) / 2));
    // From the cell's bottom edge upward: the name strip lies below the picture.
    return up(cell, cell.x() + b + padX, b + m_thumbnailTitleHeight + m_thumbnailTitleDistance + padY, iw - 2 * padX,
              ih - 2 * padY);
}

QList<OVNCellField> OVNMediaView::expressCellFields(const QRectF &cell, const QSize &picture,
                                                    const MediaRecord &record) const
{
    QList<OVNCellField> fields;
    for (const ExpressRow &row : expressRows(cell, picture, record))
        fields.append(row.fields);
    return fields;
}

QList<OVNMediaView::ExpressRow> OVNMediaView::expressRows(const QRectF &cell, const QSize &picture,
                                                          const MediaRecord &record) const
{
    const QRectF r = expressPictureRect(cell, picture);
    if (r.isEmpty())
        return {};
    QString name, fileType, rating, imageWidth, imageHeight, orientation, fileSize;
    {
        QMutexLocker draw(&m_drawlock);
        name = record.field(MediaRecord::DisplayTag);
        fileType = record.field(MediaRecord::FileType);
        rating = record.string(keyRating);
        imageWidth = record.field(MediaRecord::ImageWidth);
        imageHeight = record.field(MediaRecord::ImageHeight);
        orientation = record.field(MediaRecord::Orientation);
        fileSize = record.field(MediaRecord::FileSize);
    }
    const NTTextAttributes &timeTag = m_textAttributes.expressTimeTag;
    const QColor white = timeTag.foregroundColor.value_or(Qt::white);
    const QColor band = QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.3f);
    const auto text = [](const QString &whole, OVNCellField::Place place, const QColor &color) {
        OVNCellField field;
        field.whole = whole;
        field.place = place;
        field.color = color;
        return field;
    };
    QList<ExpressRow> rows;

    // The name under the picture, cut in its middle where it is too long, so that its number and
    // extension stay.
    const qreal b = m_thumbboarder;
    ExpressRow nameRow{QRectF(), QColor(), {text(name, OVNCellField::Middle, DrawingKit::controlTextColor())}};
    nameRow.fields.first().elide = Qt::ElideMiddle;
    OVNCellFields::layoutRow(nameRow.fields, up(cell, cell.x() + b, b, cell.width() - 2 * b, m_thumbnailTitleHeight),
                             m_textAttributes.expressCenteredTag.font);
    rows.append(nameRow);

    // The bottom band: a movie's sign and duration, or a camera RAW file's processor and size.
    ExpressRow bottom{QRectF(r.x(), r.bottom() - 14, r.width(), 14), QColor(), {}};
    const bool movie = OVNThumbnailHelper::isMovieFileType(fileType);
    // A picture too low for both bands keeps one: a movie's the bottom one, with its sign, which
    // a movie's cell always shows; any other the top one.
    const bool crowded = bottom.band.intersects(QRectF(r.x(), r.y(), r.width(), 14));
    if (movie) {
        bottom.fill = band;
        OVNCellField sign;
        sign.kind = OVNCellField::Kind::MovieSign;
        sign.color = Qt::white;
        bottom.fields.append(sign);
        bottom.fields.append(text(OVNThumbnailHelper::durationText(OVNThumbnailHelper::movieDurationSeconds(fileType)),
                                  OVNCellField::Right, white));
    } else {
        const QString processor = m_extensionMapper->getProcessorForExtension(OVNMediaViewSorting::pathExtension(name));
        if (FileTypeCodes::processor(processor).badged) {
            bottom.fill = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.15f);
            const NTTextAttributes &infoTag = m_textAttributes.expressInfoTag;
            bottom.fields.append(text(processor, OVNCellField::Left, infoTag.foregroundColor.value_or(Qt::white)));
            const double size = OVNHelper::leadingDouble(fileSize.trimmed());
            if (size > 0)
                bottom.fields.append(text(QString::asprintf("%.1f MB", size / 1048576.0), OVNCellField::Right, white));
        }
    }

    // The top band: the squares from the left, the pixel size at the right. Where both do not fit,
    // the squares take a band of their own below it, when that leaves the bottom band clear.
    ExpressRow top{QRectF(r.x(), r.y(), r.width(), 14), band, {}};
    QRectF squaresBand; // the squares' own band below it, when they get one
    const QRectF topRow(r.x() + 1, r.y(), r.width() - 2, 13);
    top.fields.append(
        text(OVNThumbnailHelper::uprightSizeText(imageWidth, imageHeight, orientation), OVNCellField::Right, white));
    if (const int stars = OVNThumbnailHelper::drawnRating(rating); stars > 0) {
        OVNCellField squares;
        squares.kind = OVNCellField::Kind::Rating;
        squares.rating = stars;
        squares.side = std::ceil(13.0 / 2);
        const QRectF own = top.band.translated(0, 14);
        const bool bottomUsed = !bottom.fields.isEmpty();
        if (OVNCellFields::fitsWhole(QList<OVNCellField>{squares} + top.fields, topRow, timeTag.font)
            || !r.contains(own) || (bottomUsed && own.intersects(bottom.band)) || (crowded && movie)) {
            top.fields.prepend(squares);
        } else {
            ExpressRow squaresRow{own, band, {squares}};
            OVNCellFields::layoutRow(squaresRow.fields, QRectF(own.x() + 1, own.y(), own.width() - 2, 13),
                                     timeTag.font);
            rows.append(squaresRow);
            squaresBand = own;
        }
    }
    if (crowded && movie)
        top.fill = QColor();
    OVNCellFields::layoutRow(top.fields, top.fill.isValid() ? topRow : QRectF(), timeTag.font);
    rows.append(top);

    if (crowded && !movie)
        bottom.fill = QColor();
    const QRectF bottomRow = bottom.fill.isValid() ? QRectF(r.x(), r.bottom() - 13, r.width() - 1, 13) : QRectF();
    // A movie's sign that would leave its duration no room gets a band of its own above, where the
    // picture is high enough for it.
    if (movie && !bottomRow.isEmpty() && !OVNCellFields::fitsWhole(bottom.fields, bottomRow, timeTag.font)) {
        const QRectF own = bottom.band.translated(0, -14);
        if (r.contains(own) && !own.intersects(top.band) && !own.intersects(squaresBand)) {
            ExpressRow signRow{own, band, {bottom.fields.takeFirst()}};
            OVNCellFields::layoutRow(signRow.fields, QRectF(own.x(), own.bottom() - 13, own.width() - 1, 13),
                                     timeTag.font);
            rows.append(signRow);
        }
    }
    OVNCellFields::layoutRow(bottom.fields, bottomRow, timeTag.font);
    rows.append(bottom);
    return rows;
}

void OVNMediaView::drawExpressCell(QPainter &painter, const QRectF &cell, const QImage &image,
                                   const MediaRecord &record, bool selected)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return;
    const qreal b = m_thumbboarder;
    const QRectF picture = expressPictureRect(cell, image.size());

    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(picture, image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    DrawingKit::frameRect(painter, picture.adjusted(-1, -1, 1, 1), DrawingKit::darkGrayColor());
    if (selected)
        strokeInside(painter, picture.adjusted(-b, -b, b, b), m_selectioncolor, 2);
    for (const ExpressRow &row : expressRows(cell, image.size(), record)) {
        if (row.fill.isValid())
            painter.fillRect(row.band, row.fill);
        OVNCellFields::draw(painter, row.fields, Qt::white);
    }
    painter.restore();
}

// ---- thumbnails for drawing ----

QImage OVNMediaView::renderedCell(const QImage &image, const MediaRecord &record)
{
    static const std::array<MediaRecord::Field, 9> shown = {
        MediaRecord::DisplayTag,  MediaRecord::Rating,   MediaRecord::ImageWidth,
        MediaRecord::ImageHeight, MediaRecord::FileSize, MediaRecord::FileType,
        MediaRecord::Dts,         MediaRecord::FileDts,  MediaRecord::Keywords};
    QMutexLocker draw(&m_drawlock);
    std::array<QString, 10> values;
    for (size_t i = 0; i < shown.size(); ++i)
        values[i] = record.field(shown[i]);
    values[9] = record.field(MediaRecord::FullDesc);
    if (RenderedCell *cached = m_renderedCells.object(&record)) {
        if (cached->pictureKey == image.cacheKey() && cached->values == values)
            return cached->image;
    }
    auto cell = std::make_unique<RenderedCell>();
    cell->pictureKey = image.cacheKey();
    cell->values = std::move(values);
    cell->image = m_thumbCreator->createThumbnailForImage(image, record);
    const QImage result = cell->image;
    const qsizetype kib = std::max<qsizetype>(1, result.sizeInBytes() / 1024);
    m_renderedCells.insert(&record, cell.release(), int(std::min<qsizetype>(kib, 1 << 30)));
    return result;
}

void OVNMediaView::invalidateRenderedCells()
{
    m_renderedCells.clear();
    viewport()->update();
}

QImage OVNMediaView::imageForDrawing(int row, qint64 budgetLeftMs, bool *deferred)
{
    if (row < 0 || row >= count())
        return QImage();
    const MediaRecordRef &record = m_mediaContainer.at(row);
    QImage image;
    if (cachedCellPicture(record, &image))
        return image;
    if (budgetLeftMs == 0) {
        // Out of time for this repaint: the cell stays blank until the next one.
        *deferred = true;
        return QImage();
    }
    return cellPicture(record);
}

// ---- event plumbing of the drawing ----

void OVNMediaView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    resizeFrameToFitMediaContainer();
}

void OVNMediaView::scrollContentsBy(int, int) { viewport()->update(); }

// ---- film roll ----

QImage OVNMediaView::makeRollImage(const QImage &image, const QString &title) const
{
    const int w = int(m_thumbnailWidth);
    const int h = int(m_thumbnailHeight);
    if (w <= 0 || h <= 0)
        return QImage();
    QImage roll(w, h, QImage::Format_ARGB32_Premultiplied);
    roll.fill(m_backgroundcolor);
    QPainter painter(&roll);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_thumbnailQuality > 1);
    // Sprocket holes along both edges, then the black picture area between them.
    for (int x = 2; x < w; x += 12) {
        painter.fillRect(QRectF(x, 3, 4, 6), Qt::white);
        painter.fillRect(QRectF(x, h - 7, 4, 6), Qt::white);
    }
    const QRectF area(2, 12, w, h - 24);
    painter.fillRect(area, Qt::black);
    if (!image.isNull() && image.width() > 0 && image.height() > 0) {
        const double scale = std::min(area.width() / image.width(), area.height() / image.height());
        const double drawnWidth = image.width() * scale;
        const double drawnHeight = image.height() * scale;
        const double insetX = area.width() > drawnWidth ? double(int(area.width() - drawnWidth) / 2) : 0.0;
        const double insetY = area.height() > drawnHeight ? (area.height() - drawnHeight) / 2 : 0.0;
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QRectF(2 + insetX, 12 + insetY, area.width() - 2 * insetX, area.height() - 2 * insetY),
                          image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    const NTTextAttributes &rollTag = m_textAttributes.rollTag;
    painter.setFont(rollTag.font);
    const QRectF titleRect(2, h - 10 - m_thumbnailTitleHeight, w, m_thumbnailTitleHeight);
    DrawingKit::drawLabel(painter, titleRect, int(rollTag.alignment | Qt::AlignVCenter), title,
                          rollTag.foregroundColor.value_or(Qt::white));
    return roll;
}
