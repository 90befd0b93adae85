#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QThread>

bool MainThread::isCurrent()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

void MainThread::post(std::function<void()> work, QObject *context)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (app == nullptr) {
        // No event loop to queue to (a command-line tool): run in place.
        work();
        return;
    }
    QObject *target = context != nullptr ? context : app;
    QMetaObject::invokeMethod(target, std::move(work), Qt::QueuedConnection);
}

void MainThread::runAndWait(const std::function<void()> &work)
{
    if (isCurrent()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), work, Qt::BlockingQueuedConnection);
}
