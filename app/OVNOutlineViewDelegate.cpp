#include "app/OVNOutlineViewDelegate.h"

#include <QMenu>
#include <QMimeData>
#include <QModelIndex>

bool OVNOutlineViewDelegate::ovnOutlineViewHandleReturnKeyEvent(OVNOutlineView *, QKeyEvent *) { return false; }

bool OVNOutlineViewDelegate::ovnOutlineViewHandleDeleteKeyEvent(OVNOutlineView *, QKeyEvent *) { return false; }

std::unique_ptr<QMenu> OVNOutlineViewDelegate::ovnOutlineViewMenuForEvent(OVNOutlineView *, const QPoint &)
{
    return nullptr;
}

std::unique_ptr<QMimeData> OVNOutlineViewDelegate::outlineViewWriteItems(OVNOutlineView *, const QModelIndexList &)
{
    return nullptr;
}

Qt::DropAction OVNOutlineViewDelegate::outlineViewValidateDrop(OVNOutlineView *, const QMimeData *, const QModelIndex &)
{
    return Qt::IgnoreAction;
}

bool OVNOutlineViewDelegate::outlineViewAcceptDrop(OVNOutlineView *, const QMimeData *, const QModelIndex &)
{
    return false;
}

void OVNOutlineViewDelegate::ovnOutlineViewAddFiles(OVNOutlineView *, const QStringList &, const QModelIndex &) {}

void OVNOutlineViewDelegate::ovnOutlineViewMoveMids(OVNOutlineView *, const QStringList &, const QString &,
                                                    const QString &)
{}

void OVNOutlineViewDelegate::ovnOutlineViewLinkMids(OVNOutlineView *, const QStringList &, const QString &) {}
