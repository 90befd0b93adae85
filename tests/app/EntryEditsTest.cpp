#include "CatalogWindowFixture.h"
#include "MarkedThumbnail.h"
#include "../support/CatalogUsers.h"
#include "../support/RefusingTrigger.h"
#include "../support/SessionCutProxy.h"
#include "../support/TestEnvironment.h"
#include "app/OVNCategoryMaintenance.h"
#include "app/OVNEntryEdits.h"

#include <gtest/gtest.h>

#include <chrono>
#include <QElapsedTimer>

#include <thread>

namespace {
using Turn = OVNEntryEdits::QuarterTurn;
} // namespace

// Right turns step the plain codes 1 6 3 8 and the mirrored 2 7 4 5, left turns walk them back;
// 0 and anything outside 1 to 8 count as 1.
TEST(EntryEdits, OrientationCodesStepWithEachQuarterTurn)
{
    struct Case {
        int code, right, left;
    };
    const Case cases[] = {{1, 6, 8}, {6, 3, 1}, {3, 8, 6}, {8, 1, 3},  {2, 7, 5}, {7, 4, 2},
                          {4, 5, 7}, {5, 2, 4}, {0, 6, 8}, {-1, 6, 8}, {9, 6, 8}, {255, 6, 8}};
    for (const Case &c : cases) {
        EXPECT_EQ(OVNEntryEdits::orientationAfterQuarterTurn(c.code, Turn::Right), c.right) << c.code;
        EXPECT_EQ(OVNEntryEdits::orientationAfterQuarterTurn(c.code, Turn::Left), c.left) << c.code;
    }
}

TEST(EntryEdits, ThumbnailsTurnAQuarterWithTheirPicture)
{
    const QByteArray thumbnail = markedThumbnail();
    QSize size;
    ASSERT_EQ(markerCorner(thumbnail), 0);
    EXPECT_EQ(markerCorner(OVNEntryEdits::turnedThumbnail(thumbnail, Turn::Right), &size), 1);
    EXPECT_EQ(size, QSize(120, 160));
    EXPECT_EQ(markerCorner(OVNEntryEdits::turnedThumbnail(thumbnail, Turn::Left), &size), 3);
    EXPECT_EQ(size, QSize(120, 160));
    EXPECT_TRUE(OVNEntryEdits::turnedThumbnail("not a picture", Turn::Right).isEmpty());
    EXPECT_TRUE(OVNEntryEdits::turnedThumbnail(thumbnail.left(40), Turn::Right).isEmpty());
}

// The writes without a window: a collection "Shots" with three entries carrying the marked
// thumbnail, orientation 1 and rating 4, edited through the catalog alone.
class EntryEditsTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        shots = category("Shots", "C");
        mids = entriesWithThumbnail(shots, {"a", "b", "c"}, markedThumbnail());
    }

    QList<OVNEntryEdits::Target> targets(OVNEntryEdits &edits, const QStringList &ids)
    {
        QList<OVNEntryEdits::Target> list;
        for (const QString &mid : ids) {
            const std::optional<OVNEntryEdits::Target> target = edits.targetForMid(mid);
            EXPECT_TRUE(target) << qPrintable(mid);
            if (target)
                list.append(*target);
        }
        return list;
    }

    QString shots;
    QStringList mids;
};

OVN_CATALOG_VENDORS(EntryEditsTest);

