#include "CatalogWindowFixture.h"
#include "../support/RefusingTrigger.h"
#include "../support/SessionCutProxy.h"
#include "../support/TestEnvironment.h"
#include "app/OVNAnnotationWrites.h"

#include <gtest/gtest.h>

#include <QHash>

using Mode = AnnotationChanges::Mode;

// Auto-fill's writes without a window: a collection with two entries, the caller's records held
// in a table by tag, as the thumbnail view holds them.
class AnnotationWritesTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        const QString shoot = category("Shoot", "C");
        for (const char *path : {"/Shoot/Day1/IMG_1.JPG", "/Shoot/IMG_2.JPG"}) {
            QVariantMap record = importRecord(shoot, QString::fromLatin1(path).section('/', -1));
            record.insert("absolutepath", path);
            record.insert("keywords", "Beach");
            const QString mid = db.addMediaListEntry(record);
            ASSERT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
            targets.append({mid, shoot, int(targets.size()), {}, {}});
            shown.insert(targets.last().tag, {{"absolutepath", path}, {"keywords", "Beach"}});
        }
        callbacks.value = [this](int tag, const QString &key) { return shown.value(tag).value(key); };
        callbacks.show = [this](int tag, const QString &key, const QString &value) { shown[tag].insert(key, value); };
    }

    QList<OVNEntryEdits::Target> targets;
    QHash<int, QVariantMap> shown;
    OVNAnnotationWrites::Callbacks callbacks;
};

OVN_CATALOG_VENDORS(AnnotationWritesTest);

// The current value comes from the caller; a refused field stays, is counted with its reason and is
// not shown; the licence rows are made; the rest is stored and shown.
TEST_P(AnnotationWritesTest, StoredValuesAreShownRefusedOnesCountedWithTheirReason)
{
    ASSERT_TRUE(
        addRefusingTrigger(db, "strvfile", "update", "new.mid = '" + targets[1].mid + "' and new.fulldesc = 'x'"));
    shown[0].insert("keywords", "Sand"); // the caller's value wins over the stored one
    AnnotationChanges changes;
    changes.info = {{"keywords", "sunset"}, {"fulldesc", "x"}};
    changes.keywordsAddFilename = true;
    changes.keywordsParseFolders = 1;
    changes.purchased = {{"owner", "Ann"}};
    OVNAnnotationWrites writes(&db);
    const OVNAnnotationWrites::Summary summary = writes.apply(targets, changes, Mode::Append, false, callbacks);
    EXPECT_TRUE(summary.committed);
    EXPECT_EQ(summary.entries, 2);
    EXPECT_EQ(summary.written, 7);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.failedEntries, 1);
    EXPECT_TRUE(summary.purchasedWritten);
    EXPECT_FALSE(summary.soldWritten);
    ASSERT_EQ(summary.failures.size(), 1);
    EXPECT_EQ(summary.failures[0].mid, targets[1].mid);
    EXPECT_EQ(summary.failures[0].column, "fulldesc");
    const QStringList keywords = {"Sand sunset IMG_1 Day1", "Beach sunset IMG_2 Shoot"};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(stored(targets[i].mid, "keywords"), keywords[i]);
        EXPECT_EQ(shown[i].value("keywords"), keywords[i]);
        EXPECT_EQ(db.getPurchasedForMediaID(targets[i].mid).value("owner"), "Ann");
    }
    EXPECT_EQ(stored(targets[0].mid, "fulldesc"), "x");
    EXPECT_FALSE(shown[1].contains("fulldesc"));
    EXPECT_TRUE(OVNAnnotationWrites::reportText(summary).contains("1 entry could not be written completely.\n"
                                                                  "fulldesc: "));
}

// Stopped at once, nothing is written; the progress hears of the start and of the end.
TEST_P(AnnotationWritesTest, AStoppedApplyWritesNothingMoreAndNothingIsReported)
{
    QList<int> heard;
    callbacks.progress = [&heard](int done, int) {
        heard.append(done);
        return false;
    };
    AnnotationChanges changes;
    changes.info = {{"keywords", "sunset"}};
    const OVNAnnotationWrites::Summary summary =
        OVNAnnotationWrites(&db).apply(targets, changes, Mode::Overwrite, false, callbacks);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.written, 0);
    EXPECT_EQ(heard, QList<int>({0, 2}));
    EXPECT_EQ(stored(targets[0].mid, "keywords"), "Beach");
    EXPECT_TRUE(OVNAnnotationWrites::reportText(summary).isEmpty());
}

