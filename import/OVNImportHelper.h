#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include "formats/MetadataDictionary.h"

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <memory>

class OVNExtensionMapping;

// Turns one media file into an import record with its JPEG thumbnail: picks the loader by the
// file-type table's processor, loads a picture no larger than the thumbnail needs, reads the
// metadata, turns the thumbnail upright, scales it into the box for the file's type and fills the
// record with every key the insert needs except "categoryid", "volumetype", "volumename" and
// "rating", which the caller adds.
//
// Touches no database and no widget; runs on any thread. One helper per thread at a time; the
// file-type table may be shared between helpers (it is only read).
//
// The implementation is split: OVNImportHelper.cpp (the processor, scaling, turning, the fixed
// keys), OVNImportHelper_loaders.cpp (image, camera-RAW, dcraw, movie and PDF loaders).
class OVNImportHelper
{
public:
    // The preferences the processor reads.
    struct Preferences {
        bool parseEXIF = true;                                      // "ImageScanForEXIF"
        bool parseIPTC = false;                                     // "ImageScanForIPTC" (kept; IPTC is not read)
        int thumbnailQuality = 1;                                   // "ImageThumbnailQuality": 0 none, 1 low, 2 high
        int movieThumbnailType = 1;                                 // "MovieThumbnailType": 0 one frame, else four
        std::array<int, 4> movieThumbnailTimings{{10, 40, 60, 90}}; // percent of the duration
        int pdfThumbnailType = 0;                                   // "PDFThumbnailType": 0 one page, 1 two, else four
        int noThumbnailAction = 0;                                  // "ImportGenericNoThumbnailAction"
    };

    // A helper over its own copy of the current file-type table.
    OVNImportHelper();
    // A helper over a table shared with other helpers.
    explicit OVNImportHelper(std::shared_ptr<const OVNExtensionMapping> mapping);
    ~OVNImportHelper();

    // Registers this class's defaults and reads the preferences again.
    void loadPreferences();
    // Uses these preferences instead (the import reads them once and hands them to every file).
    void setPreferences(const Preferences &preferences)
    {
        m_prefs = preferences;
        m_prefsLoaded = true;
    }
    const Preferences &preferences() const { return m_prefs; }
    static Preferences readPreferences();

    // The JPEG thumbnail of the file, with `record` filled; empty when the file cannot be
    // catalogued (its type has no processor, or no thumbnail could be made). A file that exists
    // but gives no picture is catalogued with the icon of its type.
    QByteArray thumbnailForMediaFile(const QString &path, QVariantMap &record);

    // Why the last call made no picture of the file's own (it took the icon instead), or made
    // no thumbnail at all, or made it of less than the file or of a damaged file's readable part
    // (lastProblemKeptPicture()); empty when it went well. A decode stopped at the time limit or
    // by Cancel gives the icon and says so; a damaged file says "the file is damaged (WHY)".
    QString lastProblem() const { return m_lastProblem; }
    // True when the last call's problem left the thumbnail a picture of the file's own.
    bool lastProblemKeptPicture() const { return m_lastProblemKeptPicture; }

    // The flag the import's Cancel sets: a file being decoded when it is set ends at once, with
    // its icon. Null for none.
    void setCancelFlag(std::shared_ptr<const std::atomic<bool>> cancelled) { m_cancelled = std::move(cancelled); }
    // The longest one file's decoding may take before the file gets its icon and a problem.
    static constexpr std::chrono::milliseconds defaultDecodeTimeLimit{60'000};
    static void setDecodeTimeLimit(std::chrono::milliseconds limit);
    static std::chrono::milliseconds decodeTimeLimit();

    // ---- Pure pieces ----
    // The size of a picture of `picture` fitted to `box`: a picture higher than wide takes the
    // box's height, any other the box's width; the aspect is kept.
    static QSizeF thumbnailDimensions(QSizeF picture, QSizeF box);
    // The same rounded to whole pixels, at least 1 × 1.
    static QSize thumbnailPixelSize(QSize picture, QSize box);
    // The picture drawn into a canvas of thumbnailPixelSize(); null for a null picture.
    static QImage scaleImage(const QImage &image, QSize box, int quality);
    // The picture turned to show upright as the EXIF orientation code says (3 a half turn, 6 a
    // quarter clockwise, 8 a quarter counter-clockwise; the mirrored codes 2, 4, 5 and 7 mirror
    // as EXIF defines them); other codes leave it as it is.
    static QImage turnedForOrientation(const QImage &image, int orientation);
    // The title words of a path: the path without its extension split into components ("/"
    // first), the components from the last down to the fifth each followed by one blank.
    static QString pathWords(const QString &path);
    // The frame times of a movie of that duration (in its own time units) for the four timings.
    static std::array<qint64, 4> movieFrameTimes(qint64 duration, const std::array<int, 4> &timings);
    // The pages of a document of `pageCount` pages that its thumbnail shows: the first two and
    // the last two.
    static std::array<int, 4> documentPages(int pageCount);
    // The four frames of a movie (or pages of a document) on one canvas with 5-pixel gaps, each
    // the size of the first. Where any is missing (a frame that needs more memory than a decoder
    // has), the first one had alone: a canvas with holes would show white where pictures belong.
    // Null when none was had.
    static QImage composeFrames(const QList<QImage> &frames, int columns, int quality);
    // The thumbnail as the catalog stores it: JPEG at quality 50, transparency over white.
    static QByteArray jpegData(const QImage &image, int quality = 50);

    // What reads a file's metadata (OVNImageTagParser's EXIF, XMP and maker notes); replaceable
    // for tests (a read that stalls as on a mount whose server stopped answering). It runs on a
    // thread of its own: the helper waits for it until the file's deadline or the import's Cancel
    // and then gives up on it, so that a read stuck in the system holds no import thread.
    using MetadataReader = std::function<MetadataDictionary(const QString &path)>;
    static void setMetadataReader(MetadataReader reader);
    // The metadata of `path` read that way; nothing when the read did not end in time (or was
    // cancelled).
    static std::optional<MetadataDictionary> readMetadataInTime(const QString &path);

    // ---- Loaders: each answers the picture (null when there is none) and writes its keys ----
    QImage loadImageForNSImageMediaFile(const QString &path, QVariantMap &record, QSize box);
    QImage loadImageForRAWMediaFile(const QString &path, QVariantMap &record, QSize box);
    QImage loadImageForDCRAWMediaFile(const QString &path, QVariantMap &record, QSize box);
    QImage loadImageForQtMediaFile(const QString &path, QVariantMap &record, QSize box);

private:
    std::shared_ptr<const OVNExtensionMapping> m_mapping;
    Preferences m_prefs;
    bool m_prefsLoaded = false;
    // Who catalogs, looked up in the user database once for the helper's files, not for each.
    std::optional<QString> m_cataloguedBy;
    QString m_lastProblem;
    QString m_loaderProblem; // a loader's: the picture it gave is less than the file's
    bool m_lastProblemKeptPicture = false;
    // A loader's: the picture was refused, but its size and metadata are in the record.
    bool m_headerKept = false;
    std::shared_ptr<const std::atomic<bool>> m_cancelled;
};
