#include "DetailsFakeDataSource.h"

#include "browser/OVNAnnotationChanges.h"
#include "browser/OVNMediaDetails.h"
#include "browser/OVNMediaDetailsAutoFill.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace {
using Mode = AnnotationChanges::Mode;
using Table = AnnotationChanges::Table;
const std::optional<QString> none;
} // namespace

// How one edited value meets a stored one in each mode; codes are never joined.
TEST(AnnotationChanges, ValueToWriteFollowsTheMode)
{
    struct Case {
        const char *what;
        Mode mode;
        bool flag;
        std::optional<QString> existing;
        QString edited;
        bool clear;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"append", Mode::Append, false, "Beach", "sunset", false, "Beach sunset"},
        {"append to empty: no leading blank", Mode::Append, false, "", "sunset", false, "sunset"},
        {"append to none", Mode::Append, false, none, "sunset", false, "sunset"},
        {"merge contained, any case", Mode::Merge, false, "Sandy Beach Walk", "beach", false, none},
        {"merge new word", Mode::Merge, false, "Sandy Beach Walk", "dune", false, "Sandy Beach Walk dune"},
        {"merge into empty", Mode::Merge, false, "", "dune", false, "dune"},
        {"overwrite", Mode::Overwrite, false, "Old", "New", false, "New"},
        {"flag: overwrite", Mode::Overwrite, true, "0", "1", false, "1"},
        {"flag: merge replaces", Mode::Merge, true, "0", "1", false, "1"},
        {"flag: append leaves it", Mode::Append, true, "0", "1", false, none},
        {"emptied: nothing without clear", Mode::Overwrite, false, "Old", "", false, none},
        {"emptied: clears", Mode::Overwrite, false, "Old", "", true, ""},
        {"emptied: clears in append", Mode::Append, false, "Old", "", true, ""},
        {"emptied: clears a flag", Mode::Append, true, "1", "", true, ""},
        {"emptied: already empty", Mode::Merge, false, "", "", true, none},
        {"emptied: no value", Mode::Merge, false, none, "", true, none},
    };
    for (const Case &c : cases)
        EXPECT_EQ(AnnotationChanges::valueToWrite(c.mode, c.flag, c.existing, c.edited, c.clear), c.expected) << c.what;
    EXPECT_TRUE(AnnotationChanges::isFlagField(Table::Info, "modrelavailable"));
    EXPECT_TRUE(AnnotationChanges::isFlagField(Table::Sold, "licensetype"));
    EXPECT_FALSE(AnnotationChanges::isFlagField(Table::Info, "licensetype"));
}

// File and folder names: innermost folder first, the root uses up a count and adds nothing.
TEST(AnnotationChanges, FileWordsWalkTheFoldersInward)
{
    struct Case {
        QString current, path;
        bool addFilename;
        int folders;
        std::optional<QString> expected;
    };
    const QString deep = "/Volumes/Disk/Shoot/Day1/IMG_0001.JPG";
    const Case cases[] = {
        {"Beach", deep, true, 2, "Beach IMG_0001 Day1 Shoot"},
        {"Beach", deep, true, 4, "Beach IMG_0001 Day1 Shoot Disk Volumes"},
        {"", "/Shoot/IMG.JPG", false, 2, "Shoot"},
        {"\t Beach ", "/Shoot/IMG.JPG", false, 4, "Beach Shoot"},
        {"Beach", "", true, 4, none},              // no file
        {"Beach", deep, false, 0, none},           // nothing asked for
        {" Beach", "/IMG.JPG", false, 1, "Beach"}, // only trimmed
        {"Beach", "/IMG.JPG", false, 1, none},     // nothing changes
    };
    for (const Case &c : cases)
        EXPECT_EQ(AnnotationChanges::textWithFileWords(c.current, c.path, c.addFilename, c.folders), c.expected)
            << qPrintable(c.current + " " + c.path);
}

