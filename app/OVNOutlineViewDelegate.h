#pragma once

#include <QFlags>
#include <QModelIndex>
#include <QStringList>
#include <Qt>

#include <memory>

class OVNOutlineView;
class QKeyEvent;
class QMenu;
class QMimeData;
class QPoint;

// What the category outline asks of its owner (the catalog window): the Return and Delete keys,
// the context menu, moving categories by drag and drop, and the drops of media and files onto
// categories. Every message is optional: the owner declares the ones it answers in
// outlineDelegateCapabilities() and the outline never sends the others.
class OVNOutlineViewDelegate
{
public:
    enum Capability : unsigned {
        HandleReturnKey = 1u << 0,
        HandleDeleteKey = 1u << 1,
        MenuForEvent = 1u << 2,
        WriteItems = 1u << 3,
        ValidateDrop = 1u << 4,
        AcceptDrop = 1u << 5,
        AddFiles = 1u << 6,
        MoveMids = 1u << 7,
        LinkMids = 1u << 8,
    };
    Q_DECLARE_FLAGS(Capabilities, Capability)

    virtual ~OVNOutlineViewDelegate() = default;

    virtual Capabilities outlineDelegateCapabilities() const = 0;

    // True when the key was handled; otherwise the outline handles it itself.
    virtual bool ovnOutlineViewHandleReturnKeyEvent(OVNOutlineView *outline, QKeyEvent *event);
    virtual bool ovnOutlineViewHandleDeleteKeyEvent(OVNOutlineView *outline, QKeyEvent *event);
    // The context menu for a click at a point of the outline's viewport; none for no menu.
    virtual std::unique_ptr<QMenu> ovnOutlineViewMenuForEvent(OVNOutlineView *outline, const QPoint &position);

    // Category drags: the data for the dragged rows (none: no drag), whether a drop onto the row
    // (an invalid index: the empty area) is possible, and performing it.
    virtual std::unique_ptr<QMimeData> outlineViewWriteItems(OVNOutlineView *outline, const QModelIndexList &rows);
    virtual Qt::DropAction outlineViewValidateDrop(OVNOutlineView *outline, const QMimeData *data,
                                                   const QModelIndex &target);
    virtual bool outlineViewAcceptDrop(OVNOutlineView *outline, const QMimeData *data, const QModelIndex &target);

    // Drops of files and media onto a category. `target` is invalid for files dropped where no
    // category takes them directly (no row, or a category set).
    virtual void ovnOutlineViewAddFiles(OVNOutlineView *outline, const QStringList &paths, const QModelIndex &target);
    virtual void ovnOutlineViewMoveMids(OVNOutlineView *outline, const QStringList &mids, const QString &fromCatalog,
                                        const QString &toCatalog);
    virtual void ovnOutlineViewLinkMids(OVNOutlineView *outline, const QStringList &mids, const QString &toImageSet);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(OVNOutlineViewDelegate::Capabilities)
