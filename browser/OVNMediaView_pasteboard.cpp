// The thumbnail view's clipboard and drags: Copy and Paste, drops of media and files onto the
// view, and dragging the selection out. What a drop does is the delegate's; the view decides only
// whether it takes the drag, as it enters and while it moves.
#include "browser/OVNMediaView.h"

#include "browser/OVNPasteboardTypes.h"
#include "platform/UserDefaults.h"
#include "uikit/DrawingKit.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFont>
#include <QFontMetricsF>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScrollBar>

#include <cmath>

namespace {
Qt::DropAction dropActionOf(OVNMediaPasteboard::Operation operation)
{
    switch (operation) {
    case OVNMediaPasteboard::Operation::Copy:
        return Qt::CopyAction;
    case OVNMediaPasteboard::Operation::Link:
        return Qt::LinkAction;
    case OVNMediaPasteboard::Operation::Move:
        return Qt::MoveAction;
    default:
        return Qt::IgnoreAction;
    }
}

const QString readWrite = QStringLiteral("READ & WRITE");
} // namespace

// ---- copy and paste ----

int OVNMediaView::filteredcopy(const QSet<QString> &leftOut)
{
    QList<int> rows = selectedRows();
    if (!leftOut.isEmpty())
        rows.removeIf([&](int row) { return leftOut.contains(mediaIDForRow(row)); });
    if (rows.isEmpty())
        return 0;
    OVNMediaPasteboard::Contents contents;
    for (int row : rows) {
        const QString path = filenameForRow(row);
        if (!path.isEmpty())
            contents.paths.append(path);
        const QString mid = mediaIDForRow(row);
        if (!mid.isEmpty())
            contents.mids.append(mid);
    }
    contents.withMedia = true;
    contents.sourceMid = m_currentmid;
    contents.sourceKind = m_currentmediatype;
    contents.catalog = m_catalogIdentity;
    if (UserDefaults::standard().integerForKey(QStringLiteral("DNDIncludeThumbnail")) != 0)
        contents.thumbnail = imageForRow(rows.first());
    QGuiApplication::clipboard()->setMimeData(OVNMediaPasteboard::write(contents).release());
    return int(contents.paths.size());
}

void OVNMediaView::filteredpaste()
{
    // Ids on the clipboard are ignored: a paste adds the files it names.
    const OVNMediaPasteboard::Payload payload =
        OVNMediaPasteboard::read(QGuiApplication::clipboard()->mimeData(), QByteArray());
    if (payload.paths.isEmpty() && payload.skipped.isEmpty())
        return;
    if (delegateAnswers(OVNMediaViewDelegate::AddFiles))
        m_delegate->ovnMediaViewAddFiles(this, payload.paths, payload.skipped);
}

// ---- drops ----

OVNMediaPasteboard::Target OVNMediaView::dropTarget()
{
    OVNMediaPasteboard::Target target;
    target.mid = m_currentmid;
    target.kind = m_currentmediatype;
    if (delegateAnswers(OVNMediaViewDelegate::ContainerAccess))
        target.writable = m_delegate->isUserAuthorizedForAccessMediaContainerWithType(this, readWrite);
    else if (m_delegate && m_delegateRespondsToUserAuthSelector)
        target.writable = m_delegate->isUserAuthorizedForAccessCurrentSelectionWithType(readWrite, false);
    return target;
}

OVNMediaPasteboard::Operation OVNMediaView::dragOperationNow(Qt::DropActions offered)
{
    if (m_dragRuleOperation != OVNMediaPasteboard::Operation::Copy)
        return m_dragRuleOperation;
    // Files are catalogued where they are: the source may only hear a copy, never a move, which
    // would invite it to delete them. A source that offers no copy is not taken at all.
    if (!(offered & Qt::CopyAction))
        return OVNMediaPasteboard::Operation::None;
    // Whether they would be catalogued is the delegate's, asked as the drag enters and again now
    // and then while it moves (a privilege may change while the pointer rests over the view).
    if (!m_dragFilesAsked.isValid() || m_dragFilesAsked.elapsed() >= dragFilesAskedIntervalMs) {
        m_dragFilesTaken = !delegateAnswers(OVNMediaViewDelegate::TakesFiles)
                           || m_delegate->ovnMediaViewTakesFiles(this, m_dragPayload.paths);
        m_dragFilesAsked.start();
    }
    return m_dragFilesTaken ? OVNMediaPasteboard::Operation::Copy : OVNMediaPasteboard::Operation::None;
}

