#pragma once

#include "catalogdb/OVNDatabaseAccess.h"

#include <QAbstractItemModel>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// The catalog window's category tree as the outline shows it: the root items (the "Database"
// section item, then the top-level category sets), the section item's children and, below every
// folder, its "folderitems", all loaded at once so that opening a folder asks the catalog nothing.
//
// Column 0 is the name ("ID"); column 1, present while counts are shown, the item count ("COUNT").
// A count is asked of the count provider the first time it is drawn and cached under "counter" in
// the item until it is invalidated.
class OVNCategoryTreeModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    struct Item {
        CategoryNode node;
        Item *parent = nullptr;
        int row = 0;
        std::vector<std::unique_ptr<Item>> children;
    };
    // The count text of a node, "" for none.
    using CountProvider = std::function<QString(const CategoryNode &)>;
    // The icon of a node's kind.
    using IconProvider = std::function<QImage(const CategoryNode &)>;
    // Stores a name edited in place; false keeps the old one.
    using RenameHandler = std::function<bool(const CategoryNode &, const QString &)>;

    explicit OVNCategoryTreeModel(QObject *parent = nullptr);
    ~OVNCategoryTreeModel() override;

    // Replaces the whole tree. The section item is the first root; `sectionChildren` go below it;
    // a folder's children come from its "folderitems".
    void setTree(const QList<CategoryNode> &roots, const QList<CategoryNode> &sectionChildren);
    void setShowsCounts(bool shows);
    bool showsCounts() const { return m_showsCounts; }
    void setCountProvider(CountProvider provider) { m_countProvider = std::move(provider); }
    void setIconProvider(IconProvider provider) { m_iconProvider = std::move(provider); }
    // Makes every category (not the section item) editable in place; the handler stores.
    void setRenameHandler(RenameHandler handler) { m_renameHandler = std::move(handler); }
    // Sets the shown name of every item with that id.
    void setDisplayTag(const QString &mid, const QString &name);
    // Drops the cached count of every item with that id (all items for an empty id).
    void invalidateCount(const QString &mid);

    Item *itemForIndex(const QModelIndex &index) const;
    QModelIndex indexForItem(const Item *item, int column = 0) const;
    // The root items in order.
    QList<Item *> rootItems() const;
    // Every item, depth first, parents before their children.
    QList<Item *> allItems() const;
    // The first item, in that order, whose node has this "mid"; null for an empty id or none.
    Item *itemForMid(const QString &mid) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    // Folders and the section item can always be opened, also when empty.
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

private:
    static std::unique_ptr<Item> makeItem(const CategoryNode &node, Item *parent, int row, int depth);

    std::vector<std::unique_ptr<Item>> m_roots;
    bool m_showsCounts = false;
    CountProvider m_countProvider;
    IconProvider m_iconProvider;
    RenameHandler m_renameHandler;
};