TEST_P(EntryEditsTest, RatingsZeroToFiveAreStoredOthersChangeNothing)
{
    OVNEntryEdits edits(&db);
    EXPECT_FALSE(edits.targetForMid("no-such-entry"));
    EXPECT_FALSE(edits.targetForMid(QString()));
    const QList<OVNEntryEdits::Target> two = targets(edits, {mids[0], mids[1]});
    ASSERT_EQ(two.size(), 2);
    EXPECT_EQ(two[0].owner, shots);
    struct Case {
        int rating;
        const char *expected;
        int changed;
    };
    for (const Case &c : {Case{3, "3", 2}, Case{0, "0", 2}, Case{5, "5", 2}, Case{-1, "5", 0}, Case{6, "5", 0}}) {
        OVNEntryEdits::Summary summary;
        EXPECT_EQ(edits.rate(c.rating, two, summary).size(), c.changed) << c.rating;
        EXPECT_EQ(summary.changed, c.changed) << c.rating;
        EXPECT_TRUE(edits.unchangedText(summary).isEmpty()) << c.rating;
        EXPECT_EQ(stored(mids[0], "rating"), c.expected) << c.rating;
        EXPECT_EQ(stored(mids[1], "rating"), c.expected) << c.rating;
    }
    EXPECT_EQ(stored(mids[2], "rating"), "4");
}

// What the caller holds of an entry is used instead of the catalog's; what it does not hold is read.
TEST_P(EntryEditsTest, TurnsWriteThumbnailAndCodeTogetherAndCountWhatStays)
{
    ASSERT_TRUE(db.updateThumbnailForMediaID(mids[0], "broken"));
    // Only the orientation is refused: the thumbnail written before it must not stay either.
    ASSERT_TRUE(addRefusingTrigger(db, "strvfile", "update", "new.mid = '" + mids[1] + "' and new.orientation = 6"))
        << qPrintable(db.getLastErrorMessage());
    const QByteArray second = db.getThumbnailForMediaID(mids[1]);
    OVNEntryEdits edits(&db);
    QList<OVNEntryEdits::Target> list = targets(edits, mids);
    ASSERT_EQ(list.size(), 3);
    list[2].orientation = QStringLiteral("8"); // as a caller shows it
    OVNEntryEdits::Summary summary;
    const QList<OVNEntryEdits::Stored> done = edits.turn(list, Turn::Right, summary);
    ASSERT_EQ(done.size(), 1);
    EXPECT_EQ(done[0].target.mid, mids[2]);
    EXPECT_EQ(done[0].orientation, "1");
    EXPECT_EQ(done[0].thumbnail, db.getThumbnailForMediaID(mids[2]));
    EXPECT_EQ(markerCorner(done[0].thumbnail), 1);
    EXPECT_EQ(stored(mids[2], "orientation"), "1");
    EXPECT_EQ(db.getThumbnailForMediaID(mids[0]), QByteArray("broken"));
    EXPECT_EQ(db.getThumbnailForMediaID(mids[1]), second);
    EXPECT_EQ(stored(mids[1], "orientation"), "1");
    EXPECT_EQ(summary.changed, 1);
    EXPECT_EQ(summary.unreadable, 1);
    EXPECT_EQ(summary.failed, 1);
    const QString text = edits.unchangedText(summary);
    EXPECT_TRUE(text.contains("1 thumbnail could not be read")) << qPrintable(text);
    EXPECT_TRUE(text.contains("1 entry could not be written")) << qPrintable(text);

    // A thumbnail the caller holds is the one turned.
    list = targets(edits, {mids[0]});
    list[0].thumbnail = markedThumbnail();
    summary = {};
    ASSERT_EQ(edits.turn(list, Turn::Left, summary).size(), 1);
    EXPECT_EQ(markerCorner(db.getThumbnailForMediaID(mids[0])), 3);
    EXPECT_EQ(stored(mids[0], "orientation"), "8");
}

TEST_P(EntryEditsTest, ThumbnailsAreReplacedWhereTheCatalogTakesThem)
{
    ASSERT_TRUE(addRefusingTrigger(db, "strvfile", "update", "new.mid = '" + mids[0] + "'"));
    const QByteArray first = db.getThumbnailForMediaID(mids[0]);
    const QByteArray picture = filledJpeg(QSize(64, 48), Qt::blue);
    OVNEntryEdits edits(&db);
    OVNEntryEdits::Summary summary;
    const QList<OVNEntryEdits::Stored> done = edits.setThumbnail(targets(edits, mids), picture, summary);
    ASSERT_EQ(done.size(), 2);
    EXPECT_EQ(summary.changed, 2);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(db.getThumbnailForMediaID(mids[0]), first);
    EXPECT_EQ(db.getThumbnailForMediaID(mids[1]), picture);
    EXPECT_EQ(db.getThumbnailForMediaID(mids[2]), picture);
}

