#include "formats/TGAImageRep.h"

#include "decoding/DecodeMemoryBudget.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"

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

} // namespace

// Registered when the program loads, before any image is opened (formats/CMakeLists.txt keeps the
// symbol, as for the Netpbm reader).
extern "C" {
extern const bool ovn_tga_image_rep_registered;
const bool ovn_tga_image_rep_registered = (TGAImageRep::registerImageRepClass(), true);
}

void TGAImageRep::registerImageRepClass()
{
    ImageFileReader::registerImageRepClass(
        {imageUnfilteredFileTypes(), &TGAImageRep::canInitWithData, &TGAImageRep::initWithData});
}

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
    if (!canInitWithData(data))
        return {};
    const Header h = headerOf(data);
    const auto *in = reinterpret_cast<const uchar *>(data.constData()) + headerBytes + h.idLength;
    const uchar *end = reinterpret_cast<const uchar *>(data.constData()) + data.size();
    const qint64 pixels = qint64(h.width) * h.height;
    // A run-length packet of 1 + pixelBytes bytes gives at most 128 pixels; and no picture takes
    // more than the whole decoding budget.
    if (pixels > maxPixels || pixels > (qint64(data.size()) + 1) * 128
        || pixels * 4 > DecodeMemoryBudget::shared().capacity())
        return {};

    // The colour map, when there is one: its entries as ARGB32.
    std::vector<QRgb> map;
    if (h.mapType == 1) {
        const int entryBytes = (h.mapBits + 7) / 8;
        if (end - in < qint64(h.mapLength) * entryBytes)
            return {};
        map.reserve(size_t(h.mapLength));
        for (int i = 0; i < h.mapLength; ++i, in += entryBytes)
            map.push_back(colourOf(in, entryBytes));
    }
    const int bytes = h.pixelBytes();
    const int alphaBits = h.descriptor & 0x0f;
    const bool topFirst = h.descriptor & 0x20;
    const bool rightFirst = h.descriptor & 0x10;
    auto pixelOf = [&](const uchar *p) -> QRgb {
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

    QImage image(h.width, h.height, QImage::Format_ARGB32);
    if (image.isNull())
        return {};
    image.fill(0xff808080u);
    // Pixels in stored order; a run may go on into the next row.
    qint64 done = 0;
    bool endsEarly = false, corrupt = false;
    // Alpha counts only where the header gives it bits and some pixel uses it: many writers leave
    // it all zero in pictures without transparency.
    const bool alphaStored = (h.kind() == 2 && bytes == 4 && alphaBits > 0) || (h.kind() == 1 && h.mapBits == 32)
                             || (h.kind() == 3 && bytes == 2 && alphaBits > 0);
    bool anyTranslucent = false, anyVisible = false;
    auto put = [&](QRgb colour) {
        anyTranslucent = anyTranslucent || qAlpha(colour) != 255;
        anyVisible = anyVisible || qAlpha(colour) != 0;
        const int storedRow = int(done / h.width), storedColumn = int(done % h.width);
        const int y = topFirst ? storedRow : h.height - 1 - storedRow;
        const int x = rightFirst ? h.width - 1 - storedColumn : storedColumn;
        reinterpret_cast<QRgb *>(image.scanLine(y))[x] = colour;
        ++done;
    };
    while (done < pixels) {
        if (!h.runLength()) {
            if (end - in < bytes) {
                endsEarly = true;
                break;
            }
            put(pixelOf(in));
            in += bytes;
            continue;
        }
        if (in == end) {
            endsEarly = true;
            break;
        }
        const int packet = *in++;
        const int count = (packet & 0x7f) + 1;
        if (count > pixels - done)
            corrupt = true;
        const int n = int(std::min<qint64>(count, pixels - done));
        if (packet & 0x80) {
            if (end - in < bytes) {
                endsEarly = true;
                break;
            }
            const QRgb colour = pixelOf(in);
            in += bytes;
            for (int i = 0; i < n; ++i)
                put(colour);
        } else {
            for (int i = 0; i < n; ++i, in += bytes) {
                if (end - in < bytes) {
                    endsEarly = true;
                    break;
                }
                put(pixelOf(in));
            }
            if (endsEarly)
                break;
            in += qint64(count - n) * bytes;
        }
    }
    if (endsEarly)
        DecodeReport::damaged(QStringLiteral("the data ends early"));
    else if (corrupt)
        DecodeReport::damaged(QStringLiteral("the data is corrupt"));

    const bool alpha = alphaStored && anyTranslucent && anyVisible;
    if (!alpha) {
        for (int y = 0; y < image.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                row[x] |= 0xff000000u;
        }
        return image.convertToFormat(QImage::Format_RGB32);
    }
    return image;
}
