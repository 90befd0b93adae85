// Privilege checks before the catalog window changes a category or an entry.
#include "app/OVNAssetManager.h"

#include "catalogdb/OVNCatalogOpening.h"

#include "catalogdb/OVNCategoryAccess.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "formats/OVNHelper.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"

namespace {
using CatalogNames::keyCategoryId;
using CatalogNames::keyPrivileges;
} // namespace

QString OVNAssetManager::getMyPrivilegesForItem(const std::optional<CategoryNode> &node)
{
    if (node && node->contains(keyPrivileges))
        return node->value(keyPrivileges).toString();
    return OVNPrivilegeLevel::fullAccess();
}

QString OVNAssetManager::authorizationMessage(const QString &requested, const QString &own)
{
    return OVNPrivilegeLevel::refusalMessage(requested, own);
}

bool OVNAssetManager::isUserAuthorizedNow(const QString &requested, const std::optional<CategoryNode> &node,
                                          OVNDatabaseTransaction *within)
{
    return isUserAuthorizedNow(requested, node ? node->value(CatalogNames::keyMid).toString() : QString(), within);
}

bool OVNAssetManager::isUserAuthorizedNow(const QString &requested, const QString &categoryMid,
                                          OVNDatabaseTransaction *within)
{
    if (!m_state.dbcon)
        return false;
    std::optional<OVNCategoryAccess::Refusal> refusal;
    if (within && within->isActive()) {
        // The caller's transaction went with a lost session: the caller makes it again.
        refusal = OVNCategoryAccess::refusalNow(*m_state.dbcon, categoryMid, requested);
    } else {
        // Asked again on a new session through sessions that end, and of a server away for up to
        // 30 seconds (shown as busy): an unanswered question is never taken for a refusal.
        const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
        OVNCatalogOpening::retried(
            *m_state.dbcon, [&] { refusal = OVNCategoryAccess::refusalNow(*m_state.dbcon, categoryMid, requested); },
            wait->status(), wait->secondsLeft());
    }
    if (!refusal)
        return true;
    // No lock is held while the user reads the alert.
    if (within && within->isActive())
        within->rollback();
    showCategoryRefusal(*refusal);
    return false;
}

std::function<bool(OVNDatabaseTransaction &)> OVNAssetManager::levelCheckInTransaction(const QString &requested,
                                                                                       const QString &categoryMid)
{
    return [this, requested, categoryMid](OVNDatabaseTransaction &transaction) {
        const quint64 failures = m_state.dbcon->failureCount();
        const std::optional<OVNCategoryAccess::Refusal> refusal =
            OVNCategoryAccess::refusalNow(*m_state.dbcon, categoryMid, requested);
        if (!refusal)
            return true;
        // A question lost with its session is asked again with the whole write.
        if (OVNCatalogOpening::failedForLostServer(*m_state.dbcon, failures))
            return false;
        // No lock is held while the user reads the alert.
        if (transaction.isActive())
            transaction.rollback();
        showCategoryRefusal(*refusal);
        return false;
    };
}

void OVNAssetManager::showCategoryRefusal(const OVNCategoryAccess::Refusal &refusal)
{
    Alerts::display(refusal.title, refusal.text, m_state.mediaView ? m_state.mediaView->window() : this);
}

void OVNAssetManager::showAuthorizationFailure(const QString &requested, const QString &own)
{
    Alerts::display(OVNPrivilegeLevel::refusalTitle(), authorizationMessage(requested, own),
                    m_state.mediaView ? m_state.mediaView->window() : this);
}

bool OVNAssetManager::isUserAuthorizedForAccessType(const QString &requested, const std::optional<CategoryNode> &node,
                                                    bool showAlert)
{
    // A check that tells the user is one an action makes before it acts: the catalog answers,
    // with the user's groups as they are now. A silent one only decides what is shown enabled.
    if (showAlert)
        return isUserAuthorizedNow(requested, node);
    return OVNPrivilegeLevel::isGranted(requested, getMyPrivilegesForItem(node));
}

QString OVNAssetManager::levelForCurrentSelection()
{
    if (const std::optional<CategoryNode> node = selectedCategory())
        return getMyPrivilegesForItem(node);
    if (m_state.mediaView && m_state.mediaView->numberOfSelectedRows() == 1) {
        const QString owner =
            m_state.mediaView->mediaObject(keyCategoryId, m_state.mediaView->selectedRow()).toString();
        if (owner.isEmpty() || !m_state.dbcon)
            return QString();
        return m_state.dbcon->getCategoryAccessPrivilegesForMID(owner);
    }
    return OVNPrivilegeLevel::noAccess();
}

bool OVNAssetManager::isUserAuthorizedForMediaWithType(const QString &requested, const QStringList &categoryIds,
                                                       bool showAlert, QString *lowestLevel)
{
    if (showAlert && !lowestLevel) {
        // Before an action: each owner's level and the user's groups as the catalog holds them now.
        if (!m_state.dbcon)
            return false;
        if (const auto refusal = OVNCategoryAccess::entriesRefusalNow(*m_state.dbcon, requested, categoryIds)) {
            showCategoryRefusal(*refusal);
            return false;
        }
        return true;
    }
    const OVNEntryEdits::OwnersLevel answer = OVNEntryEdits(m_state.dbcon.get()).ownersLevel(requested, categoryIds);
    if (lowestLevel)
        *lowestLevel = answer.lowest;
    if (!answer.granted && showAlert) {
        // Privileges that could not be read refuse, but say why: no privilege alert for an outage.
        if (answer.unreadable)
            showCategoryRefusal(OVNCategoryAccess::readFailure(*m_state.dbcon));
        else
            showAuthorizationFailure(requested, answer.lowest);
    }
    return answer.granted;
}

bool OVNAssetManager::isUserAuthorizedForAccessCurrentSelectionWithType(const QString &requested, bool showAlert)
{
    // Changes to entries are judged by the categories that own them, whatever category is
    // selected: an entry shown in a set, a folder or the whole catalog belongs to its collection.
    if (m_state.mediaView && m_state.mediaView->numberOfSelectedRows() > 0) {
        QStringList owners;
        for (int row : m_state.mediaView->selectedRows())
            owners.append(m_state.mediaView->mediaObject(keyCategoryId, row).toString());
        return isUserAuthorizedForMediaWithType(requested, owners, showAlert);
    }
    if (showAlert && selectedCategory())
        return isUserAuthorizedNow(requested, selectedCategory());
    const QString own = levelForCurrentSelection();
    if (OVNPrivilegeLevel::isGranted(requested, own))
        return true;
    if (showAlert)
        showAuthorizationFailure(requested, own);
    return false;
}

bool OVNAssetManager::refreshGroupsForList()
{
    if (!m_state.dbcon)
        return false;
    // Asked again on a new session through sessions that end, within the command's 30 seconds.
    std::optional<OVNCategoryAccess::Refusal> refusal;
    {
        const std::unique_ptr<OVNCatalogWait> wait = catalogWait();
        OVNCatalogOpening::retried(
            *m_state.dbcon, [&] { refusal = OVNCategoryAccess::membershipRefusalNow(*m_state.dbcon); }, wait->status(),
            wait->secondsLeft());
    }
    // An outage is said by the list's own read.
    if (!refusal || refusal->reason != OVNCategoryAccess::Refusal::Reason::Excluded) {
        m_excludedText.clear();
        return true;
    }
    // Said once, not at every list the user asks for.
    const QString text = refusal->title + QLatin1Char('\n') + refusal->text;
    if (text != m_excludedText)
        showCategoryRefusal(*refusal);
    m_excludedText = text;
    return false;
}
