#include "decoding/DecodeReport.h"
#include "decoding/PngReader.h"
#include "decoding/RowSink.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <zlib.h>

#include <functional>
#include <vector>

// The PNG reader reads a small picture's rows in one piece and every other through libpng's rows.
// Both roads must give the same pixels, sizes and reasons for every layout PNG has, whole, reduced
// and streamed; these tests write each layout with every row filter and compare the two.

namespace {

// A PNG file written sample by sample, so that every colour type, depth, filter and chunk order
// can be made (Qt writes only a few of them).
struct PngFile {
    int width = 13;
    int height = 9;
    int colour = 2; // PNG colour type
    int depth = 8;
    QByteArray palette;      // PLTE's bytes
    QByteArray transparency; // tRNS's bytes
    QByteArray before;       // whole chunks written before the data
    int pieces = 3;          // IDAT chunks the data is split into

    int channels() const { return colour == 6 ? 4 : colour == 2 ? 3 : colour == 4 ? 2 : 1; }
    int rowBytes() const { return (width * channels() * depth + 7) / 8; }

    // The sample at (x, y, channel) within the depth: varied, with runs that the filters change;
    // 16-bit ones spread over the whole range, where scaling to 8 bits rounds each way.
    int sample(int x, int y, int c) const
    {
        const int max = (1 << depth) - 1;
        const int value = x * 37 + y * 91 + c * 53 + (x * y) % 7 * 1000;
        return depth == 16 ? int(quint32(value) * 9973u % 65536u) : value % (max + 1);
    }

    // The filtered rows: row y with filter y % 5, each filter as the format defines it.
    QByteArray filteredRows() const
    {
        const int bytes = rowBytes();
        const int step = std::max(1, channels() * depth / 8);
        std::vector<uchar> raw(size_t(bytes) * size_t(height), 0);
        for (int y = 0; y < height; ++y) {
            uchar *row = raw.data() + size_t(y) * size_t(bytes);
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < channels(); ++c) {
                    const int value = sample(x, y, c);
                    const int bit = (x * channels() + c) * depth;
                    if (depth == 16) {
                        row[bit / 8] = uchar(value >> 8);
                        row[bit / 8 + 1] = uchar(value);
                    } else {
                        row[bit / 8] |= uchar(value << (8 - depth - bit % 8));
                    }
                }
        }
        QByteArray out;
        for (int y = 0; y < height; ++y) {
            const uchar *row = raw.data() + size_t(y) * size_t(bytes);
            const uchar *above = y > 0 ? row - bytes : nullptr;
            const int filter = y % 5;
            out.append(char(filter));
            for (int i = 0; i < bytes; ++i) {
                const int a = i >= step ? row[i - step] : 0, b = above ? above[i] : 0,
                          c = above && i >= step ? above[i - step] : 0;
                int predicted = 0;
                if (filter == 1)
                    predicted = a;
                else if (filter == 2)
                    predicted = b;
                else if (filter == 3)
                    predicted = (a + b) / 2;
                else if (filter == 4) {
                    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                    predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                }
                out.append(char(uchar(row[i] - predicted)));
            }
        }
        return out;
    }

    static QByteArray chunk(const char *type, const QByteArray &data)
    {
        QByteArray out(4, '\0');
        qToBigEndian<quint32>(quint32(data.size()), out.data());
        const QByteArray body = QByteArray(type, 4) + data;
        out += body;
        QByteArray sum(4, '\0');
        qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))),
                              sum.data());
        return out + sum;
    }

    QByteArray bytes() const
    {
        QByteArray header(13, '\0');
        qToBigEndian<quint32>(quint32(width), header.data());
        qToBigEndian<quint32>(quint32(height), header.data() + 4);
        header[8] = char(depth);
        header[9] = char(colour);
        QByteArray out("\x89PNG\r\n\x1a\n", 8);
        out += chunk("IHDR", header) + before;
        if (!palette.isEmpty())
            out += chunk("PLTE", palette);
        if (!transparency.isEmpty())
            out += chunk("tRNS", transparency);
        const QByteArray rows = filteredRows();
        QByteArray compressed(int(compressBound(uLong(rows.size()))), '\0');
        uLongf length = uLongf(compressed.size());
        compress2(reinterpret_cast<Bytef *>(compressed.data()), &length,
                  reinterpret_cast<const Bytef *>(rows.constData()), uLong(rows.size()), 9);
        compressed.resize(qsizetype(length));
        const qsizetype piece = (compressed.size() + pieces - 1) / pieces;
        for (qsizetype at = 0; at < compressed.size(); at += piece)
            out += chunk("IDAT", compressed.mid(at, piece));
        return out + chunk("tEXt", QByteArray("Comment\0after", 13)) + chunk("IEND", {});
    }
};

