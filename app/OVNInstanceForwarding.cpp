#include "app/OVNInstanceForwarding.h"

#include "platform/Localized.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QtEndian>

#include <algorithm>

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

QString OVNInstanceForwarding::socketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QFileInfo folder(runtime);
    // Only a folder of the user's own that nobody else may enter: the socket takes file names.
    if (runtime.isEmpty() || !QDir::isAbsolutePath(runtime) || !folder.isDir() || folder.ownerId() != ::getuid()
        || (folder.permissions()
            & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther
               | QFile::ExeOther)))
        return {};
    return runtime + QStringLiteral("/ostrevan-open.socket");
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
    const QString path = socketPath();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return false;
    const QByteArray message = encode(files, settings);
    if (message.size() > maximumMessageBytes)
        return false;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
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
    const QString path = socketPath();
    if (path.isEmpty())
        return false;
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(8);
    if (!m_server->listen(path)) {
        // A socket left by a program that ended without removing it answers nobody.
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(200))
            return false; // another one runs
        QLocalServer::removeServer(path);
        if (!m_server->listen(path))
            return false;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
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
