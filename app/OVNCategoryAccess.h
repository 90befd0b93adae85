#pragma once

#include "platform/MediaRecord.h"

#include <QString>

#include <optional>

class OVNDatabaseAccess;

// The one check that a category-level action makes before it writes: the user's level on the
// category as the catalog holds it at this moment, whatever the outline showed when it was last
// loaded. Called inside the action's own transaction where it has one, so that the privileges
// cannot change between the answer and the write.
namespace OVNCategoryAccess {

// Why an action may not go on, for an alert: its title and its text.
struct Refusal {
    enum class Reason { Privileges, Unreachable, Missing, Failed };
    Reason reason = Reason::Failed;
    QString title;
    QString text;
};

// Nothing when the user holds `requested` (or more) on the category now; otherwise why not: the
// privilege alert's words with both levels, the server out of reach, the category deleted
// meanwhile, or the privileges not readable. An empty id (the "Database" item) grants everything.
std::optional<Refusal> refusalNow(OVNDatabaseAccess &db, const QString &categoryMid, const QString &requested);

// The entries of `records` the user may read at this moment, each judged by the category that owns
// it as the catalog holds it now: READ ONLY or more. An entry of no category, or of one deleted
// meanwhile, is left out; on a catalog without users all are kept. Nothing when the privileges
// could not be read (readFailure() says why).
std::optional<MediaList> readableNow(OVNDatabaseAccess &db, MediaList records);

// Why a write to a category failed, in the program's words: the server out of reach, the category
// deleted meanwhile (also when no statement failed but none found the category: compare with the
// failureCount() from before the write), or the catalog's own message. `what` names the change for
// the last case ("The category could not be renamed.").
Refusal writeFailure(const OVNDatabaseAccess &db, quint64 failuresBefore, const QString &what);

// Why the user's privileges could not be read (the server out of reach, or the catalog's own
// message): nothing that needs them can be done for now.
Refusal readFailure(const OVNDatabaseAccess &db);

// The title of every alert about a change lost to an unreachable server.
QString unreachableTitle();

} // namespace OVNCategoryAccess
