#include "platform/PostgresConnection.h"

#include <libpq-fe.h>

#include <QRegularExpression>

#include <dlfcn.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <type_traits>
#include <vector>

namespace {

// libpq is loaded at the first server connection: a program on a catalog file never loads it, nor
// the thirty libraries it brings along (TLS, Kerberos, LDAP), and starts that much sooner.
#define OVN_LIBPQ_FUNCTIONS                                                                                            \
    OVN_LIBPQ_FUNCTION(PQbackendPID)                                                                                   \
    OVN_LIBPQ_FUNCTION(PQcancel)                                                                                       \
    OVN_LIBPQ_FUNCTION(PQclear)                                                                                        \
    OVN_LIBPQ_FUNCTION(PQcmdTuples)                                                                                    \
    OVN_LIBPQ_FUNCTION(PQconnectPoll)                                                                                  \
    OVN_LIBPQ_FUNCTION(PQconnectionNeedsPassword)                                                                      \
    OVN_LIBPQ_FUNCTION(PQconnectStartParams)                                                                           \
    OVN_LIBPQ_FUNCTION(PQconsumeInput)                                                                                 \
    OVN_LIBPQ_FUNCTION(PQerrorMessage)                                                                                 \
    OVN_LIBPQ_FUNCTION(PQexecParams)                                                                                   \
    OVN_LIBPQ_FUNCTION(PQfinish)                                                                                       \
    OVN_LIBPQ_FUNCTION(PQfname)                                                                                        \
    OVN_LIBPQ_FUNCTION(PQfreeCancel)                                                                                   \
    OVN_LIBPQ_FUNCTION(PQftype)                                                                                        \
    OVN_LIBPQ_FUNCTION(PQgetCancel)                                                                                    \
    OVN_LIBPQ_FUNCTION(PQgetResult)                                                                                    \
    OVN_LIBPQ_FUNCTION(PQgetisnull)                                                                                    \
    OVN_LIBPQ_FUNCTION(PQgetlength)                                                                                    \
    OVN_LIBPQ_FUNCTION(PQgetvalue)                                                                                     \
    OVN_LIBPQ_FUNCTION(PQisBusy)                                                                                       \
    OVN_LIBPQ_FUNCTION(PQnfields)                                                                                      \
    OVN_LIBPQ_FUNCTION(PQntuples)                                                                                      \
    OVN_LIBPQ_FUNCTION(PQparameterStatus)                                                                              \
    OVN_LIBPQ_FUNCTION(PQresultErrorField)                                                                             \
    OVN_LIBPQ_FUNCTION(PQresultErrorMessage)                                                                           \
    OVN_LIBPQ_FUNCTION(PQresultStatus)                                                                                 \
    OVN_LIBPQ_FUNCTION(PQsendQueryParams)                                                                              \
    OVN_LIBPQ_FUNCTION(PQsetErrorVerbosity)                                                                            \
    OVN_LIBPQ_FUNCTION(PQsetNoticeProcessor)                                                                           \
    OVN_LIBPQ_FUNCTION(PQsetSingleRowMode)                                                                             \
    OVN_LIBPQ_FUNCTION(PQsocket)                                                                                       \
    OVN_LIBPQ_FUNCTION(PQstatus)                                                                                       \
    OVN_LIBPQ_FUNCTION(PQtransactionStatus)

struct LibPq {
#define OVN_LIBPQ_FUNCTION(name) decltype(&::name) name = nullptr;
    OVN_LIBPQ_FUNCTIONS
#undef OVN_LIBPQ_FUNCTION
    bool loaded = false;
    QString error;
};

const LibPq &libpq()
{
    static const LibPq library = [] {
        LibPq loaded;
        void *handle = dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            loaded.error = QString::fromLocal8Bit(dlerror());
            return loaded;
        }
        bool complete = true;
#define OVN_LIBPQ_FUNCTION(name)                                                                                       \
    loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                                           \
    complete = complete && loaded.name;
        OVN_LIBPQ_FUNCTIONS
#undef OVN_LIBPQ_FUNCTION
        loaded.loaded = complete;
        if (!complete)
            loaded.error = QStringLiteral("libpq.so.5 lacks a function this program needs");
        return loaded;
    }();
    return library;
}