// On a server catalog with users, "READ ONLY" on an entry's collection refuses every write to it;
// entries of a writable collection go on, and the lowest level refused is named.
class ServerEntryEditsTest : public EntryEditsTest
{};

INSTANTIATE_TEST_SUITE_P(Server, ServerEntryEditsTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(ServerEntryEditsTest, ReadOnlyEntriesAreNeitherRatedNorTurnedNorGivenAThumbnail)
{
    QString staff;
    ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, shots, staff, "READ ONLY"));
    const QString shared = category("Shared", "C");
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, shared, staff, "READ & WRITE"));
    const QString writable = entriesWithThumbnail(shared, {"shared-1"}, markedThumbnail()).first();
    const std::unique_ptr<OVNDatabaseAccess> ann = openAnother();
    ASSERT_NO_FATAL_FAILURE(signInAsAnn(*ann));
    OVNEntryEdits edits(ann.get());
    const QList<OVNEntryEdits::Target> list = targets(edits, {mids[0], writable});
    EXPECT_FALSE(edits.mayWrite(shots));
    EXPECT_TRUE(edits.mayWrite(shared));
    EXPECT_FALSE(edits.mayWrite(QString()));
    EXPECT_EQ(edits.levelOf(shots), "READ ONLY");
    const QByteArray thumbnail = db.getThumbnailForMediaID(mids[0]);

    OVNEntryEdits::Summary rated, turned, replaced;
    EXPECT_EQ(edits.rate(1, list, rated).size(), 1);
    EXPECT_EQ(edits.turn(list, Turn::Right, turned).size(), 1);
    EXPECT_EQ(edits.setThumbnail(list, filledJpeg(QSize(64, 48), Qt::blue), replaced).size(), 1);
    for (const OVNEntryEdits::Summary &summary : {rated, turned, replaced}) {
        EXPECT_EQ(summary.refused, 1);
        EXPECT_EQ(summary.refusedLevel, "READ ONLY");
        EXPECT_TRUE(edits.unchangedText(summary).contains("Your Privilege Level: READ ONLY"));
    }
    EXPECT_EQ(stored(mids[0], "rating"), "4");
    EXPECT_EQ(stored(mids[0], "orientation"), "1");
    EXPECT_EQ(db.getThumbnailForMediaID(mids[0]), thumbnail);
    EXPECT_EQ(stored(writable, "rating"), "1");
    EXPECT_EQ(stored(writable, "orientation"), "6");
}

// A rating or a turn whose session the server ends before its change, between the change and the
// commit, or after the commit reached the server (its answer lost) is made again on a new session:
// every entry is changed, and once (a turn is not turned twice).
TEST_P(ServerEntryEditsTest, RatingsAndTurnsGoThroughSessionsThatEndAndAreMadeOnce)
{
    const struct {
        const char *name;
        const char *statement;
        SessionCutProxy::How how;
    } cuts[] = {
        {"before the change", "update strvfile", SessionCutProxy::How::Dropped},
        {"after the change", "update strvfile", SessionCutProxy::How::AnswerLost},
        {"at the commit", "COMMIT", SessionCutProxy::How::Dropped},
        {"commit's answer lost", "COMMIT", SessionCutProxy::How::AnswerLost},
    };
    const PgTestServer server = *pgTestServer();
    int rating = 0;
    int orientation = 1;
    for (const auto &cut : cuts) {
        SCOPED_TRACE(cut.name);
        for (const bool turning : {false, true}) {
            SessionCutProxy proxy(server.port, {});
            proxy.cutAt(cut.statement, 1, cut.how);
            OVNDatabaseAccess through;
            through.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                         server.user, server.password, m_pgDatabase);
            ASSERT_TRUE(through.openDBConnection());
            OVNEntryEdits edits(&through);
            OVNEntryEdits::Summary summary;
            const QList<OVNEntryEdits::Target> list = targets(edits, mids);
            if (turning) {
                EXPECT_EQ(edits.turn(list, Turn::Right, summary).size(), 3);
                orientation = OVNEntryEdits::orientationAfterQuarterTurn(orientation, Turn::Right);
            } else {
                rating = (rating + 1) % 6;
                EXPECT_EQ(edits.rate(rating, list, summary).size(), 3);
            }
            EXPECT_EQ(proxy.cuts(), 1);
            EXPECT_EQ(summary.changed, 3);
            EXPECT_EQ(summary.failed, 0);
            for (const QString &mid : mids) {
                EXPECT_EQ(stored(mid, "rating"), QString::number(rating));
                EXPECT_EQ(stored(mid, "orientation"), QString::number(orientation));
            }
        }
    }
}

