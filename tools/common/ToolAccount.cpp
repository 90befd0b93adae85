#include "ToolAccount.h"

#include "catalogdb/OVNCategoryAccess.h"
#include "app/OVNConnectionFactory.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/SystemInfo.h"

#include <QSet>

#include <cstdlib>
#include <syslog.h>

namespace ToolAccount {

namespace {

void toSystemLog(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    int priority = LOG_DEBUG;
    switch (type) {
    case QtDebugMsg:
        priority = LOG_DEBUG;
        break;
    case QtInfoMsg:
        priority = LOG_INFO;
        break;
    case QtWarningMsg:
        priority = LOG_WARNING;
        break;
    case QtCriticalMsg:
        priority = LOG_ERR;
        break;
    case QtFatalMsg:
        priority = LOG_CRIT;
        break;
    }
    syslog(priority, "%s", qUtf8Printable(message));
    if (type == QtFatalMsg)
        std::abort();
}

// One line for the terminal; the server's own text, which may quote the statement, goes to the log.
QString told(const OVNCategoryAccess::Refusal &refusal)
{
    if (refusal.reason == OVNCategoryAccess::Refusal::Reason::Failed) {
        qWarning("%s %s", qUtf8Printable(refusal.title), qUtf8Printable(refusal.text));
        return refusal.title;
    }
    return (refusal.title + QStringLiteral(": ") + refusal.text).simplified();
}

} // namespace

void logMessages()
{
    // The program's name tags each line, as the system's own programs do.
    openlog(nullptr, LOG_PID, LOG_USER);
    qInstallMessageHandler(toSystemLog);
}

QString logIn(OVNDatabaseAccess &connection)
{
    logMessages();
    if (!connection.isDBConnectionActive())
        return QString();
    return OVNConnectionFactory::logIn(connection, SystemInfo::accountName());
}

QString refusal(OVNDatabaseAccess &connection, const QString &requested, const QStringList &categoryIds)
{
    QSet<QString> seen;
    for (const QString &owner : categoryIds.isEmpty() ? QStringList{QString()} : categoryIds) {
        if (seen.contains(owner))
            continue;
        seen.insert(owner);
        if (owner.isEmpty())
            return (OVNPrivilegeLevel::refusalTitle() + QStringLiteral(": ")
                    + OVNPrivilegeLevel::refusalMessage(requested, OVNPrivilegeLevel::noAccess()))
                .simplified();
        if (const std::optional<OVNCategoryAccess::Refusal> refused =
                OVNCategoryAccess::refusalNow(connection, owner, requested))
            return told(*refused);
    }
    return QString();
}

QString failure(const OVNDatabaseAccess &connection, const QString &what)
{
    if (connection.lastFailure() == OVNDatabaseAccess::Failure::Unreachable)
        return what + QStringLiteral(": ") + connection.getLastErrorMessage();
    qWarning("%s: %s", qUtf8Printable(what), qUtf8Printable(connection.getLastErrorMessage()));
    return what;
}

std::optional<MediaList> readable(OVNDatabaseAccess &connection, MediaList records, QString *why)
{
    std::optional<MediaList> kept = OVNCategoryAccess::readableNow(connection, std::move(records));
    if (!kept && why)
        *why = told(OVNCategoryAccess::readFailure(connection));
    return kept;
}

} // namespace ToolAccount
