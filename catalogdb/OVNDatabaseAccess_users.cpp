// Users, groups and group memberships in strvusers, strvgroups and strvgroupusers.

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNDatabaseTransaction.h"
#include "catalogdb/OVNResultRow.h"
#include "platform/PasswordHash.h"
#include "platform/PropertyList.h"
#include "platform/CatalogNames.h"

namespace {

const QString firstPasswordSalt = QStringLiteral("Qz");
const QString secondPasswordSalt = QStringLiteral("Vx");

// The stored form of a password: its hash, or "" when there is none.
QString storedPassword(const QString &password, const QString &salt)
{
    return password.isEmpty() ? QString(QLatin1String("")) : PasswordHash::hash(password, salt);
}

// A privilege list as XML property-list text; "" for none.
QString privilegeText(const QVariantMap &privileges)
{
    if (privileges.isEmpty())
        return QString(QLatin1String(""));
    return QString::fromUtf8(PropertyList::writeXml(privileges));
}

const QString groupsOfLogin = QStringLiteral(
    "select mg.mid, mgu.usermid, mg.xml, mu.s1pass from strvgroups mg left outer join strvgroupusers mgu "
    "on mg.mid=mgu.groupmid left outer join strvusers mu on mgu.usermid = mu.mid where mu.login=$1");

} // namespace

QList<QVariantMap> OVNDatabaseAccess::userTableRows(const QString &sql, const QVariantList &parameters,
                                                    const QStringList &keys)
{
    QList<QVariantMap> rows;
    if (m_vendor != Vendor::PostgreSQL)
        return rows;
    execute(sql, parameters, [&](const OVNResultRow &row) {
        QVariantMap values;
        for (int column = 0; column < keys.size() && column < row.columnCount(); ++column)
            values.insert(keys.at(column), row.text(column));
        rows.append(std::move(values));
        return true;
    });
    return rows;
}

bool OVNDatabaseAccess::userTableWrite(const QString &sql, const QVariantList &parameters)
{
    if (m_vendor != Vendor::PostgreSQL)
        return false;
    const StatementResult result = execute(sql, parameters, [](const OVNResultRow &) { return false; });
    return !insertFailed(result);
}

QStringList OVNDatabaseAccess::getGroupPrivilegesForUser(const QString &login, const QString &password)
{
    QStringList texts;
    // The hash is compared here, not in the statement: the server never sees a password or its hash.
    for (const QVariantMap &row : userTableRows(groupsOfLogin, {login}, {"mid", "usermid", "xml", "s1pass"})) {
        if (PasswordHash::matches(password, row.value(QStringLiteral("s1pass")).toString()))
            texts.append(row.value(QStringLiteral("xml")).toString());
    }
    return texts;
}

std::optional<QStringList> OVNDatabaseAccess::groupPrivilegesForLoginNow(const QString &login)
{
    QString sql = QStringLiteral("select mg.xml from strvgroups mg join strvgroupusers mgu on mg.mid=mgu.groupmid "
                                 "join strvusers mu on mgu.usermid=mu.mid where mu.login=$1");
    if (vendor() == Vendor::PostgreSQL && transactionDepth() > 0)
        sql += QStringLiteral(" for share");
    QStringList texts;
    const StatementResult result = execute(sql, {login}, [&texts](const OVNResultRow &row) {
        texts.append(row.text(0));
        return true;
    });
    if (!result.ok)
        return std::nullopt;
    return texts;
}

bool OVNDatabaseAccess::authenticateWebUser(const QString &login, const QString &password)
{
    {
        std::lock_guard lock(m_mutex);
        m_authgroupmids.clear();
    }
    if (!checkForUserManagerSetup())
        return true;
    const QList<QVariantMap> rows = userTableRows(groupsOfLogin, {login}, {"mid", "usermid", "xml", "s1pass"});
    std::lock_guard lock(m_mutex);
    bool found = false;
    for (const QVariantMap &row : rows) {
        if (!PasswordHash::matches(password, row.value(QStringLiteral("s1pass")).toString()))
            continue;
        m_authgroupmids.append(row.value(CatalogNames::keyMid).toString());
        m_authusermid = row.value(QStringLiteral("usermid")).toString();
        m_authusername = login;
        found = true;
    }
    // Later checks read this login's groups afresh, as for a login by account.
    if (found)
        m_boundlogin = login;
    return found;
}

QString OVNDatabaseAccess::addUserEntry(const QString &name, const QString &login, const QString &password,
                                        const QString &secondPassword, const QVariantMap &privileges,
                                        const QString &mid)
{
    if (m_vendor != Vendor::PostgreSQL)
        return QString();
    const QString storedLogin = login.isNull() ? QString(QLatin1String("")) : login;
    return insertWithNewMID(
        QStringLiteral("insert into strvusers (mid, name, login, s1pass, s2pass, xml) values ($1, $2, $3, $4, $5, $6)"),
        {name, storedLogin, storedPassword(password, firstPasswordSalt),
         storedPassword(secondPassword, secondPasswordSalt), privilegeText(privileges)},
        mid, {QStringLiteral("select 1 from strvusers where mid=$1 and login=$2"), {storedLogin}});
}

QList<QVariantMap> OVNDatabaseAccess::getUserList()
{
    return userTableRows(QStringLiteral("select mid, name, comment, xml, login from strvusers order by name"), {},
                         {"mid", "name", "comment", "xml", "login"});
}