QByteArray bigEndian16(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values) {
        out.append(char(v >> 8));
        out.append(char(v));
    }
    return out;
}

QString written(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() ? path : QString();
}

// Collects a streamed picture's rows.
class CollectingSink : public RowSink
{
public:
    QImage image;
    int next = 0;

    bool begin(QSize size, Pixels pixels) override
    {
        image = QImage(size, pixels == Pixels::Rgb32 ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
        return true;
    }
    bool addRows(const uchar *first, qsizetype bytesPerLine, int count) override
    {
        for (int i = 0; i < count && next < image.height(); ++i, ++next)
            std::memcpy(image.scanLine(next), first + i * bytesPerLine, size_t(image.bytesPerLine()));
        return true;
    }
};

// What one road made of a file: the picture whole, reduced and streamed, and the damage said.
struct Reading {
    QImage whole, reduced, streamed;
    PngReader::Streamed streamedHow = PngReader::Streamed::Failed;
    QString damage;
};

Reading readThrough(const QString &path, PngReader::Road road)
{
    Reading reading;
    const DecodeReport::Scope report;
    reading.whole = PngReader::read(path, QSize(), road).image;
    reading.reduced = PngReader::read(path, QSize(5, 5), road).image;
    CollectingSink sink;
    reading.streamedHow = PngReader::stream(path, sink, road);
    reading.streamed = sink.image;
    reading.damage = report.damage();
    return reading;
}

void expectSameReadings(const QString &path)
{
    const Reading fast = readThrough(path, PngReader::Road::Fastest);
    const Reading library = readThrough(path, PngReader::Road::Library);
    EXPECT_EQ(fast.whole, library.whole);
    EXPECT_EQ(fast.whole.format(), library.whole.format());
    EXPECT_EQ(fast.reduced, library.reduced);
    EXPECT_EQ(fast.streamedHow, library.streamedHow);
    if (library.streamedHow == PngReader::Streamed::Whole) {
        EXPECT_EQ(fast.streamed, library.streamed);
    }
    EXPECT_EQ(fast.damage, library.damage);
}

} // namespace