constexpr Oid byteaOid = 17;
constexpr int binaryFormat = 1;

// Server notices ("table does not exist, skipping" and the like) are no errors, nor is the
// message of a server that ends an idle session (libpq hands it over as a notice): they go to the
// log, where libpq would print them on standard error.
void logNotice(void *, const char *message)
{
    qInfo("The catalog server says: %s", qUtf8Printable(QString::fromUtf8(message ? message : "").simplified()));
}

bool sessionEndingFailure(const QByteArray &severity, const QString &sqlState)
{
    if (severity == "FATAL" || severity == "PANIC")
        return true;
    // Class 08 (connection exception), 57P01 to 57P05 (administrator, crash and idle shutdowns).
    return sqlState.startsWith(QLatin1String("08")) || sqlState.startsWith(QLatin1String("57P"));
}

// libpq's messages run over several lines with tab-indented hints; the user sees them in an alert,
// where one flowing paragraph reads better.
QString trimmedMessage(const char *message) { return QString::fromUtf8(message ? message : "").simplified(); }

// The SQLSTATE of the server's answer in a failed connection's message, which is built with every
// field while the session is made ("FATAL:  28P01: password authentication failed ..."); empty
// when the server sent none (the connection ended, or libpq itself gave up).
QString connectionFailureState(const QString &message)
{
    static const QRegularExpression state(QStringLiteral(":  ([0-9A-Z]{5}): "));
    const QRegularExpressionMatch match = state.match(message);
    return match.hasMatch() ? match.captured(1) : QString();
}

// The message as the user reads it: without the SQLSTATE and the server's source location.
QString connectionFailureText(const char *message)
{
    QString text = QString::fromUtf8(message ? message : "");
    static const QRegularExpression location(QStringLiteral("(^|\n)LOCATION:[^\n]*"));
    static const QRegularExpression state(QStringLiteral(":  [0-9A-Z]{5}: "));
    text.remove(location);
    text.replace(state, QStringLiteral(":  "));
    return text.simplified();
}

// A server whose every connection slot is taken answers a new one with this.
constexpr const char *tooManyConnectionsState = "53300";

// Whether a failed connection is the server's refusal of it (a login, a database, a right), which
// trying again does not change, rather than a session that ended while it was being made, a server
// that is starting, stopping or full, or one that could not be reached: those may go through later.
bool refusedByServer(const QString &sqlState)
{
    if (sqlState.isEmpty())
        return false;
    // Class 08 (connection exception), 53 (insufficient resources: too many connections), 57
    // (operator intervention: ended by an administrator, starting up, shutting down).
    return !sqlState.startsWith(QLatin1String("08")) && !sqlState.startsWith(QLatin1String("53"))
           && !sqlState.startsWith(QLatin1String("57"));
}

} // namespace

// ---- PostgresResult ----

void PostgresResult::Clear::operator()(pg_result *result) const { libpq().PQclear(result); }

PostgresResult::PostgresResult() = default;
PostgresResult::~PostgresResult() = default;
PostgresResult::PostgresResult(PostgresResult &&) noexcept = default;
PostgresResult &PostgresResult::operator=(PostgresResult &&) noexcept = default;

qint64 PostgresResult::changedRows() const
{
    if (!m_result || libpq().PQresultStatus(m_result.get()) != PGRES_COMMAND_OK)
        return 0;
    return QByteArray(libpq().PQcmdTuples(m_result.get())).toLongLong();
}

int PostgresResult::rowCount() const { return m_result ? libpq().PQntuples(m_result.get()) : 0; }

int PostgresResult::columnCount() const { return m_result ? libpq().PQnfields(m_result.get()) : 0; }

