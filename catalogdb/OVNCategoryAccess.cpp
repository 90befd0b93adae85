#include "catalogdb/OVNCategoryAccess.h"

#include "catalogdb/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/CatalogNames.h"
#include "platform/Localized.h"

#include <QHash>
#include <QSet>

namespace OVNCategoryAccess {

QString unreachableTitle() { return localized("The catalog server cannot be reached: the change was not saved."); }

namespace {

Refusal unreachable()
{
    return {Refusal::Reason::Unreachable, unreachableTitle(),
            localized("Nothing was changed in the catalog. Please check that the catalog server is running and "
                      "that this computer can reach it, then try again.")};
}

Refusal missing()
{
    return {Refusal::Reason::Missing, localized("The category no longer exists."),
            localized("Another user has deleted it from the catalog; the change was not saved. Reload the category "
                      "list to see the catalog as it is now."),
            localized("Another user has deleted the category from the catalog.")};
}

Refusal entryMissing()
{
    return {Refusal::Reason::Missing, localized("The entry no longer exists."),
            localized("Another user has deleted it, or the category that held it, from the catalog; the change was "
                      "not saved. Reload the category list to see the catalog as it is now.")};
}

Refusal excluded(OVNDatabaseAccess &db)
{
    const QString reason = loginRefusalText(db, db.boundLogin());
    return {Refusal::Reason::Excluded, localized("You can no longer use this catalog"),
            reason + QStringLiteral("\n\n") + localized("Nothing was changed in the catalog."), reason};
}

bool hasNoGroup(const OVNDatabaseAccess &db) { return db.useAuthentication() && db.authGroupMids().isEmpty(); }

} // namespace

QString loginRefusalTitle() { return localized("You cannot use this catalog"); }

QString loginRefusalText(OVNDatabaseAccess &db, const QString &login)
{
    const quint64 failures = db.failureCount();
    const bool known = !db.getUserForLogin(login).isEmpty();
    if (db.failureCount() != failures) {
        // The user list could not be read: nobody is let in on a guess.
        if (db.lastFailure() == OVNDatabaseAccess::Failure::Unreachable)
            return localized("The catalog's user list could not be read, so the account “%1” cannot be let in: the "
                             "catalog server cannot be reached.")
                .arg(login);
        // The server's own text, which may quote the statement, goes to the log.
        qWarning("Login: the user list could not be read: %s", qUtf8Printable(db.getLastErrorMessage()));
        return localized("The catalog's user list could not be read, so the account “%1” cannot be let in.").arg(login);
    }
    if (!known)
        return localized("The account “%1” is not a user of this catalog. This catalog lets in only its own users: "
                         "ask its administrator to add a catalog user with the login “%1”.")
            .arg(login);
    return localized("The catalog user “%1” belongs to no group, and only members of a group may use this "
                     "catalog. Ask its administrator to add “%1” to a group.")
        .arg(login);
}

std::optional<Refusal> membershipRefusalNow(OVNDatabaseAccess &db)
{
    switch (db.refreshUserGroups()) {
    case OVNDatabaseAccess::Membership::Member:
        return std::nullopt;
    case OVNDatabaseAccess::Membership::NoGroup:
        return excluded(db);
    case OVNDatabaseAccess::Membership::Failed:
        break;
    }
    return readFailure(db);
}

std::optional<Refusal> entriesRefusalNow(OVNDatabaseAccess &db, const QString &requested, const QStringList &owners)
{
    if (owners.isEmpty())
        return Refusal{Refusal::Reason::Privileges, OVNPrivilegeLevel::refusalTitle(),
                       OVNPrivilegeLevel::refusalMessage(requested, OVNPrivilegeLevel::noAccess())};
    QStringList asked;
    for (const QString &owner : owners) {
        if (asked.contains(owner))
            continue;
        asked.append(owner);
        if (owner.isEmpty()) {
            if (auto refusal = membershipRefusalNow(db))
                return refusal;
            return entryMissing();
        }
        if (auto refusal = refusalNow(db, owner, requested))
            return refusal;
    }
    return std::nullopt;
}

std::optional<EntriesVerdict> entriesNow(OVNDatabaseAccess &db, const QStringList &mids, const QString &requested,
                                         const QString &column,
                                         const std::function<bool(qsizetype, const QString &)> &holds)
{
    using Verdict = EntriesVerdict::Verdict;
    OVNDatabaseAccess::Membership membership = OVNDatabaseAccess::Membership::Failed;
    const std::optional<QHash<QString, OVNDatabaseAccess::EntryAccess>> entries =
        db.entriesAccessNow(mids, holds ? column : QString(), &membership);
    if (!entries)
        return std::nullopt;
    EntriesVerdict answer;
    answer.verdicts.reserve(size_t(mids.size()));
    const bool inNoGroup = membership == OVNDatabaseAccess::Membership::NoGroup || hasNoGroup(db);
    if (inNoGroup)
        answer.excluded = excluded(db);
    for (qsizetype i = 0; i < mids.size(); ++i) {
        const auto entry = entries->constFind(mids.at(i));
        if (entry == entries->cend()) {
            answer.verdicts.push_back(inNoGroup ? Verdict::Excluded : Verdict::Missing);
        } else if (holds && holds(i, entry->value)) {
            answer.verdicts.push_back(Verdict::Stored);
        } else if (inNoGroup) {
            answer.verdicts.push_back(Verdict::Excluded);
        } else if (OVNPrivilegeLevel::isGranted(requested, entry->level)) {
            answer.verdicts.push_back(Verdict::Write);
        } else {
            answer.verdicts.push_back(Verdict::Refused);
            answer.refusedLevel = answer.refusedLevel.isEmpty()
                                      ? entry->level
                                      : OVNPrivilegeLevel::lower(answer.refusedLevel, entry->level);
        }
    }
    return answer;
}

Refusal entryMissingRefusal() { return entryMissing(); }

Refusal privilegeRefusal(const QString &requested, const QString &own)
{
    return {Refusal::Reason::Privileges, localized("Authorization Failed"),
            OVNPrivilegeLevel::refusalMessage(requested, own)};
}

std::optional<Refusal> refusalNow(OVNDatabaseAccess &db, const QString &categoryMid, const QString &requested)
{
    if (categoryMid.isEmpty())
        return membershipRefusalNow(db);
    const OVNDatabaseAccess::CategoryAccess access = db.categoryAccessNow(categoryMid);
    switch (access.status) {
    case OVNDatabaseAccess::CategoryAccess::Status::Found:
        // A user left in no group may use nothing, also where a category names no groups at all.
        if (hasNoGroup(db))
            return excluded(db);
        if (OVNPrivilegeLevel::isGranted(requested, access.level))
            return std::nullopt;
        return privilegeRefusal(requested, access.level);
    case OVNDatabaseAccess::CategoryAccess::Status::Missing:
        return missing();
    case OVNDatabaseAccess::CategoryAccess::Status::Failed:
        break;
    }
    if (db.lastFailure() == OVNDatabaseAccess::Failure::Unreachable)
        return unreachable();
    return readFailure(db);
}

std::optional<MediaList> readableNow(OVNDatabaseAccess &db, MediaList records)
{
    if (!db.useAuthentication())
        return records;
    QHash<QString, bool> readable; // one question per owning category
    bool failed = false;
    records.removeIf([&](const MediaRecordRef &record) {
        if (failed)
            return true;
        const QString owner = record->field(MediaRecord::CategoryId);
        auto known = readable.constFind(owner);
        if (known == readable.constEnd()) {
            bool may = false;
            if (!owner.isEmpty()) {
                const OVNDatabaseAccess::CategoryAccess access = db.categoryAccessNow(owner);
                failed = access.status == OVNDatabaseAccess::CategoryAccess::Status::Failed;
                may = access.status == OVNDatabaseAccess::CategoryAccess::Status::Found && !hasNoGroup(db)
                      && OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readOnly(), access.level);
            }
            known = readable.insert(owner, may);
        }
        return !*known;
    });
    if (failed)
        return std::nullopt;
    return records;
}

