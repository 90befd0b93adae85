#pragma once

#include "decoding/ImageFileReader.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

class Movie;
class QColor;
class QDateTime;
class QFont;
class QObject;

// The small services the readers and the layers above share: system versions, file existence with
// automount of the media-server volume, dated import folders, the expansion of dropped files and
// folders, link resolution, the coding of colours and fonts as property-list dictionaries, and the
// image loaders. Class-level functions only; nothing here keeps state. (Alerts are
// platform/Alert.h's, temporary file names platform/TemporaryFiles.h's.)
//
// The implementation is split by concern: OVNHelper_versions.cpp, OVNHelper_files.cpp,
// OVNHelper_coding.cpp, OVNHelper_loaders.cpp.
class OVNHelper
{
public:
    OVNHelper() = delete;

    // ---- Versions --------------------------------------------------------------------------

    // The system version in the numbering the callers compare: 0xMMm0 (10.3.x is 0x1030, 10.4.x
    // 0x1040); -1 when the system cannot be told. On Linux, which offers everything the program
    // asks of a 10.5 system, the answer is 0x1050.
    static int systemMajorVersion();
    static int systemVersionNumber(const QString &productType, const QString &productVersion,
                                   const QString &kernelType);

    // The movie framework's version in the numbering the callers compare (only the top byte set;
    // 7 and above means "new enough"). Here: 0x07000000 when FFmpeg's libavformat is there and Qt
    // Multimedia has a playback backend, 0x06000000 when playback or frame reading is missing.
    static int quicktimeMajorVersion();
    static int quicktimeVersionNumber(unsigned avformatVersion, int playbackBackendCount);

    // ---- Files and volumes -----------------------------------------------------------------

    // YES when something exists at the path. When nothing does and the path lies on the
    // media-server volume while automount is on, mounts the volume silently once and tests again.
    static bool fileExistsAtPath(const QString &path);
    // Where a stored path's file is on this machine (a "/Volumes/NAME/..." path in the folder its
    // share is mounted on), mounting the media server as fileExistsAtPath() does; empty when the
    // file is not there.
    static QString existingFilePath(const QString &path);
    // The name of the mounted volume a path lies on: "/Volumes/NAME/...", "/media/USER/NAME/...",
    // "/run/media/USER/NAME/..." and gvfs mounts under "/run/user/UID/gvfs/" or
    // "$XDG_RUNTIME_DIR/gvfs/" (for an SMB share, the share's name). Empty for any other path.
    static QString getVolumeForPath(const QString &path);
    // The folder that volume is mounted on ("/Volumes/NAME", "/media/USER/NAME", ...), or empty.
    static QString getVolumeRootForPath(const QString &path);
    // The folders volumes are mounted under: /Volumes, /media/$USER, /run/media/$USER and /mnt, or
    // the list in OVN_VOLUME_ROOTS (DIR:DIR), which then also stands in for the mounts above.
    static QStringList volumeRoots();
    // True when the path lies inside a gvfs mount (whose share names gvfs keeps in lower case).
    static bool isGvfsPath(const QString &path);

    // A new folder named by the current local date and time inside the pictures folder's
    // "Ostrevan" folder, or inside the given folder (a leading "~" is expanded). Failures to create
    // are not reported: the path is answered all the same.
    static QString createPictureImportFolder();
    static QString createImportFolderAtLocation(const QString &location);
    // "2009-05-01 14-22-10 +0200" for that local time: the folder name of a dated import.
    static QString importFolderName(const QDateTime &localTime);
    // Expands "~" and "~/..." to the home folder and cleans the path.
    static QString expandTilde(const QString &path);

