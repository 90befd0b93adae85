#include "app/OVNInstanceForwarding.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QtEndian>

#include <unistd.h>

namespace {
constexpr int kHeaderBytes = 4;
constexpr qsizetype kMaximumFiles = 10000;
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

QByteArray OVNInstanceForwarding::encode(const QStringList &files)
{
    const QByteArray body = files.join(QLatin1Char('\n')).toUtf8();
    QByteArray message(kHeaderBytes, '\0');
    qToBigEndian<quint32>(quint32(body.size()), message.data());
    return message + body;
}

QStringList OVNInstanceForwarding::decode(const QByteArray &message, QStringList *missing)
{
    if (message.size() < kHeaderBytes || message.size() > maximumMessageBytes)
        return {};
    const quint32 length = qFromBigEndian<quint32>(message.constData());
    if (length != quint32(message.size() - kHeaderBytes))
        return {};
    QStringList files;
    for (const QByteArray &line : message.mid(kHeaderBytes).split('\n')) {
        const QString path = QString::fromUtf8(line);
        if (files.size() >= kMaximumFiles)
            break;
        if (path.isEmpty() || line.contains('\0') || !QDir::isAbsolutePath(path))
            continue;
        if (QFileInfo::exists(path))
            files.append(QDir::cleanPath(path));
        else if (missing && missing->size() < kMaximumFiles)
            missing->append(QDir::cleanPath(path));
    }
    return files;
}

bool OVNInstanceForwarding::forward(const QStringList &files, int timeoutMs)
{
    const QString path = socketPath();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return false;
    const QByteArray message = encode(files);
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
                const QStringList files = decode(buffered, &missing);
                socket->write("1");
                socket->flush();
                socket->disconnectFromServer();
                emit filesReceived(files, missing);
            });
        }
    });
    return true;
}
