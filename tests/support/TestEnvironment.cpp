#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QThread>

QString testDataDir()
{
    const QString fromEnvironment = qEnvironmentVariable("OVN_TESTDATA");
    if (!fromEnvironment.isEmpty() && QFileInfo(fromEnvironment).isDir())
        return QDir(fromEnvironment).absolutePath();
    const QString beside = QStringLiteral(OVN_SOURCE_DIR "/../shared/testdata");
    if (QFileInfo(beside).isDir())
        return QDir(beside).absolutePath();
    return QString();
}

bool testDataIsRequired() { return qEnvironmentVariable("CI") == QLatin1String("true"); }

std::optional<PgTestServer> pgTestServer()
{
    const QString port = qEnvironmentVariable("OVN_TEST_PG_PORT");
    if (port.isEmpty())
        return std::nullopt;
    PgTestServer server;
    server.host = qEnvironmentVariable("OVN_TEST_PG_SOCKET_DIR");
    server.tcpHost = qEnvironmentVariable("OVN_TEST_PG_HOST", QStringLiteral("127.0.0.1"));
    server.port = port.toInt();
    server.user = qEnvironmentVariable("OVN_TEST_PG_USER");
    server.password = qEnvironmentVariable("OVN_TEST_PG_PASSWORD");
    server.database = qEnvironmentVariable("OVN_TEST_PG_DB");
    return server;
}

bool pgTestServerIsRequired() { return qEnvironmentVariable("OVN_TEST_PG_REQUIRED") == QLatin1String("1"); }

bool processEventsUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}
