#include "app/OVNCategoryNodes.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "platform/CatalogNames.h"
#include "platform/Localized.h"

namespace OVNCategoryNodes {

namespace {

using CatalogNames::keyDisplayTag;
using CatalogNames::keyMid;
using CatalogNames::keyType;
const QString keyFolderItems = QStringLiteral("folderitems");

bool isFolder(const CategoryNode &node) { return node.value(keyType).toString() == QLatin1String("F"); }

// Gives each folder among `nodes` its items, nested, down to the greatest depth.
void readFolders(OVNDatabaseAccess &db, QList<CategoryNode> &nodes, int depth)
{
    for (CategoryNode &node : nodes) {
        if (!node.contains(keyMid) || !node.contains(keyType) || !isFolder(node))
            continue;
        QList<CategoryNode> children;
        if (depth < maximumDepth) {
            children = db.getCategoryListForMID(node.value(keyMid).toString());
            readFolders(db, children, depth + 1);
        }
        QVariantList items;
        items.reserve(children.size());
        for (const CategoryNode &child : std::as_const(children))
            items.append(child);
        node.insert(keyFolderItems, items);
    }
}

bool renameIn(QVariantMap &node, const QString &mid, const QString &name, int depth)
{
    bool found = false;
    if (node.value(keyMid).toString() == mid) {
        node.insert(keyDisplayTag, name);
        found = true;
    }
    if (node.contains(keyFolderItems) && depth < maximumDepth) {
        QVariantList children = node.value(keyFolderItems).toList();
        bool below = false;
        for (QVariant &value : children) {
            QVariantMap child = value.toMap();
            if (renameIn(child, mid, name, depth + 1)) {
                value = child;
                below = true;
            }
        }
        if (below) {
            node.insert(keyFolderItems, children);
            found = true;
        }
    }
    return found;
}

void collectCollections(const QVariantList &level, bool recursive, int depth, QStringList &mids)
{
    for (const QVariant &value : level) {
        const CategoryNode node = value.toMap();
        if (!node.contains(keyType) || !node.contains(keyMid))
            continue;
        const QString kind = node.value(keyType).toString();
        if (kind == QLatin1String("C"))
            mids.append(node.value(keyMid).toString());
        if (recursive && (kind == QLatin1String("F") || kind == QLatin1String("EXPANDABLE")) && depth < maximumDepth)
            collectCollections(node.value(keyFolderItems).toList(), recursive, depth + 1, mids);
    }
}

} // namespace

bool read(OVNDatabaseAccess &db, Tree &tree, const std::function<void(const QString &)> &status, int seconds)
{
    return OVNCatalogOpening::retried(
        db,
        [&] {
            tree.categories = db.getCategoryList(QStringLiteral("F"));
            readFolders(db, tree.categories, 0);
            for (const char *kind : {"C", "M", "I"})
                tree.categories.append(db.getCategoryList(QString::fromLatin1(kind)));
            tree.sets = db.getCategoryList(QStringLiteral("S"));
        },
        status, seconds);
}

CategoryNode sectionNode()
{
    CategoryNode section;
    section.insert(keyType, QStringLiteral("EXPANDABLE"));
    section.insert(QStringLiteral("icon"), QStringLiteral("DB"));
    section.insert(keyDisplayTag, localized("Database"));
    section.insert(QStringLiteral("ID"), QStringLiteral("CATALOGS"));
    return section;
}

QStringList collectionIds(const QVariantList &nodes, bool recursive)
{
    QStringList mids;
    collectCollections(nodes, recursive, 0, mids);
    return mids;
}

QStringList idsUnder(const CategoryNode &node)
{
    QStringList ids{node.value(keyMid).toString()};
    for (const QVariant &child : node.value(keyFolderItems).toList())
        ids << idsUnder(child.toMap());
    return ids;
}

QList<OVNSmartFolderSearch::Catalog> searchCatalogs(const QList<CategoryNode> &categories)
{
    QList<OVNSmartFolderSearch::Catalog> catalogs{{localized("All Entries"), {}, QString()}};
    for (const CategoryNode &node : categories) {
        const QString kind = node.value(keyType).toString();
        if (!node.contains(keyDisplayTag) || kind.isEmpty() || kind == QLatin1String("I"))
            continue;
        catalogs.append({node.value(keyDisplayTag).toString(), idsUnder(node), kind});
    }
    return catalogs;
}

QString countText(OVNDatabaseAccess &db, const CategoryNode &node, const QStringList &counted)
{
    const QString kind = node.value(keyType).toString();
    if (!counted.contains(kind) || !node.contains(keyMid))
        return QString();
    const QString level = node.contains(CatalogNames::keyPrivileges)
                              ? node.value(CatalogNames::keyPrivileges).toString()
                              : OVNPrivilegeLevel::fullAccess();
    if (!OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readOnly(), level))
        return QString();
    const quint64 failures = db.failureCount();
    const qint64 count = db.getReadableEntryCountForCategory(node.value(keyMid).toString(), kind);
    if (db.failureCount() != failures)
        return QString();
    return QString::number(count);
}

ListAccess listAccess(OVNDatabaseAccess &db, const QString &mid, const QString &name,
                      const std::function<void(const QString &)> &status, int seconds)
{
    OVNDatabaseAccess::CategoryAccess access;
    OVNCatalogOpening::retried(
        db, [&] { access = db.categoryAccessNow(mid); }, status, seconds);
    switch (access.status) {
    case OVNDatabaseAccess::CategoryAccess::Status::Found:
        break;
    case OVNDatabaseAccess::CategoryAccess::Status::Missing:
        return {localized("“%1” no longer exists.\nAnother user has deleted it from the catalog. Reload the category "
                          "list to see the catalog as it is now.")
                    .arg(name),
                std::nullopt};
    case OVNDatabaseAccess::CategoryAccess::Status::Failed:
        return {};
    }
    if (!OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readOnly(), access.level))
        return {localized("You may not see the entries of “%1”.\nYour access privileges for it are “%2”. Ask the "
                          "catalog's administrator if you need to see them.")
                    .arg(name, access.level),
                access.level};
    return {std::nullopt, access.level};
}

void rename(QList<CategoryNode> &nodes, const QString &mid, const QString &name)
{
    for (CategoryNode &node : nodes)
        renameIn(node, mid, name, 0);
}

} // namespace OVNCategoryNodes
