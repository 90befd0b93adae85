#include "decoding/ColourTransform.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "decoding/TiffReader.h"
#include "tests/support/ColourFiles.h"
#include "tests/support/SyntheticPictures.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <tiffio.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
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
        // Inks without a profile of their own go through the system's standard one, where there is one.
        if (const QByteArray standard = ColourTransform::standardCmykProfile();
            l.photometric == PHOTOMETRIC_SEPARATED && !standard.isEmpty()) {
            std::map<QRgb, QRgb> through;
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x) {
                    const QRgb c = reference.pixel(x, y);
                    if (!through.count(c))
                        through[c] =
                            colourfiles::inksThrough(standard, 255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c), 0);
                    reference.setPixel(x, y, through[c]);
                }
        }
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
    // Each waits in line before the next comes.
    const auto untilWaiting = [&budget](quint64 count) {
        while (budget.waiting() < count)
            std::this_thread::yield();
    };
    untilWaiting(1);
    std::thread small([&] {
        auto r = budget.reserve(10);
        smallAt = ++order;
    });
    untilWaiting(2);
    EXPECT_EQ(order.load(), 0);
    EXPECT_EQ(budget.inUse(), 60);
    first.release();
    big.join();
    small.join();
    EXPECT_EQ(bigAt, 1);
    EXPECT_EQ(smallAt, 2);
    EXPECT_EQ(budget.inUse(), 0);
}

namespace {

struct InkLayout {
    const char *name;
    quint16 photometric;
    quint16 bits;
    quint16 colours; // samples of colour: 1 grey, 3 RGB, 4 CMYK, 5 for five inks
    bool alpha;      // an unassociated alpha sample after them
    quint16 planar;
    quint32 rowsPerStrip; // 0: 16 × 16 tiles
};

// The scene of the layouts below: red above, blue below, the right half half-transparent where
// the layout has alpha; greys for a grey layout.
QRgb inkScene(const InkLayout &l, int x, int y)
{
    const QRgb c = l.colours == 1 ? (y < 8 ? qRgb(200, 200, 200) : qRgb(40, 40, 40))
                                  : (y < 8 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    return qRgba(qRed(c), qGreen(c), qBlue(c), l.alpha && x >= 12 ? 128 : 255);
}

// The samples of one pixel, 0 to 255, as the layout stores them.
std::vector<int> inkSamples(const InkLayout &l, QRgb c)
{
    std::vector<int> s;
    if (l.colours == 1)
        s = {qGray(c)};
    else if (l.colours == 3)
        s = {qRed(c), qGreen(c), qBlue(c)};
    else
        s = {255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c), 0};
    s.resize(l.colours, 0);
    if (l.alpha)
        s.push_back(qAlpha(c));
    return s;
}

void writeInkTiff(const QString &path, const InkLayout &l, QSize size)
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_TRUE(tiff);
    const quint16 samples = quint16(l.colours + (l.alpha ? 1 : 0));
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(size.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(size.height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, l.planar);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (l.photometric == PHOTOMETRIC_SEPARATED && l.colours != 4) {
        TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_MULTIINK);
        TIFFSetField(tiff, TIFFTAG_NUMBEROFINKS, l.colours);
    }
    if (l.alpha) {
        const quint16 extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    const int planes = l.planar == PLANARCONFIG_SEPARATE ? samples : 1;
    const int perPlane = l.planar == PLANARCONFIG_SEPARATE ? 1 : samples;
    const int bytes = l.bits / 8;
    // The samples of rows [top, top + rows) and columns [left, left + columns) of one plane.
    auto area = [&](int plane, int left, int top, int columns, int rows) {
        std::vector<uchar> out(size_t(columns) * size_t(rows) * size_t(perPlane * bytes), 0);
        for (int y = top; y < std::min(top + rows, size.height()); ++y)
            for (int x = left; x < std::min(left + columns, size.width()); ++x) {
                const std::vector<int> s = inkSamples(l, inkScene(l, x, y));
                for (int i = 0; i < perPlane; ++i) {
                    const int value = s[size_t(planes > 1 ? plane : i)];
                    const size_t at =
                        (size_t(y - top) * size_t(columns) + size_t(x - left)) * size_t(perPlane) + size_t(i);
                    if (bytes == 1)
                        out[at] = uchar(value);
                    else
                        reinterpret_cast<quint16 *>(out.data())[at] = quint16(value * 257);
                }
            }
        return out;
    };
    if (l.rowsPerStrip > 0) {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
        for (int plane = 0; plane < planes; ++plane)
            for (int y = 0; y < size.height(); ++y) {
                std::vector<uchar> row = area(plane, 0, y, size.width(), 1);
                ASSERT_GE(TIFFWriteScanline(tiff, row.data(), quint32(y), quint16(plane)), 0);
            }
    } else {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
        for (int plane = 0; plane < planes; ++plane)
            for (int ty = 0; ty < size.height(); ty += 16)
                for (int tx = 0; tx < size.width(); tx += 16) {
                    std::vector<uchar> tile = area(plane, tx, ty, 16, 16);
                    ASSERT_GE(TIFFWriteTile(tiff, tile.data(), quint32(tx), quint32(ty), 0, quint16(plane)), 0);
                }
    }
    TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
}

} // namespace

