// Login of the catalog user and the user's level for a category.

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNResultRow.h"
#include "platform/PropertyList.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <array>
#include <vector>

bool OVNDatabaseAccess::authenticateUser(const QString &login)
{
    {
        std::lock_guard lock(m_mutex);
        m_authgroupmids.clear();
        // Kept also when user management is off or the login fails: the groups are read again
        // by this login later, and an administrator may set up users or groups meanwhile.
        m_boundlogin = login;
    }
    if (!checkForUserManagerSetup())
        return true;
    const QList<OVNRow> rows = rowsForQuery(
        QStringLiteral("select mg.mid, mgu.usermid, mg.xml from strvgroups mg left outer join strvgroupusers mgu "
                       "on mg.mid=mgu.groupmid left outer join strvusers mu on mgu.usermid = mu.mid "
                       "where mu.login=$1"),
        {login});
    std::lock_guard lock(m_mutex);
    for (const OVNRow &row : rows) {
        m_authgroupmids.append(row.value(0).toString());
        m_authusermid = row.value(1).toString();
        m_authusername = login;
    }
    // A user who belongs to no group cannot log in.
    return !rows.isEmpty();
}

QString OVNDatabaseAccess::getAccessPrivilegesForCurrentUser(const QString &categoryComment) const
{
    QStringList groups;
    {
        std::lock_guard lock(m_mutex);
        if (!m_useauthentication)
            return QStringLiteral("FULL ACCESS");
        groups = m_authgroupmids;
    }
    if (categoryComment.isEmpty())
        return QStringLiteral("FULL ACCESS");
    const QVariant comment = PropertyList::read(categoryComment.toUtf8());
    if (comment.typeId() != QMetaType::QVariantMap)
        return QStringLiteral("FULL ACCESS");
    const QVariant privileges = comment.toMap().value(QStringLiteral("PRIVILEGES"));
    if (privileges.typeId() != QMetaType::QVariantList)
        return QStringLiteral("FULL ACCESS");
    return OVNDBHelper::privilegeLevelForEntries(privileges.toList(), groups);
}

QString OVNDatabaseAccess::getCategoryAccessPrivilegesForMID(const QString &categoryMid)
{
    if (!useAuthentication())
        return QStringLiteral("FULL ACCESS");
    const quint64 failures = failureCount();
    const QList<OVNRow> rows =
        rowsForQuery(QStringLiteral("select comment from strvcategory where mid=$1"), {categoryMid});
    // A privilege list that could not be read grants nothing.
    if (failureCount() != failures)
        return QString();
    if (rows.isEmpty() || rows.first().isEmpty())
        return QStringLiteral("FULL ACCESS");
    return getAccessPrivilegesForCurrentUser(rows.first().first().toString());
}

OVNDatabaseAccess::CategoryAccess OVNDatabaseAccess::categoryAccessNow(const QString &categoryMid)
{
    using Status = CategoryAccess::Status;
    const quint64 failures = failureCount();
    // On a server, within a transaction, the row is locked for the rest of it; SQLite's write
    // transaction holds the whole file already.
    QString sql = QStringLiteral("select comment from strvcategory where mid=$1");
    if (vendor() == Vendor::PostgreSQL && transactionDepth() > 0)
        sql += QStringLiteral(" for no key update");
    const QList<OVNRow> rows = rowsForQuery(sql, {categoryMid});
    if (failureCount() != failures)
        return {Status::Failed, QString()};
    if (rows.isEmpty())
        return {Status::Missing, QString()};
    // An administrator may have changed the user's groups since the login, or set up users at all.
    if (refreshUserGroups() == Membership::Failed)
        return {Status::Failed, QString()};
    return {Status::Found, getAccessPrivilegesForCurrentUser(rows.first().value(0).toString())};
}

QString OVNDatabaseAccess::boundLogin() const
{
    std::lock_guard lock(m_mutex);
    return m_boundlogin;
}

OVNDatabaseAccess::Membership OVNDatabaseAccess::refreshUserGroups()
{
    if (m_vendor != Vendor::PostgreSQL)
        return Membership::Member;
    const quint64 failures = failureCount();
    // Once there, user tables stay; before that, each look asks whether they have been made.
    if (!useAuthentication() && !checkForUserManagerSetup())
        return failureCount() != failures ? Membership::Failed : Membership::Member;
    const QString login = boundLogin();
    const QList<OVNRow> rows = rowsForQuery(
        QStringLiteral("select mgu.groupmid, mu.mid from strvgroupusers mgu join strvusers mu on mgu.usermid=mu.mid "
                       "where mu.login=$1"),
        {login});
    if (failureCount() != failures)
        return Membership::Failed;
    QStringList groups;
    for (const OVNRow &row : rows)
        groups.append(row.value(0).toString());
    std::lock_guard lock(m_mutex);
    m_authgroupmids = groups;
    if (!rows.isEmpty()) {
        m_authusermid = rows.first().value(1).toString();
        m_authusername = login;
    }
    return groups.isEmpty() ? Membership::NoGroup : Membership::Member;
}

