#pragma once

#include "app/OVNUpdateChecking.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

// Asks the update endpoint whether a newer build exists, and opens its download page. The endpoint
// (an http or https URL, normally ending in "/support/updatecheck/index.php") comes from the
// preference "UpdateCheckURL"; without one, nothing is ever requested. The request waits at most
// the time-out (5 seconds) and counts anything but the exact reply "YES" as "no update".
class QRXUpdateCheck : public OVNUpdateChecking
{
public:
    static constexpr int defaultTimeoutMsecs = 5000;

    QRXUpdateCheck(const QString &endpoint, const QString &buildNumber, int timeoutMsecs = defaultTimeoutMsecs);
    ~QRXUpdateCheck() override;

    bool isConfigured() const override;
    bool checkForUpdateAvailable() override;
    void runUpdate() override;

    // The download page: the endpoint with "build=<build>&Application=OSV"; invalid when the
    // endpoint is not an http or https URL or there is no build number.
    static QUrl pageURL(const QString &endpoint, const QString &buildNumber);
    // The check: the page URL with "&replytype=application".
    static QUrl checkURL(const QString &endpoint, const QString &buildNumber);
    // True only for the body "YES", with nothing around it.
    static bool isUpdateReply(const QByteArray &body);
    // Whether the periodic check is due: always without a last date (and for one in the future,
    // left by a wrong clock); else when more than the period has passed (0 a day, 1 a week, 2 thirty
    // days); never for another period value.
    static bool isCheckDue(const QDateTime &lastCheck, qint64 period, const QDateTime &now);

private:
    QString m_endpoint;
    QString m_buildNumber;
    int m_timeoutMsecs;
};
