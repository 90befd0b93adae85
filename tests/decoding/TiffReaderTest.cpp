#include "decoding/DecodeMemoryBudget.h"
#include "decoding/ImageFileReader.h"
#include "decoding/TiffReader.h"
#include "tests/support/SyntheticPictures.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <tiffio.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace {

struct Layout {
    const char *name;
    quint16 photometric;
    quint16 bits;
    quint16 samples; // with the alpha sample, when there is one
    quint16 compression;
    quint32 rowsPerStrip; // 0: 32 × 32 tiles
};

// Four quadrants of distinct colours (greys for grey layouts), the right half half-transparent
// where the layout has alpha.
QRgb scene(const Layout &layout, int x, int y, QSize size)
{
    const int quadrant = (x >= size.width() / 2 ? 1 : 0) + (y >= size.height() / 2 ? 2 : 0);
    const bool grey = layout.photometric == PHOTOMETRIC_MINISBLACK || layout.photometric == PHOTOMETRIC_MINISWHITE;
    static const QRgb colours[4] = {qRgb(220, 30, 30), qRgb(30, 200, 40), qRgb(20, 40, 210), qRgb(240, 240, 240)};
    static const QRgb greys[4] = {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(0, 0, 0)};
    const QRgb c = grey ? greys[quadrant] : colours[quadrant];
    const bool alpha = layout.photometric == PHOTOMETRIC_RGB && layout.samples == 4;
    return qRgba(qRed(c), qGreen(c), qBlue(c), alpha && x >= size.width() / 2 ? 128 : 255);
}

void putSample(std::vector<uchar> &row, int index, int bits, int value8)
{
    if (bits == 8) {
        row[size_t(index)] = uchar(value8);
    } else if (bits == 16) {
        reinterpret_cast<quint16 *>(row.data())[index] = quint16(value8 * 257);
    } else {
        if (value8 >= 128)
            row[size_t(index / 8)] |= uchar(0x80 >> (index % 8));
    }
}

std::vector<uchar> encodeRow(const Layout &l, int y, QSize size, const std::function<QRgb(int, int)> &pixel)
{
    std::vector<uchar> row(size_t((qint64(size.width()) * l.samples * l.bits + 7) / 8), 0);
    for (int x = 0; x < size.width(); ++x) {
        const QRgb c = pixel(x, y);
        const int base = x * l.samples;
        switch (l.photometric) {
        case PHOTOMETRIC_RGB:
            putSample(row, base, l.bits, qRed(c));
            putSample(row, base + 1, l.bits, qGreen(c));
            putSample(row, base + 2, l.bits, qBlue(c));
            if (l.samples == 4)
                putSample(row, base + 3, l.bits, qAlpha(c));
            break;
        case PHOTOMETRIC_MINISBLACK:
            putSample(row, base, l.bits, qGray(c));
            break;
        case PHOTOMETRIC_MINISWHITE:
            putSample(row, base, l.bits, 255 - qGray(c));
            break;
        case PHOTOMETRIC_PALETTE:
            putSample(row, base, l.bits,
                      c == qRgb(220, 30, 30)   ? 0
                      : c == qRgb(30, 200, 40) ? 1
                      : c == qRgb(20, 40, 210) ? 2
                                               : 3);
            break;
        case PHOTOMETRIC_SEPARATED:
            putSample(row, base, l.bits, 255 - qRed(c));
            putSample(row, base + 1, l.bits, 255 - qGreen(c));
            putSample(row, base + 2, l.bits, 255 - qBlue(c));
            putSample(row, base + 3, l.bits, 0);
            break;
        }
    }
    return row;
}

void writeDirectory(TIFF *tiff, const Layout &l, QSize size, const std::function<QRgb(int, int)> &pixel, bool reduced)
{
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, reduced ? FILETYPE_REDUCEDIMAGE : 0);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(size.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(size.height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, l.samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, l.compression);
    if (l.photometric == PHOTOMETRIC_RGB && l.samples == 4) {
        const quint16 extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (l.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<quint16> r(256, 0), g(256, 0), b(256, 0);
        const QRgb colours[4] = {qRgb(220, 30, 30), qRgb(30, 200, 40), qRgb(20, 40, 210), qRgb(240, 240, 240)};
        for (int i = 0; i < 4; ++i)
            r[size_t(i)] = quint16(qRed(colours[i]) * 257), g[size_t(i)] = quint16(qGreen(colours[i]) * 257),
            b[size_t(i)] = quint16(qBlue(colours[i]) * 257);
        TIFFSetField(tiff, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    if (l.rowsPerStrip > 0) {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
        for (int y = 0; y < size.height(); ++y) {
            std::vector<uchar> row = encodeRow(l, y, size, pixel);
            ASSERT_GE(TIFFWriteScanline(tiff, row.data(), quint32(y), 0), 0);
        }
    } else {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 32);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 32);
        const size_t rowBytes = size_t(32) * l.samples * l.bits / 8;
        for (int ty = 0; ty < size.height(); ty += 32)
            for (int tx = 0; tx < size.width(); tx += 32) {
                std::vector<uchar> tile(rowBytes * 32, 0);
                for (int y = ty; y < std::min(ty + 32, size.height()); ++y) {
                    const std::vector<uchar> row = encodeRow(l, y, size, pixel);
                    const size_t from = size_t(tx) * l.samples * l.bits / 8;
                    std::copy_n(row.begin() + qsizetype(from), std::min(rowBytes, row.size() - from),
                                tile.begin() + qsizetype(size_t(y - ty) * rowBytes));
                }
                ASSERT_GE(TIFFWriteTile(tiff, tile.data(), quint32(tx), quint32(ty), 0, 0), 0);
            }
    }
    TIFFWriteDirectory(tiff);
}

} // namespace

