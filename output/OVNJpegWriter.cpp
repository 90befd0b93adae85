#include "output/OVNJpegWriter.h"

#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNHelper.h"
#include "formats/OVNOrientation.h"
#include "platform/FileAccess.h"
#include "platform/Localized.h"
#include "decoding/DecodeReport.h"
#include "decoding/JpegEncoder.h"
#include "decoding/PictureRows.h"
#include "decoding/MediaDecoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QThread>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <optional>
#include <vector>

#include <unistd.h>

using Refusal = ImageFileReader::Facts::Refusal;

namespace {

// A number of turns that threads take and give back, each waiting until one is free. A thread
// that holds a turn of these already takes no second one: it would wait for itself.
class Turns
{
public:
    explicit Turns(int limit) : m_limit(limit) {}

    class Turn
    {
    public:
        explicit Turn(Turns &turns) : m_turns(turns)
        {
            if (std::find(held.begin(), held.end(), &turns) != held.end())
                return;
            std::unique_lock lock(m_turns.m_mutex);
            m_turns.m_free.wait(lock, [this] { return m_turns.m_running < m_turns.m_limit; });
            ++m_turns.m_running;
            held.push_back(&turns);
            m_taken = true;
        }
        ~Turn()
        {
            if (!m_taken)
                return;
            held.erase(std::find(held.begin(), held.end(), &m_turns));
            {
                const std::lock_guard lock(m_turns.m_mutex);
                --m_turns.m_running;
            }
            m_turns.m_free.notify_one();
        }
        Turn(const Turn &) = delete;
        Turn &operator=(const Turn &) = delete;

    private:
        static thread_local std::vector<const Turns *> held;
        Turns &m_turns;
        bool m_taken = false;
    };

