#include "search/OVNExpressSearch.h"

#include "catalogdb/OVNCategoryAccess.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"

#include <QHash>

namespace OVNExpressSearch {

bool mayRead(const QString &level) { return OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readOnly(), level); }

bool mayWrite(const QString &level) { return OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readWrite(), level); }

Outcome run(OVNDatabaseAccess &connection, const QString &sql, int timeLimitMs, const std::atomic<bool> *stop,
            std::uint32_t fields)
{
    // The owning category decides what the user may see.
    const std::uint32_t read = fields | (1u << MediaRecord::CategoryId);
    Outcome outcome = connection.searchMediaListReadOnly(sql, timeLimitMs, stop, read);
    if (outcome.status != Outcome::Status::Found || !connection.useAuthentication())
        return outcome;
    // Each entry by the category that owns it, as every list of entries is filtered.
    std::optional<MediaList> readable = OVNCategoryAccess::readableNow(connection, std::move(outcome.records));
    if (!readable)
        return {Outcome::Status::Failed, {}, failureText(connection)};
    outcome.records = std::move(*readable);
    return outcome;
}

std::optional<QStringList> readableCategoryIds(OVNDatabaseAccess &connection)
{
    if (!connection.useAuthentication())
        return std::nullopt;
    // The user's groups as the catalog holds them now; a user left in no group reads nothing.
    QStringList ids;
    if (connection.refreshUserGroups() != OVNDatabaseAccess::Membership::Member)
        return ids;
    for (const OVNRow &row : connection.rowsForQuery(QStringLiteral("select mid, comment from strvcategory"))) {
        if (row.size() >= 2 && mayRead(connection.getAccessPrivilegesForCurrentUser(row.at(1).toString())))
            ids << row.at(0).toString();
    }
    return ids;
}

Outcome runExpert(OVNDatabaseAccess &connection, OVNExpress::ExpertSearch search, int timeLimitMs,
                  const std::atomic<bool> *stop, std::uint32_t fields)
{
    const QString refusal = search.refusal();
    if (!refusal.isEmpty())
        return {Outcome::Status::Refused, {}, refusal};
    search.readableCategoryIds = readableCategoryIds(connection);
    return run(connection, search.statement(), timeLimitMs, stop, fields);
}

QString failureText(const OVNDatabaseAccess &connection)
{
    if (connection.lastFailure() == OVNDatabaseAccess::Failure::Unreachable)
        return localized("The catalog cannot be reached.");
    qWarning("Search failed: %s", qUtf8Printable(connection.getLastErrorMessage()));
    return localized("The search could not run.");
}

std::unique_ptr<OVNDatabaseAccess> openSearchConnection(const OVNDatabaseAccess &main)
{
    std::unique_ptr<OVNDatabaseAccess> search = main.openSiblingConnection();
    if (search->isDBConnectionActive() && search->checkForUserManagerSetup())
        search->authenticateUser(main.authUserName());
    return search;
}

std::vector<Catalog> catalogsOf(OVNDatabaseAccess &connection)
{
    std::vector<Catalog> catalogs{{localized("All Entries"), QString(), {}}};
    for (const char *kind : {"F", "C", "M"}) {
        for (const CategoryNode &node : connection.getCategoryList(QString::fromLatin1(kind))) {
            const QString title = node.value(QStringLiteral("displaytag")).toString();
            const QString mid = node.value(CatalogNames::keyMid).toString();
            if (title.isEmpty() || mid.isEmpty() || !mayRead(node.value(QStringLiteral("MYPRIVILEGES")).toString()))
                continue;
            Catalog catalog{title, QString::fromLatin1(kind), {}};
            if (catalog.kind == QLatin1String("F"))
                catalog.ids = OVNCategoryAccess::readableSubtree(connection, mid);
            else
                catalog.ids << mid;
            catalogs.push_back(std::move(catalog));
        }
    }
    return catalogs;
}

} // namespace OVNExpressSearch
