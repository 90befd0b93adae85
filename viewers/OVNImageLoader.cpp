#include "viewers/OVNImageLoader.h"

#include "formats/FileTypeCodes.h"
#include "formats/OVNHelper.h"
#include "formats/OVNOrientation.h"
#include "formats/PictureReaders.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "decoding/DecodeReport.h"
#include "decoding/ImageFileReader.h"
#include "decoding/MediaDecoder.h"
#include "viewers/OVNAdjustChain.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>
#include <QWidget>

#include <mutex>

namespace {
// The stored size the last decode on this thread told (OVNImageLoader::decode), for the result of
// a load whose picture was decoded fitted.
thread_local QSize lastFullSize;
// And why it gave no picture.
thread_local QString lastProblem;

QThreadPool &pool()
{
    static QThreadPool threads;
    return threads;
}

// The file's own orientation when the request asks for it, read on the worker (a camera file's
// needs its decoder, which may be busy with another file); the preview box, given for the upright
// picture, is turned to fit the picture as stored.
int readOrientation(OVNImageLoader::Request &request)
{
    if (!request.orientationFromFile)
        return 0;
    const int code = OVNOrientation::codeInFile(request.path, request.processor);
    if (const int degrees = OVNOrientation::turnFor(code).degrees; degrees == 90 || degrees == 270)
        request.previewSize.transpose();
    return code;
}

std::shared_ptr<const OVNLinearImage> linearSource(const QImage &image, OVNOrientation::Turn turn)
{
    try {
        return std::make_shared<const OVNLinearImage>(
            OVNLinearImage::fromImage(OVNOrientation::flippedBeforeTurn(image, turn)));
    } catch (const std::bad_alloc &) {
        return {};
    }
}
} // namespace

// What a running load reaches its loader through: cleared when the loader goes, under the lock,
// so that no call is queued to a deleted loader.
struct OVNImageLoader::Link {
    std::mutex mutex;
    OVNImageLoader *loader = nullptr;
};

OVNImageLoader::OVNImageLoader(QObject *parent)
    : QObject(parent),
      m_decoder([](const Request &request, bool preview) { return decode(request, preview); }),
      m_link(std::make_shared<Link>())
{
    m_link->loader = this;
}

OVNImageLoader::~OVNImageLoader()
{
    std::lock_guard lock(m_link->mutex);
    m_link->loader = nullptr;
}

quint64 OVNImageLoader::load(const Request &request)
{
    const quint64 generation = ++m_generation;
    auto post = [link = m_link](const Result &result) {
        std::lock_guard lock(link->mutex);
        if (!link->loader)
            return;
        // Posted under the lock: the loader cannot be deleted before the call is queued, and Qt
        // drops the queued call if it is deleted afterwards.
        QMetaObject::invokeMethod(
            link->loader, [loader = link->loader, result] { loader->deliver(result); }, Qt::QueuedConnection);
    };
    // The reduced picture decodes beside the whole one, so that the whole one is not delayed.
    if (FileTypeCodes::processor(request.processor).decodesAtAnySize && request.previewSize.isValid()
        && !request.fittedOnly) {
        pool().start([post, decoder = m_decoder, request, generation] {
            Request asStored = request;
            const int orientation = readOrientation(asStored);
            QImage preview = decoder(asStored, true);
            if (!preview.isNull())
                post({generation, std::move(preview), true, {}, orientation});
        });
    }
    pool().start([post, decoder = m_decoder, request, generation] {
        Request asStored = request;
        const int orientation = readOrientation(asStored);
        lastFullSize = QSize();
        lastProblem.clear();
        Result whole{generation, decoder(asStored, false), false, {}, orientation};
        whole.fullSize = lastFullSize.isValid() ? lastFullSize : whole.image.size();
        if (whole.image.isNull())
            whole.problem = lastProblem;
        // Reduced here, so that the GUI thread does not scale a camera's picture while painting.
        if (asStored.previewSize.isValid())
            whole.screen = reducedToFit(whole.image, asStored.previewSize);
        if (asStored.linear && !whole.image.isNull())
            whole.linear = linearSource(whole.image, asStored.linearTurn);
        post(whole);
    });
    return generation;
}

