#include "app/OVNOutlineView.h"

#include "app/OVNCategoryTreeModel.h"
#include "app/OVNOutlineViewDelegate.h"
#include "platform/PropertyList.h"
#include "uikit/OVNIconSetHelper.h"
#include "platform/CatalogNames.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

#include <cmath>

namespace {
using CatalogNames::keyMid;
using CatalogNames::keyType;

QString textOf(const QMimeData *data, const QString &format) { return QString::fromUtf8(data->data(format)); }

QStringList midsOf(const QMimeData *data)
{
    QStringList mids;
    for (const QVariant &mid : PropertyList::read(data->data(OVNOutlineView::mediaMidType())).toList())
        mids.append(mid.toString());
    return mids;
}

QStringList localFilesOf(const QMimeData *data)
{
    QStringList paths;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

// Media from a category of `source` kind onto a category of `target` kind; none for a pairing
// that makes no sense, nothing at all (no value) for a source kind that is not one of the four.
std::optional<Qt::DropAction> mediaOperation(const QString &source, const QString &target)
{
    const bool collection = target == QLatin1String("C");
    const bool set = target == QLatin1String("S");
    if (source == QLatin1String("C") || source == QLatin1String("F"))
        return collection ? Qt::MoveAction : set ? Qt::LinkAction : Qt::IgnoreAction;
    if (source == QLatin1String("S") || source == QLatin1String("M"))
        return set ? Qt::LinkAction : Qt::IgnoreAction;
    return std::nullopt;
}
} // namespace

OVNOutlineView::OVNOutlineView(QWidget *parent) : QTreeView(parent)
{
    // A click does not take the keyboard focus from the thumbnails; the outline gets it when
    // renaming in place ends with Return.
    setFocusPolicy(Qt::NoFocus);
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    m_displayFont = font();
    m_displayFont.setPixelSize(12);
    // Only the strip of the last selected row shows the selection (drawRow).
    QPalette palette = this->palette();
    palette.setColor(QPalette::Highlight, Qt::transparent);
    palette.setColor(QPalette::HighlightedText, palette.color(QPalette::Text));
    setPalette(palette);
}

OVNOutlineView::~OVNOutlineView() = default;

void OVNOutlineView::setOutlineDelegate(OVNOutlineViewDelegate *delegate) { m_delegate = delegate; }

bool OVNOutlineView::delegateAnswers(unsigned capability) const
{
    return m_delegate && (m_delegate->outlineDelegateCapabilities() & OVNOutlineViewDelegate::Capability(capability));
}

std::optional<CategoryNode> OVNOutlineView::nodeForIndex(const QModelIndex &index) const
{
    const auto *tree = qobject_cast<const OVNCategoryTreeModel *>(model());
    if (!tree || !index.isValid())
        return std::nullopt;
    if (const OVNCategoryTreeModel::Item *item = tree->itemForIndex(index.siblingAtColumn(0)))
        return item->node;
    return std::nullopt;
}

QModelIndex OVNOutlineView::rowAt(const QPoint &position) const
{
    const QModelIndex index = indexAt(position);
    return index.isValid() ? index.siblingAtColumn(0) : QModelIndex();
}

void OVNOutlineView::selectAll() {}

// ---- keys, menu, editing ----

void OVNOutlineView::keyPressEvent(QKeyEvent *event)
{
    if (state() != EditingState && !event->isAutoRepeat()) {
        const int key = event->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (delegateAnswers(OVNOutlineViewDelegate::HandleReturnKey)
                && m_delegate->ovnOutlineViewHandleReturnKeyEvent(this, event))
                return;
            // Return renames the selected category, as the platform's outlines do.
            const QModelIndex current = currentIndex().siblingAtColumn(0);
            if (current.isValid() && (model()->flags(current) & Qt::ItemIsEditable)) {
                edit(current);
                return;
            }
        } else if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
            if (delegateAnswers(OVNOutlineViewDelegate::HandleDeleteKey)
                && m_delegate->ovnOutlineViewHandleDeleteKeyEvent(this, event))
                return;
        }
    }
    QTreeView::keyPressEvent(event);
}

void OVNOutlineView::contextMenuEvent(QContextMenuEvent *event)
{
    if (!delegateAnswers(OVNOutlineViewDelegate::MenuForEvent))
        return;
    if (std::unique_ptr<QMenu> menu = m_delegate->ovnOutlineViewMenuForEvent(this, event->pos()))
        menu->exec(event->globalPos());
}

