#include "app/OVNCategoryTreeModel.h"
#include "platform/PlainText.h"
#include "platform/CatalogNames.h"

#include <QImage>

namespace {
const QString keyFolderItems = QStringLiteral("folderitems");
const QString keyCounter = QStringLiteral("counter");
using CatalogNames::keyMid;
// Deeper nesting than this is a cycle in the stored tree.
constexpr int maximumDepth = 64;
} // namespace

OVNCategoryTreeModel::OVNCategoryTreeModel(QObject *parent) : QAbstractItemModel(parent) {}

OVNCategoryTreeModel::~OVNCategoryTreeModel() = default;

std::unique_ptr<OVNCategoryTreeModel::Item> OVNCategoryTreeModel::makeItem(const CategoryNode &node, Item *parent,
                                                                           int row, int depth)
{
    auto item = std::make_unique<Item>();
    item->node = node;
    item->parent = parent;
    item->row = row;
    if (depth < maximumDepth) {
        const QVariantList children = node.value(keyFolderItems).toList();
        item->children.reserve(size_t(children.size()));
        for (const QVariant &child : children)
            item->children.push_back(makeItem(child.toMap(), item.get(), int(item->children.size()), depth + 1));
    }
    return item;
}

void OVNCategoryTreeModel::setTree(const QList<CategoryNode> &roots, const QList<CategoryNode> &sectionChildren)
{
    beginResetModel();
    m_roots.clear();
    for (const CategoryNode &node : roots)
        m_roots.push_back(makeItem(node, nullptr, int(m_roots.size()), 0));
    if (!m_roots.empty()) {
        Item *section = m_roots.front().get();
        for (const CategoryNode &node : sectionChildren)
            section->children.push_back(makeItem(node, section, int(section->children.size()), 1));
    }
    endResetModel();
}

void OVNCategoryTreeModel::setShowsCounts(bool shows)
{
    if (shows == m_showsCounts)
        return;
    beginResetModel();
    m_showsCounts = shows;
    endResetModel();
}

void OVNCategoryTreeModel::invalidateCount(const QString &mid)
{
    for (Item *item : allItems()) {
        if (mid.isEmpty() || item->node.value(keyMid).toString() == mid)
            item->node.remove(keyCounter);
    }
}

OVNCategoryTreeModel::Item *OVNCategoryTreeModel::itemForIndex(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Item *>(index.internalPointer()) : nullptr;
}

QModelIndex OVNCategoryTreeModel::indexForItem(const Item *item, int column) const
{
    return item ? createIndex(item->row, column, const_cast<Item *>(item)) : QModelIndex();
}

QList<OVNCategoryTreeModel::Item *> OVNCategoryTreeModel::rootItems() const
{
    QList<Item *> items;
    for (const auto &root : m_roots)
        items.append(root.get());
    return items;
}

QList<OVNCategoryTreeModel::Item *> OVNCategoryTreeModel::allItems() const
{
    QList<Item *> items;
    std::function<void(const std::vector<std::unique_ptr<Item>> &)> walk =
        [&](const std::vector<std::unique_ptr<Item>> &level) {
            for (const auto &item : level) {
                items.append(item.get());
                walk(item->children);
            }
        };
    walk(m_roots);
    return items;
}

OVNCategoryTreeModel::Item *OVNCategoryTreeModel::itemForMid(const QString &mid) const
{
    if (mid.isEmpty())
        return nullptr;
    for (Item *item : allItems()) {
        if (item->node.value(keyMid).toString() == mid)
            return item;
    }
    return nullptr;
}

QModelIndex OVNCategoryTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (row < 0 || column < 0 || column >= columnCount(parent))
        return QModelIndex();
    const std::vector<std::unique_ptr<Item>> &level = parent.isValid() ? itemForIndex(parent)->children : m_roots;
    if (row >= int(level.size()))
        return QModelIndex();
    return createIndex(row, column, level[size_t(row)].get());
}

QModelIndex OVNCategoryTreeModel::parent(const QModelIndex &child) const
{
    const Item *item = itemForIndex(child);
    return item && item->parent ? indexForItem(item->parent) : QModelIndex();
}

int OVNCategoryTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    return int(parent.isValid() ? itemForIndex(parent)->children.size() : m_roots.size());
}

bool OVNCategoryTreeModel::hasChildren(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return !m_roots.empty();
    if (parent.column() > 0)
        return false;
    const Item *item = itemForIndex(parent);
    const QString kind = item->node.value(QStringLiteral("type")).toString();
    return !item->children.empty() || kind == QLatin1String("F") || kind == QLatin1String("EXPANDABLE");
}

int OVNCategoryTreeModel::columnCount(const QModelIndex &) const { return m_showsCounts ? 2 : 1; }

QVariant OVNCategoryTreeModel::data(const QModelIndex &index, int role) const
{
    Item *item = itemForIndex(index);
    if (!item)
        return QVariant();
    if (index.column() == 0) {
        if (role == Qt::DisplayRole) {
            // A row without a name still has something to click on.
            const QString name = item->node.value(QStringLiteral("displaytag")).toString();
            return name.isEmpty() ? QStringLiteral(" ") : name;
        }
        if (role == Qt::EditRole)
            return item->node.value(QStringLiteral("displaytag")).toString();
        if (role == Qt::DecorationRole && m_iconProvider) {
            const QImage icon = m_iconProvider(item->node);
            return icon.isNull() ? QVariant() : QVariant(icon);
        }
        if (role == Qt::ToolTipRole)
            return plainToolTip(item->node.value(QStringLiteral("displaytag")).toString());
        return QVariant();
    }
    if (role == Qt::DisplayRole) {
        if (!item->node.contains(keyCounter))
            item->node.insert(keyCounter, m_countProvider ? m_countProvider(item->node) : QString());
        return item->node.value(keyCounter).toString();
    }
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
}

Qt::ItemFlags OVNCategoryTreeModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const Item *item = itemForIndex(index);
    if (item && item->node.contains(keyMid)) {
        flags |= Qt::ItemIsDragEnabled;
        if (m_renameHandler && index.column() == 0)
            flags |= Qt::ItemIsEditable;
    }
    return flags;
}

bool OVNCategoryTreeModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    Item *item = itemForIndex(index);
    if (role != Qt::EditRole || index.column() != 0 || !item || !item->node.contains(keyMid) || !m_renameHandler)
        return false;
    const QString name = value.toString();
    if (name == item->node.value(QStringLiteral("displaytag")).toString())
        return true;
    // The handler may rebuild the tree; the item is looked up again afterwards.
    const QString mid = item->node.value(keyMid).toString();
    if (!m_renameHandler(item->node, name))
        return false;
    setDisplayTag(mid, name);
    return true;
}

void OVNCategoryTreeModel::setDisplayTag(const QString &mid, const QString &name)
{
    for (Item *item : allItems()) {
        if (item->node.value(keyMid).toString() != mid)
            continue;
        item->node.insert(QStringLiteral("displaytag"), name);
        const QModelIndex changed = indexForItem(item);
        emit dataChanged(changed, changed, {Qt::DisplayRole, Qt::EditRole});
    }
}
