#include "app/OVNAssetPreviewImage.h"

#include <QPainter>

#include <algorithm>

namespace {
constexpr int margin = 8;
constexpr int ratingBand = 18;
} // namespace

OVNAssetPreviewImage::OVNAssetPreviewImage(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(32, 32);
}

void OVNAssetPreviewImage::setBackgroundColor(const QColor &color)
{
    m_background = color;
    update();
}

void OVNAssetPreviewImage::setImage(const QImage &image, int rating)
{
    m_image = image;
    m_rating = std::clamp(rating, 0, 5);
    update();
}

void OVNAssetPreviewImage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_background);
    if (m_image.isNull())
        return;
    const QRect area = rect().adjusted(margin, margin, -margin, -(margin + ratingBand));
    if (area.width() <= 0 || area.height() <= 0)
        return;
    const QSize size = m_image.size().scaled(area.size(), Qt::KeepAspectRatio);
    const QRect target(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2,
                       size.width(), size.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_image);
    painter.setPen(QColor(0, 0, 0, 60));
    painter.drawRect(target.adjusted(0, 0, -1, -1));
    if (m_rating > 0) {
        QFont font = painter.font();
        font.setPixelSize(13);
        painter.setFont(font);
        painter.setPen(QColor(90, 90, 90));
        painter.drawText(QRect(0, target.bottom() + 3, width(), ratingBand), Qt::AlignHCenter | Qt::AlignTop,
                         QString(m_rating, QChar(0x2605)));
    }
}
