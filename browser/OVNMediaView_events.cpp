// The thumbnail view's mouse and keyboard: selection by click (with the command and shift
// extensions), double-click, rubber band, stack toggling by a click on a stack marker, and the keys.
// Everything the view cannot do itself goes to its delegate.
//
// The design's command key is Qt's ControlModifier (the Ctrl key here).
#include "browser/OVNMediaView.h"

#include "browser/OVNThumbnail.h"
#include "platform/PlainText.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>

namespace {
const QString keyGroup = QStringLiteral("group");
}

QPointF OVNMediaView::documentPoint(const QPointF &viewportPoint) const
{
    return viewportPoint + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

// ---- tooltips ----

QString OVNMediaView::toolTipAt(const QPointF &viewportPoint)
{
    if (m_thumbnailStyle < ContactSheetStyle || m_thumbnailStyle > ListStyle || m_displaytype == FilmRollDisplay)
        return QString();
    const QPointF point = documentPoint(viewportPoint);
    const int row = rowAtDocumentPoint(point);
    if (row < 0 || row >= count())
        return QString();
    const MediaRecordRef record = m_mediaContainer.at(row);
    QImage picture;
    cachedCellPicture(record, &picture);
    QMutexLocker draw(&m_drawlock);
    return m_thumbCreator->cutShortTextAt(point - imageRect(row).topLeft(), QSizeF(picture.size()), *record);
}

bool OVNMediaView::viewportEvent(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QAbstractScrollArea::viewportEvent(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const QString text = toolTipAt(help->pos());
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), plainToolTip(text), viewport());
    }
    return true;
}

// ---- hit testing ----

int OVNMediaView::groupRowAtLocation(const QPointF &point) const
{
    // A marker area is the gap left of a cell, widened by 2 on each side: it lies on the cell's line.
    const qreal d = m_thumbnailDistance;
    int first = 0;
    int last = -1;
    OVNMediaViewGeometry::rowsInSpan(point.y(), point.y() + 0.5, m_grid.columns, count(), metrics(), &first, &last);
    int found = -1;
    for (int row = first; row <= last; ++row) {
        const QRectF cell = imageRect(row);
        if (QRectF(cell.x() - (d + 2), cell.y(), d + 4, cell.height()).contains(point))
            found = row;
    }
    return found;
}

int OVNMediaView::groupAtLocation(const QPointF &point) const
{
    const int row = groupRowAtLocation(point);
    if (row < 0)
        return -1;
    QMutexLocker draw(&const_cast<OVNMediaView *>(this)->m_drawlock);
    const QVariant group = m_mediaContainer.at(row)->value(keyGroup);
    return group.isValid() ? group.toInt() : -1;
}

bool OVNMediaView::selectImageAtLocation(const QPointF &point, bool deselectOthers)
{
    const int row = rowAtLocation(point);
    if (row < 0 || row >= count()) {
        deselectAll();
        viewport()->update();
    } else if (isRowSelected(row) && !deselectOthers) {
        deselectRow(row);
        setNeedsDisplayForRow(row);
    } else {
        selectImage(row, deselectOthers);
    }
    return true;
}

bool OVNMediaView::deselectImageAtLocation(const QPointF &point)
{
    const int row = rowAtLocation(point);
    if (row < 0 || row >= count() || !isRowSelected(row))
        return false;
    deselectRow(row);
    setNeedsDisplayForRow(row);
    return true;
}

// ---- mouse ----

void OVNMediaView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    mouseDown(event, 1);
}

void OVNMediaView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    mouseDown(event, 2);
}

void OVNMediaView::mouseDown(QMouseEvent *event, int clickCount)
{
    const Qt::KeyboardModifiers flags = event->modifiers();
    const bool command = flags.testFlag(Qt::ControlModifier);
    const bool shift = flags.testFlag(Qt::ShiftModifier);
    const QPointF p = documentPoint(event->position());
    const int row = rowAtLocation(p);
    const int gid = groupAtLocation(p);

    if (gid >= 0) {
        // A click on a stack marker toggles the stack; it never starts a selection.
        const bool changed = numberOfSelectedRows() > 0;
        if (changed)
            deselectAll();
        if (isGroupCollapsed(gid))
            expandGroup(gid, groupRowAtLocation(p));
        else
            collapseGroup(gid, groupRowAtLocation(p));
        if (changed)
            notifySelectionDidChange();
        resizeFrameToFitMediaContainer();
        recalcThumbnailLayout(QSizeF(viewport()->size()));
        viewport()->update();
        scrollGroupToVisible(gid);
    } else if (clickCount == 2) {
        // The selection the first click made stays.
        if (row >= 0 && row < count() && m_delegate && m_delegateRespondsToDoubleClickSelector)
            m_delegate->ovnMediaViewDoubleClickWithModifierFlag(this, flags);
    } else {
        bool changed = false;
        if (row >= 0 && isRowSelected(row)) {
            // Without command nothing changes, so that a multiple selection stays whole.
            if (command)
                changed = deselectImageAtLocation(p);
        } else if (shift) {
            changed = extendSelectionToRow(row);
        } else {
            changed = selectImageAtLocation(p, !command);
        }
        if (changed)
            notifySelectionDidChange();
    }
    m_lastclickloc = p;
    m_lastdragloc = p;
    m_isdragging = false;
}

