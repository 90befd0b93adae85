#include "CatalogWindowFixture.h"
#include "../support/RefusingTrigger.h"
#include "../support/ScriptedAlertPresenter.h"
#include "app/OVNViewerDocuments.h"
#include "app/OVNAssetManager.h"
#include "browser/OVNMediaRollView.h"
#include "platform/UserDefaults.h"
#include "viewers/OVNImageLoader.h"
#include "viewers/OVNImageView.h"
#include "viewers/OVNLightTable.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

// A collection "Shots" of three entries (orientation 1, rating 4) whose files are not there: the
// light table's panes stay empty, but ratings and turns go to the catalog through the window.
class LightTableCatalogTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        if (!setUpWithAlerts())
            return;
        shots = category("Shots", "C");
        mids = entriesWithThumbnail(shots, {"a.jpg", "b.jpg", "c.jpg"}, filledJpeg({64, 48}, Qt::gray));
    }
    void TearDown() override
    {
        if (table)
            table->close();
        OVNImageLoader::waitForAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        tearDownWithAlerts();
    }
    // Selects the entry alone in the roll and loads it into the selected pane.
    int selectInRoll(const QString &mid)
    {
        const int row = table->roll()->rowForMid(mid);
        table->roll()->selectImage(row, true, false);
        table->ovnMediaViewSelectionDidChange(table->roll());
        return row;
    }

    QString shots;
    QStringList mids;
    QPointer<OVNLightTable> table;
};

OVN_CATALOG_VENDORS(LightTableCatalogTest);

TEST_P(LightTableCatalogTest, RatingAndTurningReachTheCatalog)
{
    OVNAssetManager *window = loadWindow();
    ASSERT_TRUE(window->selectCategory(shots));
    table = window->openLightTable();
    EXPECT_EQ(table->roll()->count(), 3);
    EXPECT_EQ(table->mediaType(), "C");
    EXPECT_EQ(table->mediaMid(), shots);
    QSignalSpy failed(table, &OVNLightTable::writeFailed);
    // Thumbnails come from the window's connection.
    EXPECT_EQ(table->roll()->imageForRow(table->roll()->rowForMid(mids[0])).size(), QSize(64, 48));

    const int row = selectInRoll(mids[1]);
    table->rateSelection(2);
    EXPECT_EQ(stored(mids[1], "rating"), "2");
    EXPECT_EQ(table->roll()->mediaObject("rating", row).toString(), "2");
    EXPECT_EQ(shown(window, mids[1], "rating"), "2");
    struct Case {
        OVNLightTableDelegate::Turn turn;
        const char *code;
        int rotation;
    };
    for (const Case &c :
         {Case{OVNLightTableDelegate::Turn::Right, "6", 90}, Case{OVNLightTableDelegate::Turn::Right, "3", 180},
          Case{OVNLightTableDelegate::Turn::Left, "6", 90}}) {
        table->rotateSelectedPane(c.turn);
        EXPECT_EQ(stored(mids[1], "orientation"), c.code);
        EXPECT_EQ(table->roll()->mediaObject("orientation", row).toString(), c.code);
        EXPECT_EQ(table->imageView(0)->rotation(), c.rotation);
    }
    EXPECT_EQ(QImage::fromData(db.getThumbnailForMediaID(mids[1])).size(), QSize(48, 64));
    EXPECT_EQ(table->roll()->imageForRow(row).size(), QSize(48, 64));
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_TRUE(presenter->shown().isEmpty());
    EXPECT_EQ(stored(mids[0], "rating"), "4");

    // A write the catalog refuses: said once, and the roll keeps the stored rating.
    ASSERT_TRUE(addRefusingTrigger(db, "strvfile", "update", "new.rating = 1")) << qPrintable(db.getLastErrorMessage());
    table->rateSelection(1);
    EXPECT_EQ(stored(mids[1], "rating"), "2");
    EXPECT_EQ(table->roll()->mediaObject("rating", row).toString(), "2");
    EXPECT_EQ(failed.size(), 1);
    EXPECT_EQ(presenter->shown().size(), 1);

    // Nothing shown: an empty roll without kind or id.
    window->deselectAllCategories();
    QPointer<OVNLightTable> empty = window->openLightTable();
    EXPECT_EQ(empty->roll()->count(), 0);
    EXPECT_TRUE(empty->mediaType().isNull());
    empty->close();
}

