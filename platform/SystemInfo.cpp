#include "platform/SystemInfo.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace {

// getpwuid_r, so that worker threads may ask too.
bool passwordEntry(QString *login, QString *gecos)
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
    passwd entry{};
    passwd *result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 || result == nullptr)
        return false;
    *login = QString::fromLocal8Bit(entry.pw_name);
    *gecos = QString::fromLocal8Bit(entry.pw_gecos ? entry.pw_gecos : "");
    return true;
}

} // namespace

QString SystemInfo::accountName()
{
    QString login, gecos;
    if (passwordEntry(&login, &gecos) && !login.isEmpty())
        return login;
    return qEnvironmentVariable("USER");
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

QString SystemInfo::hostName()
{
    return QSysInfo::machineHostName();
}

QString SystemInfo::recordIdMachinePart()
{
    static const QString part = [] {
        for (const char *path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
            QFile file(QString::fromLatin1(path));
            if (file.open(QIODevice::ReadOnly)) {
                const QByteArray id = file.read(256).trimmed();
                if (!id.isEmpty())
                    return recordIdMachinePartFor(id);
            }
        }
        // No machine id: the host name still keeps two machines apart.
        return recordIdMachinePartFor(QSysInfo::machineHostName().toUtf8());
    }();
    return part;
}

QString SystemInfo::recordIdMachinePartFor(const QByteArray &machineId)
{
    const QByteArray digest = QCryptographicHash::hash(machineId.trimmed(), QCryptographicHash::Sha256);
    return QLatin1Char('M') + QString::fromLatin1(digest.toHex().left(12).toUpper());
}
