#include "catalogdb/OVNDatabaseAccess.h"

#include "platform/SystemInfo.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>

#include <thread>

TEST(RecordIdTest, IdsMadeInATightLoopAreDistinctAndRise)
{
    OVNDatabaseAccess db;
    QSet<QString> seen;
    QString previous;
    for (int i = 0; i < 10000; ++i) {
        const QString id = db.createNewMID();
        ASSERT_FALSE(seen.contains(id)) << qPrintable(id);
        seen.insert(id);
        // Within one machine part, ids sort in the order they were made.
        ASSERT_LT(previous, id);
        previous = id;
    }
}

TEST(RecordIdTest, IdsFromManyThreadsAndConnectionsNeverRepeat)
{
    constexpr int threads = 4, perThread = 2500;
    std::vector<QStringList> made(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&made, t] {
            OVNDatabaseAccess db;
            for (int i = 0; i < perThread; ++i)
                made[size_t(t)].append(db.createNewMID());
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    QSet<QString> all;
    for (const QStringList &ids : made)
        all.unite(QSet<QString>(ids.begin(), ids.end()));
    EXPECT_EQ(all.size(), threads * perThread);
}

TEST(RecordIdTest, IdHasTheLocalTimeAndTheMachinePart)
{
    OVNDatabaseAccess db;
    const QString id = db.createNewMID();
    const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3}/M[0-9A-F]{12}$"));
    EXPECT_TRUE(form.match(id).hasMatch()) << qPrintable(id);
    EXPECT_LE(id.size(), 60);
    EXPECT_TRUE(id.endsWith(QLatin1Char('/') + SystemInfo::recordIdMachinePart()));
    EXPECT_EQ(OVNDatabaseAccess::getHWAddress(), SystemInfo::recordIdMachinePart());

    const qint64 wall = QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58, 7), QTimeZone::utc()).toMSecsSinceEpoch();
    EXPECT_EQ(OVNDatabaseAccess::recordIdFor(wall, QStringLiteral("MABC")),
              QStringLiteral("2024-02-29 23:59:58:007/MABC"));
    // A second later differs in the seconds field and sorts after.
    EXPECT_LT(OVNDatabaseAccess::recordIdFor(wall, QStringLiteral("M")),
              OVNDatabaseAccess::recordIdFor(wall + 1000, QStringLiteral("M")));
}

TEST(RecordIdTest, AClockThatStandsStillOrGoesBackStillGivesLaterTimes)
{
    const qint64 none = std::numeric_limits<qint64>::min();
    EXPECT_EQ(OVNDatabaseAccess::nextRecordIdTime(1000, none), 1000);
    EXPECT_EQ(OVNDatabaseAccess::nextRecordIdTime(1000, 999), 1000);
    EXPECT_EQ(OVNDatabaseAccess::nextRecordIdTime(1000, 1000), 1001);
    EXPECT_EQ(OVNDatabaseAccess::nextRecordIdTime(1000, 5000), 5001); // the clock went back
}
