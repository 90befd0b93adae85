#include "catalogdb/OVNDatabaseAccess.h"

#include "catalogdb/OVNResultRow.h"
#include "platform/Localized.h"

#include <sqlite3.h>

OVNDatabaseAccess::Vendor OVNDatabaseAccess::vendorFromString(const QString &vendor)
{
    if (vendor == QLatin1String("PostgreSQL"))
        return Vendor::PostgreSQL;
    if (vendor == QLatin1String("Integrated"))
        return Vendor::Integrated;
    return Vendor::None;
}

void OVNDatabaseAccess::setConnectionDetails(const QString &vendor, const QString &host, const QString &user,
                                             const QString &password, const QString &database)
{
    std::lock_guard lock(m_mutex);
    m_dbVendor = vendor;
    m_vendor = vendorFromString(vendor);
    m_dbHost = host;
    m_dbUser = user;
    m_dbPassword = password;
    m_dbFallbackPassword.clear();
    m_dbDatabase = database;
    m_authusername.clear();
    m_authusermid.clear();
    m_authgroupmids.clear();
    m_boundlogin.clear();
}

void OVNDatabaseAccess::setFallbackPassword(const QString &password)
{
    std::lock_guard lock(m_mutex);
    m_dbFallbackPassword = password;
}

void OVNDatabaseAccess::setAnswerWait(std::chrono::milliseconds wait)
{
    std::lock_guard lock(m_mutex);
    m_answerWait = wait;
}

std::unique_ptr<OVNDatabaseAccess> OVNDatabaseAccess::openSiblingConnection() const
{
    auto sibling = std::make_unique<OVNDatabaseAccess>();
    {
        std::lock_guard lock(m_mutex);
        sibling->setConnectionDetails(m_dbVendor, m_dbHost, m_dbUser, m_dbPassword, m_dbDatabase);
        sibling->m_dbFallbackPassword = m_dbFallbackPassword;
        sibling->m_createsMissingFile = m_createsMissingFile;
        sibling->m_answerWait = m_answerWait;
        // A worker checks privileges as the user of the window that started it.
        sibling->m_useauthentication = m_useauthentication.load();
        sibling->m_authusername = m_authusername;
        sibling->m_authusermid = m_authusermid;
        sibling->m_authgroupmids = m_authgroupmids;
        sibling->m_boundlogin = m_boundlogin;
    }
    sibling->openDBConnection();
    return sibling;
}

bool OVNDatabaseAccess::openDBConnection()
{
    std::lock_guard lock(m_mutex);
    m_midbasestring = getHWAddress();
    m_fileColumnLimits.reset();
    switch (m_vendor) {
    case Vendor::Integrated:
        return openSqlite();
    case Vendor::PostgreSQL:
        return openPostgres();
    case Vendor::None:
        break;
    }
    setLastError(localized("The database vendor \"%1\" is not supported.").arg(m_dbVendor));
    return false;
}

bool OVNDatabaseAccess::isDBConnectionActive() const
{
    std::lock_guard lock(m_mutex);
    switch (m_vendor) {
    case Vendor::Integrated:
        return m_sqlitecon != nullptr;
    case Vendor::PostgreSQL:
        return m_pgcon != nullptr;
    case Vendor::None:
        break;
    }
    return false;
}

void OVNDatabaseAccess::closeDBConnection()
{
    std::lock_guard lock(m_mutex);
    closeSqlite();
    closePostgres();
    m_transactionDepth = 0;
    m_abortedDepth = 0;
}

bool OVNDatabaseAccess::revalidateDBConnection()
{
    closeDBConnection();
    return openDBConnection();
}

QString OVNDatabaseAccess::getLastErrorMessage() const
{
    std::lock_guard lock(m_mutex);
    return m_lastErrorMessage;
}

bool OVNDatabaseAccess::lastErrorWasDiskFull() const
{
    std::lock_guard lock(m_mutex);
    return m_lastErrorDiskFull;
}

bool OVNDatabaseAccess::lastInsertFoundEarlierCopy() const
{
    std::lock_guard lock(m_mutex);
    return m_lastInsertFoundEarlierCopy;
}

bool OVNDatabaseAccess::lastErrorLostConnection() const
{
    std::lock_guard lock(m_mutex);
    return m_lastErrorLostConnection;
}

bool OVNDatabaseAccess::lastErrorServerFull() const
{
    std::lock_guard lock(m_mutex);
    return m_lastErrorServerFull;
}

void OVNDatabaseAccess::setLastError(const QString &message)
{
    m_lastErrorMessage = message;
    m_lastErrorDiskFull = false;
    m_lastErrorLostConnection = false;
    m_lastErrorServerFull = false;
}

