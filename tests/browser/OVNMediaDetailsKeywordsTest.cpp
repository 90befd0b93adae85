#include "DetailsFakeDataSource.h"

#include "uikit/OVNFlatButton.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

namespace {

using Store = OVNMediaDetails::Store;
using Write = DetailsFakeDataSource::Write;

TEST(DetailsFileWords, FolderNamesNearestFirst)
{
    const QString path = "/Volumes/Photos/2008/Trip/beach.jpg";
    EXPECT_EQ(OVNMediaDetails::textWithFileWords("beach", path, false, 2), "beach Trip 2008");
    EXPECT_EQ(OVNMediaDetails::textWithFileWords("  beach ", path, false, 1), "beach Trip");
    // Two folders below the root: four asked, two added, the root adds nothing.
    EXPECT_EQ(OVNMediaDetails::textWithFileWords("", "/2008/Trip/beach.jpg", false, 4), " Trip 2008");
    EXPECT_EQ(OVNMediaDetails::textWithFileWords("x", "beach.jpg", false, 3), "x");
    EXPECT_EQ(OVNMediaDetails::textWithFileWords("x", path, false, 0), "x");
}

TEST(DetailsFileWords, FileNameWithoutExtension)
{
    EXPECT_EQ(OVNMediaDetails::textWithFileWords("", "/a/beach.jpg", true, 0), " beach");
    EXPECT_EQ(OVNMediaDetails::textWithFileWords("Sea", "/a/README", true, 0), "Sea README");
    EXPECT_EQ(OVNMediaDetails::textWithFileWords("Sea", "/a/scan.tar.gz", true, 0), "Sea scan.tar");
    EXPECT_EQ(OVNMediaDetails::fileNameWithoutExtension("/a/.profile"), ".profile");
    EXPECT_EQ(OVNMediaDetails::fileNameWithoutExtension("/a/b/"), "b");
}

QAction *item(QMenu *menu, const QString &title)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == title)
            return action;
        if (action->menu()) {
            if (QAction *inner = item(action->menu(), title))
                return inner;
        }
    }
    return nullptr;
}

class DetailsKeywordsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto record = source.addRecord("mid-a", "/Volumes/Photos/2008/Trip/beach.jpg", "10");
        record->insert("keywords", "Sea");
        record->insert("shortdesc", "beach");
        source.addRecord("mid-b", "", "10")->insert("shortdesc", "kept");
        source.selection = {0};
        pane.resize(320, 360);
        pane.show();
        pane.setDataSource(&source);
        pane.reloadData();
        keywordsButton = pane.findChild<OVNFlatButton *>("vcKeywordsAction_");
        descriptionButton = pane.findChild<OVNFlatButton *>("vcShortDescriptionAction_");
    }

    DetailsFakeDataSource source;
    OVNMediaDetails pane;
    OVNFlatButton *keywordsButton = nullptr;
    OVNFlatButton *descriptionButton = nullptr;
};

TEST_F(DetailsKeywordsTest, MenusForTheTwoButtonsOnly)
{
    ASSERT_TRUE(keywordsButton && descriptionButton);
    EXPECT_EQ(keywordsButton->target(), &pane);
    EXPECT_EQ(pane.menuForContextButton(nullptr), nullptr);
    OVNFlatButton stranger;
    EXPECT_EQ(pane.menuForContextButton(&stranger), nullptr);

    const auto menu = pane.menuForContextButton(keywordsButton);
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->title(), "Actions");
    const QList<QAction *> items = menu->actions();
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0]->text(), "Action");
    EXPECT_EQ(items[1]->text(), "Add Filename");
    EXPECT_TRUE(items[2]->isSeparator());
    ASSERT_NE(items[3]->menu(), nullptr);
    QStringList folders;
    for (QAction *action : items[3]->menu()->actions())
        folders.append(action->text());
    EXPECT_EQ(folders, (QStringList{"1 Folder", "2 Folders", "3 Folders", "4 Folders"}));
    EXPECT_FALSE(items[1]->isCheckable());
}

TEST_F(DetailsKeywordsTest, ActionsEditTheSelectedEntryAtOnce)
{
    auto menu = pane.menuForContextButton(descriptionButton);
    item(menu.get(), "2 Folders")->trigger();
    ASSERT_EQ(source.writes.size(), 1u);
    EXPECT_EQ(source.writes[0], (Write{Store::Annotation, "beach Trip 2008", "shortdesc", "mid-a"}));
    EXPECT_EQ(pane.findChild<QLineEdit *>("vcShortDescription_")->text(), "beach Trip 2008");

    menu = pane.menuForContextButton(keywordsButton);
    item(menu.get(), "Add Filename")->trigger();
    EXPECT_EQ(source.writes.back(), (Write{Store::Annotation, "Sea beach", "keywords", "mid-a"}));

    // Anything but a menu item does nothing.
    pane.keywordsAction(nullptr);
    pane.keywordsAction(&pane);
    EXPECT_EQ(source.writes.size(), 2u);
}

TEST_F(DetailsKeywordsTest, EntryWithoutFileChangesNothing)
{
    source.selection = {1};
    pane.reloadData();
    auto menu = pane.menuForContextButton(descriptionButton);
    item(menu.get(), "Add Filename")->trigger();
    item(menu.get(), "3 Folders")->trigger();
    EXPECT_TRUE(source.writes.empty());
    EXPECT_EQ(pane.findChild<QLineEdit *>("vcShortDescription_")->text(), "kept");
}

TEST_F(DetailsKeywordsTest, AutoFillModeOnlySetsOptions)
{
    pane.setAutoFillMode(true);
    pane.reloadData();
    auto menu = pane.menuForContextButton(keywordsButton);
    QAction *addFilename = item(menu.get(), "Add Filename");
    ASSERT_TRUE(addFilename->isCheckable());
    EXPECT_FALSE(addFilename->isChecked());
    EXPECT_TRUE(item(menu.get(), "No Folders")->isChecked());

    addFilename->trigger();
    EXPECT_TRUE(pane.keywordsAddFilename());
    pane.keywordsAction(item(menu.get(), "Add Filename"));
    EXPECT_FALSE(pane.keywordsAddFilename()); // twice: as it was
    pane.keywordsAction(item(menu.get(), "Add Filename"));

    menu = pane.menuForContextButton(descriptionButton);
    item(menu.get(), "3 Folders")->trigger();
    EXPECT_EQ(pane.shortDescriptionParseFolders(), 3);
    EXPECT_FALSE(pane.shortDescriptionAddFilename());
    EXPECT_EQ(pane.keywordsParseFolders(), 0);

    // The next menus show the current options.
    menu = pane.menuForContextButton(descriptionButton);
    EXPECT_TRUE(item(menu.get(), "3 Folders")->isChecked());
    EXPECT_FALSE(item(menu.get(), "No Folders")->isChecked());
    menu = pane.menuForContextButton(keywordsButton);
    EXPECT_TRUE(item(menu.get(), "Add Filename")->isChecked());
    EXPECT_TRUE(source.writes.empty());
}

} // namespace
