#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

class AlertPresenter;
class OVNDatabaseAccess;
class QObject;

// What the category privileges window does, without widgets: reads a category's "PRIVILEGES"
// list, edits it in memory and writes it back into the comment on close, keeping every other key.
class OVNPrivilegeListEditor
{
public:
    OVNPrivilegeListEditor(OVNDatabaseAccess *connection, AlertPresenter &alerts, QObject *window = nullptr);

    // Refuses (with an alert) a missing connection or category id, an integrated catalog, a catalog
    // without user tables, a category that is gone and a user without "FULL ACCESS" on it now;
    // otherwise loads its list and the groups.
    bool open(const QString &categoryMid);
    QVariantMap category() const { return m_category; }
    QList<QVariantMap> groups() const { return m_groups; }

    bool hasList() const { return m_hasList; }
    QVariantList entries() const { return m_entries; }
    QString message() const;

    // Pop-up index of a level: 0 "FULL ACCESS" .. 3 "NO ACCESS"; anything else shows as "NO ACCESS".
    static int levelIndex(const QString &level);
    static QString levelForIndex(int index);

    // Appends the group at "FULL ACCESS"; a group already listed (by id) is refused with an alert.
    bool addGroup(const QString &groupMid, const QString &name);
    void setLevel(int row, int index);
    void removeEntry(int row);
    // The row of the entry for that group id, or -1.
    int rowForGroup(const QString &groupMid) const;

    // Writes the list into the comment as it is now on the server, when the user holds "FULL
    // ACCESS" on the category at this moment. False keeps the window open with the changes: the
    // user declined to lose full access, or the write failed (the server out of reach, say).
    // A refusal by privileges or a category deleted meanwhile writes nothing, says so and answers
    // true: nothing the window holds could be saved later.
    bool save();
    // Said while save() waits for the catalog server ("Waiting for the catalog server...");
    // `secondsLeft`, when given, is what is left of the caller's 30 seconds; `over`
    // is called before an alert is shown, so that the wait shown ends first.
    void setWaitingStatus(std::function<void(const QString &)> status, std::function<int()> secondsLeft = {},
                          std::function<void()> over = {})
    {
        m_status = std::move(status);
        m_secondsLeft = std::move(secondsLeft);
        m_waitOver = std::move(over);
    }
    // The question save() asks before the user's own full access would go.
    static QString losingFullAccessText();

private:
    bool refuse(const QString &message, const QString &informative);

    OVNDatabaseAccess *m_connection;
    AlertPresenter &m_alerts;
    QPointer<QObject> m_window;
    QString m_mid;
    QVariantMap m_category;
    QList<QVariantMap> m_groups;
    QVariantList m_entries;
    bool m_hasList = false;
    std::function<void(const QString &)> m_status;
    std::function<int()> m_secondsLeft;
    std::function<void()> m_waitOver;
};
