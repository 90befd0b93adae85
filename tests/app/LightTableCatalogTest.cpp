#include "CatalogWindowFixture.h"
#include "../support/ScriptedAlertPresenter.h"
#include "app/OVNAssetManager.h"
#include "app/OVNCategoryComment.h"
#include "browser/OVNMediaRollView.h"
#include "platform/UserDefaults.h"
#include "viewers/OVNImageLoader.h"
#include "viewers/OVNImageView.h"
#include "viewers/OVNLightTable.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QSignalSpy>

namespace {

QByteArray thumbnail()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return data;
}

} // namespace

// A collection "Shots" of three entries (orientation 1, rating 4) whose files are not there: the
// light table's panes stay empty, but ratings and turns go to the catalog through the window.
class LightTableCatalogTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        CatalogFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        presenter = ScriptedAlertPresenter::install();
        shots = category("Shots", "C");
        for (const char *name : {"a", "b", "c"}) {
            QVariantMap record = importRecord(shots, QString::fromLatin1(name) + QStringLiteral(".jpg"));
            record.insert("thumbimage", thumbnail());
            record.insert("Orientation", 1);
            mids.append(db.addMediaListEntry(record));
            ASSERT_FALSE(mids.last().isEmpty()) << qPrintable(db.getLastErrorMessage());
        }
    }
    void TearDown() override
    {
        if (table)
            table->close();
        OVNImageLoader::waitForAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        closeWindows();
        Alerts::setPresenter(nullptr);
        CatalogFixture::TearDown();
    }
    // Selects the entry alone in the roll and loads it into the selected pane.
    int selectInRoll(const QString &mid)
    {
        const int row = table->roll()->rowForMid(mid);
        table->roll()->selectImage(row, true, false);
        table->ovnMediaViewSelectionDidChange(table->roll());
        return row;
    }

    ScriptedAlertPresenter *presenter = nullptr;
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
    for (const Case &c : {Case{OVNLightTableDelegate::Turn::Right, "6", 90}, Case{OVNLightTableDelegate::Turn::Right, "3", 180},
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
{
};

INSTANTIATE_TEST_SUITE_P(Server, ServerLightTableCatalogTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(ServerLightTableCatalogTest, ReadOnlyEntriesAreRefused)
{
    QString staff;
    ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(staff));
    const QVariantList readOnly{QVariantMap{{"group", "g"}, {"mid", staff}, {"privilege", "READ ONLY"}}};
    ASSERT_TRUE(db.updateCategoryListComment(shots, OVNCategoryComment::withPrivileges(QString(), readOnly)));
    std::shared_ptr<OVNDatabaseAccess> ann(openAnother());
    ASSERT_TRUE(ann->checkForUserManagerSetup());
    ASSERT_TRUE(ann->authenticateUser("ann"));
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
