#include "catalogdb/OVNCatalogLogin.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNCategoryAccess.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "platform/Localized.h"
#include "platform/SystemInfo.h"
#include "platform/SystemLog.h"

#include <QSet>

namespace OVNCatalogLogin {

namespace {

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

void logMessages() { SystemLog::takeQtMessages(); }

QString logIn(OVNDatabaseAccess &connection, const QString &login)
{
    if (connection.authenticateUser(login))
        return QString();
    // The reason in the words every later refusal of this user repeats.
    const QString refusal = OVNCategoryAccess::loginRefusalText(connection, login);
    connection.closeDBConnection();
    return refusal;
}

QString logInThroughEndedSessions(OVNDatabaseAccess &connection, const QString &login,
                                  const std::function<void(const QString &)> &status)
{
    QString refusal;
    const bool in = OVNCatalogOpening::run(
        connection, OVNCatalogOpening::waitSeconds,
        [&] {
            if (!connection.isDBConnectionActive() && !connection.openDBConnection())
                return false;
            const quint64 failures = connection.failureCount();
            refusal = logIn(connection, login);
            // A refusal without a failed statement is the catalog's answer, not a lost session.
            return (refusal.isEmpty() && connection.isDBConnectionActive())
                   || (!refusal.isEmpty() && connection.failureCount() == failures);
        },
        status);
    if (!in && refusal.isEmpty())
        refusal = failure(connection, localized("cannot log in"));
    return refusal;
}

QString logIn(OVNDatabaseAccess &connection)
{
    logMessages();
    if (!connection.isDBConnectionActive())
        return QString();
    return logIn(connection, SystemInfo::accountName());
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
    // A catalog that could not be opened at all: the words of the program's own alert, whose text
    // is the connection's (where the server was looked for and why it did not answer, or the file's
    // problem); no statement has run that it could quote.
    if (!connection.isDBConnectionActive() && !connection.getLastErrorMessage().isEmpty()) {
        const QString prefix =
            what + QStringLiteral(": ") + localized("Database connection failed") + QStringLiteral(": ");
        if (connection.vendor() != OVNDatabaseAccess::Vendor::PostgreSQL)
            return prefix + connection.getLastErrorMessage().simplified();
        // The server's and the client library's own words (a severity, hints, "the database system
        // is starting up") go to the log; the user reads what happened.
        qWarning("%s: %s", qUtf8Printable(what), qUtf8Printable(connection.getLastErrorMessage()));
        if (connection.lastErrorServerFull())
            return prefix + localized("The catalog server is full: every connection it allows is taken.");
        if (connection.lastErrorLostConnection())
            return prefix + localized("The catalog server cannot be reached.");
        QString reason = connection.getLastErrorMessage().trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
        for (const char *severity : {"FATAL:", "ERROR:"})
            if (const qsizetype at = reason.indexOf(QLatin1String(severity)); at >= 0)
                reason = reason.mid(at + qsizetype(qstrlen(severity))).trimmed();
        return prefix + reason;
    }
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

} // namespace OVNCatalogLogin
