#pragma once

#include <QString>

#include <chrono>
#include <functional>

// What a catalog window shows while a command of it waits for the catalog server (a session that
// ended is opened again, a server away is waited for up to 30 seconds): from the first "Waiting for
// the catalog server..." until the command is done, the words in the window's status line with its
// busy indicator and a busy cursor, never an alert. The status line's text comes back at the end;
// whatever the command then says of what was stored or not comes after.
class OVNCatalogWait
{
public:
    // `setStatus` shows a text in the status line, busy or not; `previous` is the text there now.
    using SetStatus = std::function<void(const QString &text, bool busy)>;
    OVNCatalogWait(SetStatus setStatus, QString previous);
    ~OVNCatalogWait();
    OVNCatalogWait(const OVNCatalogWait &) = delete;
    OVNCatalogWait &operator=(const OVNCatalogWait &) = delete;

    // The status the catalog work says its waiting through.
    std::function<void(const QString &)> status();
    // Whether the work has waited so far.
    bool waited() const { return m_shown; }
    // Ends what is shown now (before an alert, which no busy pointer may cover); a later wait of
    // the command shows it again.
    void end();
    // What is left of the command's 30 seconds (at least one): every wait of one command, also of
    // a wait made while another is shown, draws on the same 30 seconds.
    int secondsLeft() const;

private:
    void show(const QString &text);

    SetStatus m_setStatus;
    QString m_previous;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_start;
    // The wait this one was made within (on the same thread), whose time and status it shares.
    OVNCatalogWait *m_outer = nullptr;
};
