// Searches whose condition the user typed: one read-only SELECT over the media tables with a time
// limit and a stop, on either vendor.

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNResultRow.h"
#include "platform/Localized.h"
#include "platform/PostgresConnection.h"

#include <sqlite3.h>

#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;
using Status = OVNDatabaseAccess::ReadOnlySearch::Status;

constexpr int mediaColumnCount = 26;
// Virtual-machine steps between two looks at the clock and the stop request: a few microseconds.
constexpr int progressSteps = 2000;
constexpr const char *queryCanceledState = "57014";
constexpr const char *readOnlyTransactionState = "25006";

// What a search may touch on SQLite. Reading any other table (the users and groups, SQLite's own)
// is refused, as is every function beyond plain text, number and date work: no blobs made of
// nothing, no printf of a billion characters, no extension loading.
constexpr const char *mediaTables[] = {"strvfile", "strvexif", "strvpurchased", "strvsold", "strvset", "strvcategory"};
constexpr const char *searchFunctions[] = {
    "upper", "lower", "like",  "glob",     "substr",   "substring", "length",   "trim",   "ltrim", "rtrim",
    "instr", "abs",   "round", "coalesce", "ifnull",   "nullif",    "min",      "max",    "count", "sum",
    "avg",   "total", "date",  "time",     "datetime", "julianday", "strftime", "typeof", "cast"};

struct SqliteGuard {
    Clock::time_point deadline;
    const std::atomic<bool> *stop = nullptr;
    const std::atomic<bool> *callerStop = nullptr;
    bool timedOut = false;
    QString denied; // what the authorizer refused, for the message
};

bool inList(const char *name, const auto &list)
{
    if (!name)
        return false;
    for (const char *entry : list) {
        if (sqlite3_stricmp(name, entry) == 0)
            return true;
    }
    return false;
}

int searchAuthorizer(void *data, int action, const char *first, const char *second, const char *, const char *)
{
    auto *guard = static_cast<SqliteGuard *>(data);
    switch (action) {
    case SQLITE_SELECT:
        return SQLITE_OK;
    case SQLITE_READ:
        if (inList(first, mediaTables))
            return SQLITE_OK;
        guard->denied =
            localized("The search may read only the media tables, not \"%1\".").arg(QString::fromUtf8(first));
        return SQLITE_DENY;
    case SQLITE_FUNCTION:
        if (inList(second, searchFunctions))
            return SQLITE_OK;
        guard->denied = localized("The search may not use the function \"%1\".").arg(QString::fromUtf8(second));
        return SQLITE_DENY;
    default:
        guard->denied = localized("The search may only read entries.");
        return SQLITE_DENY;
    }
}

int searchProgress(void *data)
{
    auto *guard = static_cast<SqliteGuard *>(data);
    if (guard->stop->load(std::memory_order_relaxed)
        || (guard->callerStop && guard->callerStop->load(std::memory_order_relaxed)))
        return 1;
    if (Clock::now() >= guard->deadline) {
        guard->timedOut = true;
        return 1;
    }
    return 0;
}

// What the user reads when the catalog could not run the search; the catalog's own text goes to
// the log, since it may quote the statement and the catalog's inner names.
QString failedMessage(const QString &detail)
{
    qWarning("Search failed: %s", qUtf8Printable(detail));
    return localized("The search could not run.");
}

QString stoppedMessage() { return localized("The search was stopped."); }

QString timedOutMessage(int timeLimitMs)
{
    return localized("The search took longer than %1 seconds and was stopped.")
        .arg(QString::number(timeLimitMs / 1000.0, 'g', 3));
}

} // namespace

void OVNDatabaseAccess::stopReadOnlySearch()
{
    m_searchStop.store(true);
    // The session pointer is not taken under the connection's lock, which the search holds; it
    // lives as long as this object, and only a reconnect on the searching thread replaces the
    // session it points to.
    if (m_vendor == Vendor::PostgreSQL && m_pgcon)
        m_pgcon->cancelRunningStatement();
}

