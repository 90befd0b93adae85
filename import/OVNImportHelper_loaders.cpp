// The loaders of the per-file processor: image files, camera RAW (in a decoder and through
// dcraw), movies and PDF documents. Each decodes no more than the thumbnail needs, in a decoder
// process (MediaDecoder).

#include "import/OVNImportHelper.h"

#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "formats/OVNImageTagParser.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "decoding/MediaDecoder.h"
#include "decoding/RawDecoder.h"
#include "platform/TimedCall.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>

namespace {

QString key(const char *text) { return QString::fromLatin1(text); }

QString sizeText(double value) { return QString::number(value, 'f', 0); }

bool hasNumber(const QVariantMap &map, const char *name)
{
    bool ok = false;
    const QVariant value = map.value(key(name));
    return value.isValid() && value.toString().toDouble(&ok) > 0 && ok;
}

QString previewOnlyProblem() { return QStringLiteral("only the embedded preview could be read"); }

// A file whose metadata could not be read before its deadline: on a stalled mount, for one.
QString metadataTimeProblem()
{
    return DecodeInterrupt::cancelled() ? QStringLiteral("reading the file was cancelled")
                                        : QStringLiteral("the file could not be read in time");
}

std::mutex readerMutex;
OVNImportHelper::MetadataReader &metadataReader()
{
    static OVNImportHelper::MetadataReader reader = [](const QString &path) {
        return OVNImageTagParser().parseFileForExifInfo(path);
    };
    return reader;
}

// The box a picture is decoded into: the thumbnail's own (the readers decode at the smallest
// reduced size that still covers it, then scale smoothly).
QSize decodeBox(QSize box) { return box; }

} // namespace

void OVNImportHelper::setMetadataReader(MetadataReader reader)
{
    const std::lock_guard lock(readerMutex);
    metadataReader() = reader ? std::move(reader)
                              : [](const QString &path) { return OVNImageTagParser().parseFileForExifInfo(path); };
}

std::optional<MetadataDictionary> OVNImportHelper::readMetadataInTime(const QString &path)
{
    MetadataReader reader;
    {
        const std::lock_guard lock(readerMutex);
        reader = metadataReader();
    }
    // Given up at the deadline or Cancel, the thread is left to its read; it ends with it. No
    // thread to be had: nothing is read rather than a read without limit.
    return TimedCall::run([reader = std::move(reader), path] { return reader(path); },
                          DecodeInterrupt::deadlineWithin(decodeTimeLimit()), DecodeInterrupt::cancelFlag())
        .result;
}

QImage OVNImportHelper::loadImageForNSImageMediaFile(const QString &path, QVariantMap &record, QSize box)
{
    // Decoded in a decoder process: its limits are the kernel's, and its faults its own.
    MediaDecoder decoder;
    ImageFileReader::Facts facts;
    QImage image = decoder.read(path, decodeBox(box), &facts);
    // A picture refused for its size still has what its header and metadata say: its size, date,
    // camera and turn are catalogued with the type's icon.
    const bool refusedForSize = image.isNull() && facts.refusal == ImageFileReader::Facts::Refusal::TooLarge;
    if (image.isNull()) {
        // A picture too large for decoding, or stopped at its time limit, is listed with why.
        m_loaderProblem = ImageFileReader::refusalText(facts.refusal);
        if (!refusedForSize)
            return {};
    }
    if (facts.previewOnly)
        m_loaderProblem = previewOnlyProblem();
    QSize fullSize = facts.size;
    if (!refusedForSize && (!fullSize.isValid() || fullSize.isEmpty())) {
        // A reader that cannot tell the size without decoding the whole picture.
        image = decoder.read(path);
        fullSize = image.size();
    }
    if (fullSize.isValid() && !fullSize.isEmpty()) {
        record.insert(key("imagewidth"), sizeText(fullSize.width()));
        record.insert(key("imageheight"), sizeText(fullSize.height()));
    }
    QVariantMap exif;
    if (m_prefs.parseEXIF && m_mapping->getParseEXIFForFile(path)) {
        const std::optional<MetadataDictionary> read = readMetadataInTime(path);
        if (!read) {
            if (!refusedForSize)
                m_loaderProblem = metadataTimeProblem();
            return {};
        }
        exif = *read;
        if (hasNumber(exif, "Width") && hasNumber(exif, "Height")) {
            record.insert(key("imagewidth"), exif.value(key("Width")).toString());
            record.insert(key("imageheight"), exif.value(key("Height")).toString());
        }
    }
    // A camera RAW file's turn as its decoder reads it; it is the one its pixels need, also where
    // the metadata are not read for the file's type.
    if (facts.orientation > 0)
        exif.insert(key("Orientation"), qint64(facts.orientation));
    if (!exif.isEmpty())
        record.insert(key("exif"), exif);
    record.insert(key("filetype"), key("NSImage"));
    m_headerKept = refusedForSize;
    return image;
}