void OVNOutlineView::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    // Return ends the editing (it never moves on to the next row) and leaves the keys here.
    const bool submitted = hint == QAbstractItemDelegate::SubmitModelCache;
    QTreeView::closeEditor(editor, submitted ? QAbstractItemDelegate::NoHint : hint);
    if (submitted)
        setFocus(Qt::OtherFocusReason);
}

// ---- drawing ----

void OVNOutlineView::drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // The last selected row (the current one, when it is selected) gets the blue strip.
    const QModelIndexList selected = selectionModel() ? selectionModel()->selectedRows(0) : QModelIndexList();
    QModelIndex last = currentIndex().siblingAtColumn(0);
    if (!selected.contains(last))
        last = selected.isEmpty() ? QModelIndex() : selected.last();
    if (last.isValid() && last == index.siblingAtColumn(0)) {
        const QRect row(0, option.rect.y(), viewport()->width(), option.rect.height());
        QLinearGradient strip(row.topLeft(), row.bottomLeft());
        strip.setColorAt(0.0, QColor(0x6d, 0x98, 0xd8));
        strip.setColorAt(1.0, QColor(0x2a, 0x5e, 0xc4));
        painter->fillRect(row, strip);
        QStyleOptionViewItem white = option;
        white.palette.setColor(QPalette::HighlightedText, Qt::white);
        white.palette.setColor(QPalette::Text, Qt::white);
        QTreeView::drawRow(painter, white, index);
        return;
    }
    QTreeView::drawRow(painter, option, index);
}

