// The SQLite branch of the connection: opening the file, the statement cache and the execution of
// one statement.

#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNResultRow.h"
#include "platform/Localized.h"
#include "platform/PostgresConnection.h"

#include <QFileInfo>

#include <sqlite3.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// How long a statement waits for the other writers of the catalog file before it fails with
// "database is locked". Each import batch holds the write lock for up to half a second and other
// programs' edits for less, but SQLite's waiting is not first come, first served: with several
// programs writing at once one writer may be passed over a good number of times. Long enough for
// that, short enough that the user hears about a catalog that another program keeps locked.
constexpr int busyTimeoutMsecs = 20000;
// The layer's own statements with parameters are few and fixed; callers' literal SQL is not kept.
constexpr int statementCacheLimit = 64;
// No memory map of the file: every mapped page read stays in the process's resident size, and a
// fault in a mapped file reads the kernel's whole read-ahead window around the page. Mapped, a cold
// start on a 100,000-entry catalog read 148 MB to show its first collection (0.30 s; unmapped 40 MB,
// 0.20 s), and listing 100,000 entries peaked at 550 MiB (unmapped 146 MiB, a fifth slower). A
// page cache of 8 MB (four times the default) keeps the indexes between listings.
constexpr const char *connectionSettings = "pragma cache_size=-8192";

