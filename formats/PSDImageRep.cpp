#include "formats/PSDImageRep.h"

#include "decoding/ColourTransform.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/PictureRows.h"
#include "formats/ImageRepInput.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace {

using Budget = DecodeMemoryBudget;

enum Mode { Bitmap = 0, Grey = 1, Indexed = 2, Rgb = 3, Cmyk = 4, Duotone = 8 };
enum Compression { Raw = 0, PackBits = 1 };

constexpr int headerBytes = 26;

struct Header {
    bool large = false; // PSB: longer lengths and row counts
    int channels = 0;
    qint64 width = 0;
    qint64 height = 0;
    int depth = 0;
    int mode = 0;

    // The channels the picture's colours come from.
    int colourChannels() const { return mode == Rgb ? 3 : mode == Cmyk ? 4 : 1; }
    qint64 rowBytes() const { return (width * depth + 7) / 8; }
};

std::optional<Header> headerOf(const QByteArray &head)
{
    if (head.size() < headerBytes || !head.startsWith("8BPS"))
        return std::nullopt;
    const auto *d = reinterpret_cast<const uchar *>(head.constData());
    Header h;
    const int version = qFromBigEndian<quint16>(d + 4);
    h.large = version == 2;
    h.channels = qFromBigEndian<quint16>(d + 12);
    h.height = qFromBigEndian<quint32>(d + 14);
    h.width = qFromBigEndian<quint32>(d + 18);
    h.depth = qFromBigEndian<quint16>(d + 22);
    h.mode = qFromBigEndian<quint16>(d + 24);
    const qint64 maxSide = h.large ? 300000 : 30000;
    if ((version != 1 && version != 2) || h.width <= 0 || h.height <= 0 || h.width > maxSide || h.height > maxSide
        || h.channels < 1 || h.channels > 56)
        return std::nullopt;
    const bool depthFits = h.mode == Bitmap    ? h.depth == 1
                           : h.mode == Indexed ? h.depth == 8
                                               : h.depth == 8 || h.depth == 16;
    const bool modeKnown = h.mode == Bitmap || h.mode == Grey || h.mode == Indexed || h.mode == Rgb || h.mode == Cmyk
                           || h.mode == Duotone;
    if (!modeKnown || !depthFits || h.channels < h.colourChannels())
        return std::nullopt;
    return h;
}

// A length of the file's sections: 4 bytes, 8 in a PSB's layer section; -1 where the file ends.
qint64 length(ImageRepInput &input, int bytes)
{
    uchar b[8];
    if (!input.readAll(b, bytes))
        return -1;
    return bytes == 4 ? qint64(qFromBigEndian<quint32>(b)) : qint64(qFromBigEndian<quint64>(b) & 0x7fffffffffffffffull);
}

// The colour profile among the image resources from where `input` stands to `end` (resource
// 0x040F); empty for none. Each resource: "8BIM", its id, a name (a length byte and the text,
// padded to an even length), its length and its data (padded likewise).
QByteArray embeddedProfile(ImageRepInput &input, qint64 end, qint64 fileSize)
{
    // (Whatever the section claims, nothing past the end of the file is read for it.)
    end = std::min(end, fileSize);
    constexpr int maxResources = 4096;
    for (int i = 0; i < maxResources && input.position() + 12 <= end; ++i) {
        uchar head[7];
        if (!input.readAll(head, sizeof head) || std::memcmp(head, "8BIM", 4) != 0)
            return {};
        const int id = qFromBigEndian<quint16>(head + 4);
        // The name's length byte and text, padded to an even length.
        input.skip((head[6] + 1 + 1) / 2 * 2 - 1);
        const qint64 bytes = length(input, 4);
        if (bytes < 0 || input.position() + bytes > end)
            return {};
        if (id == 0x040F) {
            if (bytes > ColourTransform::maxProfileBytes)
                return {};
            QByteArray icc(qsizetype(bytes), '\0');
            return input.readAll(icc.data(), bytes) ? icc : QByteArray();
        }
        input.skip((bytes + 1) / 2 * 2);
    }
    return {};
}

