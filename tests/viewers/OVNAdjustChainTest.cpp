#include "viewers/OVNAdjustChain.h"

#include <gtest/gtest.h>

#include <QSize>

#include <cmath>
#include <cstring>

namespace {

OVNLinearImage solid(int w, int h, std::array<float, 3> rgb, float alpha = 1)
{
    OVNLinearImage img = OVNLinearImage::allocate(w, h);
    for (std::size_t i = 0; i < img.pixels.size(); i += 4) {
        for (int c = 0; c < 3; ++c)
            img.pixels[i + c] = rgb[c] * alpha;
        img.pixels[i + 3] = alpha;
    }
    return img;
}

OVNAdjustValues with(std::function<void(OVNAdjustValues &)> set)
{
    OVNAdjustValues v;
    set(v);
    return v;
}

} // namespace

TEST(OVNAdjustChain, EachColourStageOnOnePixel)
{
    struct Case {
        const char *name;
        std::array<float, 3> in;
        OVNAdjustValues values;
        std::array<float, 3> expected;
    };
    const float l = 0.2126f * 0.8f + 0.7152f * 0.2f + 0.0722f * 0.1f;
    const Case cases[] = {
        {"exposure +1 doubles", {0.2f, 0.1f, 0.05f}, with([](auto &v) { v.exposure = 1; }), {0.4f, 0.2f, 0.1f}},
        {"gamma 2 squares", {0.5f, 0.3f, 0.9f}, with([](auto &v) { v.gamma = 2; }), {0.25f, 0.09f, 0.81f}},
        {"gamma 1 is identity", {0.5f, 0.3f, 0.9f}, with([](auto &v) { v.gamma = 1; }), {0.5f, 0.3f, 0.9f}},
        {"saturation 0 keeps luma", {0.8f, 0.2f, 0.1f}, with([](auto &v) { v.saturation = 0; }), {l, l, l}},
        {"contrast 2 stretches about the middle",
         {0.25f, 0.75f, 0.5f},
         with([](auto &v) { v.contrast = 200; }),
         {0, 1, 0.5f}},
        {"brightness adds", {0.25f, 0.5f, 0.0f}, with([](auto &v) { v.brightness = 10; }), {0.35f, 0.6f, 0.1f}},
        {"hue 2pi/3 turns red to green", {1, 0, 0}, with([](auto &v) { v.tint = 2 * M_PI / 3; }), {0, 1, 0}},
        {"white point white is identity",
         {0.3f, 0.6f, 0.9f},
         with([](auto &v) {
             v.whitePoint = std::array<double, 3>{1, 1, 1};
         }),
         {0.3f, 0.6f, 0.9f}},
        {"sepia 1 on white", {1, 1, 1}, with([](auto &v) { v.sepia = 1; }), {1.351f, 1.203f, 0.937f}},
        {"sharpening a flat field changes nothing",
         {0.4f, 0.4f, 0.4f},
         with([](auto &v) { v.sharpness = 2; }),
         {0.4f, 0.4f, 0.4f}},
    };
    for (const Case &c : cases) {
        for (float alpha : {1.0f, 0.5f}) {
            OVNLinearImage img = solid(5, 5, c.in, alpha);
            OVNAdjustChain::colour(img, c.values, 1);
            for (int ch = 0; ch < 3; ++ch) {
                // Colour formulas see straight values; partly transparent ones stay within [0, 1].
                const float want = alpha < 1 ? std::clamp(c.expected[ch], 0.0f, 1.0f) : c.expected[ch];
                EXPECT_NEAR(img.pixels[2 * 20 + 8 + ch] / alpha, want, 1e-4)
                    << c.name << " alpha " << alpha << " channel " << ch;
            }
            EXPECT_FLOAT_EQ(img.pixels[2 * 20 + 8 + 3], alpha) << c.name;
        }
    }
}