QString PostgresResult::columnName(int column) const
{
    return m_result ? QString::fromUtf8(libpq().PQfname(m_result.get(), column)) : QString();
}

unsigned int PostgresResult::columnType(int column) const
{
    return m_result ? libpq().PQftype(m_result.get(), column) : 0;
}

bool PostgresResult::isNull(int row, int column) const
{
    return !m_result || libpq().PQgetisnull(m_result.get(), row, column);
}

QByteArrayView PostgresResult::value(int row, int column) const
{
    if (isNull(row, column))
        return {};
    return QByteArrayView(libpq().PQgetvalue(m_result.get(), row, column),
                          libpq().PQgetlength(m_result.get(), row, column));
}

// ---- PostgresConnection ----

void PostgresConnection::Finish::operator()(pg_conn *connection) const { libpq().PQfinish(connection); }

void PostgresConnection::FreeCancel::operator()(pg_cancel *cancel) const { libpq().PQfreeCancel(cancel); }

PostgresConnection::PostgresConnection() = default;
PostgresConnection::~PostgresConnection() = default;

PostgresConnection::Settings PostgresConnection::settingsFor(const QString &hostAndPort, const QString &user,
                                                             const QString &password, const QString &database)
{
    Settings settings;
    settings.user = user;
    settings.password = password;
    settings.database = database;
    QString host = hostAndPort.trimmed();
    const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
    // A bare IPv6 address has colons of its own and no port; "[address]:port" has one.
    const bool bracketed = host.startsWith(QLatin1Char('['));
    if (colon > 0 && (bracketed || host.indexOf(QLatin1Char(':')) == colon)) {
        bool isNumber = false;
        const int port = host.mid(colon + 1).toInt(&isNumber);
        if (isNumber && port > 0 && port < 65536) {
            settings.port = port;
            host.truncate(colon);
        }
    }
    if (bracketed && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    settings.host = host;
    return settings;
}

bool PostgresConnection::open(const Settings &settings)
{
    std::lock_guard lock(m_mutex);
    m_settings = settings;
    return openLocked();
}

PostgresConnection::Attempt PostgresConnection::connectWith(const QString &password) const
{
    const QByteArray host = m_settings.host.toUtf8();
    const QByteArray port = m_settings.port > 0 ? QByteArray::number(m_settings.port) : QByteArray();
    const QByteArray user = m_settings.user.toUtf8();
    const QByteArray passwordBytes = password.toUtf8();
    const QByteArray database = m_settings.database.toUtf8();
    const QByteArray timeout = QByteArray::number(qMax(1, m_settings.connectTimeoutSeconds));
    const QByteArray encoding("UTF8");
    const QByteArray options("-c standard_conforming_strings=on -c DateStyle=ISO");
    const QByteArray application("Ostrevan");

    std::vector<const char *> keys;
    std::vector<const char *> values;
    const auto add = [&](const char *key, const QByteArray &value) {
        if (!value.isEmpty()) {
            keys.push_back(key);
            values.push_back(value.constData());
        }
    };
    add("host", host); // none: libpq's default socket
    add("port", port);
    add("user", user);
    add("password", passwordBytes); // none: libpq asks PGPASSWORD, then ~/.pgpass
    add("dbname", database);
    add("connect_timeout", timeout);
    add("client_encoding", encoding);
    add("options", options);
    add("application_name", application);
    keys.push_back(nullptr);
    values.push_back(nullptr);

    // expand_dbname 0: a database name is only a name, never a connection string. The session is
    // made step by step, so that the notice processor is there before the server's first message
    // (a server that ends the session right after letting it in says so as a notice).
    Attempt attempt;
    attempt.connection.reset(libpq().PQconnectStartParams(keys.data(), values.data(), 0));
    pg_conn *connection = attempt.connection.get();
    if (!connection)
        return attempt;
    libpq().PQsetNoticeProcessor(connection, logNotice, nullptr);
    // With the SQLSTATE in a failure's message, a refusal is told from a session that ended.
    libpq().PQsetErrorVerbosity(connection, PQERRORS_VERBOSE);
    if (libpq().PQstatus(connection) != CONNECTION_BAD) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(qMax(1, m_settings.connectTimeoutSeconds));
        PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
        while (polling != PGRES_POLLING_OK && polling != PGRES_POLLING_FAILED) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || (m_settings.stop && m_settings.stop->load()))
                break;
            pollfd socket{libpq().PQsocket(connection), short(polling == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
            if (socket.fd < 0)
                break;
            // In slices, so that a stop is heard while a server that does not answer is waited for.
            const int ready = ::poll(&socket, 1, int(std::min<qint64>(left.count(), 100)));
            if (ready < 0 && errno != EINTR)
                break;
            if (ready <= 0)
                continue;
            polling = libpq().PQconnectPoll(connection);
        }
        if (polling != PGRES_POLLING_OK && polling != PGRES_POLLING_FAILED) {
            attempt.timedOut = true;
            return attempt;
        }
    }
    if (libpq().PQstatus(connection) == CONNECTION_OK) {
        libpq().PQsetErrorVerbosity(connection, PQERRORS_DEFAULT);
        return attempt;
    }
    // A server that refused this connection (a login, a database, a right, a password it wants)
    // has answered. One that does not answer, is starting or stopping, or ended the session while
    // it was being made (the answer is then libpq's, not the server's) may come back.
    const QString state = connectionFailureState(QString::fromUtf8(libpq().PQerrorMessage(connection)));
    attempt.serverAnswered = refusedByServer(state) || libpq().PQconnectionNeedsPassword(connection) == 1;
    attempt.serverFull = state == QLatin1String(tooManyConnectionsState);
    return attempt;
}