void OVNOutlineView::paintEvent(QPaintEvent *event)
{
    QTreeView::paintEvent(event);
    if (!m_dragToRow.isValid())
        return;
    const QRect rect = visualRect(m_dragToRow);
    if (rect.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame(1, rect.y() + 1, viewport()->width() - 2, rect.height() - 2);
    QPainterPath path;
    path.addRoundedRect(frame.adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    QColor colour = palette().color(QPalette::Active, QPalette::Link);
    painter.setPen(colour);
    colour.setAlphaF(0.2f);
    painter.fillPath(path, colour);
    painter.drawPath(path);
}

QPixmap OVNOutlineView::dragImageForIndex(const QModelIndex &index) const
{
    const std::optional<CategoryNode> node = nodeForIndex(index);
    if (!node || (!index.parent().isValid() && index.row() == 0))
        return QPixmap();
    const QString name = node->value(QStringLiteral("displaytag")).toString();
    const QFontMetrics metrics(m_displayFont);
    const QSize size(metrics.horizontalAdvance(name) + 32, metrics.height() + 12);
    QPixmap image(size);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const int rowHeight = std::max(16, visualRect(index).height());
    const QImage icon =
        OVNIconSetHelper::sharedIconSet().outlineIconForType(node->value(keyType).toString(), float(rowHeight));
    if (!icon.isNull())
        painter.drawImage(QPoint(0, 0), icon);
    painter.setFont(m_displayFont);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(26, 2 + metrics.ascent()), name);
    return image;
}

// ---- category drags ----

void OVNOutlineView::startDrag(Qt::DropActions)
{
    if (!delegateAnswers(OVNOutlineViewDelegate::WriteItems))
        return;
    const QModelIndexList rows = selectionModel()->selectedRows(0);
    if (rows.isEmpty())
        return;
    std::unique_ptr<QMimeData> data = m_delegate->outlineViewWriteItems(this, rows);
    if (!data)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(data.release());
    const QPixmap image = dragImageForIndex(currentIndex().isValid() ? currentIndex() : rows.first());
    if (!image.isNull())
        drag->setPixmap(image);
    drag->exec(Qt::MoveAction, Qt::MoveAction);
}

// ---- drops ----

Qt::DropAction OVNOutlineView::dragOperation(const QMimeData *data, const std::optional<CategoryNode> &target)
{
    if (!data)
        return Qt::IgnoreAction;
    const QString targetId = target ? target->value(keyMid).toString() : QString();
    const QString targetKind = target ? target->value(keyType).toString() : QString();
    if (data->hasFormat(sourceCatalogMidType())) {
        // Media never go onto the category they come from.
        if (targetId.isEmpty() || textOf(data, sourceCatalogMidType()) == targetId)
            return Qt::IgnoreAction;
    }
    if (data->hasFormat(mediaContainerTypeType()) && data->hasFormat(mediaMidType())) {
        if (targetKind.isEmpty())
            return Qt::IgnoreAction;
        // Media of the whole catalog, a search or a smart folder have no place to move from.
        return mediaOperation(textOf(data, mediaContainerTypeType()), targetKind).value_or(Qt::IgnoreAction);
    }
    if (data->hasUrls() && !localFilesOf(data).isEmpty()) {
        if (targetKind == QLatin1String("S") || targetKind == QLatin1String("M"))
            return Qt::IgnoreAction;
        return Qt::CopyAction;
    }
    return Qt::IgnoreAction;
}

void OVNOutlineView::setDropTarget(const QModelIndex &row)
{
    if (QModelIndex(m_dragToRow) == row)
        return;
    m_dragToRow = row;
    viewport()->update();
}

void OVNOutlineView::handleDragHover(QDragMoveEvent *event)
{
    const QModelIndex row = rowAt(event->position().toPoint());
    Qt::DropAction action = Qt::IgnoreAction;
    if (event->mimeData()->hasFormat(catalogItemType()) && delegateAnswers(OVNOutlineViewDelegate::ValidateDrop)) {
        action = m_delegate->outlineViewValidateDrop(this, event->mimeData(), row);
        setDropTarget(action != Qt::IgnoreAction ? row : QModelIndex());
    } else {
        action = dragOperation(event->mimeData(), nodeForIndex(row));
        setDropTarget(action != Qt::IgnoreAction ? row : QModelIndex());
    }
    viewport()->update();
    if (action == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    event->setDropAction(action);
    event->accept();
}

void OVNOutlineView::dragEnterEvent(QDragEnterEvent *event)
{
    handleDragHover(event);
    // Keep receiving moves over other rows even when this one takes nothing.
    const QMimeData *data = event->mimeData();
    if (!event->isAccepted()
        && (data->hasFormat(catalogItemType()) || data->hasFormat(mediaMidType()) || data->hasUrls())) {
        event->setDropAction(Qt::IgnoreAction);
        event->accept();
    }
}

void OVNOutlineView::dragMoveEvent(QDragMoveEvent *event) { handleDragHover(event); }

void OVNOutlineView::dragLeaveEvent(QDragLeaveEvent *event)
{
    QTreeView::dragLeaveEvent(event);
    setDropTarget(QModelIndex());
}

void OVNOutlineView::dropEvent(QDropEvent *event)
{
    const QModelIndex row = rowAt(event->position().toPoint());
    const QMimeData *data = event->mimeData();
    setDropTarget(QModelIndex());
    bool done = false;
    Qt::DropAction action = Qt::MoveAction;
    if (data->hasFormat(catalogItemType())) {
        done = delegateAnswers(OVNOutlineViewDelegate::AcceptDrop)
               && m_delegate->outlineViewAcceptDrop(this, data, row);
    } else {
        action = dragOperation(data, nodeForIndex(row));
        done = performMediaDrop(data, row);
    }
    if (done) {
        event->setDropAction(action);
        event->accept();
    } else {
        event->ignore();
    }
    stopAutoScroll();
}

bool OVNOutlineView::performMediaDrop(const QMimeData *data, const QModelIndex &row)
{
    if (!data)
        return false;
    const std::optional<CategoryNode> target = nodeForIndex(row);
    const QString targetId = target ? target->value(keyMid).toString() : QString();
    const QString targetKind = target ? target->value(keyType).toString() : QString();
    if (data->hasFormat(mediaMidType()) && data->hasFormat(sourceCatalogMidType())
        && data->hasFormat(mediaContainerTypeType())) {
        const QStringList mids = midsOf(data);
        const QString sourceId = textOf(data, sourceCatalogMidType());
        const QString sourceKind = textOf(data, mediaContainerTypeType());
        if (mids.isEmpty() || targetId.isEmpty() || sourceId == targetId || targetKind.isEmpty())
            return false;
        const std::optional<Qt::DropAction> operation = mediaOperation(sourceKind, targetKind);
        if (!operation || *operation == Qt::IgnoreAction)
            return false;
        if (*operation == Qt::MoveAction && delegateAnswers(OVNOutlineViewDelegate::MoveMids))
            m_delegate->ovnOutlineViewMoveMids(this, mids, sourceId, targetId);
        else if (*operation == Qt::LinkAction && delegateAnswers(OVNOutlineViewDelegate::LinkMids))
            m_delegate->ovnOutlineViewLinkMids(this, mids, targetId);
        return true;
    }
    const QStringList paths = localFilesOf(data);
    if (!paths.isEmpty() && delegateAnswers(OVNOutlineViewDelegate::AddFiles)) {
        if (targetKind == QLatin1String("M"))
            return false;
        // Files dropped onto a set, or where there is no row, go into a new collection.
        m_delegate->ovnOutlineViewAddFiles(this, paths, targetKind == QLatin1String("S") ? QModelIndex() : row);
        return true;
    }
    return false;
}
