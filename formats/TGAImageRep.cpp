#include "formats/TGAImageRep.h"

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "decoding/PictureRows.h"
#include "formats/ImageRepInput.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <vector>

namespace {

constexpr int headerBytes = 18;

struct Header {
    int idLength = 0;
    int mapType = 0;
    int imageType = 0;
    int mapFirst = 0;
    int mapLength = 0;
    int mapBits = 0;
    int width = 0;
    int height = 0;
    int bits = 0;
    int descriptor = 0;

    bool runLength() const { return imageType >= 9; }
    int kind() const { return imageType & 7; } // 1 colour-mapped, 2 true-colour, 3 grey
    int pixelBytes() const { return (bits + 7) / 8; }
};

Header headerOf(const QByteArray &data)
{
    const auto *d = reinterpret_cast<const uchar *>(data.constData());
    Header h;
    h.idLength = d[0];
    h.mapType = d[1];
    h.imageType = d[2];
    h.mapFirst = qFromLittleEndian<quint16>(d + 3);
    h.mapLength = qFromLittleEndian<quint16>(d + 5);
    h.mapBits = d[7];
    h.width = qFromLittleEndian<quint16>(d + 12);
    h.height = qFromLittleEndian<quint16>(d + 14);
    h.bits = d[16];
    h.descriptor = d[17];
    return h;
}

bool plausible(const Header &h)
{
    if (h.width == 0 || h.height == 0 || h.mapType > 1)
        return false;
    switch (h.imageType) {
    case 1:
    case 9:
        return h.mapType == 1 && (h.bits == 8 || h.bits == 16) && h.mapLength > 0
               && (h.mapBits == 15 || h.mapBits == 16 || h.mapBits == 24 || h.mapBits == 32);
    case 2:
    case 10:
        return h.bits == 15 || h.bits == 16 || h.bits == 24 || h.bits == 32;
    case 3:
    case 11:
        return h.bits == 8 || h.bits == 16;
    default:
        return false;
    }
}

// One stored colour of 2, 3 or 4 bytes (little-endian, blue first) as ARGB32.
QRgb colourOf(const uchar *p, int bytes)
{
    switch (bytes) {
    case 2: {
        const int v = p[0] | (p[1] << 8);
        auto five = [](int c) { return (c << 3) | (c >> 2); };
        return qRgba(five((v >> 10) & 31), five((v >> 5) & 31), five(v & 31), 255);
    }
    case 3:
        return qRgb(p[2], p[1], p[0]);
    default:
        return qRgba(p[2], p[1], p[0], p[3]);
    }
}

// How the stored pixels of a picture ended: all of them read, the data ended early, a run past the
// picture's end (corrupt: the picture is cut there), the caller had enough, or the read was stopped.
enum class Ending { Whole, EndsEarly, Corrupt, Enough, Stopped };

// The first `total` pixels of the picture in stored order, from the start of its data, each handed
// to `put` as stored (ARGB32 of the stored alpha); `put` returning false ends the read (Enough). A
// run may go on into the next row.
template <typename PixelOf, typename Put>
Ending readPixels(ImageRepInput &input, const Header &h, qint64 total, const PixelOf &pixelOf, Put put)
{
    const int bytes = h.pixelBytes();
    const qint64 rowBytes = qint64(h.width) * bytes;
    std::vector<uchar> line(static_cast<size_t>(rowBytes));
    qint64 done = 0;
    bool corrupt = false;
    while (done < total) {
        if (DecodeInterrupt::shouldStop())
            return Ending::Stopped;
        if (!h.runLength()) {
            const qint64 got = input.read(line.data(), std::min(rowBytes, (total - done) * bytes));
            for (qint64 i = 0; i + bytes <= got; i += bytes, ++done)
                if (!put(pixelOf(line.data() + i)))
                    return Ending::Enough;
            if (got < std::min(rowBytes, (total - done) * bytes))
                return Ending::EndsEarly;
            continue;
        }
        // A row's worth of packets, or as far as a run goes on.
        for (qint64 left = h.width; left > 0 && done < total;) {
            const int packet = input.byte();
            if (packet < 0)
                return Ending::EndsEarly;
            const qint64 remaining = total - done;
            const int count = (packet & 0x7f) + 1;
            if (count > remaining)
                corrupt = true;
            const int n = int(std::min<qint64>(count, remaining));
            if (packet & 0x80) {
                uchar p[4];
                if (!input.readAll(p, bytes))
                    return Ending::EndsEarly;
                const QRgb colour = pixelOf(p);
                for (int i = 0; i < n; ++i, ++done)
                    if (!put(colour))
                        return Ending::Enough;
            } else {
                const qint64 got = input.read(line.data(), qint64(n) * bytes);
                for (qint64 i = 0; i + bytes <= got; i += bytes, ++done)
                    if (!put(pixelOf(line.data() + i)))
                        return Ending::Enough;
                if (got < qint64(n) * bytes)
                    return Ending::EndsEarly;
                input.skip(qint64(count - n) * bytes);
            }
            left -= n;
        }
    }
    return corrupt ? Ending::Corrupt : Ending::Whole;
}

QImage readTga(QIODevice &device, QSize box, ImageFileReader::Facts *facts)
{
    if (!device.seek(0))
        return {};
    const QByteArray head = device.read(headerBytes);
    if (!TGAImageRep::canInitWithData(head))
        return {};
    const Header h = headerOf(head);
    const qint64 pixels = qint64(h.width) * h.height;
    // A run-length packet of 1 + pixelBytes bytes gives at most 128 pixels.
    if (pixels > TGAImageRep::maxPixels || pixels > (device.size() + 1) * 128)
        return {};
    ImageRepInput input(device, headerBytes + h.idLength);

    // The colour map, when there is one: its entries as ARGB32.
    std::vector<QRgb> map;
    if (h.mapType == 1) {
        const int entryBytes = (h.mapBits + 7) / 8;
        std::vector<uchar> entries(size_t(h.mapLength) * size_t(entryBytes));
        if (!input.readAll(entries.data(), qint64(entries.size())))
            return {};
        map.reserve(size_t(h.mapLength));
        for (size_t i = 0; i < entries.size(); i += size_t(entryBytes))
            map.push_back(colourOf(entries.data() + i, entryBytes));
    }
    const qint64 dataAt = input.position();
    const int bytes = h.pixelBytes();
    const int alphaBits = h.descriptor & 0x0f;
    const bool topFirst = h.descriptor & 0x20;
    const bool rightFirst = h.descriptor & 0x10;
    auto storedPixel = [&](const uchar *p) -> QRgb {
        switch (h.kind()) {
        case 1: {
            const int index = (bytes == 1 ? p[0] : p[0] | (p[1] << 8)) - h.mapFirst;
            return index >= 0 && index < int(map.size()) ? map[size_t(index)] : qRgb(0, 0, 0);
        }
        case 3: // grey, and in 16 bits its alpha after it
            return qRgba(p[0], p[0], p[0], bytes == 2 ? p[1] : 255);
        default:
            return colourOf(p, bytes);
        }
    };
    // Alpha counts only where the header gives it bits and some pixel uses it: many writers leave
    // it all zero in pictures without transparency (such a picture is read opaque).
    bool alpha = (h.kind() == 2 && bytes == 4 && alphaBits > 0) || (h.kind() == 1 && h.mapBits == 32)
                 || (h.kind() == 3 && bytes == 2 && alphaBits > 0);
    if (alpha) {
        bool visible = false;
        ImageRepInput look(device, dataAt);
        if (readPixels(look, h, pixels, storedPixel, [&](QRgb colour) { return !(visible = qAlpha(colour) != 0); })
            == Ending::Stopped)
            return {};
        alpha = visible;
    }
    auto pixelOf = [&](const uchar *p) { return alpha ? storedPixel(p) : storedPixel(p) | 0xff000000u; };

    PictureRows rows(QSize(h.width, h.height), box,
                     topFirst ? PictureRows::Order::TopFirst : PictureRows::Order::BottomFirst, alpha);
    const qint64 rowBytes = qint64(h.width) * bytes;
    if (!h.runLength())
        rows.setSeekable();
    const qint64 band = rows.streamsTopFirst() ? DecodeMemoryBudget::product(
                            {rowBytes, std::min<qint64>(h.height, ImageRepInput::backwardBandRows(rowBytes))})
                                               : 0;
    if (!rows.start(DecodeMemoryBudget::sum({rowBytes, ImageRepInput::bufferBytes, qint64(map.size()) * 4, band}),
                    facts))
        return {};
    // Pixels in stored order, and the row the data ends in.
    int x = 0;
    auto put = [&](QRgb colour) {
        rows.row()[rightFirst ? h.width - 1 - x : x] = colour;
        if (++x == h.width) {
            rows.next();
            x = 0;
        }
        return true;
    };
    auto keepPartialRow = [&] {
        if (x > 0) {
            std::fill(rows.row() + (rightFirst ? 0 : x), rows.row() + (rightFirst ? h.width - x : h.width),
                      PictureRows::missing);
            rows.next();
            x = 0;
        }
    };
    Ending ending;
    if (rows.streamsTopFirst()) {
        // Stored bottom first, handed top first: the rows the data does not hold (the top ones)
        // first, then the row the data ends in, then each band of whole rows from its place in the
        // file, the last stored first.
        const qint64 available = std::min(pixels, std::max<qint64>(0, device.size() - dataAt) / std::max(1, bytes));
        const qint64 whole = available / h.width;
        const int partial = int(available % h.width);
        rows.fill(PictureRows::missing, h.height - whole - (partial > 0 ? 1 : 0));
        ending = available < pixels ? Ending::EndsEarly : Ending::Whole;
        if (partial > 0) {
            ImageRepInput last(device, dataAt + whole * rowBytes);
            std::vector<uchar> line(size_t(partial) * size_t(bytes));
            const qint64 got = last.read(line.data(), qint64(line.size()));
            for (qint64 i = 0; i + bytes <= got; i += bytes)
                put(pixelOf(line.data() + i));
            if (x > 0)
                keepPartialRow();
            else
                rows.fill(PictureRows::missing, 1);
        }
        if (!ImageRepInput::readRowsBackwards(device, dataAt, rowBytes, whole, [&](const uchar *line) {
                for (int i = 0; i < h.width; ++i)
                    put(pixelOf(line + qsizetype(i) * bytes));
            }))
            ending = DecodeInterrupt::shouldStop() ? Ending::Stopped : Ending::EndsEarly;
    } else {
        input.seek(dataAt);
        ending = readPixels(input, h, pixels, pixelOf, put);
    }
    if (ending == Ending::Stopped || DecodeInterrupt::shouldStop())
        return {};
    if (ending == Ending::EndsEarly)
        DecodeReport::damaged(QStringLiteral("the data ends early"));
    else if (ending == Ending::Corrupt)
        DecodeReport::damaged(QStringLiteral("the data is corrupt"));
    // The row the data ended in keeps the pixels it has.
    keepPartialRow();
    return rows.take();
}

} // namespace

const QStringList &TGAImageRep::imageUnfilteredFileTypes()
{
    static const QStringList types{QStringLiteral("tga")};
    return types;
}

bool TGAImageRep::canInitWithData(const QByteArray &data)
{
    return data.size() >= headerBytes && plausible(headerOf(data));
}

QImage TGAImageRep::initWithData(const QByteArray &data)
{
    return ImageRepInput::readBytes(&TGAImageRep::imageWithDevice, data);
}

QSize TGAImageRep::pictureSize(const QByteArray &head)
{
    if (!canInitWithData(head))
        return {};
    const Header h = headerOf(head);
    return QSize(h.width, h.height);
}

QImage TGAImageRep::imageWithDevice(QIODevice &device, QSize box, ImageFileReader::Facts *facts)
{
    return readTga(device, box, facts);
}
