#include "CatalogFixture.h"

#include "../support/ScriptedAlertPresenter.h"
#include "../support/CatalogUsers.h"
#include "../support/SessionCutProxy.h"
#include "../support/TestEnvironment.h"
#include "browser/OVNMediaPasteboard.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDBHelper.h"
#include "catalogdb/OVNDatabaseTransaction.h"
#include "platform/UserDefaults.h"
#include "search/OVNExpressPanel.h"
#include "search/OVNExpressStatements.h"
#include "uikit/OVNButton.h"

#include <QBuffer>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <thread>

namespace {

// Notes what the panel asks to open, by road.
class RecordingOpening : public OVNExpressPanel::Opening
{
public:
    std::optional<MediaList> readableNow(OVNDatabaseAccess *, const MediaList &records, QWidget *) override
    {
        ++asked;
        MediaList kept;
        for (const MediaRecordRef &record : records) {
            if (!leftOut.contains(record->field(MediaRecord::DisplayTag)))
                kept.append(record);
        }
        if (kept.isEmpty())
            return std::nullopt;
        return kept;
    }
    void openInViewer(const MediaRecord &record) override
    {
        opened << QStringLiteral("viewer %1 %2").arg(path(record), record.field(MediaRecord::Orientation));
    }
    void openFullScreen(const MediaRecord &record) override { opened << "full screen " + path(record); }
    void openWithCreator(const MediaRecord &record) override { opened << "creator " + path(record); }
    void openWithApplication(const MediaRecord &record, const QString &application) override
    {
        opened << "application " + application + " " + path(record);
    }
    QString path(const MediaRecord &record)
    {
        paths << record.field(MediaRecord::AbsolutePath);
        return paths.last();
    }
    QStringList opened;
    QStringList paths;   // every file opened, by any road
    int asked = 0;       // how many times the read rule was asked
    QStringList leftOut; // the entries (by name) the rule keeps back
};

} // namespace

class ExpressPanelTest : public CatalogFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        alerts = ScriptedAlertPresenter::install();
        lisbon = db.addCategoryListEntry("Lisbon", "C");
        studio = db.addCategoryListEntry("Studio", "C");
        for (int i = 0; i < 12; ++i) {
            QVariantMap values = importRecord(i < 8 ? lisbon : studio, QStringLiteral("Sunset %1").arg(i));
            values.insert("rating", 1);
            ASSERT_FALSE(db.addMediaListEntry(values).isEmpty());
        }
        panel = std::make_unique<OVNExpressPanel>();
        panel->setOpening(&opening);
    }
    void TearDown() override
    {
        panel.reset();
        for (const char *key : {"DefaultViewerType", "DefaultViewerType2", "DefaultViewerApplication2"})
            UserDefaults::standard().removeObjectForKey(QString::fromLatin1(key));
        CatalogFixture::TearDown();
    }
    void connectPanel(std::shared_ptr<OVNDatabaseAccess> connection = nullptr)
    {
        panel->setDatabaseConnection(connection ? connection : std::shared_ptr<OVNDatabaseAccess>(openAnother()));
        panel->initSelections();
    }
    // Searches as the button does and waits for what it shows.
    QString search()
    {
        QSignalSpy finished(panel.get(), &OVNExpressPanel::searchFinished);
        panel->findSearchClicked();
        if (finished.isEmpty()) {
            EXPECT_TRUE(finished.wait(60000));
        }
        return panel->statusText();
    }
    QString stored(int row) { return db.getMediaListEntryForMediaID(panel->mediaView()->mediaIDForRow(row), "rating"); }
    void selectRows(std::initializer_list<int> rows)
    {
        panel->mediaView()->deselectAll();
        for (int row : rows)
            panel->mediaView()->selectRow(row);
    }

    ScriptedAlertPresenter *alerts = nullptr;
    RecordingOpening opening;
    std::unique_ptr<OVNExpressPanel> panel;
    QString lisbon, studio;
};