// PackBits: a count byte n, then n + 1 bytes as they are (n < 128), or the next byte 257 - n times
// (n > 128). False when the data does not make exactly `out` bytes.
bool unpackBits(const uchar *in, qint64 inBytes, uchar *out, qint64 outBytes)
{
    qint64 i = 0, o = 0;
    while (i < inBytes && o < outBytes) {
        const int n = in[i++];
        if (n < 128) {
            const qint64 count = std::min<qint64>({n + 1, inBytes - i, outBytes - o});
            std::copy(in + i, in + i + count, out + o);
            i += count;
            o += count;
        } else if (n > 128 && i < inBytes) {
            const qint64 count = std::min<qint64>(257 - n, outBytes - o);
            std::fill(out + o, out + o + count, in[i++]);
            o += count;
        }
    }
    std::fill(out + o, out + outBytes, 0);
    return o == outBytes;
}

// One channel of the composite, read a row at a time from where its rows are stored.
struct Channel {
    ImageRepInput input;
    std::vector<quint32> packedBytes; // of each row, for PackBits data
    std::vector<uchar> packed;
    std::vector<uchar> row;    // the row as stored
    std::vector<uchar> levels; // and at 8 bits

    // The next row into `levels`; why not when it cannot be read.
    enum class Read { Done, EndsEarly, Corrupt };
    Read next(const Header &h, int y)
    {
        const qint64 rowBytes = h.rowBytes();
        if (packedBytes.empty()) {
            if (!input.readAll(row.data(), rowBytes))
                return Read::EndsEarly;
        } else {
            // More than PackBits ever spends on a row is no row.
            const qint64 bytes = packedBytes[size_t(y)];
            if (bytes > 2 * rowBytes + 2)
                return Read::Corrupt;
            packed.resize(size_t(bytes));
            if (!input.readAll(packed.data(), bytes))
                return Read::EndsEarly;
            if (!unpackBits(packed.data(), bytes, row.data(), rowBytes))
                return Read::Corrupt;
        }
        if (h.depth == 16) {
            for (qint64 x = 0; x < h.width; ++x)
                levels[size_t(x)] = uchar((qFromBigEndian<quint16>(row.data() + 2 * x) * 255u + 32767u) / 65535u);
        } else if (h.depth == 1) {
            // Bitmap pictures: a set bit is black.
            for (qint64 x = 0; x < h.width; ++x)
                levels[size_t(x)] = (row[size_t(x >> 3)] >> (7 - (x & 7))) & 1 ? 0 : 255;
        } else {
            std::copy(row.begin(), row.begin() + rowBytes, levels.begin());
        }
        return Read::Done;
    }
};

} // namespace

const QStringList &PSDImageRep::imageUnfilteredFileTypes()
{
    static const QStringList types{QStringLiteral("psd"), QStringLiteral("psb")};
    return types;
}

QSize PSDImageRep::pictureSize(const QByteArray &head)
{
    const std::optional<Header> h = headerOf(head);
    return h ? QSize(int(h->width), int(h->height)) : QSize();
}

QImage PSDImageRep::initWithData(const QByteArray &data, QSize box)
{
    return ImageRepInput::readBytes(&PSDImageRep::imageWithDevice, data, box);
}

