// The category tree of the catalog window: loading it whole, keeping the open folders across
// reloads, the count column and the outline selection.
#include "app/OVNAssetManager.h"

#include "formats/OVNHelper.h"

#include "catalogdb/OVNCatalogOpening.h"

#include "app/OVNCategoryNodes.h"
#include "app/OVNCategoryTreeModel.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "browser/OVNMediaView.h"
#include "platform/Alert.h"
#include "platform/Localized.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include "app/OVNOutlineView.h"
#include "platform/CatalogNames.h"

#include <functional>

namespace {
using CatalogNames::keyMid;
using CatalogNames::keyType;
bool isFolder(const CategoryNode &node) { return node.value(keyType).toString() == QLatin1String("F"); }
} // namespace

void OVNAssetManager::reload()
{
    if (!m_state.dbcon || !m_state.dbcon->isDBConnectionActive()) {
        Alert alert;
        alert.style = Alert::Style::Critical;
        alert.message = localized("Ostrevan failed to connect to the media database. Please check your database "
                                  "settings (preferences).");
        alert.informativeText = localized("No database connection");
        alert.buttons = {localized("Close")};
        alert.window = this;
        Alerts::run(alert);
        return;
    }
    reloadCategoryList();
    updateCategoryList();
    initMediaViewWithTopView(nullptr);
    m_state.mediaView->resizeFrameToFitMediaContainer();
    updateEmptyListHint();
}

void OVNAssetManager::reloadCategoryList()
{
    if (!m_state.dbcon)
        return;
    QStringList expanded;
    if (m_internalCategoryList)
        expanded = reloadCategoryListExpandedItems(*m_internalCategoryList);

    // The user's groups as they are now decide the levels the tree is loaded with; a user left in
    // no group sees no category at all.
    const bool excluded = !refreshGroupsForList();
    OVNCategoryNodes::Tree tree;
    bool read = true;
    if (!excluded) {
        // Read whole again on a new session when the session ends on the way, within the
        // command's 30 seconds (shown in the status line).
        const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
        read = OVNCategoryNodes::read(*m_state.dbcon, tree, wait->status(), wait->secondsLeft());
    }
    if (!read) {
        // A tree with holes would pass for the catalog: the one shown stays, and the user hears why.
        const bool unreachable = m_state.dbcon->lastFailure() == OVNDatabaseAccess::Failure::Unreachable;
        const bool kept = m_internalCategoryList.has_value();
        Alerts::display(
            localized("The category list could not be read completely."),
            (unreachable ? localized("The catalog server cannot be reached.") : m_state.dbcon->getLastErrorMessage())
                + QStringLiteral("\n\n")
                + (kept ? localized("The list shown is the one read before. Reload it once the catalog can be "
                                    "reached again.")
                        : localized("Categories may be missing from the list. Reload it once the catalog can be "
                                    "reached again.")),
            m_state.mediaView ? m_state.mediaView->window() : this);
        if (kept)
            return;
    }
    m_internalCategoryList = tree.categories;
    m_internalSectionList = {OVNCategoryNodes::sectionNode()};
    m_internalSectionList.append(tree.sets);

    // Rebuilding the model drops the selection; that is no selection change of the user's.
    m_reloadingTree = true;
    m_state.categoryModel->setTree(m_internalSectionList, *m_internalCategoryList);
    m_reloadingTree = false;
    m_state.categoryList->expand(m_state.categoryModel->index(0, 0));
    if (!expanded.isEmpty())
        reloadCategoryListExpandItems(expanded);
    m_state.categoryList->viewport()->update();
}

QStringList OVNAssetManager::reloadCategoryListExpandedItems(const QList<CategoryNode> &) const
{
    // The outline's items mirror the nodes; the section item's own state is not kept.
    QStringList mids;
    const QList<OVNCategoryTreeModel::Item *> roots = m_state.categoryModel->rootItems();
    if (roots.isEmpty())
        return mids;
    std::function<void(const OVNCategoryTreeModel::Item *)> walk = [&](const OVNCategoryTreeModel::Item *item) {
        for (const auto &child : item->children) {
            if (m_state.categoryList->isExpanded(m_state.categoryModel->indexForItem(child.get())))
                mids.append(child->node.value(keyMid).toString());
            if (isFolder(child->node))
                walk(child.get());
        }
    };
    walk(roots.first());
    return mids;
}

void OVNAssetManager::reloadCategoryListExpandItems(const QStringList &mids)
{
    const QList<OVNCategoryTreeModel::Item *> roots = m_state.categoryModel->rootItems();
    if (roots.isEmpty())
        return;
    std::function<void(const OVNCategoryTreeModel::Item *)> walk = [&](const OVNCategoryTreeModel::Item *item) {
        for (const auto &child : item->children) {
            if (mids.contains(child->node.value(keyMid).toString()))
                m_state.categoryList->expand(m_state.categoryModel->indexForItem(child.get()));
            if (isFolder(child->node))
                walk(child.get());
        }
    };
    walk(roots.first());
}

