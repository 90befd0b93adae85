#pragma once

#include "app/OVNSmartFolderSearch.h"

#include <QString>
#include <QVariantMap>

#include <memory>

class OVNCatalogWait;
class OVNDatabaseAccess;

// Smart folders without widgets: the search that compiles their stored settings, the statement a
// smart folder lists with, and a new smart folder stored in the catalog.
namespace OVNSmartFolders {

// The search compiling smart folders: the one installed (tests install their own), or the find
// sheet's.
std::shared_ptr<const OVNSmartFolderSearch> search();
// Installs `search`; nullptr gives back the find sheet's.
void setSearch(std::shared_ptr<const OVNSmartFolderSearch> search);

struct Statement {
    QString clause;  // the statement that lists the folder's entries; "" when it cannot run
    QString refusal; // why it cannot, when it cannot
    QString leftOut; // the entries left out as too large for what the search asks of each
};

// The statement for a smart folder's `settings` over the search-in list `catalogs`: as the find
// sheet runs it, entries whose texts are too large for the lines left out and named. The sizes are
// asked through ended sessions within what `wait` has left.
Statement statement(OVNDatabaseAccess &db, const QVariantMap &settings,
                    const QList<OVNSmartFolderSearch::Catalog> &catalogs, OVNCatalogWait &wait);

// Makes a smart folder `name` at the top level holding the search `settings`; its id, or "" when
// it could not be made. The search is written again on a new session while sessions end; a
// folder whose search could not be stored is deleted again, as it would only ever show nothing
// (`searchLost` then says so).
QString store(OVNDatabaseAccess &db, const QString &name, const QVariantMap &settings, OVNCatalogWait &wait,
              bool *searchLost = nullptr);

} // namespace OVNSmartFolders
