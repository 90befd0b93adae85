#include "import/OVNCumulusParser.h"

#include "formats/OVNHelper.h"
#include "import/OVNImportMedia.h"
#include "platform/FileAccess.h"
#include "platform/Localized.h"
#include "platform/MacRoman.h"
#include "platform/Alert.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

QString refusedTitle() { return localized("The record export cannot be imported"); }

OVNCumulusParser::Parsed refuse(const QString &title, const QString &message)
{
    OVNCumulusParser::Parsed parsed;
    parsed.errorTitle = title;
    parsed.errorMessage = message;
    return parsed;
}

struct Columns {
    int volume = -1;
    int asset = -1;
    int folder = -1;
    int notes = -1;
    int keywords = -1;
    int fields = 0; // categories from here on
    int needed() const { return std::max({volume, asset, folder, notes, keywords}) + 1; }
};

Columns readHeader(const QString &line)
{
    Columns columns;
    const QStringList names = line.split(QLatin1Char('\t'));
    columns.fields = int(names.size());
    for (int i = 0; i < int(names.size()); ++i) {
        const QString &name = names.at(i);
        // The last column of a name wins.
        if (name == QLatin1String("Volume Name") || name == QLatin1String("Volume-Name"))
            columns.volume = i;
        else if (name == QLatin1String("Asset Name") || name == QLatin1String("Asset-Name"))
            columns.asset = i;
        else if (name == QLatin1String("Folder Name") || name == QLatin1String("Ordnername"))
            columns.folder = i;
        else if (name == QLatin1String("Notes") || name == QLatin1String("Notizen"))
            columns.notes = i;
        else if (name == QLatin1String("Keywords") || name == QStringLiteral("Schlagwörter"))
            columns.keywords = i;
    }
    return columns;
}

QString field(const QStringList &fields, int column)
{
    return column >= 0 && column < fields.size() ? fields.at(column) : QString();
}

} // namespace

OVNCumulusParser::Parsed OVNCumulusParser::readFile(const QString &path)
{
    // The export is read as an import's files are: walked to, and read as it was found.
    const FileAccess::HeldFile held(path);
    QFile file;
    QString why;
    if (!held.isOpen() || !FileAccess::openRegularFile(file, path, &why))
        return refuse(refusedTitle(),
                      localized("The file could not be read: %1").arg(held.isOpen() ? why : held.reason()));
    if (file.size() > maxFileSize)
        return refuse(refusedTitle(), localized("The file is larger than %1 MB.").arg(maxFileSize / 1024 / 1024));
    const QByteArray bytes = FileAccess::readAtMost(file, maxFileSize + 1);
    if (bytes.size() > maxFileSize)
        return refuse(refusedTitle(), localized("The file is larger than %1 MB.").arg(maxFileSize / 1024 / 1024));
    if (file.error() != QFileDevice::NoError)
        return refuse(refusedTitle(), localized("The file could not be read: %1").arg(file.errorString()));
    return parse(bytes);
}

OVNCumulusParser::Parsed OVNCumulusParser::parse(const QByteArray &bytes)
{
    QStringList lines = MacRoman::decode(bytes).split(QLatin1Char('\r'));
    // Lines written with "\r\n" leave a line feed at the start of the next.
    for (QString &line : lines)
        if (line.startsWith(QLatin1Char('\n')))
            line.remove(0, 1);
    if (lines.first() != identifier())
        return refuse(localized("Format not recognized"),
                      localized("Could not find the Cumulus file identifier tag. Please check that the selected file "
                                "is created with the Cumulus record export command."));
    const Columns columns = readHeader(lines.size() > 2 ? lines.at(2) : QString());
    if (columns.volume < 0 || columns.asset < 0)
        return refuse(refusedTitle(),
                      localized("The export has no volume name or asset name column on its third line."));

    Parsed parsed;
    const QStringList roots = OVNHelper::volumeRoots();
    const qsizetype data = lines.indexOf(QStringLiteral("%Data"));
    for (qsizetype n = data < 0 ? lines.size() : data + 1; n < lines.size(); ++n) {
        const QString &line = lines.at(n);
        if (line.isEmpty())
            continue;
        const QString where = localized("line %1").arg(n + 1);
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() < columns.needed()) {
            parsed.failed.append(
                {where, localized("the record has %1 fields, the header %2").arg(fields.size()).arg(columns.fields)});
            continue;
        }
        const QString volume = field(fields, columns.volume);
        const QString asset = field(fields, columns.asset);
        QStringList parts = field(fields, columns.folder).split(QLatin1Char(':'), Qt::SkipEmptyParts);
        parts.append(asset);
        const QString relative = parts.join(QLatin1Char('/'));
        if (volume.isEmpty() || asset.isEmpty()) {
            parsed.failed.append({where, localized("no volume or file name")});
            continue;
        }
        // A record must not reach outside its volume.
        QStringList checked = parts;
        checked.prepend(volume);
        const bool unsafe = std::any_of(checked.cbegin(), checked.cend(), [](const QString &part) {
            return part == QLatin1String(".") || part == QLatin1String("..") || part.contains(QLatin1Char('/'))
                   || part.contains(QChar(0));
        });
        if (unsafe) {
            parsed.failed.append({volume + QLatin1Char('/') + relative, localized("unsafe path")});
            continue;
        }
        QString path;
        for (const QString &root : roots) {
            if (QFileInfo(QDir(root).filePath(volume)).isDir()) {
                path = QDir(root).filePath(volume) + QLatin1Char('/') + relative;
                break;
            }
        }
        if (path.isEmpty()) {
            parsed.failed.append({(roots.isEmpty() ? QString() : roots.first()) + QLatin1Char('/') + volume
                                      + QLatin1Char('/') + relative,
                                  // Where a volume's name was looked for: this system's places differ from
                                  // the ones the export was made on.
                                  localized("the volume %1 is not mounted (volumes are looked for in %2; "
                                            "OVN_VOLUME_ROOTS names other places)")
                                      .arg(volume, QDir::toNativeSeparators(roots.join(QStringLiteral(", "))))});
            continue;
        }
        QString categories;
        for (qsizetype c = columns.fields; c < fields.size(); ++c)
            if (!fields.at(c).isEmpty())
                categories += fields.at(c) + QLatin1Char('\n');
        parsed.items.append(QVariantMap{
            {QStringLiteral("PATH"), path},
            {QStringLiteral("APPEND"), QVariantMap{{QStringLiteral("keywords"), field(fields, columns.keywords)},
                                                   {QStringLiteral("shortdesc"), categories},
                                                   {QStringLiteral("fulldesc"), field(fields, columns.notes)}}}});
    }
    return parsed;
}

bool OVNCumulusParser::importFile(const QString &path, const QString &categoryId,
                                  OVNImportWorker::ConnectionMaker connections, QWidget *window)
{
    const Parsed parsed = readFile(path);
    if (parsed.refused()) {
        Alerts::display(parsed.errorTitle, parsed.errorMessage, window);
        return false;
    }
    auto *import = new OVNImportMedia(window);
    import->setConnectionMaker(std::move(connections));
    import->setSkippedItems(parsed.failed);
    import->setShowsResultSheet(true);
    import->processFiles(parsed.items, categoryId, window);
    return true;
}
