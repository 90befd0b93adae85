// The PostgreSQL branch of the connection: opening the session, the execution of one statement
// and what follows a failed one.

#include "catalogdb/OVNDatabaseAccess.h"
#include "catalogdb/OVNCatalogOpening.h"

#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNResultRow.h"
#include "platform/Localized.h"
#include "platform/PostgresConnection.h"

#include <array>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

namespace {

constexpr unsigned int byteaOid = 17;
// The server's SQLSTATE for a write that found no room on its disk.
constexpr const char *diskFullState = "53100";

// Types whose binary form is their UTF-8 text: text, varchar, char(n) and name.
bool isTextType(unsigned int oid) { return oid == 25 || oid == 1043 || oid == 1042 || oid == 19; }

// Reads one row of a result: the whole statement's, or, where rows are read as they arrive, one
// of the one-row results that come with the same columns. Text values of a column repeat often in
// listings (the category, the volume, the cataloguer, flags, and the dates of one import); the
// last few texts each column gave are handed out again while the value's bytes are the same.
class PostgresResultRow final : public OVNResultRow
{
public:
    PostgresResultRow(const PostgresResult &result, bool integerDateTimes)
        : m_result(&result),
          m_integerDateTimes(integerDateTimes),
          m_columns(result.columnCount()),
          m_types(size_t(m_columns)),
          m_recent(size_t(m_columns))
    {
        for (int column = 0; column < m_columns; ++column)
            m_types[size_t(column)] = result.columnType(column);
    }

    void setRow(const PostgresResult &result, int row)
    {
        m_result = &result;
        m_row = row;
    }

    int columnCount() const override { return m_columns; }
    QString columnName(int column) const override { return m_result->columnName(column); }
    bool isNull(int column) const override { return m_result->isNull(m_row, column); }

    QString text(int column) const override
    {
        if (m_result->isNull(m_row, column))
            return QString();
        const QByteArrayView bytes = m_result->value(m_row, column);
        Recent &recent = m_recent[size_t(column)];
        if (!recent.worthIt())
            return decode(column, bytes);
        ++recent.lookups;
        for (const Recent::Entry &entry : recent.entries) {
            if (entry.valid && entry.bytes == bytes) {
                ++recent.hits;
                return entry.text;
            }
        }
        const QString text = decode(column, bytes);
        Recent::Entry &entry = recent.entries[recent.next];
        recent.next = (recent.next + 1) % recent.entries.size();
        entry.bytes = bytes.toByteArray();
        entry.text = text;
        entry.valid = true;
        return text;
    }

    QByteArray data(int column) const override
    {
        if (m_result->isNull(m_row, column))
            return QByteArray();
        if (m_types[size_t(column)] == byteaOid)
            return m_result->value(m_row, column).toByteArray();
        return text(column).toUtf8();
    }

    QVariant value(int column) const override
    {
        if (m_result->isNull(m_row, column))
            return QVariant();
        if (m_types[size_t(column)] == byteaOid)
            return data(column);
        return text(column);
    }

private:
    QString decode(int column, QByteArrayView bytes) const
    {
        const unsigned int type = m_types[size_t(column)];
        if (isTextType(type) || type == byteaOid) // bytea read as text: its bytes
            return QString::fromUtf8(bytes.data(), bytes.size());
        const std::optional<QVariant> value = OVNDatabaseAccess::postgresBinaryValue(type, bytes, m_integerDateTimes);
        return value ? value->toString() : QString();
    }

    const PostgresResult *m_result;
    bool m_integerDateTimes;
    int m_columns;
    int m_row = 0;
    std::vector<unsigned int> m_types;
    struct Recent {
        struct Entry {
            QByteArray bytes;
            QString text;
            bool valid = false;
        };
        std::array<Entry, 3> entries;
        size_t next = 0;
        // Columns whose values seldom repeat (ids, paths) stop being remembered after a trial.
        int lookups = 0;
        int hits = 0;
        bool worthIt() const { return lookups < 64 || hits * 4 >= lookups; }
    };
    mutable std::vector<Recent> m_recent;
};

QList<PostgresParameter> postgresParameters(const QVariantList &parameters)
{
    QList<PostgresParameter> converted;
    converted.reserve(parameters.size());
    for (const QVariant &value : parameters) {
        switch (value.typeId()) {
        case QMetaType::UnknownType:
        case QMetaType::Nullptr:
            converted.append(PostgresParameter::null());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            converted.append(bytes.isNull() ? PostgresParameter::null() : PostgresParameter::binary(bytes));
            break;
        }
        case QMetaType::Bool:
            converted.append(PostgresParameter::text(value.toBool() ? QStringLiteral("1") : QStringLiteral("0")));
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            converted.append(PostgresParameter::text(QString::number(value.toDouble(), 'g', 17)));
            break;
        default:
            converted.append(PostgresParameter::text(OVNDBHelper::storableText(value.toString())));
            break;
        }
    }
    return converted;
}

} // namespace

