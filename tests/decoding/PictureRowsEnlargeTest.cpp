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

namespace {

// The blend by its definition, a channel at a time: each output pixel between the input pixels
// whose centres are nearest, weighed in 128ths, rows first, then columns.
QImage enlargedByDefinition(const QImage &picture, QSize to)
{
    struct Between {
        int first, weight;
    };
    const auto between = [](int at, int out, int in) -> Between {
        const qint64 position = ((2 * qint64(at) + 1) * in * 65536) / (2 * qint64(out)) - 32768;
        if (position <= 0)
            return {0, 0};
        if (int(position >> 16) >= in - 1)
            return {in - 2, 128};
        return {int(position >> 16), int(((position & 0xffff) + 256) >> 9)};
    };
    const auto blend = [](int a, int b, int weight) { return (a * (128 - weight) + b * weight + 64) >> 7; };
    QImage out(to, QImage::Format_RGB32);
    for (int y = 0; y < to.height(); ++y) {
        const Between row = between(y, to.height(), picture.height());
        for (int x = 0; x < to.width(); ++x) {
            const Between column = between(x, to.width(), picture.width());
            int channels[4];
            for (int c = 0; c < 4; ++c) {
                const auto at = [&](int px, int py) { return picture.constScanLine(py)[4 * px + c]; };
                const int left = blend(at(column.first, row.first), at(column.first, row.first + 1), row.weight);
                const int right =
                    blend(at(column.first + 1, row.first), at(column.first + 1, row.first + 1), row.weight);
                channels[c] = blend(left, right, column.weight);
            }
            reinterpret_cast<QRgb *>(out.scanLine(y))[x] = qRgba(channels[2], channels[1], channels[0], channels[3]);
        }
    }
    return out;
}

} // namespace

// Every pixel, on every processor, is the blend as it is defined, whatever the widths leave over
// for the wide steps (rows of 7 to 41 pixels into 9 to 301).
TEST(PictureRowsEnlarge, EveryPixelIsTheDefinedBlend)
{
    const QSize cases[][2] = {{{240, 180}, {256, 192}}, {{7, 5}, {9, 13}}, {{41, 3}, {301, 7}}, {{13, 11}, {14, 11}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1x%2 to %3x%4")
                         .arg(c[0].width())
                         .arg(c[0].height())
                         .arg(c[1].width())
                         .arg(c[1].height())
                         .toStdString());
        const QImage picture = sample(c[0], QImage::Format_RGB32);
        EXPECT_EQ(largestDifference(PictureRows::enlarged(picture, c[1]), enlargedByDefinition(picture, c[1])), 0);
    }
}
