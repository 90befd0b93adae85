#include "viewers/OVNSlideShowView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

#include <algorithm>
#include <cmath>

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
    const QRectF slide = m_imageBuffer.isNull()
                             ? QRectF()
                             : slideRect(QSizeF(m_imageBuffer.size()) / m_imageBuffer.devicePixelRatio(), size());
    // Black only around an opaque slide: filling the whole screen first costs a step as much
    // memory traffic again as drawing the slide.
    QRegion black(event->rect());
    if (!slide.isEmpty() && !m_imageBuffer.hasAlphaChannel()) {
        const QPoint topLeft(int(std::ceil(slide.left())), int(std::ceil(slide.top())));
        const QPoint bottomRight(int(std::floor(slide.right())) - 1, int(std::floor(slide.bottom())) - 1);
        black -= QRect(topLeft, bottomRight);
    }
    for (const QRect &rect : black)
        painter.fillRect(rect, Qt::black);
    if (m_imageBuffer.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(slide, m_imageBuffer);
    if (!m_status.isEmpty()) {
        QFont font(QStringLiteral("Helvetica"));
        font.setBold(true);
        font.setPixelSize(11);
        painter.setFont(font);
        painter.setPen(Qt::white);
        const QRect text = painter.fontMetrics().boundingRect(m_status);
        painter.drawText(QRect(QPoint(5, height() - 5 - text.height()), text.size()), Qt::AlignLeft | Qt::AlignBottom,
                         m_status);
    }
    if (m_newSlide) {
        m_newSlide = false;
        emit slidePainted();
    }
}
