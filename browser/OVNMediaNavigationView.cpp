#include "browser/OVNMediaNavigationView.h"

#include "decoding/MoviePlayer.h"
#include "uikit/OVNBezierPath.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
// The bar's ends are half circles: the knob travels between their centres.
int halfHeight(QSize size) { return size.height() / 2; }
int travel(QSize size) { return size.width() - 2 * halfHeight(size); }
} // namespace

OVNMediaNavigationView::OVNMediaNavigationView(QWidget *parent) : QWidget(parent) { buildTimeScale(); }

void OVNMediaNavigationView::setMovie(MoviePlayer *movie)
{
    m_movie = movie;
    buildTimeScale();
    update();
}

double OVNMediaNavigationView::knobX(MovieTime current, MovieTime duration, QSize size)
{
    const double total = duration.seconds();
    const int t = travel(size);
    if (!(total > 0.0) || t <= 0)
        return 0.0;
    return std::clamp(current.seconds() / total, 0.0, 1.0) * t;
}

std::optional<MovieTime> OVNMediaNavigationView::seekTime(double x, MovieTime duration, QSize size)
{
    const int t = travel(size);
    if (t <= 0 || duration.timeScale <= 0)
        return std::nullopt;
    const qint64 wholeSeconds = duration.timeValue / duration.timeScale;
    const double at = (x - halfHeight(size)) * double(wholeSeconds) / t;
    const qint64 second = std::clamp<qint64>(qint64(std::trunc(at)), 0, std::max<qint64>(0, wholeSeconds));
    return MovieTime{second * duration.timeScale, duration.timeScale};
}

void OVNMediaNavigationView::buildTimeScale()
{
    const QSize s = size();
    if (s.isEmpty()) {
        m_scaleBuffer = QImage();
        return;
    }
    m_scaleBuffer = QImage(s, QImage::Format_ARGB32_Premultiplied);
    const QColor tint = QColor::fromRgbF(0.2f, 0.2f, 0.2f, 0.3f);
    m_scaleBuffer.fill(tint);
    QPainter painter(&m_scaleBuffer);
    painter.setRenderHint(QPainter::Antialiasing);
    const OVNBezierPath bar =
        OVNBezierPath::bezierPathWithRoundedRect(QRectF(1, 1, s.width() - 2, s.height() - 2), float(halfHeight(s)));
    painter.fillPath(bar, tint);
    painter.strokePath(bar, QPen(Qt::black, 2.0));
}

void OVNMediaNavigationView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    buildTimeScale();
}

void OVNMediaNavigationView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // Over what the controller shows behind it: the bar is translucent.
    if (!m_scaleBuffer.isNull())
        painter.drawImage(0, 0, m_scaleBuffer);
    if (!m_movie)
        return;
    const QSize s = size();
    const double x = knobX(m_movie->currentTime(), m_movie->duration(), s);
    const int h = s.height();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawEllipse(QRectF(x + h / 2 - (h + 1) / 2, 1, h - 2, h - 2));
}

void OVNMediaNavigationView::mousePressEvent(QMouseEvent *event)
{
    if (!m_movie) {
        event->ignore();
        return;
    }
    if (const auto time = seekTime(event->position().x(), m_movie->duration(), size()))
        m_movie->setCurrentTime(*time);
    event->accept();
}
