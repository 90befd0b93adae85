#include "formats/GIFImageRep.h"

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/PictureRows.h"
#include "formats/ImageRepInput.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
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
    std::array<quint16, maxCodes> prefix{};
    std::array<uchar, maxCodes> suffix{}, first{};
    std::array<uchar, maxCodes + 1> stack{};
    // Each code's string length: a string is at most as long as the codes made before it.
    std::array<quint16, maxCodes> lengths{};
    for (int i = 0; i < clear; ++i) {
        suffix[size_t(i)] = first[size_t(i)] = uchar(i);
        lengths[size_t(i)] = 1;
    }
    int codeSize = minimum + 1, next = clear + 2, previous = -1;
    quint32 bits = 0;
    int count = 0;
    std::vector<uchar> row(static_cast<size_t>(width));
    int x = 0, y = 0;
    // The row is full: handed on. Whether the decode ends (every row came, or it was stopped).
    const auto rowFull = [&] {
        if (DecodeInterrupt::shouldStop())
            return true;
        rowDone(row.data());
        x = 0;
        return ++y == height;
    };
    for (;;) {
        while (count < codeSize) {
            const int value = blocks.byte();
            if (value < 0)
                return blocks.cut() ? Damage::EndsEarly : Damage::None;
            bits |= quint32(value) << count;
            count += 8;
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
        // The code's string (for the code about to be made: the string just before and its first
        // index again), written straight into the row where it fits, from its last index back.
        const bool repeat = previous >= 0 && code == next;
        const int length = repeat ? lengths[size_t(previous)] + 1 : lengths[size_t(code)];
        if (x + length <= width) {
            uchar *at = row.data() + x + length - 1;
            int current = code;
            if (repeat) {
                *at-- = first[size_t(previous)];
                current = previous;
            }
            while (current > end) {
                *at-- = suffix[size_t(current)];
                current = prefix[size_t(current)];
            }
            *at = uchar(current);
            x += length;
            if (x == width && rowFull())
                return Damage::None;
        } else {
            // A string that runs on into the next row.
            int depth = 0, current = code;
            if (repeat) {
                stack[size_t(depth++)] = first[size_t(previous)];
                current = previous;
            }
            while (current > end) {
                stack[size_t(depth++)] = suffix[size_t(current)];
                current = prefix[size_t(current)];
            }
            stack[size_t(depth++)] = uchar(current);
            while (depth > 0) {
                row[size_t(x++)] = stack[size_t(--depth)];
                if (x == width && rowFull())
                    return Damage::None;
            }
        }
        if (previous >= 0 && next < maxCodes) {
            prefix[size_t(next)] = quint16(previous);
            suffix[size_t(next)] = code == next ? first[size_t(previous)] : first[size_t(code)];
            first[size_t(next)] = first[size_t(previous)];
            lengths[size_t(next)] = quint16(lengths[size_t(previous)] + 1);
            if (++next == (1 << codeSize) && codeSize < 12)
                ++codeSize;
        }
        previous = code;
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

} // namespace

// Registered when the program loads, before any image is opened (formats/CMakeLists.txt keeps the
// symbol, as for the Netpbm reader).
extern "C" {
extern const bool ovn_gif_image_rep_registered;
const bool ovn_gif_image_rep_registered = (GIFImageRep::registerImageRepClass(), true);
}

void GIFImageRep::registerImageRepClass()
{
    ImageFileReader::registerImageRepClass(
        {imageUnfilteredFileTypes(), &GIFImageRep::pictureSize, &GIFImageRep::imageWithDevice, true, false});
}

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
    if (!device.seek(0))
        return {};
    uchar head[13];
    if (device.read(reinterpret_cast<char *>(head), sizeof head) != qint64(sizeof head))
        return {};
    QSize screen = pictureSize(QByteArray(reinterpret_cast<const char *>(head), sizeof head));
    if (!screen.isValid())
        return {};
    ImageRepInput input(device, sizeof head);
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
        stored = {};
    }
    if (decoded == height)
        rows.fill(outside, screen.height());
    return rows.take(rest);
}