QImage OVNImportHelper::loadImageForRAWMediaFile(const QString &path, QVariantMap &record, QSize box)
{
    // The decoder reads the file; this process only asks whether it is one it may read whole
    // (a camera RAW file is tens of megabytes, and this process holds one per import thread).
    const QFileInfo file(path);
    if (!file.isFile() || file.size() <= 0 || file.size() > ImageFileReader::maxWholeFileBytes)
        return {};
    // Identified and decoded in a decoder process: the camera's embedded preview when it is large
    // enough, else a reduced decode.
    MediaDecoder decoder;
    ImageFileReader::Facts facts;
    QVariantMap metadata;
    const QImage image = decoder.readRaw(path, decodeBox(box), &facts, &metadata);
    if (image.isNull()) {
        m_loaderProblem = ImageFileReader::refusalText(facts.refusal);
        return {};
    }
    bool sizeKnown = false;
    double width = 0;
    double height = 0;
    if (hasNumber(metadata, "RAWImportWidth") && hasNumber(metadata, "RAWImportHeight")) {
        width = metadata.value(key("RAWImportWidth")).toDouble();
        height = metadata.value(key("RAWImportHeight")).toDouble();
        sizeKnown = true;
    }
    if (facts.previewOnly)
        m_loaderProblem = previewOnlyProblem();
    if (m_prefs.parseEXIF && m_mapping->getParseEXIFForFile(path)) {
        const std::optional<MetadataDictionary> read = readMetadataInTime(path);
        if (!read) {
            m_loaderProblem = metadataTimeProblem();
            return {};
        }
        const MetadataDictionary &exif = *read;
        for (auto it = exif.begin(); it != exif.end(); ++it)
            metadata.insert(it.key(), it.value());
        if (!sizeKnown) {
            const char *w = hasNumber(metadata, "ImageSizeWidth") ? "ImageSizeWidth" : "Width";
            const char *h = hasNumber(metadata, "ImageSizeHeight") ? "ImageSizeHeight" : "Height";
            if (hasNumber(metadata, w) && hasNumber(metadata, h)) {
                width = metadata.value(key(w)).toDouble();
                height = metadata.value(key(h)).toDouble();
                sizeKnown = true;
            }
        }
    }
    // The decoder's turn is the one the pixels need; the file's own tag may be the sensor's.
    if (facts.orientation > 0)
        metadata.insert(key("Orientation"), qint64(facts.orientation));
    if (sizeKnown) {
        metadata.insert(key("Width"), sizeText(width));
        metadata.insert(key("Height"), sizeText(height));
        record.insert(key("imagewidth"), sizeText(width));
        record.insert(key("imageheight"), sizeText(height));
    } else {
        record.insert(key("imagewidth"), sizeText(image.width()));
        record.insert(key("imageheight"), sizeText(image.height()));
    }
    record.insert(key("exif"), metadata);
    record.insert(key("filetype"), key("RAW"));
    return image;
}

QImage OVNImportHelper::loadImageForDCRAWMediaFile(const QString &path, QVariantMap &record, QSize box)
{
    if (m_prefs.parseEXIF && m_mapping->getParseEXIFForFile(path)) {
        const std::optional<MetadataDictionary> exif = readMetadataInTime(path);
        if (!exif) {
            m_loaderProblem = metadataTimeProblem();
            return {};
        }
        if (!exif->isEmpty())
            record.insert(key("exif"), *exif);
    }
    record.insert(key("filetype"), key("DCRAW"));
    // Only the thumbnail's picture comes back from dcraw's confinement.
    QSize dcrawSize;
    ImageFileReader::Facts::Refusal refusal = ImageFileReader::Facts::Refusal::None;
    const QImage image = OVNHelper::imageForDCRAWMediaFile(path, decodeBox(box), &dcrawSize, &refusal);
    if (image.isNull()) {
        m_loaderProblem = ImageFileReader::refusalText(refusal);
        return {};
    }
    // dcraw leaves the picture as the sensor holds it; the camera's turn comes from the same
    // identification it makes.
    if (const std::optional<RawDecoder::Info> info = MediaDecoder().identifyRaw(path)) {
        QVariantMap exif = record.value(key("exif")).toMap();
        exif.insert(key("Orientation"), qint64(RawDecoder::exifOrientation(info->flip)));
        record.insert(key("exif"), exif);
    }
    // dcraw's picture is half the sensor's size.
    record.insert(key("imagewidth"), sizeText(2.0 * dcrawSize.width()));
    record.insert(key("imageheight"), sizeText(2.0 * dcrawSize.height()));
    return image;
}

