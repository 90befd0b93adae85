#pragma once

#include "app/OVNUserAdministration.h"

#include <QDialog>

#include <memory>

class OVNDatabaseAccess;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The user manager window: groups, the selected group's members and users of a server catalog,
// after a login as a member of a group with "MANAGE USERS"; sets user management up on first use.
// Its sheets are window-modal dialogs; the work is OVNUserAdministration's.
class OVNUserManager : public QDialog
{
    Q_OBJECT
public:
    OVNUserManager(std::unique_ptr<OVNDatabaseAccess> connection, QWidget *parent = nullptr);
    ~OVNUserManager() override;

    // Shows the window and runs the refusal, first-run or login sheet. False when the window closed.
    bool start();
    OVNUserAdministration &administration() { return m_admin; }

    // The sheet in use, so that tests can fill it in (null when none is up).
    QDialog *currentSheet() const { return m_sheet; }
    QTableWidget *groupTable() const { return m_groups; }
    QTableWidget *userTable() const { return m_users; }
    QTableWidget *memberTable() const { return m_members; }
    QCheckBox *manageUsersBox() const { return m_manageUsers; }
    // What the status line below the tables says.
    QString statusText() const;
    void reloadGroupAndUserData();

signals:
    // A text shown in the status line ("Waiting for the catalog server..." while a change waits).
    void statusShown(const QString &text);

private:
    // A window-modal sheet with the given fields; answers whether OK was pressed.
    bool runSheet(const QString &title, const QString &text, const QList<QWidget *> &fields, QLabel *failure = nullptr,
                  const std::function<bool()> &accept = {});
    QString selectedMid(QTableWidget *table) const;
    void groupSelectionChanged();
    void userSelectionChanged();
    void addGroup();
    void deleteGroup();
    void addMember();
    void removeMember();
    void addUser();
    void deleteUser();
    void changePassword();
    void groupPrivilegesEdited();
    void userSettingsEdited();
    bool confirmDelete(const QString &message, const QString &text);
    // A change through ended sessions (OVNUserAdministration::throughEndedSessions) as one command
    // of the window: while it waits for the catalog server, the status line below the tables says
    // so and the pointer is busy, for at most 30 seconds; an alert only when they are over.
    bool throughEndedSessions(const std::function<bool()> &change, const std::function<bool()> &doneAfterLoss = {});
    // Runs `work` (reads of the tables, a change) as one such command, or as part of the one
    // running.
    void asOneCommand(const std::function<void()> &work);

    std::unique_ptr<OVNDatabaseAccess> m_connection;
    OVNUserAdministration m_admin;
    QDialog *m_sheet = nullptr;
    QTableWidget *m_groups;
    QTableWidget *m_members;
    QTableWidget *m_users;
    QCheckBox *m_manageUsers;
    QCheckBox *m_webAccess;
    QCheckBox *m_selfManaged;
    QLineEdit *m_login;
    QPushButton *m_password;
    QPushButton *m_deleteGroup;
    QPushButton *m_addMember;
    QPushButton *m_removeMember;
    QPushButton *m_deleteUser;
    QLabel *m_status;
    bool m_filling = false;
    bool m_inCommand = false;
};
