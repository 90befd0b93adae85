#include "app/QRXUpdateCheck.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <memory>

namespace {

// A loopback web server that answers every request with one canned response (or never answers),
// and remembers the request lines it read.
class CannedServer
{
public:
    explicit CannedServer(QByteArray response) : m_response(std::move(response))
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_request += socket->readAll();
                    if (!m_request.contains("\r\n\r\n") || m_response.isEmpty())
                        return; // an empty response: keep the client waiting
                    socket->write(m_response);
                    socket->disconnectFromHost();
                });
            }
        });
    }

    QString endpoint() const
    {
        return QStringLiteral("http://127.0.0.1:%1/support/updatecheck/index.php").arg(m_server.serverPort());
    }
    QByteArray requestLine() const { return m_request.left(m_request.indexOf("\r\n")); }

    static QByteArray reply(const QByteArray &status, const QByteArray &body)
    {
        return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: "
               + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

private:
    QTcpServer m_server;
    QByteArray m_response;
    QByteArray m_request;
};

TEST(UpdateCheckTest, OnlyTheExactReplyYESMeansAnUpdate)
{
    const struct {
        QByteArray response;
        bool update;
    } cases[] = {
        {CannedServer::reply("200 OK", "YES"), true},
        {CannedServer::reply("200 OK", "YES\n"), false},
        {CannedServer::reply("200 OK", "NO"), false},
        {CannedServer::reply("200 OK", ""), false},
        {CannedServer::reply("404 Not Found", "YES"), false},
        {CannedServer::reply("500 Internal Server Error", "YES"), false},
        {CannedServer::reply("200 OK", QByteArray(100000, 'Y')), false},
    };
    for (const auto &testCase : cases) {
        CannedServer server(testCase.response);
        QRXUpdateCheck check(server.endpoint(), QStringLiteral("0.1.0"));
        ASSERT_TRUE(check.isConfigured());
        EXPECT_EQ(check.checkForUpdateAvailable(), testCase.update) << testCase.response.left(40).constData();
        EXPECT_EQ(server.requestLine(),
                  "GET /support/updatecheck/index.php?build=0.1.0&Application=OSV&replytype=application HTTP/1.1");
    }
}

TEST(UpdateCheckTest, AServerThatNeverAnswersCountsAsNoUpdateAfterTheTimeOut)
{
    CannedServer server{QByteArray()};
    QRXUpdateCheck check(server.endpoint(), QStringLiteral("0.1.0"), 400);
    // The check returns at its time-out with no update; a wait for ever is the test's own time-out.
    EXPECT_FALSE(check.checkForUpdateAvailable());
    EXPECT_EQ(QRXUpdateCheck::defaultTimeoutMsecs, 5000);
}

TEST(UpdateCheckTest, NoEndpointNoRequest)
{
    for (const char *endpoint :
         {"", "   ", "not a url", "file:///etc/passwd", "ftp://example.org/x", "http:///nohost"}) {
        QRXUpdateCheck check(QString::fromLatin1(endpoint), QStringLiteral("0.1.0"));
        EXPECT_FALSE(check.isConfigured()) << endpoint;
        EXPECT_FALSE(check.checkForUpdateAvailable()) << endpoint;
    }
    // Without a build number the request cannot be formed.
    EXPECT_FALSE(QRXUpdateCheck(QStringLiteral("http://example.org/u.php"), QString()).isConfigured());
}

TEST(UpdateCheckTest, PageAndCheckAddresses)
{
    const QString base = QStringLiteral("http://updates.example.org/support/updatecheck/index.php");
    EXPECT_EQ(QRXUpdateCheck::pageURL(base, "0.1.0").toString(), base + QStringLiteral("?build=0.1.0&Application=OSV"));
    EXPECT_EQ(QRXUpdateCheck::checkURL(base + QStringLiteral("?"), "0.1.0").toString(),
              base + QStringLiteral("?build=0.1.0&Application=OSV&replytype=application"));
    // A query of the endpoint's own is kept; a build number cannot add parameters.
    const QUrl url = QRXUpdateCheck::checkURL(base + QStringLiteral("?channel=beta"), "1&x=2");
    const QUrlQuery query(url);
    EXPECT_EQ(query.queryItemValue("channel"), "beta");
    EXPECT_EQ(query.queryItemValue("build", QUrl::FullyDecoded), "1&x=2");
    EXPECT_FALSE(query.hasQueryItem("x"));
    EXPECT_EQ(query.queryItemValue("replytype"), "application");
}

TEST(UpdateCheckTest, ACheckIsDueOncePerPeriod)
{
    const QDateTime now = QDateTime::currentDateTime();
    EXPECT_TRUE(QRXUpdateCheck::isCheckDue(QDateTime(), 1, now));
    EXPECT_TRUE(QRXUpdateCheck::isCheckDue(QDateTime(), 7, now)); // first check, any period
    EXPECT_FALSE(QRXUpdateCheck::isCheckDue(now.addSecs(-86400 * 365), 7, now));
    EXPECT_FALSE(QRXUpdateCheck::isCheckDue(now.addSecs(-86400), 0, now));
    EXPECT_TRUE(QRXUpdateCheck::isCheckDue(now.addSecs(-86401), 0, now));
    EXPECT_FALSE(QRXUpdateCheck::isCheckDue(now.addSecs(-604800), 1, now));
    EXPECT_TRUE(QRXUpdateCheck::isCheckDue(now.addSecs(-604801), 1, now));
    EXPECT_FALSE(QRXUpdateCheck::isCheckDue(now.addSecs(-2592000), 2, now));
    EXPECT_TRUE(QRXUpdateCheck::isCheckDue(now.addSecs(-2592001), 2, now));
    // A date in the future, left by a clock that was wrong: checked again rather than never.
    EXPECT_TRUE(QRXUpdateCheck::isCheckDue(now.addSecs(86400 * 30), 1, now));
}

} // namespace