QImage OVNImportHelper::composeFrames(const QList<QImage> &frames, int columns, int quality)
{
    const auto had = std::find_if(frames.cbegin(), frames.cend(), [](const QImage &frame) { return !frame.isNull(); });
    if (had == frames.cend())
        return {};
    if (std::any_of(frames.cbegin(), frames.cend(), [](const QImage &frame) { return frame.isNull(); }))
        return *had;
    const int w = frames.first().width();
    const int h = frames.first().height();
    const int rows = (int(frames.size()) + columns - 1) / columns;
    QImage canvas(columns * w + (columns - 1) * 5, rows * h + (rows - 1) * 5, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return {};
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, quality != 0);
    for (int i = 0; i < frames.size(); ++i) {
        if (frames.at(i).isNull())
            continue;
        const QRect target((i % columns) * (w + 5), (i / columns) * (h + 5), w, h);
        painter.drawImage(target, frames.at(i));
    }
    painter.end();
    return canvas;
}

QImage OVNImportHelper::loadImageForQtMediaFile(const QString &path, QVariantMap &record, QSize box)
{
    QString openError;
    MediaDecoder decoder;
    const std::optional<MediaDecoder::MovieInfo> movie = decoder.openMovie(path, &openError);
    if (!movie) {
        // Stopped at the limits: say so; other failures are the file's type that cannot be read.
        if (decoder.refusal() != ImageFileReader::Facts::Refusal::None || DecodeInterrupt::shouldStop())
            m_loaderProblem = openError;
        return {};
    }
    const MovieTime duration = movie->duration;
    const qint64 seconds = duration.timeScale > 0 ? duration.timeValue / duration.timeScale : duration.timeValue;
    QVariantMap metadata{
        {key("CameraMake"), key("n/a")},
        {key("CameraModel"), key("n/a")},
        {key("DateTime"), key("n/a")},
        {key("MovieDurationInSecs"), seconds},
    };
    if (record.value(key("filetype")).toString() == QLatin1String("Movie"))
        record.insert(key("filetype"), QStringLiteral("Movie;%1").arg(seconds));

    const QSize natural = movie->naturalSize;
    const bool document = movie->kind == Movie::Kind::Document
                          || m_mapping->getTypeForFile(path) == QLatin1String("PDF");
    // Why a frame is missing, for a picture made of the others.
    QString missingFrame;
    auto frameAt = [&](qint64 timeValue, QSize size) {
        // A decoder stopped at its limits stops the frames after it too.
        if (decoder.refusal() != ImageFileReader::Facts::Refusal::None)
            return QImage();
        MovieTime time = duration;
        time.timeValue = timeValue;
        QString frameError;
        QImage frame = decoder.movieFrame(time, size, &frameError);
        if (frame.isNull() && missingFrame.isEmpty())
            missingFrame = frameError.isEmpty() ? QStringLiteral("the frame cannot be decoded") : frameError;
        return frame;
    };

    // A still (a Photoshop file, a picture a movie reader opened) shows its one picture for a
    // second: four frames of it would be four copies.
    const bool still = movie->kind == Movie::Kind::Still;
    QImage image;
    if ((duration.timeValue <= 100 || still) && !document) {
        image = frameAt(0, ImageFileReader::fittedSize(natural, decodeBox(box)));
    } else if (document) {
        // A document's frames are its pages, one second each.
        const int pageCount =
            int(std::max<qint64>(1, duration.timeScale > 0 ? duration.timeValue / duration.timeScale : 1));
        const std::array<int, 4> pages = documentPages(pageCount);
        const int count = m_prefs.pdfThumbnailType == 0 ? 1 : m_prefs.pdfThumbnailType == 1 ? 2 : 4;
        const QSize frameSize = ImageFileReader::fittedSize(natural, count == 1 ? decodeBox(box) : box);
        QList<QImage> frames;
        for (int i = 0; i < count; ++i)
            frames.append(frameAt(qint64(pages[size_t(i)]) * duration.timeScale + duration.timeScale / 2, frameSize));
        image = count == 1 ? frames.first() : composeFrames(frames, 2, 2);
    } else {
        const std::array<qint64, 4> times = movieFrameTimes(duration.timeValue, m_prefs.movieThumbnailTimings);
        const int count = m_prefs.movieThumbnailType == 0 ? 1 : 4;
        const QSize frameSize = ImageFileReader::fittedSize(natural, count == 1 ? decodeBox(box) : box);
        QList<QImage> frames;
        for (int i = 0; i < count; ++i)
            frames.append(frameAt(times[size_t(i)], frameSize));
        image = count == 1 ? frames.first() : composeFrames(frames, 2, m_prefs.thumbnailQuality);
    }
    if (image.isNull()) {
        // A file that gave no frame because of damage says so as every damaged file does.
        if (DecodeReport::noted().isEmpty())
            m_loaderProblem = missingFrame;
        return {};
    }
    if (!missingFrame.isEmpty())
        m_loaderProblem = QStringLiteral("not every frame could be read: %1").arg(missingFrame);
    record.insert(key("imagewidth"), sizeText(natural.width()));
    record.insert(key("imageheight"), sizeText(natural.height()));
    record.insert(key("exif"), metadata);
    return image;
}
