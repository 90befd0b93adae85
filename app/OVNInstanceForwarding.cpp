#include "app/OVNInstanceForwarding.h"

#include "platform/Localized.h"
#include "platform/UserDefaults.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QtEndian>

#include <algorithm>

#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kHeaderBytes = 4;
constexpr qsizetype kMaximumFiles = 10000;
constexpr qsizetype kMaximumSettings = 100;
constexpr qsizetype kMaximumSettingLength = 200;

bool isSettingName(const QString &name)
{
    if (name.isEmpty() || name.size() > kMaximumSettingLength)
        return false;
    return std::none_of(name.cbegin(), name.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

QString settingList(const QStringList &settings)
{
    QStringList named;
    for (const QString &setting : settings)
        named.append(QLatin1Char('-') + setting);
    return named.join(QStringLiteral(", "));
}
} // namespace

OVNInstanceForwarding::OVNInstanceForwarding() = default;

OVNInstanceForwarding::~OVNInstanceForwarding() = default;

QStringList OVNInstanceForwarding::filesFromArguments(const QStringList &arguments)
{
    QStringList files;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
            ++i; // its value
            continue;
        }
        if (!argument.isEmpty())
            files.append(QFileInfo(argument).absoluteFilePath());
    }
    return files;
}

QString OVNInstanceForwarding::socketName()
{
    // The preferences file names the catalog a start opens: starts that share it are one program.
    const QFileInfo preferences(UserDefaults::defaultFilePath());
    QString folder = QFileInfo(preferences.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        folder = QDir::cleanPath(preferences.absolutePath());
    const QByteArray place = QDir(folder).filePath(preferences.fileName()).toUtf8();
    const QByteArray digest = QCryptographicHash::hash(place, QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("ostrevan-open-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest));
}

bool OVNInstanceForwarding::peerIsThisAccount(qintptr socketDescriptor)
{
    struct ucred peer {};
    socklen_t length = sizeof peer;
    if (socketDescriptor < 0 || ::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0
        || length != sizeof peer)
        return false;
    return peer.uid == ::getuid();
}

QByteArray OVNInstanceForwarding::encode(const QStringList &files, const QStringList &settings)
{
    QStringList lines = files;
    for (const QString &setting : settings) {
        if (isSettingName(setting) && !setting.contains(QLatin1Char('\n')))
            lines.append(QLatin1Char('-') + setting);
    }
    const QByteArray body = lines.join(QLatin1Char('\n')).toUtf8();
    QByteArray message(kHeaderBytes, '\0');
    qToBigEndian<quint32>(quint32(body.size()), message.data());
    return message + body;
}

QStringList OVNInstanceForwarding::decode(const QByteArray &message, QStringList *missing, QStringList *settings)
{
    if (message.size() < kHeaderBytes || message.size() > maximumMessageBytes)
        return {};
    const quint32 length = qFromBigEndian<quint32>(message.constData());
    if (length != quint32(message.size() - kHeaderBytes))
        return {};
    QStringList files;
    for (const QByteArray &line : message.mid(kHeaderBytes).split('\n')) {
        const QString path = QString::fromUtf8(line);
        if (line.startsWith('-')) {
            const QString name = path.mid(1);
            if (settings && settings->size() < kMaximumSettings && !line.contains('\0') && isSettingName(name)
                && !settings->contains(name))
                settings->append(name);
            continue;
        }
        if (files.size() >= kMaximumFiles)
            continue; // setting names may follow
        if (path.isEmpty() || line.contains('\0') || !QDir::isAbsolutePath(path))
            continue;
        if (QFileInfo::exists(path))
            files.append(QDir::cleanPath(path));
        else if (missing && missing->size() < kMaximumFiles)
            missing->append(QDir::cleanPath(path));
    }
    return files;
}

bool OVNInstanceForwarding::forward(const QStringList &files, const QStringList &settings, int timeoutMs)
{
    const QByteArray message = encode(files, settings);
    if (message.size() > maximumMessageBytes)
        return false;
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(socketName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // Anyone may take an abstract name first: file names go only to a program of this account.
    if (!peerIsThisAccount(socket.socketDescriptor()))
        return false;
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The answer says the running program read the message.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.read(1) == "1";
}

QString OVNInstanceForwarding::forwardedNotice(const QStringList &files, const QStringList &settings)
{
    QString text = files.isEmpty()
                       ? localized("Ostrevan is already running: its windows were brought to the front.")
                       : localized("Ostrevan is already running: the files were handed to it, and its windows "
                                   "were brought to the front.");
    text += QLatin1Char(' ') + localized("Look for it in the task bar or on another workspace if you do not see it.");
    if (!settings.isEmpty())
        text += QLatin1Char(' ') + settingsNotAppliedText(settings);
    return text;
}

QString OVNInstanceForwarding::settingsNotAppliedText(const QStringList &settings)
{
    return localized("The settings given on the command line (%1) were not applied: they count only for a "
                     "start of Ostrevan. Quit the running Ostrevan and start it again with them.")
        .arg(settingList(settings));
}

bool OVNInstanceForwarding::listen()
{
    m_server = std::make_unique<QLocalServer>();
    // An abstract name goes with the process that holds it: none is ever left behind.
    m_server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    m_server->setMaxPendingConnections(8);
    if (!m_server->listen(socketName()))
        return false; // another one runs
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            // Only the account's own starts may hand files over.
            if (!peerIsThisAccount(socket->socketDescriptor())) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                QByteArray buffered = socket->property("ovnMessage").toByteArray() + socket->readAll();
                if (buffered.size() > maximumMessageBytes) {
                    socket->abort();
                    return;
                }
                if (buffered.size() < kHeaderBytes
                    || qFromBigEndian<quint32>(buffered.constData()) > quint32(buffered.size() - kHeaderBytes)) {
                    socket->setProperty("ovnMessage", buffered);
                    return;
                }
                socket->setProperty("ovnMessage", QByteArray());
                QStringList missing;
                QStringList settings;
                const QStringList files = decode(buffered, &missing, &settings);
                socket->write("1");
                socket->flush();
                socket->disconnectFromServer();
                emit filesReceived(files, missing, settings);
            });
        }
    });
    return true;
}