void OVNMediaView::acceptDrag(QDragMoveEvent *event)
{
    // The answer given here is the one the source hears while the pointer is over the view (a
    // drag source of another program may end with it before the drop's own answer arrives).
    const OVNMediaPasteboard::Operation before = m_currentDragOperation;
    m_currentDragOperation = dragOperationNow(event->possibleActions());
    if (before != m_currentDragOperation)
        viewport()->update();
    if (m_currentDragOperation == OVNMediaPasteboard::Operation::None) {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
        return;
    }
    // Outside this program a drag offers no Move; the catalog's own operation is the one decided.
    event->setDropAction(dropActionOf(m_currentDragOperation));
    event->accept();
}

void OVNMediaView::dragEnterEvent(QDragEnterEvent *event)
{
    m_dragPayload = OVNMediaPasteboard::read(event->mimeData(), m_catalogIdentity);
    m_dragRuleOperation = OVNMediaPasteboard::dropOperation(m_dragPayload, dropTarget());
    m_dragFilesAsked.invalidate();
    m_currentDragOperation = OVNMediaPasteboard::Operation::None;
    acceptDrag(event);
    viewport()->update();
}

void OVNMediaView::dragMoveEvent(QDragMoveEvent *event) { acceptDrag(event); }

void OVNMediaView::dragLeaveEvent(QDragLeaveEvent *event)
{
    m_currentDragOperation = OVNMediaPasteboard::Operation::None;
    m_dragRuleOperation = OVNMediaPasteboard::Operation::None;
    m_dragPayload = {};
    viewport()->update();
    event->accept();
}

