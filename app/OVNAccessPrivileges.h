#pragma once

#include "app/OVNPrivilegeListEditor.h"

#include <QDialog>

#include <memory>

class OVNDatabaseAccess;
class QLabel;
class QPushButton;
class QTableWidget;

// The category privileges window: which groups reach one category, at which level. The list is
// written into the category's comment when the window closes; a failed write keeps it open.
class OVNAccessPrivileges : public QDialog
{
    Q_OBJECT
public:
    OVNAccessPrivileges(std::unique_ptr<OVNDatabaseAccess> connection, QWidget *parent = nullptr);
    ~OVNAccessPrivileges() override;

    // Shows the window for the category; false (and the window closes) after a refusal.
    bool start(const QString &categoryMid);
    OVNPrivilegeListEditor &editor() { return m_editor; }
    // The table's columns: the group picture, the group's name, its level.
    enum Column { iconColumn = 0, groupColumn = 1, privilegeColumn = 2 };
    QTableWidget *table() const { return m_table; }
    // The picture of the category's kind beside its name.
    QLabel *kindIcon() const { return m_icon; }
    QString message() const;
    // Adds a group as the add-group sheet does.
    void addGroup(const QString &groupMid, const QString &name);

signals:
    // A text shown in the message line ("Waiting for the catalog server..." while saving waits).
    void statusShown(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;
    void done(int result) override;

private:
    void refresh();
    void chooseGroup();
    void removeSelected();
    // Saves the list as one command: while it waits for the catalog server, the message line says
    // so and the pointer is busy, for at most 30 seconds; an alert only when they are over.
    bool save();

    std::unique_ptr<OVNDatabaseAccess> m_connection;
    OVNPrivilegeListEditor m_editor;
    QLabel *m_icon;
    QLabel *m_title;
    QLabel *m_message;
    QTableWidget *m_table;
    QPushButton *m_remove;
    bool m_opened = false;
};
