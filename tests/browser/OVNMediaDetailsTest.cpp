#include "DetailsFakeDataSource.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPainterPath>
#include <QScrollArea>
#include <QTableView>
#include <QTest>
#include <QApplication>
#include <QFocusEvent>

namespace {

using Store = OVNMediaDetails::Store;
using Write = DetailsFakeDataSource::Write;

class DetailsPaneTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto a = source.addRecord(QStringLiteral("mid-a"), QStringLiteral("/photos/2008/Trip/beach.jpg"),
                                  QStringLiteral("1000"));
        a->insert(QStringLiteral("keywords"), QStringLiteral("Beach"));
        a->insert(QStringLiteral("modrelavailable"), QStringLiteral("1"));
        auto b = source.addRecord(QStringLiteral("mid-b"), QStringLiteral("/photos/2008/Trip/dunes.jpg"),
                                  QStringLiteral("2500.5"));
        b->insert(QStringLiteral("keywords"), QStringLiteral("Dunes"));
        source.addRecord(QStringLiteral("mid-c"), QStringLiteral("/photos/c.jpg"), QStringLiteral("n/a"));
        pane.resize(320, 360);
        pane.show();
    }

    // What the catalog window does at every selection change.
    void select(QList<int> rows)
    {
        source.selection = rows;
        pane.setDataSource(rows.isEmpty() ? nullptr : &source);
        pane.reloadData();
    }

    template <typename T>
    T *control(const char *outlet)
    {
        return pane.findChild<T *>(QString::fromLatin1(outlet));
    }
    QWidget *shown() { return pane.shownTabView(); }

    DetailsFakeDataSource source;
    OVNMediaDetails pane;
};

TEST_F(DetailsPaneTest, TabsAndFormsFollowTheSelectionCount)
{
    EXPECT_EQ(pane.tabs(), (QStringList{"Media Info", "Purchased", "Sold", "File Info", "Meta Data"}));
    select({});
    EXPECT_EQ(pane.selectionCount(), 0);
    EXPECT_FALSE(pane.tabsEnabled());
    EXPECT_EQ(shown(), nullptr);

    select({0});
    EXPECT_EQ(pane.selectionCount(), 1);
    EXPECT_TRUE(pane.tabsEnabled());
    ASSERT_NE(shown(), nullptr);
    EXPECT_EQ(shown()->objectName(), "vcScroll_");
    EXPECT_EQ(control<QLineEdit>("vcKeywords_")->text(), "Beach");
    EXPECT_TRUE(control<QCheckBox>("vcModelReleaseFlag_")->isChecked());
    EXPECT_FALSE(control<QCheckBox>("vcPropertyReleaseFlag_")->isChecked());

    // Two entries: the forms go, the tabs grey, the count and the summed size are shown, and the
    // forms' value reads are not asked for.
    userInput::click(&pane, OVNMediaDetails::tabHitRect(OVNMediaDetails::SoldTab).center());
    ASSERT_EQ(pane.selectedTab(), OVNMediaDetails::SoldTab);
    source.asked.clear();
    select({0, 1});
    EXPECT_EQ(pane.selectionCount(), 2);
    EXPECT_DOUBLE_EQ(pane.selectionSize(), 3500.5);
    EXPECT_FALSE(pane.tabsEnabled());
    EXPECT_EQ(shown(), nullptr);
    EXPECT_TRUE(source.asked.isEmpty());
    userInput::click(&pane, OVNMediaDetails::tabHitRect(OVNMediaDetails::MediaInfoTab).center());
    EXPECT_EQ(pane.selectedTab(), OVNMediaDetails::SoldTab);

    // One again: the tab last chosen comes back. A size that is not a number counts as 0.
    select({2});
    EXPECT_EQ(pane.selectedTab(), OVNMediaDetails::SoldTab);
    EXPECT_EQ(shown()->objectName(), "vsScroll_");
    EXPECT_DOUBLE_EQ(pane.selectionSize(), 0.0);
}

