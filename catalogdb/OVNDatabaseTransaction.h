#pragma once

class OVNDatabaseAccess;

// A transaction on one connection for the length of a scope: begun when made, rolled back when the
// scope ends without commit(). Inside another transaction it is a savepoint of that one.
class OVNDatabaseTransaction
{
public:
    explicit OVNDatabaseTransaction(OVNDatabaseAccess &connection);
    ~OVNDatabaseTransaction();
    OVNDatabaseTransaction(const OVNDatabaseTransaction &) = delete;
    OVNDatabaseTransaction &operator=(const OVNDatabaseTransaction &) = delete;

    // False when the begin failed; nothing that follows is then protected.
    bool isActive() const { return m_active; }
    // Makes the changes permanent; false (and rolled back) when the commit failed.
    bool commit();
    bool rollback();

private:
    bool hasEnded() const;

    OVNDatabaseAccess &m_connection;
    bool m_active = false;
    int m_level = 0; // the connection's transaction depth with this one open
};
