// Who a connection reads and writes as, and what that user may do: the catalog user bound to a
// connection at login, and the privilege checks every command-line tool asks before it reads or
// writes, in the program's own words.
#pragma once

#include "platform/MediaRecord.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class OVNDatabaseAccess;

namespace OVNCatalogLogin {

// Binds an open connection to the catalog user with that login, as the program's start-up does: on
// a catalog with users, a login that is no catalog user or belongs to no group is refused: the
// connection is closed and the answer says why in the start-up refusal's words (empty when the
// login holds).
QString logIn(OVNDatabaseAccess &connection, const QString &login);

// logIn() above through sessions that end meanwhile, and a server away for up to 30 seconds
// (`status` says "Waiting for the catalog server..." then): a question lost with its session is
// never taken for a refusal. The refusal, empty when the login holds; when the server stayed away,
// failure()'s words for "cannot log in".
QString logInThroughEndedSessions(OVNDatabaseAccess &connection, const QString &login,
                                  const std::function<void(const QString &)> &status = {});

// Logs an open connection in as the catalog user whose login is the name of the account running
// the program in the system's user database (never $USER), as logIn() above. A connection that is
// not open is left as it is. From here on Qt's messages (the catalog layer's may quote the server's
// own text) go to the system log, never to the terminal.
QString logIn(OVNDatabaseAccess &connection);

// Empty when the logged-in user holds `requested` on each of the categories as the catalog holds
// them at this moment (groups and privileges read afresh), as the catalog window judges an entry by
// the category that owns it (no category grants nothing); otherwise the program's refusal, title
// and text on one line: "Authorization Failed: ... Requested Privilege: READ & WRITE Your Privilege
// Level: READ ONLY", or why the privileges could not be read (the server's own text goes to the log).
QString refusal(OVNDatabaseAccess &connection, const QString &requested, const QStringList &categoryIds);

// The records whose owning category the user may read at this moment; nothing, with `why` set,
// when the privileges could not be read.
std::optional<MediaList> readable(OVNDatabaseAccess &connection, MediaList records, QString *why);

// What a tool tells when the catalog did not do what it asked: `what`, and that the server cannot
// be reached when that is why, or, for a catalog that could not be opened, "Database connection
// failed" and the connection's reason, as the program's alert says. The catalog's own text, which
// may quote a statement, goes to the log.
QString failure(const OVNDatabaseAccess &connection, const QString &what);

// Qt's messages to the system log from now on (for the tools that open a catalog without logging in).
void logMessages();

} // namespace OVNCatalogLogin
