#include "output/OVNSendImagesAsMail.h"

#include "platform/FileAccess.h"

#include "platform/TemporaryFiles.h"
#include "output/OVNJpegWriter.h"
#include "output/OVNOutputSizes.h"
#include "platform/Alert.h"
#include "platform/Localized.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

#include <cerrno>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

// The originals follow the shared sizes and a separator in the pop-up.
static_assert(OVNSendImagesAsMail::originalIndex == int(OVNOutputSizes::scaled.size()) + 1);

namespace {

QString lastPathComponent(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

// A copy of the regular file `source` in a new folder of its own inside `folder`, under the
// source's name; empty with the reason in `why` when there is no private folder, the walk refuses
// the source or the copy fails (nothing of it is left then).
QString privateCopy(const QString &source, const QString &folder, QString *why)
{
    const QString noFolder = localized("no private folder for the attachments could be made");
    if (folder.isEmpty()) {
        *why = noFolder;
        return {};
    }
    QByteArray pattern = QFile::encodeName(QDir(folder).filePath(QStringLiteral("original-XXXXXX")));
    if (::mkdtemp(pattern.data()) == nullptr) {
        *why = noFolder;
        return {};
    }
    const QString own = QFile::decodeName(pattern);
    const QString copy = QDir(own).filePath(lastPathComponent(source));
    if (FileAccess::copyThroughTemporary(source, copy, FileAccess::Existing::Keep, why))
        return copy;
    QDir(own).removeRecursively();
    return {};
}

} // namespace

int OVNSendImagesAsMail::boxSize(int sizeIndex)
{
    return sizeIndex == originalIndex ? 0 : OVNOutputSizes::boxSide(sizeIndex);
}

QString OVNSendImagesAsMail::attachmentFolder()
{
    const QString folder =
        QDir(QDir::tempPath()).filePath(QStringLiteral("ostrevan-mail-%1").arg(qulonglong(::getuid())));
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    // Another user may have made the name first in a shared /tmp: use it only when it is ours,
    // a real folder and private.
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return {};
    if ((info.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return {};
    return folder;
}

void OVNSendImagesAsMail::removeOldAttachments(const QString &folder, const QDateTime &now)
{
    if (folder.isEmpty())
        return;
    const QDateTime limit = now.addDays(-1);
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        if (info.lastModified() >= limit)
            continue;
        // The folders that hold copied originals are this account's own, in a private folder.
        if (info.isDir() && !info.isSymLink())
            QDir(info.filePath()).removeRecursively();
        else
            QFile::remove(info.filePath());
    }
}

QString OVNSendImagesAsMail::nameTemplate(const QString &source)
{
    QString name = QStringLiteral("Ostrevan ");
    if (source.split(QLatin1Char('/')).size() > 2)
        name += lastPathComponent(source);
    // The template's only conversion is ours: a "%" in the file name stays a percent sign.
    name.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return name + QStringLiteral(" %i.jpg");
}

OVNSendImagesAsMail::Prepared OVNSendImagesAsMail::prepare(const QList<MediaRecord> &records, const Options &options,
                                                           const QString &folder,
                                                           const std::function<void(int)> &progress,
                                                           const std::atomic_bool *cancelled)
{
    Prepared prepared;
    int done = 0;
    for (const MediaRecord &record : records) {
        if (cancelled && cancelled->load())
            break;
        const QString source = record.field(MediaRecord::AbsolutePath);
        if (options.sizeIndex == originalIndex) {
            // The mail program opens what it is handed by name, perhaps minutes later, and in a
            // folder another account may rename in that name could then be his link to this
            // account's private file. So the original is copied, from the file the walk reached
            // (another account's link on the way is not followed), into a folder of its own in the
            // private attachments folder, under its own name, and the copy is attached.
            QString why;
            const QString copy = privateCopy(source, folder, &why);
            if (!copy.isEmpty()) {
                prepared.files.append(copy);
            } else {
                prepared.failed.append(source);
                prepared.reasons.append(!QFileInfo::exists(source) ? localized("the file is not there")
                                        : why.isEmpty()            ? localized("the file cannot be read")
                                                                   : why);
            }
        } else {
            // A name not taken in the attachments folder, asked given up on when the folder does
            // not answer (the writer then gives up on it at once as well).
            const auto name = std::make_shared<QString>();
            FileAccess::answerWithin(folder, [name, folder, source] {
                for (int attempt = 0; attempt < 1000 && name->isEmpty(); ++attempt) {
                    const QString candidate = QDir(folder).filePath(TemporaryFiles::fileNameFromTemplate(
                        nameTemplate(source), int(QRandomGenerator::global()->bounded(100001))));
                    const QFileInfo info(candidate);
                    if (!info.exists() && !info.isSymLink())
                        *name = candidate;
                }
                return true;
            });
            const QString target = *name;
            const int box = boxSize(options.sizeIndex);
            QString why;
            const bool written = !folder.isEmpty() && !target.isEmpty()
                                 && OVNJpegWriter::scaleAndSaveAsJPEG(
                                     source, box, box, 0.9f, target,
                                     options.caption ? OVNJpegWriter::Caption::On : OVNJpegWriter::Caption::Off,
                                     options.caption ? options.author : QString(),
                                     options.captionFilename ? lastPathComponent(source) : QString(),
                                     record.field(MediaRecord::Orientation).toInt(), &why);
            if (written) {
                prepared.files.append(target);
            } else {
                prepared.failed.append(source);
                prepared.reasons.append(why.isEmpty() ? localized("the attachment could not be written") : why);
            }
        }
        if (progress)
            progress(++done);
    }
    return prepared;
}

QStringList OVNSendImagesAsMail::mailArguments(const QStringList &files)
{
    QStringList arguments = {QStringLiteral("--utf8"), QStringLiteral("--subject"), QStringLiteral("Ostrevan Images"),
                             QStringLiteral("--body"), QStringLiteral("\n\n\n")};
    for (const QString &file : files) {
        // Absolute paths: a name with a leading "-" cannot be read as an option.
        arguments.append(QStringLiteral("--attach"));
        arguments.append(QFileInfo(file).absoluteFilePath());
    }
    return arguments;
}

OVNSendImagesAsMail::Report OVNSendImagesAsMail::failureReport(const Prepared &prepared, const Result &result)
{
    Report report;
    QStringList parts;
    if (!prepared.failed.isEmpty()) {
        QStringList names;
        for (qsizetype i = 0; i < prepared.failed.size(); ++i) {
            const QString reason = prepared.reasons.value(i);
            names.append(reason.isEmpty() ? lastPathComponent(prepared.failed.at(i))
                                          : lastPathComponent(prepared.failed.at(i)) + QStringLiteral(": ") + reason);
        }
        parts.append(localized("These files could not be converted and are not attached:") + QLatin1Char('\n')
                     + Alerts::namedList(names));
    }
    if (!result.problem.isEmpty()) {
        parts.append(result.problem);
        parts.append(localized("The mail command run was \"%1\". The preference \"MailCommand\" chooses it "
                               "(\"%2\" when it is not set).")
                         .arg(result.program, defaultCommand()));
    }
    if (parts.isEmpty())
        return report;
    report.title = !result.problem.isEmpty() || prepared.files.isEmpty()
                       ? localized("The e-mail could not be created.")
                       : localized("Some files could not be converted and are not attached.");
    report.text = parts.join(QStringLiteral("\n\n"));
    return report;
}

QString OVNSendImagesAsMail::exitReason(int status)
{
    switch (status) {
    case 1:
        return localized("The mail command was given wrong arguments.");
    case 2:
        return localized("One of the files to attach does not exist.");
    case 3:
        return localized("A tool the mail command needs could not be found.");
    case 4:
        return localized("The mail program could not be started.");
    case 5:
        return localized("One of the files to attach could not be read.");
    default:
        return {};
    }
}

OVNSendImagesAsMail::Result OVNSendImagesAsMail::handOver(const QString &command, const QStringList &files)
{
    Result result;
    QStringList words = QProcess::splitCommand(command.trimmed().isEmpty() ? defaultCommand() : command);
    result.program = words.isEmpty() ? command : words.takeFirst();
    if (files.isEmpty()) {
        result.problem = localized("There is nothing to attach.");
        result.exitCode = -1;
        return result;
    }
    QProcess process;
    process.setProgram(result.program);
    process.setArguments(words + mailArguments(files));
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1)) {
        result.exitCode = -1;
        result.problem = localized("The mail command \"%1\" could not be started.").arg(result.program);
        return result;
    }
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit) {
        result.exitCode = -1;
        result.problem = localized("The mail command \"%1\" ended abnormally.").arg(result.program);
        return result;
    }
    result.exitCode = process.exitCode();
    if (result.exitCode != 0) {
        const QString reason = exitReason(result.exitCode);
        result.problem =
            reason.isEmpty()
                ? localized("The mail command \"%1\" failed with status %2.").arg(result.program).arg(result.exitCode)
                : reason;
    }
    return result;
}