bool PostgresConnection::openLocked()
{
    if (!libpq().loaded) {
        m_error = QStringLiteral("The PostgreSQL client library cannot be loaded: ") + libpq().error;
        return false;
    }
    {
        std::lock_guard cancelLock(m_cancelMutex);
        m_cancel.reset();
    }
    if (m_backendPid > 0)
        m_endedBackendPid = m_backendPid;
    m_backendPid = 0;
    m_connection.reset();
    m_serverFull = false;
    Attempt attempt = connectWith(m_settings.password);
    // Without a password of its own the session asked PGPASSWORD and ~/.pgpass; the fallback is
    // for a server that wants one that neither of them gave.
    if (attempt.connection && !attempt.timedOut && libpq().PQstatus(attempt.connection.get()) != CONNECTION_OK
        && m_settings.password.isEmpty() && !m_settings.fallbackPassword.isEmpty()
        && libpq().PQconnectionNeedsPassword(attempt.connection.get()) == 1)
        attempt = connectWith(m_settings.fallbackPassword);
    std::unique_ptr<pg_conn, Finish> connection = std::move(attempt.connection);
    if (!connection) {
        m_error = QStringLiteral("out of memory");
        return false;
    }
    if (attempt.timedOut) {
        m_error = QStringLiteral("the connection to the catalog server timed out");
        m_serverAnswered = false;
        return false;
    }
    if (libpq().PQstatus(connection.get()) != CONNECTION_OK) {
        m_error = connectionFailureText(libpq().PQerrorMessage(connection.get()));
        m_serverAnswered = attempt.serverAnswered;
        m_serverFull = attempt.serverFull;
        return false;
    }
    m_serverAnswered = true;
    {
        std::lock_guard cancelLock(m_cancelMutex);
        m_cancel.reset(libpq().PQgetCancel(connection.get()));
    }
    m_backendPid = libpq().PQbackendPID(connection.get());
    m_connection = std::move(connection);
    m_ended = false;
    m_error.clear();
    return true;
}

