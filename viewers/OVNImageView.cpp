#include "viewers/OVNImageView.h"

#include "platform/Localized.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

bool isQuarterTurn(int rotation) { return rotation == 90 || rotation == 270; }

bool isKnownRotation(int rotation) { return rotation == 0 || rotation == 90 || rotation == 180 || rotation == 270; }

QSizeF turnedSize(QSizeF size, int rotation) { return isQuarterTurn(rotation) ? size.transposed() : size; }

// A large reduction in one smooth pass costs the GUI thread too much on a camera's picture: a fast
// pass to twice the size first leaves the smooth one little to do.
QImage scaledForScreen(const QImage &image, QSize size)
{
    QImage source = image;
    if (source.width() > 4 * size.width() && source.height() > 4 * size.height())
        source = source.scaled(size * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

OVNImageView::OVNImageView(QWidget *parent) : QWidget(parent)
{
    m_visibleSize = m_scrollerSize = QSizeF(size());
    setFocusPolicy(Qt::ClickFocus);
}

void OVNImageView::setImage(const QImage &image, const QImage &screen)
{
    m_image = image;
    m_screen = screen;
    m_scaled = QPixmap();
    update();
}

void OVNImageView::setZoomType(int type)
{
    m_zoom = type;
    if (type == ActualSize)
        m_zoomFactor = 1.0f;
}

void OVNImageView::setVisibleSize(const QSizeF &size)
{
    m_visibleSize = size;
    resize(size.toSize());
}

QSizeF OVNImageView::currentViewSize() const
{
    if (m_zoom == Fit)
        return m_scrollerSize;
    QSizeF needed = m_image.isNull() ? QSizeF() : QSizeF(m_image.size());
    if (m_zoom == Free)
        needed *= m_zoomFactor;
    return turnedSize(needed, m_rotation);
}

void OVNImageView::setShowLoadingTag(bool on)
{
    m_loading = on;
    update();
}

void OVNImageView::setSelected(bool selected)
{
    m_selected = selected;
    update();
}

int OVNImageView::rotatedLeft(int degrees) { return isKnownRotation(degrees) ? (degrees + 270) % 360 : degrees; }

int OVNImageView::rotatedRight(int degrees) { return isKnownRotation(degrees) ? (degrees + 90) % 360 : degrees; }

float OVNImageView::fitFactor(QSizeF imageSize, int rotation, QSizeF visible)
{
    const QSizeF turned = turnedSize(imageSize, rotation);
    if (turned.isEmpty())
        return 1.0f;
    const float factor =
        std::min(float(visible.width()) / float(turned.width()), float(visible.height()) / float(turned.height()));
    return std::min(factor, maximumFitFactor);
}

float OVNImageView::centringShift(double length, double visibleLength)
{
    const double picture = std::abs(std::trunc(length));
    const double room = std::abs(std::trunc(visibleLength));
    return room > picture ? float(std::trunc((room - picture) / 2)) : 0.0f;
}

QRectF OVNImageView::pictureRect(QSizeF imageSize, int rotation, float factor, QSizeF visible)
{
    if (factor <= 0)
        return {};
    const QSizeF scaledVisible = visible / factor;
    QSizeF turned = turnedSize(imageSize, rotation);
    double x = 0, yUp = 0;
    if (isKnownRotation(rotation)) {
        x = centringShift(turned.width(), scaledVisible.width());
        yUp = centringShift(turned.height(), scaledVisible.height());
    } else {
        turned = imageSize;
    }
    // Measured from the bottom edge upwards as designed; Qt counts from the top down.
    const double yDown = scaledVisible.height() - yUp - turned.height();
    return QRectF(x * factor, yDown * factor, turned.width() * factor, turned.height() * factor);
}

float OVNImageView::effectiveFactor() const
{
    switch (m_zoom) {
    case ActualSize:
        return 1.0f;
    case Fit:
        return m_image.isNull() ? m_zoomFactor : fitFactor(m_image.size(), m_rotation, m_visibleSize);
    default:
        return m_zoomFactor;
    }
}

QRectF OVNImageView::loadingTagBox(const QSizeF &textSize, const QRectF &shown)
{
    QRectF box(0, 0, std::min(textSize.width() + 20, shown.width()), std::min(textSize.height() + 12, shown.height()));
    box.moveCenter(shown.center());
    box.moveTopLeft(QPointF(std::ceil(box.left()), std::ceil(box.top())));
    return box.intersected(shown);
}

void OVNImageView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), m_background);
    if (!m_image.isNull()) {
        const float factor = effectiveFactor();
        if (m_zoom == Fit)
            m_zoomFactor = factor;
        const QRectF target = pictureRect(m_image.size(), m_rotation, factor, m_visibleSize);
        const QSize pixels = target.size().toSize();
        const int turn = isKnownRotation(m_rotation) ? m_rotation : 0;
        const qint64 key = m_image.cacheKey() ^ (qint64(turn) << 56);
        if (!pixels.isEmpty() && (m_scaled.isNull() || m_scaledFor != pixels || m_scaledKey != key)) {
            // Scaled unturned first, then the small picture turned.
            const QSize unturned = isQuarterTurn(turn) ? pixels.transposed() : pixels;
            const QSize slack = m_screen.size() - unturned;
            QImage scaled = !m_screen.isNull() && std::abs(slack.width()) <= 1 && std::abs(slack.height()) <= 1
                                ? m_screen
                                : scaledForScreen(m_image, unturned);
            if (turn)
                scaled = scaled.transformed(QTransform().rotate(turn));
            m_scaled = QPixmap::fromImage(scaled);
            m_scaledFor = pixels;
            m_scaledKey = key;
        }
        if (!m_scaled.isNull())
            painter.drawPixmap(target, m_scaled, QRectF(m_scaled.rect()));
    }
    if (m_loading) {
        QFont font(QStringLiteral("Helvetica"));
        font.setPointSizeF(14);
        painter.setFont(font);
        const QString text = localized("Loading media file...");
        const QFontMetricsF metrics(font);
        // In the part of the view that shows: inside a scroller the view may be far larger.
        const QRect shown = visibleRegion().boundingRect();
        const QRectF box = loadingTagBox(metrics.size(Qt::TextSingleLine, text), shown.isEmpty() ? rect() : shown);
        const QRectF textRect = box.adjusted(10, 6, -10, -6);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(0.5, 0.5, 0.5, 0.3));
        painter.drawRoundedRect(box, 5, 5);
        painter.setPen(Qt::white);
        painter.drawText(textRect, Qt::AlignCenter, metrics.elidedText(text, Qt::ElideRight, textRect.width()));
    }
    if (m_selected) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, 2));
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}

void OVNImageView::mousePressEvent(QMouseEvent *event)
{
    setSelected(true);
    if (m_selectionDidChange)
        m_selectionDidChange(this);
    event->accept();
}
