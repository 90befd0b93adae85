#include "platform/NotificationCenter.h"

#include "platform/MainThread.h"

#include <QMutexLocker>

NotificationCenter &NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

int NotificationCenter::addObserver(QObject *receiver, const QString &name, Handler handler)
{
    QMutexLocker locker(&m_mutex);
    Observer observer;
    observer.token = m_nextToken++;
    observer.bound = receiver != nullptr;
    observer.receiver = receiver;
    observer.name = name;
    observer.handler = std::make_shared<Handler>(std::move(handler));
    m_observers.push_back(std::move(observer));
    return m_observers.back().token;
}

void NotificationCenter::removeObserver(int token)
{
    QMutexLocker locker(&m_mutex);
    std::erase_if(m_observers, [token](const Observer &o) { return o.token == token; });
}

void NotificationCenter::removeObserver(QObject *receiver)
{
    QMutexLocker locker(&m_mutex);
    std::erase_if(m_observers,
                  [receiver](const Observer &o) { return o.bound && (o.receiver == receiver || o.receiver.isNull()); });
}

void NotificationCenter::postNotification(const QString &name, const QVariantMap &userInfo)
{
    if (MainThread::isCurrent()) {
        deliver(name, userInfo);
        return;
    }
    MainThread::post([this, name, userInfo] { deliver(name, userInfo); });
}

void NotificationCenter::deliver(const QString &name, const QVariantMap &userInfo)
{
    // Handlers run without the lock held, so they may add or remove observers (themselves too).
    struct Pending {
        int token;
        bool bound;
        QPointer<QObject> receiver;
        std::shared_ptr<Handler> handler;
    };
    std::vector<Pending> pending;
    {
        QMutexLocker locker(&m_mutex);
        std::erase_if(m_observers, [](const Observer &o) { return o.bound && o.receiver.isNull(); });
        for (const Observer &o : m_observers) {
            if (o.name.isEmpty() || o.name == name)
                pending.push_back({o.token, o.bound, o.receiver, o.handler});
        }
    }
    for (const Pending &p : pending) {
        if (p.bound && p.receiver.isNull())
            continue;
        {
            // Skip observers removed by an earlier handler of this same delivery.
            QMutexLocker locker(&m_mutex);
            const bool stillObserving = std::any_of(m_observers.begin(), m_observers.end(),
                                                    [&](const Observer &o) { return o.token == p.token; });
            if (!stillObserving)
                continue;
        }
        (*p.handler)(name, userInfo);
    }
}