OVNDatabaseAccess::Failure OVNDatabaseAccess::lastFailure() const
{
    std::lock_guard lock(m_mutex);
    return m_lastFailure;
}

quint64 OVNDatabaseAccess::failureCount() const
{
    std::lock_guard lock(m_mutex);
    return m_failureCount;
}

void OVNDatabaseAccess::noteFailure(Failure why)
{
    m_lastFailure = why;
    ++m_failureCount;
}

namespace {

QString abortedMessage(const QString &reason)
{
    // The failure that undid the transaction is what the user needs to hear, not its aftermath.
    return reason.isEmpty() ? localized("The transaction was rolled back after a failed statement.")
                            : localized("The transaction was rolled back after a failed statement: %1").arg(reason);
}

} // namespace

void OVNDatabaseAccess::markAborted(int depth)
{
    m_abortedDepth = depth;
    m_abortMessage = m_lastErrorMessage;
    m_abortDiskFull = m_lastErrorDiskFull;
    m_abortLostConnection = m_lastErrorLostConnection;
}

void OVNDatabaseAccess::setAbortedError()
{
    // A transaction that a lost session took with it: every later statement of it says so, as
    // the failure itself did (no caller must take it for a refused statement).
    if (m_abortLostConnection) {
        setLastError(localized("The catalog server ended the session, and the transaction with it."));
        m_lastErrorLostConnection = true;
        m_statementFailure = Failure::Unreachable;
        return;
    }
    setLastError(abortedMessage(m_abortMessage));
    m_lastErrorDiskFull = m_abortDiskFull;
}

// ---- Dispatch ----

OVNDatabaseAccess::StatementResult OVNDatabaseAccess::execute(const QString &sql, const QVariantList &parameters,
                                                              const RowHandler &onRow, RowDelivery delivery)
{
    std::lock_guard lock(m_mutex);
    m_statementFailure = Failure::Other;
    const StatementResult result = executeLocked(sql, parameters, onRow, delivery);
    if (!result.ok)
        noteFailure(m_statementFailure);
    return result;
}

OVNDatabaseAccess::StatementResult OVNDatabaseAccess::executeLocked(const QString &sql, const QVariantList &parameters,
                                                                    const RowHandler &onRow, RowDelivery delivery)
{
    if (m_abortedDepth > 0 && m_transactionDepth >= m_abortedDepth) {
        // Outside the undone transaction the statement would stand alone: refuse it instead.
        setAbortedError();
        return {};
    }
    switch (m_vendor) {
    case Vendor::Integrated:
        if (m_sqlitecon)
            return executeSqlite(sql, parameters, onRow);
        setLastError(localized("The catalog database is not open."));
        return {};
    case Vendor::PostgreSQL:
        if (m_pgcon && reopenLostPostgresSession())
            return executePostgres(sql, parameters, onRow, delivery);
        if (m_pgcon)
            return {};
        setLastError(localized("The catalog database is not open."));
        return {};
    case Vendor::None:
        break;
    }
    return {};
}

// ---- Primitives ----

bool OVNDatabaseAccess::runSQLCommand(const QString &sql, const QVariantList &parameters)
{
    // A query answers after its first row, as a command has nothing more to give.
    return execute(sql, parameters, [](const OVNResultRow &) { return false; }).ok;
}

int OVNDatabaseAccess::affectedRowsForQuery(const QString &sql, const QVariantList &parameters)
{
    int rows = 0;
    const StatementResult result = execute(sql, parameters, [&rows](const OVNResultRow &) {
        ++rows;
        return true;
    });
    return result.ok ? rows : -1;
}

QList<OVNRow> OVNDatabaseAccess::rowsForQuery(const QString &sql, const QVariantList &parameters)
{
    QList<OVNRow> rows;
    execute(sql, parameters, [&rows](const OVNResultRow &row) {
        OVNRow values;
        const int columns = row.columnCount();
        values.reserve(columns);
        for (int column = 0; column < columns; ++column)
            values.append(row.value(column));
        rows.append(std::move(values));
        return true;
    });
    return rows;
}

QByteArray OVNDatabaseAccess::blobcolumnForQuery(const QString &sql, const QVariantList &parameters)
{
    QByteArray data;
    execute(sql, parameters, [&data](const OVNResultRow &row) {
        if (row.columnCount() > 0 && !row.isNull(0)) {
            QByteArray bytes = row.data(0);
            if (!bytes.isEmpty())
                data = std::move(bytes);
        }
        return true;
    });
    return data;
}

QVariantMap OVNDatabaseAccess::rowDictionaryForQuery(const QString &sql, const QVariantList &parameters)
{
    QVariantMap dictionary;
    execute(sql, parameters, [&dictionary](const OVNResultRow &row) {
        const int columns = row.columnCount();
        for (int column = 0; column < columns; ++column) {
            const QVariant value = row.value(column);
            dictionary.insert(row.columnName(column).toLower(), value.isValid() ? value : QVariant(QString()));
        }
        return true;
    });
    return dictionary;
}