// Deleting inside one transaction: a refused entry stays alone, the others go together; a set
// loses only its membership. Moving and linking count what the catalog refused.
TEST_P(EntryEditsTest, DeletesMovesAndLinksLeaveWhatTheCatalogRefused)
{
    const QString set = category("Set", "S");
    const QString other = category("Other", "C");
    const QString membership = db.addEntryToImageSet(mids[2], set);
    ASSERT_FALSE(membership.isEmpty());
    ASSERT_TRUE(addRefusingTrigger(db, "strvfile", "delete", "old.mid = '" + mids[1] + "'"));
    OVNEntryEdits edits(&db);
    EXPECT_EQ(edits.ownersOf({mids[0], "no-such-entry"}), QStringList({shots, QString()}));
    QList<bool> deleted;
    EXPECT_TRUE(edits.inOneTransaction([&] {
        for (const QString &mid : {mids[0], mids[1]})
            deleted.append(edits.deleteEntry(mid));
        deleted.append(edits.deleteMembership(membership));
        return true;
    }));
    EXPECT_EQ(deleted, QList<bool>({true, false, true}));
    EXPECT_FALSE(db.mediaEntryExists(mids[0]));
    EXPECT_TRUE(db.mediaEntryExists(mids[1]));
    EXPECT_TRUE(db.getMediaList(set, "S").isEmpty());
    EXPECT_TRUE(db.mediaEntryExists(mids[2]));

    ASSERT_TRUE(addRefusingTrigger(db, "strvfile", "update", "new.mid = '" + mids[1] + "'"));
    EXPECT_EQ(edits.moveEntries({mids[1], mids[2]}, other).failed, 1);
    EXPECT_EQ(edits.ownersOf({mids[1], mids[2]}), QStringList({shots, other}));
    EXPECT_EQ(edits.linkEntries({mids[1], mids[2]}, set).changed, 2);
    EXPECT_EQ(db.getMediaList(set, "S").size(), 2);
}

// A collection is made and placed together: one that cannot go into its folder is not left at
// the top level.
TEST_P(EntryEditsTest, CollectionsAreMadeAndPlacedTogether)
{
    const QString folder = category("Folder", "F");
    OVNEntryEdits edits(&db);
    const QString inside = edits.addCollection("Drag", folder);
    ASSERT_FALSE(inside.isEmpty()) << qPrintable(db.getLastErrorMessage());
    EXPECT_EQ(db.getCategoryListForMID(folder).size(), 1);
    const qsizetype topLevel = db.getCategoryList().size();
    ASSERT_TRUE(addRefusingTrigger(db, "strvcategory", "update", "new.supermid is not null"));
    EXPECT_TRUE(edits.addCollection("Refused", folder).isEmpty());
    EXPECT_EQ(db.getCategoryList().size(), topLevel);
    EXPECT_FALSE(edits.addCollection("Top", QString()).isEmpty());
}