void OVNMediaView::dropEvent(QDropEvent *event)
{
    const OVNMediaPasteboard::Operation operation = m_currentDragOperation;
    const OVNMediaPasteboard::Payload payload = std::move(m_dragPayload);
    m_currentDragOperation = OVNMediaPasteboard::Operation::None;
    m_dragRuleOperation = OVNMediaPasteboard::Operation::None;
    m_dragPayload = {};
    viewport()->update();
    // Files go only to a source that offered a copy (it may have changed its offer with the last
    // move); the source is told a copy when they are catalogued and nothing otherwise.
    const bool noCopyOffered = operation == OVNMediaPasteboard::Operation::Copy
                               && !(event->possibleActions() & Qt::CopyAction);
    if (!noCopyOffered && performDrop(payload, operation)) {
        event->setDropAction(dropActionOf(operation));
        event->accept();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

bool OVNMediaView::performDrop(const OVNMediaPasteboard::Payload &payload, OVNMediaPasteboard::Operation operation)
{
    switch (operation) {
    case OVNMediaPasteboard::Operation::Move:
        if (delegateAnswers(OVNMediaViewDelegate::MoveMids))
            m_delegate->ovnMediaViewMoveMids(this, payload.mids, payload.sourceMid, m_currentmid);
        return true;
    case OVNMediaPasteboard::Operation::Link:
        if (delegateAnswers(OVNMediaViewDelegate::LinkMids))
            m_delegate->ovnMediaViewLinkMids(this, payload.mids, m_currentmid);
        return true;
    case OVNMediaPasteboard::Operation::Copy:
        // Done only when the delegate catalogues them; it may refuse at the drop.
        return delegateAnswers(OVNMediaViewDelegate::AddFiles)
               && m_delegate->ovnMediaViewAddFiles(this, payload.paths, payload.skipped);
    default:
        return false;
    }
}

// ---- drag-out ----

std::unique_ptr<QMimeData> OVNMediaView::dragContents(int row)
{
    if (row < 0 || row >= count())
        return nullptr;
    UserDefaults &defaults = UserDefaults::standard();
    defaults.registerDefaults({{QStringLiteral("DNDIncludeFilename"), 1}});
    const bool withFileNames = defaults.integerForKey(QStringLiteral("DNDIncludeFilename")) != 0;
    const bool withThumbnail = defaults.integerForKey(QStringLiteral("DNDIncludeThumbnail")) != 0;
    // Entries leave a category only as far as its owner allows them to be changed.
    const bool authorised = !m_delegate || !m_delegateRespondsToUserAuthSelector
                            || m_delegate->isUserAuthorizedForAccessCurrentSelectionWithType(readWrite, false);
    // The files go to whatever takes the drop: the delegate may keep some, or all, of them back.
    QList<int> rows = selectedRows();
    if (delegateAnswers(OVNMediaViewDelegate::HandOn)) {
        const std::optional<QSet<QString>> leftOut = m_delegate->ovnMediaViewLeftOutOfHandOn(this, rows);
        if (!leftOut)
            return nullptr;
        rows.removeIf([&](int selected) { return leftOut->contains(mediaIDForRow(selected)); });
        if (rows.isEmpty())
            return nullptr;
        if (leftOut->contains(mediaIDForRow(row)))
            row = rows.first();
    }

    OVNMediaPasteboard::Contents contents;
    for (int selected : std::as_const(rows)) {
        const QString path = filenameForRow(selected);
        if (withFileNames && !path.isEmpty())
            contents.paths.append(path);
        const QString mid = mediaIDForRow(selected);
        if (!mid.isEmpty())
            contents.mids.append(mid);
    }
    contents.withMedia = authorised && !contents.mids.isEmpty();
    contents.sourceMid = m_currentmid;
    contents.sourceKind = m_currentmediatype;
    contents.catalog = m_catalogIdentity;
    if (withThumbnail)
        contents.thumbnail = imageForRow(row);
    if (contents.paths.isEmpty() && !contents.withMedia && contents.thumbnail.isNull())
        return nullptr;
    return OVNMediaPasteboard::write(contents);
}

QImage OVNMediaView::dragImage(const QImage &thumbnail) const
{
    const QSize size(std::max(1, thumbnail.width() / 2), std::max(1, thumbnail.height() / 2));
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(0.5);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), thumbnail);
    painter.setOpacity(1.0);
    const int selected = numberOfSelectedRows();
    if (selected > 1) {
        // The count badge at the top right.
        QFont font(QStringLiteral("Helvetica"));
        font.setBold(true);
        font.setPixelSize(11);
        const QString text = QString::number(selected);
        const QSizeF s = QFontMetricsF(font).size(Qt::TextSingleLine, text);
        const QRectF badge(size.width() - s.width() - 12, 10, s.width() + 4, s.height());
        QPainterPath path;
        path.addRoundedRect(badge, 3, 3);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(path, Qt::red);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(badge, Qt::AlignCenter, text);
    }
    return image;
}

void OVNMediaView::startDrag(int row)
{
    // The drag shows the thumbnail; an item without one yet is not dragged.
    const QImage thumbnail = imageForRow(row);
    if (thumbnail.isNull())
        return;
    std::unique_ptr<QMimeData> data = dragContents(row);
    if (!data)
        return;
    const QImage image = dragImage(thumbnail);
    auto *drag = new QDrag(this);
    drag->setMimeData(data.release());
    drag->setPixmap(QPixmap::fromImage(image));
    drag->setHotSpot(QPoint(int(std::ceil(image.width() / 2.0)), int(std::ceil(image.height() / 2.0))));
    // Other programs may copy or link the files, never move them out of the catalog's reach.
    const QPointer<OVNMediaView> self(this);
    drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
    // A drop into the owner's window may have replaced this view meanwhile.
    if (!self)
        return;
    // The button came up inside the drag: no band is left behind.
    m_isdragging = false;
    viewport()->update();
}
