#pragma once

#include "platform/MediaRecord.h"

#include <QString>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

class OVNDatabaseAccess;

// The one check that a category-level action makes before it writes: the user's level on the
// category as the catalog holds it at this moment, whatever the outline showed when it was last
// loaded. Called inside the action's own transaction where it has one, so that the privileges
// cannot change between the answer and the write.
namespace OVNCategoryAccess {

// Why an action may not go on, for an alert: its title and its text.
struct Refusal {
    // Excluded: the user is no catalog user any more, or in no group: he cannot use the catalog.
    enum class Reason { Privileges, Unreachable, Missing, Failed, Excluded };
    Reason reason = Reason::Failed;
    QString title;
    QString text;
    // The reason alone, without what the text says was not changed; empty when the text is the
    // reason. Work that stops part way (an import that stored some files) says what it kept itself.
    QString cause;
    QString causeAlone() const { return cause.isEmpty() ? text : cause; }
};

// Nothing when the user holds `requested` (or more) on the category now; otherwise why not: the
// privilege alert's words with both levels, the server out of reach, the category deleted
// meanwhile, the privileges not readable, or the user left in no group. An empty id (the
// "Database" item) grants everything to a member of a group.
std::optional<Refusal> refusalNow(OVNDatabaseAccess &db, const QString &categoryMid, const QString &requested);

// The entries of `records` the user may read at this moment, each judged by the category that owns
// it as the catalog holds it now: READ ONLY or more. An entry of no category, or of one deleted
// meanwhile, is left out; on a catalog without users all are kept. Nothing when the privileges
// could not be read (readFailure() says why).
std::optional<MediaList> readableNow(OVNDatabaseAccess &db, MediaList records);

// The user's groups read afresh (and whether the catalog has users at all): nothing while the
// user is a member of a group, or the catalog has no users; otherwise that he can no longer use the
// catalog, in the words the start-up refuses with, or that his groups could not be read. Every
// list the window shows and every write asks this first, so that an administrator's change of
// memberships counts at once; refusalNow() and entriesRefusalNow() include it.
std::optional<Refusal> membershipRefusalNow(OVNDatabaseAccess &db);

// For a change of entries: nothing when each category that owns one (`owners`, one per entry,
// repeated ids asked once) grants `requested` now; otherwise the first refusal, as refusalNow()
// gives it. An empty owner is an entry the catalog no longer holds (deleted meanwhile, with its
// category perhaps), which is said so; no owners at all grant nothing.
std::optional<Refusal> entriesRefusalNow(OVNDatabaseAccess &db, const QString &requested, const QStringList &owners);

// What each entry of a write may have, judged inside the write's own transaction on each of its
// tries, so that the level that allowed a write is the level the catalog holds when it commits.
struct EntriesVerdict {
    // Write: allowed now. Stored: already holds what is written (asked after a lost answer, before
    // the level: a write whose commit went through is done, whatever the level is now). Refused:
    // its category's level does not grant the request. Missing: the catalog no longer holds the
    // entry or its category. Excluded: the user is in no group any more.
    enum class Verdict { Write, Stored, Refused, Missing, Excluded };
    std::vector<Verdict> verdicts; // one per entry asked, in order
    QString refusedLevel;          // the lowest level that refused
    std::optional<Refusal> excluded;
    int count(Verdict verdict) const { return int(std::count(verdicts.cbegin(), verdicts.cend(), verdict)); }
};
// Judges `mids` for `requested` in one statement (and one read of the user's groups). With
// `holds`, each entry's stored `column` is handed to it first, and an entry it answers true for is
// Stored. Nothing when the catalog could not be read (a lost session: the caller's try goes again).
std::optional<EntriesVerdict> entriesNow(OVNDatabaseAccess &db, const QStringList &mids, const QString &requested,
                                         const QString &column = {},
                                         const std::function<bool(qsizetype, const QString &)> &holds = {});

// The refusal of a change to an entry the catalog no longer holds (deleted meanwhile, with its
// category perhaps).
Refusal entryMissingRefusal();
// The refusal of `requested` to a user who holds `own`, as refusalNow() gives it.
Refusal privilegeRefusal(const QString &requested, const QString &own);

// Why the login may not use the catalog, in the start-up refusal's words: no catalog user with
// that login, a catalog user in no group, or the user list not readable.
QString loginRefusalText(OVNDatabaseAccess &db, const QString &login);

// The title of the start-up refusal ("You cannot use this catalog").
QString loginRefusalTitle();

// Why a write to a category failed, in the program's words: the server out of reach, the category
// deleted meanwhile (also when no statement failed but none found the category: compare with the
// failureCount() from before the write), or the catalog's own message. `what` names the change for
// the last case ("The category could not be renamed.").
Refusal writeFailure(const OVNDatabaseAccess &db, quint64 failuresBefore, const QString &what);

// Why the user's privileges could not be read (the server out of reach, or the catalog's own
// message): nothing that needs them can be done for now.
Refusal readFailure(const OVNDatabaseAccess &db);

// The category `mid` and every category below it that the user may read (READ ONLY or more), as the
// catalog's tree holds it now: the places a search in a folder covers (the find sheet, smart
// folders, the express search). An unreadable category is left out, but the readable ones inside
// it are not: a readable collection in a NO ACCESS folder is still searched. A loop in the stored
// tree ends 64 levels down.
QStringList readableSubtree(OVNDatabaseAccess &db, const QString &mid);

// The title of every alert about a change lost to an unreachable server.
QString unreachableTitle();

} // namespace OVNCategoryAccess
