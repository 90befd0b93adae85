#include "uikit/NTPopUpHeaderView.h"

#include "uikit/DrawingKit.h"
#include "uikit/NTPopUpHeaderViewCell.h"

#include <QMouseEvent>
#include <QPainter>

NTPopUpHeaderView::NTPopUpHeaderView(QWidget *parent)
    : QWidget(parent),
      m_cell(std::make_unique<NTPopUpHeaderViewCell>())
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFont(DrawingKit::systemFont(13));
}

NTPopUpHeaderView::~NTPopUpHeaderView() = default;

NTPopUpHeaderView *NTPopUpHeaderView::viewWithFrame(const QRect &frame, const QString &title, QWidget *parent)
{
    auto *view = new NTPopUpHeaderView(parent);
    view->setGeometry(frame);
    view->setTitle(title);
    return view;
}

void NTPopUpHeaderView::setDelegate(NTPopUpHeaderViewDelegate *delegate)
{
    delegate_ = delegate;
    m_cell->setDelegate(delegate);
}

void NTPopUpHeaderView::setMenu(QMenu *menu) { m_cell->setMenu(menu); }

QString NTPopUpHeaderView::title() const { return m_cell->title(); }

void NTPopUpHeaderView::setTitle(const QString &title)
{
    m_cell->setTitle(title);
    update();
}

void NTPopUpHeaderView::setLeftGrip(int grip)
{
    leftgrip_ = grip;
    m_cell->setLeftGrip(grip);
}

void NTPopUpHeaderView::setRightGrip(int grip)
{
    rightgrip_ = grip;
    m_cell->setRightGrip(grip);
}

void NTPopUpHeaderView::setTag(int tag) { m_cell->setTag(tag); }
int NTPopUpHeaderView::tag() const { return m_cell->tag(); }

QSize NTPopUpHeaderView::sizeHint() const { return QSize(200, int(defaultHeight())); }

void NTPopUpHeaderView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    m_cell->setFont(font());
    m_cell->drawInteriorWithFrame(painter, QRectF(rect()), QRectF(rect()));
}

void NTPopUpHeaderView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_tracking = m_cell->startTracking(event->position(), QSizeF(size()), event->globalPosition());
    if (!m_tracking)
        event->ignore();
}

void NTPopUpHeaderView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_tracking) {
        event->ignore();
        return;
    }
    m_cell->continueTracking(event->globalPosition());
}

void NTPopUpHeaderView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_tracking || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_cell->stopTracking();
    m_tracking = false;
}
