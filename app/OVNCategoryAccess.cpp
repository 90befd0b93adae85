#include "app/OVNCategoryAccess.h"

#include "app/OVNPrivilegeLevel.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "platform/Localized.h"

#include <QHash>

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
                      "list to see the catalog as it is now.")};
}

} // namespace

std::optional<Refusal> refusalNow(OVNDatabaseAccess &db, const QString &categoryMid, const QString &requested)
{
    if (categoryMid.isEmpty())
        return std::nullopt;
    const OVNDatabaseAccess::CategoryAccess access = db.categoryAccessNow(categoryMid);
    switch (access.status) {
    case OVNDatabaseAccess::CategoryAccess::Status::Found:
        if (OVNPrivilegeLevel::isGranted(requested, access.level))
            return std::nullopt;
        return Refusal{Refusal::Reason::Privileges, localized("Authorization Failed"),
                       OVNPrivilegeLevel::refusalMessage(requested, access.level)};
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
                may = access.status == OVNDatabaseAccess::CategoryAccess::Status::Found
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

} // namespace OVNCategoryAccess
