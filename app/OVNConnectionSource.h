#pragma once

#include <QString>

#include <functional>
#include <memory>

class OVNDatabaseAccess;

// Where the application controller gets its catalog connections: the connection factory, or a
// stand-in in tests.
class OVNConnectionSource
{
public:
    virtual ~OVNConnectionSource() = default;
    // A new connection that belongs to the caller, opened as the settings say (test it with
    // isDBConnectionActive()); null when the settings name no usable database vendor.
    virtual std::unique_ptr<OVNDatabaseAccess> createAndOpenDBConnection() = 0;
    // Called on the GUI thread just before the source shows an alert of its own, so that nothing
    // (the splash window) stays in front of it.
    virtual void setBeforeAlert(std::function<void()> hook) { (void)hook; }
    // Why the account running the program may not use the catalog the last connection went to
    // (a catalog with users, and the account is no catalog user or in no group); empty when it
    // may. Such a connection comes back closed.
    virtual QString loginRefusal() const { return QString(); }
    // Why the database the last connection went to is no catalog to use (a catalog that lacks a
    // column, a file of another program's), left unchanged; empty when it is one. Such a
    // connection comes back closed, and the source showed no alert of its own for it.
    virtual QString catalogRefusal() const { return QString(); }
};
