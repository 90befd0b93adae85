#pragma once

#include "app/OVNSmartFolderSearch.h"
#include "catalogdb/OVNDatabaseAccess.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <optional>

// The catalog window's category tree as the catalog holds it, without widgets: reading it whole,
// the items it holds, the collections a folder shows and the list a find searches in.
namespace OVNCategoryNodes {

// A stored tree nested deeper than this has a cycle.
constexpr int maximumDepth = 64;

struct Tree {
    // Folders with their "folderitems" nested, then the collections, watched folders and smart
    // folders, each kind in the catalog's order.
    QList<CategoryNode> categories;
    QList<CategoryNode> sets;
};

// Reads the whole tree into `tree`, again on a new session when the session ends on the way,
// within `seconds` (its waits said through `status`). Whether it was read whole; when not, `tree`
// holds what the last try read and the connection's last failure says why.
bool read(OVNDatabaseAccess &db, Tree &tree, const std::function<void(const QString &)> &status, int seconds);

// The "Database" item above the sets.
CategoryNode sectionNode();

// The ids of the collections among `nodes`, and with `recursive` of those in the folders below them,
// in tree order.
QStringList collectionIds(const QVariantList &nodes, bool recursive);

// The node's id and those of every item below it.
QStringList idsUnder(const CategoryNode &node);

// What a find may search in: "All Entries", then every category but the smart folders with the ids
// it stands for.
QList<OVNSmartFolderSearch::Catalog> searchCatalogs(const QList<CategoryNode> &categories);

// The count the tree shows beside a category of a kind in `counted` ("F", "C", "S", "M"): the
// entries the user may read, "" for another kind, a category the user may not read (it tells
// nothing of what it holds) or a count that could not be read (no false "0": asked again at the
// next drawing).
QString countText(OVNDatabaseAccess &db, const CategoryNode &node, const QStringList &counted);

// Whether the entries of the category `mid`, named `name`, may be listed now, asked of the catalog
// again on a new session when the session ends on the way, within `seconds`.
struct ListAccess {
    // Why not: the category was deleted meanwhile, or the user may not read it; nothing when it may
    // be listed, or when the question could not be asked (the list's own read then fails too).
    std::optional<QString> refusal;
    std::optional<QString> level; // the user's level on it, when it was read
};
ListAccess listAccess(OVNDatabaseAccess &db, const QString &mid, const QString &name,
                      const std::function<void(const QString &)> &status, int seconds);

// Gives the item `mid` the name wherever it stands in `nodes`, folders' items included.
void rename(QList<CategoryNode> &nodes, const QString &mid, const QString &name);

} // namespace OVNCategoryNodes
