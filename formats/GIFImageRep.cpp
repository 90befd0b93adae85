#include "formats/GIFImageRep.h"

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/PictureRows.h"
#include "formats/ImageRepInput.h"
#include "platform/HeapTuning.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

enum class Damage { None, EndsEarly, Corrupt };

void note(Damage damage)
{
    if (damage == Damage::EndsEarly)
        DecodeReport::damaged(QStringLiteral("the data ends early"));
    else if (damage == Damage::Corrupt)
        DecodeReport::damaged(QStringLiteral("the data is corrupt"));
}

// The data of a block: sub-blocks of a length byte and as many bytes, up to an empty one.
class SubBlocks
{
public:
    explicit SubBlocks(ImageRepInput &input) : m_input(input) {}

    // The next byte of the data; -1 at the end of the blocks, or where the file ends (cut()).
    int byte()
    {
        if (m_left == 0) {
            if (m_ended || m_cut)
                return -1;
            const int length = m_input.byte();
            m_ended = length == 0;
            m_cut = length < 0;
            if (length <= 0)
                return -1;
            m_left = length;
        }
        const int value = m_input.byte();
        if (value < 0) {
            m_cut = true;
            return -1;
        }
        --m_left;
        return value;
    }

    // Up to `room` bytes of the data into `into`, across sub-blocks: fewer at the end of the
    // blocks, or where the file ends (cut()).
    int fill(uchar *into, int room)
    {
        int filled = 0;
        while (filled < room) {
            if (m_left == 0) {
                if (m_ended || m_cut)
                    break;
                const int length = m_input.byte();
                m_ended = length == 0;
                m_cut = length < 0;
                if (length <= 0)
                    break;
                m_left = length;
            }
            const int wanted = std::min(m_left, room - filled);
            const int read = int(std::max<qint64>(0, m_input.read(into + filled, wanted)));
            filled += read;
            m_left -= read;
            if (read < wanted) {
                m_cut = true;
                break;
            }
        }
        return filled;
    }

    // Goes past the rest of the blocks; false when the file ends first.
    bool skipRest()
    {
        m_input.skip(m_left);
        m_left = 0;
        while (!m_ended && !m_cut) {
            const int length = m_input.byte();
            m_ended = length == 0;
            m_cut = length < 0;
            m_input.skip(std::max(length, 0));
        }
        return !m_cut;
    }

    bool cut() const { return m_cut; }

private:
    ImageRepInput &m_input;
    int m_left = 0;
    bool m_ended = false;
    bool m_cut = false;
};

