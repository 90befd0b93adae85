#include "app/OVNUserAdministration.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/Alert.h"
#include "platform/PropertyList.h"
#include "platform/SystemInfo.h"
#include "platform/CatalogNames.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>

namespace {

const QString manageUsers = QStringLiteral("MANAGE USERS");
const QString webAccess = QStringLiteral("WEB ACCESS");
const QString selfManaged = QStringLiteral("SELF MANAGED");

QString tr(const char *text) { return QCoreApplication::translate("OVNUserManager", text); }

QVariantMap privilegeList(const QStringList &names) { return {{QStringLiteral("PRIVILEGES"), QVariant(names)}}; }

// The group privileges among `names`, in the order the User Manager lists them.
QStringList orderedPrivileges(const QStringList &names)
{
    QStringList ordered;
    for (const QString &name : {manageUsers, webAccess})
        if (names.contains(name))
            ordered.append(name);
    return ordered;
}

QString lockOutMessage() { return tr("Nobody could manage users any more"); }

QString lockOutText()
{
    return tr("This change would leave no user with a password in a group with the privilege \"MANAGE USERS\", "
              "so nobody could open the User Manager again. Give another user that privilege first.");
}

} // namespace

OVNUserAdministration::OVNUserAdministration(OVNDatabaseAccess *connection, AlertPresenter &alerts, QObject *window)
    : m_connection(connection),
      m_alerts(alerts),
      m_window(window)
{}

QString OVNUserAdministration::administratorName() { return SystemInfo::fullName(); }

QString OVNUserAdministration::administratorLogin() { return SystemInfo::accountName(); }

bool OVNUserAdministration::refuse(const QString &message, const QString &informative)
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

bool OVNUserAdministration::writeFailed()
{
    if (m_quietLoss && OVNCatalogOpening::failedForLostServer(*m_connection, m_failuresBefore)) {
        m_lost = true;
        return false;
    }
    return refuse(tr("The change was not saved"),
                  tr("The database did not take the change. Please check that the database server is online "
                     "and try again."));
}

OVNUserAdministration::Opening OVNUserAdministration::open()
{
    if (!m_connection || !m_connection->isDBConnectionActive()) {
        refuse(tr("No database connection"),
               tr("Got no database connection. Please check your preferences and that the database server is "
                  "online."));
        return Opening::Refused;
    }
    if (m_connection->vendor() != OVNDatabaseAccess::Vendor::PostgreSQL) {
        refuse(tr("Local database not supported"),
               tr("You are trying to set up User Management with a local database. This is not supported as "
                  "local databases can only be accessed by one user. \n\nThis feature is only available with "
                  "Ostrevan Workgroup Server."));
        return Opening::Refused;
    }
    return m_connection->checkForUserManagerSetup() ? Opening::Login : Opening::FirstRun;
}

bool OVNUserAdministration::firstRun(const QString &name, const QString &login, const QString &password)
{
    if (password.isEmpty())
        return refuse(tr("A password is needed"),
                      tr("The administrator needs a password. Note that only its first 8 characters count."));
    OVNDatabaseAccess &db = *m_connection;
    bool done = db.beginTransaction() && OVNDBHelper::prefDBCreatePostgreSQLUserManagerTables(db);
    if (done) {
        const QString admin = db.addUserEntry(name, login, password, QString(), privilegeList({selfManaged}));
        const QString adminGroup = db.addGroupEntry(
            QStringLiteral("Admin"), tr("Administrative group to create and manage other users and privileges"),
            privilegeList({manageUsers}));
        const QString anonymous =
            db.addUserEntry(QStringLiteral("Anonymous"), QStringLiteral("anonymous"), QString(), QString(), {});
        const QString anonymousGroup =
            db.addGroupEntry(QStringLiteral("Anonymous"),
                             tr("Anonymous group to allow non-authenticated users (i.e. Web Access Users) to connect."),
                             privilegeList({webAccess}));
        done = !admin.isEmpty() && !adminGroup.isEmpty() && !anonymous.isEmpty() && !anonymousGroup.isEmpty()
               && !db.addUserToGroup(admin, adminGroup).isEmpty()
               && !db.addUserToGroup(anonymous, anonymousGroup).isEmpty();
    }
    if (done)
        done = db.commitTransaction();
    else if (db.transactionDepth() > 0)
        db.rollbackTransaction();
    // The kept answer must follow what the server now holds.
    db.checkForUserManagerSetup();
    if (!done)
        return refuse(tr("Could not create User Manager tables"),
                      tr("Database connection was established, but did not find the necessary tables and could "
                         "not create the tables either. Please check that the specified user is able to create "
                         "tables within the specified database."));
    return true;
}