// The buffers start empty, keep the last value of each edited field (also an emptied one) whatever
// entry id comes with it, and take the pane's file-name and folder choices.
TEST(AnnotationChanges, BufferKeepsOnlyEditedFields)
{
    OVNMediaDetails pane;
    AnnotationBuffer buffer;
    pane.setAutoFillMode(true);
    pane.setDataSource(&buffer);
    pane.reloadData();
    EXPECT_TRUE(buffer.changes(&pane).isEmpty());
    EXPECT_EQ(buffer.ovnMediaDetailsStringForID(&pane, "mid"), "");
    EXPECT_FALSE(buffer.ovnMediaDetailsStringForID(&pane, "mid").isNull());

    buffer.ovnMediaDetailsSetStringForID(&pane, "one", "keywords", "a");
    buffer.ovnMediaDetailsSetStringForID(&pane, "two", "keywords", "b");
    buffer.ovnMediaDetailsSetStringForID(&pane, QString(), "fulldesc", "a");
    buffer.ovnMediaDetailsSetStringForPurchasedID(&pane, "Ann", "owner", "");
    buffer.ovnMediaDetailsSetStringForSoldID(&pane, "3", "licensetype", "");
    const auto toggle = [&pane](const char *title, bool keywords) {
        QAction item(QString::fromLatin1(title));
        keywords ? pane.keywordsAction(&item) : pane.shortDescriptionAction(&item);
    };
    toggle("Add Filename", true);
    toggle("Add Filename", false);
    toggle("Add Filename", false); // turned over twice: off again
    toggle("3 Folders", true);
    toggle("2 Folders", false);
    toggle("No Folders", false);

    const AnnotationChanges changes = buffer.changes(&pane);
    EXPECT_EQ(changes.info, (QMap<QString, QString>{{"keywords", "two"}, {"fulldesc", ""}}));
    EXPECT_EQ(changes.purchased, (QMap<QString, QString>{{"owner", "Ann"}}));
    EXPECT_EQ(changes.sold, (QMap<QString, QString>{{"licensetype", "3"}}));
    EXPECT_EQ(buffer.ovnMediaDetailsPurchasedForID(&pane, "customer"), "");
    EXPECT_TRUE(changes.keywordsAddFilename);
    EXPECT_EQ(changes.keywordsParseFolders, 3);
    EXPECT_FALSE(changes.shortDescriptionAddFilename);
    EXPECT_EQ(changes.shortDescriptionParseFolders, 0);
    pane.setDataSource(nullptr);
}

// The sheet as a user works it: typing in the pane, the mode and the box, OK or Cancel; the
// buffers outlive the end. The smart-add pane grows in width only.
TEST(AnnotationChanges, SheetAndSmartAddPane)
{
    for (const bool ok : {true, false}) {
        OVNMediaDetailsAutoFill sheet;
        int code = -1;
        sheet.beginSheetModalForWindow(nullptr, [&code](int result) { code = result; });
        EXPECT_TRUE(sheet.changesShouldOverwrite());
        EXPECT_FALSE(sheet.changesShouldClearEmptyFields());
        auto *keywords = sheet.content()->findChild<QLineEdit *>("vcKeywords_");
        ASSERT_NE(keywords, nullptr);
        EXPECT_TRUE(keywords->isEnabled());
        userInput::type(keywords, "Beach");
        sheet.findChild<QComboBox *>("mdafOverwrite_")->setCurrentIndex(2);
        sheet.findChild<QCheckBox *>("mdafClearEmptyFields_")->click();
        sheet.findChild<QPushButton *>(ok ? "mdafBOK_" : "mdafBCancel_")->click();
        EXPECT_EQ(code, ok ? 1 : 0);
        EXPECT_FALSE(sheet.isVisible());
        EXPECT_TRUE(sheet.changesShouldMerge());
        EXPECT_TRUE(sheet.changesShouldClearEmptyFields());
        EXPECT_EQ(sheet.changes().info.value("keywords"), "Beach");
    }

    QWidget host;
    OVNMediaDetailsSmartAdd smartAdd(&host);
    ASSERT_NE(smartAdd.view(), nullptr);
    EXPECT_EQ(smartAdd.view()->parentWidget(), &host);
    EXPECT_EQ(smartAdd.view()->size(), QSize(450, 250));
    EXPECT_EQ(smartAdd.view()->minimumHeight(), smartAdd.view()->maximumHeight());
    EXPECT_GT(smartAdd.view()->maximumWidth(), 450);
    EXPECT_TRUE(smartAdd.view()->autoFillMode());
    smartAdd.view()->tabPressed(OVNMediaDetails::PurchasedTab);
    auto *owner = smartAdd.view()->findChild<QLineEdit *>("vpImageOwner_");
    ASSERT_NE(owner, nullptr);
    userInput::type(owner, "Ann");
    userInput::pressReturn(owner);
    EXPECT_EQ(smartAdd.changes().purchased.value("owner"), "Ann");
}
