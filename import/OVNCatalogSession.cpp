#include "import/OVNCatalogSession.h"

#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "platform/Localized.h"

#include <chrono>
#include <thread>

namespace OVNCatalogSession {

QString waitingText() { return OVNCatalogOpening::waitingText(); }

bool answers(OVNDatabaseAccess &db) { return OVNCatalogOpening::answers(db); }

bool lost(OVNDatabaseAccess &db, int depthBefore)
{
    if (db.vendor() != OVNDatabaseAccess::Vendor::PostgreSQL)
        return false;
    return db.lastErrorLostConnection() || (depthBefore >= 0 && db.transactionDepth() < depthBefore) || !answers(db);
}

bool waitForServer(OVNDatabaseAccess &db, int seconds, const std::atomic<bool> *cancelled, const Status &status)
{
    return OVNCatalogOpening::waitForServer(db, seconds, cancelled, status);
}

namespace {

QString makeOrFind(OVNDatabaseAccess &db, const QString &name, const QString &kind, const QString &parentId,
                   bool findFirst, int seconds, const std::atomic<bool> *cancelled, const Status &status,
                   QString *error, bool *madeHere)
{
    const auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return QString();
    };
    // The id is chosen first, so that a category whose commit lost its answer can be looked up.
    const QString mid = db.createNewMID();
    const auto limit = std::chrono::seconds(std::max(1, seconds));
    std::optional<std::chrono::steady_clock::time_point> troubleSince;
    for (;;) {
        QString made;
        bool commitSent = false;
        {
            // Nothing is looked up or made outside the transaction: one that cannot begin (a
            // read-only catalog, a session lost at its begin) fails with its own words below.
            OVNDatabaseTransaction transaction(db);
            if (transaction.isActive()) {
                // One client at a time finds or makes a category of this name: a second one finds
                // what the first made. A failure of the lock or the look-up makes nothing.
                QString found;
                bool looked = true;
                if (findFirst) {
                    const quint64 failures = db.failureCount();
                    looked = db.lockCategoryMaking();
                    if (looked) {
                        found = db.categoryNamed(name, kind, parentId);
                        looked = db.failureCount() == failures;
                    }
                }
                if (!looked) {
                    transaction.rollback();
                } else if (!found.isEmpty()) {
                    // A look-up whose end went unanswered changed nothing: it is simply made again.
                    if (!transaction.isActive() || transaction.commit()) {
                        if (madeHere)
                            *madeHere = false;
                        return found;
                    }
                } else {
                    made = db.addCategoryListEntryWithMID(mid, name, kind);
                    const bool ok = !made.isEmpty()
                                    && (parentId.isEmpty() || db.setCategoryListEntrySuperMID(made, parentId));
                    if (ok) {
                        commitSent = true;
                        if (!transaction.isActive() || transaction.commit()) {
                            if (madeHere)
                                *madeHere = true;
                            return made;
                        }
                    } else {
                        transaction.rollback();
                    }
                }
            }
        }
        const QString message = db.getLastErrorMessage();
        if (!lost(db))
            return fail(message);
        const auto start = std::chrono::steady_clock::now();
        if (!troubleSince)
            troubleSince = start;
        else if (start - *troubleSince >= limit)
            return fail(localized("The catalog server answered, but it ended the connection again and again for %1 "
                                  "seconds.")
                            .arg(std::max(1, seconds)));
        if (!waitForServer(db, seconds, cancelled, status))
            return fail(cancelled && cancelled->load() ? localized("The import was cancelled.")
                                                       : localized("The catalog server cannot be reached."));
        // Time without a server is no time of sessions that kept ending.
        *troubleSince += std::chrono::steady_clock::now() - start;
        // Once the lost session has left the server its commit is done or undone for good; the
        // category is made again under the same id otherwise, which finds it if it is there.
        if (commitSent && db.waitForEndedSession(seconds)) {
            const quint64 failures = db.failureCount();
            const std::optional<CategoryNode> found = db.getCategoryForMID(made);
            if (found && db.failureCount() == failures) {
                if (madeHere)
                    *madeHere = true;
                return made;
            }
        }
    }
}

} // namespace

QString makeCategory(OVNDatabaseAccess &db, const QString &name, const QString &kind, const QString &parentId,
                     int seconds, const std::atomic<bool> *cancelled, const Status &status, QString *error)
{
    return makeOrFind(db, name, kind, parentId, false, seconds, cancelled, status, error, nullptr);
}

QString findOrMakeCategory(OVNDatabaseAccess &db, const QString &name, const QString &kind, const QString &parentId,
                           int seconds, const std::atomic<bool> *cancelled, const Status &status, QString *error,
                           bool *made)
{
    return makeOrFind(db, name, kind, parentId, true, seconds, cancelled, status, error, made);
}

Removal removeIfEmpty(OVNDatabaseAccess &db, const QString &categoryId, const QString &kind, int seconds,
                      const Status &status)
{
    bool gone = false;
    bool held = false;
    const bool ran = OVNCatalogOpening::retried(
        db,
        [&] {
            gone = false;
            held = false;
            OVNDatabaseTransaction transaction(db);
            // The lock of finding or making a category: an import that looks for this one by its
            // name now finds it before it goes, or not at all.
            if (!transaction.isActive() || !db.lockCategoryMaking())
                return;
            const quint64 failures = db.failureCount();
            const qint64 count = db.getEntryCountForCategory(categoryId, kind);
            if (db.failureCount() != failures)
                return;
            if (count != 0) {
                held = true;
                return;
            }
            // A try after one whose commit's answer was lost finds nothing left to remove.
            if (db.deleteCategoryListEntry(categoryId) && transaction.commit())
                gone = true;
        },
        status, seconds);
    if (!ran)
        return Removal::Failed;
    return gone ? Removal::Removed : held ? Removal::Kept : Removal::Failed;
}

std::optional<OVNCategoryAccess::Refusal> writeRefusal(OVNDatabaseAccess &db, const QString &categoryId)
{
    std::optional<OVNCategoryAccess::Refusal> refusal =
        OVNCategoryAccess::refusalNow(db, categoryId, OVNPrivilegeLevel::readWrite());
    if (refusal && refusal->reason == OVNCategoryAccess::Refusal::Reason::Unreachable)
        return std::nullopt;
    return refusal;
}

QString refusalLine(const OVNCategoryAccess::Refusal &refusal)
{
    return (refusal.title + QStringLiteral(": ") + refusal.text).simplified();
}

} // namespace OVNCatalogSession
