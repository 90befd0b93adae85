#include "CatalogWindowFixture.h"
#include "MarkedThumbnail.h"
#include "../support/RefusingTrigger.h"
#include "../support/ScriptedAlertPresenter.h"
#include "app/OVNAssetManager.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDBHelper.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QImage>

// A collection "Shots" with three entries carrying the marked thumbnail, orientation 1 and rating 4.
class RatingRotationTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        if (!setUpWithAlerts())
            return;
        shots = category("Shots", "C");
        mids = entriesWithThumbnail(shots, {"a", "b", "c"}, markedThumbnail());
    }
    void TearDown() override { tearDownWithAlerts(); }

    // The window showing "Shots" with the entries of these ids selected.
    OVNAssetManager *windowSelecting(const QStringList &selected)
    {
        OVNAssetManager *window = loadWindow();
        EXPECT_TRUE(window->selectCategory(shots));
        for (const QString &mid : selected)
            window->mediaView()->selectImage(window->mediaView()->rowForMid(mid), false, false);
        return window;
    }

    QString shots;
    QStringList mids;
};

OVN_CATALOG_VENDORS(RatingRotationTest);

TEST_P(RatingRotationTest, RatingsZeroToFiveAreStoredAndShownOthersChangeNothing)
{
    OVNAssetManager *window = windowSelecting({mids[0], mids[1]});
    struct Case {
        int rating;
        const char *expected;
    };
    window->menuSetRating(3);
    EXPECT_EQ(stored(mids[2], "rating"), "4"); // not selected
    for (const Case &c : {Case{0, "0"}, Case{5, "5"}, Case{-1, "5"}, Case{6, "5"}, Case{2, "2"}}) {
        window->menuSetRating(c.rating);
        // One entry by its id, as the light table rates.
        EXPECT_EQ(window->setRating(c.rating, mids[2]), c.rating >= 0 && c.rating <= 5) << c.rating;
        for (const QString &mid : mids) {
            EXPECT_EQ(stored(mid, "rating"), c.expected) << c.rating;
            EXPECT_EQ(shown(window, mid, "rating"), c.expected) << c.rating;
        }
    }
    EXPECT_TRUE(presenter->shown().isEmpty());
}

TEST_P(RatingRotationTest, FourRightTurnsGiveBackTheFirstThumbnailAndCode)
{
    OVNAssetManager *window = windowSelecting({mids[0]});
    const QByteArray first = db.getThumbnailForMediaID(mids[0]);
    QSize size;
    for (int turn = 1; turn <= 4; ++turn) {
        window->menuRotateRight();
        const QByteArray now = db.getThumbnailForMediaID(mids[0]);
        EXPECT_EQ(markerCorner(now, &size), turn % 4) << turn;
        EXPECT_EQ(size, turn % 2 ? QSize(120, 160) : QSize(160, 120)) << turn;
        // The view draws the new thumbnail, not a picture kept from the old one.
        EXPECT_EQ(window->mediaView()->imageForRow(window->mediaView()->rowForMid(mids[0])).size(), size);
        EXPECT_EQ(shown(window, mids[0], "orientation"), stored(mids[0], "orientation"));
    }
    EXPECT_EQ(stored(mids[0], "orientation"), "1");
    EXPECT_NE(db.getThumbnailForMediaID(mids[0]), first); // encoded again, same picture
    EXPECT_EQ(stored(mids[1], "orientation"), "1");
    // By id, as a light table opened from the window turns: a left turn undoes a right one.
    OVNLightTableDelegate *lightTable = window;
    const auto left = OVNLightTableDelegate::Turn::Left, right = OVNLightTableDelegate::Turn::Right;
    EXPECT_TRUE(lightTable->lightTableRotate(mids[1], nullptr, left));
    EXPECT_EQ(stored(mids[1], "orientation"), "8");
    EXPECT_EQ(markerCorner(db.getThumbnailForMediaID(mids[1])), 3);
    EXPECT_TRUE(lightTable->lightTableRotate(mids[1], nullptr, right));
    EXPECT_EQ(stored(mids[1], "orientation"), "1");
    EXPECT_FALSE(lightTable->lightTableRotate("no-such-entry", nullptr, right));
    EXPECT_TRUE(presenter->shown().isEmpty());
}