void OVNAssetManager::updateCategoryList()
{
    const bool counts = m_state.viewShowCountOnLightTables || m_state.viewShowCountOnFilmRolls
                        || m_state.viewShowCountOnImageSets || m_state.viewShowCountOnSurveillanceFolders;
    if (counts != m_state.categoryModel->showsCounts()) {
        const QStringList expanded = reloadCategoryListExpandedItems({});
        const bool sectionOpen = m_state.categoryList->isExpanded(m_state.categoryModel->index(0, 0));
        const QStringList selected = [this] {
            QStringList mids;
            for (const CategoryNode &node : selectedCategoryNodes())
                mids.append(node.value(keyMid).toString());
            return mids;
        }();
        m_reloadingTree = true;
        m_state.categoryModel->setShowsCounts(counts);
        if (sectionOpen)
            m_state.categoryList->expand(m_state.categoryModel->index(0, 0));
        reloadCategoryListExpandItems(expanded);
        selectCategories(selected);
        m_reloadingTree = false;
    }
    QHeaderView *header = m_state.categoryList->header();
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    if (counts) {
        header->setSectionResizeMode(1, QHeaderView::Fixed);
        header->resizeSection(1, 28);
    }
    m_state.categoryList->viewport()->update();
}

QString OVNAssetManager::countTextFor(const CategoryNode &node)
{
    // Asked while the outline draws, which never waits.
    const std::pair<const char *, bool> kinds[] = {{"F", m_state.viewShowCountOnLightTables},
                                                   {"C", m_state.viewShowCountOnFilmRolls},
                                                   {"S", m_state.viewShowCountOnImageSets},
                                                   {"M", m_state.viewShowCountOnSurveillanceFolders}};
    QStringList counted;
    for (const auto &[kind, shown] : kinds) {
        if (shown)
            counted << QLatin1String(kind);
    }
    return m_state.dbcon ? OVNCategoryNodes::countText(*m_state.dbcon, node, counted) : QString();
}

void OVNAssetManager::invalidateCountForCategory(const QString &mid)
{
    m_state.categoryModel->invalidateCount(mid);
    m_state.categoryList->viewport()->update();
}

// ---- outline selection ----

bool OVNAssetManager::selectCategory(const QString &mid)
{
    for (OVNCategoryTreeModel::Item *item : m_state.categoryModel->allItems()) {
        const bool match = mid.isEmpty() ? !item->parent && item->row == 0 && !item->node.contains(keyMid)
                                         : item->node.value(keyMid).toString() == mid;
        if (!match)
            continue;
        for (const OVNCategoryTreeModel::Item *up = item->parent; up; up = up->parent)
            m_state.categoryList->expand(m_state.categoryModel->indexForItem(up));
        const QModelIndex index = m_state.categoryModel->indexForItem(item);
        m_state.categoryList->selectionModel()->select(index,
                                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_state.categoryList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        return true;
    }
    return false;
}

void OVNAssetManager::selectCategories(const QStringList &mids)
{
    QItemSelection selection;
    for (OVNCategoryTreeModel::Item *item : m_state.categoryModel->allItems()) {
        if (item->node.contains(keyMid) && mids.contains(item->node.value(keyMid).toString())) {
            const QModelIndex index = m_state.categoryModel->indexForItem(item);
            selection.select(index, index);
        }
    }
    m_state.categoryList->selectionModel()->select(selection,
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void OVNAssetManager::deselectAllCategories() { m_state.categoryList->selectionModel()->clearSelection(); }

QList<CategoryNode> OVNAssetManager::selectedCategoryNodes() const
{
    // In tree order, also for rows inside closed folders.
    QList<CategoryNode> nodes;
    const QItemSelectionModel *selection = m_state.categoryList->selectionModel();
    if (!selection->hasSelection())
        return nodes;
    for (const OVNCategoryTreeModel::Item *item : m_state.categoryModel->allItems()) {
        if (selection->isSelected(m_state.categoryModel->indexForItem(item)))
            nodes.append(item->node);
    }
    return nodes;
}

std::optional<CategoryNode> OVNAssetManager::selectedCategory() const
{
    const QModelIndexList rows = m_state.categoryList->selectionModel()->selectedRows(0);
    if (rows.size() != 1)
        return std::nullopt;
    if (const OVNCategoryTreeModel::Item *item = m_state.categoryModel->itemForIndex(rows.first()))
        return item->node;
    return std::nullopt;
}

bool OVNAssetManager::isCategoryExpanded(const QString &mid) const
{
    for (const OVNCategoryTreeModel::Item *item : m_state.categoryModel->allItems()) {
        if (item->node.value(keyMid).toString() == mid)
            return m_state.categoryList->isExpanded(m_state.categoryModel->indexForItem(item));
    }
    return false;
}

void OVNAssetManager::setCategoryExpanded(const QString &mid, bool expanded)
{
    for (const OVNCategoryTreeModel::Item *item : m_state.categoryModel->allItems()) {
        if (item->node.value(keyMid).toString() == mid)
            m_state.categoryList->setExpanded(m_state.categoryModel->indexForItem(item), expanded);
    }
}

void OVNAssetManager::outlineSelectionDidChange()
{
    if (m_reloadingTree)
        return;
    m_state.trackImportDidFinish = false;
    reloadMediaList();
    m_mediaDelegate->loadSelectionDetails();
}