TEST(PngReaderTest, EveryLayoutReadsTheSameOnBothRoads)
{
    const QByteArray palette16 = [] {
        QByteArray p;
        for (int i = 0; i < 16; ++i)
            p += QByteArray(1, char(i * 16)) + QByteArray(1, char(255 - i * 8)) + QByteArray(1, char(i * 5));
        return p;
    }();
    struct Layout {
        const char *name;
        PngFile file;
    };
    auto make = [](int colour, int depth, std::function<void(PngFile &)> more = {}) {
        PngFile file;
        file.colour = colour;
        file.depth = depth;
        if (more)
            more(file);
        return file;
    };
    const Layout layouts[] = {
        {"grey 1", make(0, 1)},
        {"grey 2", make(0, 2)},
        {"grey 4", make(0, 4)},
        {"grey 8", make(0, 8)},
        {"grey 16", make(0, 16)},
        {"grey 1 keyed", make(0, 1, [](PngFile &f) { f.transparency = bigEndian16({1}); })},
        {"grey 4 keyed", make(0, 4, [](PngFile &f) { f.transparency = bigEndian16({6}); })},
        {"grey 8 keyed", make(0, 8, [](PngFile &f) { f.transparency = bigEndian16({91}); })},
        {"grey 16 keyed", make(0, 16, [](PngFile &f) { f.transparency = bigEndian16({91 + 37}); })},
        {"grey alpha 8", make(4, 8)},
        {"grey alpha 16", make(4, 16)},
        {"rgb 8", make(2, 8)},
        {"rgb 16", make(2, 16)},
        {"rgb 8 keyed", make(2, 8,
                             [](PngFile &f) {
                                 f.transparency = bigEndian16({0, 53, 106});
                             })},
        {"rgb 16 keyed", make(2, 16,
                              [](PngFile &f) {
                                  f.transparency = bigEndian16({0, 53, 106});
                              })},
        {"rgba 8", make(6, 8)},
        {"rgba 16", make(6, 16)},
        {"palette 1", make(3, 1, [&](PngFile &f) { f.palette = palette16.left(6); })},
        {"palette 2", make(3, 2, [&](PngFile &f) { f.palette = palette16.left(12); })},
        {"palette 4", make(3, 4, [&](PngFile &f) { f.palette = palette16; })},
        // Indices past the palette's end, and alphas for only some of its colours.
        {"palette 8 short", make(3, 8,
                                 [&](PngFile &f) {
                                     f.palette = palette16;
                                     f.transparency = QByteArray("\x00\x40\x80", 3);
                                 })},
        {"palette 4 translucent", make(3, 4,
                                       [&](PngFile &f) {
                                           f.palette = palette16;
                                           f.transparency = QByteArray(16, '\x7f');
                                       })},
        {"one pixel wide", make(2, 8, [](PngFile &f) { f.width = 1; })},
        {"colour chunks", make(2, 8,
                               [](PngFile &f) {
                                   f.before = PngFile::chunk("gAMA", bigEndian16({0, 45455}).right(4))
                                              + PngFile::chunk("cHRM", QByteArray(32, '\x01'))
                                              + PngFile::chunk("bKGD", bigEndian16({1, 2, 3}));
                               })},
        {"srgb", make(6, 8, [](PngFile &f) { f.before = PngFile::chunk("sRGB", QByteArray(1, '\0')); })},
        {"data in one chunk", make(2, 16, [](PngFile &f) { f.pieces = 1; })},
        // Rows long enough to be taken many bytes and samples at a time, with some left over.
        {"rgb 16 wide", make(2, 16, [](PngFile &f) { f.width = 45; })},
        {"grey alpha 16 wide", make(4, 16, [](PngFile &f) { f.width = 45; })},
        {"rgb 8 wide", make(2, 8, [](PngFile &f) { f.width = 45; })},
        {"rgba 8 wide", make(6, 8, [](PngFile &f) { f.width = 45; })},
        {"data in many chunks", make(0, 8, [](PngFile &f) { f.pieces = 40; })},
    };
    QTemporaryDir dir;
    for (const Layout &l : layouts) {
        SCOPED_TRACE(l.name);
        const QString path = written(dir, QString::fromLatin1(l.name) + QStringLiteral(".png"), l.file.bytes());
        const Reading fast = readThrough(path, PngReader::Road::Fastest);
        ASSERT_EQ(fast.whole.size(), QSize(l.file.width, l.file.height));
        EXPECT_TRUE(fast.damage.isEmpty()) << fast.damage.toStdString();
        EXPECT_EQ(PngReader::read(path).road, PngReader::Road::Fastest);
        expectSameReadings(path);
    }
}

// A file out of the plain goes to libpng's rows, which show what can be shown and say why: the
// two roads agree on every one.
TEST(PngReaderTest, DamagedFilesGiveTheSameRowsAndReasonsOnBothRoads)
{
    PngFile plain;
    plain.width = 40;
    plain.height = 30;
    plain.pieces = 4;
    const QByteArray good = plain.bytes();
    const qsizetype firstData = good.indexOf("IDAT");
    const qsizetype end = good.indexOf("IEND");
    struct Case {
        const char *name;
        QByteArray data;
    };
    QByteArray badSum = good;
    badSum[firstData + 10] = char(badSum[firstData + 10] ^ 0x55);
    QByteArray noEnd = good.left(end - 4);
    QByteArray afterEnd = good + QByteArray(100, 'x');
    const Case cases[] = {
        {"cut in the data", good.left(firstData + 60)},
        {"cut before the end", good.left(end - 8)},
        {"no end chunk", noEnd},
        {"checksum wrong", badSum},
        {"bytes after the end", afterEnd},
        {"only the header", good.left(firstData - 4)},
    };
    QTemporaryDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectSameReadings(written(dir, QString::fromLatin1(c.name) + QStringLiteral(".png"), c.data));
    }
}
