// The category tree in strvcategory.

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNResultRow.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"

namespace {

using CatalogNames::keyComment;
using CatalogNames::keyDisplayTag;
using CatalogNames::keyMid;
using CatalogNames::keyPrivileges;
using CatalogNames::keyType;
const QString keyIcon = QStringLiteral("icon");

bool isCategoryKind(const QString &kind) { return kind.size() == 1 && QStringLiteral("FCSMI").contains(kind); }

bool hasSetIcon(const QString &kind) { return kind == QLatin1String("S") || kind == QLatin1String("I"); }

} // namespace

// A NULL comment reads as the empty text everywhere: a node is a property list (it travels on the
// pasteboard when categories are dragged), and a property list has no null.

QList<CategoryNode> OVNDatabaseAccess::getCategoryList(const QString &kind)
{
    QList<CategoryNode> nodes;
    execute(QStringLiteral("select mid, displaytag, comment from strvcategory "
                           "where type=$1 and (supermid ='' or supermid is NULL)"),
            {kind}, [&](const OVNResultRow &row) {
                CategoryNode node;
                node.insert(keyMid, row.text(0));
                node.insert(keyDisplayTag, row.text(1));
                node.insert(keyComment, row.text(2));
                node.insert(keyType, kind);
                nodes.append(std::move(node));
                return true;
            });
    for (CategoryNode &node : nodes)
        node.insert(keyPrivileges, getAccessPrivilegesForCurrentUser(node.value(keyComment).toString()));
    return nodes;
}

QString OVNDatabaseAccess::categoryNamed(const QString &name, const QString &kind, const QString &parentMid)
{
    QString mid;
    const auto take = [&mid](const OVNResultRow &row) {
        mid = row.text(0);
        return false;
    };
    if (parentMid.isEmpty())
        execute(QStringLiteral("select mid from strvcategory where type=$1 and displaytag=$2 "
                               "and (supermid ='' or supermid is NULL) order by mid"),
                {kind, name}, take);
    else
        execute(QStringLiteral("select mid from strvcategory where type=$1 and displaytag=$2 and supermid=$3 "
                               "order by mid"),
                {kind, name, parentMid}, take);
    return mid;
}

bool OVNDatabaseAccess::lockCategoryMaking()
{
    if (vendor() != Vendor::PostgreSQL)
        return true;
    // A lock of the transaction that no table holds: catalogs stay as older clients know them.
    // The key is the catalog's own (the characters "ovncat" as a number).
    return runSQLCommand(QStringLiteral("select pg_advisory_xact_lock(122554448830836)"));
}

QList<CategoryNode> OVNDatabaseAccess::getCategoryListForMID(const QString &parentMid)
{
    QList<CategoryNode> nodes;
    execute(QStringLiteral("select mid, displaytag, comment, type from strvcategory where supermid=$1"), {parentMid},
            [&](const OVNResultRow &row) {
                CategoryNode node;
                node.insert(keyMid, row.text(0));
                node.insert(keyDisplayTag, row.text(1));
                node.insert(keyComment, row.text(2));
                const QString type = row.text(3);
                node.insert(keyType, type);
                if (hasSetIcon(type))
                    node.insert(keyIcon, QStringLiteral("mediaset5"));
                nodes.append(std::move(node));
                return true;
            });
    for (CategoryNode &node : nodes)
        node.insert(keyPrivileges, getAccessPrivilegesForCurrentUser(node.value(keyComment).toString()));
    return nodes;
}

std::optional<CategoryNode> OVNDatabaseAccess::getCategoryForMID(const QString &mid)
{
    std::optional<CategoryNode> found;
    execute(QStringLiteral("select mid, displaytag, comment, type from strvcategory where mid=$1"), {mid},
            [&](const OVNResultRow &row) {
                CategoryNode node;
                node.insert(keyMid, row.text(0));
                node.insert(keyDisplayTag, row.text(1));
                node.insert(keyComment, row.text(2));
                const QString type = row.text(3);
                node.insert(keyType, type);
                if (hasSetIcon(type))
                    node.insert(keyIcon, QStringLiteral("mediaset5"));
                found = std::move(node);
                return false;
            });
    if (!found)
        return std::nullopt;
    const QString level = getAccessPrivilegesForCurrentUser(found->value(keyComment).toString());
    if (level == QLatin1String("NO ACCESS"))
        return CategoryNode();
    found->insert(keyPrivileges, level);
    return found;
}

QString OVNDatabaseAccess::addCategoryListEntry(const QString &name, const QString &kind)
{
    return addCategoryListEntryWithMID(QString(), name, kind);
}

