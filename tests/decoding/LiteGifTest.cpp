#include "decoding/LiteGif.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/PictureRows.h"
#include "formats/GIFImageRep.h"
#include "tests/support/SyntheticPictures.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

// The minimal template's children read small GIFs with LiteGif; the program reads them with
// GIFImageRep. A thumbnail must not depend on which of them read it: wherever LiteGif reads a file,
// its rows, colour table and damage are those of GIFImageRep's indexed picture, and every other
// file it leaves to GIFImageRep.

using namespace syntheticpictures;

namespace {

// A GIF of one picture (and whatever blocks come around it), written part by part.
struct GifParts {
    QSize screen;
    QList<QRgb> global; // 2 to 256 colours, a power of two; none when empty
    int background = 0;
    QByteArray before; // the blocks between the header and the picture
    QRect frame;       // the picture on the screen
    bool interlaced = false;
    QList<QRgb> local;
    std::vector<uchar> indices; // the picture's, row by row
    int minimum = 8;
    QByteArray data;        // the LZW blocks as stored; lzwBlocks(indices) when empty
    QByteArray after = ";"; // the blocks after the picture
};

QByteArray colourTable(const QList<QRgb> &colours)
{
    QByteArray table;
    for (const QRgb colour : colours)
        table.append(char(qRed(colour))).append(char(qGreen(colour))).append(char(qBlue(colour)));
    return table;
}

int tableFlags(const QList<QRgb> &colours)
{
    if (colours.isEmpty())
        return 0;
    int bits = 1;
    while ((2 << bits) <= colours.size())
        ++bits;
    return 0x80 | (bits - 1);
}

QByteArray gifFile(const GifParts &p)
{
    QByteArray out("GIF89a");
    put16(out, p.screen.width());
    put16(out, p.screen.height());
    out.append(char(tableFlags(p.global))).append(char(p.background)).append('\0');
    out.append(colourTable(p.global)).append(p.before).append(',');
    put16(out, p.frame.x());
    put16(out, p.frame.y());
    put16(out, p.frame.width());
    put16(out, p.frame.height());
    out.append(char(tableFlags(p.local) | (p.interlaced ? 0x40 : 0))).append(colourTable(p.local));
    out.append(char(p.minimum)).append(p.data.isEmpty() ? lzwBlocks(p.indices, p.minimum) : p.data);
    return out.append(p.after);
}

// Indices of `colours` that change from pixel to pixel and row to row.
std::vector<uchar> pattern(QSize size, int colours)
{
    std::vector<uchar> indices;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            indices.push_back(uchar((x * 3 + y * 5 + x * y) % colours));
    return indices;
}

// `count` distinct colours, none of them the grey of missing rows.
QList<QRgb> colours(int count)
{
    QList<QRgb> list;
    for (int i = 0; i < count; ++i)
        list.append(qRgb(i, 255 - i, (i * 7) % 256));
    return list;
}

// Codes of 9 bits (a minimum code size of 8, fewer than 254 codes after each clear) as sub-blocks.
QByteArray nineBitCodes(const std::vector<int> &codes)
{
    QByteArray bytes;
    quint32 bits = 0;
    int count = 0;
    for (const int code : codes) {
        bits |= quint32(code) << count;
        for (count += 9; count >= 8; count -= 8, bits >>= 8)
            bytes.append(char(bits));
    }
    if (count > 0)
        bytes.append(char(bits));
    return char(bytes.size()) + bytes + '\0';
}

QByteArray transparentControl(int index)
{
    return QByteArray("\x21\xF9\x04\x01\x00\x00", 6).append(char(index)).append('\0');
}

// A whole picture of 4 colours, 40 × 30, covering its screen: the cases below vary it.
GifParts plain()
{
    GifParts p;
    p.screen = {40, 30};
    p.global = colours(256);
    p.frame = {0, 0, 40, 30};
    p.indices = pattern({40, 30}, 4);
    return p;
}

template <typename Change>
QByteArray plainWith(Change change)
{
    GifParts p = plain();
    change(p);
    return gifFile(p);
}

// Cut within the picture's data, a third of the way from its end.
QByteArray cutInData(const GifParts &p)
{
    const QByteArray whole = gifFile(p);
    const qsizetype data = (p.data.isEmpty() ? lzwBlocks(p.indices, p.minimum) : p.data).size();
    return whole.left(whole.size() - qsizetype(p.after.size()) - data / 3);
}

// A descriptor of an open memory file holding `bytes`.
class MemoryFile
{
public:
    explicit MemoryFile(const QByteArray &bytes) : m_fd(::memfd_create("lite.gif", MFD_CLOEXEC))
    {
        EXPECT_GE(m_fd, 0);
        EXPECT_EQ(::write(m_fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    ~MemoryFile() { ::close(m_fd); }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// What GIFImageRep makes of the file under an indexed scope, as the decoder's children ask it.
struct Indexed {
    QImage image;
    QString damage;
};

Indexed readByGifImageRep(int fd, QSize box)
{
    QFile device;
    EXPECT_TRUE(device.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle));
    const DecodeReport::Scope report;
    const PictureRows::IndexedScope scope;
    QImage image = GIFImageRep::imageWithDevice(device, box);
    return {std::move(image), report.damage()};
}

// What the probe writes of a read (see LiteGifProbe_main.cpp).
QByteArray probeOutput(LiteGif::Outcome outcome, const LiteGif::Picture &picture)
{
    const char *names[] = {"Read", "NotHere", "Stopped"};
    QByteArray out = QByteArray(names[int(outcome)]) + ' ' + QByteArray::number(picture.width) + ' '
                     + QByteArray::number(picture.height) + ' ' + QByteArray::number(picture.bytesPerLine) + ' '
                     + (picture.damage ? picture.damage : "-") + '\n';
    out +=
        QByteArray(reinterpret_cast<const char *>(picture.indices.data()), qsizetype(picture.indices.size())).toHex();
    out += '\n';
    for (const quint32 colour : picture.palette)
        out += QByteArray::number(colour, 16).rightJustified(8, '0');
    return out + '\n';
}

const char *const endsEarly = "the data ends early";
const char *const corrupt = "the data is corrupt";

} // namespace

// Every picture LiteGif reads is GIFImageRep's indexed one, byte for byte in each row's pixels
// (the rows' padding, which QImage leaves as it finds it, LiteGif zeroes), colour for colour in
// its table, and damaged alike; every file it leaves is one GIFImageRep does not read indexed.
TEST(LiteGifTest, ReadsWhatGifImageRepReadsIndexedAndLeavesTheRest)
{
    using LiteGif::Outcome;
    GifParts everyIndex = plain();
    everyIndex.screen = {256, 30};
    everyIndex.frame.setSize(everyIndex.screen);
    everyIndex.indices.clear();
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 256; ++x)
            everyIndex.indices.push_back(uchar((x + y) % 256));
    GifParts large = plain();
    large.screen = {250, 250};
    large.frame.setSize(large.screen);
    // Noise, which LZW does not shrink.
    large.indices.clear();
    for (quint32 i = 0; i < 250 * 250; ++i) {
        const quint32 hash = i * 2654435761u;
        large.indices.push_back(uchar(((hash ^ hash >> 15) * 2246822519u >> 13) % 251));
    }
    GifParts greyInPalette = plain();
    greyInPalette.global = {qRgb(200, 30, 30), qRgb(30, 200, 30), qRgb(30, 30, 200), qRgb(128, 128, 128)};
    greyInPalette.minimum = 2;
    const struct {
        const char *name;
        QByteArray data;
        QSize box;
        Outcome outcome;
        const char *damage = nullptr;
    } cases[] = {
        {"covers the screen", gifFile(plain()), {64, 64}, Outcome::Read},
        {"as large as the box", gifFile(plain()), {40, 30}, Outcome::Read},
        {"within a larger screen, the background in the palette",
         plainWith([](GifParts &p) {
             p.screen = {50, 40};
             p.frame.moveTo(5, 7);
             p.background = 17;
         }),
         {64, 64},
         Outcome::Read},
        {"past the screen's right and bottom edges",
         plainWith([](GifParts &p) { p.frame.moveTo(10, 5); }),
         {64, 64},
         Outcome::Read},
        {"a screen of no size: the picture's",
         plainWith([](GifParts &p) {
             p.screen = {0, 0};
             p.frame.moveTo(3, 2);
         }),
         {64, 64},
         Outcome::Read},
        {"transparent colour used",
         plainWith([](GifParts &p) { p.before = transparentControl(2); }),
         {64, 64},
         Outcome::Read},
        {"transparent colour unused",
         plainWith([](GifParts &p) { p.before = transparentControl(9); }),
         {64, 64},
         Outcome::Read},
        {"transparent, within a larger screen",
         plainWith([](GifParts &p) {
             p.before = transparentControl(1);
             p.screen = {50, 40};
             p.frame.moveTo(5, 7);
         }),
         {64, 64},
         Outcome::Read},
        {"transparent index past the colours",
         plainWith([](GifParts &p) {
             p.global = colours(4);
             p.minimum = 2;
             p.before = transparentControl(200);
             p.screen = {50, 40};
         }),
         {64, 64},
         Outcome::Read},
        {"local colour table",
         plainWith([](GifParts &p) {
             p.local = {qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 8, 9), qRgb(10, 11, 12)};
             p.minimum = 2;
         }),
         {64, 64},
         Outcome::Read},
        {"no colour table",
         plainWith([](GifParts &p) {
             p.global.clear();
             p.screen = {50, 40};
         }),
         {64, 64},
         Outcome::Read},
        {"extensions before the picture",
         plainWith([](GifParts &p) {
             p.before = QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19)
                        + QByteArray("\x21\xFE\x05hello\x03you\x00", 13)
                        + QByteArray("\x21\xF9\x04\x04\x0A\x00\x00\x00", 8) + QByteArray("\x21\x01\x0C", 3)
                        + QByteArray(12, '\x01') + QByteArray("\x02hi\x00", 4);
         }),
         {64, 64},
         Outcome::Read},
        {"blocks after the picture",
         plainWith([](GifParts &p) {
             // A second picture, 2 × 1 with a table of its own.
             p.after = transparentControl(0) + ',';
             for (const int value : {0, 0, 2, 1})
                 put16(p.after, value);
             p.after += QByteArray("\x80\x01\x02\x03\x04\x05\x06\x02\x02\x4C\x01\x00;", 13);
         }),
         {64, 64},
         Outcome::Read},
        {"the data's end before the last row",
         plainWith([](GifParts &p) {
             p.frame = {0, 0, 3, 4};
             p.screen = {3, 4};
             p.data = nineBitCodes({256, 1, 2, 3, 4, 5, 6, 257});
         }),
         {64, 64},
         Outcome::Read},
        {"a larger file than the input's buffer", gifFile(large), {256, 256}, Outcome::Read},
        {"minimum code size 2",
         plainWith([](GifParts &p) {
             p.global = colours(4);
             p.minimum = 2;
         }),
         {64, 64},
         Outcome::Read},
        // Damage: the rows before it kept, the rest grey under an index of its own.
        {"cut in the data", cutInData(plain()), {64, 64}, Outcome::Read, endsEarly},
        {"cut in the data, the grey in the palette", cutInData(greyInPalette), {64, 64}, Outcome::Read, endsEarly},
        {"a code no table holds",
         plainWith([](GifParts &p) {
             p.frame = {0, 0, 3, 4};
             p.screen = {3, 4};
             p.data = nineBitCodes({256, 1, 2, 3, 4, 5, 6, 300, 7, 257});
         }),
         {64, 64},
         Outcome::Read,
         corrupt},
        {"no trailer", gifFile(plain()).chopped(1), {64, 64}, Outcome::Read, endsEarly},
        {"cut in the blocks after the picture",
         plainWith([](GifParts &p) { p.after = "!\xFE\x09no end"; }),
         {64, 64},
         Outcome::Read,
         endsEarly},
        {"no block after the picture",
         plainWith([](GifParts &p) { p.after = "X;"; }),
         {64, 64},
         Outcome::Read,
         corrupt},
        // GIFImageRep's to read.
        {"cut in the data, every index used", cutInData(everyIndex), {256, 256}, Outcome::NotHere},
        {"interlaced", plainWith([](GifParts &p) { p.interlaced = true; }), {64, 64}, Outcome::NotHere},
        {"a screen larger than the box", gifFile(plain()), {39, 64}, Outcome::NotHere},
        {"a screen taller than the box", gifFile(plain()), {64, 29}, Outcome::NotHere},
        {"the background outside a local table",
         plainWith([](GifParts &p) {
             p.screen = {50, 40};
             p.frame.moveTo(5, 7);
             p.background = 17;
             p.local = colours(4);
             p.minimum = 2;
         }),
         {64, 64},
         Outcome::NotHere},
        {"a screen beyond the decoding budget",
         plainWith([](GifParts &p) {
             p.screen = {60000, 60000};
             p.frame = {0, 0, 1, 1};
             p.indices = {1};
         }),
         {65535, 65535},
         Outcome::NotHere},
        {"not a GIF", QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(100, '\0'), {64, 64}, Outcome::NotHere},
        {"empty", QByteArray(), {64, 64}, Outcome::NotHere},
        {"cut after the header", gifFile(plain()).left(13), {64, 64}, Outcome::NotHere},
        {"cut in the descriptor", gifFile(plain()).left(13 + 768 + 5), {64, 64}, Outcome::NotHere},
        {"cut in an extension",
         plainWith([](GifParts &p) { p.before = "!\xFE\x09no"; }).left(13 + 768 + 5),
         {64, 64},
         Outcome::NotHere},
        {"a trailer before any picture", gifFile(plain()).left(13 + 768) + ';', {64, 64}, Outcome::NotHere},
        {"a minimum code size of 9", plainWith([](GifParts &p) { p.minimum = 9; }), {64, 64}, Outcome::NotHere},
    };
    ASSERT_GT(gifFile(large).size(), 64 << 10);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const MemoryFile file(c.data);
        LiteGif::Picture picture;
        ASSERT_EQ(LiteGif::read(file.fd(), c.box.width(), c.box.height(), picture), c.outcome);
        const Indexed expected = readByGifImageRep(file.fd(), c.box);
        if (c.outcome != Outcome::Read) {
            EXPECT_NE(expected.image.format(), QImage::Format_Indexed8);
            EXPECT_TRUE(picture.indices.empty());
            continue;
        }
        EXPECT_STREQ(picture.damage, c.damage);
        EXPECT_EQ(QString::fromLatin1(picture.damage), expected.damage);
        ASSERT_EQ(expected.image.format(), QImage::Format_Indexed8);
        ASSERT_EQ(QSize(picture.width, picture.height), expected.image.size());
        ASSERT_EQ(picture.bytesPerLine, expected.image.bytesPerLine());
        ASSERT_EQ(picture.indices.size(), size_t(picture.bytesPerLine) * size_t(picture.height));
        for (int y = 0; y < picture.height; ++y) {
            const uchar *row = picture.indices.data() + y * picture.bytesPerLine;
            ASSERT_EQ(std::memcmp(row, expected.image.constScanLine(y), size_t(picture.width)), 0) << "row " << y;
            for (int x = picture.width; x < picture.bytesPerLine; ++x)
                ASSERT_EQ(row[x], 0) << "padding of row " << y;
        }
        EXPECT_EQ(QList<QRgb>(picture.palette.begin(), picture.palette.end()), expected.image.colorTable());
    }
}