// Auto-fill writes the fields its pane offers and nothing else: a change that names any other column
// (the entry's category, file, type, cataloguer, id, or a licence row's id) writes nothing at all,
// the offered fields of the same change included, and says which field it was.
TEST_P(AnnotationWritesTest, OnlyTheFieldsThePaneOffersAreWritten)
{
    const QString otherCategory = category("Elsewhere", "C");
    const struct {
        AnnotationChanges::Table table;
        const char *field;
        const char *value;
        bool offered;
    } cases[] = {
        {AnnotationChanges::Table::Info, "keywords", "k", true},
        {AnnotationChanges::Table::Info, "shortdesc", "s", true},
        {AnnotationChanges::Table::Info, "fulldesc", "f", true},
        {AnnotationChanges::Table::Info, "modrelinfo", "m", true},
        {AnnotationChanges::Table::Info, "proprelinfo", "p", true},
        {AnnotationChanges::Table::Info, "volumename", "v", true},
        {AnnotationChanges::Table::Info, "modrelavailable", "1", true},
        {AnnotationChanges::Table::Info, "proprelavailable", "1", true},
        {AnnotationChanges::Table::Purchased, "licensetype", "2", true},
        {AnnotationChanges::Table::Purchased, "photographer", "Ann", true},
        {AnnotationChanges::Table::Sold, "customer", "Bob", true},
        {AnnotationChanges::Table::Info, "categoryid", "", false},
        {AnnotationChanges::Table::Info, "absolutepath", "/etc/shadow", false},
        {AnnotationChanges::Table::Info, "cataloguedby", "intruder", false},
        {AnnotationChanges::Table::Info, "filetype", "JPEG", false},
        {AnnotationChanges::Table::Info, "mid", "x", false},
        {AnnotationChanges::Table::Info, "displaytag", "renamed", false},
        {AnnotationChanges::Table::Purchased, "mid", "x", false},
        {AnnotationChanges::Table::Sold, "owner", "Ann", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.field);
        AnnotationChanges changes;
        changes.changes(c.table).insert(
            QString::fromLatin1(c.field),
            QString::fromLatin1(c.field) == QLatin1String("categoryid") ? otherCategory : QString::fromLatin1(c.value));
        changes.info.insert("shortdesc", "alongside");
        const OVNAnnotationWrites::Summary summary =
            OVNAnnotationWrites(&db).apply(targets, changes, Mode::Overwrite, false, callbacks);
        EXPECT_EQ(summary.committed, c.offered);
        EXPECT_EQ(summary.written > 0, c.offered);
        EXPECT_EQ(stored(targets[0].mid, "shortdesc") == "alongside", c.offered);
        if (!c.offered) {
            EXPECT_TRUE(OVNAnnotationWrites::reportText(summary).contains(QString::fromLatin1(c.field)))
                << qPrintable(OVNAnnotationWrites::reportText(summary));
            EXPECT_EQ(db.getMediaList(otherCategory).size(), 0);
            EXPECT_EQ(stored(targets[0].mid, "absolutepath"), "/Shoot/Day1/IMG_1.JPG");
        }
        db.updateMediaListEntry(targets[0].mid, "shortdesc", "", OVNDatabaseAccess::QuotedValue);
    }
}

// Appending through a session that the server ends before a write, between the writes and the
// commit, or after the commit reached it (its answer lost): the work is made again on a new
// session with the values worked out before, so that every entry gains the words once.
TEST_P(AnnotationWritesTest, AppendsGoThroughSessionsThatEndAndAreMadeOnce)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server has sessions to end";
    const struct {
        const char *name;
        const char *statement;
        SessionCutProxy::How how;
    } cuts[] = {
        {"before a write", "update strvfile", SessionCutProxy::How::Dropped},
        {"after a write", "update strvfile", SessionCutProxy::How::AnswerLost},
        {"at the commit", "COMMIT", SessionCutProxy::How::Dropped},
        {"commit's answer lost", "COMMIT", SessionCutProxy::How::AnswerLost},
    };
    const PgTestServer server = *pgTestServer();
    QStringList expected = {"Beach", "Beach"};
    int round = 0;
    for (const auto &cut : cuts) {
        SCOPED_TRACE(cut.name);
        SessionCutProxy proxy(server.port, {});
        proxy.cutAt(cut.statement, 1, cut.how);
        OVNDatabaseAccess through;
        through.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(through.openDBConnection());
        const QString word = QStringLiteral("w%1").arg(++round);
        AnnotationChanges changes;
        changes.info = {{"keywords", word}};
        const OVNAnnotationWrites::Summary summary =
            OVNAnnotationWrites(&through).apply(targets, changes, Mode::Append, false, callbacks);
        EXPECT_EQ(proxy.cuts(), 1);
        EXPECT_TRUE(summary.committed);
        EXPECT_EQ(summary.written, 2);
        EXPECT_EQ(summary.failed, 0);
        for (int i = 0; i < 2; ++i) {
            expected[i] += QLatin1Char(' ') + word;
            EXPECT_EQ(stored(targets[i].mid, "keywords"), expected[i]);
            EXPECT_EQ(shown[i].value("keywords"), expected[i]);
        }
    }
}

