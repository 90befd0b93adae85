#include "catalogdb/OVNDatabaseTransaction.h"

#include "catalogdb/OVNDatabaseAccess.h"

OVNDatabaseTransaction::OVNDatabaseTransaction(OVNDatabaseAccess &connection)
    : m_connection(connection),
      m_active(connection.beginTransaction()),
      m_level(m_active ? connection.transactionDepth() : 0)
{}

OVNDatabaseTransaction::~OVNDatabaseTransaction()
{
    if (m_active && !hasEnded())
        m_connection.rollbackTransaction();
}

bool OVNDatabaseTransaction::hasEnded() const
{
    // A failed commit of the whole transaction (a full disk) ends every level inside it.
    return m_connection.transactionDepth() < m_level;
}

bool OVNDatabaseTransaction::commit()
{
    if (!m_active)
        return false;
    m_active = false;
    if (hasEnded())
        return false;
    if (m_connection.commitTransaction())
        return true;
    // A commit that failed leaves the transaction open on SQLite (a busy database): undo it, so
    // that the connection is usable again and nothing half-done stays. A level that has ended
    // already (undone on the server after a failed statement, or by the failed commit itself)
    // leaves the levels around it alone, and the commit's message stands.
    if (!hasEnded())
        m_connection.rollbackTransaction();
    return false;
}

bool OVNDatabaseTransaction::rollback()
{
    if (!m_active)
        return false;
    m_active = false;
    if (hasEnded())
        return true;
    return m_connection.rollbackTransaction();
}
