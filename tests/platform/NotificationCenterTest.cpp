#include "platform/NotificationCenter.h"

#include "../support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <thread>

namespace {

struct Received {
    QString name;
    QVariantMap userInfo;
    QThread *thread = nullptr;
};

} // namespace

TEST(NotificationCenterTest, DeliversByNameWithUserInfoBeforePostReturns)
{
    NotificationCenter center;
    QObject receiver;
    std::vector<Received> got;
    center.addObserver(&receiver, QStringLiteral("OVNNotificationReloadCategory"),
                       [&](const QString &name, const QVariantMap &info) {
                           got.push_back({name, info, QThread::currentThread()});
                       });
    center.postNotification(QStringLiteral("OVNNotificationCategoryListDidChange"),
                            {{QStringLiteral("action"), QStringLiteral("add")}});
    center.postNotification(QStringLiteral("OVNNotificationReloadCategory"),
                            {{QStringLiteral("categoryid"), QStringLiteral("2026-01-01 10:00:00:000/MABC")}});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, QStringLiteral("OVNNotificationReloadCategory"));
    EXPECT_EQ(got[0].userInfo.value(QStringLiteral("categoryid")).toString(),
              QStringLiteral("2026-01-01 10:00:00:000/MABC"));
}

TEST(NotificationCenterTest, EmptyNameObservesEverything)
{
    NotificationCenter center;
    QStringList names;
    const int token =
        center.addObserver(nullptr, QString(), [&](const QString &name, const QVariantMap &) { names << name; });
    center.postNotification(QStringLiteral("A"));
    center.postNotification(QStringLiteral("B"));
    center.removeObserver(token);
    center.postNotification(QStringLiteral("C"));
    EXPECT_EQ(names, (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
}

TEST(NotificationCenterTest, PostFromWorkerArrivesOnMainThread)
{
    NotificationCenter center;
    QObject receiver;
    std::vector<Received> got;
    center.addObserver(&receiver, QStringLiteral("OVNNotificationImportMediaDidFinish"),
                       [&](const QString &name, const QVariantMap &info) {
                           got.push_back({name, info, QThread::currentThread()});
                       });
    std::thread worker([&] {
        center.postNotification(QStringLiteral("OVNNotificationImportMediaDidFinish"),
                                {{QStringLiteral("categoryid"), QStringLiteral("c1")}});
    });
    worker.join();
    // Nothing arrives until the main thread's event loop runs.
    EXPECT_TRUE(got.empty());
    ASSERT_TRUE(processEventsUntil([&] { return !got.empty(); }));
    EXPECT_EQ(got[0].thread, QCoreApplication::instance()->thread());
    EXPECT_EQ(got[0].userInfo.value(QStringLiteral("categoryid")).toString(), QStringLiteral("c1"));
}

TEST(NotificationCenterTest, DestroyedReceiverIsNotCalled)
{
    NotificationCenter center;
    int calls = 0;
    {
        QObject receiver;
        center.addObserver(&receiver, QStringLiteral("N"), [&](const QString &, const QVariantMap &) { ++calls; });
        // Queued from a worker, then the receiver goes away before the event loop runs.
        std::thread([&] { center.postNotification(QStringLiteral("N")); }).join();
    }
    QCoreApplication::processEvents();
    center.postNotification(QStringLiteral("N"));
    EXPECT_EQ(calls, 0);
}

TEST(NotificationCenterTest, ObserverMayRemoveItselfAndOthersDuringDelivery)
{
    NotificationCenter center;
    int first = 0, second = 0;
    int secondToken = 0;
    int firstToken = 0;
    firstToken = center.addObserver(nullptr, QStringLiteral("N"), [&](const QString &, const QVariantMap &) {
        ++first;
        center.removeObserver(firstToken);
        center.removeObserver(secondToken);
    });
    secondToken =
        center.addObserver(nullptr, QStringLiteral("N"), [&](const QString &, const QVariantMap &) { ++second; });
    center.postNotification(QStringLiteral("N"));
    center.postNotification(QStringLiteral("N"));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
}

TEST(NotificationCenterTest, RemoveByReceiverEndsAllItsObservations)
{
    NotificationCenter center;
    QObject receiver;
    int calls = 0;
    center.addObserver(&receiver, QStringLiteral("A"), [&](const QString &, const QVariantMap &) { ++calls; });
    center.addObserver(&receiver, QStringLiteral("B"), [&](const QString &, const QVariantMap &) { ++calls; });
    center.removeObserver(&receiver);
    center.postNotification(QStringLiteral("A"));
    center.postNotification(QStringLiteral("B"));
    EXPECT_EQ(calls, 0);
}
