#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <memory>

class QLocalServer;

// One running program per account: a second start hands its files to the first over a local
// socket and ends. The socket is an abstract one, named by the account's uid and the preferences
// file (whose catalog the program opens), so that every start finds it whatever its environment
// (with or without XDG_RUNTIME_DIR: su, ssh, cron); since such a socket has no file permissions,
// each side checks that the other runs as the same account before anything is said. Messages are
// bounded, and only existing absolute paths are taken from them. The "-Key Value" settings of a second start count
// only for a program that starts with them: their names go along, so that the running program can
// say they were not applied, never their values.
class OVNInstanceForwarding : public QObject
{
    Q_OBJECT
public:
    OVNInstanceForwarding();
    ~OVNInstanceForwarding() override;

    // The files of a command line: every argument after the program's name but the "-Key Value"
    // pairs of the preferences, made absolute.
    static QStringList filesFromArguments(const QStringList &arguments);
    // The socket's abstract name (without the leading NUL).
    static QString socketName();
    // Whether the process at the other end of a connected local socket runs as this account.
    static bool peerIsThisAccount(qintptr socketDescriptor);
    // Sends the files (and the names of the settings given with them) to a running program; true
    // when it took them.
    static bool forward(const QStringList &files, int timeoutMs = 2000) { return forward(files, {}, timeoutMs); }
    static bool forward(const QStringList &files, const QStringList &settings, int timeoutMs = 2000);

    // What the second start says on standard error once the running program took its message.
    static QString forwardedNotice(const QStringList &files, const QStringList &settings);
    // What the running program tells the user about settings a second start was given.
    static QString settingsNotAppliedText(const QStringList &settings);

    // The message's bytes, and the files read back from one (existing absolute paths only; the
    // absolute paths of files that are not there go to `missing`, to be named, never opened).
    // Setting names are lines that start with "-"; bounded in number and length, without control
    // characters, they go to `settings`.
    static QByteArray encode(const QStringList &files, const QStringList &settings = {});
    static QStringList decode(const QByteArray &message, QStringList *missing = nullptr,
                              QStringList *settings = nullptr);
    static constexpr int maximumMessageBytes = 1024 * 1024;

    // Starts taking files from later starts; false when the socket could not be made (another
    // program of the account holds it).
    bool listen();

signals:
    // Files a later start asked for (all empty: it was started without files or settings);
    // `missing` are the ones it named that are not there, `settings` the names of the "-Key Value"
    // settings it was given, which this program does not apply.
    void filesReceived(const QStringList &files, const QStringList &missing, const QStringList &settings);

private:
    std::unique_ptr<QLocalServer> m_server;
};