// Auto-fill of many entries through sessions ended every few hundredths of a second: the stored
// values each entry's plan reads (its licence row) are read again on a new session, and the
// batches get smaller until they go through, so that every entry gains its words once and none
// is counted as failed.
TEST_P(AnnotationWritesTest, ManyEntriesThroughSessionsEndedEveryMomentAreEachWrittenOnce)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server has sessions to end";
    const QString shoot = targets.first().owner;
    ASSERT_TRUE(db.beginTransaction());
    for (int i = 0; i < 998; ++i) {
        QVariantMap record = importRecord(shoot, QStringLiteral("MORE_%1.JPG").arg(i));
        record.insert("keywords", "Beach");
        const QString mid = db.addMediaListEntry(record);
        ASSERT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
        targets.append({mid, shoot, int(targets.size()), {}, {}});
        shown.insert(targets.last().tag, {{"keywords", "Beach"}});
    }
    ASSERT_TRUE(db.commitTransaction());
    const struct {
        const char *name;
        int minMs, maxMs;
    } cuts[] = {{"every 10 to 30 ms", 10, 30}, {"every 30 to 90 ms", 30, 90}};
    const PgTestServer server = *pgTestServer();
    int round = 0;
    for (const auto &cut : cuts) {
        SCOPED_TRACE(cut.name);
        const QString word = QStringLiteral("w%1").arg(++round);
        SessionCutProxy proxy(server.port, {});
        OVNDatabaseAccess through;
        through.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(through.openDBConnection());
        proxy.cutEvery(cut.minMs, cut.maxMs, 67u + unsigned(round));
        AnnotationChanges changes;
        changes.info = {{"keywords", word}};
        changes.purchased = {{"owner", word}};
        const OVNAnnotationWrites::Summary summary =
            OVNAnnotationWrites(&through).apply(targets, changes, Mode::Append, false, callbacks);
        EXPECT_GT(proxy.cuts(), 0);
        EXPECT_TRUE(summary.committed);
        EXPECT_EQ(summary.failed, 0) << qPrintable(summary.failures.value(0).reason);
        EXPECT_EQ(summary.written, 2 * int(targets.size()));
        const int once =
            db.rowsForQuery(QStringLiteral("select count(*) from strvfile where categoryid=$1 and "
                                           "keywords like $2 and keywords not like $3"),
                            {shoot, QStringLiteral("%") + word + QStringLiteral("%"),
                             QStringLiteral("%") + word + QStringLiteral(" ") + word + QStringLiteral("%")})
                .value(0)
                .value(0)
                .toInt();
        EXPECT_EQ(once, int(targets.size()));
        for (const OVNEntryEdits::Target &target : std::as_const(targets))
            EXPECT_EQ(db.getPurchasedForMediaID(target.mid).value("owner").toString().count(word), 1)
                << qPrintable(target.mid);
    }
}