// Both tabs through the panel: results, refusals in the status line with nothing listed, a
// runaway condition stopped by its limit and by Stop, a newer search replacing a running one.
TEST_P(ExpressPanelTest, SearchesRefusalsAndStops)
{
    connectPanel();
    panel->initSelections();
    EXPECT_EQ(panel->selectionBuilds(), 1);
    ASSERT_EQ(panel->searchIn()->count(), 3);
    EXPECT_EQ(panel->searchIn()->itemText(0), "All Entries");

    EXPECT_EQ(search(), "12 Items");
    panel->findField(0)->setText("SUNSET 1");
    panel->setFieldTag(0, OVNExpress::DisplayTag);
    EXPECT_EQ(panel->findField(0)->placeholderText(), "Displaytag");
    EXPECT_EQ(search(), "3 Items");
    panel->searchIn()->setCurrentIndex(2);
    panel->findField(1)->setText("5");
    panel->setFieldTag(1, OVNExpress::Rating);
    panel->findOperator(1)->setCurrentIndex(1);
    EXPECT_EQ(search(), "2 Items"); // the OR stays in "Studio"
    panel->findField(1)->setText("five");
    EXPECT_EQ(search(), "Rating must be a number");
    EXPECT_EQ(panel->mediaView()->count(), 0);

    panel->findClearClicked();
    EXPECT_EQ(panel->findField(1)->text(), "");
    EXPECT_EQ(panel->fieldTag(1), OVNExpress::Rating);
    EXPECT_EQ(panel->findField(1)->placeholderText(), "Rating");
    EXPECT_EQ(panel->searchIn()->currentIndex(), 0);

    panel->tabs()->setCurrentIndex(1);
    panel->expertText()->setPlainText("#rating# = 1 and #p.owner# is null");
    EXPECT_EQ(search(), "12 Items");
    panel->expertText()->setPlainText("1=1; delete from strvfile");
    EXPECT_EQ(search(), "A search is one condition: \";\" is not accepted.");
    panel->expertText()->setPlainText("exists (select 1 from strvusers)");
    EXPECT_EQ(search(), "A search condition cannot hold a query of its own (\"exists\").");
    // What the catalog rejects is told in the program's words.
    panel->expertText()->setPlainText("upper() = 'x'");
    EXPECT_EQ(search(), "The search could not run.");
    EXPECT_EQ(panel->mediaView()->count(), 0);

    // A condition that takes long on every entry: patterns that match each description almost to
    // its end, at each of its places.
    const QString bulk = db.addCategoryListEntry("Bulk", "C");
    {
        OVNDatabaseTransaction batch(db);
        for (int i = 0; i < 600; ++i) {
            QVariantMap values = importRecord(bulk, QStringLiteral("Bulk %1").arg(i));
            values.insert("fulldesc", QString(2000, 'a'));
            ASSERT_FALSE(db.addMediaListEntry(values).isEmpty());
        }
        ASSERT_TRUE(batch.commit());
    }
    QStringList patterns;
    for (const char *last : {"b", "c", "d", "e"})
        patterns << "#fulldesc# like '%" + QString(1500, 'a') + last + "%'";
    const QString runaway = patterns.join(" or ");
    panel->expertText()->setPlainText(runaway);
    panel->setTimeLimitMs(300);
    EXPECT_EQ(search(), "The search took longer than 0.3 seconds and was stopped.");

    panel->setTimeLimitMs(60000);
    QSignalSpy finished(panel.get(), &OVNExpressPanel::searchFinished);
    panel->findSearchClicked();
    EXPECT_TRUE(panel->isSearching() && panel->stopButton()->isEnabled());
    while (finished.isEmpty()) {
        panel->findStopClicked();
        finished.wait(20);
    }
    EXPECT_EQ(panel->statusText(), "The search was stopped.");
    EXPECT_FALSE(panel->isSearching());

    // A runaway search replaced by a newer one: only the newer one's result is shown.
    finished.clear();
    panel->findSearchClicked();
    panel->expertText()->setPlainText("#displaytag# = 'Sunset 3'");
    panel->findSearchClicked();
    while (panel->isSearching())
        finished.wait(50);
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.size(), 1);
    EXPECT_EQ(panel->statusText(), "1 Item");
    EXPECT_EQ(db.getMediaListForSQL(OVNDBHelper::mediaSelect()).size(), 612);
}

// The expert tab's field button is a context button: a press asks the panel, which pops up a new
// field menu itself and leaves the button without one; an item inserts its clause.
TEST_P(ExpressPanelTest, TheFieldButtonPopsUpTheFieldMenu)
{
    connectPanel();
    auto *button = panel->findChild<OVNButton *>();
    ASSERT_TRUE(button);
    EXPECT_EQ(button->target(), panel.get());
    for (int press = 0; press < 2; ++press) {
        QTest::mousePress(button, Qt::LeftButton);
        ASSERT_TRUE(panel->fieldMenu()) << press;
        EXPECT_TRUE(panel->fieldMenu()->isVisible()) << press;
        EXPECT_EQ(button->contextMenu(), nullptr);
        EXPECT_FALSE(button->isDown());
        panel->fieldMenu()->close();
    }
    QTest::mousePress(button, Qt::LeftButton);
    panel->expertText()->clear();
    QAction *first = nullptr;
    for (QAction *item : panel->fieldMenu()->actions())
        if (!first && !item->isSeparator())
            first = item;
    ASSERT_TRUE(first);
    first->trigger();
    EXPECT_FALSE(panel->expertText()->toPlainText().isEmpty());
}

