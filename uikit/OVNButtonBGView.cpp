#include "uikit/OVNButtonBGView.h"

#include "uikit/DrawingKit.h"

#include <QPainter>

OVNButtonBGView::OVNButtonBGView(QWidget *parent)
    : QWidget(parent),
      backgroundColor_(QColor::fromRgbF(0.78f, 0.78f, 0.78f, 1.0f)),
      backgroundColor2_(QColor::fromRgbF(0.96f, 0.96f, 0.96f, 1.0f))
{}

void OVNButtonBGView::paintEvent(QPaintEvent *)
{
    if (!backgroundColor_ || !backgroundColor2_)
        return;
    // The rows come from the whole bounds; the painter clips them to the area being redrawn, so a
    // partial redraw shows the same colours as a full one.
    QPainter painter(this);
    DrawingKit::fillSteppedGradient(painter, QRectF(rect()), *backgroundColor_, *backgroundColor2_,
                                    DrawingKit::RowOrder::BottomUp);
}