void OVNMediaView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    const QPointF old = m_lastdragloc;
    m_lastdragloc = documentPoint(event->position());
    const int row = rowAtLocation(m_lastclickloc);
    if (row == -1) {
        m_isdragging = true;
        selectInRect(getDragSelectionRectFrom(m_lastclickloc, m_lastdragloc));
        const QRectF dirty = getDisplaySelectionRectFrom(m_lastclickloc, m_lastdragloc, old);
        viewport()->update(
            dirty.translated(-horizontalScrollBar()->value(), -verticalScrollBar()->value()).toAlignedRect());
        return;
    }
    // From a cell the selection is dragged out, once the mouse has gone far enough for a drag.
    if ((m_lastdragloc - m_lastclickloc).manhattanLength() >= QApplication::startDragDistance())
        startDrag(row);
}

void OVNMediaView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    if (!m_isdragging)
        return;
    // A rubber band may have changed the selection.
    notifySelectionDidChange();
    m_isdragging = false;
    viewport()->update();
}

// ---- keyboard ----

void OVNMediaView::keyPressEvent(QKeyEvent *event)
{
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    const int n = count();
    const int cols = numberOfColumnsPerRow();
    const bool hasSelection = numberOfSelectedRows() > 0;
    const int sel = selectedRow();
    bool changed = false;
    bool moved = false;
    auto extendRange = [this](int from, int to) {
        const int step = to >= from ? 1 : -1;
        for (int i = from;; i += step) {
            selectImage(i, false);
            if (i == to)
                break;
        }
    };

    switch (event->key()) {
    case Qt::Key_Right:
        moved = true;
        if (hasSelection) {
            if (sel < n - 1) {
                selectImage(sel + 1, !shift);
                changed = true;
            }
        } else if (n > 0) {
            selectImage(0);
            changed = true;
        }
        break;
    case Qt::Key_Left:
        moved = true;
        if (hasSelection) {
            if (sel > 0) {
                selectImage(sel - 1, !shift);
                changed = true;
            }
        } else if (n > 0) {
            selectImage(n - 1);
            changed = true;
        }
        break;
    case Qt::Key_Up:
        moved = true;
        if (hasSelection) {
            if (sel >= cols) {
                if (shift)
                    extendRange(sel, sel - cols);
                else
                    selectImage(sel - cols);
                changed = true;
            }
        } else if (n > 0) {
            selectImage(0);
            changed = true;
        }
        break;
    case Qt::Key_Down:
        moved = true;
        if (hasSelection) {
            if (sel < n - cols) {
                if (shift)
                    extendRange(sel, sel + cols);
                else
                    selectImage(sel + cols);
                changed = true;
            }
        } else if (n > 0) {
            selectImage(n - 1);
            changed = true;
        }
        break;
    case Qt::Key_Home:
        moved = true;
        if (hasSelection) {
            if (shift)
                extendRange(sel, 0);
            else
                selectImage(0);
            changed = true;
        } else if (n > 0) {
            selectImage(0);
            changed = true;
        }
        break;
    case Qt::Key_End:
        moved = true;
        if (hasSelection) {
            if (shift)
                extendRange(sel, n - 1);
            else
                selectImage(n - 1);
            changed = true;
        } else if (n > 0) {
            selectImage(n - 1);
            changed = true;
        }
        break;
    case Qt::Key_Delete:
        if (hasSelection) {
            if (delegateAnswers(OVNMediaViewDelegate::Delete))
                m_delegate->delete_(this);
        } else {
            QApplication::beep();
        }
        break;
    case Qt::Key_Space:
        if (delegateAnswers(OVNMediaViewDelegate::WindowZoomPanel))
            m_delegate->windowZoomPanel(this);
        break;
    case Qt::Key_Escape:
        if (delegateAnswers(OVNMediaViewDelegate::Escape))
            m_delegate->ovnMediaViewEscape(this);
        break;
    default:
        // Every other key ends here.
        break;
    }
    if (moved)
        scrollRowToVisible(selectedRow());
    if (changed)
        notifySelectionDidChange();
    event->accept();
}
