#include "app/OVNPrivilegeListEditor.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNCategoryAccess.h"
#include "app/OVNCategoryComment.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/Alert.h"
#include "platform/CatalogNames.h"

#include <QCoreApplication>

#include <chrono>

namespace {

QString tr(const char *text) { return QCoreApplication::translate("OVNAccessPrivileges", text); }

const QStringList levels{OVNPrivilegeLevel::fullAccess(), OVNPrivilegeLevel::readWrite(), OVNPrivilegeLevel::readOnly(),
                         OVNPrivilegeLevel::noAccess()};

} // namespace

OVNPrivilegeListEditor::OVNPrivilegeListEditor(OVNDatabaseAccess *connection, AlertPresenter &alerts, QObject *window)
    : m_connection(connection),
      m_alerts(alerts),
      m_window(window)
{}

bool OVNPrivilegeListEditor::refuse(const QString &message, const QString &informative)
{
    // No busy pointer over an alert.
    if (m_waitOver)
        m_waitOver();
    Alert alert;
    alert.message = message;
    alert.informativeText = informative;
    alert.window = m_window;
    alert.modality = m_window ? Alert::Modality::Window : Alert::Modality::Application;
    m_alerts.run(alert);
    return false;
}

bool OVNPrivilegeListEditor::open(const QString &categoryMid)
{
    m_mid = categoryMid;
    if (!m_connection || !m_connection->isDBConnectionActive() || categoryMid.isEmpty())
        return refuse(tr("No database connection"),
                      tr("Got no database connection. Please check your preferences and that the database server "
                         "is online."));
    if (m_connection->vendor() != OVNDatabaseAccess::Vendor::PostgreSQL)
        return refuse(tr("Local database not supported"),
                      tr("You are trying to set up User Management with a local database. This is not supported "
                         "as local databases can only be accessed by one user. \n\nThis feature is only available "
                         "with Ostrevan Workgroup Server."));
    if (!m_connection->checkForUserManagerSetup())
        return refuse(tr("No User Manager Support"),
                      tr("Your database does not support user management. Please set up user management tables "
                         "with the User Manager first."));
    // Only who holds "FULL ACCESS" now may see and change the list.
    if (const auto refusal = OVNCategoryAccess::refusalNow(*m_connection, categoryMid, OVNPrivilegeLevel::fullAccess()))
        return refuse(refusal->title, refusal->text);
    const std::optional<QString> comment = m_connection->getCategoryCommentForMID(categoryMid);
    if (!comment)
        return refuse(tr("Item not found"),
                      tr("Could not retrieve the current privileges of the selected item. Make sure your database "
                         "server is up and running and the item has not been deleted by another user."));
    m_category = m_connection->getCategoryForMID(categoryMid).value_or(QVariantMap());
    const QVariant list = OVNCategoryComment::dictionary(*comment).value(QStringLiteral("PRIVILEGES"));
    m_hasList = list.typeId() == QMetaType::QVariantList;
    m_entries = m_hasList ? list.toList() : QVariantList();
    m_groups = m_connection->getGroupList();
    return true;
}

QString OVNPrivilegeListEditor::message() const
{
    return m_entries.isEmpty() ? tr("No Privileges - Everyone has full access.")
                               : tr("Only the listed groups have access.");
}

int OVNPrivilegeListEditor::levelIndex(const QString &level)
{
    const qsizetype index = levels.indexOf(level);
    return index < 0 ? 3 : int(index);
}

QString OVNPrivilegeListEditor::levelForIndex(int index)
{
    return index >= 0 && index < levels.size() ? levels.at(index) : OVNPrivilegeLevel::noAccess();
}

int OVNPrivilegeListEditor::rowForGroup(const QString &groupMid) const
{
    for (int row = 0; row < m_entries.size(); ++row)
        if (m_entries.at(row).toMap().value(CatalogNames::keyMid).toString() == groupMid)
            return row;
    return -1;
}

bool OVNPrivilegeListEditor::addGroup(const QString &groupMid, const QString &name)
{
    if (groupMid.isEmpty() || name.isEmpty())
        return false;
    if (rowForGroup(groupMid) >= 0)
        return refuse(tr("Group is already part of privilege list"),
                      tr("The selected group is already part of this privilege list. You cannot add a group twice "
                         "to the same privilege list. Please modify the existing entry instead."));
    m_hasList = true;
    m_entries.append(QVariantMap{{QStringLiteral("group"), name},
                                 {CatalogNames::keyMid, groupMid},
                                 {QStringLiteral("privilege"), OVNPrivilegeLevel::fullAccess()}});
    return true;
}