bool OVNUserAdministration::privilegesContain(const QString &xml, const QString &privilege)
{
    if (xml.isEmpty())
        return false;
    const QVariant list = PropertyList::read(xml.toUtf8()).toMap().value(QStringLiteral("PRIVILEGES"));
    return list.typeId() == QMetaType::QVariantList && list.toList().contains(QVariant(privilege));
}

QString OVNUserAdministration::loginFailedText()
{
    return tr("Wrong login or password, or the user is in no group with the privilege \"MANAGE USERS\".");
}

bool OVNUserAdministration::login(const QString &login, const QString &password)
{
    if (password.isEmpty())
        return false;
    for (const QString &xml : m_connection->getGroupPrivilegesForUser(login, password))
        if (privilegesContain(xml, manageUsers)) {
            m_manager = login;
            return true;
        }
    return false;
}

template <typename Write>
bool OVNUserAdministration::asManager(Write write, bool keepSomeManager)
{
    // The manager's right is asked in the change's own transaction, on each try: a manager whose
    // groups lost "MANAGE USERS" since his login changes nothing more, and the groups and
    // memberships read stay as they were until the change is committed.
    OVNDatabaseAccess &db = *m_connection;
    if (!db.beginTransaction())
        return writeFailed();
    bool manages = m_manager.isEmpty(); // no login through this object: the first run's own steps
    if (!manages) {
        const std::optional<QStringList> texts = db.groupPrivilegesForLoginNow(m_manager);
        if (!texts) {
            db.rollbackTransaction();
            return writeFailed();
        }
        manages = std::any_of(texts->cbegin(), texts->cend(),
                              [](const QString &xml) { return privilegesContain(xml, manageUsers); });
    }
    if (!manages) {
        // No lock is held while the alert is read.
        db.rollbackTransaction();
        return refuse(tr("You may no longer manage users"),
                      tr("None of the groups of \"%1\" holds the privilege \"MANAGE USERS\" any more: the change "
                         "was not saved.")
                          .arg(m_manager));
    }
    if (!write()) {
        db.rollbackTransaction();
        return writeFailed();
    }
    if (keepSomeManager && !someoneCanManage()) {
        db.rollbackTransaction();
        return refuse(lockOutMessage(), lockOutText());
    }
    return db.commitTransaction() || writeFailed();
}

template <typename Read>
auto OVNUserAdministration::throughEndedSessionsRead(Read read) const
{
    // Read again on a new session while the session is lost on the way (once within a
    // transaction, which the caller makes again), within what is left of the caller's time.
    decltype(read()) rows;
    OVNCatalogOpening::retried(
        *m_connection, [&] { rows = read(); }, m_status,
        m_secondsLeft ? m_secondsLeft() : OVNCatalogOpening::waitSeconds);
    return rows;
}

QList<QVariantMap> OVNUserAdministration::groups() const
{
    return throughEndedSessionsRead([this] { return m_connection->getGroupList(); });
}

QList<QVariantMap> OVNUserAdministration::users() const
{
    return throughEndedSessionsRead([this] { return m_connection->getUserList(); });
}

QList<QVariantMap> OVNUserAdministration::members(const QString &groupMid) const
{
    return throughEndedSessionsRead([&] { return m_connection->getUserListForGroup(groupMid); });
}

QVariantMap OVNUserAdministration::userForLogin(const QString &login) const
{
    return throughEndedSessionsRead([&] { return m_connection->getUserForLogin(login); });
}

