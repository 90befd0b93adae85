#pragma once

#include "catalogdb/OVNDatabaseAccess.h"
#include "search/OVNExpressStatements.h"
#include "search/OVNFind.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Running an express search as its Search button does, without widgets: the statement on a
// connection kept for searching (read-only, with a time limit and a stop), then only the entries
// whose owning category the catalog user may read. Also the panel's search-in list and the
// privilege tests of its rating.
namespace OVNExpressSearch {

constexpr int defaultTimeLimitMs = 30000;

using Outcome = OVNDatabaseAccess::ReadOnlySearch;

// Runs the statement; on a catalog with users, entries of a category the user may not read (or
// of none) are left out. Any thread; the connection is busy meanwhile.
// `stop` (optional) is the caller's stop request for this search. `fields` (bits of
// MediaRecord::Field) are the columns the records get; the others are left empty.
Outcome run(OVNDatabaseAccess &connection, const QString &sql, int timeLimitMs = defaultTimeLimitMs,
            const std::atomic<bool> *stop = nullptr, std::uint32_t fields = MediaRecord::allFields);

// The categories whose entries the connection's user may read; nothing on a catalog without users
// (everything is readable) and an empty list when the categories cannot be read.
std::optional<QStringList> readableCategoryIds(OVNDatabaseAccess &connection);

// Runs a quick search as run() does, its fields tested only on entries the user may read. An entry
// whose descriptions or keywords (on SQLite any field) are too large for its changes of case and
// its patterns (OVNExpertCondition::largestFieldBytes()) is left out untested, and `leftOut`
// names it.
Outcome runQuick(OVNDatabaseAccess &connection, OVNExpress::QuickSearch search, int timeLimitMs = defaultTimeLimitMs,
                 const std::atomic<bool> *stop = nullptr, std::uint32_t fields = MediaRecord::allFields);

// The same look for a find (the find sheet, a smart folder, ovn-find), whose statement leaves such
// entries out untested: Found without entries, `leftOut` naming the first the user may read (an
// entry of another's is left out unnamed), or why the look could not be made.
Outcome checkFieldSizes(OVNDatabaseAccess &connection, const OVNFind &find, int timeLimitMs = defaultTimeLimitMs,
                        const std::atomic<bool> *stop = nullptr);

// Runs an expert search as run() does; on a catalog with users its condition is tested only on
// entries the user may read, and like a quick search it leaves out, named, an entry too large for
// what the condition asks of each.
Outcome runExpert(OVNDatabaseAccess &connection, OVNExpress::ExpertSearch search, int timeLimitMs = defaultTimeLimitMs,
                  const std::atomic<bool> *stop = nullptr, std::uint32_t fields = MediaRecord::allFields);

// What the user reads when a search failed on the connection: the catalog out of reach, or that the
// search could not run. The catalog's own text goes to the log: it may quote the statement.
QString failureText(const OVNDatabaseAccess &connection);

// A connection like `main` for a search thread: same catalog, same catalog user.
std::unique_ptr<OVNDatabaseAccess> openSearchConnection(const OVNDatabaseAccess &main);

struct Catalog {
    QString title;
    QString kind;    // "F", "C" or "M"
    QStringList ids; // the category and, for a folder, every category below it, depth first
};
// "All Entries" (no ids), then the top-level folders, collections and surveillance folders in the
// order the catalog gives them, each with a title; categories the user has "NO ACCESS" to are
// left out, also inside folders.
std::vector<Catalog> catalogsOf(OVNDatabaseAccess &connection);

// Whether a privilege level lets the user see, and change, a category's entries. An unknown level
// grants nothing.
bool mayRead(const QString &level);
bool mayWrite(const QString &level);

} // namespace OVNExpressSearch
