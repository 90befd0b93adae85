#pragma once

#include <functional>

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class AlertPresenter;
class OVNDatabaseAccess;
class QObject;
struct Alert;

// What the user manager does, without widgets: opening, first run, login and every edit of users,
// groups and memberships. Each refusal and failure is shown through the alert presenter, so the
// window, the tests and ovn-users run the same code. Passwords are only passed through to the
// database layer, which keeps their hashes.
class OVNUserAdministration
{
public:
    enum class Opening { Refused, FirstRun, Login };

    OVNUserAdministration(OVNDatabaseAccess *connection, AlertPresenter &alerts, QObject *window = nullptr);

    // Refuses a missing connection and an integrated catalog (by the connection's own vendor);
    // otherwise first run without user tables, login with them.
    Opening open();
    // Creates the user tables, the administrator, "Admin", "Anonymous" and their memberships in one
    // transaction: all or nothing. The window passes this account's full name and login.
    bool firstRun(const QString &name, const QString &login, const QString &password);
    // True when the password matches and one of the user's groups holds "MANAGE USERS".
    bool login(const QString &login, const QString &password);
    // The line the login sheet shows when login() answered false.
    static QString loginFailedText();
    static bool privilegesContain(const QString &xml, const QString &privilege);

    // The reads go on through ended sessions as the changes do (see throughEndedSessions).
    QList<QVariantMap> groups() const;
    QList<QVariantMap> users() const;
    QList<QVariantMap> members(const QString &groupMid) const;
    QVariantMap userForLogin(const QString &login) const;
    QVariantMap groupNamed(const QString &name) const;

    // The new row's id, or "" after an alert.
    // `mid`, when given, is the id the new row gets (from createNewMID()): a caller that tries
    // again after a lost answer passes the same one, and the catalog makes no second row.
    QString addUser(const QString &name, const QString &mid = QString());
    // A group is made with its privileges ("MANAGE USERS", "WEB ACCESS") in one row: a new group
    // is never kept without the privileges asked for it.
    QString addGroup(const QString &name, const QString &mid = QString(), const QStringList &privileges = {});
    QString addMember(const QString &userMid, const QString &groupMid, const QString &mid = QString());
    // The edits answer false after an alert; the stored row is then unchanged.
    bool renameUser(const QString &userMid, const QString &name);
    bool renameGroup(const QString &groupMid, const QString &name);
    bool setLogin(const QString &userMid, const QString &login);
    bool setSelfManaged(const QString &userMid, bool selfManaged);
    bool setGroupPrivileges(const QString &groupMid, const QStringList &privileges);
    bool setPassword(const QString &userMid, const QString &password, const QString &repeated);
    bool removeMember(const QString &membershipMid);
    bool deleteUser(const QString &userMid);
    bool deleteGroup(const QString &groupMid);

    // Runs `change` (one of the changes above that sets a value or removes a row: the same however
    // often it is made) again on a new session while the session is lost on the way, for up to 30
    // seconds; after a lost answer the old session has ended before it looks again, so a removal
    // its predecessor made finds the row gone, which is what was asked: `doneAfterLoss`, when
    // given, is asked first after each loss, and true there means saved. "The change was not saved"
    // is said only when the catalog does not hold the change.
    bool throughEndedSessions(const std::function<bool()> &change, const std::function<bool()> &doneAfterLoss = {});
    // Said while throughEndedSessions() waits for the catalog server ("Waiting for the catalog
    // server..."); `secondsLeft`, when given, is what is left of the caller's 30 seconds; `over`
    // is called before an alert is shown, so that the wait shown ends first.
    void setWaitingStatus(std::function<void(const QString &)> status, std::function<int()> secondsLeft = {},
                          std::function<void()> over = {})
    {
        m_status = std::move(status);
        m_secondsLeft = std::move(secondsLeft);
        m_waitOver = std::move(over);
    }
    // Whether a row of these ids is gone (for doneAfterLoss): the user, the group, or the membership
    // of the group.
    bool userGone(const QString &userMid) const;
    bool groupGone(const QString &groupMid) const;
    bool membershipGone(const QString &groupMid, const QString &membershipMid) const;
    // Whether the row an addition of that id would make is there with the values asked (for
    // doneAfterLoss of an addition that passes the id): the user with that login, the group of that
    // name, the membership of that user in the group.
    bool userMade(const QString &userMid, const QString &login) const;
    bool groupMade(const QString &groupMid, const QString &name) const;
    bool membershipMade(const QString &groupMid, const QString &membershipMid, const QString &userMid) const;
    // A new row id for an addition that may go again.
    QString newRowId() const;

    // The account whose full name and login the first run gives the administrator.
    static QString administratorName();
    static QString administratorLogin();

private:
    template <typename Read>
    auto throughEndedSessionsRead(Read read) const;
    bool refuse(const QString &message, const QString &informative);
    bool writeFailed();
    // True when some user with a password is in a group that holds "MANAGE USERS".
    bool someoneCanManage() const;
    // Runs the write in a transaction after asking, in it, whether the user logged in by login()
    // still manages users (said in an alert when not); with `keepSomeManager` keeps it only when
    // someone can still manage users. False after an alert (or a lost session, marked).
    template <typename Write>
    bool asManager(Write write, bool keepSomeManager = false);
    bool loginTaken(const QString &login, const QString &exceptUserMid) const;

    OVNDatabaseAccess *m_connection;
    AlertPresenter &m_alerts;
    // The login that login() let in: whose right each change asks again.
    QString m_manager;
    // Within throughEndedSessions(): a failure that lost the session since `m_failuresBefore` is
    // not said but marked in `m_lost`, and the change is made again.
    bool m_quietLoss = false;
    bool m_lost = false;
    quint64 m_failuresBefore = 0;
    QPointer<QObject> m_window;
    std::function<void(const QString &)> m_status;
    std::function<int()> m_secondsLeft;
    std::function<void()> m_waitOver;
};
