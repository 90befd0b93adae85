#include "browser/OVNPlainThumbnailRenderer.h"

#include "platform/MediaRecord.h"

#include <QFont>
#include <QPainter>

#include <cmath>

namespace {
constexpr int border = 4;
constexpr int titleHeight = 15;
constexpr int titleDistance = 5;
}

QImage OVNPlainThumbnailRenderer::createThumbnailForImage(const QImage &image, const MediaRecord &record)
{
    const int w = std::max(1, int(std::lround(m_width)));
    const int h = std::max(1, int(std::lround(m_height)));
    QImage cell(w, h, QImage::Format_ARGB32_Premultiplied);
    cell.fill(Qt::transparent);
    QPainter painter(&cell);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    const QRectF area(border, border, w - 2 * border, h - 2 * border - titleHeight - titleDistance);
    if (!image.isNull() && area.width() > 0 && area.height() > 0) {
        const double scale = std::min(area.width() / image.width(), area.height() / image.height());
        const QSizeF drawn(image.width() * scale, image.height() * scale);
        const QRectF target(area.x() + (area.width() - drawn.width()) / 2,
                            area.y() + (area.height() - drawn.height()) / 2, drawn.width(), drawn.height());
        painter.drawImage(target, image);
    }
    QFont font(QStringLiteral("Helvetica"));
    font.setBold(true);
    font.setPixelSize(11);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QRectF titleRect(border, h - border - titleHeight, w - 2 * border, titleHeight);
    const QString title = painter.fontMetrics().elidedText(record.field(MediaRecord::DisplayTag), Qt::ElideMiddle,
                                                           int(titleRect.width()));
    painter.drawText(titleRect, Qt::AlignHCenter | Qt::AlignVCenter, title);
    return cell;
}
