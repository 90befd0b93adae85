#include "formats/PBMImageRep.h"

#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/PictureRows.h"
#include "formats/ImageRepInput.h"
#include "formats/PBMHeader.h"

#include <QIODevice>

#include <algorithm>
#include <vector>

namespace {

// A header this reader reads: a binary type with sides, and but for bitmaps a largest sample
// value of at most 16 bits.
std::optional<PBMHeader> binaryHeader(const QByteArray &head)
{
    std::optional<PBMHeader> header = PBMHeader::initWithData(head);
    if (!header || header->errorNumber() != PBMHeader::NoError || header->pnmType() < 4 || header->pnmType() > 6
        || header->width() <= 0 || header->height() <= 0)
        return std::nullopt;
    if (header->pnmType() != 4 && (header->depth() <= 0 || header->depth() > 65535))
        return std::nullopt;
    return header;
}

} // namespace

const QStringList &PBMImageRep::imageUnfilteredFileTypes()
{
    static const QStringList types{QStringLiteral("ppm"), QStringLiteral("pnm"), QStringLiteral("pgm"),
                                   QStringLiteral("pbm")};
    return types;
}

bool PBMImageRep::canInitWithData(const QByteArray &data)
{
    return data.size() > 1 && data[0] == 'P' && (data[1] == '4' || data[1] == '5' || data[1] == '6');
}

QImage PBMImageRep::imageRepWithData(const QByteArray &data)
{
    if (!canInitWithData(data))
        return {};
    return initWithData(data);
}

QList<QImage> PBMImageRep::imageRepsWithData(const QByteArray &data)
{
    QImage image = imageRepWithData(data);
    if (image.isNull())
        return {};
    return {image};
}

QImage PBMImageRep::initWithData(const QByteArray &data)
{
    return ImageRepInput::readBytes(&PBMImageRep::imageWithDevice, data);
}

QSize PBMImageRep::pictureSize(const QByteArray &head)
{
    const std::optional<PBMHeader> header = binaryHeader(head);
    return header ? QSize(header->width(), header->height()) : QSize();
}

QImage PBMImageRep::imageWithDevice(QIODevice &device, QSize box, ImageFileReader::Facts *facts)
{
    if (!device.seek(0))
        return {};
    const std::optional<PBMHeader> header = binaryHeader(device.read(ImageFileReader::headBytes));
    if (!header)
        return {};
    const int type = header->pnmType();
    const int samples = type == 6 ? 3 : 1;
    const int maxval = type == 4 ? 1 : header->depth();
    const int bytesPerSample = maxval > 255 ? 2 : 1;
    const qint64 w = header->width(), h = header->height();
    const qint64 rowBytes = type == 4 ? (w + 7) / 8 : w * samples * bytesPerSample;
    // A picture the data could not hold a sixteenth of is no picture: a few bytes must not make
    // us read or fill gigabytes.
    const qint64 available = std::max<qint64>(0, device.size() - header->inputIndex());
    if (w * h > maxPixels || rowBytes * h > 16 * available + (qint64(1) << 20))
        return {};

    PictureRows rows(QSize(int(w), int(h)), box);
    std::vector<uchar> level(size_t(maxval) + 1);
    if (!rows.start(DecodeMemoryBudget::sum({rowBytes, ImageRepInput::bufferBytes, qint64(level.size())}), facts))
        return {};
    // Samples are scaled from 0..maxval to 0..255; a sample above maxval counts as maxval.
    for (int v = 0; v <= maxval; ++v)
        level[size_t(v)] = uchar(v * 255 / maxval);
    ImageRepInput input(device, header->inputIndex());
    std::vector<uchar> line(static_cast<size_t>(rowBytes));
    // What the data does not hold is grey, as a cut JPEG or PNG shows (white for a bitmap).
    const QRgb rest = type == 4 ? 0xffffffffu : PictureRows::missing;
    while (!rows.isComplete()) {
        if (DecodeInterrupt::shouldStop())
            return {};
        const qint64 got = input.read(line.data(), rowBytes);
        QRgb *out = rows.row();
        const uchar *in = line.data();
        // The whole pixels the row holds.
        const qint64 pixels = type == 4 ? std::min(w, got * 8) : got / (samples * bytesPerSample);
        if (type == 4) {
            // A set bit is black, as in the file; rows are whole bytes.
            for (qint64 x = 0; x < pixels; ++x)
                out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1 ? 0xff000000u : 0xffffffffu;
        } else if (bytesPerSample == 1) {
            const bool exact = maxval == 255;
            for (qint64 x = 0; x < pixels; ++x, in += samples) {
                const int r = exact ? in[0] : level[std::min<size_t>(in[0], size_t(maxval))];
                const int g = samples == 1 ? r : exact ? in[1] : level[std::min<size_t>(in[1], size_t(maxval))];
                const int b = samples == 1 ? r : exact ? in[2] : level[std::min<size_t>(in[2], size_t(maxval))];
                out[x] = qRgb(r, g, b);
            }
        } else {
            auto sample = [&](const uchar *p) { return level[std::min<size_t>((p[0] << 8) | p[1], size_t(maxval))]; };
            for (qint64 x = 0; x < pixels; ++x, in += 2 * samples) {
                const int r = sample(in);
                out[x] = samples == 1 ? qRgb(r, r, r) : qRgb(r, sample(in + 2), sample(in + 4));
            }
        }
        std::fill(out + pixels, out + w, rest);
        rows.next();
        if (got < rowBytes) {
            DecodeReport::damaged(QStringLiteral("the data ends early"));
            break;
        }
    }
    return rows.take(rest);
}