    int running()
    {
        const std::lock_guard lock(m_mutex);
        return m_running;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_free;
    int m_running = 0;
    const int m_limit;
};

thread_local std::vector<const Turns *> Turns::Turn::held;

// The outputs' full-size decodes, taken one at a time: eight export threads with a full-size
// decoder each would hold eight whole pictures at once. A thread waits for its turn before its
// decode starts, so the wait does not count against the decode's own time.
Turns &fullSizeTurns()
{
    static Turns turns(OVNJpegWriter::fullSizeDecodesAtOnce);
    return turns;
}

// The pictures the outputs make at once in reduced decodes, each from its decode to its written
// file (see picturesAtOnce).
Turns &pictureTurns()
{
    static Turns turns(OVNJpegWriter::picturesAtOnce());
    return turns;
}

bool smallBox(QSize box) { return qint64(box.width()) * box.height() <= OVNJpegWriter::smallBoxPixels; }

// One read through `decode` in a decoder of the box's use; a small box whose reduced read needed
// more than a thumbnail decoder's memory is read again in a full-size decoder, in its turn.
template <typename Decode>
QImage decodeForBox(QSize box, Refusal &refusal, const Decode &decode)
{
    if (smallBox(box)) {
        QImage image;
        {
            // Taken already when the caller writes the picture (scaleAndSaveAsJPEG).
            const Turns::Turn turn(pictureTurns());
            image = decode(MediaDecoder::Use::Thumbnail, refusal);
        }
        if (!image.isNull() || refusal != Refusal::TooLarge)
            return image;
    }
    const Turns::Turn turn(fullSizeTurns());
    refusal = Refusal::None;
    return decode(MediaDecoder::Use::FullSize, refusal);
}

// Read in a decoder process; a JPEG is decoded at the smallest DCT scale that still covers the box
// it is written at (a 12-megapixel file for a 1600-pixel export at a quarter of its pixels), other
// readers reduce as they read where they can. Only the picture fitted to the box comes back.
QImage readImage(const QString &source, QSize box, Refusal &refusal)
{
    ImageFileReader::Facts facts;
    QImage image = decodeForBox(box, refusal, [&](MediaDecoder::Use use, Refusal &why) {
        facts = ImageFileReader::Facts{};
        QImage read = MediaDecoder(use).read(source, box, &facts);
        why = facts.refusal;
        return read;
    });
    // The reader rounds where the writer's sizes are truncated: the writer's own size wins.
    const QSize target = facts.size.isValid() ? OVNJpegWriter::fittedSize(facts.size, box.width(), box.height())
                                              : QSize();
    if (!image.isNull() && target.isValid() && !target.isEmpty() && image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

// A camera RAW file developed at the largest reduction that still covers the box (LibRaw's shrink
// factor: each step halves both sides), fitted to the box in the decoder.
QImage readCameraRaw(const QString &source, QSize box, Refusal &refusal)
{
    MediaDecoder identify;
    const std::optional<RawDecoder::Info> info = identify.identifyRaw(source);
    if (!info) {
        refusal = identify.refusal();
        return {};
    }
    int shrink = 0;
    const QSize target = ImageFileReader::fittedSize(QSize(info->width, info->height), box);
    while (shrink < 3 && (info->width >> (shrink + 1)) >= target.width()
           && (info->height >> (shrink + 1)) >= target.height())
        ++shrink;
    return decodeForBox(box, refusal, [&](MediaDecoder::Use use, Refusal &why) {
        ImageFileReader::Facts facts;
        QImage image = MediaDecoder(use).developRaw(source, shrink, &facts, box);
        why = facts.refusal;
        return image;
    });
}

// A movie's or document's first picture, decoded at the size that fits the box.
QImage readFirstFrame(const QString &source, QSize box, Refusal &refusal)
{
    return decodeForBox(box, refusal, [&](MediaDecoder::Use use, Refusal &why) {
        MediaDecoder decoder(use);
        const std::optional<MediaDecoder::MovieInfo> movie = decoder.openMovie(source);
        if (!movie) {
            why = decoder.refusal();
            return QImage();
        }
        MovieTime time = movie->duration;
        time.timeValue = 0;
        QSize size;
        if (movie->naturalSize.isValid() && !movie->naturalSize.isEmpty()) {
            // A document's page is drawn at the size asked, larger than its size in points too;
            // a movie's frame is never enlarged.
            size = movie->kind == Movie::Kind::Document
                       ? movie->naturalSize.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1))
                       : ImageFileReader::fittedSize(movie->naturalSize, box);
        }
        QImage frame = decoder.movieFrame(time, size);
        why = decoder.refusal();
        return frame;
    });
}

QString folderOf(const QString &path) { return QFileInfo(path).absolutePath(); }

// The file of a picture that needs nothing drawn on it, written whole in a decoder
// (MediaDecoder::writeJpeg): only the encoded file comes back. Of a still image or a camera RAW
// file; nullopt for anything else, or where there is no picture (`problem` then says why).
std::optional<std::optional<QByteArray>> writtenInDecoder(const QString &source, QSize box, int orientation,
                                                          int quality, QString &problem)
{
    const ProcessorCode &processor = FileTypeCodes::processor(OVNExtensionMapping().getProcessorForFile(source));
    if (!processor.writable)
        return std::nullopt;
    const MediaDecoder::Use use = smallBox(box) ? MediaDecoder::Use::Thumbnail : MediaDecoder::Use::FullSize;
    const DecodeReport::Scope report;
    ImageFileReader::Facts facts;
    std::optional<QByteArray> jpeg;
    switch (processor.loader) {
    case ProcessorCode::Loader::Image:
        jpeg = MediaDecoder(use).writeJpeg(source, box, orientation, quality, &facts);
        break;
    case ProcessorCode::Loader::CameraRaw: {
        MediaDecoder identify;
        const std::optional<RawDecoder::Info> info = identify.identifyRaw(source);
        if (!info) {
            facts.refusal = identify.refusal();
            break;
        }
        // The largest reduction that still covers the box (LibRaw's shrink factor: each step
        // halves both sides).
        int shrink = 0;
        const QSize target = ImageFileReader::fittedSize(QSize(info->width, info->height), box);
        while (shrink < 3 && (info->width >> (shrink + 1)) >= target.width()
               && (info->height >> (shrink + 1)) >= target.height())
            ++shrink;
        jpeg = MediaDecoder(use).writeRawJpeg(source, shrink, box, orientation, quality, &facts);
        break;
    }
    default:
        return std::nullopt;
    }
    if (!jpeg)
        problem = OVNJpegWriter::readingProblem(facts.refusal, report.damage());
    return jpeg;
}

// All of `bytes` to the file behind `out`, keeping the system's error of a write that failed.
bool writeBytes(QIODevice &out, const QByteArray &bytes, int &error)
{
    auto *file = qobject_cast<QFileDevice *>(&out);
    if (!file || file->handle() < 0) {
        const bool written = out.write(bytes) == bytes.size();
        error = written ? 0 : EIO;
        return written;
    }
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t count = ::write(file->handle(), data, size_t(left));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            error = count < 0 ? errno : ENOSPC;
            return false;
        }
        data += count;
        left -= count;
    }
    return true;
}

} // namespace

int OVNJpegWriter::fullSizeDecodesRunning() { return fullSizeTurns().running(); }

int OVNJpegWriter::picturesAtOnce() { return std::max(2, QThread::idealThreadCount()); }

int OVNJpegWriter::picturesRunning() { return pictureTurns().running(); }

QString OVNJpegWriter::readingProblem(Refusal refusal, const QString &damage, const QString &unsupported)
{
    return localized(ImageFileReader::noPictureText(refusal, damage, unsupported));
}

QString OVNJpegWriter::writingProblem(int error, const QString &folder, const QString &fallback)
{
    if (error == ENOSPC || error == EDQUOT)
        return localized("the disk is full (%1)").arg(folder);
    if (error != 0)
        return localized("the file could not be written in %1: %2")
            .arg(folder, QString::fromLocal8Bit(std::strerror(error)));
    return fallback.isEmpty() ? localized("the file could not be written in %1").arg(folder) : fallback;
}