void PostgresConnection::close()
{
    std::lock_guard lock(m_mutex);
    {
        std::lock_guard cancelLock(m_cancelMutex);
        m_cancel.reset();
    }
    m_connection.reset();
}

bool PostgresConnection::cancelRunningStatement()
{
    std::lock_guard cancelLock(m_cancelMutex);
    if (!m_cancel)
        return false;
    char message[256] = {};
    return libpq().PQcancel(m_cancel.get(), message, int(sizeof message)) == 1;
}

bool PostgresConnection::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_connection != nullptr;
}

bool PostgresConnection::isBroken() const
{
    std::lock_guard lock(m_mutex);
    return !m_connection || m_ended || libpq().PQstatus(m_connection.get()) != CONNECTION_OK;
}

bool PostgresConnection::reset()
{
    std::lock_guard lock(m_mutex);
    return openLocked();
}

int PostgresConnection::endedBackendPid() const
{
    std::lock_guard lock(m_mutex);
    return m_endedBackendPid;
}

bool PostgresConnection::serverAnswered() const
{
    std::lock_guard lock(m_mutex);
    return m_serverAnswered;
}

bool PostgresConnection::serverFull() const
{
    std::lock_guard lock(m_mutex);
    return m_serverFull;
}

QString PostgresConnection::errorMessage() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

bool PostgresConnection::integerDateTimes() const
{
    // Servers before 8.4 could be built with double timestamps; they say so in this parameter.
    const QString value = parameterStatus("integer_datetimes");
    return value.isEmpty() || value == QLatin1String("on");
}

QString PostgresConnection::parameterStatus(const char *name) const
{
    std::lock_guard lock(m_mutex);
    if (!m_connection)
        return QString();
    return QString::fromUtf8(libpq().PQparameterStatus(m_connection.get(), name));
}

PostgresConnection::TransactionState PostgresConnection::transactionState() const
{
    std::lock_guard lock(m_mutex);
    if (!m_connection)
        return TransactionState::Unknown;
    switch (libpq().PQtransactionStatus(m_connection.get())) {
    case PQTRANS_IDLE:
        return TransactionState::Idle;
    case PQTRANS_INTRANS:
        return TransactionState::InTransaction;
    case PQTRANS_INERROR:
        return TransactionState::Failed;
    default:
        return TransactionState::Unknown;
    }
}

namespace {

// As PQexecParams does: a copy in either direction or a lost session ends the reading of results.
bool readingEnds(pg_conn *connection, ExecStatusType status)
{
    return status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH
           || libpq().PQstatus(connection) == CONNECTION_BAD;
}

} // namespace

// A statement's parameters as libpq takes them; the values point into the parameters' bytes.
struct PostgresConnection::BoundParameters {
    explicit BoundParameters(const QList<PostgresParameter> &parameters)
        : types(size_t(parameters.size()), 0),
          values(size_t(parameters.size()), nullptr),
          lengths(size_t(parameters.size()), 0),
          formats(size_t(parameters.size()), 0)
    {
        for (size_t i = 0; i < types.size(); ++i) {
            const PostgresParameter &parameter = parameters.at(qsizetype(i));
            switch (parameter.kind) {
            case PostgresParameter::Kind::Null:
                break;
            case PostgresParameter::Kind::Text:
                values[i] = parameter.bytes.constData(); // never null: QByteArray ends in a 0 byte
                lengths[i] = int(parameter.bytes.size());
                break;
            case PostgresParameter::Kind::Binary:
                types[i] = byteaOid;
                values[i] = parameter.bytes.constData();
                lengths[i] = int(parameter.bytes.size());
                formats[i] = binaryFormat;
                break;
            }
        }
    }
    int count() const { return int(types.size()); }

    std::vector<Oid> types;
    std::vector<const char *> values;
    std::vector<int> lengths;
    std::vector<int> formats;
};

