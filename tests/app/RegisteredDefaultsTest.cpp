#include "app/OVNRegisteredDefaults.h"
#include "app/OVNSplashScreen.h"

#include <gtest/gtest.h>

#include <QWidget>

namespace {

struct Screen {
    QRectF visible;
    const char *frame;
    int mediaViewWidth;
    int thumbnailSize;
};

TEST(RegisteredDefaultsTest, TheCatalogWindowFrameAndThumbnailSizeFollowTheScreen)
{
    const Screen screens[] = {
        {QRectF(0, 0, 1440, 878), "150 150 1140 748 0 0 1440 878", 570, 114},
        {QRectF(0, 0, 1920, 1178), "150 150 1620 1048 0 0 1920 1178", 1050, 120},
        {QRectF(0, 0, 1024, 746), "0 0 1024 746 0 0 1024 746", 454, 90},
        {QRectF(0, 22, 1366, 746), "150 22 1066 746 0 22 1366 746", 496, 99},
        // Narrow screens: the thumbnails keep the smallest size the slider offers.
        {QRectF(0, 0, 800, 600), "0 0 800 600 0 0 800 600", 230, 48},
        {QRectF(0, 0, 500, 400), "0 0 500 400 0 0 500 400", -70, 48},
    };
    for (const Screen &screen : screens) {
        const QVariantMap defaults = OVNRegisteredDefaults::startupDefaults(screen.visible);
        EXPECT_EQ(defaults.value("NSWindow Frame OVNAssetManager").toString(), screen.frame);
        EXPECT_EQ(defaults.value("OVNAssetManagerMediaViewWidth").toLongLong(), screen.mediaViewWidth);
        EXPECT_EQ(defaults.value("ThumbnailSize").toLongLong(), screen.thumbnailSize) << screen.frame;
    }
}

TEST(RegisteredDefaultsTest, TheTableHoldsStringsAndTheFiveNumbers)
{
    const QVariantMap defaults = OVNRegisteredDefaults::startupDefaults(QRectF(0, 0, 1440, 878));
    EXPECT_EQ(defaults.value("DBVendor"), QVariant(QStringLiteral("OstrevanWS")));
    EXPECT_EQ(defaults.value("DBPassword"), QVariant(QStringLiteral("plindroves")));
    EXPECT_EQ(defaults.value("MovieThumbnailTiming4"), QVariant(QStringLiteral("90")));
    EXPECT_EQ(defaults.value("StartupUpdateCheckPeriod"), QVariant(QStringLiteral("1")));
    EXPECT_EQ(defaults.value("UpdateCheckURL"), QVariant(QString()));
    for (const char *key : {"OVNAssetManagerCategoryWidth", "OVNAssetManagerMediaViewWidth",
                            "OVNAssetManagerPreviewHeight", "ThumbnailSize", "ThumbnailStyle"})
        EXPECT_EQ(defaults.value(key).typeId(), QMetaType::LongLong) << key;
    EXPECT_EQ(defaults.value("ThumbnailStyle").toLongLong(), 2);
    EXPECT_EQ(defaults.value("OVNAssetManagerPreviewHeight").toLongLong(), 250);
    EXPECT_FALSE(defaults.contains("FirstRun"));
}

TEST(SplashScreenTest, SitsCentredAcrossAndAboveTheMiddle)
{
    const QRectF rect = OVNSplashScreen::contentRect(QSizeF(1440, 900), QSizeF(600, 400));
    EXPECT_DOUBLE_EQ(rect.x(), 420);
    EXPECT_NEAR(rect.y(), 333.33, 0.01);
    EXPECT_EQ(rect.size(), QSizeF(600, 400));
    // In Qt's downward coordinates: one third of the free height above it.
    EXPECT_NEAR(OVNSplashScreen::topLeftFor(QSizeF(1440, 900), QSizeF(600, 400)).y(), 166.67, 0.01);
    // Larger than the screen: placed as computed.
    const QRectF big = OVNSplashScreen::contentRect(QSizeF(800, 600), QSizeF(1000, 900));
    EXPECT_DOUBLE_EQ(big.x(), -100);
    EXPECT_DOUBLE_EQ(big.y(), -200);
}

TEST(SplashScreenTest, TheStatusLineShowsAtOnce)
{
    OVNSplashScreen splash;
    EXPECT_TRUE(splash.window()->isVisible());
    splash.setStatus("Loading defaults...");
    EXPECT_EQ(splash.status(), "Loading defaults...");
    splash.orderOut();
    EXPECT_FALSE(splash.window()->isVisible());
    splash.makeKeyAndOrderFront();
    EXPECT_TRUE(splash.window()->isVisible());
}

} // namespace
