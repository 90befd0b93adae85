// Pictures reduced a row at a time: against the exact area average worked out pixel by pixel,
// against Qt's smooth scaling, rows of one colour however many, and what a reduced read holds.

#include "decoding/AreaScaler.h"
#include "decoding/PictureRows.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

// Noise, edges and a gradient, translucent across where `alpha`.
QImage sample(QSize size, bool alpha)
{
    QImage image(size, QImage::Format_ARGB32);
    quint32 state = 2024;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            const int a = alpha ? x * 255 / std::max(1, size.width() - 1) : 255;
            image.setPixel(x, y, qRgba(int(state >> 24), (y * 13) & 255, x < size.width() / 3 ? 0 : 255, a));
        }
    return image.convertToFormat(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

// Each pixel of the result as the average of the area it covers, worked out in doubles.
QImage exactAverage(const QImage &image, QSize target)
{
    QImage out(target, image.format());
    const double sx = double(image.width()) / target.width(), sy = double(image.height()) / target.height();
    for (int ty = 0; ty < target.height(); ++ty)
        for (int tx = 0; tx < target.width(); ++tx) {
            double sums[4] = {};
            const double x0 = tx * sx, x1 = (tx + 1) * sx, y0 = ty * sy, y1 = (ty + 1) * sy;
            for (int y = int(y0); y < int(std::ceil(y1)); ++y)
                for (int x = int(x0); x < int(std::ceil(x1)); ++x) {
                    const double w = (std::min<double>(x + 1, x1) - std::max<double>(x, x0))
                                     * (std::min<double>(y + 1, y1) - std::max<double>(y, y0));
                    const QRgb p = reinterpret_cast<const QRgb *>(image.constScanLine(y))[x];
                    sums[0] += w * qBlue(p);
                    sums[1] += w * qGreen(p);
                    sums[2] += w * qRed(p);
                    sums[3] += w * qAlpha(p);
                }
            const auto byte = [&](int i) { return std::clamp(int(std::lround(sums[i] / (sx * sy))), 0, 255); };
            reinterpret_cast<QRgb *>(out.scanLine(ty))[tx] = qRgba(byte(2), byte(1), byte(0), byte(3));
        }
    return out;
}

int largestDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    return largest;
}

// The picture's rows handed one at a time, top first or bottom first, into a scaler's own picture.
QImage streamed(const QImage &image, QSize target, bool bottomFirst)
{
    AreaScaler scaler(image.size(), target, bottomFirst);
    EXPECT_TRUE(scaler.makePicture(image.hasAlphaChannel()));
    for (int i = 0; i < image.height(); ++i) {
        const int y = bottomFirst ? image.height() - 1 - i : i;
        scaler.addRow(reinterpret_cast<const QRgb *>(image.constScanLine(y)));
    }
    EXPECT_TRUE(scaler.isComplete());
    return scaler.takePicture();
}

} // namespace