// ---- Transactions ----

bool OVNDatabaseAccess::beginTransaction()
{
    std::lock_guard lock(m_mutex);
    if (m_vendor == Vendor::None)
        return false;
    if (m_abortedDepth > 0) {
        setAbortedError();
        return false;
    }
    QString sql;
    if (m_transactionDepth > 0)
        sql = QStringLiteral("SAVEPOINT ovn_level_%1").arg(m_transactionDepth);
    else if (m_vendor == Vendor::Integrated)
        // Take the write lock at once: a reader that later wants to write can deadlock with
        // another connection doing the same, and the busy timeout cannot help there.
        sql = QStringLiteral("BEGIN IMMEDIATE");
    else
        sql = QStringLiteral("BEGIN");
    if (!executeTransactionControl(sql))
        return false;
    ++m_transactionDepth;
    return true;
}

bool OVNDatabaseAccess::commitTransaction()
{
    std::lock_guard lock(m_mutex);
    if (m_transactionDepth == 0) {
        setLastError(localized("There is no transaction to commit."));
        return false;
    }
    if (m_abortedDepth > 0 && m_transactionDepth >= m_abortedDepth) {
        // A failed statement has undone this level already: nothing of it can be committed.
        if (m_transactionDepth == m_abortedDepth) {
            if (m_transactionDepth > 1 && m_vendor == Vendor::PostgreSQL)
                executeTransactionControl(QStringLiteral("RELEASE SAVEPOINT ovn_level_%1").arg(m_transactionDepth - 1));
            m_abortedDepth = 0;
        }
        --m_transactionDepth;
        setAbortedError();
        return false;
    }
    const QString sql = m_transactionDepth > 1
                            ? QStringLiteral("RELEASE SAVEPOINT ovn_level_%1").arg(m_transactionDepth - 1)
                            : QStringLiteral("COMMIT");
    if (!executeTransactionControl(sql)) {
        // A commit that ended the transaction all the same leaves nothing to roll back, and its
        // own message (a full disk, say) is the one the user hears.
        if (commitFailureEndedTransaction()) {
            m_transactionDepth = 0;
            m_abortedDepth = 0;
        }
        return false;
    }
    --m_transactionDepth;
    return true;
}

bool OVNDatabaseAccess::commitFailureEndedTransaction()
{
    switch (m_vendor) {
    case Vendor::PostgreSQL:
        return m_transactionDepth == 1;
    case Vendor::Integrated:
        // After an I/O error SQLite rolls the transaction back on its own; a busy database keeps it.
        return m_sqlitecon && sqlite3_get_autocommit(m_sqlitecon.get()) != 0;
    case Vendor::None:
        break;
    }
    return true;
}

bool OVNDatabaseAccess::rollbackTransaction()
{
    std::lock_guard lock(m_mutex);
    if (m_transactionDepth == 0) {
        setLastError(localized("There is no transaction to roll back."));
        return false;
    }
    bool ok = true;
    if (m_abortedDepth > 0 && m_transactionDepth > m_abortedDepth) {
        // Inside a level that a failed statement undid: nothing of this one is left either.
    } else if (m_abortedDepth == m_transactionDepth) {
        // Undone already when the statement failed; only the savepoint is left to let go.
        if (m_transactionDepth > 1 && m_vendor == Vendor::PostgreSQL)
            ok =
                executeTransactionControl(QStringLiteral("RELEASE SAVEPOINT ovn_level_%1").arg(m_transactionDepth - 1));
        m_abortedDepth = 0;
    } else if (m_transactionDepth > 1) {
        const QString name = QStringLiteral("ovn_level_%1").arg(m_transactionDepth - 1);
        ok = executeTransactionControl(QStringLiteral("ROLLBACK TO SAVEPOINT ") + name);
        ok = executeTransactionControl(QStringLiteral("RELEASE SAVEPOINT ") + name) && ok;
    } else {
        ok = executeTransactionControl(QStringLiteral("ROLLBACK"));
    }
    // Even a failed rollback ends the level: SQLite has then rolled back on its own. A session
    // lost during it leaves no undone level behind either.
    --m_transactionDepth;
    if (m_abortedDepth > m_transactionDepth)
        m_abortedDepth = 0;
    return ok;
}

bool OVNDatabaseAccess::transactionUndone() const
{
    std::lock_guard lock(m_mutex);
    return m_abortedDepth > 0 && m_abortedDepth <= m_transactionDepth;
}

int OVNDatabaseAccess::transactionDepth() const
{
    std::lock_guard lock(m_mutex);
    return m_transactionDepth;
}