// Layouts Qt's TIFF reader refuses or misreads (inks, in 16 bits too, with alpha, samples in
// separate planes) read as they are, at their own size and as thumbnails, CMYK turned into RGB
// (through the standard CMYK profile: these embed none);
// a file of five inks, which nothing here reads, is said to be of a kind the program does not
// read, never damaged.
TEST(TiffReaderTest, EveryLayoutReadsAsItIsOrIsNamedAsOneNotRead)
{
    const InkLayout layouts[] = {
        {"cmyk 8", PHOTOMETRIC_SEPARATED, 8, 4, false, PLANARCONFIG_CONTIG, 4},
        {"cmyk 16", PHOTOMETRIC_SEPARATED, 16, 4, false, PLANARCONFIG_CONTIG, 4},
        {"cmyk 16 tiles", PHOTOMETRIC_SEPARATED, 16, 4, false, PLANARCONFIG_CONTIG, 0},
        {"cmyk 16 with alpha", PHOTOMETRIC_SEPARATED, 16, 4, true, PLANARCONFIG_CONTIG, 3},
        {"cmyk 8 planes", PHOTOMETRIC_SEPARATED, 8, 4, false, PLANARCONFIG_SEPARATE, 5},
        {"rgb 16 with alpha", PHOTOMETRIC_RGB, 16, 3, true, PLANARCONFIG_CONTIG, 4},
        {"rgb 16 with alpha planes", PHOTOMETRIC_RGB, 16, 3, true, PLANARCONFIG_SEPARATE, 4},
        {"rgb 8 planes", PHOTOMETRIC_RGB, 8, 3, false, PLANARCONFIG_SEPARATE, 16},
        {"grey 16 with alpha", PHOTOMETRIC_MINISBLACK, 16, 1, true, PLANARCONFIG_CONTIG, 2},
        {"grey 8 with alpha", PHOTOMETRIC_MINISBLACK, 8, 1, true, PLANARCONFIG_CONTIG, 16},
        {"rgb 8 with alpha tiles", PHOTOMETRIC_RGB, 8, 3, true, PLANARCONFIG_CONTIG, 0},
    };
    const QSize size(24, 16);
    const QByteArray standard = ColourTransform::standardCmykProfile();
    QTemporaryDir dir;
    for (const InkLayout &l : layouts) {
        SCOPED_TRACE(l.name);
        const QString path = dir.filePath(QStringLiteral("%1.tif").arg(QLatin1String(l.name)));
        writeInkTiff(path, l, size);
        for (const QSize box : {QSize(), QSize(12, 12)}) {
            const DecodeReport::Scope report;
            ImageFileReader::Facts facts;
            const QImage image = ImageFileReader::read(path, box, &facts);
            ASSERT_FALSE(image.isNull()) << box.width();
            EXPECT_EQ(facts.size, size);
            EXPECT_EQ(image.size(), box.isValid() ? QSize(12, 8) : size);
            EXPECT_TRUE(report.damage().isEmpty());
            EXPECT_TRUE(report.unsupported().isEmpty());
            const double sx = image.width() / 24.0, sy = image.height() / 16.0;
            for (const QPoint p : {QPoint(2, 2), QPoint(2, 13), QPoint(21, 2), QPoint(21, 13)}) {
                QRgb want = inkScene(l, p.x(), p.y());
                // Inks without a profile go through the system's standard one, where it is installed.
                if (l.photometric == PHOTOMETRIC_SEPARATED && !standard.isEmpty()) {
                    const std::vector<int> s = inkSamples(l, want);
                    const QRgb c = colourfiles::inksThrough(standard, s[0], s[1], s[2], s[3]);
                    want = qRgba(qRed(c), qGreen(c), qBlue(c), qAlpha(want));
                }
                const QRgb got = qUnpremultiply(
                    image.convertToFormat(QImage::Format_ARGB32_Premultiplied).pixel(int(p.x() * sx), int(p.y() * sy)));
                EXPECT_LE(std::abs(qRed(got) - qRed(want)) + std::abs(qGreen(got) - qGreen(want))
                              + std::abs(qBlue(got) - qBlue(want)),
                          12)
                    << p.x() << "," << p.y() << " " << std::hex << got << " for " << want;
                EXPECT_LE(std::abs(qAlpha(got) - qAlpha(want)), 2) << p.x() << "," << p.y();
            }
        }
    }

    const InkLayout fiveInks{"five inks", PHOTOMETRIC_SEPARATED, 8, 5, false, PLANARCONFIG_CONTIG, 4};
    const QString path = dir.filePath(QStringLiteral("five inks.tif"));
    writeInkTiff(path, fiveInks, size);
    for (const QSize box : {QSize(), QSize(12, 12)}) {
        const DecodeReport::Scope report;
        ImageFileReader::Facts facts;
        EXPECT_TRUE(ImageFileReader::read(path, box, &facts).isNull());
        EXPECT_EQ(facts.refusal, ImageFileReader::Facts::Refusal::None);
        EXPECT_TRUE(report.damage().isEmpty()) << report.damage().toStdString();
        EXPECT_EQ(report.unsupported(), QStringLiteral("a TIFF of 8-bit ink samples"));
    }
}