QImage PSDImageRep::imageWithDevice(QIODevice &device, QSize box, ImageFileReader::Facts *facts)
{
    if (!device.seek(0))
        return {};
    const std::optional<Header> header = headerOf(device.read(headerBytes));
    if (!header)
        return {};
    const Header &h = *header;
    auto endsEarly = [] {
        DecodeReport::damaged(QStringLiteral("the data ends early"));
        return QImage();
    };
    // The sections before the picture: the colour mode's data (an indexed picture's palette),
    // the image resources, and the layers, of which only their count's sign matters: negative
    // when the first channel past the colours is the composite's transparency.
    ImageRepInput input(device, headerBytes);
    const qint64 modeBytes = length(input, 4);
    if (modeBytes < 0)
        return endsEarly();
    std::vector<QRgb> palette(256, 0xff000000u);
    if (h.mode == Indexed) {
        std::vector<uchar> table(768);
        if (modeBytes < 768 || !input.readAll(table.data(), 768))
            return modeBytes < 768 ? QImage() : endsEarly();
        for (size_t i = 0; i < 256; ++i)
            palette[i] = qRgb(table[i], table[256 + i], table[512 + i]);
        input.skip(modeBytes - 768);
    } else {
        input.skip(modeBytes);
    }
    const qint64 resourceBytes = length(input, 4);
    if (resourceBytes < 0)
        return endsEarly();
    const qint64 resourcesEnd = input.position() + resourceBytes;
    const QByteArray icc = embeddedProfile(input, resourcesEnd, device.size());
    input.seek(resourcesEnd);
    DecodeReport::colour(h.mode == Rgb || h.mode == Indexed ? QStringLiteral("RGB")
                         : h.mode == Cmyk                   ? QStringLiteral("CMYK")
                                                            : QStringLiteral("grey"),
                         icc);
    const qint64 layerBytes = length(input, h.large ? 8 : 4);
    if (layerBytes < 0)
        return endsEarly();
    const qint64 imageData = input.position() + layerBytes;
    bool mergedAlpha = false;
    if (layerBytes >= (h.large ? 10 : 6)) {
        uchar count[2];
        if (length(input, h.large ? 8 : 4) >= 2 && input.readAll(count, 2))
            mergedAlpha = qint16(qFromBigEndian<quint16>(count)) < 0;
    }
    input.seek(imageData);
    uchar compressionBytes[2];
    if (!input.readAll(compressionBytes, 2))
        return endsEarly();
    const int compression = qFromBigEndian<quint16>(compressionBytes);
    if (compression != Raw && compression != PackBits)
        return {};

    const int colours = h.colourChannels();
    const bool alpha = mergedAlpha && h.channels > colours && h.mode != Bitmap && h.mode != Indexed;
    const int used = colours + (alpha ? 1 : 0);
    const qint64 rowBytes = h.rowBytes();
    const qint64 planeBytes = Budget::product({rowBytes, h.height});
    const qint64 countBytes = h.large ? 4 : 2;
    const qint64 available = std::max<qint64>(0, device.size() - imageData - 2);
    // Raw data the file could not hold a sixteenth of, or row counts it does not hold, is no
    // picture: a few bytes must not make us fill gigabytes.
    if (compression == Raw
            ? Budget::product({planeBytes, used}) > Budget::sum({Budget::product({16, available}), 1 << 20})
            : Budget::product({countBytes, h.channels, h.height}) > available)
        return {};

    PictureRows rows(QSize(int(h.width), int(h.height)), box, PictureRows::Order::TopFirst, alpha);
    // RGB rows keep the numbers of their profile, which goes with them; inks are turned into sRGB
    // through theirs (255 is no ink).
    if (h.mode == Rgb)
        rows.setColourProfile(icc);
    const ColourTransform inkTransform =
        h.mode == Cmyk ? ColourTransform::toSRgb(ColourTransform::Samples::InvertedCmyk8, icc, 4) : ColourTransform();
    std::vector<uchar> inks(inkTransform.isValid() ? size_t(h.width) * 4 : 0);
    // Each channel's input, stored row, row at 8 bits and compressed row (at most twice the row
    // plus its counts), and the row counts.
    const qint64 perChannel = Budget::sum({ImageRepInput::bufferBytes, Budget::product({rowBytes, 4}), h.width});
    if (!rows.start(Budget::sum({Budget::product({perChannel, used}), Budget::product({h.height, used, 4})}), facts))
        return {};

    // Where each channel's rows begin: one plane after another, or after the row counts of every
    // channel and the compressed rows of the channels before.
    std::vector<Channel> channels;
    const qint64 dataAt = imageData + 2;
    if (compression == Raw) {
        for (int c = 0; c < used; ++c)
            channels.push_back({ImageRepInput(device, dataAt + c * planeBytes), {}, {}, {}, {}});
    } else {
        ImageRepInput counts(device, dataAt);
        qint64 at = dataAt + countBytes * h.channels * h.height;
        std::vector<uchar> bytes(size_t(countBytes * h.height));
        for (int c = 0; c < used; ++c) {
            if (!counts.readAll(bytes.data(), qint64(bytes.size())))
                return endsEarly();
            Channel channel{ImageRepInput(device, at), std::vector<quint32>(size_t(h.height)), {}, {}, {}};
            for (qint64 y = 0; y < h.height; ++y) {
                const quint32 n = countBytes == 2 ? qFromBigEndian<quint16>(bytes.data() + 2 * y)
                                                  : qFromBigEndian<quint32>(bytes.data() + 4 * y);
                channel.packedBytes[size_t(y)] = n;
                at += n;
            }
            channels.push_back(std::move(channel));
        }
    }
    for (Channel &channel : channels) {
        channel.row.resize(size_t(rowBytes) + 1);
        channel.levels.resize(size_t(h.width));
    }

    Channel::Read read = Channel::Read::Done;
    for (qint64 y = 0; y < h.height && read == Channel::Read::Done; ++y) {
        if (DecodeInterrupt::shouldStop())
            return {};
        for (Channel &channel : channels)
            if ((read = channel.next(h, int(y))) != Channel::Read::Done)
                break;
        if (read != Channel::Read::Done)
            break;
        QRgb *out = rows.row();
        const uchar *a = channels[0].levels.data();
        const uchar *opacity = alpha ? channels[size_t(colours)].levels.data() : nullptr;
        switch (h.mode) {
        case Rgb: {
            const uchar *g = channels[1].levels.data(), *b = channels[2].levels.data();
            for (qint64 x = 0; x < h.width; ++x)
                out[x] = qRgba(a[x], g[x], b[x], opacity ? opacity[x] : 255);
            break;
        }
        case Cmyk: {
            // Stored as what is left of the paper: 255 for no ink.
            const uchar *m = channels[1].levels.data(), *ye = channels[2].levels.data(), *k = channels[3].levels.data();
            if (inkTransform.isValid()) {
                for (qint64 x = 0; x < h.width; ++x) {
                    uchar *ink = inks.data() + 4 * x;
                    ink[0] = a[x], ink[1] = m[x], ink[2] = ye[x], ink[3] = k[x];
                }
                inkTransform.convert(inks.data(), out, int(h.width));
                if (opacity)
                    for (qint64 x = 0; x < h.width; ++x)
                        out[x] = (out[x] & 0xffffffu) | (quint32(opacity[x]) << 24);
                break;
            }
            for (qint64 x = 0; x < h.width; ++x)
                out[x] = qRgba(a[x] * k[x] / 255, m[x] * k[x] / 255, ye[x] * k[x] / 255, opacity ? opacity[x] : 255);
            break;
        }
        case Indexed:
            for (qint64 x = 0; x < h.width; ++x)
                out[x] = palette[a[x]];
            break;
        default:
            for (qint64 x = 0; x < h.width; ++x)
                out[x] = qRgba(a[x], a[x], a[x], opacity ? opacity[x] : 255);
        }
        rows.next();
    }
    if (read != Channel::Read::Done) {
        DecodeReport::damaged(read == Channel::Read::EndsEarly ? QStringLiteral("the data ends early")
                                                               : QStringLiteral("the data is corrupt"));
        // Nothing of a picture whose every row lacks a channel.
        if (rows.rowsDone() == 0)
            return {};
    }
    return rows.take();
}
