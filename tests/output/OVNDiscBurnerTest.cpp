#include "output/OVNDiscBurner.h"

#include <gtest/gtest.h>

TEST(OVNDiscBurnerTest, EachDriveStateOffersItsButtonAndStatus)
{
    using Media = OVNDiscBurner::DriveState::Media;
    const struct {
        Media media;
        bool trayOpen;
        bool imageFile;
        const char *button;
        bool enabled;
        const char *status;
    } cases[] = {
        {Media::Writable, false, false, "Burn Disc", true, "Disc verified. Click 'Burn Disc' to start."},
        // An image file is checked by nobody: it is ready, not verified.
        {Media::Writable, false, true, "Burn Disc", true, "Ready to write the disc image. Click 'Burn Disc' to start."},
        {Media::Full, false, false, "Eject Disc", true, "Cannot write to inserted disc."},
        {Media::None, false, false, "Open Tray", true, "Please insert an empty disc."},
        {Media::None, true, false, "Close Tray", true, "Please insert an empty disc."},
        {Media::Unknown, false, false, "", false, "Reading disc information..."},
    };
    for (const auto &c : cases) {
        const auto shown = OVNDiscBurner::present({c.media, c.trayOpen, c.imageFile});
        EXPECT_EQ(shown.button, QString::fromUtf8(c.button)) << c.status;
        EXPECT_EQ(shown.enabled, c.enabled) << c.status;
        EXPECT_EQ(shown.status, QString::fromUtf8(c.status));
    }
}