QImage OVNJpegWriter::loadSource(const QString &source, int maxwidth, int maxheight, QString *why)
{
    const QSize box(maxwidth, maxheight);
    const ProcessorCode &processor = FileTypeCodes::processor(OVNExtensionMapping().getProcessorForFile(source));
    if (!processor.writable) {
        if (why)
            *why = localized("files of this type are not written as pictures");
        return {};
    }
    // What the decoders read past on the way, for the reason of a file that gave nothing.
    const DecodeReport::Scope report;
    Refusal refusal = Refusal::None;
    QImage image;
    switch (processor.loader) {
    case ProcessorCode::Loader::Image:
        image = readImage(source, box, refusal);
        break;
    case ProcessorCode::Loader::CameraRaw:
        image = readCameraRaw(source, box, refusal);
        break;
    case ProcessorCode::Loader::Dcraw:
        image = OVNHelper::imageForDCRAWMediaFile(source);
        break;
    case ProcessorCode::Loader::Movie:
        image = readFirstFrame(source, box, refusal);
        break;
    default:
        break;
    }
    if (image.isNull() && why)
        *why = readingProblem(refusal, report.damage(), report.unsupported());
    return image;
}

QSize OVNJpegWriter::fittedSize(QSize size, int maxwidth, int maxheight)
{
    return JpegEncoder::writtenSize(size, QSize(maxwidth, maxheight));
}

std::optional<QByteArray> OVNJpegWriter::encodedJpeg(const QImage &image, int quality)
{
    return JpegEncoder::encode(image, quality);
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
                                       const QString &filename, int orientation, QString *why)
{
    QString problem;
    const auto failed = [&](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    if (maxwidth <= 0 || maxheight <= 0)
        return failed(localized("the size to write is not valid"));
    // Beside its place and renamed into it, a link there followed only by the shared rule (an
    // output folder may be shared with other accounts). On a thread of its own, given up on when
    // the folder does not answer (a mount that stopped answering): what the write holds is its own.
    const auto write = [&](const QByteArray &jpeg) {
        struct Write {
            int error = 0;
            QString problem;
        };
        const auto outcome = std::make_shared<Write>();
        const std::optional<bool> written = FileAccess::answerWithin(folderOf(saveTo), [outcome, saveTo, jpeg] {
            return FileAccess::writeThroughTemporary(
                saveTo, [&](QIODevice &out) { return writeBytes(out, jpeg, outcome->error); },
                FileAccess::Existing::Replace, &outcome->problem);
        });
        if (!written)
            return failed(FileAccess::notAnsweringReason(folderOf(saveTo)));
        if (!*written)
            return failed(writingProblem(outcome->error, folderOf(saveTo), outcome->problem));
        return true;
    };
    // A picture without a caption is written whole in its decoder, in a turn of its own: this
    // process holds only its file.
    if (caption == Caption::Off) {
        std::optional<std::optional<QByteArray>> jpeg;
        {
            const Turns::Turn turn(pictureTurns());
            jpeg = writtenInDecoder(source, QSize(maxwidth, maxheight), orientation, jpegQuality(quality), problem);
        }
        if (jpeg && !*jpeg)
            return failed(problem);
        if (jpeg)
            return write(**jpeg);
    }
    // A picture of a small box holds its turn until it is written, so that the program holds no
    // more pictures than decoders work for it.
    std::optional<Turns::Turn> turn;
    if (smallBox(QSize(maxwidth, maxheight)))
        turn.emplace(pictureTurns());
    try {
        QImage image = loadSource(source, maxwidth, maxheight, &problem);
        if (image.isNull())
            return failed(problem);
        // Sizes are pixels: a 300-dpi file is not shrunk to its size in points.
        const QSize target = fittedSize(image.size(), maxwidth, maxheight);
        if (image.size() != target)
            image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        image = OVNOrientation::turned(image, orientation);
        // Transparency on white, as the thumbnails show it.
        image = PictureRows::onWhite(image);
        if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_Grayscale8)
            image = image.convertToFormat(QImage::Format_RGB32);
        if (caption == Caption::On) {
            if (image.format() != QImage::Format_RGB32)
                image = image.convertToFormat(QImage::Format_RGB32);
            drawCaption(image, author, filename);
        }
        if (image.isNull())
            return failed(localized("the picture needs more memory than decoding may use"));

        // Encoded first, so that a write that fails is told by the system's own error.
        const std::optional<QByteArray> encoded = encodedJpeg(image, jpegQuality(quality));
        if (!encoded)
            return failed(localized("the picture could not be encoded as JPEG"));
        image = QImage();
        return write(*encoded);
    } catch (...) {
        // Out of memory on a huge picture, for one.
        return failed(localized("the picture needs more memory than decoding may use"));
    }
}
