#include "app/QRXUpdateCheck.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace {

// Longer than "YES" and any line ending a server might add; more is never the answer.
constexpr qint64 kLongestReply = 16;

} // namespace

QRXUpdateCheck::QRXUpdateCheck(const QString &endpoint, const QString &buildNumber, int timeoutMsecs)
    : m_endpoint(endpoint.trimmed()),
      m_buildNumber(buildNumber),
      m_timeoutMsecs(timeoutMsecs)
{}

QRXUpdateCheck::~QRXUpdateCheck() = default;

QUrl QRXUpdateCheck::pageURL(const QString &endpoint, const QString &buildNumber)
{
    const QUrl base(endpoint.trimmed(), QUrl::StrictMode);
    if (!base.isValid() || base.host().isEmpty() || buildNumber.isEmpty()
        || (base.scheme() != QLatin1String("http") && base.scheme() != QLatin1String("https")))
        return QUrl();
    QString query = base.query(QUrl::FullyEncoded);
    if (!query.isEmpty() && !query.endsWith(QLatin1Char('&')))
        query += QLatin1Char('&');
    query += QStringLiteral("build=") + QString::fromLatin1(QUrl::toPercentEncoding(buildNumber))
             + QStringLiteral("&Application=OSV");
    QUrl url = base;
    url.setQuery(query, QUrl::StrictMode);
    url.setFragment(QString());
    return url;
}

QUrl QRXUpdateCheck::checkURL(const QString &endpoint, const QString &buildNumber)
{
    QUrl url = pageURL(endpoint, buildNumber);
    if (url.isValid())
        url.setQuery(url.query(QUrl::FullyEncoded) + QStringLiteral("&replytype=application"), QUrl::StrictMode);
    return url;
}

bool QRXUpdateCheck::isUpdateReply(const QByteArray &body) { return body == "YES"; }

bool QRXUpdateCheck::isCheckDue(const QDateTime &lastCheck, qint64 period, const QDateTime &now)
{
    if (!lastCheck.isValid() || lastCheck > now)
        return true;
    qint64 seconds = 0;
    switch (period) {
    case 0:
        seconds = 86400;
        break;
    case 1:
        seconds = 604800;
        break;
    case 2:
        seconds = 2592000;
        break;
    default:
        return false;
    }
    return lastCheck.secsTo(now) > seconds;
}

bool QRXUpdateCheck::isConfigured() const { return checkURL(m_endpoint, m_buildNumber).isValid(); }

bool QRXUpdateCheck::checkForUpdateAvailable()
{
    const QUrl url = checkURL(m_endpoint, m_buildNumber);
    if (!url.isValid())
        return false;

    QNetworkAccessManager network;
    QNetworkRequest request(url);
    request.setTransferTimeout(m_timeoutMsecs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Ostrevan"));
    std::unique_ptr<QNetworkReply> reply(network.get(request));

    QEventLoop loop;
    bool tooLong = false;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        if (reply->bytesAvailable() > kLongestReply) {
            tooLong = true;
            loop.quit();
        }
    });
    // The transfer time-out restarts whenever bytes arrive; this one bounds the whole wait.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(m_timeoutMsecs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (tooLong || !reply->isFinished()) {
        reply->abort();
        return false;
    }
    if (reply->error() != QNetworkReply::NoError)
        return false;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        return false;
    return isUpdateReply(reply->read(kLongestReply + 1));
}

void QRXUpdateCheck::runUpdate()
{
    const QUrl url = pageURL(m_endpoint, m_buildNumber);
    if (url.isValid())
        QDesktopServices::openUrl(url);
}