TEST(OVNAdjustChain, NeutralValuesSkipStages)
{
    using namespace OVNAdjustChain;
    EXPECT_EQ(stagesFor({}, false), std::vector<Stage>{});
    EXPECT_EQ(stagesFor({}, true), std::vector<Stage>{Scale});
    EXPECT_EQ(stagesFor(with([](auto &v) { v.gamma = 1; }), false), std::vector<Stage>{Gamma});
    EXPECT_EQ(stagesFor(with([](auto &v) { v.contrast = 101; }), false), std::vector<Stage>{ColorControls});
    EXPECT_EQ(stagesFor(with([](auto &v) { v.rotation = 45; }), false), std::vector<Stage>{});
    const auto all = with([](auto &v) {
        v.straighten = 1;
        v.rotation = 90;
        v.exposure = 1;
        v.gamma = 1;
        v.brightness = 1;
        v.tint = 1;
        v.sharpness = 1;
        v.whitePoint = std::array<double, 3>{1, 1, 1};
        v.sepia = 1;
    });
    EXPECT_EQ(stagesFor(all, true), (std::vector<Stage>{Straighten, Turn, Scale, Exposure, Gamma, ColorControls, Hue,
                                                        Sharpen, WhitePoint, Sepia}));
}

TEST(OVNAdjustChain, ExtentsOfGeometricStages)
{
    OVNLinearImage img = solid(30, 20, {0.5f, 0.5f, 0.5f});
    img.pixels[0] = 1; // top-left red channel marks the corner
    struct Case {
        int rotation;
        double straighten;
        int w, h;
    } cases[] = {{0, 0, 30, 20}, {90, 0, 20, 30}, {180, 0, 30, 20}, {270, 0, 20, 30}, {0, 90, 20, 30}, {0, 3, 32, 22}};
    for (const Case &c : cases) {
        OVNAdjustValues v;
        v.rotation = c.rotation;
        v.straighten = c.straighten;
        const OVNLinearImage out = OVNAdjustChain::geometric(img, v, 2);
        EXPECT_EQ(out.width, c.w) << c.rotation << " " << c.straighten;
        EXPECT_EQ(out.height, c.h) << c.rotation << " " << c.straighten;
    }
    // A clockwise quarter turn puts the top-left corner at the top right.
    const OVNLinearImage turned = OVNAdjustChain::geometric(img, with([](auto &v) { v.rotation = 90; }), 1);
    EXPECT_FLOAT_EQ(turned.row(0)[(turned.width - 1) * 4], 1.0f);

    double zoom = 0;
    EXPECT_EQ(OVNAdjustChain::scaleToFit(solid(400, 200, {1, 1, 1}), 100, 100, &zoom).width, 100);
    EXPECT_DOUBLE_EQ(zoom, 0.25);
    const OVNLinearImage small = OVNAdjustChain::scaleToFit(solid(40, 20, {1, 1, 1}), 100, 100, &zoom);
    EXPECT_EQ(small.width, 40);
    EXPECT_DOUBLE_EQ(zoom, 1.0);

    EXPECT_TRUE(OVNAdjustChain::crop(img, 40, 0, 10, 10).isNull());
    const OVNLinearImage clipped = OVNAdjustChain::crop(img, -5, -5, 10, 10);
    EXPECT_EQ(clipped.width, 5);
    EXPECT_EQ(clipped.height, 5);
}