void OVNPrivilegeListEditor::setLevel(int row, int index)
{
    if (row < 0 || row >= m_entries.size())
        return;
    QVariantMap entry = m_entries.at(row).toMap();
    entry.insert(QStringLiteral("privilege"), levelForIndex(index));
    m_entries[row] = entry;
}

void OVNPrivilegeListEditor::removeEntry(int row)
{
    if (row >= 0 && row < m_entries.size())
        m_entries.removeAt(row);
}

QString OVNPrivilegeListEditor::losingFullAccessText() { return tr("You will lose full access to this item"); }

bool OVNPrivilegeListEditor::save()
{
    if (!m_hasList || !m_connection || m_mid.isEmpty())
        return true;
    // The question about losing full access comes first: no lock is held while it is open.
    const std::optional<QString> before = m_connection->getCategoryCommentForMID(m_mid);
    if (before
        && m_connection->getAccessPrivilegesForCurrentUser(OVNCategoryComment::withPrivileges(*before, m_entries))
               != OVNPrivilegeLevel::fullAccess()) {
        Alert alert;
        alert.message = losingFullAccessText();
        alert.informativeText = tr("None of your groups keeps \"FULL ACCESS\" with these privileges, so you will "
                                   "not be able to change them again. Save them anyway?");
        alert.buttons = {tr("Cancel"), tr("Save")};
        alert.window = m_window;
        alert.modality = m_window ? Alert::Modality::Window : Alert::Modality::Application;
        if (m_waitOver)
            m_waitOver();
        if (m_alerts.run(alert) != 1)
            return false;
    }
    // Asked and written in one transaction: only who holds "FULL ACCESS" at this moment changes
    // the list, and no other change of the comment comes in between. A session that ends on the
    // way is resumed and the whole goes again, for up to 30 seconds; after a lost answer the old
    // session has ended first, and a list already stored as asked is saved.
    const int seconds = m_secondsLeft ? m_secondsLeft() : OVNCatalogOpening::waitSeconds;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool told = false;
    for (bool lost = false;; lost = true) {
        quint64 failures = m_connection->failureCount();
        if (lost) {
            const std::optional<QString> now = m_connection->getCategoryCommentForMID(m_mid);
            if (now && m_connection->failureCount() == failures
                && OVNCategoryComment::withPrivileges(*now, m_entries) == *now)
                return true;
            failures = m_connection->failureCount();
        }
        std::optional<OVNCategoryAccess::Refusal> refusal;
        {
            OVNDatabaseTransaction transaction(*m_connection);
            refusal = OVNCategoryAccess::refusalNow(*m_connection, m_mid, OVNPrivilegeLevel::fullAccess());
            if (!refusal) {
                // Another client may have written other keys since the window opened: start from the
                // comment as it is now, and replace only the list.
                const std::optional<QString> current = m_connection->getCategoryCommentForMID(m_mid);
                const QString comment = OVNCategoryComment::withPrivileges(current.value_or(QString()), m_entries);
                if (!current || !m_connection->updateCategoryListComment(m_mid, comment)
                    || (transaction.isActive() && !transaction.commit())) {
                    refusal =
                        OVNCategoryAccess::writeFailure(*m_connection, failures, tr("The privileges were not saved"));
                    if (refusal->reason == OVNCategoryAccess::Refusal::Reason::Failed)
                        refusal->text = tr("The database did not take the changed privileges. The window stays open "
                                           "with your changes; please check that the database server is online and "
                                           "close it again.");
                }
            }
            if (refusal && transaction.isActive())
                transaction.rollback();
        }
        if (!refusal)
            return true;
        if (!OVNCatalogOpening::failedForLostServer(*m_connection, failures)
            || !OVNCatalogOpening::resume(*m_connection, deadline, m_status, nullptr, &told)) {
            refuse(refusal->title, refusal->text);
            // A category deleted meanwhile has no privileges left to keep, and a user who no longer
            // holds full access cannot save them ever: the window may close. An outage keeps it open.
            return refusal->reason == OVNCategoryAccess::Refusal::Reason::Missing
                   || refusal->reason == OVNCategoryAccess::Refusal::Reason::Privileges;
        }
    }
}
