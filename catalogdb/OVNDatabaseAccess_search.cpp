// Searches whose condition the user typed: one read-only SELECT over the media tables with a time
// limit and a stop, on either vendor.

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNResultRow.h"
#include "platform/Localized.h"
#include "platform/PostgresConnection.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Status = OVNDatabaseAccess::ReadOnlySearch::Status;

constexpr int mediaColumnCount = 26;
// Virtual-machine steps between two looks at the clock and the stop request: a few microseconds.
constexpr int progressSteps = 2000;
constexpr const char *queryCanceledState = "57014";
// How long past its time limit a server search is waited for before its session is given up.
constexpr std::chrono::milliseconds abandonGrace{1500};
constexpr const char *readOnlyTransactionState = "25006";
// How often the server looks whether the client of a running search is still there: a search whose
// program was killed ends within about this long rather than running on to its time limit.
constexpr int clientCheckIntervalMs = 1000;
// The first server version that looks at its client while a statement runs.
constexpr int clientCheckVersion = 14;

// What a search may touch on SQLite. Reading any other table (the users and groups, SQLite's own)
// is refused, as is every function beyond plain text, number and date work: no blobs made of
// nothing, no printf of a billion characters, no extension loading. Each of these runs in time
// linear in its arguments between two steps of SQLite's machine, where the progress handler looks
// at the clock, or looks at the clock itself (like, glob, instr and the trims with characters,
// replaced below).
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

// ---- like, glob, instr and the trims with a clock ----
// SQLite looks at the progress handler between the steps of its machine, and one step may be a
// single LIKE over a long text: "%aaaa...b%" against a million characters runs for seconds
// without a step, as may a trim of given characters (below). For a search these functions are
// replaced by ones that give the same answers and look at the clock and the stop requests as they
// go. A pattern is compiled once per statement (SQLite keeps it with the constant argument) and
// matched over the text's UTF-8 as it stands, so that the usual search costs what SQLite's own
// functions cost.

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

// The character at `at` of UTF-8 text, read as SQLite reads it (continuation bytes as far as they
// go); `at` moves past it.
char32_t nextCharacter(const unsigned char *text, int bytes, int &at)
{
    const unsigned char c = text[at++];
    if (c < 0xc0)
        return c;
    char32_t code = c >= 0xf0 ? c & 0x07 : c >= 0xe0 ? c & 0x0f : c & 0x1f;
    while (at < bytes && (text[at] & 0xc0) == 0x80)
        code = (code << 6) | (text[at++] & 0x3f);
    return code;
}

char32_t asciiLower(char32_t c) { return c >= U'A' && c <= U'Z' ? c + 32 : c; }

// One element of a pattern: a literal character, any one character, any run, or a GLOB class.
struct PatternItem {
    enum class Kind { Literal, AnyOne, AnyRun, Class } kind = Kind::Literal;
    char32_t literal = 0;
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;
};

// A compiled LIKE or GLOB pattern; `matchesNothing` for one SQLite matches nothing with (an escape
// at its end, a class not closed).
struct Pattern {
    std::vector<PatternItem> items;
    bool caseless = false;
    std::optional<char32_t> escape;
    bool matchesNothing = false;
    // A pattern of literal characters between optional runs ("%word%", as the quick search and the
    // find sheet write them): its characters as UTF-8 (ASCII letters in lower case when caseless),
    // matched by a plain byte search.
    bool literalOnly = false;
    bool leadingRun = false;
    bool trailingRun = false;
    QByteArray literal;
};

// Collapses runs that follow each other (they match what one matches) and notes a pattern of
// literal characters between optional runs.
void finish(Pattern &pattern)
{
    std::vector<PatternItem> &items = pattern.items;
    items.erase(std::unique(items.begin(), items.end(),
                            [](const PatternItem &a, const PatternItem &b) {
                                return a.kind == PatternItem::Kind::AnyRun && b.kind == PatternItem::Kind::AnyRun;
                            }),
                items.end());
    size_t first = 0, last = items.size();
    pattern.leadingRun = first < last && items[first].kind == PatternItem::Kind::AnyRun;
    if (pattern.leadingRun)
        ++first;
    pattern.trailingRun = first < last && items[last - 1].kind == PatternItem::Kind::AnyRun;
    if (pattern.trailingRun)
        --last;
    QString literal;
    for (size_t i = first; i < last; ++i) {
        if (items[i].kind != PatternItem::Kind::Literal)
            return;
        const char32_t c = pattern.caseless ? asciiLower(items[i].literal) : items[i].literal;
        literal += QString::fromUcs4(&c, 1);
    }
    pattern.literal = literal.toUtf8();
    pattern.literalOnly = true;
}