// On a server catalog, "READ ONLY" on the entry's own collection refuses both writes even where the
// Database item shows it: the refusal is said, and neither the roll nor the pane changes.
class ServerLightTableCatalogTest : public LightTableCatalogTest
{};

INSTANTIATE_TEST_SUITE_P(Server, ServerLightTableCatalogTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(ServerLightTableCatalogTest, ReadOnlyEntriesAreRefused)
{
    QString staff;
    ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
    ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, shots, staff, "READ ONLY"));
    std::shared_ptr<OVNDatabaseAccess> ann(openAnother());
    ASSERT_NO_FATAL_FAILURE(signInAsAnn(*ann));
    UserDefaults::standard().setBool(true, "DatabaseShowThumbnails");
    OVNAssetManager *window = loadWindow(ann);
    ASSERT_TRUE(window->selectCategory(QString()));
    table = window->openLightTable();
    UserDefaults::standard().removeObjectForKey("DatabaseShowThumbnails");
    QSignalSpy failed(table, &OVNLightTable::writeFailed);
    const int row = selectInRoll(mids[0]);
    ASSERT_GE(row, 0);
    table->rateSelection(1);
    table->rotateSelectedPane(OVNLightTableDelegate::Turn::Right);
    EXPECT_EQ(stored(mids[0], "rating"), "4");
    EXPECT_EQ(stored(mids[0], "orientation"), "1");
    EXPECT_EQ(table->roll()->mediaObject("rating", row).toString(), "4");
    EXPECT_EQ(table->imageView(0)->rotation(), 0);
    EXPECT_EQ(failed.size(), 2);
    ASSERT_EQ(presenter->shown().size(), 2);
    EXPECT_TRUE(presenter->shown().last().informativeText.contains("Your Privilege Level: READ ONLY"));
}

// The roll's double click and open commands go the catalog window's way: an existing file opens in
// the program's viewer with its orientation; a missing one gets the alert naming what is known of it.
TEST_P(LightTableCatalogTest, OpeningFromTheRollGoesTheWindowsWay)
{
    RecordingViewers viewers;
    OVNViewerDocuments *before = OVNViewerDocuments::shared();
    OVNViewerDocuments::setShared(&viewers);
    QTemporaryDir dir;
    const QString picture = dir.filePath("there.jpg");
    ASSERT_TRUE(QImage::fromData(filledJpeg({64, 48}, Qt::gray)).save(picture));
    OVNAssetManager *window = loadWindow();
    ASSERT_TRUE(window->selectCategory(shots));
    table = window->openLightTable();
    OVNMediaRollView *roll = table->roll();
    const int row = selectInRoll(mids[0]);
    roll->setMediaObject("absolutepath", picture, row);
    roll->setMediaObject("orientation", "6", row);
    table->ovnMediaViewDoubleClickWithModifierFlag(roll, Qt::NoModifier);
    table->ovnMediaViewOpenWithDefaultViewer(roll);
    EXPECT_EQ(viewers.calls, (QStringList{"image there.jpg 6", "image there.jpg 6"}));
    struct Case {
        const char *volume, *path, *text;
    };
    const Case cases[] = {
        {"", "", "File not found. Please check path."},
        {"", "/gone/a.jpg",
         "The file '/gone/a.jpg' was not found. Please make sure this volume is online and try again."},
        {"Disk", "",
         "The file was cataloged from volume 'Disk'. Please make sure this volume is online and try again."},
        {"Disk", "/gone/a.jpg",
         "The file was cataloged from volume 'Disk' ('/gone/a.jpg'). Please make sure this volume is online and try "
         "again."},
    };
    for (const Case &c : cases) {
        roll->setMediaObject("volumename", QString::fromUtf8(c.volume), row);
        roll->setMediaObject("absolutepath", QString::fromUtf8(c.path), row);
        table->ovnMediaViewOpenWithCreator(roll);
        ASSERT_FALSE(presenter->shown().isEmpty());
        EXPECT_EQ(presenter->shown().last().message, "Media file not found.");
        EXPECT_EQ(presenter->shown().last().informativeText, QString::fromUtf8(c.text));
    }
    EXPECT_EQ(presenter->shown().size(), 4);
    OVNViewerDocuments::setShared(before);
}