QVariantMap OVNUserAdministration::groupNamed(const QString &name) const
{
    for (const QVariantMap &group : groups())
        if (group.value(QStringLiteral("name")).toString() == name)
            return group;
    return {};
}

bool OVNUserAdministration::loginTaken(const QString &login, const QString &exceptUserMid) const
{
    for (const QVariantMap &user : users())
        if (user.value(QStringLiteral("login")).toString() == login
            && user.value(CatalogNames::keyMid).toString() != exceptUserMid)
            return true;
    return false;
}

QString OVNUserAdministration::addUser(const QString &name, const QString &mid)
{
    if (name.trimmed().isEmpty()) {
        refuse(tr("A name is needed"), tr("Users and groups need a name that is not blank."));
        return QString();
    }
    // The login look-up would merge the groups of two users with one login. A row of this id is
    // this writer's own earlier try whose answer was lost.
    if (loginTaken(name, mid)) {
        refuse(tr("Login already in use"), tr("Another user already has the login \"%1\".").arg(name));
        return QString();
    }
    QString made;
    asManager([&] {
        made = m_connection->addUserEntry(name, name, QString(), QString(), {}, mid);
        return !made.isEmpty();
    });
    return made;
}

QString OVNUserAdministration::addGroup(const QString &name, const QString &mid, const QStringList &privileges)
{
    if (name.trimmed().isEmpty()) {
        refuse(tr("A name is needed"), tr("Users and groups need a name that is not blank."));
        return QString();
    }
    QString made;
    asManager([&] {
        made = m_connection->addGroupEntry(
            name, tr("User-Defined Group."),
            privileges.isEmpty() ? QVariantMap() : privilegeList(orderedPrivileges(privileges)), mid);
        return !made.isEmpty();
    });
    return made;
}

QString OVNUserAdministration::addMember(const QString &userMid, const QString &groupMid, const QString &mid)
{
    if (userMid.isEmpty() || groupMid.isEmpty())
        return QString();
    for (const QVariantMap &member : members(groupMid))
        if (member.value(QStringLiteral("usermid")).toString() == userMid
            && (mid.isEmpty() || member.value(CatalogNames::keyMid).toString() != mid)) {
            refuse(tr("User is already member of Group"),
                   tr("The selected user is already a member of this group. You cannot add an user twice to the "
                      "same group."));
            return QString();
        }
    QString made;
    asManager([&] {
        made = m_connection->addUserToGroup(userMid, groupMid, mid);
        return !made.isEmpty();
    });
    return made;
}

bool OVNUserAdministration::renameUser(const QString &userMid, const QString &name)
{
    if (name.trimmed().isEmpty())
        return refuse(tr("A name is needed"), tr("Users and groups need a name that is not blank."));
    return asManager([&] { return m_connection->setNameForUser(name, userMid); });
}

bool OVNUserAdministration::renameGroup(const QString &groupMid, const QString &name)
{
    if (name.trimmed().isEmpty())
        return refuse(tr("A name is needed"), tr("Users and groups need a name that is not blank."));
    return asManager([&] { return m_connection->setNameForGroup(name, groupMid); });
}

bool OVNUserAdministration::setLogin(const QString &userMid, const QString &login)
{
    if (login.trimmed().isEmpty())
        return refuse(tr("A login is needed"), tr("A user needs a login that is not blank."));
    if (loginTaken(login, userMid))
        return refuse(tr("Login already in use"), tr("Another user already has the login \"%1\".").arg(login));
    return asManager([&] { return m_connection->setLoginForUser(login, userMid); });
}

bool OVNUserAdministration::setSelfManaged(const QString &userMid, bool on)
{
    return asManager([&] {
        return m_connection->setXMLForUser(privilegeList(on ? QStringList{selfManaged} : QStringList{}), userMid);
    });
}

