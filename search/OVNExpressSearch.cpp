#include "search/OVNExpressSearch.h"

#include "catalogdb/OVNCategoryAccess.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"
#include "search/OVNExpertCondition.h"
#include "search/OVNFind.h"

#include <algorithm>
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
    if (!readable) {
        Outcome failed;
        failed.message = failureText(connection);
        return failed;
    }
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

// The entries the search leaves out for long fields larger than `largest` bytes (listed by
// `oversized`, "" for none, only among the entries the user may read): Found without entries,
// `leftOut` naming the first of them, or empty when there are none the user may read.
Outcome leftOutEntries(OVNDatabaseAccess &connection, const QString &oversized, qint64 largest, int timeLimitMs,
                       const std::atomic<bool> *stop)
{
    Outcome found;
    found.status = Outcome::Status::Found;
    if (largest < 0 || oversized.isEmpty())
        return found;
    found = connection.searchMediaListReadOnly(oversized, timeLimitMs, stop,
                                               (1u << MediaRecord::DisplayTag) | (1u << MediaRecord::CategoryId));
    if (found.status != Outcome::Status::Found || found.records.isEmpty()) {
        found.records.clear();
        return found;
    }
    // A name planted at any length (a catalog file holds one) is shown by its start.
    constexpr qsizetype shownCharacters = 80;
    QString title = found.records.first()->field(MediaRecord::DisplayTag);
    if (title.size() > shownCharacters)
        title = title.left(shownCharacters) + QChar(0x2026);
    found.leftOut = (found.records.size() == 1
                         ? localized("The entry \"%1\" was left out of the search: it holds more than %2 KB in a "
                                     "text the search tests (a description, the keywords, a path), more than the "
                                     "catalog server may go through for this search at once.")
                         : localized("Entries such as \"%1\" were left out of the search: they hold more than %2 "
                                     "KB in a text the search tests (a description, the keywords, a path), more "
                                     "than the catalog server may go through for this search at once."))
                        .arg(title)
                        .arg(largest / 1024);
    found.records.clear();
    return found;
}

int remainingMs(int timeLimitMs, std::chrono::steady_clock::time_point started)
{
    const auto spentMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    return std::max<int>(1, timeLimitMs - int(spentMs));
}

// The limit the search was held to, of which the look at the fields took a part.
void sayTimeLimit(Outcome &outcome, int timeLimitMs)
{
    if (outcome.status == Outcome::Status::TimedOut)
        outcome.message =
            localized("The search took longer than %1 seconds and was stopped.")
                .arg(QString::number(std::clamp(timeLimitMs, 1, OVNDatabaseAccess::searchTimeLimitCeilingMs) / 1000.0,
                                     'g', 3));
}

// Runs `statement` after the look for the entries it leaves out, within one time limit; the
// outcome says those the user may read.
Outcome runLeavingOut(OVNDatabaseAccess &connection, const QString &statement, const QString &oversized, qint64 largest,
                      int timeLimitMs, const std::atomic<bool> *stop, std::uint32_t fields)
{
    const auto started = std::chrono::steady_clock::now();
    const Outcome left = leftOutEntries(connection, oversized, largest, timeLimitMs, stop);
    if (left.status != Outcome::Status::Found)
        return left;
    Outcome outcome = run(connection, statement, remainingMs(timeLimitMs, started), stop, fields);
    sayTimeLimit(outcome, timeLimitMs);
    if (outcome.status == Outcome::Status::Found)
        outcome.leftOut = left.leftOut;
    return outcome;
}

} // namespace

Outcome checkFieldSizes(OVNDatabaseAccess &connection, const OVNFind &find, int timeLimitMs,
                        const std::atomic<bool> *stop)
{
    const OVNFind::Dialect dialect = OVNFind::dialectOf(connection);
    const OVNExpertCondition::Cost cost = find.cost(dialect);
    const qint64 largest = OVNExpertCondition::largestFieldBytes(cost);
    // The find tests every entry of the place searched and lists those the user may read: one of
    // another's is left out unnamed.
    return leftOutEntries(connection,
                          find.oversizedStatement(cost.longColumns, largest, dialect, readableCategoryIds(connection)),
                          largest, timeLimitMs, stop);
}

Outcome runQuick(OVNDatabaseAccess &connection, OVNExpress::QuickSearch search, int timeLimitMs,
                 const std::atomic<bool> *stop, std::uint32_t fields)
{
    const QString refusal = search.refusal();
    if (!refusal.isEmpty()) {
        Outcome refused;
        refused.status = Outcome::Status::Refused;
        refused.message = refusal;
        return refused;
    }
    // Another's entries are neither tested nor looked at for their size.
    search.readableCategoryIds = readableCategoryIds(connection);
    const OVNFind::Dialect dialect = OVNFind::dialectOf(connection);
    // Each change of case copies a field several times over: an entry with a description of many
    // megabytes is left out rather than taken into the server's memory that many times.
    const OVNExpertCondition::Cost cost = search.cost(dialect);
    const qint64 largest = OVNExpertCondition::largestFieldBytes(cost);
    return runLeavingOut(connection, search.statement(dialect),
                         search.oversizedStatement(cost.longColumns, largest, dialect), largest, timeLimitMs, stop,
                         fields);
}

Outcome runExpert(OVNDatabaseAccess &connection, OVNExpress::ExpertSearch search, int timeLimitMs,
                  const std::atomic<bool> *stop, std::uint32_t fields)
{
    const OVNFind::Dialect dialect = OVNFind::dialectOf(connection);
    OVNExpertCondition::Cost cost;
    const QString condition = OVNExpress::ExpertSearch::replacedClause(search.clause);
    if (!condition.trimmed().isEmpty()) {
        if (const std::optional<OVNExpertCondition::Refusal> refused =
                OVNExpertCondition::check(condition, &cost, OVNFindLine::widthsOf(dialect))) {
            Outcome outcome;
            outcome.status = Outcome::Status::Refused;
            outcome.message = refused->message;
            return outcome;
        }
    }
    search.readableCategoryIds = readableCategoryIds(connection);
    // What the condition asks of the server grows with the size of the long fields it names: an
    // entry whose fields are too large for it is left out, untested.
    const qint64 largest = OVNExpertCondition::largestFieldBytes(cost);
    return runLeavingOut(connection, search.statement(dialect),
                         search.oversizedStatement(cost.longColumns, largest, dialect), largest, timeLimitMs, stop,
                         fields);
}

QString failureText(const OVNDatabaseAccess &connection)
{
    if (connection.lastErrorServerFull())
        return localized("The catalog server is full: every connection it allows is taken.");
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
