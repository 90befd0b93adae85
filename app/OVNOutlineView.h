#pragma once

#include "browser/OVNPasteboardTypes.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <QPersistentModelIndex>
#include <QTreeView>

class OVNOutlineViewDelegate;
class QMimeData;

// The catalog window's category outline: the selected row drawn with the highlight strip, a
// rounded frame over the row a drop of media or files goes to, a drag image of the category's
// icon and name, Return, Delete and the context menu offered to the delegate first, and drops of
// media and files onto categories handed to the delegate by the kinds of source and target.
//
// Category drags within the outline are the delegate's: it writes the dragged rows, validates
// and performs their drops.
class OVNOutlineView : public QTreeView
{
    Q_OBJECT

public:
    // The drag data formats (OVNPasteboardTypes).
    static QString catalogItemType() { return OVNPasteboardTypes::catalogItem(); }
    static QString mediaMidType() { return OVNPasteboardTypes::mediaMid(); }
    static QString sourceCatalogMidType() { return OVNPasteboardTypes::sourceCatalogMid(); }
    static QString mediaContainerTypeType() { return OVNPasteboardTypes::mediaContainerType(); }

    explicit OVNOutlineView(QWidget *parent = nullptr);
    ~OVNOutlineView() override;

    void setOutlineDelegate(OVNOutlineViewDelegate *delegate);
    OVNOutlineViewDelegate *outlineDelegate() const { return m_delegate; }

    // The node shown at a row; none for an invalid index or a model without nodes.
    virtual std::optional<CategoryNode> nodeForIndex(const QModelIndex &index) const;

    // What a drop of media or files onto a category does, by the kind of the category they come
    // from and of the target: move, link, copy (add files) or nothing.
    static Qt::DropAction dragOperation(const QMimeData *data, const std::optional<CategoryNode> &target);
    // Performs a drop of media or files onto the row (invalid: no row); false when refused.
    bool performMediaDrop(const QMimeData *data, const QModelIndex &target);

    // Whether a name is being edited in place.
    bool isEditing() const { return state() == EditingState; }

    // The row highlighted as drop target; invalid when none.
    QModelIndex dropTargetRow() const { return m_dragToRow; }
    // The image a drag of the row shows: its icon and name; null for no row or the first row.
    QPixmap dragImageForIndex(const QModelIndex &index) const;

    void selectAll() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void paintEvent(QPaintEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool delegateAnswers(unsigned capability) const;
    QModelIndex rowAt(const QPoint &position) const;
    void setDropTarget(const QModelIndex &row);
    void handleDragHover(QDragMoveEvent *event);

    OVNOutlineViewDelegate *m_delegate = nullptr;
    QPersistentModelIndex m_dragToRow;
    QFont m_displayFont;
};
