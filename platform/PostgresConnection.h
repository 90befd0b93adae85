#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

struct pg_cancel;
struct pg_conn;
struct pg_result;

// A value for one placeholder ($1, $2, ...) of a statement.
struct PostgresParameter {
    enum class Kind { Null, Text, Binary };
    Kind kind = Kind::Null;
    QByteArray bytes;

    static PostgresParameter null() { return {}; }
    // Sent as text of no declared type: the server takes it as the type the statement needs there.
    static PostgresParameter text(const QString &value) { return {Kind::Text, value.toUtf8()}; }
    // Sent as binary bytea, byte for byte.
    static PostgresParameter binary(const QByteArray &value) { return {Kind::Binary, value}; }
};

// The complete result of one statement. Values come in the binary format of their types.
class PostgresResult
{
public:
    PostgresResult();
    ~PostgresResult();
    PostgresResult(PostgresResult &&) noexcept;
    PostgresResult &operator=(PostgresResult &&) noexcept;

    bool ok() const { return m_ok; }
    // The server's (or libpq's) message when the statement failed.
    QString errorMessage() const { return m_error; }
    // The five-character SQLSTATE of a failure, "" when there is none.
    QString sqlState() const { return m_sqlState; }
    // Rows an insert, update or delete changed; 0 for other statements.
    qint64 changedRows() const;

    int rowCount() const;
    int columnCount() const;
    QString columnName(int column) const;
    unsigned int columnType(int column) const;
    bool isNull(int row, int column) const;
    // The value's bytes in the binary format of its type; empty for NULL.
    QByteArrayView value(int row, int column) const;

private:
    friend class PostgresConnection;
    struct Clear {
        void operator()(pg_result *result) const;
    };
    std::unique_ptr<pg_result, Clear> m_result;
    bool m_ok = false;
    QString m_error;
    QString m_sqlState;
};

// One session with a PostgreSQL server over libpq. Every statement runs alone (no second
// statement in one text), with its values bound as parameters; binary data is never escaped into
// the text. The session runs with standard_conforming_strings on (a backslash in a literal is a
// plain character) and DateStyle ISO.
//
// A mutex guards the session: two threads may share one object, each statement and the reading
// of its result happen as one step.
class PostgresConnection
{
public:
    struct Settings {
        QString host; // name, address or socket folder; empty for the local default socket
        int port = 0; // 0 for the default port
        QString user;
        // Sent as it stands when not empty. When empty, libpq takes the password from PGPASSWORD or
        // ~/.pgpass (PGPASSFILE), and `fallbackPassword` is sent only when the server asks for one
        // that neither of them gave.
        QString password;
        QString fallbackPassword;
        QString database;
        int connectTimeoutSeconds = 5;
        // When set, a connection being made is given up as soon as it is true.
        const std::atomic<bool> *stop = nullptr;
        // When above zero, execute() waits this long at most for a statement's answer, and then
        // drops the session (isBroken() is true, reset() makes a new one).
        std::chrono::milliseconds answerWait{0};
    };
    enum class TransactionState { Idle, InTransaction, Failed, Unknown };

    PostgresConnection();
    ~PostgresConnection();
    PostgresConnection(const PostgresConnection &) = delete;
    PostgresConnection &operator=(const PostgresConnection &) = delete;

    // Splits "host:port" (the port digits after the last colon) into the two; a host without
    // such a suffix keeps the default port. "[v6-address]:port" works too.
    static Settings settingsFor(const QString &hostAndPort, const QString &user, const QString &password,
                                const QString &database);

