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

void OVNDatabaseAccess::setConnectionDetails(const QString &vendor, const QString &host,
                                             const QString &user, const QString &password,
                                             const QString &database)
{
    std::lock_guard lock(m_mutex);
    m_dbVendor = vendor;
    m_vendor = vendorFromString(vendor);
    m_dbHost = host;
    m_dbUser = user;
    m_dbPassword = password;
    m_dbDatabase = database;
    m_authusername.clear();
    m_authusermid.clear();
    m_authgroupmids.clear();
}

std::unique_ptr<OVNDatabaseAccess> OVNDatabaseAccess::openSiblingConnection() const
{
    auto sibling = std::make_unique<OVNDatabaseAccess>();
    {
        std::lock_guard lock(m_mutex);
        sibling->setConnectionDetails(m_dbVendor, m_dbHost, m_dbUser, m_dbPassword, m_dbDatabase);
    }
    sibling->openDBConnection();
    return sibling;
}

bool OVNDatabaseAccess::openDBConnection()
{
    std::lock_guard lock(m_mutex);
    m_midbasestring = getHWAddress();
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

void OVNDatabaseAccess::setLastError(const QString &message)
{
    m_lastErrorMessage = message;
}

// ---- Dispatch ----

OVNDatabaseAccess::StatementResult OVNDatabaseAccess::execute(const QString &sql,
                                                              const QVariantList &parameters,
                                                              const RowHandler &onRow)
{
    std::lock_guard lock(m_mutex);
    return executeLocked(sql, parameters, onRow);
}

OVNDatabaseAccess::StatementResult OVNDatabaseAccess::executeLocked(const QString &sql,
                                                                    const QVariantList &parameters,
                                                                    const RowHandler &onRow)
{
    switch (m_vendor) {
    case Vendor::Integrated:
        if (m_sqlitecon)
            return executeSqlite(sql, parameters, onRow);
        setLastError(localized("The catalog database is not open."));
        return {};
    case Vendor::PostgreSQL:
        if (m_pgcon)
            return executePostgres(sql, parameters, onRow);
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
            dictionary.insert(row.columnName(column).toLower(),
                              value.isValid() ? value : QVariant(QString()));
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
        setLastError(localized("The transaction was rolled back after a failed statement."));
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
    const QString sql = m_transactionDepth > 1
        ? QStringLiteral("RELEASE SAVEPOINT ovn_level_%1").arg(m_transactionDepth - 1)
        : QStringLiteral("COMMIT");
    if (m_abortedDepth == m_transactionDepth) {
        // A failed statement has undone this level already: nothing of it can be committed.
        if (m_transactionDepth > 1)
            executeTransactionControl(sql);
        m_abortedDepth = 0;
        --m_transactionDepth;
        setLastError(localized("The transaction was rolled back after a failed statement."));
        return false;
    }
    if (!executeTransactionControl(sql)) {
        // A commit that the server refuses ends the transaction all the same.
        if (m_vendor == Vendor::PostgreSQL && m_transactionDepth == 1)
            m_transactionDepth = 0;
        return false;
    }
    --m_transactionDepth;
    return true;
}

bool OVNDatabaseAccess::rollbackTransaction()
{
    std::lock_guard lock(m_mutex);
    if (m_transactionDepth == 0) {
        setLastError(localized("There is no transaction to roll back."));
        return false;
    }
    bool ok;
    if (m_abortedDepth == m_transactionDepth) {
        // Undone already when the statement failed; only the savepoint is left to let go.
        ok = m_transactionDepth == 1
            || executeTransactionControl(QStringLiteral("RELEASE SAVEPOINT ovn_level_%1").arg(m_transactionDepth - 1));
        m_abortedDepth = 0;
    } else if (m_transactionDepth > 1) {
        const QString name = QStringLiteral("ovn_level_%1").arg(m_transactionDepth - 1);
        ok = executeTransactionControl(QStringLiteral("ROLLBACK TO SAVEPOINT ") + name);
        ok = executeTransactionControl(QStringLiteral("RELEASE SAVEPOINT ") + name) && ok;
    } else {
        ok = executeTransactionControl(QStringLiteral("ROLLBACK"));
    }
    // Even a failed rollback ends the level: SQLite has then rolled back on its own.
    --m_transactionDepth;
    return ok;
}

int OVNDatabaseAccess::transactionDepth() const
{
    std::lock_guard lock(m_mutex);
    return m_transactionDepth;
}
