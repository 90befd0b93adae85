#pragma once

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <vector>

// Named notifications with a user-info dictionary, such as "OVNNotificationReloadCategory" with
// {"categoryid": ...}. Observers are always called on the main thread: a post from the main thread
// is delivered before postNotification() returns, a post from a worker thread is queued to the
// main thread.
class NotificationCenter
{
public:
    using Handler = std::function<void(const QString &name, const QVariantMap &userInfo)>;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter &) = delete;
    NotificationCenter &operator=(const NotificationCenter &) = delete;

    static NotificationCenter &defaultCenter();

    // Observes `name` (every name when empty) for as long as `receiver` lives, or until removed.
    // `receiver` may be null for an observation that only removeObserver(token) ends. Answers a
    // token for removeObserver().
    int addObserver(QObject *receiver, const QString &name, Handler handler);
    void removeObserver(int token);
    // Removes every observation made for `receiver`.
    void removeObserver(QObject *receiver);

    // Thread-safe.
    void postNotification(const QString &name, const QVariantMap &userInfo = QVariantMap());

private:
    struct Observer {
        int token = 0;
        bool bound = false; // tied to a receiver's lifetime
        QPointer<QObject> receiver;
        QString name;
        std::shared_ptr<Handler> handler;
    };

    void deliver(const QString &name, const QVariantMap &userInfo);

    QMutex m_mutex;
    std::vector<Observer> m_observers;
    int m_nextToken = 1;
};