TEST(OVNAdjustChain, SameResultForAnyThreadCountAndRoundTrip)
{
    QImage src(67, 150, QImage::Format_RGBA8888); // several bands of rows
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x)
            src.setPixelColor(x, y, QColor((x * 37) % 256, (y * 53) % 256, (x * y) % 256, 255 - (x % 3) * 40));
    const OVNLinearImage linear = OVNLinearImage::fromImage(src);
    const QImage back = linear.toImage();
    ASSERT_EQ(back.format(), QImage::Format_RGBA8888);
    for (int y = 0; y < src.height(); ++y)
        ASSERT_EQ(0, std::memcmp(back.constScanLine(y), src.constScanLine(y), std::size_t(src.width()) * 4)) << y;

    const auto v = with([](auto &v) {
        v.straighten = 3;
        v.exposure = 0.5;
        v.gamma = 1.5;
        v.saturation = 150;
        v.contrast = 120;
        v.sharpness = 1;
        v.sepia = 0.3;
        v.rotation = 270;
    });
    const OVNLinearImage one = OVNAdjustChain::render(linear, v, 1);
    const OVNLinearImage many = OVNAdjustChain::render(linear, v, 5);
    EXPECT_EQ(one.pixels, many.pixels);
    // Straight to 8 bits (the screen and export) gives the bytes of the float chain.
    const QImage direct = OVNAdjustChain::renderImage(linear, v, 3);
    EXPECT_EQ(direct, one.toImage());
    // Gamma over the whole range, well within 8-bit rounding of the exact power.
    OVNLinearImage ramp = OVNLinearImage::allocate(4096, 1);
    for (int x = 0; x < 4096; ++x) {
        std::fill_n(ramp.row(0) + x * 4, 3, x / 1024.0f);
        ramp.row(0)[x * 4 + 3] = 1;
    }
    for (double power : {0.1, 0.5, 1.0, 2.2, 3.0}) {
        OVNLinearImage out = ramp;
        OVNAdjustChain::colour(out, with([power](auto &v) { v.gamma = power; }), 2);
        for (int x = 0; x < 4096; ++x)
            ASSERT_NEAR(out.row(0)[x * 4], std::pow(x / 1024.0, power), 2e-6 * std::max(1.0, std::pow(4.0, power)))
                << power << " at " << x;
    }
    double z1 = 0, z5 = 0;
    EXPECT_EQ(OVNAdjustChain::scaleToFit(one, 20, 20, &z1, 1).pixels,
              OVNAdjustChain::scaleToFit(one, 20, 20, &z5, 5).pixels);
}

TEST(OVNAdjustDocument, CropAtAZoomClampsAndRevertKeepsTheFirstPicture)
{
    OVNAdjustDocument doc;
    doc.setSource(solid(400, 200, {0.5f, 0.5f, 0.5f}));
    doc.values.rotation = 90; // shown 200 x 400
    doc.values.straighten = 0;
    doc.values.exposure = 1;
    double zoom = 0;
    const OVNLinearImage shown = doc.preview(100, 100, &zoom);
    EXPECT_DOUBLE_EQ(zoom, 0.25);
    EXPECT_EQ(shown.width, 50);
    EXPECT_EQ(shown.height, 100);
    EXPECT_NEAR(shown.row(50)[25 * 4], 1.0f, 1e-4); // exposure applied once

    // A click without a drag, and a selection wholly left of the picture, do nothing.
    EXPECT_FALSE(doc.cropToView(30, 30, 30, 30, 25, 0, zoom));
    EXPECT_FALSE(doc.cropToView(0, 0, 20, 50, 25, 0, zoom));
    // Reaching left of and above the picture: clamped to its edges. Drawn at x 25 in the view.
    ASSERT_TRUE(doc.cropToView(10, -10, 35, 20, 25, 0, zoom));
    EXPECT_EQ(doc.source().width, 40);
    EXPECT_EQ(doc.source().height, 80);
    EXPECT_EQ(doc.values.rotation, 0);
    EXPECT_NEAR(doc.render().pixels[0], 1.0f, 1e-4); // colour stays live, not baked in
    ASSERT_TRUE(doc.cropToView(0, 0, 5, 5, 0, 0, 1));
    EXPECT_EQ(doc.source().width, 5);

    doc.revert();
    EXPECT_EQ(doc.source().width, 400);
    EXPECT_EQ(doc.values.rotation, 90);
    EXPECT_FALSE(doc.canRevert());
}

