#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <memory>

class QLocalServer;

// One running program per user: a second start hands its files to the first over a local socket
// in $XDG_RUNTIME_DIR (the user's own, mode 0700) and ends. Messages are bounded, and only
// existing absolute paths are taken from them.
class OVNInstanceForwarding : public QObject
{
    Q_OBJECT
public:
    OVNInstanceForwarding();
    ~OVNInstanceForwarding() override;

    // The files of a command line: every argument after the program's name but the "-Key Value"
    // pairs of the preferences, made absolute.
    static QStringList filesFromArguments(const QStringList &arguments);
    // The socket's path; empty without a runtime folder of the user's.
    static QString socketPath();
    // Sends the files to a running program; true when it took them.
    static bool forward(const QStringList &files, int timeoutMs = 2000);

    // The message's bytes, and the files read back from one (existing absolute paths only; the
    // absolute paths of files that are not there go to `missing`, to be named, never opened).
    static QByteArray encode(const QStringList &files);
    static QStringList decode(const QByteArray &message, QStringList *missing = nullptr);
    static constexpr int maximumMessageBytes = 1024 * 1024;

    // Starts taking files from later starts; false when the socket could not be made.
    bool listen();

signals:
    // Files a later start asked for (both empty: it was started without files); `missing` are
    // the ones it named that are not there.
    void filesReceived(const QStringList &files, const QStringList &missing);

private:
    std::unique_ptr<QLocalServer> m_server;
};
