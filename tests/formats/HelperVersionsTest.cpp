#include "formats/OVNHelper.h"

#include <gtest/gtest.h>

TEST(Versions, TheNumberingCallersCompare)
{
    EXPECT_EQ(OVNHelper::systemVersionNumber("macos", "10.3.9", "darwin"), 0x1030);
    EXPECT_EQ(OVNHelper::systemVersionNumber("macos", "10.4.11", "darwin"), 0x1040);
    EXPECT_EQ(OVNHelper::systemVersionNumber("macos", "junk", "darwin"), -1);
    EXPECT_EQ(OVNHelper::systemVersionNumber("debian", "12", ""), -1);
    // Linux: never the 10.3 table, and every feature that needs 10.4 or later is on.
    const int linux = OVNHelper::systemVersionNumber("debian", "12", "linux");
    EXPECT_NE(linux, 0x1030);
    EXPECT_GT(linux, 0x103F);
    EXPECT_EQ(OVNHelper::systemMajorVersion(), linux);

    EXPECT_GT(OVNHelper::quicktimeVersionNumber(0x3A0000, 2), 0x06FFFFFF);
    EXPECT_LE(OVNHelper::quicktimeVersionNumber(0x3A0000, 0), 0x06FFFFFF);
    EXPECT_LE(OVNHelper::quicktimeVersionNumber(0, 2), 0x06FFFFFF);
    EXPECT_EQ(OVNHelper::quicktimeMajorVersion() & 0x00FFFFFF, 0);
}