TEST_F(DetailsPaneTest, TabClicksShowEachTab)
{
    select({0});
    const char *expected[] = {"vcScroll_", "vpScroll_", "vsScroll_", "viewTechData_", "viewTechData_"};
    for (int tab = 0; tab < 5; ++tab) {
        userInput::click(&pane, OVNMediaDetails::tabHitRect(tab).center());
        EXPECT_EQ(pane.selectedTab(), tab);
        ASSERT_NE(shown(), nullptr);
        EXPECT_EQ(shown()->objectName(), expected[tab]);
    }
    pane.tabPressed(7);
    EXPECT_EQ(shown(), nullptr);
}

TEST_F(DetailsPaneTest, RefusedAccessLeavesValuesVisibleAndControlsDisabled)
{
    source.writable = false;
    select({0});
    // Merely showing an entry says nothing; a refusal is said when a change is handed over.
    EXPECT_EQ(source.accessChecks, QStringList{"READ & WRITE/quiet"});
    EXPECT_EQ(control<QLineEdit>("vcKeywords_")->text(), "Beach");
    EXPECT_FALSE(control<QLineEdit>("vcKeywords_")->isEnabled());
    EXPECT_FALSE(control<QCheckBox>("vcModelReleaseFlag_")->isEnabled());
    EXPECT_FALSE(control<QWidget>("vcKeywordsAction_")->isEnabled());
    pane.tabPressed(OVNMediaDetails::PurchasedTab);
    EXPECT_FALSE(control<QComboBox>("vpLicenseType_")->isEnabled());
    EXPECT_FALSE(control<QLineEdit>("vpImageOwner_")->isEnabled());

    // Without the access check every control is enabled and nothing is asked.
    source.writable = true;
    source.accessChecks.clear();
    source.declared &= ~DetailsFakeDataSource::Capabilities(DetailsFakeDataSource::Capability::AccessCheck);
    select({0});
    EXPECT_TRUE(source.accessChecks.isEmpty());
    EXPECT_TRUE(control<QComboBox>("vpLicenseType_")->isEnabled());
    pane.tabPressed(OVNMediaDetails::MediaInfoTab);
    EXPECT_TRUE(control<QLineEdit>("vcVolumeName_")->isEnabled());
    EXPECT_TRUE(control<QWidget>("vcKeywordsAction_")->isEnabled());
}

TEST_F(DetailsPaneTest, LicenceFormsReadAndWriteTheirTables)
{
    source.purchased["mid-a"] = {{"licensetype", "2"}, {"owner", "Halden"}};
    source.sold["mid-a"] = {{"licensetype", "exclusive"}, {"customer", "Coastline"}};
    select({0});
    pane.tabPressed(OVNMediaDetails::PurchasedTab);
    EXPECT_EQ(control<QComboBox>("vpLicenseType_")->currentIndex(), 2);
    EXPECT_EQ(control<QLineEdit>("vpImageOwner_")->text(), "Halden");
    pane.tabPressed(OVNMediaDetails::SoldTab);
    EXPECT_EQ(control<QComboBox>("vsLicenseType_")->currentIndex(), 0); // not a number
    EXPECT_EQ(control<QLineEdit>("vsCustomer_")->text(), "Coastline");
    source.sold["mid-a"]["licensetype"] = "9"; // out of range
    pane.tabPressed(OVNMediaDetails::SoldTab);
    EXPECT_EQ(control<QComboBox>("vsLicenseType_")->currentIndex(), 0);

    // The pane's own filling wrote nothing; a choice the user makes is stored as its index.
    EXPECT_TRUE(source.writes.empty());
    QComboBox *popUp = control<QComboBox>("vsLicenseType_");
    popUp->setCurrentIndex(3);
    EXPECT_TRUE(source.writes.empty());
    emit popUp->activated(3);
    ASSERT_EQ(source.writes.size(), 1u);
    EXPECT_EQ(source.writes.back(), (Write{Store::Sold, "3", "licensetype", "mid-a"}));

    pane.tabPressed(OVNMediaDetails::MediaInfoTab);
    control<QCheckBox>("vcPropertyReleaseFlag_")->click();
    EXPECT_EQ(source.writes.back(), (Write{Store::Annotation, "1", "proprelavailable", "mid-a"}));

    pane.tabPressed(OVNMediaDetails::PurchasedTab);
    QLineEdit *photographer = control<QLineEdit>("vpImagePhotographer_");
    userInput::type(photographer, "Orrin");
    userInput::pressReturn(photographer);
    EXPECT_EQ(source.writes.back(), (Write{Store::Purchased, "Orrin", "photographer", "mid-a"}));
}

