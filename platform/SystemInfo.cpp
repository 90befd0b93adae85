#include "platform/SystemInfo.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <vector>

namespace {

// getpwuid_r, so that worker threads may ask too.
bool passwordEntry(QString *login, QString *gecos)
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
    passwd entry{};
    passwd *result = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) != 0 || result == nullptr)
        return false;
    *login = QString::fromLocal8Bit(entry.pw_name);
    *gecos = QString::fromLocal8Bit(entry.pw_gecos ? entry.pw_gecos : "");
    return true;
}

QByteArray machineId()
{
    for (const char *path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray id = file.read(256).trimmed();
            if (!id.isEmpty())
                return id;
        }
    }
    return QByteArray();
}

} // namespace

QString SystemInfo::accountName()
{
    // Never $USER: anyone can set that, and the catalog user is chosen by this name. Read once:
    // the account a process runs as does not change, and an import asks for each file (the
    // account's own mount folders), each time a read of the password file.
    static const QString login = [] {
        QString name, gecos;
        return passwordEntry(&name, &gecos) ? name : QString();
    }();
    return login;
}

QString SystemInfo::fullName()
{
    QString login, gecos;
    if (!passwordEntry(&login, &gecos))
        return qEnvironmentVariable("USER");
    // The GECOS field is "Full Name,Room,Work phone,Home phone,Other".
    const QString name = gecos.section(QLatin1Char(','), 0, 0).trimmed();
    return name.isEmpty() ? login : name;
}

QString SystemInfo::hostName() { return QSysInfo::machineHostName(); }

QString SystemInfo::recordIdMachinePart()
{
    static std::mutex mutex;
    static QString part;
    static pid_t owner = 0;
    std::lock_guard lock(mutex);
    // A forked child is another process and must not go on with its parent's part.
    if (owner != getpid()) {
        part = newRecordIdMachinePart();
        owner = getpid();
    }
    return part;
}

QString SystemInfo::newRecordIdMachinePart()
{
    QByteArray seed = machineId();
    seed += '\n' + QSysInfo::machineHostName().toUtf8();
    seed += '\n' + QByteArray::number(qint64(getpid()));
    seed += '\n' + QByteArray::number(QDateTime::currentMSecsSinceEpoch());
    seed += '\n' + QByteArray::number(std::chrono::steady_clock::now().time_since_epoch().count());
    quint32 random[4];
    QRandomGenerator::system()->fillRange(random);
    seed += '\n' + QByteArray(reinterpret_cast<const char *>(random), sizeof random);
    return recordIdMachinePartFor(seed);
}

QString SystemInfo::recordIdMachinePartFor(const QByteArray &seed)
{
    const QByteArray digest = QCryptographicHash::hash(seed.trimmed(), QCryptographicHash::Sha256);
    return QLatin1Char('M') + QString::fromLatin1(digest.toHex().left(12).toUpper());
}