OVNDatabaseAccess::ReadOnlySearch OVNDatabaseAccess::searchMediaListReadOnly(const QString &sql, int timeLimitMs,
                                                                             const std::atomic<bool> *stop,
                                                                             std::uint32_t fields)
{
    ReadOnlySearch search;
    std::lock_guard lock(m_mutex);
    m_searchStop.store(false);
    if (!isDBConnectionActive()) {
        search.message = localized("The catalog database is not open.");
        return search;
    }
    if (m_transactionDepth > 0) {
        // Inside a transaction a read-only one cannot begin, and a rollback would undo the caller's work.
        search.message = localized("A search cannot run inside a transaction.");
        return search;
    }
    const int limitMs = std::max(1, timeLimitMs);
    const auto stopRequested = [this, stop] { return m_searchStop.load() || (stop && stop->load()); };
    const auto onRow = [&search, fields](const OVNResultRow &row) {
        if (row.columnCount() < mediaColumnCount)
            return false;
        search.records.append(mediaRecordFromRow(row, fields));
        return true;
    };

    if (m_vendor == Vendor::Integrated) {
        sqlite3 *db = m_sqlitecon.get();
        SqliteGuard guard{Clock::now() + std::chrono::milliseconds(limitMs), &m_searchStop, stop, false, {}};
        sqlite3_set_authorizer(db, searchAuthorizer, &guard);
        sqlite3_progress_handler(db, progressSteps, searchProgress, &guard);
        m_readOnlyStatementsOnly = true;
        m_refusedWritingStatement = false;
        const StatementResult result = executeSqlite(sql, {}, onRow);
        m_readOnlyStatementsOnly = false;
        sqlite3_progress_handler(db, 0, nullptr, nullptr);
        sqlite3_set_authorizer(db, nullptr, nullptr);
        if (result.ok) {
            search.status = Status::Found;
        } else if (!guard.denied.isEmpty() || m_refusedWritingStatement) {
            search.status = Status::Refused;
            search.message = guard.denied.isEmpty() ? m_lastErrorMessage : guard.denied;
        } else if (guard.timedOut) {
            search.status = Status::TimedOut;
            search.message = timedOutMessage(limitMs);
        } else if (stopRequested()) {
            search.status = Status::Stopped;
            search.message = stoppedMessage();
        } else {
            search.message = failedMessage(m_lastErrorMessage);
        }
    } else {
        // A cancel request reaches the server process on its own time: one meant for an earlier
        // search can end this one. A statement ended that way, early and without a stop request
        // of its own, runs again (a few times at most) within what is left of the limit.
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        for (int attempt = 0; attempt < 4; ++attempt) {
            search = ReadOnlySearch();
            const auto leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (stopRequested()) {
                search.status = Status::Stopped;
                search.message = stoppedMessage();
                break;
            }
            if (leftMs <= 0) {
                search.status = Status::TimedOut;
                search.message = timedOutMessage(limitMs);
                break;
            }
            // A plain BEGIN outside the transaction bookkeeping: whatever happens it is rolled back here.
            const PostgresResult begun = m_pgcon->execute(QStringLiteral("BEGIN READ ONLY"));
            const PostgresResult limited =
                begun.ok() ? m_pgcon->execute(QStringLiteral("SET LOCAL statement_timeout = %1").arg(leftMs))
                           : PostgresResult();
            StatementResult result;
            m_lastSqlState.clear();
            if (begun.ok() && limited.ok() && !stopRequested())
                result = executePostgres(sql, {}, onRow, RowDelivery::WholeResult);
            else if (!begun.ok() || !limited.ok())
                m_lastSqlState = begun.ok() ? limited.sqlState() : begun.sqlState();
            if (m_pgcon->transactionState() != PostgresConnection::TransactionState::Idle)
                m_pgcon->execute(QStringLiteral("ROLLBACK"));
            if (m_pgcon->isBroken())
                m_pgcon->reset();
            if (result.ok) {
                search.status = Status::Found;
                break;
            }
            if (stopRequested()) {
                search.status = Status::Stopped;
                search.message = stoppedMessage();
                break;
            }
            if (m_lastSqlState == QLatin1String(queryCanceledState)) {
                if (Clock::now() + std::chrono::milliseconds(20) < deadline)
                    continue; // someone else's cancel
                search.status = Status::TimedOut;
                search.message = timedOutMessage(limitMs);
            } else if (m_lastSqlState == QLatin1String(readOnlyTransactionState)) {
                search.status = Status::Refused;
                search.message = localized("The statement would change the catalog.");
            } else {
                search.message = failedMessage(!begun.ok()     ? begun.errorMessage()
                                               : !limited.ok() ? limited.errorMessage()
                                                               : m_lastErrorMessage);
            }
            break;
        }
    }
    if (search.status != Status::Found)
        search.records.clear();
    return search;
}
