#include "CatalogWindowFixture.h"
#include "../support/ScriptedAlertPresenter.h"

#include "app/OVNCategoryComment.h"
#include "browser/OVNMediaDetails.h"
#include "browser/OVNMediaView.h"
#include "platform/UserDefaults.h"
#include "search/OVNFindLine.h"
#include "search/OVNFindSheet.h"
#include "uikit/OVNIconSetHelper.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Sets the sheet's first line as a user would, then presses Search.
void searchInSheet(OVNFindSheet *sheet, const QString &catalog, const char *table, const char *column, int op,
                   const QString &value)
{
    ASSERT_TRUE(sheet);
    auto *searchIn = sheet->findChild<QComboBox *>("findSearchIn_");
    searchIn->setCurrentIndex(searchIn->findText(catalog));
    auto *fields = sheet->findChild<QComboBox *>("fslFields_");
    const int item = fields->findData(*OVNFindLine::fieldFor(table, column), Qt::UserRole);
    fields->setCurrentIndex(item);
    emit fields->activated(item);
    sheet->findChild<QComboBox *>("fslOperator_")->setCurrentIndex(op);
    sheet->findChild<QLineEdit *>("fslValue_")->setText(value);
    sheet->findChild<QPushButton *>("findSearchButton_")->click();
}

} // namespace

class FindSheetTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        CatalogWindowFixture::SetUp();
        // No server for this vendor: the test is skipped, with nothing to make.
        if (IsSkipped())
            return;
        alerts = ScriptedAlertPresenter::install();
        travel = category("Travel", "F");
        lisbon = category("Lisbon", "C", travel);
        studio = category("Studio", "C");
        entry(lisbon, "lisbon-1");
        entry(lisbon, "lisbon-2");
        ASSERT_TRUE(db.updateMediaListEntry(entry(studio, "studio-1"), "rating", "5", OVNDatabaseAccess::BareValue));
    }
    void TearDown() override
    {
        closeWindows();
        for (const char *key : {"LastFindSelection", "LastFindTableSelection", "LastFindFieldSelection"})
            UserDefaults::standard().removeObjectForKey(key);
        Alerts::setPresenter(nullptr);
        CatalogWindowFixture::TearDown();
    }

    ScriptedAlertPresenter *alerts = nullptr;
    QString travel, lisbon, studio;
};

// Find, save as a smart folder, select it, edit, save again; refusals in the sheet and in a folder.
TEST_P(FindSheetTest, FindSaveSelectEditAndSaveAgain)
{
    OVNAssetManager *window = loadWindow();
    ASSERT_TRUE(window->selectCategory(studio));
    window->tfFindSaveClick(); // no last search: a beep, no name sheet
    EXPECT_FALSE(window->smartFolderNameSheet());

    window->buttonFindClick();
    QPointer<OVNFindSheet> sheet = window->findSheet();
    const QStringList titles = [&] {
        QStringList all;
        auto *searchIn = sheet->findChild<QComboBox *>("findSearchIn_");
        for (int i = 0; i < searchIn->count(); ++i)
            all << searchIn->itemText(i);
        return all;
    }();
    EXPECT_EQ(titles, (QStringList{"All Entries", "Travel", "Studio"}));
    // A number that is none keeps the sheet open with an alert naming the line.
    searchInSheet(sheet, "Travel", "strvfile", "rating", 2, "four");
    ASSERT_EQ(alerts->shown().size(), 1);
    EXPECT_TRUE(alerts->shown().first().informativeText.startsWith("Line 1: "));
    EXPECT_TRUE(sheet->isVisible());
    searchInSheet(sheet, "Travel", "strvfile", "rating", 2, "4");
    EXPECT_FALSE(window->selectedCategory()); // the outline selection went
    EXPECT_EQ(shownNames(window->mediaView()), (QStringList{"lisbon-1", "lisbon-2"}));
    EXPECT_EQ(window->lastSearchSettings().value("CATALOG"), "Travel");

    // A new search starts with the field chosen last.
    window->buttonFindClick();
    EXPECT_EQ(window->findSheet()->findChild<QComboBox *>("fslFields_")->currentText(), "Rating");
    window->findSheet()->reject();

    window->tfFindSaveClick();
    ASSERT_TRUE(window->smartFolderNameSheet());
    EXPECT_EQ(window->smartFolderNameSheet()->findChild<QLineEdit *>()->text(), "SmartFolder");
    window->smartFolderNameSheet()->accept();
    const QList<CategoryNode> saved = db.getCategoryList("I");
    ASSERT_EQ(saved.size(), 1);
    const QVariantMap stored = OVNCategoryComment::dictionary(saved.first().value("comment").toString());
    EXPECT_EQ(stored.value("CATALOG"), "Travel");

    window->reloadCategoryList();
    ASSERT_TRUE(window->selectCategory(saved.first().value("mid").toString()));
    EXPECT_EQ(shownNames(window->mediaView()), (QStringList{"lisbon-1", "lisbon-2"}));

    window->tfFindEditClick();
    sheet = window->findSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->findChild<QLineEdit *>("fslValue_")->text(), "4");
    searchInSheet(sheet, "All Entries", "strvfile", "rating", 1, "5");
    EXPECT_EQ(shownNames(window->mediaView()), QStringList{"studio-1"});
    window->tfFindSaveClick();
    window->smartFolderNameSheet()->findChild<QLineEdit *>()->setText("Top");
    window->smartFolderNameSheet()->accept();
    EXPECT_EQ(db.getCategoryList("I").size(), 2);

    // A comment that cannot be written takes its new folder with it, and says so.
    if (!isPostgres()) {
        ASSERT_TRUE(db.runSQLCommand("create trigger nocomment before update of comment on strvcategory "
                                     "begin select raise(abort, 'refused'); end"));
        const qsizetype alertsBefore = alerts->shown().size();
        EXPECT_TRUE(window->saveSmartFolder("Unwritable").isEmpty());
        EXPECT_EQ(db.getCategoryList("I").size(), 2);
        ASSERT_EQ(alerts->shown().size(), alertsBefore + 1);
        EXPECT_FALSE(alerts->shown().last().informativeText.contains("refused"));
        ASSERT_TRUE(db.runSQLCommand("drop trigger nocomment"));
    }

    // A stored search with a value that is no number shows nothing and says why.
    QVariantMap bad = stored;
    QVariantList lines = bad.value("LINES").toList();
    QVariantMap first = lines.first().toMap();
    first.insert("VALUE", "4 or 1=1");
    lines[0] = first;
    bad.insert("LINES", lines);
    ASSERT_TRUE(db.updateCategoryListComment(saved.first().value("mid").toString(), OVNCategoryComment::textForm(bad)));
    window->reloadCategoryList();
    ASSERT_TRUE(window->selectCategory(saved.first().value("mid").toString()));
    EXPECT_EQ(window->mediaView()->count(), 0);
    EXPECT_TRUE(window->statusText().contains("is not a number")) << qPrintable(window->statusText());
}

