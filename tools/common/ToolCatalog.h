#pragma once

#include <QString>

#include <memory>

class OVNDatabaseAccess;

// The catalog a command-line tool is given: a catalog file, or
// postgresql://USER@HOST[:PORT]/DATABASE with the password from PGPASSWORD or ~/.pgpass (libpq).
namespace ToolCatalog {

enum class Tables { AsTheyAre, CreateWhenMissing };

// Opens the catalog; the connection is inactive (with its error message) when it could not be
// opened. A password written into the URL still works, with a warning on standard error naming
// `tool`, since every user of the computer can read a program's command line.
std::unique_ptr<OVNDatabaseAccess> open(const QString &catalog, Tables tables, const char *tool);

// The category a tool is given: an existing category's id, else the id of the first collection of
// that name; empty when there is neither.
QString categoryId(OVNDatabaseAccess &connection, const QString &idOrName);

} // namespace ToolCatalog