// New categories through sessions that end at each point of their making, ten times where the
// answer is lost: each is made once, under the id its writer chose, and said as made; a collection
// made inside a folder (a drop's) is placed there once too.
TEST_P(ServerEntryEditsTest, NewCategoriesThroughEndedSessionsAreMadeOnceAndSaidSo)
{
    const QString folder = category("Folder", "F");
    const struct {
        const char *name;
        const char *statement;
        SessionCutProxy::How how;
        int times;
    } cuts[] = {
        {"before the insert", "insert into strvcategory", SessionCutProxy::How::Dropped, 1},
        {"the insert's answer lost", "insert into strvcategory", SessionCutProxy::How::AnswerLost, 10},
        {"the commit's answer lost", "COMMIT", SessionCutProxy::How::AnswerLost, 3},
        {"the folder's placing cut", "update strvcategory", SessionCutProxy::How::Dropped, 1},
    };
    const PgTestServer server = *pgTestServer();
    int made = 0;
    for (const auto &cut : cuts) {
        SCOPED_TRACE(cut.name);
        for (int time = 0; time < cut.times; ++time) {
            for (const bool inFolder : {false, true}) {
                SessionCutProxy proxy(server.port, {});
                proxy.cutAt(cut.statement, 1, cut.how);
                OVNDatabaseAccess through;
                through.setConnectionDetails(QStringLiteral("PostgreSQL"),
                                             QStringLiteral("127.0.0.1:%1").arg(proxy.port()), server.user,
                                             server.password, m_pgDatabase);
                ASSERT_TRUE(through.openDBConnection());
                OVNEntryEdits edits(&through);
                const QString name = QStringLiteral("New %1").arg(++made);
                const QString mid = inFolder ? edits.addCollection(name, folder)
                                             : edits.addTopLevelCategory(name, QStringLiteral("C"));
                EXPECT_FALSE(mid.isEmpty()) << qPrintable(name + ": " + through.getLastErrorMessage());
                const QList<OVNRow> rows = db.rowsForQuery(
                    QStringLiteral("select mid, coalesce(supermid, '') from strvcategory where displaytag=$1"), {name});
                ASSERT_EQ(rows.size(), 1) << qPrintable(name);
                EXPECT_EQ(rows.first().value(0).toString(), mid);
                EXPECT_EQ(rows.first().value(1).toString(), inFolder ? folder : QString());
            }
        }
    }
}

// A rating or a turn asked while the server restarts (down, then back a few seconds later): the
// level of the entries' category and the thumbnails are read once it answers again, and the change
// is stored, never said as failed.
TEST_P(ServerEntryEditsTest, RatingsAndTurnsMadeWhileTheServerRestartsAreStored)
{
    const PgTestServer server = *pgTestServer();
    int rating = 4;
    int orientation = 1;
    for (const bool turning : {false, true}) {
        SCOPED_TRACE(turning ? "turn" : "rating");
        SessionCutProxy proxy(server.port, {});
        OVNDatabaseAccess through;
        through.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(through.openDBConnection());
        QList<OVNEntryEdits::Target> list;
        for (const QString &mid : mids)
            list.append({mid, shots, -1, {}, std::nullopt}); // the level, codes and thumbnails read later
        OVNEntryEdits edits(&through);
        QStringList said;
        edits.setWaitingStatus([&said](const QString &text) { said.append(text); });
        proxy.goDown();
        std::thread restart([&proxy] {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            proxy.comeBack();
        });
        OVNEntryEdits::Summary summary;
        if (turning) {
            EXPECT_EQ(edits.turn(list, Turn::Left, summary).size(), 3);
            orientation = OVNEntryEdits::orientationAfterQuarterTurn(orientation, Turn::Left);
        } else {
            rating = 2;
            EXPECT_EQ(edits.rate(rating, list, summary).size(), 3);
        }
        restart.join();
        EXPECT_EQ(summary.changed, 3);
        EXPECT_EQ(summary.unchecked, 0);
        EXPECT_EQ(summary.failed, 0);
        EXPECT_TRUE(said.contains(QStringLiteral("Waiting for the catalog server..."))) << qPrintable(said.join('|'));
        for (const QString &mid : mids) {
            EXPECT_EQ(stored(mid, "rating"), QString::number(rating));
            EXPECT_EQ(stored(mid, "orientation"), QString::number(orientation));
        }
    }
}

