#include "platform/SystemLog.h"

#include <QString>
#include <QtGlobal>

#include <cstdlib>
#include <syslog.h>

namespace SystemLog {

namespace {

void toSystemLog(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    int priority = LOG_DEBUG;
    switch (type) {
    case QtDebugMsg:
        priority = LOG_DEBUG;
        break;
    case QtInfoMsg:
        priority = LOG_INFO;
        break;
    case QtWarningMsg:
        priority = LOG_WARNING;
        break;
    case QtCriticalMsg:
        priority = LOG_ERR;
        break;
    case QtFatalMsg:
        priority = LOG_CRIT;
        break;
    }
    syslog(priority, "%s", qUtf8Printable(message));
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void takeQtMessages()
{
    // The program's name tags each line, as the system's own programs do.
    openlog(nullptr, LOG_PID, LOG_USER);
    qInstallMessageHandler(toSystemLog);
}

} // namespace SystemLog