std::optional<QString> OVNDatabaseAccess::getCategoryCommentForMID(const QString &categoryMid)
{
    const QList<OVNRow> rows =
        rowsForQuery(QStringLiteral("select comment from strvcategory where mid=$1"), {categoryMid});
    if (rows.isEmpty() || rows.first().isEmpty())
        return std::nullopt;
    return rows.first().first().toString();
}

std::optional<QHash<QString, OVNDatabaseAccess::EntryAccess>> OVNDatabaseAccess::entriesAccessNow(
    const QStringList &mids, const QString &column, Membership *membership)
{
    QString valueColumn;
    if (!column.isEmpty()) {
        // A name that is no column of the record reads as nothing held.
        if (const std::optional<QString> name = OVNDBHelper::columnFromList(OVNDBHelper::fileColumns(), column))
            valueColumn = QStringLiteral(", f.") + *name;
    }
    QHash<QString, EntryAccess> entries;
    // On a server whose user tables are known, the user's groups come in the same statement (one
    // round trip for the whole question); before that they are asked as refreshUserGroups() asks.
    const bool groupsAlong = vendor() == Vendor::PostgreSQL && useAuthentication();
    if (!groupsAlong) {
        *membership = refreshUserGroups();
        if (*membership == Membership::Failed)
            return std::nullopt;
        if (mids.isEmpty())
            return entries;
    }
    QStringList places;
    QVariantList parameters;
    if (groupsAlong)
        parameters.append(boundLogin());
    places.reserve(mids.size());
    for (const QString &mid : mids) {
        parameters.append(mid);
        places.append(QLatin1Char('$') + QString::number(parameters.size()));
    }
    QString sql = QStringLiteral("select f.mid, f.categoryid, c.comment%1 from strvfile f join strvcategory c on "
                                 "c.mid=f.categoryid where f.mid in (%2)")
                      .arg(valueColumn, places.isEmpty() ? QStringLiteral("null") : places.join(QLatin1Char(',')));
    // The entry's row as it is written, the category's only shared: writers of one category do not
    // wait for each other, a change of its privileges waits for them all.
    if (vendor() == Vendor::PostgreSQL && transactionDepth() > 0)
        sql += QStringLiteral(" for no key update of f for share of c");
    // The groups' row comes also when no entry does.
    if (groupsAlong)
        sql = QStringLiteral("select e.*, g.groups, g.usermid from (%1) e right join (select "
                             "coalesce(json_agg(mgu.groupmid), '[]')::text as groups, min(mu.mid) as usermid from "
                             "strvgroupusers mgu "
                             "join strvusers mu on mgu.usermid=mu.mid where mu.login=$1) g on true")
                  .arg(sql);
    const int groupsColumn = valueColumn.isEmpty() ? 3 : 4;
    QStringList groups;
    QString userMid;
    std::vector<std::array<QString, 4>> rows;
    const StatementResult result = execute(sql, parameters, [&](const OVNResultRow &row) {
        if (groupsAlong) {
            groups.clear();
            for (const QJsonValue group : QJsonDocument::fromJson(row.text(groupsColumn).toUtf8()).array())
                groups.append(group.toString());
            userMid = row.text(groupsColumn + 1);
        }
        if (!row.text(0).isEmpty())
            rows.push_back({row.text(0), row.text(1), row.text(2), valueColumn.isEmpty() ? QString() : row.text(3)});
        return true;
    });
    if (!result.ok)
        return std::nullopt;
    if (groupsAlong) {
        std::lock_guard lock(m_mutex);
        m_authgroupmids = groups;
        if (!groups.isEmpty()) {
            m_authusermid = userMid;
            m_authusername = m_boundlogin;
        }
        *membership = groups.isEmpty() ? Membership::NoGroup : Membership::Member;
    }
    QHash<QString, QString> levels; // one reading of each category's list
    for (const auto &row : rows) {
        auto level = levels.constFind(row[1]);
        if (level == levels.cend())
            level = levels.insert(row[1], getAccessPrivilegesForCurrentUser(row[2]));
        entries.insert(row[0], {row[1], *level, row[3]});
    }
    if (!result.ok)
        return std::nullopt;
    return entries;
}
