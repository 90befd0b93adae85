#include "platform/ImageFileReader.h"

#include "platform/FileAccess.h"
#include "platform/RawDecoder.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMutex>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

QMutex &registryMutex()
{
    static QMutex mutex;
    return mutex;
}

std::vector<ImageFileReader::ImageRepClass> &registry()
{
    static std::vector<ImageFileReader::ImageRepClass> classes;
    return classes;
}

QByteArray readWholeFile(const QString &path)
{
    QFile file;
    if (!FileAccess::openRegularFile(file, path) || file.size() > ImageFileReader::maxWholeFileBytes)
        return {};
    // A file that grows while it is read stops at the cap all the same.
    return file.read(ImageFileReader::maxWholeFileBytes);
}

QImage fitted(QImage image, QSize maxSize)
{
    if (image.isNull() || !maxSize.isValid() || maxSize.isEmpty())
        return image;
    const QSize target = ImageFileReader::fittedSize(image.size(), maxSize);
    if (target == image.size())
        return image;
    return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The size to ask Qt's reader for. A JPEG is decoded at 1/2, 1/4 or 1/8 of its size in the
// decoder itself when that still covers the target; Qt's JPEG reader does so only below quality
// 50 and for a size that is such a fraction, and the smooth scaling to the target follows.
QSize jpegDecodeSize(QImageReader &reader, QSize size, QSize target)
{
    if (reader.format() != "jpeg")
        return target;
    int factor = 1;
    auto reduced = [&](int f) { return QSize((size.width() + f - 1) / f, (size.height() + f - 1) / f); };
    while (factor < 8 && reduced(factor * 2).width() >= target.width() && reduced(factor * 2).height() >= target.height())
        factor *= 2;
    if (factor == 1)
        return target;
    reader.setQuality(49);
    return reduced(factor);
}

// Reads with Qt, decoding at a reduced size where the format allows it.
QImage readWithQt(QImageReader &reader, QSize maxSize)
{
    reader.setAutoTransform(false);
    // Qt refuses pictures above 128 MB by default; a camera's full picture may be larger.
    reader.setAllocationLimit(1024);
    if (maxSize.isValid() && !maxSize.isEmpty()) {
        const QSize size = reader.size();
        if (size.isValid() && !size.isEmpty()) {
            const QSize target = ImageFileReader::fittedSize(size, maxSize);
            if (target != size)
                reader.setScaledSize(jpegDecodeSize(reader, size, target));
        }
    }
    return fitted(reader.read(), maxSize);
}

QImage rgbToImage(const RawDecoder::Image &rgb)
{
    QImage image(rgb.width, rgb.height, QImage::Format_RGB888);
    if (image.isNull())
        return {};
    const qsizetype rowBytes = qsizetype(rgb.width) * 3;
    for (int y = 0; y < rgb.height; ++y)
        std::memcpy(image.scanLine(y), rgb.rgb.constData() + y * rowBytes, size_t(rowBytes));
    return image;
}

bool isTiffName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("tif") || suffix == QLatin1String("tiff");
}

} // namespace

void ImageFileReader::registerImageRepClass(const ImageRepClass &repClass)
{
    QMutexLocker lock(&registryMutex());
    for (const ImageRepClass &known : registry())
        if (known.imageWithData == repClass.imageWithData)
            return;
    registry().push_back(repClass);
}

QSize ImageFileReader::fittedSize(QSize size, QSize box)
{
    if (size.isEmpty() || box.isEmpty())
        return size;
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    const double scale = std::min(double(box.width()) / size.width(), double(box.height()) / size.height());
    return QSize(std::max(1, int(std::lround(size.width() * scale))),
                 std::max(1, int(std::lround(size.height() * scale))));
}

QImage ImageFileReader::readRaw(const QByteArray &data, QSize maxSize)
{
    RawDecoder decoder;
    if (!decoder.open(data))
        return {};
    const QSize full(decoder.info().width, decoder.info().height);
    int shrink = 0;
    if (maxSize.isValid() && !maxSize.isEmpty()) {
        const QSize target = fittedSize(full, maxSize);
        // The camera's own preview serves when it is large enough and shaped like the picture.
        const QByteArray jpeg = decoder.embeddedJpeg();
        if (!jpeg.isEmpty()) {
            QBuffer buffer;
            buffer.setData(jpeg);
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer, "jpeg");
            const QSize preview = reader.size();
            const bool sameShape = preview.isValid() && !preview.isEmpty()
                && std::abs(double(preview.width()) / preview.height() - double(full.width()) / full.height()) < 0.02;
            if (sameShape && preview.width() >= target.width() && preview.height() >= target.height()) {
                QImage image = readWithQt(reader, maxSize);
                if (!image.isNull())
                    return image;
            }
        }
        while (shrink < 4 && (full.width() >> (shrink + 1)) >= target.width()
               && (full.height() >> (shrink + 1)) >= target.height())
            ++shrink;
    }
    const auto rgb = decoder.decode({shrink, shrink > 0 ? RawDecoder::Interpolation::Quick
                                                       : RawDecoder::Interpolation::Full});
    if (!rgb)
        return {};
    return fitted(rgbToImage(*rgb), maxSize);
}

QImage ImageFileReader::read(const QString &path, QSize maxSize)
{
    // Devices and pipes behind a picture's name would be read for ever, or block.
    if (QFile file; !FileAccess::openRegularFile(file, path))
        return {};
    const QString suffix = QFileInfo(path).suffix().toLower();
    {
        std::vector<ImageRepClass> classes;
        {
            QMutexLocker lock(&registryMutex());
            classes = registry();
        }
        for (const ImageRepClass &repClass : classes) {
            if (!repClass.fileTypes.contains(suffix))
                continue;
            const QByteArray data = readWholeFile(path);
            if (repClass.canInitWithData(data))
                return fitted(repClass.imageWithData(data), maxSize);
            break;
        }
    }

    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    // Most camera RAW files are TIFF inside, and Qt would show their small first-page thumbnail;
    // others Qt does not know at all. Both go to the RAW decoder first.
    if (format.isEmpty() || (format == "tiff" && !isTiffName(path))) {
        const QByteArray data = readWholeFile(path);
        QImage image = readRaw(data, maxSize);
        if (!image.isNull() || format.isEmpty())
            return image;
    }
    return readWithQt(reader, maxSize);
}