namespace {

struct ColourLayout {
    std::string name;
    colourfiles::TiffLayout layout;
    // The samples as stored of the top half and of the bottom half (an alpha sample last, where
    // the layout has one, is added: opaque on the left, half on the right).
    std::vector<double> top;
    std::vector<double> bottom;
    QRgb wantTop;
    QRgb wantBottom;
    const char *space;
};

colourfiles::TiffLayout inks(quint16 bits, bool alpha, quint16 planar, quint32 rowsPerStrip, const QByteArray &icc)
{
    colourfiles::TiffLayout l;
    l.photometric = PHOTOMETRIC_SEPARATED;
    l.bits = bits;
    l.colours = 4;
    l.alpha = alpha;
    l.planar = planar;
    l.rowsPerStrip = rowsPerStrip;
    l.icc = icc;
    return l;
}

colourfiles::TiffLayout samplesOf(quint16 photometric, quint16 bits, quint16 colours,
                                  quint16 format = SAMPLEFORMAT_UINT, bool alpha = false,
                                  quint16 planar = PLANARCONFIG_CONTIG, quint32 rowsPerStrip = 8)
{
    colourfiles::TiffLayout l;
    l.photometric = photometric;
    l.bits = bits;
    l.colours = colours;
    l.format = format;
    l.alpha = alpha;
    l.planar = planar;
    l.rowsPerStrip = rowsPerStrip;
    return l;
}

std::vector<double> scaled(std::vector<double> samples, double factor)
{
    for (double &s : samples)
        s *= factor;
    return samples;
}

} // namespace

