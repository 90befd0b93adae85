#pragma once

#include "platform/MediaRecord.h"

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// Export of catalogue entries into a folder: unchanged copies, or JPEGs scaled to a box, upright
// and optionally captioned. The files are made on a bounded pool (all cores); progress comes back
// through a callback the caller may queue onto its own thread.
class OVNExportImages
{
public:
    // The size pop-up's item indexes.
    static constexpr int customSizeIndex = 4;
    static constexpr int unchangedCopyIndex = 6;

    struct Options {
        int sizeIndex = 2;
        int customSize = 0;
        bool caption = false;        // the caption check box
        bool captionFilename = true; // the caption's file-name check box
        QString author;
        float quality = 0.9f;
    };

    struct Entry {
        QString source;
        QString destination; // empty when no name could be given
        bool written = false;
        bool copied = false; // an unchanged copy rather than a JPEG
        QSize size;          // the JPEG's pixels
        QString reason;      // why it failed
    };

    // The box side for a size index (the custom field's value for index 4, at least 1: 0 or
    // less gives 256); 0 for the unchanged copy.
    static int boxSize(int sizeIndex, int customSize);

    // The destination file names in `folder` for `sources`, in order: the source's last path
    // component (a ".jpg" extension unless copying); a name already given to an earlier source of
    // this export becomes "name-1.jpg", "name-2.jpg"... Names of files already in the folder are
    // kept (a JPEG replaces such a file; a copy does not).
    static QStringList destinationNames(const QStringList &sources, bool unchangedCopy);

    // Why `folder` cannot take the export, or empty.
    static QString folderProblem(const QString &folder);

    // Exports every record; `progress(done)` is called from the workers as each file ends;
    // `cancelled` stops files not yet started (written files stay).
    static QList<Entry> exportRecords(const QList<MediaRecord> &records, const QString &folder, const Options &options,
                                      const std::function<void(int done)> &progress = {},
                                      const std::atomic_bool *cancelled = nullptr);
};
