#include "decoding/PictureData.h"

#include "decoding/JpegDecoder.h"

#include <QBuffer>
#include <QImageReader>

QSize PictureData::fittedSize(QSize source, QSize box)
{
    if (source.isEmpty() || box.isEmpty())
        return source;
    if (source.width() <= box.width() && source.height() <= box.height())
        return source;
    return source.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

QImage PictureData::decodeToFit(const QByteArray &data, QSize box, QSize *sourceSize)
{
    // Stored thumbnails are JPEGs: libjpeg directly, without a reader and its format probing.
    if (JpegDecoder::looksLikeJpeg(data.constData(), size_t(data.size()))) {
        JpegDecoder::Result result = JpegDecoder::decode(data.constData(), size_t(data.size()), box);
        if (result.status == JpegDecoder::Status::Failed)
            return QImage();
        if (result.status == JpegDecoder::Status::Decoded) {
            if (sourceSize)
                *sourceSize = result.fullSize;
            const QSize fitted = fittedSize(result.fullSize, box);
            if (result.image.size() == fitted)
                return std::move(result.image);
            return result.image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
    }
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QSize stored = reader.size();
    const QSize fitted = fittedSize(stored, box);
    if (stored.isValid() && fitted != stored)
        reader.setScaledSize(fitted);
    QImage image = reader.read();
    if (image.isNull())
        return image;
    if (sourceSize)
        *sourceSize = stored.isValid() ? stored : image.size();
    if (!stored.isValid() && !box.isEmpty() && (image.width() > box.width() || image.height() > box.height()))
        image = image.scaled(fittedSize(image.size(), box), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}