// Opening and rating the results: the roads by preference and button, beeps, and a rating that
// reaches the catalog (or, refused by it, is reported and not shown).
TEST_P(ExpressPanelTest, OpeningAndRatingResults)
{
    connectPanel();
    ASSERT_EQ(search(), "12 Items");
    OVNMediaView *view = panel->mediaView();

    EXPECT_FALSE(panel->buttonOpenWithMediaViewerClick()); // nothing selected: a beep
    selectRows({0, 1});
    EXPECT_FALSE(panel->buttonOpenWithMediaViewerFSClick()); // two: a beep, nothing opened
    EXPECT_TRUE(opening.opened.isEmpty());
    const QString first = view->filenameForRow(0);
    const QString second = view->filenameForRow(1);

    UserDefaults &defaults = UserDefaults::standard();
    defaults.setInteger(0, "DefaultViewerType");
    defaults.setInteger(2, "DefaultViewerType2");
    const struct {
        Qt::KeyboardModifiers modifiers;
        const char *application; // DefaultViewerApplication2
        QStringList opened;
    } cases[] = {
        {Qt::NoModifier, "", {"viewer " + first + " 6", "viewer " + second + " 6"}},
        {Qt::AltModifier, "", {"creator " + first, "creator " + second}},
        {Qt::ControlModifier,
         "/usr/bin/viewer",
         {"application /usr/bin/viewer " + first, "application /usr/bin/viewer " + second}},
    };
    for (const auto &c : cases) {
        opening.opened.clear();
        defaults.setString(QString::fromUtf8(c.application), "DefaultViewerApplication2");
        panel->ovnMediaViewDoubleClickWithModifierFlag(view, c.modifiers);
        EXPECT_EQ(opening.opened, c.opened) << c.application;
    }
    defaults.setInteger(7, "DefaultViewerType");
    opening.opened.clear();
    panel->ovnMediaViewDoubleClickWithModifierFlag(view, Qt::NoModifier);
    EXPECT_TRUE(opening.opened.isEmpty());
    selectRows({1});
    EXPECT_TRUE(panel->buttonOpenWithMediaViewerFSClick());
    EXPECT_EQ(opening.opened, QStringList{"full screen " + second});

    selectRows({0, 1, 2});
    panel->menuSetRating(4);
    for (int row : {0, 1, 2}) {
        EXPECT_EQ(stored(row), "4");
        EXPECT_EQ(view->mediaObject("rating", row).toString(), "4");
    }
    EXPECT_EQ(stored(3), "1");
    EXPECT_TRUE(alerts->shown().isEmpty());

    // A catalog that refuses the write: reported, nothing written, nothing shown changed.
    if (isPostgres())
        return; // the layer's own tests cover a refusing server
    ASSERT_TRUE(db.runSQLCommand("create trigger norating before update on strvfile when new.rating = 2 "
                                 "begin select raise(abort, 'ratings of 2 are refused'); end"));
    panel->menuSetRating(2);
    ASSERT_EQ(alerts->shown().size(), 1);
    EXPECT_EQ(alerts->shown().last().message, "Rating Failed");
    EXPECT_TRUE(alerts->shown().last().informativeText.contains("ratings of 2 are refused"));
    for (int row : {0, 1, 2}) {
        EXPECT_EQ(stored(row), "4");
        EXPECT_EQ(view->mediaObject("rating", row).toString(), "4");
    }
}