bool OVNUserAdministration::setPassword(const QString &userMid, const QString &password, const QString &repeated)
{
    if (password != repeated)
        return refuse(tr("The passwords differ"), tr("Please type the same password twice."));
    if (password.isEmpty())
        return refuse(tr("A password is needed"),
                      tr("An empty password cannot be used. Note that only the first 8 characters of a password "
                         "count."));
    return asManager([&] { return m_connection->setPasswordForUser(password, userMid); });
}

bool OVNUserAdministration::someoneCanManage() const
{
    for (const QVariantMap &group : groups()) {
        if (!privilegesContain(group.value(QStringLiteral("xml")).toString(), manageUsers))
            continue;
        for (const QVariantMap &member : members(group.value(CatalogNames::keyMid).toString()))
            if (m_connection->userHasPassword(member.value(QStringLiteral("usermid")).toString()))
                return true;
    }
    return false;
}

bool OVNUserAdministration::setGroupPrivileges(const QString &groupMid, const QStringList &privileges)
{
    return asManager(
        [&] { return m_connection->setXMLForGroup(privilegeList(orderedPrivileges(privileges)), groupMid); }, true);
}

namespace {
bool holdsMid(const QList<QVariantMap> &rows, const QString &mid)
{
    return std::any_of(rows.begin(), rows.end(),
                       [&mid](const QVariantMap &row) { return row.value(CatalogNames::keyMid).toString() == mid; });
}
} // namespace

bool OVNUserAdministration::userGone(const QString &userMid) const { return !holdsMid(users(), userMid); }

bool OVNUserAdministration::groupGone(const QString &groupMid) const { return !holdsMid(groups(), groupMid); }

bool OVNUserAdministration::membershipGone(const QString &groupMid, const QString &membershipMid) const
{
    return !holdsMid(members(groupMid), membershipMid);
}

QString OVNUserAdministration::newRowId() const { return m_connection->createNewMID(); }

namespace {
// Whether `rows` hold a row of id `mid` whose `key` is `value`.
bool holdsRow(const QList<QVariantMap> &rows, const QString &mid, const char *key, const QString &value)
{
    return std::any_of(rows.begin(), rows.end(), [&](const QVariantMap &row) {
        return row.value(CatalogNames::keyMid).toString() == mid && row.value(QLatin1String(key)).toString() == value;
    });
}
} // namespace

bool OVNUserAdministration::userMade(const QString &userMid, const QString &login) const
{
    return holdsRow(users(), userMid, "login", login);
}

bool OVNUserAdministration::groupMade(const QString &groupMid, const QString &name) const
{
    return holdsRow(groups(), groupMid, "name", name);
}

bool OVNUserAdministration::membershipMade(const QString &groupMid, const QString &membershipMid,
                                           const QString &userMid) const
{
    return holdsRow(members(groupMid), membershipMid, "usermid", userMid);
}

bool OVNUserAdministration::throughEndedSessions(const std::function<bool()> &change,
                                                 const std::function<bool()> &doneAfterLoss)
{
    const int seconds = m_secondsLeft ? m_secondsLeft() : OVNCatalogOpening::waitSeconds;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool told = false;
    for (;;) {
        m_failuresBefore = m_connection->failureCount();
        m_quietLoss = true;
        m_lost = false;
        const bool done = change();
        m_quietLoss = false;
        if (done || !m_lost)
            return done;
        if (!OVNCatalogOpening::resume(*m_connection, deadline, m_status, nullptr, &told))
            return writeFailed();
        if (doneAfterLoss) {
            const quint64 failures = m_connection->failureCount();
            const bool done = doneAfterLoss();
            if (done && m_connection->failureCount() == failures)
                return true;
        }
    }
}

bool OVNUserAdministration::removeMember(const QString &membershipMid)
{
    return asManager([&] { return m_connection->deleteUserFromGroup(membershipMid); }, true);
}

bool OVNUserAdministration::deleteUser(const QString &userMid)
{
    return asManager([&] { return m_connection->deleteUserEntry(userMid); }, true);
}

bool OVNUserAdministration::deleteGroup(const QString &groupMid)
{
    return asManager([&] { return m_connection->deleteGroupEntry(groupMid); }, true);
}
