#include "formats/BMPImageRep.h"

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/PictureRows.h"
#include "formats/ImageRepInput.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <limits>
#include <optional>
#include <vector>

namespace {

enum Compression { Rgb = 0, Rle8 = 1, Rle4 = 2, BitFields = 3, AlphaBitFields = 6 };

constexpr int fileHeaderBytes = 14;

struct Header {
    qint64 dataAt = 0;
    int dibBytes = 0;
    qint64 width = 0;
    qint64 height = 0;
    bool topFirst = false;
    int bits = 0;
    int compression = Rgb;
    quint32 masks[4] = {}; // red, green, blue, alpha
    qint64 paletteAt = 0;
    int paletteEntries = 0;
    int paletteEntryBytes = 4;

    qint64 rowBytes() const { return (width * bits + 31) / 32 * 4; }
    bool alpha() const { return bits == 32 && masks[3] != 0; }
};

std::optional<Header> headerOf(const QByteArray &head)
{
    const auto *d = reinterpret_cast<const uchar *>(head.constData());
    if (head.size() < fileHeaderBytes + 12 || d[0] != 'B' || d[1] != 'M')
        return std::nullopt;
    Header h;
    h.dataAt = qFromLittleEndian<quint32>(d + 10);
    h.dibBytes = int(qFromLittleEndian<quint32>(d + 14));
    const bool core = h.dibBytes == 12;
    const bool os2 = h.dibBytes == 16 || h.dibBytes == 64;
    if (!core && !os2 && h.dibBytes != 40 && h.dibBytes != 52 && h.dibBytes != 56 && h.dibBytes != 108
        && h.dibBytes != 124)
        return std::nullopt;
    if (head.size() < fileHeaderBytes + std::min(h.dibBytes, 56))
        return std::nullopt;
    const uchar *dib = d + fileHeaderBytes;
    qint64 colours = 0;
    if (core) {
        h.width = qFromLittleEndian<quint16>(dib + 4);
        h.height = qFromLittleEndian<quint16>(dib + 6);
        h.bits = qFromLittleEndian<quint16>(dib + 10);
        h.paletteEntryBytes = 3;
    } else {
        h.width = qFromLittleEndian<qint32>(dib + 4);
        h.height = qFromLittleEndian<qint32>(dib + 8);
        h.bits = qFromLittleEndian<quint16>(dib + 14);
        if (h.dibBytes >= 20)
            h.compression = int(qFromLittleEndian<quint32>(dib + 16));
        if (h.dibBytes >= 36)
            colours = qFromLittleEndian<quint32>(dib + 32);
    }
    if (h.height < 0 && !core) {
        h.topFirst = true;
        h.height = -h.height;
    }
    // OS/2's own compressions (Huffman, RLE24) share numbers with bit fields: Qt's reader's.
    if (h.width <= 0 || h.height <= 0 || (os2 && h.compression > Rle4))
        return std::nullopt;
    switch (h.compression) {
    case Rgb:
        if (h.bits != 1 && h.bits != 4 && h.bits != 8 && h.bits != 16 && h.bits != 24 && h.bits != 32)
            return std::nullopt;
        break;
    case Rle8:
    case Rle4:
        if (h.bits != (h.compression == Rle8 ? 8 : 4))
            return std::nullopt;
        break;
    case BitFields:
    case AlphaBitFields:
        if (h.bits != 16 && h.bits != 32)
            return std::nullopt;
        break;
    default:
        return std::nullopt;
    }
    qint64 end = fileHeaderBytes + h.dibBytes;
    if (h.compression == BitFields || h.compression == AlphaBitFields) {
        // Version 2 headers and later hold the masks; the first version has them after it.
        const int count = h.compression == AlphaBitFields || h.dibBytes >= 56 ? 4 : 3;
        const qint64 at = h.dibBytes >= 52 ? fileHeaderBytes + 40 : end;
        if (head.size() < at + 4 * count)
            return std::nullopt;
        for (int i = 0; i < count; ++i)
            h.masks[i] = qFromLittleEndian<quint32>(d + at + 4 * i);
        if (h.dibBytes == 40)
            end += 4 * count;
        if (!h.masks[0] || !h.masks[1] || !h.masks[2])
            return std::nullopt;
    } else if (h.bits == 16) {
        h.masks[0] = 0x7c00, h.masks[1] = 0x03e0, h.masks[2] = 0x001f;
    } else if (h.bits == 32) {
        h.masks[0] = 0xff0000, h.masks[1] = 0xff00, h.masks[2] = 0xff;
    }
    if (h.bits <= 8) {
        h.paletteEntries = int(colours > 0 ? std::min<qint64>(colours, qint64(1) << h.bits) : qint64(1) << h.bits);
        h.paletteAt = end;
        end += qint64(h.paletteEntries) * h.paletteEntryBytes;
    }
    if (h.dataAt < fileHeaderBytes + h.dibBytes)
        h.dataAt = end;
    return h;
}

// One channel of a pixel of 16 or 32 bits under its mask, made 8 bits.
struct MaskedChannel {
    quint32 mask = 0;
    int shift = 0;
    quint32 maximum = 0;

