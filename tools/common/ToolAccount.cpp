#include "ToolAccount.h"

#include "app/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/SystemInfo.h"

#include <QSet>

namespace ToolAccount {

void bind(OVNDatabaseAccess &connection)
{
    if (connection.isDBConnectionActive())
        connection.authenticateUser(SystemInfo::accountName());
}

QString refusal(OVNDatabaseAccess &connection, const QString &requested, const QStringList &categoryIds)
{
    QSet<QString> seen;
    for (const QString &owner : categoryIds.isEmpty() ? QStringList{QString()} : categoryIds) {
        if (seen.contains(owner))
            continue;
        seen.insert(owner);
        const QString own = owner.isEmpty() ? OVNPrivilegeLevel::noAccess()
                                            : connection.getCategoryAccessPrivilegesForMID(owner);
        if (!OVNPrivilegeLevel::isGranted(requested, own))
            return (OVNPrivilegeLevel::refusalTitle() + QStringLiteral(": ")
                    + OVNPrivilegeLevel::refusalMessage(requested, own))
                .simplified();
    }
    return QString();
}

} // namespace ToolAccount