Refusal readFailure(const OVNDatabaseAccess &db)
{
    if (db.lastFailure() == OVNDatabaseAccess::Failure::Unreachable)
        return {Refusal::Reason::Unreachable, localized("Your access privileges could not be read."),
                localized("The catalog server cannot be reached, so nothing can be changed for now. Please check "
                          "that it is running and that this computer can reach it, then try again.")};
    return {Refusal::Reason::Failed, localized("Your access privileges could not be read."), db.getLastErrorMessage()};
}

Refusal writeFailure(const OVNDatabaseAccess &db, quint64 failuresBefore, const QString &what)
{
    if (db.failureCount() == failuresBefore)
        return missing();
    switch (db.lastFailure()) {
    case OVNDatabaseAccess::Failure::Unreachable:
        return unreachable();
    case OVNDatabaseAccess::Failure::MissingReference:
        return missing();
    case OVNDatabaseAccess::Failure::None:
    case OVNDatabaseAccess::Failure::Other:
        break;
    }
    return {Refusal::Reason::Failed, what, db.getLastErrorMessage()};
}

namespace {

void appendReadableBelow(OVNDatabaseAccess &db, const QString &mid, QStringList &ids, QSet<QString> &visited, int depth)
{
    if (depth > 64) // a loop in the stored tree ends here
        return;
    for (const CategoryNode &child : db.getCategoryListForMID(mid)) {
        const QString childMid = child.value(CatalogNames::keyMid).toString();
        if (childMid.isEmpty() || visited.contains(childMid))
            continue;
        visited.insert(childMid);
        // An unreadable folder is passed through, never searched itself.
        if (OVNPrivilegeLevel::isGranted(OVNPrivilegeLevel::readOnly(),
                                         child.value(CatalogNames::keyPrivileges).toString()))
            ids << childMid;
        appendReadableBelow(db, childMid, ids, visited, depth + 1);
    }
}

} // namespace

QStringList readableSubtree(OVNDatabaseAccess &db, const QString &mid)
{
    QStringList ids{mid};
    QSet<QString> visited{mid};
    appendReadableBelow(db, mid, ids, visited, 0);
    return ids;
}

} // namespace OVNCategoryAccess