bool OVNDatabaseAccess::openPostgres()
{
    closePostgres();
    m_transactionDepth = 0;
    m_abortedDepth = 0;
    auto connection = std::make_unique<PostgresConnection>();
    PostgresConnection::Settings settings =
        PostgresConnection::settingsFor(m_dbHost, m_dbUser, m_dbPassword, m_dbDatabase);
    settings.fallbackPassword = m_dbFallbackPassword;
    settings.stop = OVNCatalogOpening::stopFlag();
    settings.answerWait = m_answerWait;
    if (!connection->open(settings)) {
        setLastError(connection->errorMessage());
        // A server that does not answer, or ended the session while it was being made, may come
        // back: whoever opens the catalog may wait for it. Its refusal is its answer. A full one
        // may free a connection soon, and is said to be full, not out of reach.
        m_lastErrorLostConnection = !connection->serverAnswered();
        noteServerFull(*connection);
        return false;
    }
    m_integerDateTimes = connection->integerDateTimes();
    m_pgcon = std::move(connection);
    return true;
}

void OVNDatabaseAccess::closePostgres() { m_pgcon.reset(); }

void OVNDatabaseAccess::noteServerFull(const PostgresConnection &session)
{
    m_lastErrorServerFull = session.serverFull();
    if (m_lastErrorServerFull)
        m_lastErrorMessage = localized("The catalog server is full: every connection it allows is taken.");
}

OVNDatabaseAccess::StatementResult OVNDatabaseAccess::executePostgres(const QString &sql,
                                                                      const QVariantList &parameters,
                                                                      const RowHandler &onRow, RowDelivery delivery)
{
    // A session that the server ended while idle (a restart, a lost network) is found dead only
    // by the next statement. A read outside any transaction then runs once more in a new session:
    // it changed nothing, and nobody has seen a row of it yet.
    // A search is never repeated: its read-only transaction and its time limit went with the session.
    const bool mayRepeat = m_transactionDepth == 0 && !m_searchAbandonAt
                           && sql.trimmed().startsWith(QLatin1String("select"), Qt::CaseInsensitive);
    for (int attempt = 0;; ++attempt) {
        bool delivered = false;
        const auto failed = [&](const PostgresResult &outcome) {
            const bool lostSession = m_pgcon->isBroken();
            setLastError(outcome.errorMessage());
            m_lastErrorDiskFull = outcome.sqlState() == QLatin1String(diskFullState);
            m_lastSqlState = outcome.sqlState();
            recoverPostgresAfterFailure();
            return lostSession && mayRepeat && !delivered && attempt == 0 && !m_pgcon->isBroken();
        };
        if (delivery == RowDelivery::AsRowsArrive) {
            std::optional<PostgresResultRow> row;
            const PostgresResult outcome = m_pgcon->executeRowByRow(sql, postgresParameters(parameters),
                                                                    [&](const PostgresResult &result, int index) {
                                                                        if (!row)
                                                                            row.emplace(result, m_integerDateTimes);
                                                                        row->setRow(result, index);
                                                                        delivered = true;
                                                                        return onRow(*row);
                                                                    });
            if (!outcome.ok()) {
                if (failed(outcome))
                    continue;
                return {};
            }
            return {true, outcome.changedRows()};
        }
        const PostgresResult result = m_searchAbandonAt && parameters.isEmpty()
                                          ? m_pgcon->executeWithin(sql, *m_searchAbandonAt, m_searchStopRequested)
                                          : m_pgcon->execute(sql, postgresParameters(parameters));
        if (!result.ok()) {
            if (failed(result))
                continue;
            return {};
        }
        PostgresResultRow row(result, m_integerDateTimes);
        const int rows = result.rowCount();
        for (int index = 0; index < rows; ++index) {
            row.setRow(result, index);
            if (!onRow(row))
                break;
        }
        return {true, result.changedRows()};
    }
}

bool OVNDatabaseAccess::mayReplaceLostSession()
{
    // A session that lasted this long ends a run of lost ones: the next is opened again at once.
    constexpr std::chrono::seconds lasted{3};
    auto now = std::chrono::steady_clock::now();
    if (m_replacedAt && now < m_nextReplacementAt) {
        // A server that did not let the last one in is tried again by the caller's own wait, which
        // comes back after its pause; one that let it in and ended it is given the pause here, so
        // that the next statement still finds a session.
        if (!m_lastReplacementOpened)
            return false;
        while (now < m_nextReplacementAt) {
            if (OVNCatalogOpening::stopRequested())
                return false;
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(m_nextReplacementAt - now,
                                                                                      std::chrono::milliseconds(20)));
            now = std::chrono::steady_clock::now();
        }
    }
    if (m_replacedAt)
        m_replacementsInRow = now - *m_replacedAt > lasted ? 0 : m_replacementsInRow + 1;
    m_replacedAt = now;
    m_nextReplacementAt = now + OVNCatalogOpening::pauseAfter(m_replacementsInRow);
    return true;
}

