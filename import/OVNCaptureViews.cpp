#include "import/OVNCaptureViews.h"

#include "platform/Localized.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

OVNDeviceSelectionView::OVNDeviceSelectionView(QWidget *parent) : QWidget(parent) { setDefaultDeviceIcon(); }

QImage OVNDeviceSelectionView::defaultPicture(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width();
    const qreal h = size.height();
    const QRectF body(w * 0.15, h * 0.35, w * 0.7, h * 0.45);
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(QColor(90, 90, 95));
    p.drawRoundedRect(QRectF(w * 0.38, h * 0.27, w * 0.24, h * 0.1), 2, 2);
    p.drawRoundedRect(body, 4, 4);
    p.setBrush(QColor(40, 40, 45));
    const qreal lens = std::min(body.width(), body.height()) * 0.7;
    p.drawEllipse(body.center(), lens / 2, lens / 2);
    p.setBrush(QColor(120, 140, 170));
    p.drawEllipse(body.center(), lens / 4, lens / 4);
    return image;
}

void OVNDeviceSelectionView::setDefaultDeviceIcon()
{
    m_picture = defaultPicture(size().isEmpty() ? QSize(64, 64) : size());
}

QRectF OVNDeviceSelectionView::fittedRect(QSizeF picture, QSizeF bounds)
{
    if (picture == bounds || picture.isEmpty())
        return QRectF(QPointF(0, 0), bounds);
    const qreal scale = std::min(bounds.width() / picture.width(), bounds.height() / picture.height());
    const QSizeF drawn = picture * scale;
    return QRectF(QPointF((bounds.width() - drawn.width()) / 2, (bounds.height() - drawn.height()) / 2), drawn);
}

void OVNDeviceSelectionView::setDeviceIcon(const QImage &icon)
{
    if (icon.isNull()) {
        setDefaultDeviceIcon();
    } else {
        QImage picture(size(), QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        QPainter p(&picture);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(fittedRect(icon.size(), size()), icon);
        m_picture = picture;
    }
    update();
}

void OVNDeviceSelectionView::setDeviceIconWithPath(const QString &path) { setDeviceIcon(QImage(path)); }

void OVNDeviceSelectionView::setDeviceCount(int count)
{
    m_count = count;
    update();
}

void OVNDeviceSelectionView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.drawImage(0, 0, m_picture);
    p.fillRect(QRectF(0, 0, width(), 14), QColor(128, 128, 128, 77));
    if (m_count != 0) {
        QFont font(QStringLiteral("Helvetica"));
        font.setBold(true);
        font.setPixelSize(11);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(QRectF(0, 0, width(), 14), Qt::AlignCenter,
                   QString::number(m_count) + (m_count == 1 ? localized(" Device") : localized(" Devices")));
    }
    p.setPen(palette().color(QPalette::Mid));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

OVNLastImportImageView::OVNLastImportImageView(QSize size, QWidget *parent)
    : QWidget(parent),
      m_buffer(size, QImage::Format_RGB32)
{
    setFixedSize(size);
    m_buffer.fill(Qt::black);
}

QRectF OVNLastImportImageView::destinationRect(QSizeF image, QSizeF buffer)
{
    QRectF dest(QPointF(0, 0), buffer);
    if (image.isEmpty() || (image.width() <= buffer.width() && image.height() <= buffer.height()))
        return dest;
    const qreal r = image.width() / image.height();
    if (buffer.height() > buffer.width() / r)
        dest.setHeight(buffer.width() / r);
    else
        dest.setWidth(buffer.height() * r);
    dest.moveCenter(QPointF(buffer.width() / 2, buffer.height() / 2));
    return dest;
}

void OVNLastImportImageView::setImage(const QImage &image)
{
    m_buffer.fill(Qt::black);
    if (image.isNull())
        return;
    QPainter p(&m_buffer);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(destinationRect(image.size(), m_buffer.size()), image);
    p.setPen(Qt::black);
    p.drawRect(m_buffer.rect().adjusted(0, 0, -1, -1));
}

void OVNLastImportImageView::setText(const QString &text, bool display)
{
    QFont font(QStringLiteral("Helvetica"));
    font.setPixelSize(14);
    const QFontMetricsF metrics(font);
    const QSizeF textSize = metrics.size(0, text);
    const QRectF textRect((m_buffer.width() - textSize.width()) / 2, (m_buffer.height() - textSize.height()) / 2,
                          textSize.width(), textSize.height());
    QPainter p(&m_buffer);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath back;
    back.addRoundedRect(textRect.adjusted(-10, -6, 10, 6), 5, 5);
    p.fillPath(back, QColor::fromRgbF(0.5, 0.5, 0.5, 0.3));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(textRect, Qt::AlignCenter, text);
    if (display)
        update();
}

void OVNLastImportImageView::paintEvent(QPaintEvent *) { QPainter(this).drawImage(0, 0, m_buffer); }
