#include "catalogdb/OVNCatalogOpening.h"

#include "catalogdb/OVNDatabaseAccess.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <QRandomGenerator>

namespace OVNCatalogOpening {

namespace {
// Lock-free, so that a signal handler may set it.
std::atomic<bool> stopAll{false};
static_assert(std::atomic<bool>::is_always_lock_free);
} // namespace

void requestStop() { stopAll.store(true); }

bool stopRequested() { return stopAll.load(); }

const std::atomic<bool> *stopFlag() { return &stopAll; }

std::chrono::milliseconds pauseAfter(int tries)
{
    const int base = std::min(1000, 50 << std::clamp(tries, 0, 5));
    const int spread = base / 5;
    return std::chrono::milliseconds(base - spread + int(QRandomGenerator::global()->bounded(2 * spread + 1)));
}

QString waitingText() { return QStringLiteral("Waiting for the catalog server..."); }

bool answers(OVNDatabaseAccess &db) { return db.runSQLCommand(QStringLiteral("select 1")); }

namespace {

// A server that keeps saying it is full is given this long to free a connection: it is there,
// and the user is better told so than kept waiting for it.
constexpr std::chrono::seconds fullServerWait{5};

// Since when the server has said it is full without a break, for as long as it says so.
class FullServerWatch
{
public:
    // Whether the server has been full for longer than the wait allows.
    bool waitedOut(const OVNDatabaseAccess &db)
    {
        if (!db.lastErrorServerFull()) {
            m_full = false;
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!m_full) {
            m_full = true;
            m_since = now;
        }
        return now - m_since >= fullServerWait;
    }

private:
    bool m_full = false;
    std::chrono::steady_clock::time_point m_since{};
};

bool stopped(const std::atomic<bool> *cancelled) { return (cancelled && cancelled->load()) || stopRequested(); }

// Sleeps `pause`, or until `deadline` when that comes first, looking for a cancel or a stop every
// 20 ms. False when one came.
bool pauseUnlessStopped(std::chrono::milliseconds pause, std::chrono::steady_clock::time_point deadline,
                        const std::atomic<bool> *cancelled)
{
    const auto until = std::min(deadline, std::chrono::steady_clock::now() + pause);
    for (;;) {
        if (stopped(cancelled))
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return true;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(20)));
    }
}

} // namespace

bool waitForServer(OVNDatabaseAccess &db, int seconds, const std::atomic<bool> *cancelled, const Status &status)
{
    if (stopped(cancelled))
        return false;
    if (answers(db))
        return true;
    if (status)
        status(waitingText());
    // Asked again soon at first (a session that ended is usually begun again at once), then about
    // once a second.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(1, seconds));
    FullServerWatch full;
    full.waitedOut(db);
    for (int tries = 0; std::chrono::steady_clock::now() < deadline; ++tries) {
        if (!pauseUnlessStopped(pauseAfter(tries), deadline, cancelled))
            return false;
        if (answers(db))
            return true;
        if (full.waitedOut(db))
            return false;
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

bool resume(OVNDatabaseAccess &db, std::chrono::steady_clock::time_point deadline, const Status &status,
            const std::atomic<bool> *cancelled, bool *told)
{
    FullServerWatch full;
    full.waitedOut(db);
    for (int tries = 0;; ++tries) {
        if (stopped(cancelled))
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        const int left = int(std::chrono::ceil<std::chrono::seconds>(deadline - now).count());
        if (!db.isDBConnectionActive() && !db.openDBConnection() && !db.lastErrorLostConnection())
            return false; // refused: no use waiting
        if (full.waitedOut(db))
            return false;
        // A new session that answers, and the old session's process gone: what it committed, if
        // anything, is what the next look sees, and stays so.
        if (db.isDBConnectionActive() && answers(db)) {
            if (db.waitForEndedSession(left))
                return true;
            // Asked through a session that ended too, or still there at the deadline.
        } else if (!*told && status) {
            status(waitingText());
            *told = true;
        }
        // Soon at first (a session that ended is usually begun again at once), then about once a
        // second, as a running import tries.
        if (!pauseUnlessStopped(pauseAfter(tries), deadline, cancelled))
            return false;
    }
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
        // Inside a transaction of the caller's the session took the transaction with it: the
        // caller makes the whole of it again.
        if (!failedForLostServer(db, failures) || stopped(cancelled) || db.transactionDepth() > 0)
            return false;
        if (!resume(db, deadline, status, cancelled, &told))
            return false;
    }
}

bool retried(OVNDatabaseAccess &db, const std::function<void()> &step, const Status &status, int seconds,
             const std::atomic<bool> *cancelled)
{
    return run(
        db, seconds,
        [&] {
            if (!db.isDBConnectionActive() && !db.openDBConnection())
                return false;
            const quint64 failures = db.failureCount();
            step();
            return db.failureCount() == failures;
        },
        status, cancelled);
}

} // namespace OVNCatalogOpening