// A text the catalog could not take is kept for its entry and field: it comes back with its entry,
// marked, is handed over again when editing ends there (changed or not), and Escape gives it up.
// A refused text, and a choice that could not be stored, show the stored value again.
TEST_F(DetailsPaneTest, AnEditTheCatalogDidNotTakeIsKeptPerEntryUntilStoredOrGivenUp)
{
    using Answer = DetailsFakeDataSource::Answer;
    QLineEdit *title = control<QLineEdit>("vcKeywords_");
    const auto typeInto = [&](QLineEdit *field, const char *text, bool withReturn) {
        field->end(false);
        userInput::type(field, text);
        if (withReturn)
            userInput::pressReturn(field);
    };
    const auto leave = [](QLineEdit *field) {
        QFocusEvent out(QEvent::FocusOut);
        QApplication::sendEvent(field, &out);
    };
    source.answer = Answer::Unreachable;
    select({0});
    typeInto(title, " at dusk", true);
    EXPECT_EQ(pane.unsavedField(), title);
    select({1}); // another entry shows its own value
    EXPECT_EQ(title->text(), "Dunes");
    EXPECT_EQ(pane.unsavedField(), nullptr);
    typeInto(title, "!", false);
    select({0}); // ends the edit of the other entry, kept too
    EXPECT_EQ(title->text(), "Beach at dusk");
    EXPECT_EQ(pane.unsavedField(), title);
    EXPECT_EQ(pane.unsavedEditCount(), 2);
    EXPECT_TRUE(source.writes.empty());

    source.answer = Answer::Stored;
    leave(title); // unchanged since it was shown
    ASSERT_EQ(source.writes.size(), 1u);
    EXPECT_EQ(source.writes[0], (Write{Store::Annotation, "Beach at dusk", "keywords", "mid-a"}));
    EXPECT_EQ(pane.unsavedField(), nullptr);
    leave(title); // nothing kept any more: nothing handed over again
    EXPECT_EQ(source.writes.size(), 1u);

    select({1});
    EXPECT_EQ(title->text(), "Dunes!");
    QTest::keyClick(title, Qt::Key_Escape);
    EXPECT_EQ(title->text(), "Dunes");
    EXPECT_EQ(pane.unsavedEditCount(), 0);

    source.answer = Answer::Refused;
    typeInto(title, " refused", true);
    EXPECT_EQ(title->text(), "Dunes");
    EXPECT_EQ(pane.unsavedEditCount(), 0);
    source.answer = Answer::Unreachable;
    QCheckBox *release = control<QCheckBox>("vcModelReleaseFlag_");
    const bool before = release->isChecked();
    release->click();
    EXPECT_EQ(release->isChecked(), before);
    EXPECT_EQ(source.writes.size(), 1u);
}

