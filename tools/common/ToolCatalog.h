#pragma once

#include "catalogdb/OVNCatalogOpening.h"
#include "platform/MediaRecord.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class OVNDatabaseAccess;

// The catalog a command-line tool is given: a catalog file, or
// postgresql://USER@HOST[:PORT]/DATABASE with the password from PGPASSWORD or ~/.pgpass (libpq).
namespace ToolCatalog {

// What opening does to a catalog that is not there yet. AsTheyAre makes nothing: a catalog file that
// does not exist is refused and left uncreated. CreateWhenMissing, for the tools that import, makes
// the file and its tables as the program makes a new catalog. TablesOnServer makes the tables in an
// empty server database, as the program does when it connects to one, but never a catalog file.
enum class Tables { AsTheyAre, CreateWhenMissing, TablesOnServer };

// Opens the catalog; the connection is inactive (with its error message) when it could not be
// opened. From here on Qt's messages go to the system log (ToolAccount::logMessages()). A password written into the URL
// still works, with a warning on standard error naming `tool`, since every user of the computer can read a program's
// command line.
// A server that does not answer, or ends the session meanwhile, is waited for up to `waitSeconds`
// ("Waiting for the catalog server..." on standard error).
std::unique_ptr<OVNDatabaseAccess> open(const QString &catalog, Tables tables, const char *tool);

// Why the opened catalog cannot be used, empty when it can: "cannot open the catalog X: Database
// connection failed: " and the reason (the file is missing, is no database, or holds no catalog;
// the server's answer).
QString openFailure(OVNDatabaseAccess &connection, const QString &catalog);

// A read that failed, for a tool's refusal: "WHAT: " and the catalog's own words (a column the
// catalog lacks, a read-only file), or ToolAccount::failure's words for a server out of reach.
QString readFailure(const OVNDatabaseAccess &connection, const QString &what);
// A message of the catalog as a tool says it: its first line, without a server's severity word.
QString catalogWords(const QString &message);

// How long a server that does not answer is waited for, at the opening as during the work: the
// same 30 seconds as every other road to the catalog.
constexpr int waitSeconds = OVNCatalogOpening::waitSeconds;

// Says "Waiting for the catalog server..." (or another status) on standard error.
void sayStatus(const QString &text);

// Runs `step` (a read, or a write that is the same however often it runs) again on a new session
// for as long as the server session is lost on the way, waiting for a server that does not answer
// as the opening does (waitSeconds in all, saying so on standard error). `step` runs on an open
// connection. Whether it ran without a failure of the catalog; when not, the connection's last
// failure says why.
bool retried(OVNDatabaseAccess &connection, const std::function<bool()> &step);

// The login as ToolAccount::logIn, through sessions that end meanwhile: its refusal, or empty.
QString logIn(OVNDatabaseAccess &connection);

// The category a tool is given: an existing category's id, else the id of the first collection of
// that name; empty when there is neither.
QString categoryId(OVNDatabaseAccess &connection, const QString &idOrName);

// An existing catalog (tables as they are), logged in as the account's catalog user, and the
// category in it, for the output tools; when either is missing, or the user may not read the
// category, `refusal` says why ("cannot open the catalog X" with ToolAccount::failure's reason, the
// program's start-up refusal, "no category Y", the program's privilege refusal).
struct CategoryInCatalog {
    std::unique_ptr<OVNDatabaseAccess> connection;
    QString categoryId;
    QString refusal;
};
CategoryInCatalog openCategory(const QString &catalog, const QString &category, const char *tool);

// The category's entries the user may read, null when one of their files is missing (`refusal`
// then names the missing files) or when the privileges could not be read (`refusal` says why).
std::optional<QList<MediaRecord>> recordsWithFiles(OVNDatabaseAccess &connection, const QString &categoryId,
                                                   QString *refusal);

} // namespace ToolCatalog