    // Connects within the settings' time-out. False, with libpq's message, when the server cannot
    // be reached or refuses the login.
    bool open(const Settings &settings);
    void close();
    bool isOpen() const;
    // True when the session to the server has been lost.
    bool isBroken() const;
    // Connects again with the same settings; false when that fails.
    bool reset();
    // The message of the last failed open, reset or statement.
    QString errorMessage() const;
    // The server's process id of the session that the last open or reset replaced (0 when none):
    // a writer whose session was lost asks whether that process is still at work on the server.
    int endedBackendPid() const;
    // Whether the server gave its answer at the last open or reset: true when it let the session in
    // or refused it (a login, a password, a database, a right); false when it did not answer,
    // answered that it is starting, stopping or full, or the session ended while it was being made.
    bool serverAnswered() const;
    // Whether the server turned the last open or reset away because every connection it allows
    // is taken (too_many_connections): it is there, and full.
    bool serverFull() const;

    // True when the server sends timestamps as 64-bit integer microseconds (every server since
    // 10), false when as doubles.
    bool integerDateTimes() const;
    QString parameterStatus(const char *name) const;
    TransactionState transactionState() const;

    PostgresResult execute(const QString &sql, const QList<PostgresParameter> &parameters = {});
    // Runs the statement and hands its rows to `onRow` as they arrive, each in a result of its
    // own (row 0), instead of holding the whole result first: a long listing is read while the
    // server still sends it, and never held twice. Once `onRow` answers false, the rest of the
    // rows are read and dropped. The returned result carries the statement's status, no rows; a
    // failure can come after some rows were handed over.
    // Runs a statement without parameters as execute() does, waiting for its answer until
    // `abandonAt` at most, or a moment after `stopped` first answers true (it is asked a few times
    // a second). A statement still running then is asked to end, and the session is dropped
    // (isBroken() is true, reset() makes a new one): the answer is a failure with SQLSTATE 57014,
    // as a statement ended by the server's time limit or a cancel.
    PostgresResult executeWithin(const QString &sql, std::chrono::steady_clock::time_point abandonAt,
                                 const std::function<bool()> &stopped = {});
    using RowReader = std::function<bool(const PostgresResult &result, int row)>;
    PostgresResult executeRowByRow(const QString &sql, const QList<PostgresParameter> &parameters,
                                   const RowReader &onRow);

    // From any thread, also while execute() runs on another: asks the server to end the statement
    // running now (it then fails with SQLSTATE 57014). False when the request could not be sent.
    bool cancelRunningStatement();

private:
    struct Finish {
        void operator()(pg_conn *connection) const;
    };
    struct FreeCancel {
        void operator()(pg_cancel *cancel) const;
    };
    struct BoundParameters;
    bool openLocked();
    // One attempt with the settings and that password (none when empty): the session as it ended,
    // whether the server did not finish it within the connect timeout, and, when it failed, whether
    // the server takes connections at all.
    struct Attempt {
        std::unique_ptr<pg_conn, Finish> connection;
        bool timedOut = false;
        bool serverAnswered = true;
        bool serverFull = false;
    };
    Attempt connectWith(const QString &password) const;
    // Takes a failed result's message and SQLSTATE.
    void takeFailureLocked(PostgresResult &result);
    // Waits for the answer of the statement sent, until `abandonAt`, or a moment after `stopped`
    // first answers true. False when it did not come by then.
    bool awaitAnswerLocked(std::chrono::steady_clock::time_point abandonAt, const std::function<bool()> &stopped);
    // Drops the session, first asking the server to end the statement running now when
    // `askToEnd`.
    void dropSessionLocked(bool askToEnd);
    // The statement's result once its answer is there.
    PostgresResult takeResultsLocked();

    mutable std::mutex m_mutex;
    std::unique_ptr<pg_conn, Finish> m_connection;
    // Kept apart from the session's mutex, which execute() holds while the statement runs.
    std::mutex m_cancelMutex;
    std::unique_ptr<pg_cancel, FreeCancel> m_cancel;
    Settings m_settings;
    QString m_error;
    // The server ended the session (its last failure said so), though libpq may not have seen the
    // socket close yet.
    bool m_ended = false;
    bool m_serverAnswered = true;
    bool m_serverFull = false;
    int m_backendPid = 0;
    int m_endedBackendPid = 0;
};