// The file is read from its start whatever the descriptor's offset, and not at all for a box of
// no size; a read that is to stop stops, leaving no picture.
TEST(LiteGifTest, ReadsFromTheStartAndStopsWhenAsked)
{
    const MemoryFile file(gifFile(plain()));
    LiteGif::Picture picture;
    EXPECT_EQ(LiteGif::read(file.fd(), 0, 0, picture), LiteGif::Outcome::NotHere);
    ASSERT_EQ(::lseek(file.fd(), 100, SEEK_SET), 100);
    EXPECT_EQ(LiteGif::read(file.fd(), 64, 64, picture), LiteGif::Outcome::Read);
    EXPECT_EQ(picture.width, 40);
    std::atomic<bool> cancel{true};
    const DecodeInterrupt::Scope scope(&cancel, std::chrono::hours(1));
    EXPECT_EQ(LiteGif::read(file.fd(), 64, 64, picture), LiteGif::Outcome::Stopped);
    EXPECT_TRUE(picture.indices.empty());
}

// A program with nothing of Qt in it, linked or loaded, reads as this one does (the probe does not
// link where LiteGif calls into Qt, and fails where a Qt library is mapped).
TEST(LiteGifTest, ReadsInAProgramWithoutQt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lite.gif"));
    const QByteArray files[] = {gifFile(plain()), cutInData(plain()),
                                plainWith([](GifParts &p) { p.interlaced = true; })};
    for (const QByteArray &data : files) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(data);
        out.close();
        const MemoryFile file(data);
        LiteGif::Picture picture;
        const QByteArray expected = probeOutput(LiteGif::read(file.fd(), 64, 64, picture), picture);
        QProcess probe;
        probe.start(QStringLiteral(OVN_LITE_GIF_PROBE), {path, QStringLiteral("64"), QStringLiteral("64")});
        ASSERT_TRUE(probe.waitForFinished(30000));
        EXPECT_EQ(probe.exitCode(), 0);
        EXPECT_EQ(probe.readAllStandardOutput(), expected);
    }
}