TEST(OVNAdjustChain, APictureKeptIn8BitsGivesWhatItsFloatCopyGives)
{
    QImage src(71, 203, QImage::Format_RGB32); // more rows than one stripe of the sharpening
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x)
            src.setPixel(x, y, qRgb((x * 37 + y) % 256, (y * 53) % 256, (x * y) % 256));
    QImage translucent = src.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.setPixelColor(x, y, QColor::fromRgba((translucent.pixel(x, y) & 0xffffff) | ((255 - x) << 24)));
    const struct {
        const char *name;
        OVNAdjustValues values;
    } cases[] = {
        {"neutral", {}},
        {"colour only", with([](auto &v) {
             v.exposure = 0.5;
             v.gamma = 1.5;
             v.saturation = 150;
             v.sepia = 0.3;
         })},
        {"sharpened", with([](auto &v) {
             v.sharpness = 1;
             v.contrast = 120;
         })},
        {"turned", with([](auto &v) {
             v.rotation = 90;
             v.sharpness = 0.5;
         })},
        {"straightened and turned", with([](auto &v) {
             v.straighten = -4;
             v.rotation = 180;
             v.sharpness = 1;
         })},
    };
    for (const QImage &image : {src, translucent}) {
        const OVNLinearImage packed = OVNLinearImage::fromImagePacked(image);
        const OVNLinearImage floats = OVNLinearImage::fromImage(image);
        ASSERT_TRUE(packed.isPacked());
        EXPECT_EQ(packed.unpacked().pixels, floats.pixels);
        EXPECT_EQ(packed.toImage(), floats.toImage());
        for (const auto &c : cases) {
            EXPECT_EQ(OVNAdjustChain::renderImage(packed, c.values, 3),
                      OVNAdjustChain::render(floats, c.values, 2).toImage())
                << c.name;
            EXPECT_EQ(OVNAdjustChain::render(packed, c.values, 1).pixels,
                      OVNAdjustChain::render(floats, c.values, 1).pixels)
                << c.name;
            OVNAdjustPreviewCache a, b;
            EXPECT_EQ(a.renderImage(std::make_shared<const OVNLinearImage>(packed), c.values, 40, 40),
                      b.renderImage(std::make_shared<const OVNLinearImage>(floats), c.values, 40, 40))
                << c.name;
        }
        EXPECT_EQ(OVNAdjustChain::crop(packed, 5, 7, 20, 30).pixels, OVNAdjustChain::crop(floats, 5, 7, 20, 30).pixels);
    }
}

TEST(OVNAdjustChain, ACropViewReadsAndRendersAsTheFloatCropDid)
{
    QImage src(256, 96, QImage::Format_ARGB32);
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x)
            src.setPixel(x, y, qRgba(x, (x * 7 + y) % 256, (y * 31) % 256, y < 32 ? 255 : (x * 3 + y * 5) % 256));
    OVNAdjustValues live; // the colour stages the cropped picture is rendered with, sharpening too
    live.exposure = 0.7;
    live.gamma = 1.2;
    live.contrast = 180;
    live.sharpness = 1;
    live.sepia = 0.2;
    const auto geometry = [](double straighten, int rotation) {
        OVNAdjustValues v;
        v.straighten = straighten;
        v.rotation = rotation;
        return v;
    };
    struct Rect {
        int x, y, w, h;
    };
    const struct {
        const char *name;
        OVNAdjustValues first;
        std::optional<std::pair<OVNAdjustValues, Rect>> second; // a crop of the crop
    } cases[] = {
        {"plain", {}, {}},
        {"turned", geometry(0, 270), {}},
        {"straightened", geometry(7.5, 0), {}},
        {"straightened and turned", geometry(-3, 90), {}},
        {"straightened, then cropped plainly", geometry(5, 0), std::pair{OVNAdjustValues{}, Rect{3, 5, 40, 50}}},
        {"turned twice", geometry(0, 90), std::pair{geometry(0, 90), Rect{-4, 7, 70, 30}}},
        {"straightened twice", geometry(-3, 90), std::pair{geometry(10, 180), Rect{2, 1, 55, 75}}},
    };
    const Rect first{9, 4, 60, 80};
    const auto floatCrop = [](const OVNLinearImage &image, const OVNAdjustValues &v, Rect r) {
        return OVNAdjustChain::crop(OVNAdjustChain::geometric(image, v), r.x, r.y, r.w, r.h);
    };
    for (const OVNLinearImage &source : {OVNLinearImage::fromImagePacked(src), OVNLinearImage::fromImage(src)}) {
        for (const auto &c : cases) {
            OVNLinearImage before = floatCrop(source, c.first, first);
            OVNLinearImage after = OVNAdjustChain::cropGeometric(std::make_shared<const OVNLinearImage>(source),
                                                                 c.first, first.x, first.y, first.w, first.h);
            if (c.second) {
                const auto [values, rect] = *c.second;
                before = floatCrop(before, values, rect);
                after = OVNAdjustChain::cropGeometric(std::make_shared<const OVNLinearImage>(after), values, rect.x,
                                                      rect.y, rect.w, rect.h);
            }
            ASSERT_FALSE(before.isNull()) << c.name;
            ASSERT_TRUE(after.isCropView() && after.pixels.empty()) << c.name;
            EXPECT_EQ(after.width, before.width) << c.name;
            EXPECT_EQ(after.height, before.height) << c.name;
            EXPECT_EQ(after.unpacked().pixels, before.pixels) << c.name;
            EXPECT_EQ(OVNAdjustChain::renderImage(after, live, 3), OVNAdjustChain::renderImage(before, live, 2))
                << c.name;
            OVNAdjustPreviewCache a, b;
            EXPECT_EQ(a.renderImage(std::make_shared<const OVNLinearImage>(after), geometry(4, 90), 30, 30),
                      b.renderImage(std::make_shared<const OVNLinearImage>(before), geometry(4, 90), 30, 30))
                << c.name;
        }
    }
    const auto source = std::make_shared<const OVNLinearImage>(OVNLinearImage::fromImagePacked(src));
    EXPECT_TRUE(OVNAdjustChain::cropGeometric(source, {}, 300, 0, 10, 10).isNull());
    EXPECT_TRUE(OVNAdjustChain::cropGeometric(nullptr, {}, 0, 0, 10, 10).isNull());
    EXPECT_EQ(OVNAdjustChain::cropGeometric(source, {}, -5, -5, 10, 10).width, 5);
}

