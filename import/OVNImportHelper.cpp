// The per-file processor: loader choice, scaling, turning, JPEG encoding and the fixed keys.

#include "import/OVNImportHelper.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/OVNOrientation.h"
#include "import/OVNImportParserAdobe.h"
#include "import/OVNImportParserGenericDocument.h"
#include "import/OVNImportParserWeblocDocument.h"
#include "decoding/PictureRows.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/JpegEncoder.h"
#include "platform/FileAccess.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTransform>

#include <cmath>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

QString key(const char *text) { return QString::fromLatin1(text); }

// Why a file gave no picture when its decoding was stopped: its time limit or the import's Cancel.
QString stoppedProblem()
{
    return DecodeInterrupt::cancelled() ? QStringLiteral("reading the file was cancelled")
                                        : QStringLiteral("the picture could not be read in time");
}

int intPreference(const UserDefaults &defaults, const char *name) { return int(defaults.integerForKey(key(name))); }

} // namespace

OVNImportHelper::OVNImportHelper() : m_mapping(std::make_shared<OVNExtensionMapping>()) {}

OVNImportHelper::OVNImportHelper(std::shared_ptr<const OVNExtensionMapping> mapping)
    : m_mapping(mapping ? std::move(mapping) : std::make_shared<OVNExtensionMapping>())
{}

OVNImportHelper::~OVNImportHelper() = default;

OVNImportHelper::Preferences OVNImportHelper::readPreferences()
{
    UserDefaults &defaults = UserDefaults::standard();
    defaults.registerDefaults({
        {key("ImageScanForEXIF"), key("1")},
        {key("ImageScanForIPTC"), key("0")},
        {key("ImageThumbnailQuality"), key("1")},
        {key("MovieThumbnailType"), key("1")},
        {key("MovieThumbnailTiming1"), key("10")},
        {key("MovieThumbnailTiming2"), key("40")},
        {key("MovieThumbnailTiming3"), key("60")},
        {key("MovieThumbnailTiming4"), key("90")},
    });
    Preferences prefs;
    prefs.parseEXIF = defaults.boolForKey(key("ImageScanForEXIF"));
    prefs.parseIPTC = defaults.boolForKey(key("ImageScanForIPTC"));
    prefs.thumbnailQuality = intPreference(defaults, "ImageThumbnailQuality");
    prefs.movieThumbnailType = intPreference(defaults, "MovieThumbnailType");
    prefs.movieThumbnailTimings = {
        intPreference(defaults, "MovieThumbnailTiming1"), intPreference(defaults, "MovieThumbnailTiming2"),
        intPreference(defaults, "MovieThumbnailTiming3"), intPreference(defaults, "MovieThumbnailTiming4")};
    prefs.pdfThumbnailType = intPreference(defaults, "PDFThumbnailType");
    prefs.noThumbnailAction = intPreference(defaults, "ImportGenericNoThumbnailAction");
    return prefs;
}

void OVNImportHelper::loadPreferences()
{
    m_prefs = readPreferences();
    m_prefsLoaded = true;
}

QSizeF OVNImportHelper::thumbnailDimensions(QSizeF picture, QSizeF box)
{
    if (picture.width() <= 0 || picture.height() <= 0)
        return box;
    const float ratio = float(picture.height() / picture.width());
    if (picture.height() > picture.width())
        return QSizeF(box.width() / ratio, box.height());
    return QSizeF(box.width(), box.height() * ratio);
}

QSize OVNImportHelper::thumbnailPixelSize(QSize picture, QSize box)
{
    const QSizeF size = thumbnailDimensions(QSizeF(picture), QSizeF(box));
    return QSize(std::max(1, int(std::lround(size.width()))), std::max(1, int(std::lround(size.height()))));
}

QImage OVNImportHelper::scaleImage(const QImage &image, QSize box, int quality)
{
    if (image.isNull())
        return {};
    const QSize target = thumbnailPixelSize(image.size(), box);
    if (target == image.size())
        return image;
    // A small picture is made the box's size; smoothly, by the faster blend of the two.
    if (quality != 0 && target.width() >= image.width() && target.height() >= image.height())
        return PictureRows::enlarged(image, target);
    return image.scaled(target, Qt::IgnoreAspectRatio,
                        quality == 0 ? Qt::FastTransformation : Qt::SmoothTransformation);
}

QImage OVNImportHelper::turnedForOrientation(const QImage &image, int orientation)
{
    return OVNOrientation::turned(image, orientation);
}

QString OVNImportHelper::pathWords(const QString &path)
{
    QString withoutExtension = path;
    const QString extension = OVNExtensionMapping::pathExtension(path);
    if (!extension.isEmpty())
        withoutExtension.chop(extension.size() + 1);
    QStringList components = withoutExtension.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (path.startsWith(QLatin1Char('/')))
        components.prepend(QStringLiteral("/"));
    QString words;
    for (qsizetype i = components.size() - 1; i >= 4; --i)
        words += components.at(i) + QLatin1Char(' ');
    return words;
}

