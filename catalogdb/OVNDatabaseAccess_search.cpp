// Searches whose condition the user typed: one read-only SELECT over the media tables with a time
// limit and a stop, on either vendor.

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNResultRow.h"
#include "platform/Localized.h"
#include "platform/PostgresConnection.h"

#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// ---- like, glob and instr with a clock ----
// SQLite looks at the progress handler between the steps of its machine, and one step may be a
// single LIKE over a long text: "%aaaa...b%" against a million characters runs for seconds
// without a step. For a search these three functions are replaced by ones that give the same
// answers and look at the clock and the stop requests as they go.

// Steps of a match between two looks at the clock.
constexpr int matchSteps = 1 << 14;

// The guard of the search running now, through the connection's slot the functions are given
// (null outside a search: the functions then run without a clock, as SQLite's own).
SqliteGuard *guardOf(sqlite3_context *context)
{
    return static_cast<SqliteGuard *>(*static_cast<void **>(sqlite3_user_data(context)));
}

// Whether the search must end now (a stop request or the time limit); sets `timedOut` for the
// latter.
bool mustEnd(SqliteGuard *guard) { return guard && searchProgress(guard) != 0; }

std::u32string decodedUtf8(const unsigned char *text, int bytes)
{
    std::u32string out;
    out.reserve(size_t(bytes));
    for (int i = 0; i < bytes;) {
        const unsigned char c = text[i];
        char32_t code = c;
        int extra = 0;
        if (c >= 0xf0)
            code = c & 0x07, extra = 3;
        else if (c >= 0xe0)
            code = c & 0x0f, extra = 2;
        else if (c >= 0xc0)
            code = c & 0x1f, extra = 1;
        ++i;
        // As SQLite reads UTF-8: continuation bytes as far as they go.
        for (; extra > 0 && i < bytes && (text[i] & 0xc0) == 0x80; --extra, ++i)
            code = (code << 6) | (text[i] & 0x3f);
        out.push_back(code);
    }
    return out;
}

char32_t asciiLower(char32_t c) { return c >= U'A' && c <= U'Z' ? c + 32 : c; }

// One element of a pattern: a literal character, any one character, or a GLOB class.
struct PatternItem {
    enum class Kind { Literal, AnyOne, AnyRun, Class } kind = Kind::Literal;
    char32_t literal = 0;
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;
};

bool matchesItem(const PatternItem &item, char32_t c, bool caseless)
{
    switch (item.kind) {
    case PatternItem::Kind::Literal:
        return caseless ? asciiLower(item.literal) == asciiLower(c) : item.literal == c;
    case PatternItem::Kind::AnyOne:
        return true;
    case PatternItem::Kind::Class: {
        bool in = false;
        for (const auto &[low, high] : item.ranges)
            in = in || (c >= low && c <= high);
        return in != item.negated;
    }
    case PatternItem::Kind::AnyRun:
        break;
    }
    return false;
}

// A LIKE pattern ("%", "_", the escape character before any character makes it literal).
std::vector<PatternItem> likeItems(const std::u32string &pattern, std::optional<char32_t> escape)
{
    std::vector<PatternItem> items;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char32_t c = pattern[i];
        PatternItem item;
        if (escape && c == *escape) {
            if (++i >= pattern.size())
                return {PatternItem{PatternItem::Kind::Class, 0, false, {}}}; // matches nothing, as SQLite
            item.literal = pattern[i];
        } else if (c == U'%') {
            item.kind = PatternItem::Kind::AnyRun;
        } else if (c == U'_') {
            item.kind = PatternItem::Kind::AnyOne;
        } else {
            item.literal = c;
        }
        items.push_back(std::move(item));
    }
    return items;
}

