#include "app/OVNClipboardPicture.h"

#include "decoding/MediaDecoder.h"

#include <QDir>
#include <QMimeData>
#include <QTemporaryFile>

QImage OVNClipboardPicture::fromMimeData(const QMimeData *data)
{
    if (!data)
        return {};
    QImage image;
    if (data->hasFormat(QStringLiteral("image/tiff"))
        && image.loadFromData(data->data(QStringLiteral("image/tiff")), "TIFF"))
        return image;
    if (data->hasImage()) {
        image = qvariant_cast<QImage>(data->imageData());
        if (!image.isNull())
            return image;
    }
    for (const QString &format : data->formats()) {
        if (format.startsWith(QLatin1String("image/")) && image.loadFromData(data->data(format)))
            return image;
    }
    if (data->hasFormat(QStringLiteral("application/pdf"))) {
        // The PDF reader takes files: the document goes through a private temporary one.
        QTemporaryFile file(QDir::tempPath() + QStringLiteral("/ostrevan-clipboard-XXXXXX.pdf"));
        const QByteArray pdf = data->data(QStringLiteral("application/pdf"));
        if (file.open() && file.write(pdf) == pdf.size() && file.flush()) {
            image = MediaDecoder::firstMovieFrame(file.fileName());
        }
    }
    return image;
}
