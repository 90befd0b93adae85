#include "decoding/JpegEncoder.h"
#include "decoding/TurnedStrips.h"

#include <gtest/gtest.h>

#include <QImage>

#include <vector>

namespace {

// The rows a sink was handed, as a picture.
class Collected final : public RowSink
{
public:
    bool begin(QSize size, Pixels pixels) override
    {
        picture = QImage(size, pixels == Pixels::Grey8 ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
        ++begun;
        return true;
    }
    bool addRows(const uchar *first, qsizetype bytesPerLine, int count) override
    {
        for (int i = 0; i < count; ++i, ++rows)
            std::copy(first + i * bytesPerLine, first + i * bytesPerLine + picture.bytesPerLine(),
                      picture.scanLine(rows));
        return true;
    }
    QImage picture;
    int begun = 0;
    int rows = 0;
};

QImage pattern(QSize size, QImage::Format format)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x * 37 % 256, y * 53 % 256, (x * y) % 256));
    return image.convertToFormat(format);
}

} // namespace

// A picture turned a quarter a strip of its columns at a time is the picture turned whole, however
// narrow the strips; each strip is one more read of the file's rows.
TEST(TurnedStripsTest, StripsGiveThePictureTurnedWhole)
{
    struct Case {
        const char *name;
        QImage::Format format;
        qint64 stripBytes;
        int reads; // of the rows, besides the look at the header
    };
    const QSize size(13, 7);
    const Case cases[] = {
        {"a column a strip", QImage::Format_RGB32, 1, 13},
        {"three columns a strip", QImage::Format_RGB32, 3 * 7 * 4, 5},
        {"the whole picture in one strip", QImage::Format_RGB32, 1 << 20, 1},
        {"grey, four columns a strip", QImage::Format_Grayscale8, 4 * 7, 4},
    };
    for (const Case &c : cases) {
        const QImage stored = pattern(size, c.format);
        EXPECT_EQ(TurnedStrips::reads(size, c.format == QImage::Format_Grayscale8 ? 1 : 4, c.stripBytes), c.reads)
            << c.name;
        for (int orientation = 5; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message() << c.name << ", orientation " << orientation);
            Collected whole;
            ASSERT_TRUE(JpegEncoder::sendTurnedRows(stored, orientation, whole));
            int reads = 0;
            Collected strips;
            const bool sent = TurnedStrips::send(
                [&](RowSink &sink) {
                    ++reads;
                    return JpegEncoder::sendTurnedRows(stored, 1, sink);
                },
                orientation, c.stripBytes, strips);
            ASSERT_TRUE(sent);
            EXPECT_EQ(strips.begun, 1);
            EXPECT_EQ(strips.rows, size.width());
            EXPECT_EQ(strips.picture, whole.picture);
            EXPECT_EQ(reads, c.reads + 1);
        }
    }
}