    explicit MaskedChannel(quint32 m) : mask(m)
    {
        if (mask) {
            shift = std::countr_zero(mask);
            maximum = mask >> shift;
        }
    }
    int level(quint32 pixel) const
    {
        if (!maximum)
            return 255;
        const quint32 value = (pixel & mask) >> shift;
        return maximum == 255 ? int(value) : int((quint64(value) * 255 + maximum / 2) / maximum);
    }
};

// An uncompressed row of the file into ARGB32 pixels.
class RowConverter
{
public:
    RowConverter(const Header &h, std::vector<QRgb> palette)
        : m_header(h),
          m_palette(std::move(palette)),
          m_red(h.masks[0]),
          m_green(h.masks[1]),
          m_blue(h.masks[2]),
          m_alpha(h.masks[3])
    {}

    void convert(const uchar *in, QRgb *out) const
    {
        const qint64 width = m_header.width;
        switch (m_header.bits) {
        case 1:
        case 4:
        case 8: {
            const int bits = m_header.bits, perByte = 8 / bits, mask = (1 << bits) - 1;
            for (qint64 x = 0; x < width; ++x) {
                const int index = (in[x / perByte] >> (8 - bits * (1 + int(x % perByte)))) & mask;
                out[x] = colour(index);
            }
            break;
        }
        case 24:
            for (qint64 x = 0; x < width; ++x, in += 3)
                out[x] = 0xff000000u | (quint32(in[2]) << 16) | (quint32(in[1]) << 8) | in[0];
            break;
        case 16:
            for (qint64 x = 0; x < width; ++x, in += 2)
                out[x] = pixel(qFromLittleEndian<quint16>(in));
            break;
        default:
            if (!m_header.alpha() && m_header.masks[0] == 0xff0000 && m_header.masks[1] == 0xff00
                && m_header.masks[2] == 0xff) {
                for (qint64 x = 0; x < width; ++x, in += 4)
                    out[x] = 0xff000000u | qFromLittleEndian<quint32>(in);
            } else {
                for (qint64 x = 0; x < width; ++x, in += 4)
                    out[x] = pixel(qFromLittleEndian<quint32>(in));
            }
        }
    }

    QRgb colour(int index) const { return index < int(m_palette.size()) ? m_palette[size_t(index)] : 0xff000000u; }

private:
    QRgb pixel(quint32 value) const
    {
        return qRgba(m_red.level(value), m_green.level(value), m_blue.level(value),
                     m_header.alpha() ? m_alpha.level(value) : 255);
    }

    Header m_header;
    std::vector<QRgb> m_palette;
    MaskedChannel m_red, m_green, m_blue, m_alpha;
};

// What a read met in the file.
enum class Damage { None, EndsEarly };

Damage readRows(ImageRepInput &input, const Header &h, const RowConverter &converter, PictureRows &rows)
{
    const qint64 rowBytes = h.rowBytes();
    std::vector<uchar> line(static_cast<size_t>(rowBytes));
    while (!rows.isComplete()) {
        if (DecodeInterrupt::shouldStop())
            return Damage::None;
        // A row cut short is not kept: what it holds is not known to be its pixels.
        if (!input.readAll(line.data(), rowBytes))
            return Damage::EndsEarly;
        converter.convert(line.data(), rows.row());
        rows.next();
    }
    return Damage::None;
}

// Uncompressed rows stored bottom first, handed top first (a streamed read): each band of rows read
// from its place in the file, from the end back. The rows the data does not hold whole (the top
// ones) are missing, as a read from the start meets them.
Damage readRowsBackwards(QIODevice &device, const Header &h, const RowConverter &converter, PictureRows &rows)
{
    const qint64 rowBytes = h.rowBytes();
    const qint64 available = std::max<qint64>(0, device.size() - h.dataAt);
    const qint64 stored = std::min(h.height, available / rowBytes);
    rows.fill(PictureRows::missing, h.height - stored);
    const bool read = ImageRepInput::readRowsBackwards(device, h.dataAt, rowBytes, stored, [&](const uchar *line) {
        converter.convert(line, rows.row());
        rows.next();
    });
    return stored < h.height || (!read && !DecodeInterrupt::shouldStop()) ? Damage::EndsEarly : Damage::None;
}

// Run-length encoded rows: runs of one index (two alternating ones in RLE4), literal stretches
// padded to whole 16-bit words, and escapes that end a row, move on, or end the picture; pixels
// not written take the palette's first colour.
Damage readRunLengthRows(ImageRepInput &input, const Header &h, const RowConverter &converter, PictureRows &rows)
{
    const bool four = h.compression == Rle4;
    const QRgb background = converter.colour(0);
    const qint64 width = h.width;
    qint64 x = 0;
    bool begun = false;
    auto begin = [&] {
        if (!begun)
            std::fill(rows.row(), rows.row() + width, background);
        begun = true;
    };
    auto endRow = [&] {
        begin();
        rows.next();
        begun = false;
        x = 0;
    };
    auto put = [&](int index) {
        if (x < width)
            rows.row()[x] = converter.colour(index);
        ++x;
    };
    std::vector<uchar> literal(256);
    while (!rows.isComplete()) {
        if (DecodeInterrupt::shouldStop())
            return Damage::None;
        const int count = input.byte(), value = input.byte();
        if (value < 0)
            return Damage::EndsEarly;
        begin();
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                put(four ? (i % 2 ? value & 15 : value >> 4) : value);
            continue;
        }
        switch (value) {
        case 0: // the end of a row
            endRow();
            break;
        case 1: // the end of the picture
            endRow();
            rows.fill(background, h.height);
            break;
        case 2: { // a move right and down
            const int right = input.byte(), down = input.byte();
            if (down < 0)
                return Damage::EndsEarly;
            const qint64 column = x + right;
            if (down > 0) {
                endRow();
                rows.fill(background, down - 1);
            }
            x = column;
            break;
        }
        default: { // `value` pixels as they are
            const int bytes = four ? (value + 1) / 2 : value;
            if (!input.readAll(literal.data(), bytes + (bytes & 1)))
                return Damage::EndsEarly;
            for (int i = 0; i < value; ++i)
                put(four ? (i % 2 ? literal[size_t(i / 2)] & 15 : literal[size_t(i / 2)] >> 4) : literal[size_t(i)]);
        }
        }
    }
    return Damage::None;
}

} // namespace