    // Expands dropped paths (strings) and dictionaries (with the path under "PATH") into a flat
    // list of files: folders are listed recursively, hidden entries included, in the order the
    // file system gives. Top-level dictionaries naming a file come back as they were; everything
    // found inside folders comes back as a path string. Skipped: what does not exist, ".DS_Store",
    // the "Thumbs" and "Data" folders of the photo library, special files (devices, pipes,
    // sockets), links to nothing, paths through a link that is not followed anywhere on the way
    // (FileAccess::walkedPath), names that are not valid UTF-8, folders that cannot be listed,
    // and folders already expanded in this call, so that symbolic-link loops end and a folder
    // reached twice is listed once.
    static QVariantList parseFileList(const QVariantList &list);
    // A path left out of the expansion, and why ("a named pipe, not a file").
    struct SkippedFile {
        QString path;
        QString reason;
        // Left out because it could not be read in time (or the wait was cancelled): what it
        // holds is not known, rather than known to be nothing.
        bool notInTime = false;
        // A folder left out whole: how many files it holds is not known.
        bool folder = false;
    };
    // The same, naming in `skipped` each path left out that a user would look for: what does not
    // exist, links to nothing, links that are not followed, special files, unreadable names and folders. (".DS_Store"
    // and the photo library's own folders are left out without a word.)
    static QVariantList parseFileList(const QVariantList &list, QList<SkippedFile> *skipped);
    // How long the expansion waits for the file system, and the Cancel that ends the wait. A
    // folder on a mount that stopped answering blocks every call on it in the kernel for good:
    // each folder's listing and the checks of its entries (and the checks of the list's own
    // paths) are made on a thread of their own, given up on after `limit`. A folder given up on
    // is left out whole and named in `skipped` ("the folder could not be read in time"), a path
    // of the list likewise ("the file could not be read in time"); the rest is expanded.
    struct ListingTime {
        std::chrono::milliseconds limit;
        const std::atomic<bool> *cancel = nullptr;
    };
    // Names in the order a file manager lists them: letters without regard to case, a run of digits
    // by its number (IMG_2 before IMG_10), names that still tie in the order of their characters.
    // A folder's files are imported in this order, whatever order the file system keeps them in.
    static bool namesInOrder(const QString &first, const QString &second);
    // The same with that limit; without one, as above.
    static QVariantList parseFileList(const QVariantList &list, QList<SkippedFile> *skipped,
                                      const std::optional<ListingTime> &time);
    // The entries of one folder as paths ("." and ".." left out), in name order (namesInOrder);
    // nothing when the folder cannot be listed. Names in `skipped`, as the expansion does,
    // a folder that cannot be read and each entry whose name is not valid UTF-8.
    static std::optional<QStringList> folderEntryPaths(const QString &folder, QList<SkippedFile> *skipped);
    // The same with the listing under that limit: a folder not read in time is named in `skipped`.
    static std::optional<QStringList> folderEntryPaths(const QString &folder, QList<SkippedFile> *skipped,
                                                       const std::optional<ListingTime> &time);
    // What each path names, asked as the expansion asks (under the limit, when one is given): a
    // folder (links followed), and no link on the way that is not followed (FileAccess::walkedPath). A
    // path not answered in time is neither.
    struct PathKind {
        bool folder = false;
        bool mayBeRead = false;
    };
    static std::vector<PathKind> pathKinds(const QStringList &paths, const std::optional<ListingTime> &time);
    // What reads a folder's entries for the expansion and folderEntryPaths (FileAccess::
    // folderEntries); replaceable for tests (a listing that stalls as on a mount whose server
    // stopped answering). An empty one puts the file system's back.
    using FolderReader =
        std::function<std::optional<QStringList>(const QString &folder, QStringList *undecodable, QString *why)>;
    static void setFolderReader(FolderReader reader);
    // Called before each path of an expansion is checked, on the thread that checks it; none by
    // default. Tests stand in a check that blocks, as on a volume that stopped answering.
    using PathCheckHook = std::function<void(const QString &path)>;
    static void setPathCheckHook(PathCheckHook hook);

    // ---- Colour and font coding ------------------------------------------------------------

    // {"RED", "GREEN", "BLUE", "ALPHA"} as "%.4f" strings, whatever the locale.
    static QVariantMap encodeColorR(double red, double green, double blue, double alpha);
    static QVariantMap encodeColor(const QColor &color);
    // Missing or unreadable components are 0 (so no "ALPHA" is transparent); components are kept
    // within 0 to 1.
    static QColor decodeToColor(const QVariantMap &dictionary);

    // {"NAME", "SIZE"} with the size as a "%.4f" string.
    static QVariantMap encodeFontWithName(const QString &name, double size);
    static QVariantMap encodeFont(const QFont &font);
    // The font of that name ("Family" or "Family-Style" as stored by other systems) at that size
    // in pixels; "Helvetica-Bold" for a missing or empty name, 10 for a missing or non-positive
    // size. A family that is not installed falls back to the system's closest match.
    static QFont decodeToFont(const QVariantMap &dictionary);
    // "NAME, SIZE" for a label, the size without decimals.
    static QString decodeToFontDescription(const QVariantMap &dictionary);
    // The string itself, or "" for none.
    static QString decodeStringFromDict(const QVariant &value);

    // The leading decimal number of a text, locale-free ("0.5000abc" is 0.5); 0 for none.
    static double leadingDouble(const QString &text);

    // ---- Image loaders ---------------------------------------------------------------------

    // The loaders of the file-type table's processors "RAW", "DCRAW" and "QuickTime"; each answers
    // a null image when the file gives no picture, and none shows a message. Files of processor
    // "Image" are read with ImageFileReader directly. They may run on any thread.

    // The in-process RAW decoder; shrink factor 0 for the full picture, n for about 1/2^n a side.
    static QImage imageForRAWMediaFile(const QString &path);
    static QImage imageForRAWMediaFile(const QString &path, int shrinkFactor);
    // The `dcraw` command's half-size picture (the shrink factor is not used), at most
    // DcrawReader::fullSizeSide a side.
    static QImage imageForDCRAWMediaFile(const QString &path);
    static QImage imageForDCRAWMediaFile(const QString &path, int shrinkFactor);
    // The same fitted into `box`; `dcrawSize` gets the size of dcraw's picture, `refusal` why there
    // is none when it was the limits (see DcrawReader).
    static QImage imageForDCRAWMediaFile(const QString &path, QSize box, QSize *dcrawSize = nullptr,
                                         ImageFileReader::Facts::Refusal *refusal = nullptr);
    // The movie's picture at time 0.
    static QImage imageForQTMediaFile(const QString &path);
    // The picture at `timeValue`, counted in the movie's own time scale.
    static QImage imageForMovie(Movie &movie, qint64 timeValue);

    // The command the DCRAW loader runs, found on the PATH.
    static QString dcrawCommand() { return QStringLiteral("dcraw"); }
};
