#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// The one place that talks to libburn and libisofs: an ISO 9660 image (Rock Ridge and Joliet) with
// every file at its root, written to a drive, here the pseudo drive "stdio:PATH" (an image file).
class DiscBurn
{
public:
    enum class Outcome { Done, Refused, Failed, Cancelled };
    struct Result {
        Outcome outcome = Outcome::Failed;
        QString text;
        int files = 0;
        qint64 bytes = 0;
    };

    enum class Media { Unknown, None, Writable, Full };
    // The drive addresses libburn finds (optical drives only; may take seconds: call on a worker).
    static QStringList scanDrives();
    // What the drive at `address` ("stdio:PATH" or a device) holds; the drive is grabbed only
    // for the look and released again.
    static Media mediaAt(const QString &address);

    // The names the files get at the image's root, in order: a name given before becomes
    // "name (2).ext", "name (3).ext"...
    static QStringList rootNames(const QStringList &files);

    // "stdio:PATH": the pseudo drive that writes the image file PATH.
    static bool isImageFile(const QString &address);

    // Writes `files` to the drive at `address` ("stdio:PATH" writes a new image file; the drive
    // must not be held). `mediumSize` (bytes, 0 for what the medium has free) refuses a larger
    // image before anything is written; so does a file that is gone or unreadable. `status(text,
    // percent)` follows the burn; `cancelAtPercent` (or `cancelled`) stops it, and the drive is
    // released; a partial image file is removed.
    static Result burn(const QString &address, const QString &discName, const QStringList &files, qint64 mediumSize,
                       const std::function<void(const QString &, int)> &status, int cancelAtPercent = -1,
                       const std::atomic_bool *cancelled = nullptr);

    // Writes `files` into a new image file at `imagePath`. `mediumSize` (bytes, 0 for no limit)
    // refuses a larger image before anything is written; so does a file that is gone or unreadable.
    // `status(text, percent)` follows the burn; `cancelAtPercent` (or `cancelled`) stops it, and
    // the partial image is removed.
    static Result burnToImageFile(const QString &imagePath, const QString &discName, const QStringList &files,
                                  qint64 mediumSize, const std::function<void(const QString &, int)> &status,
                                  int cancelAtPercent = -1, const std::atomic_bool *cancelled = nullptr);
};