const QStringList &BMPImageRep::imageUnfilteredFileTypes()
{
    static const QStringList types{QStringLiteral("bmp"), QStringLiteral("dib")};
    return types;
}

QSize BMPImageRep::pictureSize(const QByteArray &head)
{
    const std::optional<Header> h = headerOf(head);
    if (!h || h->width > std::numeric_limits<int>::max() || h->height > std::numeric_limits<int>::max())
        return {};
    return QSize(int(h->width), int(h->height));
}

QImage BMPImageRep::initWithData(const QByteArray &data, QSize box)
{
    return ImageRepInput::readBytes(&BMPImageRep::imageWithDevice, data, box);
}

QImage BMPImageRep::imageWithDevice(QIODevice &device, QSize box, ImageFileReader::Facts *facts)
{
    if (!device.seek(0))
        return {};
    const QByteArray head = device.read(ImageFileReader::headBytes);
    const QSize size = pictureSize(head);
    if (!size.isValid())
        return {};
    const Header h = *headerOf(head);
    const bool runLength = h.compression == Rle8 || h.compression == Rle4;
    // An uncompressed picture the data could not hold a sixteenth of is no picture: a few bytes
    // must not make us fill gigabytes.
    const qint64 available = std::max<qint64>(0, device.size() - h.dataAt);
    if (!runLength
        && DecodeMemoryBudget::product({h.rowBytes(), h.height}) > DecodeMemoryBudget::sum({16 * available, 1 << 20}))
        return {};

    ImageRepInput input(device, h.paletteAt);
    std::vector<QRgb> palette;
    if (h.paletteEntries > 0) {
        std::vector<uchar> entries(size_t(h.paletteEntries) * size_t(h.paletteEntryBytes));
        if (!input.readAll(entries.data(), qint64(entries.size()))) {
            DecodeReport::damaged(QStringLiteral("the data ends early"));
            return {};
        }
        for (size_t i = 0; i < entries.size(); i += size_t(h.paletteEntryBytes))
            palette.push_back(qRgb(entries[i + 2], entries[i + 1], entries[i]));
    }
    const RowConverter converter(h, std::move(palette));
    PictureRows rows(size, box, h.topFirst ? PictureRows::Order::TopFirst : PictureRows::Order::BottomFirst, h.alpha());
    if (!runLength)
        rows.setSeekable();
    const qint64 band = rows.streamsTopFirst() ? DecodeMemoryBudget::product(
                            {h.rowBytes(), std::min(h.height, ImageRepInput::backwardBandRows(h.rowBytes()))})
                                               : 0;
    if (!rows.start(DecodeMemoryBudget::sum({h.rowBytes(), ImageRepInput::bufferBytes, band}), facts))
        return {};
    input.seek(h.dataAt);
    const Damage damage = runLength                ? readRunLengthRows(input, h, converter, rows)
                          : rows.streamsTopFirst() ? readRowsBackwards(device, h, converter, rows)
                                                   : readRows(input, h, converter, rows);
    if (DecodeInterrupt::shouldStop())
        return {};
    if (damage == Damage::EndsEarly)
        DecodeReport::damaged(QStringLiteral("the data ends early"));
    return rows.take();
}
