// The catalog window as its category outline's delegate: renaming in place, moving categories by
// drag and drop, drops of media and files onto categories, Return, Delete and the context menu.
#include "app/OVNAssetManager.h"

#include "app/OVNCatalogWait.h"
#include "app/OVNCategoryNodes.h"
#include "app/OVNCategoryTreeModel.h"
#include "app/OVNEntryEdits.h"
#include "app/OVNOutlineView.h"
#include "catalogdb/OVNCategoryAccess.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "formats/OVNHelper.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/PropertyList.h"
#include "platform/CatalogNames.h"

#include <QApplication>
#include <QMenu>
#include <QMimeData>

namespace {
using CatalogNames::keyDisplayTag;
using CatalogNames::keyMid;
using CatalogNames::keyType;
} // namespace

OVNOutlineViewDelegate::Capabilities OVNAssetManager::outlineDelegateCapabilities() const
{
    using D = OVNOutlineViewDelegate;
    return D::HandleReturnKey | D::HandleDeleteKey | D::MenuForEvent | D::WriteItems | D::ValidateDrop | D::AcceptDrop
           | D::AddFiles | D::MoveMids | D::LinkMids;
}

bool OVNAssetManager::ovnOutlineViewHandleReturnKeyEvent(OVNOutlineView *, QKeyEvent *)
{
    // The outline's own Return: renaming the selected category in place.
    return false;
}

bool OVNAssetManager::ovnOutlineViewHandleDeleteKeyEvent(OVNOutlineView *, QKeyEvent *)
{
    buttonDeleteCatalogClick();
    return true;
}