TEST_F(DetailsPaneTest, TextEditGoesToTheEntryOnWhichItBegan)
{
    select({0});
    QLineEdit *title = control<QLineEdit>("vcKeywords_");
    title->end(false);
    userInput::type(title, " at dusk");
    EXPECT_TRUE(source.writes.empty()); // normal mode stores when the edit ends

    // The selection moves while the field is still being edited: the text goes to the old entry
    // before the new entry's values are shown.
    select({1});
    ASSERT_EQ(source.writes.size(), 1u);
    EXPECT_EQ(source.writes[0], (Write{Store::Annotation, "Beach at dusk", "keywords", "mid-a"}));
    EXPECT_EQ(source.records[0]->string("keywords"), "Beach at dusk");
    EXPECT_EQ(source.records[1]->string("keywords"), "Dunes");
    EXPECT_EQ(title->text(), "Dunes");

    // Ending the edit later hands nothing over a second time; a new edit belongs to the new entry.
    userInput::pressReturn(title);
    EXPECT_EQ(source.writes.size(), 1u);
    title->end(false);
    userInput::type(title, "!");
    userInput::pressReturn(title);
    ASSERT_EQ(source.writes.size(), 2u);
    EXPECT_EQ(source.writes[1], (Write{Store::Annotation, "Dunes!", "keywords", "mid-b"}));

    // Nothing typed, nothing stored; the edit also survives the selection being cleared.
    userInput::pressReturn(title);
    EXPECT_EQ(source.writes.size(), 2u);
    title->end(false);
    userInput::type(title, "?");
    select({});
    ASSERT_EQ(source.writes.size(), 3u);
    EXPECT_EQ(source.writes[2], (Write{Store::Annotation, "Dunes!?", "keywords", "mid-b"}));
}

TEST_F(DetailsPaneTest, ActionAreasOnlyWithSeveralEntriesAndOnlyWhenOffered)
{
    select({0});
    const int h = pane.height();
    userInput::click(&pane, OVNMediaDetails::actionAreaRect(OVNMediaDetails::ActionArea::BurnCD, h).center());
    EXPECT_TRUE(source.actions.isEmpty());

    select({0, 1});
    userInput::click(&pane, OVNMediaDetails::actionAreaRect(OVNMediaDetails::ActionArea::BurnCD, h).center());
    userInput::click(&pane, OVNMediaDetails::actionAreaRect(OVNMediaDetails::ActionArea::AutoFill, h).center());
    userInput::click(&pane, OVNMediaDetails::actionAreaRect(OVNMediaDetails::ActionArea::SendAsEmail, h).center());
    ASSERT_EQ(source.actions.size(), 3);
    EXPECT_EQ(source.actions[0], (QPair<QString, QObject *>("burn", &pane)));
    EXPECT_EQ(source.actions[1].first, "autofill");
    EXPECT_EQ(source.actions[2].first, "email");

    // The capability is asked at each click, not once.
    source.declared &= ~DetailsFakeDataSource::Capabilities(DetailsFakeDataSource::Capability::AutoFill);
    userInput::click(&pane, OVNMediaDetails::actionAreaRect(OVNMediaDetails::ActionArea::AutoFill, h).center());
    userInput::click(&pane, QPoint(57, h - 30)); // between two areas
    EXPECT_EQ(source.actions.size(), 3);
}

TEST_F(DetailsPaneTest, BufferDataSourceInAutoFillMode)
{
    // A buffer answers values but no selection: "No Selection" in normal mode...
    source.declared = DetailsFakeDataSource::Capability::StringForID;
    source.selection = {0};
    pane.setDataSource(&source);
    pane.reloadData();
    EXPECT_EQ(pane.selectionCount(), 0);
    EXPECT_EQ(shown(), nullptr);

    // ...and all three forms in auto-fill mode, where every keystroke is stored.
    pane.setAutoFillMode(true);
    EXPECT_EQ(pane.tabs(), (QStringList{"Media Info", "Purchased", "Sold"}));
    pane.reloadData();
    EXPECT_TRUE(pane.tabsEnabled());
    ASSERT_NE(shown(), nullptr);
    QLineEdit *keywords = control<QLineEdit>("vcShortDescription_");
    keywords->clear();
    userInput::type(keywords, "ab");
    ASSERT_EQ(source.writes.size(), 2u);
    EXPECT_EQ(source.writes[0].value, "a");
    EXPECT_EQ(source.writes[1].value, "ab");
    EXPECT_EQ(source.writes[1].key, "shortdesc");

    // File Info and Meta Data are neither offered nor clickable.
    userInput::click(&pane, OVNMediaDetails::tabHitRect(OVNMediaDetails::FileInfoTab).center());
    EXPECT_EQ(pane.selectedTab(), OVNMediaDetails::MediaInfoTab);
    userInput::click(&pane, OVNMediaDetails::tabHitRect(OVNMediaDetails::SoldTab).center());
    EXPECT_EQ(shown()->objectName(), "vsScroll_");
}

