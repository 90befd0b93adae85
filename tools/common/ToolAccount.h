// Who a command-line tool writes as, and whether that user may: the catalog user and the
// privilege checks of the program itself.
#pragma once

#include <QString>
#include <QStringList>

class OVNDatabaseAccess;

namespace ToolAccount {

// Binds the connection to the catalog user whose login is the name of the account running the
// tool in the system's user database (never $USER), as the program binds its own connections.
// As there, a login that is no catalog user still leaves a usable connection; the privilege
// checks then decide what it may do.
void bind(OVNDatabaseAccess &connection);

// Empty when the bound user holds `requested` on each of the categories, as the catalog window
// judges an entry by the category that owns it (no category grants nothing); otherwise the
// window's refusal, title and text on one line: "Authorization Failed: ... Requested Privilege:
// READ & WRITE Your Privilege Level: READ ONLY".
QString refusal(OVNDatabaseAccess &connection, const QString &requested, const QStringList &categoryIds);

} // namespace ToolAccount
