#include "uikit/OVNTransparentWindow.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

OVNTransparentWindow::OVNTransparentWindow(const QRect &contentRect, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setWindowOpacity(initialOpacity);
    setGeometry(contentRect);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}

void OVNTransparentWindow::setContentView(QWidget *view)
{
    QLayout *content = layout();
    while (QLayoutItem *item = content->takeAt(0)) {
        if (QWidget *old = item->widget())
            old->deleteLater();
        delete item;
    }
    if (view)
        content->addWidget(view);
}

bool OVNTransparentWindow::isResizePress(const QPointF &point, const QSizeF &size)
{
    const qreal fromBottom = size.height() - point.y();
    return point.x() > size.width() - resizeCornerSide && fromBottom < resizeCornerSide;
}

QSizeF OVNTransparentWindow::dragOffsetFor(const QPointF &point, const QSizeF &size)
{
    return QSizeF(size.width() - point.x(), size.height() - point.y());
}

QPointF OVNTransparentWindow::movedOrigin(const QPointF &cursor, const QPointF &initialLocation, const QRectF &screen)
{
    QPointF origin = cursor - initialLocation;
    if (origin.y() < screen.top())
        origin.setY(screen.top());
    return origin;
}

QRectF OVNTransparentWindow::resizedFrame(const QPointF &cursor, const QSizeF &dragOffset, const QRectF &frame)
{
    const qreal width = std::max(minimumSide, dragOffset.width() + (cursor.x() - frame.x()));
    const float newBottom = static_cast<float>(cursor.y() + dragOffset.height());
    const float newHeight = newBottom - static_cast<float>(frame.y());
    const qreal height = newHeight > float(minimumSide) ? qreal(newHeight) : frame.height();
    return QRectF(frame.x(), frame.y(), width, height);
}

void OVNTransparentWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const QPointF point = event->position();
    initialLocation_ = event->globalPosition() - QPointF(frameGeometry().topLeft());
    dragisresizing_ = isResizePress(point, QSizeF(size()));
    if (dragisresizing_)
        dragoffset_ = dragOffsetFor(point, QSizeF(size()));
    m_dragging = true;
}

void OVNTransparentWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}

void OVNTransparentWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    const QPointF cursor = event->globalPosition();
    if (dragisresizing_) {
        setGeometry(resizedFrame(cursor, dragoffset_, QRectF(geometry())).toRect());
        update();
    } else {
        const QScreen *screen = QGuiApplication::primaryScreen();
        const QRectF screenFrame = screen ? QRectF(screen->geometry()) : QRectF();
        move(movedOrigin(cursor, initialLocation_, screenFrame).toPoint());
    }
}
