#include "uikit/OVNSplitView.h"

#include "uikit/DrawingKit.h"

#include <QPaintEvent>
#include <QPainter>
#include <QSplitterHandle>

namespace {
class OVNSplitViewHandle : public QSplitterHandle
{
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), DrawingKit::lightGrayColor());
    }
};
} // namespace

OVNSplitView::OVNSplitView(Qt::Orientation orientation, QWidget *parent) : QSplitter(orientation, parent)
{
    setHandleWidth(int(dividerThickness()));
    setChildrenCollapsible(false);
}

OVNSplitView::OVNSplitView(QWidget *parent) : OVNSplitView(Qt::Horizontal, parent) {}

QSplitterHandle *OVNSplitView::createHandle() { return new OVNSplitViewHandle(orientation(), this); }
