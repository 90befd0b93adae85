// The category context menu's Access Privileges item.

#include "app/OVNAccessPrivileges.h"
#include "app/OVNAssetManager.h"
#include "app/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/SystemInfo.h"

#include <QApplication>

void OVNAssetManager::menuAccessPrivileges()
{
    const std::optional<CategoryNode> node = selectedCategory();
    const QString mid = node ? node->value(QStringLiteral("mid")).toString() : QString();
    if (mid.isEmpty() || !m_dbcon) {
        QApplication::beep();
        return;
    }
    if (!isUserAuthorizedForAccessType(OVNPrivilegeLevel::fullAccess(), node, true))
        return;
    // A connection of its own, bound to the same catalog user as the program's.
    std::unique_ptr<OVNDatabaseAccess> connection = m_dbcon->openSiblingConnection();
    if (connection->isDBConnectionActive())
        connection->authenticateUser(SystemInfo::accountName());
    auto *window = new OVNAccessPrivileges(std::move(connection), this);
    window->start(mid);
}
