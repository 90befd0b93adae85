#include "uikit/CustomView.h"

#include <QPaintEvent>
#include <QPainter>

CustomView::CustomView(QWidget *parent) : QWidget(parent) {}

QColor CustomView::fillColor() { return QColor::fromRgbF(206.0f / 255.0f, 207.0f / 255.0f, 205.0f / 255.0f, 1.0f); }

void CustomView::paintEvent(QPaintEvent *event)
{
    // Only the area asked for.
    QPainter painter(this);
    painter.fillRect(event->rect(), fillColor());
}
