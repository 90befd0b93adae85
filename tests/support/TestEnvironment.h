#pragma once

#include <QString>

#include <functional>
#include <optional>

// Where the shared camera files and their exiftool readings are: ../shared/testdata beside the
// source tree, or $OVN_TESTDATA. Empty when neither exists (a user's clone).
QString testDataDir();

// Skips the calling test when the shared test data is absent; fails it in CI, which always has it.
#define OVN_REQUIRE_TESTDATA()                                                                                         \
    do {                                                                                                               \
        if (testDataDir().isEmpty()) {                                                                                 \
            if (testDataIsRequired())                                                                                  \
                FAIL() << "the shared test data is missing (../shared/testdata)";                                      \
            GTEST_SKIP() << "the shared test data (../shared/testdata) is not here";                                   \
        }                                                                                                              \
    } while (false)

bool testDataIsRequired();

// The throwaway PostgreSQL server that scripts/test starts (scripts/pg-test-server).
struct PgTestServer {
    QString host;    // the Unix socket folder
    QString tcpHost; // 127.0.0.1
    int port = 0;
    QString user;
    QString password;
    QString database;
};

// The server's facts from OVN_TEST_PG_* variables, or nothing when no server was started.
std::optional<PgTestServer> pgTestServer();
// True when scripts/test started the server, so that a missing one is a failure, not a skip.
bool pgTestServerIsRequired();

#define OVN_REQUIRE_PG_SERVER(server)                                                                                  \
    do {                                                                                                               \
        if (!(server)) {                                                                                               \
            if (pgTestServerIsRequired())                                                                              \
                FAIL() << "scripts/test started a PostgreSQL server but its facts are missing";                        \
            GTEST_SKIP() << "no test PostgreSQL server (run scripts/test, or scripts/pg-test-server)";                 \
        }                                                                                                              \
    } while (false)

// How long a test waits at most for something it expects to happen: far beyond what a loaded
// machine takes, only so that a fault ends the test instead of hanging it. A test waits for what
// it expects (a signal, a condition, a program's end), never for a time.
constexpr int waitCeilingMs = 120000;

// Runs the event loop until `done` answers true or `timeoutMs` passes; answers `done()`.
bool processEventsUntil(const std::function<bool()> &done, int timeoutMs = waitCeilingMs);