TEST(OVNAdjustChain, ValuesThatAreNoNumbersActAsNeutral)
{
    const OVNLinearImage source = solid(40, 30, {0.2f, 0.4f, 0.6f}, 0.8f);
    const double bad[] = {std::nan(""), HUGE_VAL, -HUGE_VAL};
    double OVNAdjustValues::*const fields[] = {
        &OVNAdjustValues::exposure,   &OVNAdjustValues::gamma,      &OVNAdjustValues::saturation,
        &OVNAdjustValues::brightness, &OVNAdjustValues::contrast,   &OVNAdjustValues::sharpness,
        &OVNAdjustValues::tint,       &OVNAdjustValues::straighten, &OVNAdjustValues::sepia};
    const QImage neutral = OVNAdjustChain::renderImage(source, {});
    for (double value : bad) {
        for (std::size_t f = 0; f < std::size(fields); ++f) {
            OVNAdjustValues v;
            v.*fields[f] = value;
            int w = 0, h = 0;
            OVNAdjustChain::geometricSize(40, 30, v, &w, &h);
            EXPECT_EQ(QSize(w, h), QSize(40, 30)) << f << " " << value;
            EXPECT_EQ(OVNAdjustChain::stagesFor(v, false), OVNAdjustChain::stagesFor({}, false)) << f << " " << value;
            EXPECT_EQ(OVNAdjustChain::renderImage(source, v), neutral) << f << " " << value;
            OVNAdjustPreviewCache cache;
            EXPECT_FALSE(cache.renderImage(std::make_shared<const OVNLinearImage>(source), v, 20, 20).isNull());
        }
        OVNAdjustValues white;
        white.whitePoint = std::array<double, 3>{1, value, 1};
        EXPECT_EQ(OVNAdjustChain::renderImage(source, white), neutral) << value;
        const auto shared = std::make_shared<const OVNLinearImage>(source);
        EXPECT_FALSE(OVNAdjustDocument::croppedToView(shared, {}, 0, 0, 10, 10, 0, 0, value)) << value;
        EXPECT_FALSE(OVNAdjustDocument::croppedToView(shared, {}, 0, 0, value, 10, 0, 0, 1)) << value;
    }
}