// Ratings and thumbnails through the panel's own connection go on through sessions that end and a
// server away for a few seconds, as the window's do: stored once, said saved, no alert, and the
// status line says it waits while the server is away.
TEST_P(ExpressPanelTest, RatingsAndThumbnailsGoOnThroughEndedSessions)
{
    if (!isPostgres())
        GTEST_SKIP() << "a catalog file has no sessions";
    const PgTestServer server = *pgTestServer();
    SessionCutProxy proxy(server.port, {});
    const std::shared_ptr<OVNDatabaseAccess> connection = openThrough(proxy.port());
    ASSERT_TRUE(connection->isDBConnectionActive());
    connectPanel(connection);
    ASSERT_EQ(search(), "12 Items");
    OVNMediaView *view = panel->mediaView();
    QStringList said;
    QObject::connect(panel.get(), &OVNExpressPanel::statusShown, [&said](const QString &text) { said << text; });
    const struct {
        const char *name;
        const char *statement; // cut there; none: the server is away for two seconds
        SessionCutProxy::How how;
        int rating;
    } cuts[] = {
        {"the server away", nullptr, SessionCutProxy::How::Down, 2},
        {"the write cut", "update strvfile", SessionCutProxy::How::Dropped, 3},
        {"the commit's answer lost", "COMMIT", SessionCutProxy::How::AnswerLost, 4},
    };
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.name);
        said.clear();
        selectRows({0, 1});
        std::thread back;
        if (c.statement) {
            proxy.cutAt(c.statement, 1, c.how);
        } else {
            back = proxy.awayFor(std::chrono::seconds(2));
        }
        panel->menuSetRating(c.rating);
        if (back.joinable())
            back.join();
        EXPECT_TRUE(alerts->shown().isEmpty()) << qPrintable(alerts->shown().value(0).informativeText);
        for (int row : {0, 1}) {
            EXPECT_EQ(stored(row), QString::number(c.rating));
            EXPECT_EQ(view->mediaObject("rating", row).toString(), QString::number(c.rating));
        }
        EXPECT_EQ(stored(2), "1");
        EXPECT_EQ(said.contains(OVNCatalogOpening::waitingText()), c.statement == nullptr)
            << qPrintable(said.join('|'));
    }
    // A thumbnail asked while the server is away comes once it is back.
    QImage picture(16, 12, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&buffer, "JPEG"));
    const QString mid = view->mediaIDForRow(5);
    ASSERT_TRUE(db.updateThumbnailForMediaID(mid, jpeg));
    std::thread back = proxy.awayFor(std::chrono::seconds(2));
    said.clear();
    const QByteArray thumbnail = panel->ovnMediaViewThumbnailData(nullptr, mid);
    back.join();
    EXPECT_EQ(thumbnail, jpeg);
    EXPECT_TRUE(said.contains(OVNCatalogOpening::waitingText())) << qPrintable(said.join('|'));
    EXPECT_EQ(panel->statusText(), "12 Items");
}

// Every road out of the results asks the read rule as the entries leave, once, and hands on only
// what it keeps: the buttons, a double-click by each preference, a drag out; with everything kept
// back nothing goes.
TEST_P(ExpressPanelTest, EveryRoadOutOfTheResultsAsksTheReadRule)
{
    connectPanel();
    ASSERT_EQ(search(), "12 Items");
    OVNMediaView *view = panel->mediaView();
    UserDefaults &defaults = UserDefaults::standard();
    using Road = std::function<QStringList()>;
    // What each road handed on, by file name.
    const auto openedNames = [&] {
        QStringList names;
        for (const QString &path : std::as_const(opening.paths))
            names.append(QFileInfo(path).fileName());
        return names;
    };
    const auto doubleClick = [&](int type, const char *application) {
        return [&, type, application] {
            defaults.setInteger(type, "DefaultViewerType");
            defaults.setString(QString::fromLatin1(application), "DefaultViewerApplication");
            panel->ovnMediaViewDoubleClickWithModifierFlag(view, Qt::NoModifier);
            return openedNames();
        };
    };
    const struct {
        const char *name;
        bool oneRow; // the road takes exactly one selected entry
        Road road;
    } roads[] = {
        {"Open", false, [&] { return panel->buttonOpenWithMediaViewerClick(), openedNames(); }},
        {"Full Screen", true, [&] { return panel->buttonOpenWithMediaViewerFSClick(), openedNames(); }},
        {"Default Application", false, [&] { return panel->buttonOpenWithCreatorClick(), openedNames(); }},
        {"a chosen application", false, [&] { return panel->openWithApplication("/usr/bin/viewer"), openedNames(); }},
        {"double-click, viewer", false, doubleClick(0, "")},
        {"double-click, default application", false, doubleClick(1, "")},
        {"double-click, chosen application", false, doubleClick(2, "/usr/bin/viewer")},
        {"a drag out", false,
         [&] {
             QStringList names;
             if (const std::unique_ptr<QMimeData> data = view->dragContents(view->selectedRows().first())) {
                 for (const QString &path : OVNMediaPasteboard::read(data.get(), QByteArray()).paths)
                     names.append(QFileInfo(path).fileName());
             }
             return names;
         }},
    };
    for (const auto &road : roads) {
        for (const bool all : {false, true}) {
            SCOPED_TRACE(std::string(road.name) + (all ? ", all kept back" : ", one kept back"));
            const QString kept = view->mediaObject("displaytag", 1).toString();
            const QString back = view->mediaObject("displaytag", 0).toString();
            opening.leftOut = all ? QStringList{back, kept} : QStringList{back};
            opening.paths.clear();
            opening.asked = 0;
            selectRows(road.oneRow ? std::initializer_list<int>{all ? 0 : 1} : std::initializer_list<int>{0, 1});
            const QStringList expected = all ? QStringList()
                                             : QStringList{QFileInfo(view->filenameForRow(1)).fileName()};
            EXPECT_EQ(road.road(), expected);
            EXPECT_EQ(opening.asked, 1);
        }
    }
    for (const char *key : {"DefaultViewerType", "DefaultViewerApplication"})
        defaults.removeObjectForKey(QString::fromLatin1(key));
}