void PostgresConnection::takeFailureLocked(PostgresResult &result)
{
    result.m_ok = false;
    result.m_error = result.m_result ? trimmedMessage(libpq().PQresultErrorMessage(result.m_result.get())) : QString();
    if (result.m_error.isEmpty())
        result.m_error = trimmedMessage(libpq().PQerrorMessage(m_connection.get()));
    QByteArray severity;
    if (result.m_result) {
        result.m_sqlState = QString::fromLatin1(libpq().PQresultErrorField(result.m_result.get(), PG_DIAG_SQLSTATE));
        severity = libpq().PQresultErrorField(result.m_result.get(), PG_DIAG_SEVERITY_NONLOCALIZED);
    }
    // The server ends the session after a FATAL or PANIC error, and after one of the states that
    // say so (a connection failure, an administrator's or a crash's shutdown), whether or not libpq
    // has seen the socket close yet: the session is over either way, and the next statement must
    // not be sent into it as if it were still open.
    if (sessionEndingFailure(severity, result.m_sqlState) || libpq().PQstatus(m_connection.get()) != CONNECTION_OK)
        m_ended = true;
    m_error = result.m_error;
}

PostgresResult PostgresConnection::execute(const QString &sql, const QList<PostgresParameter> &parameters)
{
    PostgresResult result;
    std::lock_guard lock(m_mutex);
    if (!m_connection) {
        result.m_error = m_error = QStringLiteral("not connected");
        return result;
    }
    const QByteArray text = sql.toUtf8();
    const BoundParameters bound(parameters);
    if (m_settings.answerWait.count() <= 0) {
        // The extended protocol that PQexecParams speaks refuses a second statement in the text.
        result.m_result.reset(libpq().PQexecParams(m_connection.get(), text.constData(), bound.count(),
                                                   bound.types.data(), bound.values.data(), bound.lengths.data(),
                                                   bound.formats.data(), binaryFormat));
        const ExecStatusType status = result.m_result ? libpq().PQresultStatus(result.m_result.get())
                                                      : PGRES_FATAL_ERROR;
        result.m_ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        if (!result.m_ok)
            takeFailureLocked(result);
        return result;
    }
    if (libpq().PQsendQueryParams(m_connection.get(), text.constData(), bound.count(), bound.types.data(),
                                  bound.values.data(), bound.lengths.data(), bound.formats.data(), binaryFormat)
        != 1) {
        takeFailureLocked(result);
        return result;
    }
    // A server that stopped answering (a network that holds the packets, a host that went away
    // without closing anything) is not waited for past the answer wait: the session is dropped, so
    // that the caller's own wait for the server, and its time, take over.
    if (!awaitAnswerLocked(std::chrono::steady_clock::now() + m_settings.answerWait, {})) {
        // A cancel request would go the same silent way and wait for its answer as long.
        dropSessionLocked(false);
        result.m_error = m_error = QStringLiteral("The catalog server did not answer for %1 seconds.")
                                       .arg(std::chrono::ceil<std::chrono::seconds>(m_settings.answerWait).count());
        result.m_sqlState = QStringLiteral("08006");
        return result;
    }
    return takeResultsLocked();
}

