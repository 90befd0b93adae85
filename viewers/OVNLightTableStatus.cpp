#include "viewers/OVNLightTableStatus.h"

#include "uikit/DrawingKit.h"

#include <QFont>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>

#include <cmath>
#include <numbers>

namespace {

// An arc about `centre` from `from` degrees, counter-clockwise (y up) through `sweep` degrees.
QPolygonF arc(QPointF centre, double radius, double from, double sweep)
{
    QPolygonF points;
    const int steps = 48;
    for (int i = 0; i <= steps; ++i) {
        const double a = (from + sweep * i / steps) * std::numbers::pi / 180.0;
        points.append(centre + QPointF(radius * std::cos(a), radius * std::sin(a)));
    }
    return points;
}

} // namespace

QRectF OVNLightTableStatus::regionRect(Region region, double w)
{
    switch (region) {
    case Region::FullResolution:
        return {w - 160, 3, 16, 16};
    case Region::SlideShow:
        return {w - 124, 3, 16, 16};
    case Region::RotateLeft:
        return {w - 91, 3, 20, 16};
    case Region::RotateRight:
        return {w - 67, 3, 20, 16};
    case Region::FullScreen:
        return {w - 32, 3, 16, 16};
    case Region::StyleStrip:
        return {4, 3, 63, 16};
    }
    return {};
}

QRectF OVNLightTableStatus::styleRect(int style)
{
    switch (style) {
    case 1:
        return {4, 3, 17, 16};
    case 2:
        return {22, 3, 14, 16};
    case 3:
        return {37, 3, 14, 16};
    case 4:
        return {52, 3, 17, 16};
    default:
        return {};
    }
}

bool OVNLightTableStatus::contains(const QRectF &rect, const QPointF &point)
{
    return point.x() >= rect.left() && point.x() < rect.right() && point.y() >= rect.top() && point.y() < rect.bottom();
}

bool OVNLightTableStatus::isPointIn(Region region, const QPointF &point, double width)
{
    return contains(regionRect(region, width), point);
}

int OVNLightTableStatus::viewStyleForPoint(const QPointF &point)
{
    for (int style = 1; style <= 4; ++style) {
        if (contains(styleRect(style), point))
            return style;
    }
    return 0;
}

OVNLightTableStatus::Command OVNLightTableStatus::commandAt(const QPointF &point, double width)
{
    // The first hit acts: on a narrow strip the regions overlap.
    if (isPointIn(Region::FullScreen, point, width))
        return Command::ToggleFullScreen;
    if (isPointIn(Region::RotateLeft, point, width))
        return Command::RotateLeft;
    if (isPointIn(Region::RotateRight, point, width))
        return Command::RotateRight;
    if (isPointIn(Region::SlideShow, point, width))
        return Command::SlideShow;
    if (isPointIn(Region::FullResolution, point, width))
        return Command::FullResolution;
    if (isPointIn(Region::StyleStrip, point, width))
        return Command::SplitStyle;
    return Command::None;
}

QPointF OVNLightTableStatus::fromWidget(const QPointF &point, double height) { return {point.x(), height - point.y()}; }

QRectF OVNLightTableStatus::toWidget(const QRectF &rect, double height)
{
    return {rect.x(), height - rect.y() - rect.height(), rect.width(), rect.height()};
}

OVNLightTableStatus::OVNLightTableStatus(QWidget *parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void OVNLightTableStatus::setStatus(const QString &status)
{
    m_status = status;
    update();
}

void OVNLightTableStatus::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), m_backgroundcolor);
    const double w = width();
    if (!m_status.isEmpty()) {
        QFont font(DrawingKit::installedFamily(QStringLiteral("Lucida Grande")));
        font.setPixelSize(11);
        painter.setFont(font);
        painter.setPen(Qt::white);
        const double textHeight = QFontMetricsF(font).height();
        painter.drawText(toWidget(QRectF(5, 5, w - 5, textHeight), height()), Qt::AlignCenter, m_status);
    }
    // The strip is drawn as designed, y up, from here on.
    painter.translate(0, height());
    painter.scale(1, -1);
    drawStyleSelector(painter);
    if (w > iconsMinimumWidth)
        drawIcons(painter);
}

void OVNLightTableStatus::drawStyleSelector(QPainter &painter)
{
    const int shown = m_viewstyle >= 2 && m_viewstyle <= 4 ? m_viewstyle : 1;
    for (int style = 1; style <= 4; ++style) {
        const QRectF box = styleRect(style).adjusted(2, 2, -2, -2);
        const QColor colour = style == shown ? QColor(Qt::white) : QColor(150, 150, 150);
        painter.setPen(QPen(colour, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(box);
        // The panes of the layout, as the panes are placed.
        const QPointF c = box.center();
        if (style == 2 || style == 4)
            painter.drawLine(QPointF(c.x(), box.top()), QPointF(c.x(), box.bottom()));
        if (style == 3 || style == 4)
            painter.drawLine(QPointF(box.left(), c.y()), QPointF(box.right(), c.y()));
    }
}

void OVNLightTableStatus::drawIcons(QPainter &painter)
{
    const double w = width();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPen stroke(Qt::white, 2);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(stroke);
    // full screen
    painter.drawRect(regionRect(Region::FullScreen, w));
    painter.fillRect(QRectF(w - 28, 7, 6, 6), Qt::white);
    // rotate right, then rotate left: an arc and its arrow head
    painter.drawPolyline(arc(QPointF(w - 59, 11), 7, 0, 270));
    painter.drawPolyline(arc(QPointF(w - 80, 11), 7, 270, 270));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPolygon(QPolygonF({QPointF(w - 52, 7), QPointF(w - 48, 12), QPointF(w - 56, 12)}));
    painter.drawPolygon(QPolygonF({QPointF(w - 87, 7), QPointF(w - 83, 12), QPointF(w - 91, 12)}));
    // slide show: pause while running, else play
    if (m_runningSlideShow) {
        painter.drawRect(QRectF(w - 121, 7, 4, 8));
        painter.drawRect(QRectF(w - 115, 7, 4, 8));
    } else {
        painter.drawPolygon(QPolygonF({QPointF(w - 120, 5), QPointF(w - 120, 17), QPointF(w - 108, 11)}));
    }
    // full resolution: a stepped triangle in a frame
    const double steps[5][2] = {{4, 12}, {6, 10}, {8, 8}, {10, 6}, {12, 4}};
    for (const auto &step : steps)
        painter.drawRect(QRectF(w - 160, 3, step[0], step[1]));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(stroke);
    painter.drawRect(regionRect(Region::FullResolution, w));
}

void OVNLightTableStatus::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_clicked)
        m_clicked(fromWidget(event->position(), height()));
    event->accept();
}