std::array<qint64, 4> OVNImportHelper::movieFrameTimes(qint64 duration, const std::array<int, 4> &timings)
{
    std::array<qint64, 4> times{};
    for (size_t i = 0; i < times.size(); ++i)
        times[i] = qint64(double(duration) * timings[i] / 100.0);
    return times;
}

std::array<int, 4> OVNImportHelper::documentPages(int pageCount)
{
    const int last = std::max(0, pageCount - 1);
    return {0, std::min(1, last), std::max(0, last - 1), last};
}

QByteArray OVNImportHelper::jpegData(const QImage &image, int quality)
{
    if (image.isNull())
        return {};
    QImage opaque = image;
    if (image.hasAlphaChannel()) {
        opaque = QImage(image.size(), QImage::Format_RGB32);
        opaque.fill(Qt::white);
        QPainter painter(&opaque);
        painter.drawImage(0, 0, image);
    }
    // Byte for byte what Qt's writer makes, without looking for its plugin for every thumbnail.
    return JpegEncoder::encode(opaque, quality).value_or(QByteArray());
}

namespace {

std::atomic<qint64> decodeTimeLimitMs{OVNImportHelper::defaultDecodeTimeLimit.count()};

// When the file was made, where its file system keeps that, else when it was last changed: in
// seconds since the epoch, of the opening `fd` or else of what `path` names; nothing where neither
// can be looked at.
std::optional<qint64> fileDateOf(int fd, const QString &path)
{
    struct statx times {};
    const int looked =
        fd >= 0 ? ::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME | STATX_MTIME, &times)
                : ::statx(AT_FDCWD, QFile::encodeName(path).constData(), 0, STATX_BTIME | STATX_MTIME, &times);
    if (looked != 0)
        return std::nullopt;
    if (times.stx_mask & STATX_BTIME)
        return qint64(times.stx_btime.tv_sec);
    if (times.stx_mask & STATX_MTIME)
        return qint64(times.stx_mtime.tv_sec);
    return std::nullopt;
}

} // namespace

void OVNImportHelper::setDecodeTimeLimit(std::chrono::milliseconds limit) { decodeTimeLimitMs.store(limit.count()); }

std::chrono::milliseconds OVNImportHelper::decodeTimeLimit()
{
    return std::chrono::milliseconds(decodeTimeLimitMs.load());
}

