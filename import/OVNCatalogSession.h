#pragma once

// What every writer of the import shares about its catalog connection: going on through server
// sessions that end, and asking at each batch whether the user may still write where it writes.

#include "catalogdb/OVNCategoryAccess.h"

#include <QString>

#include <atomic>
#include <functional>
#include <optional>

class OVNDatabaseAccess;

namespace OVNCatalogSession {

using Status = std::function<void(const QString &)>;

// The status text shown while the server does not answer.
QString waitingText();

// Whether the server answers a statement now (a catalog file always does).
bool answers(OVNDatabaseAccess &db);

// After a failed statement, once its savepoint has ended: whether the server session was lost (and
// the transaction with it) rather than the statement refused. A catalog file has no session to lose.
// `depthBefore` is the connection's transaction depth before the statement, or -1.
bool lost(OVNDatabaseAccess &db, int depthBefore = -1);

// Waits for the server to answer, trying every second for up to `seconds`, and says so through
// `status` while it does not. False when it did not answer in that time, or at cancel.
bool waitForServer(OVNDatabaseAccess &db, int seconds, const std::atomic<bool> *cancelled, const Status &status);

// Makes the category `name` of `kind`, under `parentId` when one is given, in one transaction.
// When the server ends the session meanwhile, the server is waited for and the category made
// again, unless its commit reached the server and it is there already. Its id; empty when the
// catalog refused it (its message in `error`), when the server did not answer for `seconds`
// ("The catalog server cannot be reached."), or when it answered but kept ending the session for
// that long, or at cancel.
QString makeCategory(OVNDatabaseAccess &db, const QString &name, const QString &kind, const QString &parentId,
                     int seconds, const std::atomic<bool> *cancelled, const Status &status, QString *error);

// As makeCategory, but a category of `kind` named `name` under `parentId` (at the top level when
// empty) that is there already is taken instead: finding and making are one step that no two
// clients take at once, so that imports started together into a new name make one category.
// `made`, when given, tells whether this call made it.
QString findOrMakeCategory(OVNDatabaseAccess &db, const QString &name, const QString &kind, const QString &parentId,
                           int seconds, const std::atomic<bool> *cancelled, const Status &status, QString *error,
                           bool *made = nullptr);

// Removes the category `categoryId` of `kind`, made for an import that then stored nothing in it,
// so that no empty collection (or folder) stays behind; in one transaction, and only while it holds
// nothing, so that what another import stored into it meanwhile keeps it. Goes on through sessions
// that end on the way, for up to `seconds`. Kept when it holds something; Failed when the catalog
// could not be asked or refused the removal (its last failure says why).
enum class Removal { Removed, Kept, Failed };
Removal removeIfEmpty(OVNDatabaseAccess &db, const QString &categoryId, const QString &kind, int seconds,
                      const Status &status);

// Whether the user may still store entries into `categoryId` at this moment (membership and level
// read afresh): nothing when so, or when the server could not be asked (the write that follows
// finds that out and waits for it); otherwise why not.
std::optional<OVNCategoryAccess::Refusal> writeRefusal(OVNDatabaseAccess &db, const QString &categoryId);

// The refusal as one line: its title and its text.
QString refusalLine(const OVNCategoryAccess::Refusal &refusal);

} // namespace OVNCatalogSession