// Each layout read reduced matches the picture scaled by Qt; a reduced-resolution image of the
// same picture is taken instead of the full one, a further page is not.
TEST(TiffReaderTest, LayoutsReadReducedMatchTheScaledPicture)
{
    const Layout layouts[] = {
        {"rgb strips", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_NONE, 7},
        {"rgba one deflated strip", PHOTOMETRIC_RGB, 8, 4, COMPRESSION_ADOBE_DEFLATE, 200},
        {"grey 16-bit lzw", PHOTOMETRIC_MINISBLACK, 16, 1, COMPRESSION_LZW, 16},
        {"bilevel min-is-white", PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_NONE, 50},
        {"palette", PHOTOMETRIC_PALETTE, 8, 1, COMPRESSION_LZW, 10},
        {"rgb tiles", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_ADOBE_DEFLATE, 0},
        {"cmyk strips", PHOTOMETRIC_SEPARATED, 8, 4, COMPRESSION_NONE, 8},
    };
    const QSize size(300, 200);
    const QSize box(64, 64);
    QTemporaryDir dir;
    for (const Layout &l : layouts) {
        SCOPED_TRACE(l.name);
        const QString path = dir.filePath(QStringLiteral("%1.tif").arg(QLatin1String(l.name)));
        {
            TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
            ASSERT_TRUE(tiff);
            writeDirectory(
                tiff, l, size, [&](int x, int y) { return scene(l, x, y, size); }, false);
            TIFFClose(tiff);
        }
        QImage reference(size, QImage::Format_ARGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                reference.setPixel(x, y, scene(l, x, y, size));
        const QSize target = ImageFileReader::fittedSize(size, box);
        const QImage reduced = TiffReader::readReduced(path, box);
        ASSERT_FALSE(reduced.isNull());
        // Whole blocks of 4: no smaller than the target.
        EXPECT_EQ(reduced.size(), QSize(75, 50));
        const QImage read = ImageFileReader::read(path, box);
        ASSERT_EQ(read.size(), target);
        EXPECT_LT(syntheticpictures::meanDifference(
                      read, reference.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
                  6.0);
    }

    // A picture with a reduced image of itself (green, to tell) and a second page (blue).
    const Layout rgb = layouts[0];
    const QString pyramid = dir.filePath(QStringLiteral("pyramid.tif"));
    TIFF *tiff = TIFFOpen(QFile::encodeName(pyramid).constData(), "w");
    ASSERT_TRUE(tiff);
    writeDirectory(
        tiff, rgb, size, [&](int x, int y) { return scene(rgb, x, y, size); }, false);
    writeDirectory(
        tiff, rgb, QSize(90, 60), [](int, int) { return qRgb(0, 255, 0); }, false);
    writeDirectory(
        tiff, rgb, QSize(150, 100), [](int, int) { return qRgb(0, 0, 255); }, true);
    writeDirectory(
        tiff, rgb, QSize(30, 20), [](int, int) { return qRgb(255, 0, 255); }, true);
    TIFFClose(tiff);
    const QImage fromReduced = TiffReader::readReduced(pyramid, box);
    EXPECT_EQ(fromReduced.size(), QSize(75, 50));
    EXPECT_EQ(fromReduced.pixel(30, 30), qRgb(0, 0, 255));
    // Too small to cover the box: the picture itself.
    EXPECT_EQ(TiffReader::readReduced(pyramid, QSize(160, 160)).pixel(0, 0), qRgb(220, 30, 30));
    // No larger than the box: nothing to reduce.
    EXPECT_TRUE(TiffReader::readReduced(pyramid, QSize(400, 400)).isNull());
}

// Reservations wait while others hold the budget, in the order asked; one larger than the whole
// budget runs alone.
TEST(TiffReaderTest, DecodeBudgetWaitsInTurnAndRunsAnOversizedDecodeAlone)
{
    DecodeMemoryBudget budget(100);
    auto first = budget.reserve(60);
    std::atomic<int> order{0};
    int bigAt = 0, smallAt = 0;
    std::thread big([&] {
        auto r = budget.reserve(500);
        bigAt = ++order;
        EXPECT_EQ(r.bytes(), 100);
        EXPECT_EQ(budget.inUse(), 100);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::thread small([&] {
        auto r = budget.reserve(10);
        smallAt = ++order;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(order.load(), 0);
    EXPECT_EQ(budget.inUse(), 60);
    first.release();
    big.join();
    small.join();
    EXPECT_EQ(bigAt, 1);
    EXPECT_EQ(smallAt, 2);
    EXPECT_EQ(budget.inUse(), 0);
}