// Over a slow link every round trip counts: a batch of entries is asked, written and committed in
// a few round trips whatever its size, so that many entries cost far fewer round trips than
// entries, also where the stored licence rows are read first.
TEST_P(AnnotationWritesTest, ManyEntriesCostFewerRoundTripsThanEntries)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server has round trips to count";
    const QString shoot = targets.first().owner;
    ASSERT_TRUE(db.beginTransaction());
    for (int i = 0; i < 198; ++i) {
        QVariantMap record = importRecord(shoot, QStringLiteral("MORE_%1.JPG").arg(i));
        record.insert("keywords", "Beach");
        const QString mid = db.addMediaListEntry(record);
        ASSERT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
        targets.append({mid, shoot, int(targets.size()), {}, {}});
        shown.insert(targets.last().tag,
                     {{"keywords", "Beach"}, {"absolutepath", QStringLiteral("/Shoot/MORE_%1.JPG").arg(i)}});
    }
    ASSERT_TRUE(db.commitTransaction());
    AnnotationChanges overwrite, words, licence;
    overwrite.info = {{"keywords", "sea"}, {"shortdesc", "shore"}, {"modrelavailable", "1"}};
    words.info = {{"keywords", "dune"}};
    words.shortDescriptionAddFilename = true;
    licence.purchased = {{"owner", "Ann"}, {"licensetype", "2"}};
    const struct {
        const char *name;
        const AnnotationChanges &changes;
        Mode mode;
        bool clear;
        int fieldsPerEntry;
        const char *check; // entries the catalog holds with the change
    } cases[] = {
        {"overwrite", overwrite, Mode::Overwrite, false, 3,
         "select count(*) from strvfile where keywords='sea' and shortdesc='shore' and modrelavailable=1"},
        {"append with file names", words, Mode::Append, false, 2,
         "select count(*) from strvfile where keywords='sea dune' and shortdesc like 'shore %'"},
        {"merge licences, clearing", licence, Mode::Merge, true, 2,
         "select count(*) from strvpurchased where owner='Ann' and licensetype=2"},
    };
    const PgTestServer server = *pgTestServer();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SessionCutProxy proxy(server.port, {});
        OVNDatabaseAccess through;
        through.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(through.openDBConnection());
        const int before = proxy.messages();
        const OVNAnnotationWrites::Summary summary =
            OVNAnnotationWrites(&through).apply(targets, c.changes, c.mode, c.clear, callbacks);
        const int roundTrips = proxy.messages() - before;
        EXPECT_EQ(summary.failed, 0) << qPrintable(summary.failures.value(0).reason);
        EXPECT_EQ(summary.written, c.fieldsPerEntry * int(targets.size()));
        EXPECT_EQ(db.rowsForQuery(QString::fromLatin1(c.check)).value(0).value(0).toInt(), int(targets.size()));
        EXPECT_LE(roundTrips, int(targets.size()) / 2);
    }
}

// A server gone for good, as the writes begin or as the stored licence rows are read first: after
// the wait the work stops, nothing is written, and every entry left is named. A stop among the
// writes names the first entry it left and counts the rest; each entry whose rows could not be
// read is named with the reason.
TEST_P(AnnotationWritesTest, AServerGoneForGoodNamesTheEntriesLeftUnwritten)
{
    if (!isPostgres())
        GTEST_SKIP() << "only a server can go away";
    AnnotationChanges words, licence;
    words.info = {{"keywords", "gone"}, {"shortdesc", "gone"}};
    licence.purchased = {{"owner", "gone"}};
    const struct {
        const char *name;
        const char *statement;
        const AnnotationChanges &changes;
        Mode mode;
        int failed, leftByStop;
        QStringList named; // the entries of the failures, in order
    } cases[] = {
        {"as the writes begin", "update strvfile", words, Mode::Overwrite, 4, 2, {targets[0].mid}},
        {"as the licence rows are read",
         "from strvpurchased",
         licence,
         Mode::Append,
         2,
         0,
         {targets[0].mid, targets[1].mid}},
    };
    const PgTestServer server = *pgTestServer();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SessionCutProxy proxy(server.port, {});
        proxy.cutAt(c.statement, 1, SessionCutProxy::How::Down);
        OVNDatabaseAccess through;
        through.setConnectionDetails(QStringLiteral("PostgreSQL"), QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                     server.user, server.password, m_pgDatabase);
        ASSERT_TRUE(through.openDBConnection());
        const OVNAnnotationWrites::Summary summary =
            OVNAnnotationWrites(&through).apply(targets, c.changes, c.mode, false, callbacks);
        EXPECT_EQ(proxy.cuts(), 1);
        EXPECT_EQ(summary.written, 0);
        EXPECT_EQ(summary.failed, c.failed);
        EXPECT_EQ(summary.failedEntries, 2);
        EXPECT_EQ(summary.leftByStop, c.leftByStop);
        QStringList named;
        for (const OVNAnnotationWrites::Failure &failure : summary.failures) {
            named.append(failure.mid);
            EXPECT_EQ(failure.reason, "The catalog server cannot be reached.");
        }
        EXPECT_EQ(named, c.named);
        for (const OVNEntryEdits::Target &target : std::as_const(targets)) {
            EXPECT_EQ(stored(target.mid, "keywords"), "Beach");
            EXPECT_TRUE(db.getPurchasedForMediaID(target.mid).isEmpty());
        }
    }
}
