// Privilege checks before the catalog window changes a category or an entry.
#include "app/OVNAssetManager.h"

#include "app/OVNPrivilegeLevel.h"
#include "browser/OVNMediaView.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"

#include <QSet>

namespace {
using CatalogNames::keyPrivileges;
using CatalogNames::keyCategoryId;
} // namespace

QString OVNAssetManager::getMyPrivilegesForItem(const std::optional<CategoryNode> &node)
{
    if (node && node->contains(keyPrivileges))
        return node->value(keyPrivileges).toString();
    return OVNPrivilegeLevel::fullAccess();
}

QString OVNAssetManager::authorizationMessage(const QString &requested, const QString &own)
{
    return localized("Your access privileges do not allow you to complete the requested operation. \n\n")
        + localized("Requested Privilege: ") + requested + QLatin1Char('\n') + localized("Your Privilege Level: ")
        + own;
}

void OVNAssetManager::showAuthorizationFailure(const QString &requested, const QString &own)
{
    Alerts::display(localized("Authorization Failed"), authorizationMessage(requested, own),
                            m_mediaView ? m_mediaView->window() : this);
}

bool OVNAssetManager::isUserAuthorizedForAccessType(const QString &requested, const std::optional<CategoryNode> &node,
                                                    bool showAlert)
{
    const QString own = getMyPrivilegesForItem(node);
    if (OVNPrivilegeLevel::isGranted(requested, own))
        return true;
    if (showAlert)
        showAuthorizationFailure(requested, own);
    return false;
}

QString OVNAssetManager::levelForCurrentSelection()
{
    if (const std::optional<CategoryNode> node = selectedCategory())
        return getMyPrivilegesForItem(node);
    if (m_mediaView && m_mediaView->numberOfSelectedRows() == 1) {
        const QString owner = m_mediaView->mediaObject(keyCategoryId, m_mediaView->selectedRow()).toString();
        if (owner.isEmpty() || !m_dbcon)
            return QString();
        return m_dbcon->getCategoryAccessPrivilegesForMID(owner);
    }
    return OVNPrivilegeLevel::noAccess();
}

bool OVNAssetManager::isUserAuthorizedForMediaWithType(const QString &requested, const QStringList &categoryIds,
                                                       bool showAlert, QString *lowestLevel)
{
    // Each entry is judged by the category that owns it; an entry without one grants nothing.
    QString lowest;
    bool granted = !categoryIds.isEmpty();
    bool first = true;
    QSet<QString> seen;
    for (const QString &owner : categoryIds) {
        if (seen.contains(owner))
            continue;
        seen.insert(owner);
        const QString level = owner.isEmpty() || !m_dbcon ? QString() : m_dbcon->getCategoryAccessPrivilegesForMID(owner);
        lowest = first ? level : OVNPrivilegeLevel::lower(lowest, level);
        first = false;
        if (!OVNPrivilegeLevel::isGranted(requested, level)) {
            granted = false;
            lowest = level;
            break;
        }
    }
    if (categoryIds.isEmpty())
        lowest = OVNPrivilegeLevel::noAccess();
    if (lowestLevel)
        *lowestLevel = lowest;
    if (!granted && showAlert)
        showAuthorizationFailure(requested, lowest);
    return granted;
}

bool OVNAssetManager::isUserAuthorizedForAccessCurrentSelectionWithType(const QString &requested, bool showAlert)
{
    // Changes to entries are judged by the categories that own them, whatever category is
    // selected: an entry shown in a set, a folder or the whole catalog belongs to its collection.
    if (m_mediaView && m_mediaView->numberOfSelectedRows() > 0) {
        QStringList owners;
        for (int row : m_mediaView->selectedRows())
            owners.append(m_mediaView->mediaObject(keyCategoryId, row).toString());
        return isUserAuthorizedForMediaWithType(requested, owners, showAlert);
    }
    const QString own = levelForCurrentSelection();
    if (OVNPrivilegeLevel::isGranted(requested, own))
        return true;
    if (showAlert)
        showAuthorizationFailure(requested, own);
    return false;
}
