#pragma once

// Opening a catalog on a server that is away for a moment: the steps of the opening (the
// connection, the tables, the login) are taken again on a new session while the server does not
// answer or ends the session, up to a time; a catalog file is opened once.

#include <QString>

#include <atomic>
#include <functional>

class OVNDatabaseAccess;

namespace OVNCatalogOpening {

using Status = std::function<void(const QString &)>;

// The text said while the server is waited for: "Waiting for the catalog server...".
QString waitingText();

// Whether the server answers a statement now (a catalog file always does).
bool answers(OVNDatabaseAccess &db);

// Waits for the server to answer, trying again soon at first and then every second, for up to
// `seconds`, and says so through `status` (once) while it does not. False when it did not answer in
// that time, or at cancel.
bool waitForServer(OVNDatabaseAccess &db, int seconds, const std::atomic<bool> *cancelled, const Status &status);

// Whether the last failure of `db` since `failuresBefore` (its failureCount() then), or its open
// that failed, means the server went away or ended the session rather than refused.
bool failedForLostServer(const OVNDatabaseAccess &db, quint64 failuresBefore);

// Runs `steps` on `db` until they succeed or fail for another cause than a server that does not
// answer or ended the session; between two tries the connection is opened again, trying every
// second. Gives up (with the steps' last failure) after `seconds` in all. `steps` opens the
// connection itself when it is not active. Whether the steps succeeded.
bool run(OVNDatabaseAccess &db, int seconds, const std::function<bool()> &steps, const Status &status,
         const std::atomic<bool> *cancelled = nullptr);

} // namespace OVNCatalogOpening