TEST(AreaScaler, EveryPixelIsTheAverageOfTheAreaItCovers)
{
    struct Case {
        const char *name;
        QSize from, to;
        bool alpha;
    };
    const Case cases[] = {
        {"a JPEG reduced in its DCT, the rest of the way", {500, 375}, {256, 192}, false},
        {"odd sides, no common factor", {37, 23}, {11, 7}, false},
        {"a little smaller", {101, 67}, {100, 66}, false},
        {"one way only", {100, 50}, {100, 20}, false},
        {"many pixels to one across", {1000, 9}, {3, 2}, false},
        {"to a single pixel", {17, 13}, {1, 1}, false},
        {"the same size", {21, 8}, {21, 8}, false},
        {"translucent", {45, 31}, {16, 11}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = sample(c.from, c.alpha);
        const QImage expected = exactAverage(image, c.to);
        const QImage whole = AreaScaler::scaled(image, c.to);
        ASSERT_EQ(whole.size(), c.to);
        EXPECT_EQ(whole.format(), c.alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        EXPECT_LE(largestDifference(whole, expected), 1);
        // Rows handed bottom first make the same picture.
        EXPECT_LE(largestDifference(streamed(image, c.to, true), expected), 1);
        // No colour above its alpha, as premultiplied pixels must be.
        for (int y = 0; y < whole.height(); ++y)
            for (int x = 0; x < whole.width(); ++x) {
                const QRgb p = whole.pixel(x, y);
                ASSERT_LE(std::max({qRed(p), qGreen(p), qBlue(p)}), qAlpha(p));
            }
    }
}

TEST(AreaScaler, IsQtsSmoothScalingToWithinAStep)
{
    const QImage image = sample({640, 480}, false);
    for (const QSize target : {QSize(512, 384), QSize(256, 192), QSize(100, 75)}) {
        const QImage ours = AreaScaler::scaled(image, target);
        const QImage qts = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_LE(largestDifference(ours, qts), 2) << target.width();
    }
}

TEST(AreaScaler, RowsOfOneColourCountAsManyRowsAtTheCostOfTheResultsRows)
{
    // Rows of one colour among others, added a row at a time or as runs: the same picture.
    const QImage image = sample({60, 90}, false);
    QImage runs = image;
    for (int y = 20; y < 70; ++y)
        std::fill_n(reinterpret_cast<QRgb *>(runs.scanLine(y)), runs.width(), qRgb(10, 200, 30));
    const QSize target(23, 17);
    AreaScaler scaler(runs.size(), target, false);
    ASSERT_TRUE(scaler.makePicture(false));
    for (int y = 0; y < 20; ++y)
        scaler.addRow(reinterpret_cast<const QRgb *>(runs.constScanLine(y)));
    scaler.addRows(qRgb(10, 200, 30), 50);
    for (int y = 70; y < 90; ++y)
        scaler.addRow(reinterpret_cast<const QRgb *>(runs.constScanLine(y)));
    EXPECT_TRUE(scaler.isComplete());
    EXPECT_LE(largestDifference(scaler.takePicture(), AreaScaler::scaled(runs, target)), 1);

    // A file that claims a billion rows and holds none: the rest is filled at once, and a claim
    // beyond the picture's end is cut there.
    AreaScaler tall(QSize(4000, 1000000000), QSize(4, 100), false);
    ASSERT_TRUE(tall.makePicture(false));
    const auto start = std::chrono::steady_clock::now();
    tall.addRows(qRgb(128, 128, 128), qint64(1) << 40);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(tall.isComplete());
    EXPECT_EQ(tall.rowsAdded(), 1000000000);
    const QImage grey = tall.takePicture();
    EXPECT_EQ(grey.pixel(3, 99), qRgb(128, 128, 128));
}

TEST(AreaScaler, ARowDeclinedEndsTheWork)
{
    const QImage image = sample({40, 40}, false);
    int taken = 0;
    AreaScaler scaler(image.size(), QSize(10, 10), false, [&taken](const QRgb *, int) { return ++taken < 3; });
    for (int y = 0; y < image.height(); ++y)
        scaler.addRow(reinterpret_cast<const QRgb *>(image.constScanLine(y)));
    EXPECT_TRUE(scaler.failed());
    EXPECT_EQ(taken, 3);
    // Nothing larger than the picture either way.
    EXPECT_FALSE(AreaScaler::fits(QSize(40, 40), QSize(41, 10)));
    EXPECT_TRUE(AreaScaler::scaled(image, QSize(10, 50)).isNull());
}

TEST(AreaScaler, AReducedReadHoldsRowsNotThePicture)
{
    // A picture of 400 megapixels read into a thumbnail's box: a row, the sums and the thumbnail.
    PictureRows rows(QSize(20000, 20000), QSize(256, 256));
    EXPECT_LT(rows.heldBytes(), qint64(2) << 20);
    // Read as it comes, bottom first, into the box.
    const QImage image = sample({300, 200}, true);
    PictureRows reduced(image.size(), QSize(150, 150), PictureRows::Order::BottomFirst, true);
    ASSERT_TRUE(reduced.start(0, nullptr));
    for (int i = 0; i < image.height(); ++i) {
        const QImage line =
            image.copy(0, image.height() - 1 - i, image.width(), 1).convertToFormat(QImage::Format_ARGB32);
        std::copy_n(reinterpret_cast<const QRgb *>(line.constScanLine(0)), image.width(), reduced.row());
        reduced.next();
    }
    const QImage taken = reduced.take();
    ASSERT_EQ(taken.size(), QSize(150, 100));
    EXPECT_LE(largestDifference(taken, exactAverage(image, QSize(150, 100))), 1);
}
