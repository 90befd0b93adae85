#include "catalogdb/OVNCatalogOpening.h"

#include "catalogdb/OVNDatabaseAccess.h"

#include <chrono>
#include <thread>

namespace OVNCatalogOpening {

QString waitingText() { return QStringLiteral("Waiting for the catalog server..."); }

bool answers(OVNDatabaseAccess &db) { return db.runSQLCommand(QStringLiteral("select 1")); }

bool waitForServer(OVNDatabaseAccess &db, int seconds, const std::atomic<bool> *cancelled, const Status &status)
{
    const auto isCancelled = [cancelled] { return cancelled && cancelled->load(); };
    if (isCancelled())
        return false;
    if (answers(db))
        return true;
    if (status)
        status(waitingText());
    // Asked again soon at first (a session that ended is usually begun again at once), then once a
    // second.
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(std::max(1, seconds));
    auto pause = std::chrono::milliseconds(50);
    while (std::chrono::steady_clock::now() < deadline) {
        for (auto slept = std::chrono::milliseconds(0); slept < pause; slept += std::chrono::milliseconds(50)) {
            if (isCancelled())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (answers(db))
            return true;
        pause = std::min(pause * 2, std::chrono::milliseconds(1000));
    }
    return false;
}

bool failedForLostServer(const OVNDatabaseAccess &db, quint64 failuresBefore)
{
    if (db.vendor() != OVNDatabaseAccess::Vendor::PostgreSQL)
        return false;
    if (!db.isDBConnectionActive())
        return db.lastErrorLostConnection();
    return db.failureCount() != failuresBefore
           && (db.lastFailure() == OVNDatabaseAccess::Failure::Unreachable || db.lastErrorLostConnection());
}

bool run(OVNDatabaseAccess &db, int seconds, const std::function<bool()> &steps, const Status &status,
         const std::atomic<bool> *cancelled)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(1, seconds));
    bool told = false;
    for (;;) {
        const quint64 failures = db.failureCount();
        if (steps())
            return true;
        if (!failedForLostServer(db, failures) || (cancelled && cancelled->load()))
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // A session that ended while the server answers at once is simply begun again.
        if (db.isDBConnectionActive() && answers(db))
            continue;
        if (!told && status) {
            status(waitingText());
            told = true;
        }
        // Once a second, as a running import tries; the steps open the connection again.
        for (int tick = 0; tick < 10; ++tick) {
            if (cancelled && cancelled->load())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

} // namespace OVNCatalogOpening
