#include "viewers/OVNSlideShowView.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

OVNSlideShowView::OVNSlideShowView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void OVNSlideShowView::setImage(const QImage &image)
{
    m_imageBuffer = image;
    m_newSlide = true;
    update();
}

void OVNSlideShowView::setStatus(const QString &status)
{
    m_status = status;
    update();
}

QRectF OVNSlideShowView::slideRect(QSizeF image, QSizeF view, double maxScale)
{
    if (image.isEmpty() || view.isEmpty())
        return {};
    const double scale = std::min({view.width() / image.width(), view.height() / image.height(), maxScale});
    const QSizeF size = image * scale;
    return {QPointF(view.width() / 2 - size.width() / 2, view.height() / 2 - size.height() / 2), size};
}

void OVNSlideShowView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::black);
    if (m_imageBuffer.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const qreal dpr = m_imageBuffer.devicePixelRatio();
    painter.drawImage(slideRect(QSizeF(m_imageBuffer.size()) / dpr, size()), m_imageBuffer);
    if (!m_status.isEmpty()) {
        QFont font(QStringLiteral("Helvetica"));
        font.setBold(true);
        font.setPixelSize(11);
        painter.setFont(font);
        painter.setPen(Qt::white);
        const QRect text = painter.fontMetrics().boundingRect(m_status);
        painter.drawText(QRect(QPoint(5, height() - 5 - text.height()), text.size()), Qt::AlignLeft | Qt::AlignBottom, m_status);
    }
    if (m_newSlide) {
        m_newSlide = false;
        emit slidePainted();
    }
}
