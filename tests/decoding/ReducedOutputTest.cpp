// A picture written out smaller than it is (an export at 1600 pixels, say): reduced as its rows come
// into the JPEG file, in its sizes, colours and transparency as when it was reduced whole.

#include "decoding/ImageFileReader.h"
#include "decoding/JpegEncoder.h"
#include "decoding/MediaDecoder.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>

namespace {

// A gradient with noise and a hard edge, so that a misplaced row or column shows.
QImage scene(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    quint32 state = 77;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 28);
            image.setPixel(
                x, y,
                qRgb((x * 255 / size.width() + noise) & 255, y * 255 / size.height(), x < size.width() / 2 ? 30 : 220));
        }
    return image;
}

// The mean difference of every channel of two pictures of one size, in steps.
double meanDifference(const QImage &a, const QImage &b)
{
    const QImage p = a.convertToFormat(QImage::Format_RGB32), q = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x) {
            const QRgb s = p.pixel(x, y), t = q.pixel(x, y);
            sum += std::abs(qRed(s) - qRed(t)) + std::abs(qGreen(s) - qGreen(t)) + std::abs(qBlue(s) - qBlue(t));
        }
    return sum / (3.0 * p.width() * p.height());
}

} // namespace

TEST(ReducedOutput, APictureWrittenSmallerKeepsItsSizeColoursAndTransparency)
{
    QTemporaryDir dir;
    const QImage colour = scene(QSize(990, 601));
    const QString jpeg = dir.filePath(QStringLiteral("odd.jpg"));
    ASSERT_TRUE(colour.save(jpeg, "JPEG", 95));
    const QString grey = dir.filePath(QStringLiteral("grey.jpg"));
    ASSERT_TRUE(colour.convertToFormat(QImage::Format_Grayscale8).save(grey, "JPEG", 95));
    QImage translucent(600, 400, QImage::Format_ARGB32);
    translucent.fill(Qt::transparent);
    for (int y = 100; y < 300; ++y)
        for (int x = 0; x < 600; ++x)
            translucent.setPixel(x, y, qRgba(255, 0, 0, 128));
    const QString png = dir.filePath(QStringLiteral("translucent.png"));
    ASSERT_TRUE(translucent.save(png, "PNG"));

    struct Case {
        const char *name;
        QString path;
        QSize stored;
        QSize box;
    };
    const Case cases[] = {
        // Decoded at half its size in the DCT, then reduced the rest of the way: the written size
        // comes from the stored one.
        {"a JPEG of odd sides", jpeg, {990, 601}, {400, 400}},
        {"a grey JPEG", grey, {990, 601}, {300, 300}},
        {"a translucent PNG", png, {600, 400}, {300, 300}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ImageFileReader::Facts facts;
        const std::optional<QByteArray> written =
            MediaDecoder(MediaDecoder::Use::FullSize).writeJpeg(c.path, c.box, 1, 95, &facts);
        ASSERT_TRUE(written.has_value()) << qPrintable(ImageFileReader::refusalText(facts.refusal));
        const QImage picture = QImage::fromData(*written, "JPEG");
        ASSERT_EQ(picture.size(), JpegEncoder::writtenSize(c.stored, c.box));
        EXPECT_EQ(facts.size, c.stored);
        if (c.path == grey) {
            EXPECT_EQ(picture.format(), QImage::Format_Grayscale8);
        } else if (c.path == png) {
            // Transparent on white, half-transparent red half way to white.
            const QRgb clear = picture.pixel(150, 20), half = picture.pixel(150, 100);
            EXPECT_GE(qMin(qRed(clear), qMin(qGreen(clear), qBlue(clear))), 250);
            EXPECT_GE(qRed(half), 250);
            EXPECT_NEAR(qGreen(half), 127, 4);
            EXPECT_NEAR(qBlue(half), 127, 4);
        } else {
            const QImage expected =
                QImage(c.path).scaled(picture.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            EXPECT_LT(meanDifference(picture, expected), 2.5);
        }
    }
}
