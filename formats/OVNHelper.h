#pragma once

#include <QImage>
#include <QString>

class Movie;

// Shared services of the media formats layer, class methods only.
class OVNHelper
{
public:
    OVNHelper() = delete;

    // Image loaders for the file-type table's processors "RAW", "DCRAW" and "QuickTime"; each
    // answers a null image when the file gives no picture. Files of processor "Image" are read
    // with ImageFileReader directly.

    // The in-process RAW decoder; shrink factor 0 for the full picture, n for about 1/2^n a side.
    static QImage imageForRAWMediaFile(const QString &path);
    static QImage imageForRAWMediaFile(const QString &path, int shrinkFactor);
    // The `dcraw` command's half-size picture (the shrink factor is not used).
    static QImage imageForDCRAWMediaFile(const QString &path);
    static QImage imageForDCRAWMediaFile(const QString &path, int shrinkFactor);
    // The movie's picture at time 0.
    static QImage imageForQTMediaFile(const QString &path);
    // The picture at `timeValue`, counted in the movie's own time scale.
    static QImage imageForMovie(Movie &movie, qint64 timeValue);

    // The command the DCRAW loader runs, found on the PATH.
    static QString dcrawCommand() { return QStringLiteral("dcraw"); }
};