struct StatementFinalizer {
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

QString sqliteMessage(sqlite3 *db) { return QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory"); }

// Reads the current row of a stepped statement. Each column remembers the last few texts it gave
// and hands out the same shared string while a value repeats: listings repeat the category, the
// volume, the cataloguer, ratings and flags on row after row, and need not allocate for them.
class SqliteResultRow final : public OVNResultRow
{
public:
    explicit SqliteResultRow(sqlite3_stmt *statement)
        : m_statement(statement),
          m_columns(sqlite3_column_count(statement)),
          m_recent(size_t(m_columns))
    {}

    int columnCount() const override { return m_columns; }

    QString columnName(int column) const override
    {
        return QString::fromUtf8(sqlite3_column_name(m_statement, column));
    }

    bool isNull(int column) const override { return sqlite3_column_type(m_statement, column) == SQLITE_NULL; }

    QString text(int column) const override
    {
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
        if (!bytes)
            return QString();
        const size_t length = size_t(sqlite3_column_bytes(m_statement, column));
        Recent &recent = m_recent[size_t(column)];
        if (!recent.worthIt())
            return QString::fromUtf8(bytes, qsizetype(length));
        ++recent.lookups;
        for (Recent::Entry &entry : recent.entries) {
            if (entry.bytes.size() == length && std::memcmp(entry.bytes.data(), bytes, length) == 0
                && !entry.text.isNull()) {
                ++recent.hits;
                return entry.text;
            }
        }
        Recent::Entry &entry = recent.entries[recent.next];
        recent.next = (recent.next + 1) % recent.entries.size();
        entry.bytes.assign(bytes, length);
        entry.text = QString::fromUtf8(bytes, qsizetype(length));
        return entry.text;
    }

    QByteArray data(int column) const override
    {
        const void *bytes = sqlite3_column_blob(m_statement, column);
        const int length = sqlite3_column_bytes(m_statement, column);
        return bytes && length > 0 ? QByteArray(static_cast<const char *>(bytes), length) : QByteArray();
    }

    QVariant value(int column) const override
    {
        switch (sqlite3_column_type(m_statement, column)) {
        case SQLITE_NULL:
            return QVariant();
        case SQLITE_BLOB:
            return data(column);
        default:
            return text(column);
        }
    }

private:
    sqlite3_stmt *m_statement;
    int m_columns;
    struct Recent {
        struct Entry {
            std::string bytes; // keeps its capacity, so remembering a value seldom allocates
            QString text;
        };
        std::array<Entry, 3> entries;
        size_t next = 0;
        // Columns whose values seldom repeat (ids, paths) stop being remembered after a trial, so
        // that they pay for one copy of their text and nothing more.
        int lookups = 0;
        int hits = 0;
        bool worthIt() const { return lookups < 64 || hits * 4 >= lookups; }
    };
    mutable std::vector<Recent> m_recent;
};

// SQLite maps a write that found no room to SQLITE_FULL; an I/O error may still carry ENOSPC.
bool isDiskFull(sqlite3 *db)
{
    return (sqlite3_extended_errcode(db) & 0xff) == SQLITE_FULL || sqlite3_system_errno(db) == ENOSPC;
}

bool onlyBlanksAndSemicolons(const char *tail)
{
    for (; tail && *tail; ++tail) {
        const char c = *tail;
        if (c != ';' && c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v')
            return false;
    }
    return true;
}

} // namespace

class OVNDatabaseAccess::StatementCache
{
public:
    struct Entry {
        StatementPtr statement;
        bool busy = false;
    };
    // Node-based, so that an entry stays where it is while a nested call adds others.
    std::unordered_map<QString, Entry> entries;
};

// Made and destroyed here, where the statement cache (and the PostgreSQL session) are complete types.
OVNDatabaseAccess::OVNDatabaseAccess() = default;

OVNDatabaseAccess::~OVNDatabaseAccess() { closeDBConnection(); }

void OVNDatabaseAccess::SqliteCloser::operator()(sqlite3 *db) const { sqlite3_close_v2(db); }

bool OVNDatabaseAccess::openSqlite()
{
    closeSqlite();
    m_transactionDepth = 0;
    if (m_dbDatabase.isEmpty()) {
        // SQLite would open a private temporary file that vanishes with the connection.
        setLastError(localized("No catalog file is set."));
        return false;
    }
    if (!m_createsMissingFile && !QFileInfo::exists(m_dbDatabase)) {
        setLastError(localized("The catalog file \"%1\" does not exist.").arg(m_dbDatabase));
        return false;
    }
    sqlite3 *db = nullptr;
    // The connection's own mutex guards every use of the handle and its statements, so SQLite's
    // per-call locking would only be paid twice. A file that must be there already is opened
    // without SQLITE_OPEN_CREATE, so that one removed meanwhile is not made anew either.
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (m_createsMissingFile ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(m_dbDatabase.toUtf8().constData(), &db, flags, nullptr);
    std::unique_ptr<sqlite3, SqliteCloser> handle(db);
    if (rc != SQLITE_OK) {
        setLastError(localized("The catalog file \"%1\" cannot be opened: %2").arg(m_dbDatabase, sqliteMessage(db)));
        return false;
    }
    sqlite3_busy_timeout(db, busyTimeoutMsecs);
    sqlite3_extended_result_codes(db, 1);
    // SQLite reads the file only at the first statement; a file that is not a database must fail
    // here, so that the connection counts as inactive.
    char *error = nullptr;
    if (sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, &error) != SQLITE_OK) {
        setLastError(localized("The catalog file \"%1\" cannot be opened: %2")
                         .arg(m_dbDatabase, QString::fromUtf8(error ? error : sqlite3_errmsg(db))));
        sqlite3_free(error);
        return false;
    }
    // Settings that fail (a SQLite built without memory mapping) leave the defaults.
    sqlite3_exec(db, connectionSettings, nullptr, nullptr, nullptr);
    m_sqlitecon = std::move(handle);
    m_statements = std::make_unique<StatementCache>();
    return true;
}

void OVNDatabaseAccess::closeSqlite()
{
    // Statements first: the handle closes only when none is left.
    m_statements.reset();
    m_sqlitecon.reset();
}

OVNDatabaseAccess::StatementResult OVNDatabaseAccess::executeSqlite(const QString &sql, const QVariantList &parameters,
                                                                    const RowHandler &onRow)
{
    sqlite3 *db = m_sqlitecon.get();
    const QByteArray utf8 = sql.toUtf8();

    // The layer's own statements carry parameters and come back often: keep them prepared.
    StatementPtr ownStatement;
    sqlite3_stmt *statement = nullptr;
    StatementCache::Entry *cached = nullptr;
    const bool cacheable = !parameters.isEmpty();
    if (cacheable) {
        auto found = m_statements->entries.find(sql);
        if (found != m_statements->entries.end() && !found->second.busy)
            cached = &found->second;
    }
    if (cached) {
        statement = cached->statement.get();
    } else {
        const char *tail = nullptr;
        const int rc = sqlite3_prepare_v3(db, utf8.constData(), int(utf8.size()),
                                          cacheable ? SQLITE_PREPARE_PERSISTENT : 0, &statement, &tail);
        ownStatement.reset(statement);
        if (rc != SQLITE_OK) {
            setLastError(sqliteMessage(db));
            return {};
        }
        if (!statement) {
            setLastError(localized("The statement is empty."));
            return {};
        }
        if (!onlyBlanksAndSemicolons(tail)) {
            setLastError(localized("Only one statement can be run at a time."));
            return {};
        }
        if (cacheable && m_statements->entries.size() < statementCacheLimit && m_statements->entries.count(sql) == 0) {
            StatementCache::Entry &entry = m_statements->entries[sql];
            entry.statement = std::move(ownStatement);
            cached = &entry;
        }
    }

    // A search typed in part by the user may only read (its authorizer already keeps it to reads;
    // this holds whatever the authorizer lets through).
    if (m_readOnlyStatementsOnly && !sqlite3_stmt_readonly(statement)) {
        m_refusedWritingStatement = true;
        setLastError(localized("The statement would change the catalog."));
        return {};
    }

    // Text parameters are converted once and stay alive until the statement is reset.
    std::vector<QByteArray> texts;
    texts.reserve(size_t(parameters.size()));
    struct Resetter {
        sqlite3_stmt *statement;
        StatementCache::Entry *entry;
        ~Resetter()
        {
            sqlite3_reset(statement);
            sqlite3_clear_bindings(statement);
            if (entry)
                entry->busy = false;
        }
    } resetter{statement, cached};
    if (cached)
        cached->busy = true;

    const int parameterCount = sqlite3_bind_parameter_count(statement);
    if (parameters.size() > parameterCount) {
        setLastError(localized("The statement has fewer placeholders than values."));
        return {};
    }
    for (int i = 0; i < parameters.size(); ++i) {
        const QByteArray name = '$' + QByteArray::number(i + 1);
        int index = sqlite3_bind_parameter_index(statement, name.constData());
        if (index == 0)
            index = i + 1; // plain "?" placeholders
        const QVariant &value = parameters.at(i);
        int rc;
        switch (value.typeId()) {
        case QMetaType::UnknownType:
        case QMetaType::Nullptr:
            rc = sqlite3_bind_null(statement, index);
            break;
        case QMetaType::QByteArray: {
            const auto *bytes = static_cast<const QByteArray *>(value.constData());
            rc = bytes->isNull() ? sqlite3_bind_null(statement, index)
                                 : sqlite3_bind_blob64(statement, index, bytes->constData(),
                                                       sqlite3_uint64(bytes->size()), SQLITE_STATIC);
            break;
        }
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
            rc = sqlite3_bind_int64(statement, index, value.toLongLong());
            break;
        case QMetaType::ULong:
        case QMetaType::ULongLong:
            rc = sqlite3_bind_int64(statement, index, sqlite3_int64(value.toULongLong()));
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(statement, index, value.toDouble());
            break;
        default:
            texts.push_back(OVNDBHelper::storableText(value.toString()).toUtf8());
            rc = sqlite3_bind_text64(statement, index, texts.back().constData(), sqlite3_uint64(texts.back().size()),
                                     SQLITE_STATIC, SQLITE_UTF8);
            break;
        }
        if (rc != SQLITE_OK) {
            setLastError(sqliteMessage(db));
            return {};
        }
    }

    const sqlite3_int64 changesBefore = sqlite3_total_changes64(db);
    SqliteResultRow row(statement);
    for (;;) {
        const int rc = sqlite3_step(statement);
        if (rc == SQLITE_ROW) {
            if (!onRow(row))
                break;
            continue;
        }
        if (rc == SQLITE_DONE)
            break;
        setLastError(sqliteMessage(db));
        m_lastErrorDiskFull = isDiskFull(db);
        // After an I/O error (a full disk) SQLite may have rolled the whole transaction back:
        // what follows must not run on its own as if it were still inside it.
        if (m_transactionDepth > 0 && sqlite3_get_autocommit(db))
            markAborted(1);
        return {};
    }
    return {true, qint64(sqlite3_total_changes64(db) - changesBefore)};
}
