#include "../support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <memory>

namespace {

struct ConnectionCloser {
    void operator()(PGconn *connection) const { PQfinish(connection); }
};

std::unique_ptr<PGconn, ConnectionCloser> connect(const QByteArray &host, const PgTestServer &server)
{
    const QByteArray port = QByteArray::number(server.port);
    const QByteArray user = server.user.toUtf8();
    const QByteArray password = server.password.toUtf8();
    const QByteArray database = server.database.toUtf8();
    const char *keys[] = {"host", "port", "user", "password", "dbname", "connect_timeout", nullptr};
    const char *values[] = {
        host.constData(), port.constData(), user.constData(), password.constData(), database.constData(), "5", nullptr};
    return std::unique_ptr<PGconn, ConnectionCloser>(PQconnectdbParams(keys, values, 0));
}

} // namespace

// The throwaway server that scripts/test starts is reachable from the tests, over its Unix socket
// and over loopback TCP with the catalog account's password.
TEST(PgTestServerTest, ReachableOverSocketAndLoopback)
{
    const std::optional<PgTestServer> server = pgTestServer();
    OVN_REQUIRE_PG_SERVER(server);
    for (const QString &host : {server->host, server->tcpHost}) {
        auto connection = connect(host.toUtf8(), *server);
        ASSERT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
        PGresult *result = PQexec(connection.get(), "SELECT current_user, current_database()");
        ASSERT_EQ(PQresultStatus(result), PGRES_TUPLES_OK);
        EXPECT_STREQ(PQgetvalue(result, 0, 0), qPrintable(server->user));
        EXPECT_STREQ(PQgetvalue(result, 0, 1), qPrintable(server->database));
        PQclear(result);
    }
}

TEST(PgTestServerTest, WrongPasswordIsRefusedOverLoopback)
{
    std::optional<PgTestServer> server = pgTestServer();
    OVN_REQUIRE_PG_SERVER(server);
    server->password = QStringLiteral("not the password");
    auto connection = connect(server->tcpHost.toUtf8(), *server);
    EXPECT_NE(PQstatus(connection.get()), CONNECTION_OK);
}