// An undecodable thumbnail and a write the catalog refuses each leave their entry as it was, and
// one alert counts both; the third entry is turned.
TEST_P(RatingRotationTest, EntriesThatCannotBeTurnedStayAndAreCounted)
{
    ASSERT_TRUE(db.updateThumbnailForMediaID(mids[0], "broken"));
    // Only the orientation is refused: the thumbnail written before it must not stay either.
    ASSERT_TRUE(addRefusingTrigger(db, "strvfile", "update",
                                   "(new.mid = '" + mids[1] + "' and new.orientation = 6) or new.rating = 1"))
        << qPrintable(db.getLastErrorMessage());
    const QByteArray second = db.getThumbnailForMediaID(mids[1]);
    OVNAssetManager *window = windowSelecting(mids);
    window->menuRotateRight();
    EXPECT_EQ(db.getThumbnailForMediaID(mids[0]), QByteArray("broken"));
    EXPECT_EQ(stored(mids[0], "orientation"), "1");
    EXPECT_EQ(db.getThumbnailForMediaID(mids[1]), second);
    EXPECT_EQ(stored(mids[1], "orientation"), "1");
    EXPECT_EQ(shown(window, mids[1], "orientation"), "1");
    EXPECT_EQ(stored(mids[2], "orientation"), "6");
    EXPECT_EQ(shown(window, mids[2], "orientation"), "6");
    ASSERT_EQ(presenter->shown().size(), 1);
    EXPECT_TRUE(presenter->shown().last().informativeText.contains("1 thumbnail could not be read"));
    EXPECT_TRUE(presenter->shown().last().informativeText.contains("1 entry could not be written"));

    // A refused rating likewise keeps the shown value.
    window->menuSetRating(1);
    EXPECT_EQ(shown(window, mids[2], "rating"), "4");
    EXPECT_EQ(presenter->shown().size(), 2);
}

// On a server catalog with users, "READ ONLY" on an entry's collection refuses rating and turning
// from every path, whichever category shows the entry; entries of a writable collection go on.
class ServerRatingRotationTest : public RatingRotationTest
{
protected:
    void SetUp() override
    {
        RatingRotationTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        QString staff;
        ASSERT_NO_FATAL_FAILURE(addStaffWithAnn(db, staff));
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, shots, staff, "READ ONLY"));
        const QString shared = category("Shared", "C");
        ASSERT_NO_FATAL_FAILURE(grantPrivilege(db, shared, staff, "READ & WRITE"));
        writable = entriesWithThumbnail(shared, {"shared-1"}, markedThumbnail()).first();
        UserDefaults::standard().setBool(true, "DatabaseShowThumbnails");
        connection = openAnother();
        ASSERT_NO_FATAL_FAILURE(signInAsAnn(*connection));
    }
    void TearDown() override
    {
        UserDefaults::standard().removeObjectForKey("DatabaseShowThumbnails");
        RatingRotationTest::TearDown();
    }

    std::shared_ptr<OVNDatabaseAccess> connection;
    QString writable;
};

INSTANTIATE_TEST_SUITE_P(Server, ServerRatingRotationTest, testing::Values(OVNDatabaseAccess::Vendor::PostgreSQL),
                         catalogVendorName);

TEST_P(ServerRatingRotationTest, ReadOnlyEntriesAreNeitherRatedNorTurned)
{
    OVNAssetManager *window = loadWindow(connection);
    // Through the Database item, where the selected category would allow everything.
    ASSERT_TRUE(window->selectCategory(QString()));
    OVNMediaView *view = window->mediaView();
    for (const QString &mid : {mids[0], writable})
        view->selectImage(view->rowForMid(mid), false, false);
    ASSERT_EQ(view->numberOfSelectedRows(), 2);
    const QByteArray thumbnail = db.getThumbnailForMediaID(mids[0]);

    window->menuSetRating(1);
    window->menuRotateRight();
    EXPECT_EQ(stored(mids[0], "rating"), "4");
    EXPECT_EQ(shown(window, mids[0], "rating"), "4");
    EXPECT_EQ(stored(mids[0], "orientation"), "1");
    EXPECT_EQ(db.getThumbnailForMediaID(mids[0]), thumbnail);
    EXPECT_EQ(stored(writable, "rating"), "1");
    EXPECT_EQ(stored(writable, "orientation"), "6");
    ASSERT_EQ(presenter->shown().size(), 2); // one alert per command
    EXPECT_TRUE(presenter->shown().last().informativeText.contains("Your Privilege Level: READ ONLY"));

    EXPECT_FALSE(window->setRating(3, mids[1]));
    OVNLightTableDelegate *lightTable = window;
    EXPECT_FALSE(lightTable->lightTableRotate(mids[1], nullptr, OVNLightTableDelegate::Turn::Left));
    EXPECT_FALSE(lightTable->lightTableRotate(mids[1], nullptr, OVNLightTableDelegate::Turn::Right));
    EXPECT_EQ(stored(mids[1], "rating"), "4");
    EXPECT_EQ(stored(mids[1], "orientation"), "1");
    EXPECT_EQ(presenter->shown().size(), 5);
}