// A missing connection: the alert, no list; the next showing with a connection builds it once.
TEST_P(ExpressPanelTest, FailedConnectionRetries)
{
    panel->initSelections();
    ASSERT_EQ(alerts->shown().size(), 1);
    EXPECT_EQ(alerts->shown().last().informativeText, "No database connection");
    EXPECT_EQ(panel->selectionBuilds(), 0);
    EXPECT_EQ(search(), "0 Items");
    auto broken = std::make_shared<OVNDatabaseAccess>();
    broken->setConnectionDetails("Integrated", QString(), QString(), QString(), m_dir.path());
    broken->openDBConnection();
    connectPanel(broken);
    EXPECT_EQ(alerts->shown().size(), 2);
    connectPanel();
    panel->initSelections();
    EXPECT_EQ(panel->selectionBuilds(), 1);
    EXPECT_EQ(search(), "12 Items");
}

// On a server with users: "NO ACCESS" entries are never offered or found; "READ ONLY" ones are
// never rated (one alert, nothing written, also for the writable entries selected with them); a
// user taken out of every group rates nothing.
class ServerExpressPanelTest : public ExpressPanelTest
{
protected:
    void SetUp() override
    {
        ExpressPanelTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        QString staff;
        ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, lisbon, staff, "NO ACCESS"));
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, studio, staff, "READ ONLY"));
        shared = db.addCategoryListEntry("Shared", "C");
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, shared, staff, "READ & WRITE"));
        ASSERT_FALSE(db.addMediaListEntry(importRecord(shared, "Shared 1")).isEmpty());
        user = openAnother();
        ASSERT_NO_FATAL_FAILURE(signInAsAnn(*user));
    }
    std::shared_ptr<OVNDatabaseAccess> user;
    QString shared;
};

INSTANTIATE_TEST_SUITE_P(Server, ServerExpressPanelTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(ServerExpressPanelTest, NoAccessIsNeverListedAndReadOnlyNeverRated)
{
    connectPanel(user);
    ASSERT_EQ(panel->searchIn()->count(), 3);
    EXPECT_EQ(panel->searchIn()->itemText(1), "Studio");
    EXPECT_EQ(panel->searchIn()->itemText(2), "Shared");
    panel->tabs()->setCurrentIndex(1);
    panel->expertText()->setPlainText("1=1 or categoryid <> ''");
    ASSERT_EQ(search(), "5 Items");
    OVNMediaView *view = panel->mediaView();
    const int writable = view->rowForMid(db.getMediaMIDListForCategory(shared).value(0));
    const int readOnly = writable == 0 ? 1 : 0;
    selectRows({writable, readOnly});
    panel->menuSetRating(5);
    ASSERT_EQ(alerts->shown().size(), 1);
    EXPECT_EQ(alerts->shown().last().message, "Authorization Failed");
    EXPECT_TRUE(alerts->shown().last().informativeText.contains("Your Privilege Level: READ ONLY"));
    EXPECT_EQ(stored(writable), "4");
    EXPECT_EQ(stored(readOnly), "1");
    selectRows({writable});
    panel->menuSetRating(5);
    EXPECT_EQ(stored(writable), "5");
    EXPECT_EQ(alerts->shown().size(), 1);

    // Taken out of her group while the panel is open: the next rating asks the catalog as it is now.
    db.rowsForQuery(QStringLiteral("delete from strvgroupusers"));
    panel->menuSetRating(3);
    ASSERT_EQ(alerts->shown().size(), 2);
    EXPECT_EQ(alerts->shown().last().message, "You can no longer use this catalog");
    EXPECT_EQ(stored(writable), "5");
}

OVN_CATALOG_VENDORS(ExpressPanelTest);
