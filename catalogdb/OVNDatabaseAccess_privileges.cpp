// Login of the catalog user and the user's level for a category.

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNDBHelper.h"
#include "platform/PropertyList.h"

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