// Whether the bytes at `at` hold the literal, ASCII letters compared in lower case when caseless.
bool literalAt(const Pattern &pattern, const unsigned char *text, int at)
{
    const auto *literal = reinterpret_cast<const unsigned char *>(pattern.literal.constData());
    const int length = int(pattern.literal.size());
    if (!pattern.caseless)
        return std::memcmp(text + at, literal, size_t(length)) == 0;
    for (int i = 0; i < length; ++i) {
        const unsigned char c = text[at + i];
        if ((c >= 'A' && c <= 'Z' ? c + 32 : c) != literal[i])
            return false;
    }
    return true;
}

// The literal-only pattern over the UTF-8 text: equal, a prefix, a suffix or contained. Null when
// the search must end.
std::optional<bool> literalMatches(const Pattern &pattern, const unsigned char *text, int bytes, SqliteGuard *guard)
{
    const int length = int(pattern.literal.size());
    if (length > bytes)
        return false;
    if (!pattern.leadingRun)
        return literalAt(pattern, text, 0) && (pattern.trailingRun || length == bytes);
    if (!pattern.trailingRun)
        return literalAt(pattern, text, bytes - length);
    if (length == 0)
        return true;
    // The places where the literal's first byte stands (in either case for a letter when caseless),
    // found by memchr, are the only ones tried.
    const unsigned char first = static_cast<unsigned char>(pattern.literal.at(0));
    const bool foldFirst = pattern.caseless && first >= 'a' && first <= 'z';
    const unsigned char *end = text + bytes - length + 1; // candidates lie before it
    const auto find = [end](const unsigned char *from, unsigned char c) {
        return from < end ? static_cast<const unsigned char *>(std::memchr(from, c, size_t(end - from))) : nullptr;
    };
    const unsigned char *lower = find(text, first);
    const unsigned char *upper = foldFirst ? find(text, static_cast<unsigned char>(first - 32)) : nullptr;
    int work = 0;
    while (lower || upper) {
        const bool takeLower = lower && (!upper || lower < upper);
        const unsigned char *candidate = takeLower ? lower : upper;
        work += length;
        if (work >= matchSteps) {
            work = 0;
            if (mustEnd(guard))
                return std::nullopt;
        }
        // A match cannot start inside a character: the literal starts with a whole one.
        if (literalAt(pattern, text, int(candidate - text)))
            return true;
        if (takeLower)
            lower = find(candidate + 1, first);
        else
            upper = find(candidate + 1, static_cast<unsigned char>(first - 32));
    }
    return false;
}

