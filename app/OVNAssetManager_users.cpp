// The category context menu's Access Privileges item.

#include "app/OVNAccessPrivileges.h"
#include "app/OVNAssetManager.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/CatalogNames.h"

#include <QApplication>

void OVNAssetManager::menuAccessPrivileges()
{
    const std::optional<CategoryNode> node = selectedCategory();
    const QString mid = node ? node->value(CatalogNames::keyMid).toString() : QString();
    if (mid.isEmpty() || !m_state.dbcon) {
        QApplication::beep();
        return;
    }
    if (!isUserAuthorizedNow(OVNPrivilegeLevel::fullAccess(), node))
        return;
    // A connection of its own, bound to the same catalog user as the window's.
    std::unique_ptr<OVNDatabaseAccess> connection = m_state.dbcon->openSiblingConnection();
    auto *window = new OVNAccessPrivileges(std::move(connection), this);
    window->start(mid);
}
