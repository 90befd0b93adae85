// The three catalog notifications: an import's end, a changed category list, changed members.
#include "app/OVNAssetManager.h"

#include "app/OVNCategoryTreeModel.h"
#include "browser/OVNMediaView.h"
#include "platform/NotificationCenter.h"

#include "app/OVNOutlineView.h"
#include "platform/CatalogNames.h"

namespace {
const QString keySender = QStringLiteral("object");
using CatalogNames::keyCategoryId;
const QString keyCounter = QStringLiteral("counter");
using CatalogNames::keyMid;
} // namespace

void OVNAssetManager::postNotification(const QString &name, QVariantMap userInfo)
{
    userInfo.insert(keySender, QVariant::fromValue(static_cast<QObject *>(this)));
    NotificationCenter::defaultCenter().postNotification(name, userInfo);
}

const QObject *OVNAssetManager::notificationSender(const QVariantMap &userInfo)
{
    return userInfo.value(keySender).value<QObject *>();
}

void OVNAssetManager::ovnImportMediaDidFinish(const QVariantMap &userInfo)
{
    const QString categoryId = userInfo.value(keyCategoryId).toString();
    // An import may have made its category (a smart add's collections, a card's download): the
    // tree is rebuilt to hold it, keeping what the user has selected.
    if (!categoryId.isEmpty() && !m_state.categoryModel->itemForMid(categoryId)) {
        QStringList selected;
        for (const CategoryNode &node : selectedCategoryNodes())
            selected.append(node.value(keyMid).toString());
        reloadCategoryList();
        m_reloadingTree = true;
        selectCategories(selected);
        m_reloadingTree = false;
    }
    // Every window's count of the category (and of the folders it lies in) is stale now, whoever
    // imported: a count drawn while the import ran would stay behind.
    invalidateCountWithParents(categoryId);
    if (!m_state.trackImportDidFinish || categoryId.isEmpty()) {
        m_state.categoryList->viewport()->update();
        return;
    }
    if (OVNCategoryTreeModel::Item *item = m_state.categoryModel->itemForMid(categoryId)) {
        const QModelIndex index = m_state.categoryModel->indexForItem(item);
        const bool selectedAlone =
            selectedCategory() && m_state.categoryList->selectionModel()->isRowSelected(index.row(), index.parent());
        if (selectedAlone)
            reloadMediaList();
        else
            selectCategory(categoryId); // opens the folders it lies in
    }
    m_state.categoryList->viewport()->update();
}

void OVNAssetManager::invalidateCountWithParents(const QString &mid)
{
    if (mid.isEmpty())
        return;
    QStringList mids{mid};
    if (const OVNCategoryTreeModel::Item *item = m_state.categoryModel->itemForMid(mid)) {
        for (const OVNCategoryTreeModel::Item *up = item->parent; up; up = up->parent)
            mids.append(up->node.value(keyMid).toString());
    }
    for (const QString &each : std::as_const(mids)) {
        if (!each.isEmpty())
            m_state.categoryModel->invalidateCount(each);
    }
}

void OVNAssetManager::ovnCategoryListDidChange(const QVariantMap &userInfo)
{
    const QStringList deleted = userInfo.value(QStringLiteral("deleted")).toStringList();
    if (notificationSender(userInfo) == this && userInfo.contains(QStringLiteral("action"))) {
        if (userInfo.value(QStringLiteral("action")).toString() == QLatin1String("add")) {
            deselectAllCategories();
            reloadCategoryList();
        }
        return;
    }
    const QList<CategoryNode> selected = selectedCategoryNodes();
    // A window showing a category that is gone must not go on importing into it.
    for (const CategoryNode &node : selected) {
        if (deleted.contains(node.value(keyMid).toString())) {
            deselectAllCategories();
            reloadCategoryList();
            reloadMediaList();
            return;
        }
    }
    if (selected.isEmpty()) {
        reloadCategoryList();
        return;
    }
    invalidateCountForCategory(selected.first().value(keyMid).toString());
}

void OVNAssetManager::ovnCategoryListReload(const QVariantMap &userInfo)
{
    const QString categoryId = userInfo.value(keyCategoryId).toString();
    if (const std::optional<CategoryNode> node = selectedCategory()) {
        if (node->contains(keyMid) && node->value(keyMid).toString() == categoryId) {
            m_state.mediaView->deselectAll();
            ovnMediaViewSelectionDidChange(m_state.mediaView);
            reloadMediaList();
        }
    } else {
        reloadCategoryList();
        reloadMediaList();
        ovnMediaViewSelectionDidChange(m_state.mediaView);
    }
    invalidateCountForCategory(categoryId);
}