// A GLOB pattern ("*", "?", "[...]" with ranges, "^" negating and "]" first taken literally).
std::optional<std::vector<PatternItem>> globItems(const std::u32string &pattern)
{
    std::vector<PatternItem> items;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char32_t c = pattern[i];
        PatternItem item;
        if (c == U'*') {
            item.kind = PatternItem::Kind::AnyRun;
        } else if (c == U'?') {
            item.kind = PatternItem::Kind::AnyOne;
        } else if (c == U'[') {
            item.kind = PatternItem::Kind::Class;
            size_t j = i + 1;
            if (j < pattern.size() && pattern[j] == U'^')
                item.negated = true, ++j;
            bool first = true;
            for (; j < pattern.size() && (first || pattern[j] != U']'); ++j, first = false) {
                if (j + 2 < pattern.size() && pattern[j + 1] == U'-' && pattern[j + 2] != U']') {
                    item.ranges.emplace_back(pattern[j], pattern[j + 2]);
                    j += 2;
                } else {
                    item.ranges.emplace_back(pattern[j], pattern[j]);
                }
            }
            if (j >= pattern.size())
                return std::nullopt; // an unclosed class matches nothing
            i = j;
        } else {
            item.literal = c;
        }
        items.push_back(std::move(item));
    }
    return items;
}

// Whether `text` matches `items` as a whole: the backtracking to the last run wildcard that LIKE
// and GLOB allow, at most length × pattern steps, with a look at the clock every matchSteps. Null
// when the search must end.
std::optional<bool> matches(const std::vector<PatternItem> &items, const std::u32string &text, bool caseless,
                            SqliteGuard *guard)
{
    size_t t = 0, p = 0;
    std::optional<size_t> runAt;
    size_t runText = 0;
    int steps = 0;
    while (t < text.size()) {
        if (++steps == matchSteps) {
            steps = 0;
            if (mustEnd(guard))
                return std::nullopt;
        }
        if (p < items.size() && items[p].kind == PatternItem::Kind::AnyRun) {
            runAt = p++;
            runText = t;
        } else if (p < items.size() && matchesItem(items[p], text[t], caseless)) {
            ++p, ++t;
        } else if (runAt) {
            p = *runAt + 1;
            t = ++runText;
        } else {
            return false;
        }
    }
    while (p < items.size() && items[p].kind == PatternItem::Kind::AnyRun)
        ++p;
    return p == items.size();
}

std::u32string valueText(sqlite3_value *value)
{
    const unsigned char *text = sqlite3_value_text(value);
    return text ? decodedUtf8(text, sqlite3_value_bytes(value)) : std::u32string();
}

void endSearch(sqlite3_context *context, const SqliteGuard *guard)
{
    sqlite3_result_error(context, guard && guard->timedOut ? "the search took too long" : "the search was stopped", -1);
}

// like(PATTERN, TEXT [, ESCAPE]), as "TEXT like PATTERN [escape ESCAPE]" calls it.
void searchLike(sqlite3_context *context, int count, sqlite3_value **values)
{
    SqliteGuard *guard = guardOf(context);
    for (int i = 0; i < count; ++i) {
        if (sqlite3_value_type(values[i]) == SQLITE_NULL)
            return; // null
    }
    if (sqlite3_value_bytes(values[0])
        > sqlite3_limit(sqlite3_context_db_handle(context), SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1)) {
        sqlite3_result_error(context, "LIKE or GLOB pattern too complex", -1);
        return;
    }
    std::optional<char32_t> escape;
    if (count == 3) {
        const std::u32string given = valueText(values[2]);
        if (given.size() != 1) {
            sqlite3_result_error(context, "ESCAPE expression must be a single character", -1);
            return;
        }
        escape = given.front();
    }
    const std::optional<bool> found =
        matches(likeItems(valueText(values[0]), escape), valueText(values[1]), true, guard);
    if (!found)
        return endSearch(context, guard);
    sqlite3_result_int(context, *found ? 1 : 0);
}