QImage OVNImageLoader::reducedToFit(const QImage &image, QSize box)
{
    if (image.isNull() || !box.isValid())
        return {};
    const QSize size = ImageFileReader::fittedSize(image.size(), box);
    QImage source = image;
    // A large reduction in one smooth pass is slow; a fast pass to twice the size leaves it little.
    if (source.width() > 4 * size.width() && source.height() > 4 * size.height())
        source = source.scaled(size * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void OVNImageLoader::cancel() { ++m_generation; }

void OVNImageLoader::deliver(const Result &result)
{
    if (result.generation != m_generation || (result.preview && m_wholeDelivered == m_generation))
        return;
    if (!result.preview)
        m_wholeDelivered = result.generation;
    emit loaded(result);
}

QImage OVNImageLoader::decode(const Request &request, bool preview, QSize *fullSize, QString *problem)
{
    // What the decoders read past, for the reason of a file that gave nothing.
    const DecodeReport::Scope report;
    ImageFileReader::Facts::Refusal refusal = ImageFileReader::Facts::Refusal::None;
    const auto told = [&](QImage image) {
        if (image.isNull()) {
            lastProblem = !QFileInfo::exists(request.path)
                              ? QStringLiteral("the file is not there")
                              : ImageFileReader::noPictureText(refusal, report.damage(), report.unsupported());
            if (problem)
                *problem = lastProblem;
        }
        return image;
    };
    const bool fitted = (preview || request.fittedOnly) && request.previewSize.isValid();
    QSize stored;
    QImage image;
    ProcessorCode::Loader loader = FileTypeCodes::processor(request.processor).loader;
    // A still the movie readers would open (a Photoshop file) is a picture the image reading reads
    // (the readers that tell one are asked here, in this process).
    if (loader == ProcessorCode::Loader::Movie) {
        PictureReaders::registerAll();
        if (ImageFileReader::movieStillSize(request.path).isValid())
            loader = ProcessorCode::Loader::Image;
    }
    switch (loader) {
    case ProcessorCode::Loader::Image: {
        // In a decoder process: a picture fitted to a box with a thumbnail's limits (the readers
        // reduce while they read), the whole picture with the larger limit of a full-size read;
        // both end at the decoder's deadline.
        ImageFileReader::Facts facts;
        image = MediaDecoder(fitted ? MediaDecoder::Use::Thumbnail : MediaDecoder::Use::FullSize)
                    .read(request.path, fitted ? request.previewSize : QSize(), &facts);
        // A reduced read that needs more than a thumbnail decoder's memory gets the larger one.
        if (image.isNull() && fitted && facts.refusal == ImageFileReader::Facts::Refusal::TooLarge)
            image = MediaDecoder(MediaDecoder::Use::FullSize).read(request.path, request.previewSize, &facts);
        // A whole picture larger than a decoder may send (over 100 megapixels) is shown reduced
        // as it is read, to a size still larger than any screen; one whose reduced read needs more
        // than the larger decoder has even so (a progressive JPEG's coefficients are held whole
        // beside the rows) as large as that decoder holds, each estimate refused at once.
        for (const int side : {8192, 4096, 2048}) {
            if (!image.isNull() || fitted || facts.refusal != ImageFileReader::Facts::Refusal::TooLarge)
                break;
            image = MediaDecoder(MediaDecoder::Use::FullSize).read(request.path, QSize(side, side), &facts);
        }
        stored = facts.size;
        refusal = facts.refusal;
        break;
    }
    case ProcessorCode::Loader::CameraRaw:
        if (request.fittedOnly && request.previewSize.isValid()) {
            // Developed at the light table's reduction, fitted to the pane in the decoder.
            ImageFileReader::Facts facts;
            image = MediaDecoder(MediaDecoder::Use::FullSize)
                        .developRaw(request.path, request.shrinkFactor, &facts, request.previewSize);
            refusal = facts.refusal;
            if (const std::optional<RawDecoder::Info> info = MediaDecoder().identifyRaw(request.path))
                stored = QSize(info->width, info->height);
            break;
        }
        return told(OVNHelper::imageForRAWMediaFile(request.path, request.shrinkFactor));
    case ProcessorCode::Loader::Dcraw:
        return told(OVNHelper::imageForDCRAWMediaFile(request.path, request.shrinkFactor));
    default:
        // Movies and documents open in windows of their own.
        return told({});
    }
    if (stored.isValid() && !stored.isEmpty()) {
        lastFullSize = stored;
        if (fullSize)
            *fullSize = stored;
    }
    return told(std::move(image));
}

void OVNImageLoader::waitForAll() { pool().waitForDone(); }

QString loadFailureText(const QString &problem)
{
    if (problem.isEmpty())
        return localized("Failed to load media file");
    const QString words = localized(problem);
    return words.left(1).toUpper() + words.mid(1) + QLatin1Char('.');
}

void showLoadFailureAndClose(QWidget *window, const QString &problem)
{
    Alert alert{localized("The media file could not be loaded."),
                loadFailureText(problem),
                {},
                Alert::Style::Warning,
                Alert::Modality::Window,
                window};
    QPointer<QWidget> guarded(window);
    Alerts::show(alert, [guarded](int) {
        if (guarded)
            guarded->close();
    });
}
