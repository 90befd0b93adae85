#include "search/OVNExpressSearch.h"

#include "catalogdb/OVNCategoryAccess.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"
#include "search/OVNExpertCondition.h"
#include "search/OVNFind.h"

#include <chrono>

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

namespace {

// Found without entries when no entry a search tests holds long fields larger than `largest`
// bytes (listed by `oversized`, "" for none); refused, naming the first one the user may read,
// when one does.
Outcome refuseOversized(OVNDatabaseAccess &connection, const QString &oversized, qint64 largest, int timeLimitMs,
                        const std::atomic<bool> *stop)
{
    if (largest < 0 || oversized.isEmpty())
        return {Outcome::Status::Found, {}, QString()};
    Outcome found = connection.searchMediaListReadOnly(
        oversized, timeLimitMs, stop, (1u << MediaRecord::DisplayTag) | (1u << MediaRecord::CategoryId));
    if (found.status != Outcome::Status::Found || found.records.isEmpty())
        return found;
    // The search tests every entry of the place searched and lists those the user may read: an
    // entry of another's does not have its title shown.
    const std::optional<QStringList> readable = readableCategoryIds(connection);
    const MediaRecordRef &entry = found.records.first();
    const QString title = !readable || readable->contains(entry->field(MediaRecord::CategoryId))
                              ? localized("the entry \"%1\"").arg(entry->field(MediaRecord::DisplayTag))
                              : localized("an entry you may not read");
    return {Outcome::Status::Refused,
            {},
            localized("The search cannot run: %1 holds more than %2 KB in a text it tests (a description, the "
                      "keywords, a path), more than the catalog server may go through for this search at once. "
                      "Search fewer fields at once, or with a shorter text.")
                .arg(title)
                .arg(largest / 1024)};
}

int remainingMs(int timeLimitMs, std::chrono::steady_clock::time_point started)
{
    const auto spentMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    return std::max<int>(1, timeLimitMs - int(spentMs));
}

// The limit the user set, of which the look at the fields took a part.
void sayTimeLimit(Outcome &outcome, int timeLimitMs)
{
    if (outcome.status == Outcome::Status::TimedOut)
        outcome.message = localized("The search took longer than %1 seconds and was stopped.")
                              .arg(QString::number(std::max(1, timeLimitMs) / 1000.0, 'g', 3));
}

} // namespace

Outcome checkFieldSizes(OVNDatabaseAccess &connection, const OVNFind &find, int timeLimitMs,
                        const std::atomic<bool> *stop)
{
    const OVNExpertCondition::Cost cost = find.cost();
    const qint64 largest = OVNExpertCondition::largestFieldBytes(cost);
    return refuseOversized(connection,
                           find.oversizedStatement(cost.longColumns, largest, OVNFind::dialectOf(connection)), largest,
                           timeLimitMs, stop);
}

Outcome runQuick(OVNDatabaseAccess &connection, OVNExpress::QuickSearch search, int timeLimitMs,
                 const std::atomic<bool> *stop, std::uint32_t fields)
{
    const QString refusal = search.refusal();
    if (!refusal.isEmpty())
        return {Outcome::Status::Refused, {}, refusal};
    // Another's entries are neither tested nor looked at for their size.
    search.readableCategoryIds = readableCategoryIds(connection);
    const OVNFind::Dialect dialect = OVNFind::dialectOf(connection);
    const auto started = std::chrono::steady_clock::now();
    // Each change of case copies a field several times over: a description of many megabytes is
    // refused rather than taken into the server's memory that many times.
    const OVNExpertCondition::Cost cost = search.cost();
    const qint64 largest = OVNExpertCondition::largestFieldBytes(cost);
    const Outcome oversized = refuseOversized(connection, search.oversizedStatement(cost.longColumns, largest, dialect),
                                              largest, timeLimitMs, stop);
    if (oversized.status != Outcome::Status::Found)
        return oversized;
    Outcome outcome = run(connection, search.statement(dialect), remainingMs(timeLimitMs, started), stop, fields);
    sayTimeLimit(outcome, timeLimitMs);
    return outcome;
}

Outcome runExpert(OVNDatabaseAccess &connection, OVNExpress::ExpertSearch search, int timeLimitMs,
                  const std::atomic<bool> *stop, std::uint32_t fields)
{
    OVNExpertCondition::Cost cost;
    const QString condition = OVNExpress::ExpertSearch::replacedClause(search.clause);
    if (!condition.trimmed().isEmpty()) {
        if (const std::optional<OVNExpertCondition::Refusal> refused = OVNExpertCondition::check(condition, &cost))
            return {Outcome::Status::Refused, {}, refused->message};
    }
    search.readableCategoryIds = readableCategoryIds(connection);
    const auto started = std::chrono::steady_clock::now();
    // What the condition asks of the server grows with the size of the long fields it names: an
    // entry whose fields are too large for it refuses the search before it runs.
    const qint64 largest = OVNExpertCondition::largestFieldBytes(cost);
    if (largest >= 0) {
        Outcome oversized = connection.searchMediaListReadOnly(
            search.oversizedStatement(cost.longColumns, largest, OVNFind::dialectOf(connection)), timeLimitMs, stop,
            (1u << MediaRecord::DisplayTag) | (1u << MediaRecord::CategoryId));
        if (oversized.status != Outcome::Status::Found)
            return oversized;
        if (!oversized.records.isEmpty()) {
            const QString title = oversized.records.first()->field(MediaRecord::DisplayTag);
            return {Outcome::Status::Refused,
                    {},
                    localized("The search condition asks too much of the catalog server for the entry \"%1\": "
                              "its long fields (descriptions, keywords, paths, pictures) hold more than %2 KB, and "
                              "for each of them the condition would hold %3 copies and make %4 passes. Test them "
                              "fewer times, with fewer functions or a shorter pattern.")
                        .arg(title)
                        .arg(largest / 1024)
                        .arg(cost.copies)
                        .arg(cost.passes)};
        }
    }
    Outcome outcome = run(connection, search.statement(), remainingMs(timeLimitMs, started), stop, fields);
    sayTimeLimit(outcome, timeLimitMs);
    return outcome;
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
