#include "app/OVNSmartFolders.h"

#include "app/OVNCatalogWait.h"
#include "app/OVNCategoryComment.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/Localized.h"
#include "search/OVNExpressSearch.h"
#include "search/OVNFind.h"

namespace OVNSmartFolders {

namespace {

// The find model's compiler behind the smart-folder interface.
class FindSmartFolderSearch : public OVNSmartFolderSearch
{
public:
    QString searchClause(const QVariantMap &settings, const QList<Catalog> &catalogs, bool onServer,
                         QString *refusal) const override
    {
        OVNFind find;
        for (const Catalog &catalog : catalogs)
            find.addCatalog(catalog.title, catalog.ids);
        find.setSearchSettings(settings);
        const QString why = find.refusal();
        if (!why.isEmpty()) {
            if (refusal)
                *refusal = localized("The smart folder's search cannot run. %1").arg(why);
            return QString();
        }
        return find.searchClause(onServer ? OVNFind::Dialect::PostgreSQL : OVNFind::Dialect::SQLite);
    }
};

std::shared_ptr<const OVNSmartFolderSearch> &installed()
{
    static std::shared_ptr<const OVNSmartFolderSearch> search;
    return search;
}

} // namespace

std::shared_ptr<const OVNSmartFolderSearch> search()
{
    static const auto builtIn = std::make_shared<const FindSmartFolderSearch>();
    return installed() ? installed() : builtIn;
}

void setSearch(std::shared_ptr<const OVNSmartFolderSearch> search) { installed() = std::move(search); }

Statement statement(OVNDatabaseAccess &db, const QVariantMap &settings,
                    const QList<OVNSmartFolderSearch::Catalog> &catalogs, OVNCatalogWait &wait)
{
    Statement made;
    made.clause =
        search()->searchClause(settings, catalogs, db.vendor() == OVNDatabaseAccess::Vendor::PostgreSQL, &made.refusal);
    if (made.clause.isEmpty())
        return made;
    OVNFind find;
    for (const OVNSmartFolderSearch::Catalog &catalog : catalogs)
        find.addCatalog(catalog.title, catalog.ids);
    find.setSearchSettings(settings);
    OVNDatabaseAccess::ReadOnlySearch checked;
    OVNCatalogOpening::retried(
        db, [&] { checked = OVNExpressSearch::checkFieldSizes(db, find); }, wait.status(), wait.secondsLeft());
    if (checked.status != OVNDatabaseAccess::ReadOnlySearch::Status::Found) {
        made.clause.clear();
        made.refusal = checked.message;
    }
    made.leftOut = checked.leftOut;
    return made;
}

QString store(OVNDatabaseAccess &db, const QString &name, const QVariantMap &settings, OVNCatalogWait &wait,
              bool *searchLost)
{
    if (searchLost)
        *searchLost = false;
    const QString mid = db.addCategoryListEntry(name, QStringLiteral("I"));
    if (mid.isEmpty())
        return QString();
    // Setting the search is the same however often it is done.
    const QString comment = OVNCategoryComment::textForm(settings);
    bool stored = false;
    stored = OVNCatalogOpening::retried(
                 db, [&] { stored = db.updateCategoryListComment(mid, comment); }, wait.status(), wait.secondsLeft())
             && stored;
    if (stored)
        return mid;
    db.deleteCategoryListEntry(mid);
    if (searchLost)
        *searchLost = true;
    return QString();
}

} // namespace OVNSmartFolders