// Decodes the LZW data of a picture `width` pixels wide and `height` high, handing `rowDone` each
// row of colour indices as it is complete; stops once every row came. What ended it early: the
// file (EndsEarly), a code no table holds (Corrupt), or the data's own end (None: as Qt's reader,
// the rows it did not give are the screen's).
template <typename RowDone>
Damage decodeLzw(SubBlocks &blocks, int minimum, int width, int height, RowDone &&rowDone)
{
    constexpr int maxCodes = 4096;
    const int clear = 1 << minimum, end = clear + 1;
    // Each code's string is the string of its `prefix` code followed by its own last 1 to 8
    // indices (`tail`, from tail[0]; `lengths` holds the string's length less one). Only a
    // string's last piece is shorter than 8, so a string is written 8 indices at a time from its
    // end back, most in one piece.
    struct Table {
        std::array<quint16, maxCodes> prefix;
        std::array<quint16, maxCodes> lengths;
        std::array<std::array<uchar, 8>, maxCodes> tail;
        std::array<uchar, maxCodes> first;
    };
    const auto table = std::make_unique_for_overwrite<Table>();
    // A picture of more pixels than there are codes makes every code at least once.
    if (qint64(width) * height >= maxCodes)
        HeapTuning::mapForWriting(table.get(), sizeof(Table));
    std::array<quint16, maxCodes> &prefix = table->prefix;
    std::array<quint16, maxCodes> &lengths = table->lengths;
    std::array<std::array<uchar, 8>, maxCodes> &tail = table->tail;
    std::array<uchar, maxCodes> &first = table->first;
    for (int i = 0; i < clear; ++i) {
        prefix[size_t(i)] = 0;
        lengths[size_t(i)] = 0;
        tail[size_t(i)] = {uchar(i)};
        first[size_t(i)] = uchar(i);
    }
    int codeSize = minimum + 1, next = clear + 2, previous = -1;
    // The data's bits, least significant first, taken from the sub-blocks a buffer at a time.
    quint64 bits = 0;
    int count = 0;
    std::array<uchar, 4096> input;
    int taken = 0, held = 0;
    // The indices not yet handed on, a row's worth at most before a string; a string is at most
    // as long as the codes, and its last piece may write 7 indices past it.
    std::vector<uchar> indices(size_t(width) + maxCodes + 8);
    uchar *const out = indices.data();
    int x = 0, y = 0;
    for (;;) {
        if (count < codeSize) {
            if (held - taken >= 8) {
                // As many whole bytes as the word holds, 8 read at once.
                quint64 word;
                std::memcpy(&word, input.data() + taken, sizeof word);
                const int bytes = (63 - count) >> 3;
                count += bytes * 8;
                bits = (bits | word << (count - bytes * 8)) & ((quint64(1) << count) - 1);
                taken += bytes;
            }
            while (count <= 56) {
                if (taken == held) {
                    held = blocks.fill(input.data(), int(input.size()));
                    taken = 0;
                    if (held == 0)
                        break;
                }
                bits |= quint64(input[size_t(taken++)]) << count;
                count += 8;
            }
            if (count < codeSize)
                return blocks.cut() ? Damage::EndsEarly : Damage::None;
        }
        const int code = int(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        count -= codeSize;
        if (code == clear) {
            codeSize = minimum + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (code == end)
            return Damage::None;
        if (previous < 0) {
            if (code > clear)
                return Damage::Corrupt;
        } else if (code > next) {
            return Damage::Corrupt;
        }
        // The code made of the string just before and the first index of this one (of the string
        // before again, for the code about to be made): made first, so that it can be written.
        if (previous >= 0 && next < maxCodes) {
            const size_t made = size_t(next), before = size_t(previous);
            const uchar index = code == next ? first[before] : first[size_t(code)];
            const int length = lengths[before] + 1;
            if ((lengths[before] & 7) != 7) {
                prefix[made] = prefix[before];
                tail[made] = tail[before];
                tail[made][size_t(length & 7)] = index;
            } else {
                prefix[made] = quint16(previous);
                tail[made] = {index};
            }
            lengths[made] = quint16(length);
            first[made] = first[before];
            if (++next == (1 << codeSize) && codeSize < 12)
                ++codeSize;
        }
        previous = code;
        // The string, from its end back: its last piece of 1 to 8 indices, then whole pieces.
        int current = code;
        const int length = lengths[size_t(current)] + 1;
        uchar *at = out + x + length - ((length - 1) % 8 + 1);
        std::memcpy(at, tail[size_t(current)].data(), 8);
        while (at != out + x) {
            current = prefix[size_t(current)];
            at -= 8;
            std::memcpy(at, tail[size_t(current)].data(), 8);
        }
        x += length;
        if (x < width)
            continue;
        // Whole rows handed on; what runs on into the next row moves to the start.
        int from = 0;
        do {
            if (DecodeInterrupt::shouldStop())
                return Damage::None;
            rowDone(out + from);
            from += width;
            if (++y == height)
                return Damage::None;
        } while (x - from >= width);
        std::memmove(out, out + from, size_t(x - from));
        x -= from;
    }
}

std::vector<QRgb> colourTable(ImageRepInput &input, int flags)
{
    std::vector<QRgb> colours;
    if (!(flags & 0x80))
        return colours;
    std::vector<uchar> bytes(size_t(3) << ((flags & 7) + 1));
    if (!input.readAll(bytes.data(), qint64(bytes.size())))
        return {};
    for (size_t i = 0; i < bytes.size(); i += 3)
        colours.push_back(qRgb(bytes[i], bytes[i + 1], bytes[i + 2]));
    return colours;
}

// The blocks after the picture, walked to the trailer without decoding: a file cut short there or
// whose blocks lead nowhere is damaged all the same.
Damage walkToTrailer(ImageRepInput &input)
{
    for (;;) {
        if (DecodeInterrupt::shouldStop())
            return Damage::None;
        const int introducer = input.byte();
        if (introducer < 0)
            return Damage::EndsEarly;
        if (introducer == 0x3B)
            return Damage::None;
        if (introducer == 0x21) {
            input.skip(1);
        } else if (introducer == 0x2C) {
            uchar descriptor[9];
            if (!input.readAll(descriptor, sizeof descriptor))
                return Damage::EndsEarly;
            if (descriptor[8] & 0x80)
                input.skip(qint64(3) << ((descriptor[8] & 7) + 1));
            const int codeSize = input.byte();
            if (codeSize < 0)
                return Damage::EndsEarly;
            if (codeSize < 2 || codeSize > 11)
                return Damage::Corrupt;
        } else {
            return Damage::Corrupt;
        }
        if (!SubBlocks(input).skipRest())
            return Damage::EndsEarly;
    }
}

// Which row of an interlaced picture of `height` rows the `n`th row stored is (its four passes
// give every eighth row, the fourth ones between, then every fourth, then every second), and
// back.
struct Interlace {
    int height;

    int row(int n) const
    {
        const int first = (height + 7) / 8, second = (height + 3) / 8, third = (height + 1) / 4;
        if (n < first)
            return n * 8;
        if ((n -= first) < second)
            return 4 + n * 8;
        if ((n -= second) < third)
            return 2 + n * 4;
        return 1 + (n - third) * 2;
    }
    int order(int y) const
    {
        const int first = (height + 7) / 8, second = (height + 3) / 8, third = (height + 1) / 4;
        if (y % 8 == 0)
            return y / 8;
        if (y % 8 == 4)
            return first + y / 8;
        if (y % 4 == 2)
            return first + second + y / 4;
        return first + second + third + y / 2;
    }
};

// The screen's rows as the palette's indices, for a picture made indexed (see
// PictureRows::IndexedScope): a byte a pixel rather than four. Rows come top first, whole.
class IndexedRows
{
public:
    IndexedRows(QSize screen, const std::array<QRgb, 256> &palette, int transparent)
        : m_screen(screen),
          m_palette(palette),
          m_transparent(transparent)
    {}

    // As PictureRows::start, for a picture of a byte a pixel.
    bool start(qint64 readerBytes, ImageFileReader::Facts *facts)
    {
        if (facts)
            facts->size = m_screen;
        const qint64 held =
            DecodeMemoryBudget::sum({DecodeMemoryBudget::product({m_screen.width(), m_screen.height()}), readerBytes});
        if (held <= DecodeMemoryBudget::shared().capacity()) {
            m_reservation = DecodeMemoryBudget::shared().reserve(held);
            m_image = QImage(m_screen, QImage::Format_Indexed8);
        }
        if (m_image.isNull()) {
            if (facts)
                facts->refusal = ImageFileReader::Facts::Refusal::TooLarge;
            return false;
        }
        // Every row is written, read or filled.
        HeapTuning::mapForWriting(m_image.bits(), size_t(m_image.sizeInBytes()));
        return true;
    }

    uchar *row() { return m_image.scanLine(m_rowsDone); }
    void next() { m_rowsDone = std::min(m_rowsDone + 1, m_screen.height()); }
    void fill(uchar index, qint64 count)
    {
        for (; count > 0 && m_rowsDone < m_screen.height(); --count)
            std::memset(m_image.scanLine(m_rowsDone++), index, size_t(m_screen.width()));
    }

    // The picture, the rows not read in `rest`: the index of a colour of that value, else of one
    // the picture does not use. Where every index is used and none is `rest`'s, the picture is
    // made ARGB32 or RGB32 as PictureRows would have made it.
    QImage take(QRgb rest)
    {
        if (m_rowsDone < m_screen.height()) {
            int index = indexOf(rest);
            if (index < 0)
                index = unusedIndex();
            if (index < 0)
                return expandedWith(rest);
            m_palette[size_t(index)] = rest;
            fill(uchar(index), m_screen.height());
        }
        // Translucent where the picture uses the transparent colour only.
        if (m_transparent >= 0 && !uses(uchar(m_transparent)))
            m_palette[size_t(m_transparent)] |= 0xff000000u;
        m_image.setColorTable(QList<QRgb>(m_palette.begin(), m_palette.end()));
        return std::move(m_image);
    }

private:
    int indexOf(QRgb colour) const
    {
        const auto found = std::find(m_palette.begin(), m_palette.end(), colour);
        return found == m_palette.end() ? -1 : int(found - m_palette.begin());
    }

    bool uses(uchar index) const
    {
        for (int y = 0; y < m_rowsDone; ++y)
            if (std::memchr(m_image.constScanLine(y), index, size_t(m_screen.width())))
                return true;
        return false;
    }

    int unusedIndex() const
    {
        std::array<bool, 256> used{};
        for (int y = 0; y < m_rowsDone; ++y) {
            const uchar *line = m_image.constScanLine(y);
            for (int x = 0; x < m_screen.width(); ++x)
                used[line[x]] = true;
        }
        const auto unused = std::find(used.begin(), used.end(), false);
        return unused == used.end() ? -1 : int(unused - used.begin());
    }

    QImage expandedWith(QRgb rest)
    {
        m_image.setColorTable(QList<QRgb>(m_palette.begin(), m_palette.end()));
        QImage expanded = m_image.convertToFormat(QImage::Format_ARGB32);
        m_image = QImage();
        if (expanded.isNull())
            return {};
        for (int y = m_rowsDone; y < m_screen.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(expanded.scanLine(y));
            std::fill(line, line + m_screen.width(), rest);
        }
        for (int y = 0; y < expanded.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(expanded.constScanLine(y));
            if (std::any_of(line, line + expanded.width(), [](QRgb pixel) { return qAlpha(pixel) != 255; }))
                return expanded;
        }
        expanded.reinterpretAsFormat(QImage::Format_RGB32);
        return expanded;
    }

    QSize m_screen;
    std::array<QRgb, 256> m_palette;
    int m_transparent;
    int m_rowsDone = 0;
    QImage m_image;
    DecodeMemoryBudget::Reservation m_reservation;
};

} // namespace

const QStringList &GIFImageRep::imageUnfilteredFileTypes()
{
    static const QStringList types{QStringLiteral("gif")};
    return types;
}

QSize GIFImageRep::pictureSize(const QByteArray &head)
{
    if (head.size() < 13 || (!head.startsWith("GIF87a") && !head.startsWith("GIF89a")))
        return {};
    const auto *d = reinterpret_cast<const uchar *>(head.constData());
    return QSize(qFromLittleEndian<quint16>(d + 6), qFromLittleEndian<quint16>(d + 8));
}

QImage GIFImageRep::initWithData(const QByteArray &data, QSize box)
{
    return ImageRepInput::readBytes(&GIFImageRep::imageWithDevice, data, box);
}

QImage GIFImageRep::imageWithDevice(QIODevice &device, QSize box, ImageFileReader::Facts *facts)
{
    // The header too through the input's own buffer: the device's would be filled for it alone.
    ImageRepInput input(device, 0);
    uchar head[13];
    if (!input.readAll(head, sizeof head))
        return {};
    QSize screen = pictureSize(QByteArray(reinterpret_cast<const char *>(head), sizeof head));
    if (!screen.isValid())
        return {};
    const std::vector<QRgb> global = colourTable(input, head[10]);
    if ((head[10] & 0x80) && global.empty()) {
        note(Damage::EndsEarly);
        return {};
    }
    // The blocks before the first picture: extensions, of which a graphic control one may name
    // the picture's transparent colour.
    int transparent = -1;
    for (;;) {
        if (DecodeInterrupt::shouldStop())
            return {};
        const int introducer = input.byte();
        if (introducer == 0x2C)
            break;
        if (introducer == 0x3B)
            return {};
        if (introducer != 0x21) {
            note(introducer < 0 ? Damage::EndsEarly : Damage::Corrupt);
            return {};
        }
        const int label = input.byte();
        SubBlocks blocks(input);
        if (label == 0xF9) {
            int control[4];
            for (int &value : control)
                value = blocks.byte();
            transparent = control[0] >= 0 && (control[0] & 1) && control[3] >= 0 ? control[3] : -1;
        }
        if (label < 0 || !blocks.skipRest()) {
            note(Damage::EndsEarly);
            return {};
        }
    }
    uchar descriptor[9];
    if (!input.readAll(descriptor, sizeof descriptor)) {
        note(Damage::EndsEarly);
        return {};
    }
    const int left = qFromLittleEndian<quint16>(descriptor), top = qFromLittleEndian<quint16>(descriptor + 2);
    const int width = qFromLittleEndian<quint16>(descriptor + 4), height = qFromLittleEndian<quint16>(descriptor + 6);
    const bool interlaced = descriptor[8] & 0x40;
    const std::vector<QRgb> local = colourTable(input, descriptor[8]);
    const std::vector<QRgb> &colours = descriptor[8] & 0x80 ? local : global;
    const int minimum = input.byte();
    if (minimum < 0 || ((descriptor[8] & 0x80) && local.empty())) {
        note(Damage::EndsEarly);
        return {};
    }
    if (minimum < 2 || minimum > 8 || width == 0 || height == 0) {
        note(Damage::Corrupt);
        return {};
    }
    if (screen.isEmpty())
        screen = QSize(left + width, top + height);
    // The transparent colour is its palette entry's, wholly transparent, as in Qt's reader.
    std::array<QRgb, 256> palette;
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = i < colours.size() ? colours[i] : 0xff000000u;
    if (transparent >= 0 && transparent < 256)
        palette[size_t(transparent)] &= 0x00ffffffu;
    // What the picture does not cover, as Qt's reader fills it.
    const QRgb outside = transparent >= 0  ? palette[size_t(std::min(transparent, 255))] & 0x00ffffffu
                         : !global.empty() ? global[std::min<size_t>(head[11], global.size() - 1)]
                                           : 0xff000000u;
    const bool covers = left == 0 && top == 0 && width >= screen.width() && height >= screen.height();
    const bool alpha = transparent >= 0 || (!covers && qAlpha(outside) == 0);
    // The picture's columns on the screen.
    const int from = std::min(left, screen.width()), to = std::min(left + width, screen.width());

    // A picture stored in order, read whole, whose screen's colour outside it is one of its own
    // colours (or that covers the screen) is made indexed where the thread asks for it.
    const auto outsideIndex = std::find(palette.begin(), palette.end(), outside);
    if (!interlaced && (covers || outsideIndex != palette.end()) && PictureRows::IndexedScope::take(screen, box)) {
        const uchar outsideAt = uchar(covers ? 0 : outsideIndex - palette.begin());
        IndexedRows rows(screen, palette, transparent);
        if (!rows.start(DecodeMemoryBudget::sum({width, ImageRepInput::bufferBytes, 32 << 10}), facts))
            return {};
        rows.fill(outsideAt, top);
        int decoded = 0;
        SubBlocks blocks(input);
        Damage damage = decodeLzw(blocks, minimum, width, height, [&](const uchar *row) {
            if (top + decoded++ >= screen.height())
                return;
            uchar *out = rows.row();
            std::memset(out, outsideAt, size_t(from));
            std::memcpy(out + from, row, size_t(to - from));
            std::memset(out + to, outsideAt, size_t(screen.width() - to));
            rows.next();
        });
        if (DecodeInterrupt::shouldStop())
            return {};
        if (damage == Damage::None)
            damage = blocks.skipRest() ? walkToTrailer(input) : Damage::EndsEarly;
        note(damage);
        if (decoded == height)
            rows.fill(outsideAt, screen.height());
        return rows.take(decoded < height && damage != Damage::None ? PictureRows::missing : outside);
    }

    PictureRows rows(screen, box, PictureRows::Order::TopFirst, alpha);
    const qint64 indices = interlaced ? DecodeMemoryBudget::product({width, height}) : 0;
    if (!rows.start(DecodeMemoryBudget::sum({width, indices, ImageRepInput::bufferBytes, 32 << 10}), facts))
        return {};
    rows.fill(outside, top);
    // A screen row of the picture's row of indices.
    auto screenRow = [&](const uchar *row) {
        QRgb *out = rows.row();
        std::fill(out, out + from, outside);
        for (int x = from; x < to; ++x)
            out[x] = palette[row[x - left]];
        std::fill(out + to, out + screen.width(), outside);
        rows.next();
    };
    std::vector<uchar> stored;
    if (interlaced)
        stored.resize(size_t(indices));
    int decoded = 0;
    SubBlocks blocks(input);
    Damage damage = decodeLzw(blocks, minimum, width, height, [&](const uchar *row) {
        if (interlaced)
            std::memcpy(stored.data() + size_t(Interlace{height}.row(decoded)) * size_t(width), row, size_t(width));
        else if (top + decoded < screen.height())
            screenRow(row);
        ++decoded;
    });
    if (DecodeInterrupt::shouldStop())
        return {};
    if (damage == Damage::None)
        damage = blocks.skipRest() ? walkToTrailer(input) : Damage::EndsEarly;
    note(damage);
    // Rows the data did not give: grey in a damaged file, the screen's in a whole one.
    const QRgb rest = decoded < height && damage != Damage::None ? PictureRows::missing : outside;
    if (interlaced) {
        const Interlace interlace{height};
        for (int y = 0; y < height && top + y < screen.height(); ++y) {
            if (interlace.order(y) < decoded) {
                screenRow(stored.data() + size_t(y) * size_t(width));
            } else {
                rows.fill(rest, 1);
            }
        }
        stored = std::vector<uchar>(); // its memory given back ({} would keep it)
    }
    if (decoded == height)
        rows.fill(outside, screen.height());
    return rows.take(rest);
}