// A find, and the smart folder saved from it, over an entry whose description is too large for
// its pattern leaves that entry out and says which; a short pattern over it finds it.
TEST_P(FindSheetTest, ALongPatternOverALargeDescriptionLeavesTheEntryOutNamed)
{
    const QString planted = entry(studio, "planted");
    ASSERT_TRUE(db.updateMediaListEntry(planted, "fulldesc", QString(1 << 20, QLatin1Char('a')) + "needle"));
    OVNAssetManager *window = loadWindow();
    window->buttonFindClick();
    searchInSheet(window->findSheet(), "All Entries", "strvfile", "fulldesc", 0, "needle");
    EXPECT_EQ(shownNames(window->mediaView()), QStringList{"planted"});

    window->buttonFindClick();
    searchInSheet(window->findSheet(), "All Entries", "strvfile", "fulldesc", 0, QString(4000, QLatin1Char('a')));
    EXPECT_EQ(window->mediaView()->count(), 0);
    EXPECT_TRUE(window->statusText().contains("\"planted\"")) << qPrintable(window->statusText());

    window->tfFindSaveClick();
    ASSERT_TRUE(window->smartFolderNameSheet());
    window->smartFolderNameSheet()->accept();
    const QList<CategoryNode> saved = db.getCategoryList("I");
    ASSERT_EQ(saved.size(), 1);
    window->reloadCategoryList();
    ASSERT_TRUE(window->selectCategory(saved.first().value("mid").toString()));
    EXPECT_EQ(window->mediaView()->count(), 0);
    EXPECT_TRUE(window->statusText().contains("\"planted\"")) << qPrintable(window->statusText());
}

// The licence choices of the search are the details pane's, in its order (the stored position).
TEST(FindLicenceTest, ChoicesFollowTheDetailsPane)
{
    OVNMediaDetails details;
    for (const auto &[name, table] : {std::pair{"vpLicenseType_", "strvpurchased"}, {"vsLicenseType_", "strvsold"}}) {
        auto *popUp = details.findChild<QComboBox *>(name);
        ASSERT_TRUE(popUp) << name;
        QStringList shown;
        for (int i = 0; i < popUp->count(); ++i)
            shown << popUp->itemText(i);
        EXPECT_EQ(OVNFindLine::operatorTitles(*OVNFindLine::fieldFor(table, "licensetype")), shown);
    }
}

// Each search-in item shows the icon the express panel shows for it: the catalog's for "All
// Entries", the outline icon of the category's kind for every other.
TEST_P(FindSheetTest, EachSearchInItemCarriesTheIconOfItsKind)
{
    category("Incoming", "M");
    OVNAssetManager *window = loadWindow();
    window->buttonFindClick();
    QPointer<OVNFindSheet> sheet = window->findSheet();
    ASSERT_TRUE(sheet);
    auto *searchIn = sheet->findChild<QComboBox *>("findSearchIn_");
    const OVNIconSetHelper &icons = OVNIconSetHelper::sharedIconSet();
    const struct {
        const char *title;
        QImage icon;
    } rows[] = {
        {"All Entries", icons.toolbarIconFor("DBMini")},
        {"Travel", icons.outlineIconForType("F", 10)},
        {"Studio", icons.outlineIconForType("C", 10)},
        {"Incoming", icons.outlineIconForType("M", 10)},
    };
    const auto pixels = [](const QImage &image) { return image.convertToFormat(QImage::Format_ARGB32); };
    ASSERT_EQ(searchIn->count(), int(std::size(rows)));
    for (const auto &row : rows) {
        const int index = searchIn->findText(row.title);
        ASSERT_GE(index, 0) << row.title;
        ASSERT_FALSE(row.icon.isNull()) << row.title;
        const QIcon shown = searchIn->itemIcon(index);
        ASSERT_FALSE(shown.isNull()) << row.title;
        EXPECT_EQ(pixels(shown.pixmap(shown.availableSizes().first()).toImage()), pixels(row.icon)) << row.title;
    }
    // The kinds are told apart, not one icon for all.
    EXPECT_NE(pixels(rows[1].icon), pixels(rows[2].icon));
    EXPECT_NE(pixels(rows[2].icon), pixels(rows[3].icon));
    sheet->reject();
}

OVN_CATALOG_VENDORS(FindSheetTest);