std::unique_ptr<QMenu> OVNAssetManager::ovnOutlineViewMenuForEvent(OVNOutlineView *outline, const QPoint &position)
{
    // The menu acts on the row clicked, alone; below the last row it acts on nothing.
    const QModelIndex row = outline->indexAt(position);
    if (row.isValid())
        outline->selectionModel()->setCurrentIndex(row.siblingAtColumn(0),
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    else
        deselectAllCategories();
    return m_categoryActions->menuForContextButton(nullptr);
}

// ---- renaming in place ----

bool OVNAssetManager::renameCategory(const QString &mid, const QString &name)
{
    OVNCategoryTreeModel::Item *item = m_state.categoryModel->itemForMid(mid);
    if (!m_state.dbcon || !item)
        return false;
    // A category always keeps a name to be found by.
    if (name.trimmed().isEmpty()) {
        QApplication::beep();
        return false;
    }
    // Asked and written in one transaction (the privileges cannot change in between), again on a
    // new session through sessions that end: a name is the same however often it is written.
    const quint64 failures = m_state.dbcon->failureCount();
    bool refused = false;
    bool renamed = false;
    {
        const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
        OVNEntryEdits edits(m_state.dbcon.get());
        edits.setWaitingStatus(wait->status(), [&wait] { return wait->secondsLeft(); });
        renamed =
            edits.renameCategory(mid, name, levelCheckInTransaction(OVNPrivilegeLevel::fullAccess(), mid), &refused);
    }
    if (!renamed) {
        if (!refused)
            showCategoryRefusal(OVNCategoryAccess::writeFailure(*m_state.dbcon, failures,
                                                                localized("The category could not be renamed.")));
        return false;
    }
    OVNCategoryNodes::rename(m_internalSectionList, mid, name);
    if (m_internalCategoryList)
        OVNCategoryNodes::rename(*m_internalCategoryList, mid, name);
    postNotification(categoryListDidChangeNotification(), {{QStringLiteral("action"), QStringLiteral("edit")}});
    return true;
}

// ---- moving categories ----

std::unique_ptr<QMimeData> OVNAssetManager::outlineViewWriteItems(OVNOutlineView *outline, const QModelIndexList &rows)
{
    QVariantList nodes;
    for (const QModelIndex &row : rows) {
        if (const std::optional<CategoryNode> node = outline->nodeForIndex(row))
            nodes.append(*node);
    }
    // Only a category can move; the "Database" item cannot.
    if (nodes.isEmpty() || !nodes.first().toMap().contains(keyMid))
        return nullptr;
    const QByteArray xml = PropertyList::writeXml(nodes);
    if (xml.isEmpty())
        return nullptr;
    auto data = std::make_unique<QMimeData>();
    data->setData(OVNOutlineView::catalogItemType(), xml);
    return data;
}

std::optional<OVNCategoryAccess::Refusal> OVNAssetManager::dropRefusal(const QString &mid, const QString &requested)
{
    if (!m_state.dbcon)
        return std::nullopt;
    // A drag asks again for each row it reaches; while it stays over one, the answer holds.
    const QString key = mid + QLatin1Char('\n') + requested;
    auto found = m_dropAnswers.constFind(key);
    if (found == m_dropAnswers.constEnd())
        found = m_dropAnswers.insert(key, OVNCategoryAccess::refusalNow(*m_state.dbcon, mid, requested));
    return *found;
}

QString OVNAssetManager::movableCategory(const QMimeData *data, const QModelIndex &target, QString *refusal,
                                         std::optional<OVNCategoryAccess::Refusal> *catalogRefusal)
{
    const auto refuse = [refusal](const QString &reason) {
        if (refusal)
            *refusal = reason;
        return QString();
    };
    const auto refuseFor = [&](const OVNCategoryAccess::Refusal &no, const QString &reason) {
        if (catalogRefusal)
            *catalogRefusal = no;
        return refuse(no.reason == OVNCategoryAccess::Refusal::Reason::Privileges ? reason : no.title);
    };
    if (!data || !data->hasFormat(OVNOutlineView::catalogItemType()))
        return QString();
    // Only the first dragged category moves, and only one of this catalog's.
    const QVariantList nodes = PropertyList::read(data->data(OVNOutlineView::catalogItemType())).toList();
    if (nodes.isEmpty())
        return QString();
    const QString mid = nodes.first().toMap().value(keyMid).toString();
    const OVNCategoryTreeModel::Item *dragged = m_state.categoryModel->itemForMid(mid);
    if (!dragged)
        return QString();
    const QString name = dragged->node.value(keyDisplayTag).toString();
    const OVNCategoryTreeModel::Item *folder = m_state.categoryModel->itemForIndex(target.siblingAtColumn(0));
    const QString folderName = folder ? folder->node.value(keyDisplayTag).toString() : QString();
    if (folder && folder->node.value(keyType).toString() != QLatin1String("F"))
        return refuse(localized("“%1” is not a folder: categories move only into folders.").arg(folderName));
    // The catalog answers, not the levels the tree was loaded with: a level raised since counts.
    if (folder) {
        if (const auto no = dropRefusal(folder->node.value(keyMid).toString(), OVNPrivilegeLevel::readWrite()))
            return refuseFor(*no, localized("You may not change the folder “%1”.").arg(folderName));
    }
    // Moving a category changes it as much as renaming it does.
    if (const auto no = dropRefusal(mid, OVNPrivilegeLevel::fullAccess()))
        return refuseFor(*no, localized("You may not move “%1”.").arg(name));
    // A folder never goes into itself or below itself: it and its subtree would leave the tree.
    for (const OVNCategoryTreeModel::Item *up = folder; up; up = up->parent) {
        if (up->node.value(keyMid).toString() == mid) {
            return refuse(up == folder && folder == dragged
                              ? localized("“%1” cannot move into itself.").arg(name)
                              : localized("“%1” cannot move into its own subfolder “%2”.").arg(name, folderName));
        }
    }
    return mid;
}

void OVNAssetManager::showDropRefusal(const QString &reason)
{
    if (reason.isEmpty()) {
        if (m_showsDropRefusal)
            setStatus(m_statusBeforeDropRefusal, false);
        return;
    }
    if (!m_showsDropRefusal)
        m_statusBeforeDropRefusal = statusText();
    setStatus(reason, false);
    m_showsDropRefusal = true;
}

Qt::DropAction OVNAssetManager::outlineViewValidateDrop(OVNOutlineView *, const QMimeData *data,
                                                        const QModelIndex &target)
{
    const OVNCategoryTreeModel::Item *item = m_state.categoryModel->itemForIndex(target.siblingAtColumn(0));
    const QString hovered = item ? item->node.value(keyMid).toString() : QString();
    if (hovered != m_dropAnswersRow) {
        m_dropAnswers.clear();
        m_dropAnswersRow = hovered;
    }
    QString refusal;
    const bool movable = !movableCategory(data, target, &refusal).isEmpty();
    showDropRefusal(refusal);
    return movable ? Qt::MoveAction : Qt::IgnoreAction;
}

bool OVNAssetManager::outlineViewAcceptDrop(OVNOutlineView *, const QMimeData *data, const QModelIndex &target)
{
    // The drop asks the catalog afresh.
    m_dropAnswers.clear();
    m_dropAnswersRow.clear();
    QString refusal;
    std::optional<OVNCategoryAccess::Refusal> catalogRefusal;
    const QString mid = movableCategory(data, target, &refusal, &catalogRefusal);
    m_dropAnswers.clear();
    showDropRefusal(refusal);
    // The catalog's refusal at the drop is said as the menu actions say it.
    if (catalogRefusal)
        showCategoryRefusal(*catalogRefusal);
    if (mid.isEmpty() || !m_state.dbcon)
        return false;
    const OVNCategoryTreeModel::Item *folder = m_state.categoryModel->itemForIndex(target.siblingAtColumn(0));
    const QString parent = folder ? folder->node.value(keyMid).toString() : QString();
    // The outline's levels let the drag begin; the catalog's levels now decide, within the move,
    // which goes on through sessions that end as a rename does.
    const quint64 failures = m_state.dbcon->failureCount();
    bool refused = false;
    bool moved = false;
    {
        const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
        OVNEntryEdits edits(m_state.dbcon.get());
        edits.setWaitingStatus(wait->status(), [&wait] { return wait->secondsLeft(); });
        const auto parentAllows = levelCheckInTransaction(OVNPrivilegeLevel::readWrite(), parent);
        const auto categoryAllows = levelCheckInTransaction(OVNPrivilegeLevel::fullAccess(), mid);
        moved = edits.moveCategory(
            mid, parent,
            [&](OVNDatabaseTransaction &transaction) {
                return parentAllows(transaction) && categoryAllows(transaction);
            },
            &refused);
    }
    if (!moved) {
        if (!refused)
            showCategoryRefusal(OVNCategoryAccess::writeFailure(*m_state.dbcon, failures,
                                                                localized("The category could not be moved.")));
        return false;
    }
    deselectAllCategories();
    reloadCategoryList();
    return true;
}

// ---- media and files dropped onto categories ----

void OVNAssetManager::ovnOutlineViewAddFiles(OVNOutlineView *outline, const QStringList &paths,
                                             const QModelIndex &target)
{
    addFiles(paths, outline->nodeForIndex(target));
}

void OVNAssetManager::ovnOutlineViewMoveMids(OVNOutlineView *, const QStringList &mids, const QString &fromCatalog,
                                             const QString &toCatalog)
{
    m_mediaDelegate->ovnMediaViewMoveMids(m_state.mediaView, mids, fromCatalog, toCatalog);
}

void OVNAssetManager::ovnOutlineViewLinkMids(OVNOutlineView *, const QStringList &mids, const QString &toImageSet)
{
    m_mediaDelegate->ovnMediaViewLinkMids(m_state.mediaView, mids, toImageSet);
}
