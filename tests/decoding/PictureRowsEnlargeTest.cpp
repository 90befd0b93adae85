// A small picture made a thumbnail's size: the bilinear blend against Qt's smooth scaling.

#include "decoding/PictureRows.h"

#include <QColorSpace>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// A picture with noise, edges and a gradient, so that every blend and every edge counts.
QImage sample(QSize size, QImage::Format format)
{
    QImage image(size, QImage::Format_ARGB32);
    quint32 state = 12345;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 24);
            const int alpha = format == QImage::Format_RGB32 ? 255 : (x * 255 / std::max(1, size.width() - 1));
            image.setPixel(x, y, qRgba((x * 7 + noise) & 255, (y * 11) & 255, x < size.width() / 2 ? 0 : 255, alpha));
        }
    return image.convertToFormat(format);
}

// The largest difference of any channel between two pictures of one size and format.
int largestDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *p = a.constScanLine(y);
        const auto *q = b.constScanLine(y);
        for (qsizetype i = 0; i < a.bytesPerLine(); ++i)
            largest = std::max(largest, std::abs(int(p[i]) - int(q[i])));
    }
    return largest;
}

} // namespace

TEST(PictureRowsEnlarge, MatchesQtsSmoothScalingWithinAStep)
{
    struct Case {
        const char *name;
        QSize from, to;
        QImage::Format format;
    };
    const Case cases[] = {
        {"opaque, a little larger", {240, 180}, {256, 192}, QImage::Format_RGB32},
        {"opaque, twice and odd", {37, 23}, {81, 47}, QImage::Format_RGB32},
        {"one way only", {100, 50}, {100, 77}, QImage::Format_RGB32},
        {"two pixels to many", {2, 2}, {64, 33}, QImage::Format_RGB32},
        {"translucent, premultiplied", {45, 31}, {128, 90}, QImage::Format_ARGB32_Premultiplied},
        {"translucent, not premultiplied", {45, 31}, {128, 90}, QImage::Format_ARGB32},
        {"a one-pixel row", {1, 9}, {12, 40}, QImage::Format_RGB32},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QImage picture = sample(c.from, c.format);
        picture.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
        const QImage ours = PictureRows::enlarged(picture, c.to);
        const QImage qts = picture.scaled(c.to, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        ASSERT_EQ(ours.size(), c.to);
        EXPECT_EQ(ours.format(), qts.format());
        EXPECT_EQ(ours.colorSpace(), picture.colorSpace());
        // Qt's blend rounds otherwise, and its phase differs by a little; never by more. (Compared
        // premultiplied: a transparent pixel's colour is no colour.)
        const auto shown = [](const QImage &image) {
            return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        };
        EXPECT_LE(largestDifference(shown(ours), shown(qts)), 4);
        // Corners are the picture's own corners.
        const QImage own = shown(picture);
        EXPECT_EQ(shown(ours).pixel(0, 0), own.pixel(0, 0));
        EXPECT_EQ(shown(ours).pixel(c.to.width() - 1, c.to.height() - 1),
                  own.pixel(c.from.width() - 1, c.from.height() - 1));
    }
    // Smaller either way is not enlarging.
    EXPECT_TRUE(PictureRows::enlarged(sample({20, 20}, QImage::Format_RGB32), {30, 19}).isNull());
    EXPECT_TRUE(PictureRows::enlarged(QImage(), {30, 30}).isNull());
}