bool matchesItem(const PatternItem &item, char32_t c, bool caseless)
{
    switch (item.kind) {
    case PatternItem::Kind::Literal:
        return item.literal == c
               || (caseless && c < 0x80 && item.literal < 0x80 && asciiLower(item.literal) == asciiLower(c));
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

std::u32string decoded(const unsigned char *text, int bytes)
{
    std::u32string out;
    for (int at = 0; at < bytes;)
        out.push_back(nextCharacter(text, bytes, at));
    return out;
}

// A LIKE pattern ("%", "_", the escape character before any character makes it literal).
Pattern likePattern(const std::u32string &text, std::optional<char32_t> escape)
{
    Pattern pattern;
    pattern.caseless = true;
    pattern.escape = escape;
    for (size_t i = 0; i < text.size(); ++i) {
        PatternItem item;
        if (escape && text[i] == *escape) {
            if (++i >= text.size()) {
                pattern.matchesNothing = true;
                return pattern;
            }
            item.literal = text[i];
        } else if (text[i] == U'%') {
            item.kind = PatternItem::Kind::AnyRun;
        } else if (text[i] == U'_') {
            item.kind = PatternItem::Kind::AnyOne;
        } else {
            item.literal = text[i];
        }
        pattern.items.push_back(std::move(item));
    }
    finish(pattern);
    return pattern;
}

// A GLOB pattern ("*", "?", "[...]" with ranges, "^" negating and "]" first taken literally).
Pattern globPattern(const std::u32string &text)
{
    Pattern pattern;
    for (size_t i = 0; i < text.size(); ++i) {
        PatternItem item;
        if (text[i] == U'*') {
            item.kind = PatternItem::Kind::AnyRun;
        } else if (text[i] == U'?') {
            item.kind = PatternItem::Kind::AnyOne;
        } else if (text[i] == U'[') {
            item.kind = PatternItem::Kind::Class;
            size_t j = i + 1;
            if (j < text.size() && text[j] == U'^') {
                item.negated = true;
                ++j;
            }
            for (bool first = true; j < text.size() && (first || text[j] != U']'); ++j, first = false) {
                if (j + 2 < text.size() && text[j + 1] == U'-' && text[j + 2] != U']') {
                    item.ranges.emplace_back(text[j], text[j + 2]);
                    j += 2;
                } else {
                    item.ranges.emplace_back(text[j], text[j]);
                }
            }
            if (j >= text.size()) {
                pattern.matchesNothing = true;
                return pattern;
            }
            i = j;
        } else {
            item.literal = text[i];
        }
        pattern.items.push_back(std::move(item));
    }
    finish(pattern);
    return pattern;
}

// Whether the UTF-8 `text` matches the pattern as a whole: the backtracking to the last run
// wildcard that LIKE and GLOB allow, at most length × pattern steps, with a look at the clock every
// matchSteps. Null when the search must end.
std::optional<bool> matches(const Pattern &pattern, const unsigned char *text, int bytes, SqliteGuard *guard)
{
    if (pattern.matchesNothing)
        return false;
    if (pattern.literalOnly)
        return literalMatches(pattern, text, bytes, guard);
    const std::vector<PatternItem> &items = pattern.items;
    size_t p = 0;
    int t = 0;
    std::optional<size_t> runAt;
    int runText = 0;
    int steps = 0;
    while (t < bytes) {
        if (++steps == matchSteps) {
            steps = 0;
            if (mustEnd(guard))
                return std::nullopt;
        }
        if (p < items.size() && items[p].kind == PatternItem::Kind::AnyRun) {
            runAt = p++;
            runText = t;
            continue;
        }
        if (p < items.size()) {
            int next = t;
            if (matchesItem(items[p], nextCharacter(text, bytes, next), pattern.caseless)) {
                ++p;
                t = next;
                continue;
            }
        }
        if (!runAt)
            return false;
        // The run takes one more character and the rest is tried again after it.
        p = *runAt + 1;
        nextCharacter(text, bytes, runText);
        t = runText;
    }
    while (p < items.size() && items[p].kind == PatternItem::Kind::AnyRun)
        ++p;
    return p == items.size();
}

// The pattern of argument 0, compiled once per statement where it is a constant (SQLite keeps it
// with the argument), else for this call in `local`.
const Pattern *patternOf(sqlite3_context *context, sqlite3_value *text, bool like, std::optional<char32_t> escape,
                         Pattern &local)
{
    auto *kept = static_cast<Pattern *>(sqlite3_get_auxdata(context, 0));
    if (kept && kept->escape == escape)
        return kept;
    const auto *bytes = sqlite3_value_text(text);
    const std::u32string characters = bytes ? decoded(bytes, sqlite3_value_bytes(text)) : std::u32string();
    local = like ? likePattern(characters, escape) : globPattern(characters);
    sqlite3_set_auxdata(context, 0, new Pattern(local), [](void *pattern) { delete static_cast<Pattern *>(pattern); });
    return &local;
}

void endSearch(sqlite3_context *context, const SqliteGuard *guard)
{
    sqlite3_result_error(context, guard && guard->timedOut ? "the search took too long" : "the search was stopped", -1);
}

bool patternTooLong(sqlite3_context *context, sqlite3_value *pattern)
{
    if (sqlite3_value_bytes(pattern)
        <= sqlite3_limit(sqlite3_context_db_handle(context), SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1))
        return false;
    sqlite3_result_error(context, "LIKE or GLOB pattern too complex", -1);
    return true;
}

void matchInto(sqlite3_context *context, const Pattern &pattern, sqlite3_value *value)
{
    SqliteGuard *guard = guardOf(context);
    static const unsigned char empty[1] = {0};
    const unsigned char *text = sqlite3_value_text(value);
    const std::optional<bool> found = text ? matches(pattern, text, sqlite3_value_bytes(value), guard)
                                           : matches(pattern, empty, 0, guard);
    if (!found)
        return endSearch(context, guard);
    sqlite3_result_int(context, *found ? 1 : 0);
}

// like(PATTERN, TEXT [, ESCAPE]), as "TEXT like PATTERN [escape ESCAPE]" calls it.
void searchLike(sqlite3_context *context, int count, sqlite3_value **values)
{
    for (int i = 0; i < count; ++i) {
        if (sqlite3_value_type(values[i]) == SQLITE_NULL)
            return; // null
    }
    if (patternTooLong(context, values[0]))
        return;
    std::optional<char32_t> escape;
    if (count == 3) {
        const auto *given = sqlite3_value_text(values[2]);
        const int bytes = sqlite3_value_bytes(values[2]);
        int at = 0;
        if (given && bytes > 0)
            escape = nextCharacter(given, bytes, at);
        if (!escape || at != bytes) {
            sqlite3_result_error(context, "ESCAPE expression must be a single character", -1);
            return;
        }
    }
    Pattern local;
    matchInto(context, *patternOf(context, values[0], true, escape, local), values[1]);
}

// glob(PATTERN, TEXT), as "TEXT glob PATTERN" calls it.
void searchGlob(sqlite3_context *context, int, sqlite3_value **values)
{
    if (sqlite3_value_type(values[0]) == SQLITE_NULL || sqlite3_value_type(values[1]) == SQLITE_NULL)
        return;
    if (patternTooLong(context, values[0]))
        return;
    Pattern local;
    matchInto(context, *patternOf(context, values[0], false, std::nullopt, local), values[1]);
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
    if (!text || !part) {
        sqlite3_result_int(context, 0);
        return;
    }
    int work = 0;
    int counted = 0;     // bytes whose characters are counted in `position`
    qint64 position = 1; // of the character at `counted`
    for (int at = 0; at + partBytes <= textBytes; ++at) {
        const auto *candidate =
            static_cast<const unsigned char *>(std::memchr(text + at, part[0], size_t(textBytes - partBytes - at + 1)));
        if (!candidate)
            break;
        at = int(candidate - text);
        work += partBytes;
        if (work >= matchSteps) {
            work = 0;
            if (mustEnd(guard))
                return endSearch(context, guard);
        }
        if (std::memcmp(text + at, part, size_t(partBytes)) == 0) {
            // A text's position counts characters: every byte that is no continuation byte.
            for (; counted < at; ++counted)
                position += bytes || (text[counted] & 0xc0) != 0x80 ? 1 : 0;
            sqlite3_result_int64(context, position);
            return;
        }
    }
    sqlite3_result_int(context, 0);
}

// trim, ltrim and rtrim with characters to trim: SQLite's own try each given character at each
// place (the length of the text times the number of characters, a hundred thousand squared in one
// step of its machine). These give the same answers with the characters in a table: at a place the
// first given character whose bytes stand there is taken off, as SQLite does, each given character
// being a lead byte and the continuation bytes after it.
enum TrimSide { TrimLeft = 1, TrimRight = 2 };

void trimWith(sqlite3_context *context, sqlite3_value **values, int sides)
{
    SqliteGuard *guard = guardOf(context);
    if (sqlite3_value_type(values[0]) == SQLITE_NULL)
        return;
    const auto *text = sqlite3_value_text(values[0]);
    const auto *characters = sqlite3_value_text(values[1]);
    if (!text || !characters)
        return;
    int bytes = sqlite3_value_bytes(values[0]);
    // Each given character's bytes, with the place of its first appearance; and the lengths there are.
    std::unordered_map<std::string_view, int> given;
    std::vector<int> lengths;
    int index = 0;
    for (const unsigned char *z = characters; *z; ++index) {
        const unsigned char *start = z;
        if (*z++ >= 0xc0) {
            while ((*z & 0xc0) == 0x80)
                ++z;
        }
        // SQLite keeps a character's length in a byte.
        const int length = int((z - start) & 0xff);
        given.try_emplace(std::string_view(reinterpret_cast<const char *>(start), size_t(length)), index);
        if (std::find(lengths.begin(), lengths.end(), length) == lengths.end())
            lengths.push_back(length);
    }
    int steps = 0;
    // The length of the first given character at `at` (its end when `fromEnd`), 0 for none.
    const auto takenAt = [&](int at, bool fromEnd) {
        int best = -1, taken = 0;
        for (const int length : lengths) {
            if (length == 0 || length > bytes)
                continue;
            const char *from = reinterpret_cast<const char *>(text) + (fromEnd ? at - length : at);
            const auto found = given.find(std::string_view(from, size_t(length)));
            if (found != given.end() && (best < 0 || found->second < best)) {
                best = found->second;
                taken = length;
            }
        }
        return taken;
    };
    if (!given.empty()) {
        if (sides & TrimLeft) {
            while (bytes > 0) {
                if (++steps == matchSteps) {
                    steps = 0;
                    if (mustEnd(guard))
                        return endSearch(context, guard);
                }
                const int taken = takenAt(0, false);
                if (taken == 0)
                    break;
                text += taken;
                bytes -= taken;
            }
        }
        if (sides & TrimRight) {
            while (bytes > 0) {
                if (++steps == matchSteps) {
                    steps = 0;
                    if (mustEnd(guard))
                        return endSearch(context, guard);
                }
                const int taken = takenAt(bytes, true);
                if (taken == 0)
                    break;
                bytes -= taken;
            }
        }
    }
    sqlite3_result_text(context, reinterpret_cast<const char *>(text), bytes, SQLITE_TRANSIENT);
}

void searchTrim(sqlite3_context *context, int, sqlite3_value **values)
{
    trimWith(context, values, TrimLeft | TrimRight);
}
void searchLtrim(sqlite3_context *context, int, sqlite3_value **values) { trimWith(context, values, TrimLeft); }
void searchRtrim(sqlite3_context *context, int, sqlite3_value **values) { trimWith(context, values, TrimRight); }

// Puts the six in place on `db` for a search (`slot` holds its guard) or takes them away after it
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
    sqlite3_create_function(db, "trim", 2, flags, slot, slot ? searchTrim : nullptr, nullptr, nullptr);
    sqlite3_create_function(db, "ltrim", 2, flags, slot, slot ? searchLtrim : nullptr, nullptr, nullptr);
    sqlite3_create_function(db, "rtrim", 2, flags, slot, slot ? searchRtrim : nullptr, nullptr, nullptr);
}

// What the user reads when the catalog could not run the search; the catalog's own text goes to
// the log, since it may quote the statement and the catalog's inner names.
QString failedMessage(const QString &detail)
{
    qWarning("Search failed: %s", qUtf8Printable(detail));
    return localized("The search could not run.");
}

// The server process of a search whose session was dropped (given up past its limit, or stopped)
// was sent a cancel request, and may still be at the statement. The search is over only once that
// process has ended the statement (it is idle, then leaves as it finds its session closed) or has
// left; one still at it after a moment is told to end, and waited for until it has left. Asked
// from `session`, the same login's new session, which sees its own processes.
void awaitStatementEnd(PostgresConnection &session, int pid)
{
    if (pid <= 0)
        return;
    constexpr std::chrono::milliseconds terminateAfter{2000};
    constexpr std::chrono::milliseconds giveUpAfter{30000};
    constexpr std::chrono::milliseconds poll{50};
    const QList<PostgresParameter> process{PostgresParameter::text(QString::number(pid))};
    const Clock::time_point start = Clock::now();
    bool terminated = false;
    for (;;) {
        const PostgresResult found = session.execute(
            QStringLiteral("select coalesce(state, '') from pg_stat_activity where pid = $1::integer"), process);
        if (!found.ok()) {
            qWarning("The server process %d of a search that was given up could not be looked at: %s", pid,
                     qUtf8Printable(found.errorMessage()));
            return;
        }
        if (found.rowCount() == 0)
            return;
        const QByteArrayView state = found.value(0, 0);
        if (!terminated && state != QByteArrayView("active"))
            return; // ended its statement (or another login's process, which this one cannot end)
        const Clock::duration waited = Clock::now() - start;
        if (waited >= giveUpAfter) {
            qWarning("The server process %d of a search that was given up has not ended.", pid);
            return;
        }
        if (!terminated && waited >= terminateAfter) {
            const PostgresResult ended =
                session.execute(QStringLiteral("select pg_terminate_backend($1::integer)"), process);
            terminated = ended.ok();
            if (!terminated) {
                qWarning("The server process %d of a search that was given up could not be ended: %s", pid,
                         qUtf8Printable(ended.errorMessage()));
                return;
            }
        }
        std::this_thread::sleep_for(poll);
    }
}

// The major version the server reported when the session began ("15.4", "9.6.24"); 0 when unknown.
int serverMajorVersion(const PostgresConnection &session)
{
    return session.parameterStatus("server_version").section(QLatin1Char('.'), 0, 0).toInt();
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
    // Whatever limit the caller asks for, the catalog server is held to the ceiling: a search is
    // one member's, the server everyone's.
    const int limitMs = std::clamp(timeLimitMs, 1, searchTimeLimitCeilingMs);
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
            const int endedBefore = m_pgcon->endedBackendPid();
            // A plain BEGIN outside the transaction bookkeeping: whatever happens it is rolled back here.
            const PostgresResult begun = m_pgcon->execute(QStringLiteral("BEGIN READ ONLY"));
            const PostgresResult limited =
                begun.ok() ? m_pgcon->execute(QStringLiteral("SET LOCAL statement_timeout = %1").arg(leftMs))
                           : PostgresResult();
            // A search whose program is gone (killed, its machine off) is ended by the server as
            // soon as it sees the socket closed, not at its limit.
            const PostgresResult watched = m_pgcon->execute(
                limited.ok() && serverMajorVersion(*m_pgcon) >= clientCheckVersion
                    ? QStringLiteral("SET LOCAL client_connection_check_interval = %1").arg(clientCheckIntervalMs)
                    : QStringLiteral("select 1"));
            StatementResult result;
            m_lastSqlState.clear();
            if (begun.ok() && limited.ok() && watched.ok() && !stopRequested()) {
                // The server checks its time limit only between steps of its own; one that runs on
                // (a LIKE over a long text) is left behind, with its session, soon after the limit.
                m_searchAbandonAt = deadline + abandonGrace;
                m_searchStopRequested = stopRequested;
                result = executePostgres(sql, {}, onRow, RowDelivery::WholeResult);
                m_searchAbandonAt.reset();
                m_searchStopRequested = nullptr;
            } else if (!begun.ok() || !limited.ok() || !watched.ok())
                m_lastSqlState = !begun.ok()     ? begun.sqlState()
                                 : !limited.ok() ? limited.sqlState()
                                                 : watched.sqlState();
            if (m_pgcon->transactionState() != PostgresConnection::TransactionState::Idle)
                m_pgcon->execute(QStringLiteral("ROLLBACK"));
            if (m_pgcon->isBroken())
                m_pgcon->reset();
            // A session dropped on the way (given up, here or where the failure was read) leaves
            // its server process behind.
            if (!m_pgcon->isBroken() && m_pgcon->endedBackendPid() != endedBefore)
                awaitStatementEnd(*m_pgcon, m_pgcon->endedBackendPid());
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
                                               : !watched.ok() ? watched.errorMessage()
                                                               : m_lastErrorMessage);
            }
            break;
        }
    }
    if (search.status != Status::Found)
        search.records.clear();
    return search;
}
