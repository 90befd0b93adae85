#include "output/OVNJpegWriter.h"

#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "formats/OVNOrientation.h"
#include "platform/FileAccess.h"
#include "decoding/ImageFileReader.h"
#include "decoding/MediaDecoder.h"

#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

// Read in a decoder process with the limits of a full-size read; a JPEG is decoded at the
// smallest DCT scale that still covers the box it is written at (a 12-megapixel file for a
// 1600-pixel export at a quarter of its pixels), other readers reduce as they read where they can.
QImage readImage(const QString &source, int maxwidth, int maxheight)
{
    ImageFileReader::Facts facts;
    QImage image = MediaDecoder(MediaDecoder::Use::FullSize).read(source, QSize(maxwidth, maxheight), &facts);
    // The reader rounds where the writer's sizes are truncated: the writer's own size wins.
    const QSize target = facts.size.isValid() ? OVNJpegWriter::fittedSize(facts.size, maxwidth, maxheight) : QSize();
    if (!image.isNull() && target.isValid() && !target.isEmpty() && image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage loadSource(const QString &source, int maxwidth, int maxheight)
{
    const ProcessorCode &processor = FileTypeCodes::processor(OVNExtensionMapping().getProcessorForFile(source));
    if (!processor.writable)
        return {};
    switch (processor.loader) {
    case ProcessorCode::Loader::Image:
        return readImage(source, maxwidth, maxheight);
    case ProcessorCode::Loader::CameraRaw:
        return OVNHelper::imageForRAWMediaFile(source);
    case ProcessorCode::Loader::Dcraw:
        return OVNHelper::imageForDCRAWMediaFile(source);
    case ProcessorCode::Loader::Movie:
        return OVNHelper::imageForQTMediaFile(source);
    default:
        return {};
    }
}

} // namespace

QSize OVNJpegWriter::fittedSize(QSize size, int maxwidth, int maxheight)
{
    const double w = size.width(), h = size.height();
    if (w <= maxwidth && h <= maxheight)
        return size;
    const double rw = w / maxwidth, rh = h / maxheight;
    const double fw = rw > rh ? maxwidth : w / rh;
    const double fh = rw > rh ? h / rw : maxheight;
    return QSize(std::max(1, int(fw)), std::max(1, int(fh)));
}

int OVNJpegWriter::jpegQuality(float quality)
{
    if (!(quality > 0.0f))
        quality = 0.85f;
    if (quality > 1.0f)
        quality = 1.0f;
    return int(std::lround(quality * 100.0f));
}

void OVNJpegWriter::drawCaption(QImage &image, const QString &author, const QString &filename)
{
    QString text;
    if (!author.isEmpty())
        text = author + QLatin1Char('\n');
    if (!filename.isEmpty())
        text += filename;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    font.setBold(true);
    const QFontMetrics metrics(font);
    const QRect bounds = metrics.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignHCenter, text);
    const int tw = bounds.width(), th = bounds.height();
    const int cw = image.width();

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath box;
    box.addRoundedRect(QRectF(cw - tw - 12, 10, tw + 4, th), 3, 3);
    painter.fillPath(box, QColor::fromRgbF(0.7f, 0.7f, 0.7f, 0.3f));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(cw - tw - 10, 10, tw, th), Qt::AlignHCenter, text);
}

bool OVNJpegWriter::scaleAndSaveAsJPEG(const QString &source, int maxwidth, int maxheight, float quality,
                                       const QString &saveTo, Caption caption, const QString &author,
                                       const QString &filename, int orientation)
{
    if (maxwidth <= 0 || maxheight <= 0)
        return false;
    try {
        QImage image = loadSource(source, maxwidth, maxheight);
        if (image.isNull())
            return false;
        // Sizes are pixels: a 300-dpi file is not shrunk to its size in points.
        const QSize target = fittedSize(image.size(), maxwidth, maxheight);
        if (image.size() != target)
            image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        image = OVNOrientation::turned(image, orientation);
        if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_Grayscale8)
            image = image.convertToFormat(QImage::Format_RGB32);
        if (caption == Caption::On) {
            if (image.format() != QImage::Format_RGB32)
                image = image.convertToFormat(QImage::Format_RGB32);
            drawCaption(image, author, filename);
        }
        if (image.isNull())
            return false;

        // Beside its place and renamed into it, a link there followed only by the shared rule
        // (an output folder may be shared with other accounts).
        return FileAccess::writeThroughTemporary(
            saveTo,
            [&](QIODevice &out) {
                QImageWriter writer(&out, "jpeg");
                writer.setQuality(jpegQuality(quality));
                return writer.write(image);
            },
            FileAccess::Existing::Replace);
    } catch (...) {
        // Out of memory on a huge picture, for one.
        return false;
    }
}