// Inks, Lab and floating-point samples read in their own colours, at their own size and as
// thumbnails: CMYK interleaved or in separate planes, 8 or 16 bits, with or without alpha, in
// strips or tiles, through the profile the file embeds; CIELab (a* and b* signed) and ICC's Lab
// (offset); floating-point RGB and grey as linear light, in sRGB and clipped. The colour as stored
// is noted to the thread's report.
TEST(TiffReaderTest, InksLabAndFloatingPointReadInTheirOwnColours)
{
    const QByteArray profile = colourfiles::systemProfile("ps_cmyk.icc");
    const std::vector<double> cyan{255, 0, 0, 0}, red{0, 255, 255, 0};
    const QRgb cyanWant = colourfiles::inksThrough(profile, 255, 0, 0, 0);
    const QRgb redWant = colourfiles::inksThrough(profile, 0, 255, 255, 0);
    // sRGB's blue and red in ICC's D50 Lab.
    const std::vector<double> blueLab{29.57, 68.30, -112.03}, redLab{54.29, 80.80, 69.89};
    auto cieLab8 = [](std::vector<double> lab) { return std::vector<double>{lab[0] * 255 / 100, lab[1], lab[2]}; };
    auto cieLab16 = [](std::vector<double> lab) {
        return std::vector<double>{lab[0] * 65535 / 100, lab[1] * 256, lab[2] * 256};
    };
    auto iccLab8 = [](std::vector<double> lab) {
        return std::vector<double>{lab[0] * 255 / 100, lab[1] + 128, lab[2] + 128};
    };
    std::vector<ColourLayout> layouts = {
        {"cielab 8", samplesOf(PHOTOMETRIC_CIELAB, 8, 3), cieLab8(blueLab), cieLab8(redLab), qRgb(0, 0, 255),
         qRgb(255, 0, 0), "Lab"},
        {"cielab 16 tiles", samplesOf(PHOTOMETRIC_CIELAB, 16, 3, SAMPLEFORMAT_UINT, false, PLANARCONFIG_CONTIG, 0),
         cieLab16(blueLab), cieLab16(redLab), qRgb(0, 0, 255), qRgb(255, 0, 0), "Lab"},
        {"icclab 8 planes with alpha",
         samplesOf(PHOTOMETRIC_ICCLAB, 8, 3, SAMPLEFORMAT_UINT, true, PLANARCONFIG_SEPARATE, 5), iccLab8(blueLab),
         iccLab8(redLab), qRgb(0, 0, 255), qRgb(255, 0, 0), "Lab"},
        {"float rgb",
         samplesOf(PHOTOMETRIC_RGB, 32, 3, SAMPLEFORMAT_IEEEFP),
         {0.5, 2.0, -1.0},
         {0.01, 0.214, 1.0},
         qRgb(188, 255, 0),
         qRgb(25, 128, 255),
         "RGB"},
        {"float rgb planes tiles with alpha",
         samplesOf(PHOTOMETRIC_RGB, 32, 3, SAMPLEFORMAT_IEEEFP, true, PLANARCONFIG_SEPARATE, 0),
         {0.5, 2.0, -1.0},
         {0.01, 0.214, 1.0},
         qRgb(188, 255, 0),
         qRgb(25, 128, 255),
         "RGB"},
        {"float grey",
         samplesOf(PHOTOMETRIC_MINISBLACK, 32, 1, SAMPLEFORMAT_IEEEFP),
         {0.5},
         {0.0},
         qRgb(188, 188, 188),
         qRgb(0, 0, 0),
         "grey"},
    };
    if (!profile.isEmpty()) {
        for (const quint16 planar : {PLANARCONFIG_SEPARATE, PLANARCONFIG_CONTIG})
            for (const quint16 bits : {8, 16})
                for (const bool alpha : {false, true})
                    for (const quint32 rows : {5u, 0u}) {
                        // Interleaved samples in one layout of each depth, strips and tiles.
                        if (planar == PLANARCONFIG_CONTIG && alpha != (rows == 0))
                            continue;
                        const std::string name = std::string("cmyk ") + std::to_string(bits)
                                                 + (planar == PLANARCONFIG_SEPARATE ? " planes" : "")
                                                 + (alpha ? " with alpha" : "") + (rows ? " strips" : " tiles");
                        const double unit = bits == 16 ? 257 : 1;
                        layouts.push_back({name, inks(quint16(bits), alpha, planar, rows, profile), scaled(cyan, unit),
                                           scaled(red, unit), cyanWant, redWant, "CMYK"});
                    }
    }
    const QSize size(32, 32);
    QTemporaryDir dir;
    for (const ColourLayout &c : layouts) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromStdString(c.name) + QStringLiteral(".tif"));
        const double opaque = c.layout.format == SAMPLEFORMAT_IEEEFP ? 1.0 : c.layout.bits == 16 ? 65535 : 255;
        ASSERT_TRUE(colourfiles::writeTiff(path, c.layout, size, [&](int x, int y) {
            std::vector<double> s = y < 16 ? c.top : c.bottom;
            if (c.layout.alpha)
                s.push_back(x < 16 ? opaque : opaque * 128 / 255);
            return s;
        }));
        for (const QSize box : {QSize(), QSize(16, 16)}) {
            const DecodeReport::Scope report;
            ImageFileReader::Facts facts;
            const QImage image = ImageFileReader::read(path, box, &facts);
            ASSERT_FALSE(image.isNull()) << box.width();
            EXPECT_EQ(facts.size, size);
            EXPECT_TRUE(report.damage().isEmpty());
            EXPECT_EQ(report.colourSpace(), QLatin1String(c.space));
            EXPECT_EQ(report.colourProfile(), c.layout.icc);
            const double scale = image.width() / 32.0;
            const auto at = [&](int x, int y) {
                return qUnpremultiply(
                    image.convertToFormat(QImage::Format_ARGB32_Premultiplied).pixel(int(x * scale), int(y * scale)));
            };
            // (Lab in 8 bits holds sRGB's primaries to a few levels.)
            EXPECT_LE(colourfiles::distance(at(4, 4), c.wantTop), 12) << std::hex << at(4, 4) << " for " << c.wantTop;
            EXPECT_LE(colourfiles::distance(at(4, 28), c.wantBottom), 12)
                << std::hex << at(4, 28) << " for " << c.wantBottom;
            EXPECT_EQ(qAlpha(at(28, 28)), c.layout.alpha ? 128 : 255);
            if (c.layout.alpha) {
                EXPECT_LE(colourfiles::distance(at(28, 28), c.wantBottom), 12) << std::hex << at(28, 28);
            }
        }
    }
}
