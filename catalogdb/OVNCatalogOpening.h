#pragma once

// Opening a catalog on a server that is away for a moment: the steps of the opening (the
// connection, the tables, the login) are taken again on a new session while the server does not
// answer or ends the session, up to a time; a catalog file is opened once.

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>

class OVNDatabaseAccess;

namespace OVNCatalogOpening {

using Status = std::function<void(const QString &)>;

// The text said while the server is waited for: "Waiting for the catalog server...".
QString waitingText();

// A stop of every wait of this process (a tool's SIGTERM or SIGINT): safe to call from a signal
// handler. From then on every wait for the server and every retry ends at once, as at cancel, and
// stopRequested() says why.
void requestStop();
bool stopRequested();
// The flag itself, for waits below this layer (a connection being made).
const std::atomic<bool> *stopFlag();

// The pause before try `tries` + 1 after as many failed tries in a row: 50 ms doubling to a second,
// each a fifth more or less at random, so that clients that lost their sessions together do not
// all come back in the same moment. Every retry of the catalog (a wait for the server, a new
// session after a lost one) is paced by it: a server whose sessions keep ending gets a few tries a
// second at most from each connection.
std::chrono::milliseconds pauseAfter(int tries);

// Whether the server answers a statement now (a catalog file always does).
bool answers(OVNDatabaseAccess &db);

// Waits for the server to answer, trying again soon at first and then every second, for up to
// `seconds`, and says so through `status` (once) while it does not. False when it did not answer in
// that time, or at cancel. A server that keeps saying it is full (every connection it allows
// taken) is given a few seconds only: the failure then says so.
bool waitForServer(OVNDatabaseAccess &db, int seconds, const std::atomic<bool> *cancelled, const Status &status);

// Whether the last failure of `db` since `failuresBefore` (its failureCount() then), or its open
// that failed, means the server went away or ended the session rather than refused.
bool failedForLostServer(const OVNDatabaseAccess &db, quint64 failuresBefore);

// After a failure that lost the session: opens a new one (trying soon at first, then every second,
// saying `status` once and setting `told` while the server does not answer) and waits until the
// server's process of the lost session has ended, so that a commit it still carried out is seen by
// what looks next, and one it did not is never seen later. False at `deadline`, at cancel, when
// the server refused the new session, or when it kept saying it is full for a few seconds.
bool resume(OVNDatabaseAccess &db, std::chrono::steady_clock::time_point deadline, const Status &status,
            const std::atomic<bool> *cancelled, bool *told);

// Runs `steps` on `db` until they succeed or fail for another cause than a server that does not
// answer or ended the session; between two tries the session is resumed as above. Gives up (with
// the steps' last failure) after `seconds` in all. `steps` opens the
// connection itself when it is not active. Inside a transaction of the caller's they run once.
// Whether the steps succeeded.
bool run(OVNDatabaseAccess &db, int seconds, const std::function<bool()> &steps, const Status &status,
         const std::atomic<bool> *cancelled = nullptr);

// How long every reader and writer goes on through a server that does not answer or sessions that
// end, in the program as in the tools.
constexpr int waitSeconds = 30;

// Runs `step` (a read, or a write that is the same however often it runs) again on a new session
// for as long as the session is lost on the way, as run() does, within `seconds`. `step` runs on an
// open connection. Whether it ran without a failure of the catalog; when not, the connection's last
// failure says why.
bool retried(OVNDatabaseAccess &db, const std::function<void()> &step, const Status &status = {},
             int seconds = waitSeconds, const std::atomic<bool> *cancelled = nullptr);

} // namespace OVNCatalogOpening