QVariantMap OVNDatabaseAccess::getUserForLogin(const QString &login)
{
    const QList<QVariantMap> rows =
        userTableRows(QStringLiteral("select mid, name, comment, xml, login from strvusers where login=$1"), {login},
                      {"mid", "name", "comment", "xml", "login"});
    return rows.isEmpty() ? QVariantMap() : rows.last();
}

bool OVNDatabaseAccess::setNameForUser(const QString &name, const QString &userMid)
{
    return userTableWrite(QStringLiteral("update strvusers set name=$1 where mid=$2"), {name, userMid});
}

bool OVNDatabaseAccess::setLoginForUser(const QString &login, const QString &userMid)
{
    return userTableWrite(QStringLiteral("update strvusers set login=$1 where mid=$2"), {login, userMid});
}

bool OVNDatabaseAccess::setPasswordForUser(const QString &password, const QString &userMid)
{
    return userTableWrite(QStringLiteral("update strvusers set s1pass=$1 where mid=$2"),
                          {storedPassword(password, firstPasswordSalt), userMid});
}

bool OVNDatabaseAccess::setXMLForUser(const QVariantMap &privileges, const QString &userMid)
{
    return userTableWrite(QStringLiteral("update strvusers set xml=$1 where mid=$2"),
                          {privilegeText(privileges), userMid});
}

bool OVNDatabaseAccess::deleteUserEntry(const QString &userMid)
{
    if (m_vendor != Vendor::PostgreSQL)
        return false;
    // The memberships go with the user or not at all.
    OVNDatabaseTransaction transaction(*this);
    if (!transaction.isActive()
        || !runSQLCommand(QStringLiteral("delete from strvgroupusers where usermid=$1"), {userMid})
        || !userTableWrite(QStringLiteral("delete from strvusers where mid=$1"), {userMid}))
        return false;
    return transaction.commit();
}

QString OVNDatabaseAccess::addGroupEntry(const QString &name, const QString &comment, const QVariantMap &privileges,
                                         const QString &mid)
{
    if (m_vendor != Vendor::PostgreSQL)
        return QString();
    return insertWithNewMID(QStringLiteral("insert into strvgroups (mid, name, comment, xml) values ($1, $2, $3, $4)"),
                            {name, comment.isNull() ? QString(QLatin1String("")) : comment, privilegeText(privileges)},
                            mid, {QStringLiteral("select 1 from strvgroups where mid=$1 and name=$2"), {name}});
}

QList<QVariantMap> OVNDatabaseAccess::getGroupList()
{
    return userTableRows(QStringLiteral("select mid, name, comment, xml from strvgroups order by name"), {},
                         {"mid", "name", "comment", "xml"});
}

bool OVNDatabaseAccess::setNameForGroup(const QString &name, const QString &groupMid)
{
    return userTableWrite(QStringLiteral("update strvgroups set name=$1 where mid=$2"), {name, groupMid});
}

bool OVNDatabaseAccess::setXMLForGroup(const QVariantMap &privileges, const QString &groupMid)
{
    return userTableWrite(QStringLiteral("update strvgroups set xml=$1 where mid=$2"),
                          {privilegeText(privileges), groupMid});
}

bool OVNDatabaseAccess::deleteGroupEntry(const QString &groupMid)
{
    if (m_vendor != Vendor::PostgreSQL)
        return false;
    OVNDatabaseTransaction transaction(*this);
    if (!transaction.isActive()
        || !runSQLCommand(QStringLiteral("delete from strvgroupusers where groupmid=$1"), {groupMid})
        || !userTableWrite(QStringLiteral("delete from strvgroups where mid=$1"), {groupMid}))
        return false;
    return transaction.commit();
}

QString OVNDatabaseAccess::addUserToGroup(const QString &userMid, const QString &groupMid, const QString &mid)
{
    if (m_vendor != Vendor::PostgreSQL)
        return QString();
    return insertWithNewMID(QStringLiteral("insert into strvgroupusers (mid, groupmid, usermid) values ($1, $2, $3)"),
                            {groupMid, userMid}, mid,
                            {QStringLiteral("select 1 from strvgroupusers where mid=$1 and groupmid=$2 and usermid=$3"),
                             {groupMid, userMid}});
}

QList<QVariantMap> OVNDatabaseAccess::getUserListForGroup(const QString &groupMid)
{
    return userTableRows(
        QStringLiteral("select mgu.mid, mu.name, mu.login, mgu.groupmid, mgu.usermid from strvgroupusers mgu "
                       "left outer join strvusers mu on mgu.usermid=mu.mid where mgu.groupmid=$1 order by name"),
        {groupMid}, {"mid", "name", "login", "groupmid", "usermid"});
}

QStringList OVNDatabaseAccess::getGroupListForUser(const QString &userMid)
{
    QStringList mids;
    for (const QVariantMap &row :
         userTableRows(QStringLiteral("select groupmid from strvgroupusers where usermid=$1"), {userMid}, {"groupmid"}))
        mids.append(row.value(QStringLiteral("groupmid")).toString());
    return mids;
}

bool OVNDatabaseAccess::deleteUserFromGroup(const QString &membershipMid)
{
    return userTableWrite(QStringLiteral("delete from strvgroupusers where mid=$1"), {membershipMid});
}

bool OVNDatabaseAccess::userHasPassword(const QString &userMid)
{
    const QList<QVariantMap> rows =
        userTableRows(QStringLiteral("select s1pass from strvusers where mid=$1"), {userMid}, {"s1pass"});
    if (rows.isEmpty())
        return false;
    const QString stored = rows.first().value(QStringLiteral("s1pass")).toString();
    return !stored.isEmpty() && !stored.startsWith(QLatin1Char('*'));
}
