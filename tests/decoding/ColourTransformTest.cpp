#include "decoding/ColourTransform.h"
#include "tests/support/ColourFiles.h"

#include <gtest/gtest.h>

using Samples = ColourTransform::Samples;

namespace {

QRgb converted(Samples samples, const QByteArray &icc, const std::vector<uchar> &pixel, int stride = 0)
{
    const ColourTransform transform = ColourTransform::toSRgb(samples, icc, stride);
    QRgb out = 0;
    transform.convert(pixel.data(), &out, 1);
    return transform.isValid() ? out : QRgb(0);
}

} // namespace

// Inks reach sRGB through the profile that describes them: an embedded one where it describes
// inks, else the standard one; in each way the readers hand them (plain, inverted, 16 bits, an
// alpha sample beside them).
TEST(ColourTransformTest, InksReachSRgbThroughTheirProfile)
{
    const QByteArray adobe = colourfiles::adobeRgbProfile();
    const QByteArray standard = ColourTransform::standardCmykProfile();
    const QByteArray other = colourfiles::systemProfile("ps_cmyk.icc");
    if (standard.isEmpty() || other.isEmpty())
        GTEST_SKIP() << "no CMYK profiles installed (libgs-common)";
    // Inks through the embedded profile; a profile of another space, or bytes of none, leave
    // them to the standard one.
    struct InkCase {
        const char *name;
        Samples samples;
        QByteArray icc;
        std::vector<uchar> pixel;
        int stride;
        QRgb want;
        bool embedded;
    };
    const InkCase inks[] = {
        {"cyan, embedded",
         Samples::Cmyk8,
         other,
         {255, 0, 0, 0},
         4,
         colourfiles::inksThrough(other, 255, 0, 0, 0),
         true},
        {"red, embedded",
         Samples::Cmyk8,
         other,
         {0, 255, 255, 0},
         4,
         colourfiles::inksThrough(other, 0, 255, 255, 0),
         true},
        {"red, inverted",
         Samples::InvertedCmyk8,
         other,
         {255, 0, 0, 255},
         4,
         colourfiles::inksThrough(other, 0, 255, 255, 0),
         true},
        {"red, 16 bits",
         Samples::Cmyk16,
         other,
         {0, 0, 255, 255, 255, 255, 0, 0},
         4,
         colourfiles::inksThrough(other, 0, 255, 255, 0),
         true},
        {"red, alpha skipped",
         Samples::Cmyk8,
         other,
         {0, 255, 255, 0, 17, 0, 0, 0, 0, 0},
         5,
         colourfiles::inksThrough(other, 0, 255, 255, 0),
         true},
        {"an RGB profile",
         Samples::Cmyk8,
         adobe,
         {0, 255, 255, 0},
         4,
         colourfiles::inksThrough(standard, 0, 255, 255, 0),
         false},
        {"no profile",
         Samples::Cmyk8,
         QByteArray(),
         {0, 255, 255, 0},
         4,
         colourfiles::inksThrough(standard, 0, 255, 255, 0),
         false},
        {"bytes of no profile",
         Samples::Cmyk8,
         QByteArray(4096, 'x'),
         {0, 0, 0, 255},
         4,
         colourfiles::inksThrough(standard, 0, 0, 0, 255),
         false},
        {"a profile cut short",
         Samples::Cmyk8,
         other.left(other.size() / 2),
         {0, 0, 0, 255},
         4,
         colourfiles::inksThrough(standard, 0, 0, 0, 255),
         false},
    };
    for (const InkCase &c : inks) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ColourTransform::toSRgb(c.samples, c.icc, c.stride).usesEmbeddedProfile(), c.embedded);
        const QRgb got = converted(c.samples, c.icc, c.pixel, c.stride);
        EXPECT_EQ(qAlpha(got), 255);
        EXPECT_LE(colourfiles::distance(got, c.want), 3) << std::hex << got << " for " << c.want;
    }
    // More samples beside the inks than LittleCMS describes: no transform (the readers then take
    // the inks off white), never one that reads the row otherwise.
    EXPECT_FALSE(ColourTransform::toSRgb(Samples::Cmyk8, other, 12).isValid());
    EXPECT_TRUE(ColourTransform::toSRgb(Samples::Cmyk8, other, 11).isValid());
    // The two profiles differ where it shows: the embedded one was the one used.
    EXPECT_GT(colourfiles::distance(colourfiles::inksThrough(other, 0, 255, 255, 0),
                                    colourfiles::inksThrough(standard, 0, 255, 255, 0)),
              6);
}

// A picture converted in place keeps its translucency and its format; one of sRGB's own profile,
// or of a profile that is not RGB, is left as it is.
TEST(ColourTransformTest, PicturesAreConvertedInPlaceKeepingTranslucency)
{
    const QByteArray adobe = colourfiles::adobeRgbProfile();
    QImage translucent(4, 1, QImage::Format_ARGB32_Premultiplied);
    translucent.fill(qPremultiply(qRgba(144, 255, 60, 128)));
    ASSERT_TRUE(ColourTransform::convertToSRgb(translucent, adobe));
    EXPECT_EQ(translucent.format(), QImage::Format_ARGB32_Premultiplied);
    const QRgb pixel = qUnpremultiply(translucent.pixel(0, 0));
    EXPECT_EQ(qAlpha(pixel), 128);
    EXPECT_LE(colourfiles::distance(pixel, qRgb(0, 255, 0)), 8) << std::hex << pixel;

    QImage same(4, 1, QImage::Format_RGB32);
    same.fill(qRgb(144, 255, 60));
    ASSERT_TRUE(ColourTransform::convertToSRgb(same, colourfiles::sRgbProfile()));
    EXPECT_LE(colourfiles::distance(same.pixel(0, 0), qRgb(144, 255, 60)), 2);

    const QByteArray inks = colourfiles::systemProfile("ps_cmyk.icc");
    if (!inks.isEmpty()) {
        const QImage before = same;
        EXPECT_FALSE(ColourTransform::convertToSRgb(same, inks));
        EXPECT_EQ(same, before);
    }
}