TEST_F(DetailsPaneTest, ShortPaneShowsOnlyItsDisabledTabStrip)
{
    select({0});
    ASSERT_NE(shown(), nullptr);
    pane.resize(320, 18);
    QCoreApplication::processEvents();
    EXPECT_FALSE(pane.tabsEnabled());
    EXPECT_EQ(shown(), nullptr);
    pane.resize(320, 300);
    QCoreApplication::processEvents();
    EXPECT_FALSE(pane.tabsEnabled()); // until the next reload
    pane.reloadData();
    EXPECT_TRUE(pane.tabsEnabled());
    EXPECT_NE(shown(), nullptr);
}

TEST_F(DetailsPaneTest, NoDataSourceReadsNothing)
{
    select({0});
    pane.setDataSource(nullptr);
    pane.reloadData();
    EXPECT_EQ(pane.selectionCount(), 0);
    EXPECT_EQ(shown(), nullptr);
    pane.tabPressed(OVNMediaDetails::MediaInfoTab);
    EXPECT_EQ(shown(), nullptr);
    EXPECT_TRUE(source.accessChecks.size() == 1); // only the one from the first selection
}

TEST(DetailsPaneGeometry, TabsAndActionAreas)
{
    EXPECT_EQ(OVNMediaDetails::tabRect(2), QRectF(120, 3, 80, 17));
    EXPECT_EQ(OVNMediaDetails::tabHitRect(4), QRect(240, 0, 60, 20));
    EXPECT_EQ(OVNMediaDetails::actionAreaRect(OVNMediaDetails::ActionArea::SendAsEmail, 300), QRect(115, 245, 42, 48));
    const QPainterPath selected = OVNMediaDetails::tabPath(QRectF(0, 3, 80, 17), true, 320);
    EXPECT_EQ(selected.currentPosition(), QPointF(320, 20));
    const QPainterPath plain = OVNMediaDetails::tabPath(QRectF(60, 3, 80, 17), false, 320);
    EXPECT_EQ(plain.currentPosition(), QPointF(140, 20));
    EXPECT_EQ(plain.boundingRect(), QRectF(60, 3, 80, 17));
}

} // namespace

namespace {

// A window that closes hands the open edit over (its field loses focus); a pane deleted with a field
// still focused calls nothing back while it is being taken apart.
TEST(DetailsPaneLifetime, ClosingHandsOverTheEditAndDeletingCallsNothing)
{
    DetailsFakeDataSource source;
    source.addRecord(QStringLiteral("mid-a"), QStringLiteral("/p/a.jpg"), QStringLiteral("1"));
    source.selection = {0};
    auto pane = std::make_unique<OVNMediaDetails>();
    pane->resize(320, 360);
    pane->show();
    pane->activateWindow();
    pane->setDataSource(&source);
    pane->reloadData();
    auto *field = pane->findChild<QLineEdit *>(QStringLiteral("vcVolumeName_"));
    field->setFocus();
    QCoreApplication::processEvents();
    userInput::type(field, QStringLiteral("Disk 2"));
    pane->close();
    QCoreApplication::processEvents();
    ASSERT_EQ(source.writes.size(), 1u);
    EXPECT_EQ(source.writes[0],
              (DetailsFakeDataSource::Write{OVNMediaDetails::Store::Annotation, QStringLiteral("Disk 2"),
                                            QStringLiteral("volumename"), QStringLiteral("mid-a")}));

    pane->show();
    pane->activateWindow();
    field->setFocus();
    QCoreApplication::processEvents();
    userInput::type(field, QStringLiteral("!"));
    pane.reset();
    EXPECT_EQ(source.writes.size(), 1u);
}

} // namespace