bool PostgresConnection::awaitAnswerLocked(std::chrono::steady_clock::time_point abandonAt,
                                           const std::function<bool()> &stopped)
{
    // How long a statement that was asked to stop is waited for before its session is dropped.
    constexpr std::chrono::milliseconds stopGrace{1500};
    bool stopSeen = false;
    while (libpq().PQisBusy(m_connection.get()) == 1) {
        if (!stopSeen && stopped && stopped()) {
            stopSeen = true;
            abandonAt = std::min(abandonAt, std::chrono::steady_clock::now() + stopGrace);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(abandonAt - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd socket{libpq().PQsocket(m_connection.get()), POLLIN, 0};
        const int ready = ::poll(&socket, 1, int(std::min<qint64>(left.count(), 200)));
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0 && libpq().PQconsumeInput(m_connection.get()) != 1)
            break; // the session is lost: PQgetResult says so
    }
    return true;
}

void PostgresConnection::dropSessionLocked(bool askToEnd)
{
    {
        std::lock_guard cancelLock(m_cancelMutex);
        if (m_cancel && askToEnd) {
            char message[256] = {};
            libpq().PQcancel(m_cancel.get(), message, int(sizeof message));
        }
        m_cancel.reset();
    }
    m_connection.reset();
    m_ended = true;
}

PostgresResult PostgresConnection::takeResultsLocked()
{
    PostgresResult result;
    bool failed = false;
    while (PGresult *next = libpq().PQgetResult(m_connection.get())) {
        const ExecStatusType status = libpq().PQresultStatus(next);
        if (!failed) {
            result.m_result.reset(next);
            failed = status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
        } else {
            libpq().PQclear(next);
        }
        if (readingEnds(m_connection.get(), status))
            break;
    }
    result.m_ok = result.m_result && !failed;
    if (!result.m_ok)
        takeFailureLocked(result);
    return result;
}

PostgresResult PostgresConnection::executeWithin(const QString &sql, std::chrono::steady_clock::time_point abandonAt,
                                                 const std::function<bool()> &stopped)
{
    PostgresResult result;
    std::lock_guard lock(m_mutex);
    if (!m_connection) {
        result.m_error = m_error = QStringLiteral("not connected");
        return result;
    }
    const QByteArray text = sql.toUtf8();
    if (libpq().PQsendQueryParams(m_connection.get(), text.constData(), 0, nullptr, nullptr, nullptr, nullptr,
                                  binaryFormat)
        != 1) {
        takeFailureLocked(result);
        return result;
    }
    // The server looks at its time limit and at cancel requests only between steps of its own, and
    // one step (a LIKE over a long text) may run for many seconds; the answer is waited for until
    // `abandonAt` only, and then the session is dropped, so that the caller is back at once.
    if (!awaitAnswerLocked(abandonAt, stopped)) {
        dropSessionLocked(true);
        result.m_error = m_error = QStringLiteral("canceling statement due to statement timeout");
        result.m_sqlState = QStringLiteral("57014");
        return result;
    }
    return takeResultsLocked();
}

PostgresResult PostgresConnection::executeRowByRow(const QString &sql, const QList<PostgresParameter> &parameters,
                                                   const RowReader &onRow)
{
    PostgresResult outcome;
    std::lock_guard lock(m_mutex);
    if (!m_connection) {
        outcome.m_error = m_error = QStringLiteral("not connected");
        return outcome;
    }
    const QByteArray text = sql.toUtf8();
    const BoundParameters bound(parameters);
    if (libpq().PQsendQueryParams(m_connection.get(), text.constData(), bound.count(), bound.types.data(),
                                  bound.values.data(), bound.lengths.data(), bound.formats.data(), binaryFormat)
        != 1) {
        takeFailureLocked(outcome);
        return outcome;
    }
    // Single-row mode can only be refused right after the send; the rows then come in one
    // result, which is read just the same.
    libpq().PQsetSingleRowMode(m_connection.get());
    bool reading = true;
    bool failed = false;
    PostgresResult part;
    while (PGresult *next = libpq().PQgetResult(m_connection.get())) {
        part.m_result.reset(next);
        const ExecStatusType status = libpq().PQresultStatus(next);
        if (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK) {
            const int rows = libpq().PQntuples(next);
            for (int row = 0; reading && row < rows; ++row)
                reading = onRow(part, row);
            if (status == PGRES_SINGLE_TUPLE)
                continue;
        }
        // A statement's last result has its status; after a failure, the failure's is kept.
        if (!failed) {
            outcome.m_result = std::move(part.m_result);
            failed = status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
        }
        if (readingEnds(m_connection.get(), status))
            break;
    }
    outcome.m_ok = outcome.m_result && !failed;
    if (!outcome.m_ok)
        takeFailureLocked(outcome);
    return outcome;
}
