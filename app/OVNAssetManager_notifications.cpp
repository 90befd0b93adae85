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
    if (!m_trackImportDidFinish)
        return;
    const QString categoryId = userInfo.value(keyCategoryId).toString();
    const std::optional<CategoryNode> selected = selectedCategory();
    for (OVNCategoryTreeModel::Item *item : m_categoryModel->allItems()) {
        if (item->node.value(keyMid).toString() != categoryId || categoryId.isEmpty())
            continue;
        const QModelIndex index = m_categoryModel->indexForItem(item);
        // Only rows the outline shows: inside closed folders nothing is visible.
        bool shown = true;
        for (const OVNCategoryTreeModel::Item *up = item->parent; up; up = up->parent)
            shown = shown && m_categoryList->isExpanded(m_categoryModel->indexForItem(up));
        if (!shown)
            continue;
        item->node.remove(keyCounter);
        if (m_categoryList->selectionModel()->isRowSelected(index.row(), index.parent()) && selected)
            reloadMediaList();
        else
            selectCategory(categoryId);
        break;
    }
    m_categoryList->viewport()->update();
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
            m_mediaView->deselectAll();
            ovnMediaViewSelectionDidChange(m_mediaView);
            reloadMediaList();
        }
    } else {
        reloadCategoryList();
        reloadMediaList();
        ovnMediaViewSelectionDidChange(m_mediaView);
    }
    invalidateCountForCategory(categoryId);
}
