#include "import/OVNCatalogSession.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "platform/Localized.h"

#include <chrono>
#include <thread>

namespace OVNCatalogSession {

QString waitingText() { return QStringLiteral("Waiting for the catalog server..."); }

bool answers(OVNDatabaseAccess &db) { return db.runSQLCommand(QStringLiteral("select 1")); }

bool lost(OVNDatabaseAccess &db, int depthBefore)
{
    if (db.vendor() != OVNDatabaseAccess::Vendor::PostgreSQL)
        return false;
    return db.lastErrorLostConnection() || (depthBefore >= 0 && db.transactionDepth() < depthBefore) || !answers(db);
}

bool waitForServer(OVNDatabaseAccess &db, int seconds, const std::atomic<bool> *cancelled, const Status &status)
{
    const auto isCancelled = [cancelled] { return cancelled && cancelled->load(); };
    if (isCancelled())
        return false;
    if (answers(db))
        return true;
    if (status)
        status(waitingText());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(1, seconds));
    while (std::chrono::steady_clock::now() < deadline) {
        for (int tick = 0; tick < 10; ++tick) {
            if (isCancelled())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (answers(db))
            return true;
    }
    return false;
}

QString makeCategory(OVNDatabaseAccess &db, const QString &name, const QString &kind, const QString &parentId,
                     int seconds, const std::atomic<bool> *cancelled, const Status &status, QString *error)
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
            const int depth = db.transactionDepth();
            OVNDatabaseTransaction transaction(db);
            if (transaction.isActive() || !lost(db, depth)) {
                made = db.addCategoryListEntryWithMID(mid, name, kind);
                const bool ok = !made.isEmpty()
                                && (parentId.isEmpty() || db.setCategoryListEntrySuperMID(made, parentId));
                if (ok) {
                    commitSent = true;
                    if (!transaction.isActive() || transaction.commit())
                        return made;
                } else {
                    transaction.rollback();
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
        if (commitSent) {
            const quint64 failures = db.failureCount();
            const std::optional<CategoryNode> found = db.getCategoryForMID(made);
            if (found && db.failureCount() == failures)
                return made;
        }
    }
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