QByteArray OVNImportHelper::thumbnailForMediaFile(const QString &path, QVariantMap &record)
{
    m_lastProblem.clear();
    m_loaderProblem.clear();
    m_lastProblemKeptPicture = false;
    m_headerKept = false;
    // One hostile file costs its own time limit at most, and Cancel reaches its decoding.
    const DecodeInterrupt::Scope interrupt(m_cancelled.get(), decodeTimeLimit());
    // What the decoders read past on the way.
    const DecodeReport::Scope report;
    const QFileInfo info(path); // its name only
    // A file held for its import is measured itself: its name may name another file meanwhile.
    bool haveAttributes = false;
    qint64 fileSize = 0;
    std::optional<qint64> fileDate;
    if (const std::optional<int> held = FileAccess::openHeld(path)) {
        QFile file;
        haveAttributes = *held >= 0 && file.open(*held, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        fileSize = haveAttributes ? file.size() : 0;
        if (haveAttributes)
            fileDate = fileDateOf(file.handle(), path);
    } else {
        haveAttributes = info.exists();
        fileSize = haveAttributes ? info.size() : 0;
        if (haveAttributes)
            fileDate = fileDateOf(-1, path);
    }
    if (!m_prefsLoaded)
        loadPreferences();

    const ProcessorCode &processor = FileTypeCodes::processor(m_mapping->getProcessorForFile(path));
    const QString type = m_mapping->getTypeForFile(path);
    const QSize box = m_mapping->getThumbSizeForFile(path);
    record.insert(key("filetype"), type);

    using Loader = ProcessorCode::Loader;
    const Loader loader = processor.loader;
    if (loader == Loader::None) {
        m_lastProblem = QStringLiteral("unsupported file type");
        return {};
    }

    QImage picture;
    bool documentIcon = false;
    if (loader == Loader::Webloc) {
        picture = OVNImportParserWeblocDocument::loadImageForFile(path, record);
        documentIcon = true;
    } else if (fileSize > 0) {
        try {
            switch (loader) {
            case Loader::Movie:
                picture = loadImageForQtMediaFile(path, record, box);
                break;
            case Loader::Image:
                picture = loadImageForNSImageMediaFile(path, record, box);
                break;
            case Loader::CameraRaw:
                picture = loadImageForRAWMediaFile(path, record, box);
                break;
            case Loader::Dcraw:
                picture = loadImageForDCRAWMediaFile(path, record, box);
                break;
            case Loader::Illustrator:
                picture = OVNImportParserAdobe::loadImageForIllustratorFile(path, record);
                documentIcon = true;
                break;
            case Loader::Document:
                picture = OVNImportParserGenericDocument::loadImageForFile(path, record);
                documentIcon = true;
                break;
            case Loader::Webloc:
            case Loader::None:
                break;
            }
        } catch (...) {
            picture = QImage();
        }
    }

    QImage thumbnail;
    if (picture.isNull() || documentIcon) {
        // No picture of its own: an icon for the file's type.
        if (!documentIcon) {
            m_lastProblem = !haveAttributes              ? QStringLiteral("the file cannot be found")
                            : fileSize == 0              ? QStringLiteral("the file is empty")
                            : !m_loaderProblem.isEmpty() ? m_loaderProblem
                            : DecodeInterrupt::shouldStop()
                                ? stoppedProblem()
                                : ImageFileReader::noPictureText(ImageFileReader::Facts::Refusal::None, report.damage(),
                                                                 report.unsupported());
            if (!m_headerKept)
                record.remove(key("exif"));
        }
        // "ImportGenericNoThumbnailAction" 0: the desktop's icon for the type where it has one.
        if (m_prefs.noThumbnailAction == 0)
            thumbnail = OVNImportParserGenericDocument::desktopIcon(path);
        if (thumbnail.isNull())
            thumbnail = OVNImportParserGenericDocument::typeIcon(info.suffix());
        if (m_headerKept && !documentIcon) {
            // A picture refused for its size: its size and turn as its header and metadata say
            // (the icon itself is not turned).
            const QVariantMap exif = record.value(key("exif")).toMap();
            if (!record.contains(key("imagewidth")) || !record.contains(key("imageheight"))) {
                record.insert(key("imagewidth"), key("0"));
                record.insert(key("imageheight"), key("0"));
            }
            record.insert(key("Orientation"), processor.turn != ProcessorCode::Turn::None
                                                  ? exif.value(key("Orientation")).toString().toInt()
                                                  : 0);
        } else {
            record.insert(key("imagewidth"), key("0"));
            record.insert(key("imageheight"), key("0"));
            record.insert(key("Orientation"), 0);
        }
    } else {
        thumbnail = scaleImage(picture, box, m_prefs.thumbnailQuality);
        picture = QImage();
        if (!m_loaderProblem.isEmpty() || !report.damage().isEmpty()) {
            m_lastProblem = !m_loaderProblem.isEmpty() ? m_loaderProblem
                                                       : ImageFileReader::damagedText(report.damage());
            m_lastProblemKeptPicture = true;
        }
        const QVariantMap exif = record.value(key("exif")).toMap();
        if (!exif.isEmpty()) {
            const QString subject = exif.value(key("DC Subject and Keywords")).toString();
            if (exif.contains(key("DC Subject and Keywords")))
                record.insert(key("shortdesc"), QString(subject).replace(QLatin1Char('\n'), QLatin1Char(' ')));
            if (exif.contains(key("DC Title")))
                record.insert(key("keywords"), exif.value(key("DC Title")).toString());
            if (exif.contains(key("DC Description")))
                record.insert(key("fulldesc"), exif.value(key("DC Description")).toString());
        }
        int orientation = 0;
        if (processor.turn != ProcessorCode::Turn::None && exif.contains(key("Orientation")))
            orientation = exif.value(key("Orientation")).toString().toInt();
        record.insert(key("Orientation"), orientation);
        thumbnail = turnedForOrientation(thumbnail, orientation);
    }

    const QByteArray jpeg = jpegData(thumbnail);
    if (jpeg.isEmpty()) {
        m_lastProblem = QStringLiteral("no thumbnail could be made");
        return {};
    }
    record.insert(key("thumbimage"), jpeg);

    if (!m_cataloguedBy)
        m_cataloguedBy = SystemInfo::fullName();
    record.insert(key("cataloguedby"), *m_cataloguedBy);
    record.insert(key("displaytag"), info.fileName());
    record.insert(key("servername"), SystemInfo::hostName());
    record.insert(key("serverpath"), key("1"));
    record.insert(key("absolutepath"), path);
    record.insert(key("keywords"), pathWords(path));
    record.insert(key("filesize"), QString::number(fileSize));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    record.insert(key("filedts"), OVNDatabaseAccess::localTimestampText(fileDate.value_or(now)));
    record.insert(key("dts"), OVNDatabaseAccess::localTimestampText(now));
    return jpeg;
}
