#include "formats/BMPImageRep.h"
#include "decoding/DecodeReport.h"
#include "decoding/PictureRows.h"
#include "tests/formats/SceneFiles.h"
#include "tests/support/SyntheticPictures.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstring>
#include <functional>
#include <vector>

using namespace syntheticpictures;

namespace {

struct Layout {
    const char *name;
    int bits;        // 1, 4 or 8 (grey palette), 16, 24, 32
    int compression; // 0 none, 1 RLE8, 2 RLE4, 3 bit fields (32 bits: with alpha)
    bool topFirst;
};

// A bitmap of `size` whose rows `rowOf(y, pixels)` gives (greys index the palette), written a row
// at a time through `out`.
void writeBmp(const Layout &l, QSize size, const std::function<void(int, QRgb *)> &rowOf,
              const std::function<void(const QByteArray &)> &out)
{
    const int w = size.width(), h = size.height();
    const bool palette = l.bits <= 8;
    const int entries = palette ? 1 << l.bits : 0;
    const bool fields = l.compression == 3;
    // Bit fields in a version 4 header, with an alpha mask.
    const quint32 headerBytes = 14 + (fields ? 108 : 40) + quint32(entries) * 4;
    const qint64 rowBytes = (qint64(w) * l.bits + 31) / 32 * 4;
    QByteArray head("BM");
    put32(head, l.compression == 1 || l.compression == 2 ? 0 : quint32(headerBytes + rowBytes * h));
    put32(head, 0);
    put32(head, headerBytes);
    put32(head, fields ? 108 : 40);
    put32(head, quint32(w));
    put32(head, quint32(l.topFirst ? -h : h));
    put16(head, 1);
    put16(head, l.bits);
    put32(head, quint32(l.compression));
    for (int i = 0; i < 5; ++i)
        put32(head, 0);
    if (fields) {
        for (quint32 mask : {0x00ff0000u, 0x0000ff00u, 0x000000ffu, 0xff000000u})
            put32(head, mask);
        head += QByteArray("BGRs", 4) + QByteArray(48, '\0');
    }
    for (int i = 0; i < entries; ++i) {
        const int g = i * 255 / (entries - 1);
        head.append(char(g)).append(char(g)).append(char(g)).append('\0');
    }
    out(head);
    std::vector<QRgb> pixels(static_cast<size_t>(w));
    std::vector<int> index(static_cast<size_t>(w));
    QByteArray row;
    for (int stored = 0; stored < h; ++stored) {
        const int y = l.topFirst ? stored : h - 1 - stored;
        rowOf(y, pixels.data());
        const QRgb *p = pixels.data();
        int *in = index.data();
        for (int x = 0; x < w; ++x)
            in[x] = (qGray(p[x]) * (entries - 1) + 127) / 255;
        if (l.compression == 1 || l.compression == 2) {
            // Runs of one index (of two alternating ones in RLE4), a row ended by its escape.
            row.clear();
            for (int x = 0; x < w;) {
                int run = 1;
                while (x + run < w && run < 255 && in[x + run] == in[x])
                    ++run;
                row.append(char(run)).append(char(l.compression == 2 ? (in[x] << 4) | in[x] : in[x]));
                x += run;
            }
            row.append('\0').append(char(stored == h - 1 ? 1 : 0));
        } else {
            row.fill('\0', qsizetype(rowBytes));
            auto *d = reinterpret_cast<uchar *>(row.data());
            for (int x = 0; x < w; ++x) {
                const QRgb c = p[x];
                if (l.bits == 24) {
                    d[3 * x] = uchar(qBlue(c)), d[3 * x + 1] = uchar(qGreen(c)), d[3 * x + 2] = uchar(qRed(c));
                } else if (l.bits == 32) {
                    d[4 * x] = uchar(qBlue(c)), d[4 * x + 1] = uchar(qGreen(c)), d[4 * x + 2] = uchar(qRed(c));
                    d[4 * x + 3] = uchar(qAlpha(c));
                } else if (l.bits == 16) {
                    const int v = ((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3);
                    d[2 * x] = uchar(v), d[2 * x + 1] = uchar(v >> 8);
                } else {
                    d[x * l.bits / 8] |= uchar(in[x] << (8 - l.bits * (1 + x % (8 / l.bits))));
                }
            }
        }
        out(row);
    }
}

QByteArray bmpOf(const Layout &l, const QImage &picture)
{
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    QByteArray data;
    writeBmp(
        l, picture.size(), [&](int y, QRgb *row) { std::memcpy(row, argb.constScanLine(y), size_t(argb.width()) * 4); },
        [&](const QByteArray &bytes) { data += bytes; });
    return data;
}

const Layout layouts[] = {
    {"1 bit", 1, 0, false},    {"4 bits", 4, 0, false},         {"8 bits, top first", 8, 0, true},
    {"16 bits", 16, 0, false}, {"24 bits", 24, 0, false},       {"24 bits, top first", 24, 0, true},
    {"32 bits", 32, 0, false}, {"32 bits, alpha", 32, 3, true}, {"RLE8", 8, 1, false},
    {"RLE4", 4, 2, false},
};

} // namespace

// Every layout reads as Qt's own reader reads the same bytes.
TEST(BMPImageRepTest, LayoutsReadAsQtReadsThem)
{
    QImage picture(37, 23, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgba((x * 7) % 256, (y * 11) % 256, (x / 4) * 30 % 256, x < 8 ? 128 : 255));
    for (const Layout &l : layouts) {
        SCOPED_TRACE(l.name);
        const QByteArray bmp = bmpOf(l, l.compression == 3 ? picture : picture.convertToFormat(QImage::Format_RGB32));
        const QImage qt = QImage::fromData(bmp, "BMP");
        ASSERT_FALSE(qt.isNull());
        const DecodeReport::Scope report;
        const QImage ours = BMPImageRep::initWithData(bmp);
        ASSERT_EQ(ours.size(), picture.size());
        EXPECT_EQ(ours.hasAlphaChannel(), l.compression == 3);
        // Qt widens 5-bit levels by a shift, this reader to the whole range.
        if (l.bits == 16) {
            EXPECT_LT(meanDifference(ours, qt), 5.0);
        } else {
            EXPECT_EQ(ours.convertToFormat(QImage::Format_ARGB32), qt.convertToFormat(QImage::Format_ARGB32));
        }
        EXPECT_TRUE(report.damage().isEmpty());
        // A thumbnail is the picture averaged as it is read, as the whole picture is averaged.
        const QImage thumbnail = BMPImageRep::initWithData(bmp, QSize(12, 12));
        ASSERT_EQ(thumbnail.size(), QSize(12, 7));
        EXPECT_LT(meanDifference(thumbnail, PictureRows::reduced(ours, thumbnail.size())), 1.0);
    }
}

// A file cut short keeps the rows stored before the cut (the bottom ones of a picture stored bottom
// first), the rest grey, and says so; the thumbnail likewise.
TEST(BMPImageRepTest, ACutFileKeepsTheRowsBeforeTheCut)
{
    const QImage picture = rowsPicture(QSize(160, 120));
    for (const Layout &l : {layouts[4], layouts[5], layouts[8]}) {
        SCOPED_TRACE(l.name);
        const QByteArray whole = bmpOf(l, picture);
        const QImage reference = BMPImageRep::initWithData(whole);
        const QByteArray cut = whole.left(whole.size() / 2);
        {
            const DecodeReport::Scope report;
            const QImage image = BMPImageRep::initWithData(cut);
            ASSERT_EQ(image.size(), picture.size());
            const int kept = rowsKept(image, reference);
            EXPECT_GE(kept, 40);
            EXPECT_LT(kept, 120);
            const int first = l.topFirst ? 0 : 119, last = l.topFirst ? 119 : 0;
            EXPECT_EQ(image.pixel(3, first), reference.pixel(3, first));
            EXPECT_EQ(image.pixel(3, last), qRgb(128, 128, 128));
            EXPECT_EQ(report.damage(), QStringLiteral("the data ends early"));
        }
        const DecodeReport::Scope report;
        const QImage thumbnail = BMPImageRep::initWithData(cut, QSize(64, 64));
        ASSERT_EQ(thumbnail.size(), QSize(64, 48));
        EXPECT_EQ(thumbnail.pixel(30, l.topFirst ? 47 : 0), qRgb(128, 128, 128));
        EXPECT_EQ(report.damage(), QStringLiteral("the data ends early"));
    }
}

// Large bitmaps of every kind get their thumbnails from a thumbnail decoder: 81 megapixels in 24
// and 32 bits, with a palette, run-length encoded, stored either way round.
TEST(BMPImageRepTest, LargeBitmapsGetTheirThumbnailsWithinTheThumbnailDecodersLimit)
{
    QTemporaryDir dir;
    const struct {
        Layout layout;
        QSize size;
    } cases[] = {
        {{"24 bits", 24, 0, false}, {11000, 7400}}, {{"32 bits, top first", 32, 0, true}, {11000, 7400}},
        {{"8 bits", 8, 0, false}, {11000, 7400}},   {{"RLE8", 8, 1, false}, {11000, 7400}},
        {{"RLE4", 4, 2, true}, {7400, 11000}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.layout.name);
        const QString path = dir.filePath(QStringLiteral("large.bmp"));
        {
            const scenefiles::Scene scene(c.size);
            scenefiles::Writer file(path);
            writeBmp(
                c.layout, c.size, [&](int y, QRgb *row) { scene.pixels(y, c.layout.bits <= 8, row); },
                [&](const QByteArray &bytes) { file.write(bytes); });
        }
        // Sixteen greys are as far as 8 levels from the scene's.
        scenefiles::expectThumbnailOfScene(path, c.size, c.layout.bits <= 8, false, c.layout.bits == 4 ? 6.0 : 3.0);
    }
}