bool OVNDatabaseAccess::reopenLostPostgresSession()
{
    if (m_transactionDepth > 0 || !m_pgcon->isBroken())
        return true;
    if (!mayReplaceLostSession()) {
        // Too soon after the last new session: the caller's retry comes back when the pause is over.
        setLastError(localized("The catalog server cannot be reached."));
        m_lastErrorLostConnection = true;
        m_statementFailure = Failure::Unreachable;
        return false;
    }
    m_lastReplacementOpened = m_pgcon->reset();
    if (m_lastReplacementOpened)
        return true;
    qWarning("The catalog server cannot be reached: %s", qUtf8Printable(m_pgcon->errorMessage()));
    setLastError(localized("The catalog server cannot be reached."));
    m_lastErrorLostConnection = true;
    noteServerFull(*m_pgcon);
    m_statementFailure = Failure::Unreachable;
    return false;
}

bool OVNDatabaseAccess::executeTransactionControl(const QString &sql)
{
    switch (m_vendor) {
    case Vendor::Integrated:
        if (m_sqlitecon)
            return executeSqlite(sql, {}, [](const OVNResultRow &) { return false; }).ok;
        break;
    case Vendor::PostgreSQL:
        if (m_pgcon) {
            m_statementFailure = Failure::Other;
            if (!reopenLostPostgresSession()) {
                noteFailure(m_statementFailure);
                return false;
            }
            const PostgresResult result = m_pgcon->execute(sql);
            if (result.ok())
                return true;
            setLastError(result.errorMessage());
            m_lastErrorDiskFull = result.sqlState() == QLatin1String(diskFullState);
            if (m_pgcon->isBroken())
                recoverPostgresAfterFailure();
            noteFailure(m_statementFailure);
            return false;
        }
        break;
    case Vendor::None:
        return false;
    }
    setLastError(localized("The catalog database is not open."));
    return false;
}

void OVNDatabaseAccess::recoverPostgresAfterFailure()
{
    if (m_pgcon->isBroken()) {
        // The session is gone, and with it any transaction. The server's or libpq's words about
        // it mean nothing to the user (they go to the log); what happened does.
        if (!m_lastErrorMessage.isEmpty())
            qWarning("The catalog server ended the session: %s", qUtf8Printable(m_lastErrorMessage));
        m_statementFailure = Failure::Unreachable;
        setLastError(localized("The catalog server cannot be reached."));
        m_lastErrorLostConnection = true;
        if (m_transactionDepth > 0) {
            // The caller's transaction is over: its further statements are refused and its commit
            // answers false, rather than running on their own in a new session. Each of them says
            // that the session was lost, so that no caller takes it for a refusal.
            m_abortedDepth = 0;
            markAborted(1);
        }
        // Connect again for the next statement, after the pause that lost sessions in a row are
        // given (when the server did not let the last one in, the next statement tries).
        if (!mayReplaceLostSession())
            return;
        const QString message = m_lastErrorMessage;
        m_lastReplacementOpened = m_pgcon->reset();
        m_lastErrorMessage = message;
        m_lastErrorLostConnection = true;
        noteServerFull(*m_pgcon);
        return;
    }
    // A row that names a category or entry another client has deleted meanwhile.
    static const QString foreignKeyViolation = QStringLiteral("23503");
    if (m_lastSqlState == foreignKeyViolation) {
        m_statementFailure = Failure::MissingReference;
        setLastError(localized("What the change refers to is no longer in the catalog: another user may have "
                               "deleted it."));
    }
    if (m_pgcon->transactionState() != PostgresConnection::TransactionState::Failed)
        return;
    if (m_transactionDepth > 1) {
        // Back to the savepoint of the innermost level, so that the levels around it can go on.
        m_pgcon->execute(QStringLiteral("ROLLBACK TO SAVEPOINT ovn_level_%1").arg(m_transactionDepth - 1));
        markAborted(m_transactionDepth);
    } else {
        m_pgcon->execute(QStringLiteral("ROLLBACK"));
        // A transaction begun outside the bookkeeping (a plain "begin") is simply over.
        markAborted(m_transactionDepth);
    }
}

bool OVNDatabaseAccess::waitForEndedSession(int seconds)
{
    int pid = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_vendor != Vendor::PostgreSQL || !m_pgcon)
            return true;
        pid = m_pgcon->endedBackendPid();
    }
    if (pid <= 0)
        return true;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(std::max(1, seconds));
    bool terminated = false;
    for (;;) {
        const int rows = affectedRowsForQuery(QStringLiteral("select 1 from pg_stat_activity where pid=$1"), {pid});
        if (rows == 0)
            return true;
        if (rows < 0)
            return false;
        const auto now = std::chrono::steady_clock::now();
        // A server that has not noticed its client is gone (a network that dropped, not closed)
        // would keep the session for as long as its keep-alive takes: it is this writer's own,
        // and it is ended here. Its commit, if it began one, is carried out or undone whole.
        if (!terminated && now - start >= std::chrono::seconds(2)) {
            runSQLCommand(QStringLiteral("select pg_terminate_backend($1)"), {pid});
            terminated = true;
        }
        if (now >= deadline || OVNCatalogOpening::stopRequested())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