// glob(PATTERN, TEXT), as "TEXT glob PATTERN" calls it.
void searchGlob(sqlite3_context *context, int, sqlite3_value **values)
{
    SqliteGuard *guard = guardOf(context);
    if (sqlite3_value_type(values[0]) == SQLITE_NULL || sqlite3_value_type(values[1]) == SQLITE_NULL)
        return;
    if (sqlite3_value_bytes(values[0])
        > sqlite3_limit(sqlite3_context_db_handle(context), SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1)) {
        sqlite3_result_error(context, "LIKE or GLOB pattern too complex", -1);
        return;
    }
    const std::optional<std::vector<PatternItem>> items = globItems(valueText(values[0]));
    if (!items) {
        sqlite3_result_int(context, 0);
        return;
    }
    const std::optional<bool> found = matches(*items, valueText(values[1]), false, guard);
    if (!found)
        return endSearch(context, guard);
    sqlite3_result_int(context, *found ? 1 : 0);
}

// instr(TEXT, PART): the position of PART's first occurrence in characters (in bytes when both are
// blobs), 1 for the first, 0 for none.
void searchInstr(sqlite3_context *context, int, sqlite3_value **values)
{
    SqliteGuard *guard = guardOf(context);
    if (sqlite3_value_type(values[0]) == SQLITE_NULL || sqlite3_value_type(values[1]) == SQLITE_NULL)
        return;
    const bool bytes = sqlite3_value_type(values[0]) == SQLITE_BLOB && sqlite3_value_type(values[1]) == SQLITE_BLOB;
    const auto *text =
        static_cast<const unsigned char *>(bytes ? sqlite3_value_blob(values[0]) : sqlite3_value_text(values[0]));
    const int textBytes = sqlite3_value_bytes(values[0]);
    const auto *part =
        static_cast<const unsigned char *>(bytes ? sqlite3_value_blob(values[1]) : sqlite3_value_text(values[1]));
    const int partBytes = sqlite3_value_bytes(values[1]);
    if (partBytes == 0) {
        sqlite3_result_int(context, 1);
        return;
    }
    qint64 position = 1;
    int work = 0;
    for (int at = 0; text && part && at + partBytes <= textBytes; ++at) {
        // A text's position counts characters: a continuation byte starts none, and no valid
        // part starts there.
        if (!bytes && (text[at] & 0xc0) == 0x80)
            continue;
        work += partBytes;
        if (work >= matchSteps) {
            work = 0;
            if (mustEnd(guard))
                return endSearch(context, guard);
        }
        if (std::memcmp(text + at, part, size_t(partBytes)) == 0) {
            sqlite3_result_int64(context, position);
            return;
        }
        ++position;
    }
    sqlite3_result_int(context, 0);
}

// Puts the three in place on `db` for a search (`slot` holds its guard) or takes them away after it
// (null), which makes SQLite's own ones count again. The slot belongs to the connection: should
// taking them away fail (SQLite refuses while another statement of the connection is active),
// they stay with an empty slot and run without a clock, never with a guard that is gone.
void useClockedFunctions(sqlite3 *db, void **slot)
{
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "like", 2, flags, slot, slot ? searchLike : nullptr, nullptr, nullptr);
    sqlite3_create_function(db, "like", 3, flags, slot, slot ? searchLike : nullptr, nullptr, nullptr);
    sqlite3_create_function(db, "glob", 2, flags, slot, slot ? searchGlob : nullptr, nullptr, nullptr);
    sqlite3_create_function(db, "instr", 2, flags, slot, slot ? searchInstr : nullptr, nullptr, nullptr);
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
        m_searchGuard = &guard;
        useClockedFunctions(db, &m_searchGuard);
        m_readOnlyStatementsOnly = true;
        m_refusedWritingStatement = false;
        const StatementResult result = executeSqlite(sql, {}, onRow);
        m_readOnlyStatementsOnly = false;
        m_searchGuard = nullptr;
        useClockedFunctions(db, nullptr);
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