QString OVNDatabaseAccess::addCategoryListEntryWithMID(const QString &mid, const QString &name, const QString &kind)
{
    const QString type = kind.isEmpty() ? QStringLiteral("C") : kind;
    if (!isCategoryKind(type)) {
        std::lock_guard lock(m_mutex);
        setLastError(localized("\"%1\" is not a kind of category.").arg(kind));
        return QString();
    }
    return insertWithNewMID(
        QStringLiteral("insert into strvcategory (mid, type, displaytag) values ($1, $2, $3)"), {type, name}, mid,
        {QStringLiteral("select 1 from strvcategory where mid=$1 and type=$2 and displaytag=$3"), {type, name}});
}

bool OVNDatabaseAccess::updateCategoryListEntry(const QString &mid, const QString &name)
{
    const StatementResult result = execute(QStringLiteral("update strvcategory set displaytag=$1 where mid=$2"),
                                           {name, mid}, [](const OVNResultRow &) { return false; });
    return !insertFailed(result);
}

bool OVNDatabaseAccess::updateCategoryListComment(const QString &mid, const QString &comment)
{
    const StatementResult result = execute(QStringLiteral("update strvcategory set comment=$1 where mid=$2"),
                                           {comment, mid}, [](const OVNResultRow &) { return false; });
    return !insertFailed(result);
}

bool OVNDatabaseAccess::setCategoryListEntrySuperMID(const QString &mid, const QString &parentMid)
{
    const StatementResult result = execute(QStringLiteral("update strvcategory set supermid=$1 where mid=$2"),
                                           {parentMid, mid}, [](const OVNResultRow &) { return false; });
    return !insertFailed(result);
}

bool OVNDatabaseAccess::deleteCategoryListEntry(const QString &mid)
{
    return runSQLCommand(QStringLiteral("delete from strvcategory where mid=$1"), {mid});
}

qint64 OVNDatabaseAccess::getEntryCountForCategory(const QString &mid, const QString &kind)
{
    // count(*) is answered from the index on the column alone; counting a column that is not in
    // it would read every row, inline thumbnail and all.
    QString sql;
    if (kind == QLatin1String("F"))
        sql = QStringLiteral("select count(*) from strvcategory where supermid=$1");
    else if (kind == QLatin1String("S"))
        sql = QStringLiteral("select count(*) from strvset where categorymid=$1");
    else if (kind == QLatin1String("C") || kind == QLatin1String("M"))
        sql = QStringLiteral("select count(*) from strvfile where categoryid=$1");
    else
        return 0;
    qint64 count = 0;
    execute(sql, {mid}, [&count](const OVNResultRow &row) {
        count = row.text(0).toLongLong();
        return true;
    });
    return count;
}

qint64 OVNDatabaseAccess::getReadableEntryCountForCategory(const QString &mid, const QString &kind)
{
    if (!useAuthentication() || (kind != QLatin1String("F") && kind != QLatin1String("S")))
        return getEntryCountForCategory(mid, kind);
    const auto readable = [this](const QString &comment) {
        return getAccessPrivilegesForCurrentUser(comment) != QLatin1String("NO ACCESS");
    };
    qint64 count = 0;
    if (kind == QLatin1String("F")) {
        execute(QStringLiteral("select comment from strvcategory where supermid=$1"), {mid},
                [&](const OVNResultRow &row) {
                    count += readable(row.text(0)) ? 1 : 0;
                    return true;
                });
        return count;
    }
    // One row per owning category: its comment (empty when it is gone, which reads as FULL ACCESS,
    // as the media list treats it) and how many of the set's members it owns.
    execute(QStringLiteral("select c.comment, count(*) from strvset s join strvfile f on f.mid=s.filemid "
                           "left join strvcategory c on c.mid=f.categoryid where s.categorymid=$1 "
                           "group by f.categoryid, c.comment"),
            {mid}, [&](const OVNResultRow &row) {
                if (readable(row.text(0)))
                    count += row.text(1).toLongLong();
                return true;
            });
    return count;
}

bool OVNDatabaseAccess::deleteEntriesOwnedByCategory(const QString &categoryId)
{
    static const QString ownedEntries = QStringLiteral("(select mid from strvfile where categoryid=$1)");
    static const QStringList statements = {
        QStringLiteral("delete from strvset where filemid in ") + ownedEntries,
        QStringLiteral("delete from strvexif where mid in ") + ownedEntries,
        QStringLiteral("delete from strvpurchased where mid in ") + ownedEntries,
        QStringLiteral("delete from strvsold where mid in ") + ownedEntries,
        QStringLiteral("delete from strvfile where categoryid=$1"),
    };
    for (const QString &sql : statements)
        if (!runSQLCommand(sql, {categoryId}))
            return false;
    return true;
}

bool OVNDatabaseAccess::deleteSetMemberships(const QString &setId)
{
    return runSQLCommand(QStringLiteral("delete from strvset where categorymid=$1"), {setId});
}
