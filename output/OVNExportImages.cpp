#include "output/OVNExportImages.h"

#include "output/OVNJpegWriter.h"
#include "output/OVNOutputSizes.h"
#include "platform/FileAccess.h"
#include "platform/Localized.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSet>
#include <QThread>
#include <QThreadPool>

#include <memory>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

// The custom size follows the shared sizes in the pop-up.
static_assert(OVNExportImages::customSizeIndex == int(OVNOutputSizes::scaled.size()));

namespace {

QString lastPathComponent(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString baseName(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? fileName : fileName.left(dot);
}

QString extensionWithDot(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? QString() : fileName.mid(dot);
}

// A copy that failed: a full disk named as such, with the folder it was to go into.
QString copyProblem(const QString &why, const QString &folder)
{
    if (why == QString::fromLocal8Bit(std::strerror(ENOSPC)) || why == QString::fromLocal8Bit(std::strerror(EDQUOT)))
        return OVNJpegWriter::writingProblem(ENOSPC, folder, why);
    return localized("the file could not be copied") + QStringLiteral(": ") + why;
}

OVNExportImages::Entry exportOne(const QString &source, int orientation, const QString &destination,
                                 const OVNExportImages::Options &options)
{
    OVNExportImages::Entry entry;
    entry.source = source;
    entry.destination = destination;
    entry.copied = options.sizeIndex == OVNExportImages::unchangedCopyIndex;
    const QFileInfo info(source);
    if (!info.isFile()) {
        entry.reason = localized("the file was not found");
        return entry;
    }
    // Every call into the destination folder is given up on when it does not answer (a mount that
    // stopped answering), and the folder named.
    const QString folder = QFileInfo(destination).absolutePath();
    if (entry.copied) {
        // Never over a file of that name; a link there only by the rule for shared folders.
        const auto copy = std::make_shared<OVNExportImages::Entry>(entry);
        const std::optional<bool> answered = FileAccess::answerWithin(folder, [copy, source, destination] {
            QString why;
            const std::optional<QString> target = FileAccess::followableDestination(destination, &why);
            struct stat there {};
            if (!target)
                copy->reason = why;
            else if (::lstat(QFile::encodeName(*target).constData(), &there) == 0)
                copy->reason = localized("a file of that name is in the folder");
            else if (!FileAccess::copyThroughTemporary(source, *target, FileAccess::Existing::Keep, &why))
                copy->reason = copyProblem(why, QFileInfo(*target).absolutePath());
            else
                copy->written = true;
            return true;
        });
        if (!answered) {
            entry.reason = FileAccess::notAnsweringReason(folder);
            return entry;
        }
        return *copy;
    }
    // A link at the destination that may not be followed is told as such, not as a bad picture.
    const auto followable = std::make_shared<QString>();
    const std::optional<bool> answered = FileAccess::answerWithin(folder, [followable, destination] {
        return FileAccess::followableDestination(destination, followable.get()).has_value();
    });
    if (!answered) {
        entry.reason = FileAccess::notAnsweringReason(folder);
        return entry;
    }
    if (!*answered) {
        entry.reason = *followable;
        return entry;
    }
    const int box = OVNExportImages::boxSize(options.sizeIndex, options.customSize);
    const QString captionName = options.captionFilename ? lastPathComponent(source) : QString();
    QString why;
    entry.written =
        OVNJpegWriter::scaleAndSaveAsJPEG(source, box, box, options.quality, destination,
                                          options.caption ? OVNJpegWriter::Caption::On : OVNJpegWriter::Caption::Off,
                                          options.caption ? options.author : QString(), captionName, orientation, &why);
    if (entry.written) {
        const auto size = std::make_shared<QSize>();
        if (FileAccess::answerWithin(folder, [size, destination] {
                *size = QImageReader(destination).size();
                return true;
            }))
            entry.size = *size;
    } else
        entry.reason = why;
    return entry;
}

} // namespace

int OVNExportImages::boxSize(int sizeIndex, int customSize)
{
    switch (sizeIndex) {
    case customSizeIndex:
        return customSize > 0 ? customSize : OVNOutputSizes::boxSide(0);
    case unchangedCopyIndex:
        return 0;
    default:
        return OVNOutputSizes::boxSide(sizeIndex);
    }
}

QStringList OVNExportImages::destinationNames(const QStringList &sources, bool unchangedCopy)
{
    QStringList names;
    QSet<QString> given;
    for (const QString &source : sources) {
        const QString file = lastPathComponent(source);
        const QString base = baseName(file);
        const QString extension = unchangedCopy ? extensionWithDot(file) : QStringLiteral(".jpg");
        QString name = (base.isEmpty() ? QStringLiteral("untitled") : base) + extension;
        for (int n = 1; given.contains(name); ++n)
            name = (base.isEmpty() ? QStringLiteral("untitled") : base) + QLatin1Char('-') + QString::number(n)
                   + extension;
        given.insert(name);
        names.append(name);
    }
    return names;
}

QString OVNExportImages::folderProblem(const QString &folder)
{
    const auto problem = std::make_shared<QString>();
    const std::optional<bool> answered = FileAccess::answerWithin(folder, [problem, folder] {
        // A link on the way to the folder, or the folder itself, is judged as for every file written.
        if (QString why; !FileAccess::followableDestination(folder, &why))
            *problem = localized("The folder \"%1\" cannot be used: %2.").arg(folder, why);
        else if (const QFileInfo info(folder); !info.isDir())
            *problem = localized("The folder \"%1\" does not exist.").arg(folder);
        else if (!info.isWritable())
            *problem = localized("The folder \"%1\" cannot be written to.").arg(folder);
        return true;
    });
    if (!answered)
        return localized("The folder \"%1\" did not answer in time.").arg(folder);
    return *problem;
}

QList<OVNExportImages::Entry> OVNExportImages::exportRecords(const QList<MediaRecord> &records, const QString &folder,
                                                             const Options &options,
                                                             const std::function<void(int)> &progress,
                                                             const std::atomic_bool *cancelled)
{
    QStringList sources;
    for (const MediaRecord &record : records)
        sources.append(record.field(MediaRecord::AbsolutePath));
    const QStringList names = destinationNames(sources, options.sizeIndex == unchangedCopyIndex);

    QList<Entry> entries(records.size());
    std::atomic_int done{0};
    QThreadPool pool;
    pool.setMaxThreadCount(OVNJpegWriter::picturesAtOnce());
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QString destination = QDir(folder).filePath(names.at(i));
        const int orientation = records.at(i).field(MediaRecord::Orientation).toInt();
        const QString source = sources.at(i);
        pool.start([&, i, source, destination, orientation] {
            if (cancelled && cancelled->load()) {
                entries[i].source = source;
                entries[i].destination = destination;
                entries[i].reason = localized("cancelled");
            } else {
                entries[i] = exportOne(source, orientation, destination, options);
            }
            const int now = ++done;
            if (progress)
                progress(now);
        });
    }
    pool.waitForDone();
    return entries;
}
