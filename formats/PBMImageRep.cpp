#include "formats/PBMImageRep.h"

#include "formats/PBMHeader.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"

#include <algorithm>
#include <cstring>

namespace {

// Bytes of picture data the header promises, or -1 when the picture is implausible.
qint64 pictureBytes(const PBMHeader &header, int samplesPerPixel, int bytesPerSample)
{
    const qint64 w = header.width(), h = header.height();
    if (w <= 0 || h <= 0 || w * h > PBMImageRep::maxPixels)
        return -1;
    if (header.pnmType() == 4)
        return h * ((w + 7) / 8);
    return w * h * samplesPerPixel * bytesPerSample;
}

} // namespace

// Registered when the program loads, before any image is opened. Every program that links the
// formats library keeps this object (formats/CMakeLists.txt asks the linker for the symbol).
extern "C" {
extern const bool ovn_pbm_image_rep_registered;
const bool ovn_pbm_image_rep_registered = (PBMImageRep::registerImageRepClass(), true);
}

void PBMImageRep::registerImageRepClass()
{
    ImageFileReader::registerImageRepClass(
        {imageUnfilteredFileTypes(), &PBMImageRep::canInitWithData, &PBMImageRep::initWithData});
}

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
    const std::optional<PBMHeader> header = PBMHeader::initWithData(data);
    if (!header || header->errorNumber() != PBMHeader::NoError)
        return {};
    const int type = header->pnmType();
    if (type < 4 || type > 6)
        return {};
    const int samples = type == 6 ? 3 : 1;
    const int maxval = header->depth();
    if (type != 4 && (maxval <= 0 || maxval > 65535))
        return {};
    const int bytesPerSample = maxval > 255 ? 2 : 1;
    const qint64 needed = pictureBytes(*header, samples, bytesPerSample);
    const qint64 available = data.size() - header->inputIndex();
    if (needed < 0 || needed > 16 * std::max<qint64>(available, 0) + (qint64(1) << 20))
        return {};

    const int w = header->width(), h = header->height();
    const auto *in = reinterpret_cast<const uchar *>(data.constData()) + header->inputIndex();
    const uchar *end = reinterpret_cast<const uchar *>(data.constData()) + data.size();

    if (type == 4) {
        // A set bit is black, as in the file; rows are whole bytes.
        QImage image(w, h, QImage::Format_Mono);
        if (image.isNull())
            return {};
        image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        image.fill(0);
        const qsizetype rowBytes = (qsizetype(w) + 7) / 8;
        for (int y = 0; y < h && in < end; ++y) {
            const qsizetype n = std::min<qsizetype>(rowBytes, end - in);
            std::memcpy(image.scanLine(y), in, size_t(n));
            in += n;
        }
        if (available < needed)
            DecodeReport::damaged(QStringLiteral("the data ends early"));
        return image;
    }

    QImage image(w, h, type == 6 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    if (image.isNull())
        return {};
    const qsizetype rowSamples = qsizetype(w) * samples;
    // Samples are scaled from 0..maxval to 0..255; a sample above maxval counts as maxval.
    int y = 0;
    for (; y < h && in < end; ++y) {
        uchar *out = image.scanLine(y);
        if (maxval == 255) {
            const qsizetype n = std::min<qsizetype>(rowSamples, end - in);
            std::memcpy(out, in, size_t(n));
            std::memset(out + n, 0x80, size_t(rowSamples - n));
            in += n;
            continue;
        }
        for (qsizetype i = 0; i < rowSamples; ++i) {
            if (end - in < bytesPerSample) {
                std::memset(out + i, 0x80, size_t(rowSamples - i));
                in = end;
                break;
            }
            const int v = bytesPerSample == 2 ? (in[0] << 8) | in[1] : in[0];
            in += bytesPerSample;
            out[i] = uchar(std::min(v, maxval) * 255 / maxval);
        }
    }
    // What the data does not hold is grey, as a cut JPEG or PNG shows, and the file is damaged.
    for (; y < h; ++y)
        std::memset(image.scanLine(y), 0x80, size_t(rowSamples));
    if (available < needed)
        DecodeReport::damaged(QStringLiteral("the data ends early"));
    return image;
}