// A rating met by a server that stays away, or a network that goes silent, for longer than the
// command's time fails within that time, says so, and is not stored when the server is back.
TEST_P(ServerEntryEditsTest, ARatingMetByAServerAwayPastTheBudgetFailsInTimeAndIsNotStoredLater)
{
    using namespace std::chrono_literals;
    const PgTestServer server = *pgTestServer();
    constexpr int budget = 3;
    const struct {
        const char *name;
        bool silent;
        double atMostSeconds;
    } cases[] = {
        {"server away", false, budget + 2},
        // A statement without an answer is given up after the answer wait; a new session on a
        // silent network after the connect timeout (5 seconds).
        {"network silent", true, budget + 8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SessionCutProxy proxy(server.port, {});
        OVNDatabaseAccess through;
        through.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
        through.setAnswerWait(1s);
        ASSERT_TRUE(through.openDBConnection());
        OVNEntryEdits edits(&through);
        QList<OVNEntryEdits::Target> list;
        for (const QString &mid : mids)
            list.append({mid, shots, -1, {}, std::nullopt});
        QStringList said;
        QElapsedTimer clock;
        // As the window's wait: what is left of the command's time, one second at least.
        edits.setWaitingStatus([&said](const QString &text) { said.append(text); },
                               [&clock] { return std::max(1, budget - int(clock.elapsed() / 1000)); });
        if (c.silent)
            proxy.hold();
        else
            proxy.goDown();
        clock.start();
        OVNEntryEdits::Summary summary;
        EXPECT_TRUE(edits.rate(1, list, summary).isEmpty());
        const double seconds = double(clock.elapsed()) / 1000;
        EXPECT_GE(seconds, budget - 0.5);
        EXPECT_LE(seconds, c.atMostSeconds);
        EXPECT_EQ(summary.changed, 0);
        // Left unchanged for want of the level to judge them by, or not written.
        EXPECT_EQ(summary.failed + summary.unchecked, 3);
        EXPECT_TRUE(edits.unchangedText(summary).contains(QLatin1String("cannot be reached")))
            << qPrintable(edits.unchangedText(summary));
        // (On the silent network the time goes by in the unanswered statement before any wait.)
        if (!c.silent) {
            EXPECT_TRUE(said.contains(QStringLiteral("Waiting for the catalog server...")))
                << qPrintable(said.join('|'));
        }
        proxy.release();
        proxy.comeBack();
        // Once every session of the relay has ended on the server, what it may still have received
        // is committed or gone for good.
        const QString others = QStringLiteral("select count(*) from pg_stat_activity where datname = "
                                              "current_database() and pid <> pg_backend_pid()");
        QElapsedTimer settled;
        settled.start();
        while (db.rowsForQuery(others).value(0).value(0).toInt() > 0 && settled.elapsed() < 20000)
            std::this_thread::sleep_for(20ms);
        for (const QString &mid : mids)
            EXPECT_EQ(stored(mid, "rating"), QStringLiteral("4")) << qPrintable(mid);
    }
}

// Renames, moves and deletions of categories, moves of entries and links into a set through
// sessions that end at each point of their writing, the answer lost where it can be: each change
// is stored once and said as stored.
TEST_P(ServerEntryEditsTest, CategoryAndEntryChangesThroughEndedSessionsAreStoredOnceAndSaidSo)
{
    const QString folder = category("Folder", "F");
    const QString set = category("Set", "S");
    enum class Road { Rename, MoveCategory, MoveEntries, Link, Delete };
    const struct {
        const char *name;
        Road road;
        const char *statement;
        SessionCutProxy::How how;
    } cuts[] = {
        {"rename, the write cut", Road::Rename, "update strvcategory", SessionCutProxy::How::Dropped},
        {"rename, the write's answer lost", Road::Rename, "update strvcategory", SessionCutProxy::How::AnswerLost},
        {"rename, the commit's answer lost", Road::Rename, "COMMIT", SessionCutProxy::How::AnswerLost},
        {"category move, the write cut", Road::MoveCategory, "update strvcategory", SessionCutProxy::How::Dropped},
        {"category move, the commit's answer lost", Road::MoveCategory, "COMMIT", SessionCutProxy::How::AnswerLost},
        {"entry move, the write cut", Road::MoveEntries, "update strvfile", SessionCutProxy::How::Dropped},
        {"entry move, the answer lost", Road::MoveEntries, "update strvfile", SessionCutProxy::How::AnswerLost},
        {"link, the insert cut", Road::Link, "insert into strvset", SessionCutProxy::How::Dropped},
        {"link, the insert's answer lost", Road::Link, "insert into strvset", SessionCutProxy::How::AnswerLost},
        {"delete, the category's delete cut", Road::Delete, "delete from strvcategory", SessionCutProxy::How::Dropped},
        {"delete, the commit's answer lost", Road::Delete, "COMMIT", SessionCutProxy::How::AnswerLost},
    };
    const PgTestServer server = *pgTestServer();
    int round = 0;
    for (const auto &cut : cuts) {
        SCOPED_TRACE(cut.name);
        SessionCutProxy proxy(server.port, {});
        proxy.cutAt(cut.statement, 1, cut.how);
        OVNDatabaseAccess through;
        through.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(through.openDBConnection());
        OVNEntryEdits edits(&through);
        const QString moved = category(QStringLiteral("Moved %1").arg(++round).toUtf8().constData(), "C");
        switch (cut.road) {
        case Road::Rename: {
            const QString name = QStringLiteral("Renamed %1").arg(round);
            EXPECT_TRUE(edits.renameCategory(moved, name)) << qPrintable(through.getLastErrorMessage());
            EXPECT_EQ(db.rowsForQuery(QStringLiteral("select displaytag from strvcategory where mid=$1"), {moved})
                          .value(0)
                          .value(0)
                          .toString(),
                      name);
            break;
        }
        case Road::MoveCategory:
            EXPECT_TRUE(edits.moveCategory(moved, folder)) << qPrintable(through.getLastErrorMessage());
            EXPECT_EQ(
                db.rowsForQuery(QStringLiteral("select coalesce(supermid, '') from strvcategory where mid=$1"), {moved})
                    .value(0)
                    .value(0)
                    .toString(),
                folder);
            break;
        case Road::MoveEntries:
            EXPECT_EQ(edits.moveEntries(mids, moved).changed, mids.size()) << qPrintable(through.getLastErrorMessage());
            for (const QString &mid : mids)
                EXPECT_EQ(stored(mid, "categoryid"), moved);
            break;
        case Road::Link:
            EXPECT_EQ(edits.linkEntries(mids, set).changed, mids.size()) << qPrintable(through.getLastErrorMessage());
            for (const QString &mid : mids)
                EXPECT_EQ(db.rowsForQuery(QStringLiteral("select mid from strvset where categorymid=$1 and filemid=$2"),
                                          {set, mid})
                              .size(),
                          1);
            break;
        case Road::Delete: {
            const QStringList owned = entriesWithThumbnail(moved, {"d"}, markedThumbnail());
            QString error;
            EXPECT_TRUE(OVNCategoryMaintenance::deleteCategories(through, {{moved, "C", "Moved", ""}}, &error))
                << qPrintable(error);
            EXPECT_FALSE(db.getCategoryForMID(moved));
            EXPECT_TRUE(
                db.rowsForQuery(QStringLiteral("select mid from strvfile where mid=$1"), {owned.value(0)}).isEmpty());
            break;
        }
        }
    }
}
