// Smart import: the plain import run once per collection, the collections made as files are left
// for them.

#include "import/OVNImportWorker.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNHelper.h"
#include "import/OVNCatalogSession.h"
#include "import/OVNImportHelper.h"
#include "platform/FileAccess.h"
#include "platform/Localized.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Passes a part's progress on as positions in the whole import, and holds back the part's finish.
class PartObserver : public OVNImportWorker::Observer
{
public:
    PartObserver(OVNImportWorker::Observer *outer, int offset, int total)
        : m_outer(outer),
          m_offset(offset),
          m_total(total)
    {}
    void importStatus(const QString &text) override
    {
        if (m_outer)
            m_outer->importStatus(text);
    }
    void importProgress(int position, int, const QString &path, const QByteArray &thumbnail) override
    {
        if (m_outer)
            m_outer->importProgress(m_offset + position, m_total, path, thumbnail);
    }

private:
    OVNImportWorker::Observer *m_outer;
    int m_offset;
    int m_total;
};

void append(OVNImportWorker::Summary &into, const OVNImportWorker::Summary &part)
{
    into.processed += part.processed;
    into.importedIds += part.importedIds;
    into.importedPaths += part.importedPaths;
    into.failures += part.failures;
    into.notImported += part.notImported;
    into.notReached += part.notReached;
    into.foldersNotRead += part.foldersNotRead;
    into.connectionFailed = into.connectionFailed || part.connectionFailed;
    into.catalogLost = into.catalogLost || part.catalogLost;
    into.diskFull = into.diskFull || part.diskFull;
    into.writeRefused = into.writeRefused || part.writeRefused;
    if (into.abortTitle.isEmpty()) {
        into.abortTitle = part.abortTitle;
        into.abortMessage = part.abortMessage;
        into.abortStatus = part.abortStatus;
    }
}

} // namespace

void OVNImportWorker::startSmart(const QVariantList &items, const QString &folderId, int maxFiles, Observer *observer)
{
    wait();
    m_thread =
        std::thread([this, items, folderId, maxFiles, observer] { runSmart(items, folderId, maxFiles, observer); });
}

OVNImportWorker::Summary OVNImportWorker::runSmart(const QVariantList &items, const QString &folderId, int maxFiles,
                                                   Observer *observer)
{
    Summary summary;
    const auto finish = [&]() -> Summary {
        summary.cancelled = isCancelled();
        if (observer)
            observer->importFinished(summary);
        return summary;
    };
    const auto status = [observer](const QString &text) {
        if (observer)
            observer->importStatus(text);
    };
    const int maximum = smartMaximum(maxFiles);
    summary.collectionLimit = maximum;
    m_stop = Stop();
    std::unique_ptr<OVNDatabaseAccess> connection = openConnection(observer);
    if (!connection || !connection->isDBConnectionActive()) {
        summary.connectionFailed = true;
        return finish();
    }
    status(QStringLiteral("Smart Pre-Processing..."));
    // Folders on a mount that stopped answering are left out at the file's limit, and named.
    const OVNHelper::ListingTime listingTime{OVNImportHelper::decodeTimeLimit(), m_cancelled.get()};

    // A single folder stands for its entries. What the import cannot take is named as the plain
    // import names it: a folder that cannot be read, names that are not valid UTF-8.
    QStringList working;
    // The loose files' collection is named after the folder they come from: the single folder
    // given, or the folder of the first loose file. (A folder reached through a link that is not
    // followed goes on as an item, which the expansion below names and leaves out.)
    QString looseName;
    if (items.size() == 1 && OVNHelper::pathKinds({items.first().toString()}, listingTime).front().folder) {
        QList<OVNHelper::SkippedFile> skipped;
        const QString folder = QDir::cleanPath(items.first().toString());
        looseName = QFileInfo(folder).fileName();
        // In name order, as a folder's files are imported everywhere.
        const QStringList entries = OVNHelper::folderEntryPaths(folder, &skipped, listingTime).value_or(QStringList());
        for (const QString &path : std::as_const(entries))
            if (QFileInfo(path).fileName() != QLatin1String(".DS_Store"))
                working.append(path);
        for (const OVNHelper::SkippedFile &file : skipped) {
            summary.failures.append({file.path, file.reason});
            summary.notImported.append(file.path);
            if (file.folder)
                summary.foldersNotRead.append(file.path);
        }
        summary.passedOver += int(skipped.size());
    } else {
        for (const QVariant &item : items)
            working.append(item.toString());
    }
    struct Group {
        QString name;
        QStringList files;
    };
    QList<Group> groups;
    Group root;
    QStringList folders;
    // Anything not a folder goes with the loose files, whose expansion names what does not exist
    // or cannot be read (or not in time).
    const std::vector<OVNHelper::PathKind> kinds = OVNHelper::pathKinds(working, listingTime);
    for (qsizetype at = 0; at < working.size(); ++at) {
        const QString &path = working[at];
        const QFileInfo info(path);
        if (kinds[size_t(at)].folder)
            folders.append(info.absoluteFilePath());
        else if (!path.isEmpty())
            root.files.append(info.absoluteFilePath());
    }
    if (looseName.isEmpty() && !root.files.isEmpty())
        looseName = QFileInfo(root.files.first()).absoluteDir().dirName();
    // The file system's root has no name of its own.
    root.name = looseName.isEmpty() || looseName == QLatin1String(".") ? localized("Smart Add") : looseName;
    // The expansion of each group up front, so that the progress has its whole count and a
    // collection is made only when a file is left for it.
    const auto expand = [&](const QStringList &paths) {
        QVariantList list;
        for (const QString &path : paths)
            list.append(path);
        QList<OVNHelper::SkippedFile> skipped;
        QStringList files;
        for (const QVariant &entry : OVNHelper::parseFileList(list, &skipped, listingTime))
            files.append(entry.toString());
        for (const OVNHelper::SkippedFile &file : skipped) {
            summary.failures.append({file.path, file.reason});
            summary.notImported.append(file.path);
            if (file.folder)
                summary.foldersNotRead.append(file.path);
        }
        summary.passedOver += int(skipped.size());
        return files;
    };
    if (!root.files.isEmpty()) {
        root.files = expand(root.files);
        if (!root.files.isEmpty())
            groups.append(root);
    }
    const int rootGroups = int(groups.size());
    for (const QString &folder : folders)
        groups.append({QFileInfo(folder).fileName(), expand({folder})});
    for (const Group &group : groups)
        summary.total += int(group.files.size());
    if (observer)
        observer->importStarted(summary.total);

    // Each collection is made with its place under the folder in one go, through ended sessions;
    // when the server stays away, or the user may no longer write into the folder, the import stops.
    const auto makeCollection = [&](const QString &name) -> QString {
        if (!folderId.isEmpty()) {
            if (const auto refusal = OVNCatalogSession::writeRefusal(*connection, folderId)) {
                summary.writeRefused = true;
                summary.abortTitle = refusal->title;
                summary.abortStatus = refusal->title;
                m_stop = {Stop::Kind::Refused, refusal->causeAlone(), 0, 0};
                return QString();
            }
        }
        QString error;
        const QString id = OVNCatalogSession::makeCategory(*connection, name, QStringLiteral("C"), folderId,
                                                           m_settings.reconnectWaitSeconds, m_cancelled.get(), status,
                                                           &error);
        if (id.isEmpty()) {
            summary.failures.append({name, QStringLiteral("the collection could not be made: %1").arg(error)});
            if (!isCancelled() && OVNCatalogSession::lost(*connection)) {
                summary.catalogLost = true;
                summary.abortTitle = QStringLiteral("The connection to the catalog was lost.");
                summary.abortStatus = summary.abortTitle;
                summary.abortMessage = localized("The collection “%1” could not be made: %2").arg(name, error);
            }
            return id;
        }
        summary.collections.append({name, id, 0});
        return id;
    };

    int offset = 0;
    for (qsizetype g = 0; g < groups.size() && !isCancelled() && summary.abortTitle.isEmpty(); ++g) {
        const Group &group = groups.at(g);
        status(g < rootGroups
                   ? QStringLiteral("Smart Import: Root Folder")
                   : QStringLiteral("Smart Import: Folder %1 of %2").arg(g - rootGroups + 1).arg(folders.size()));
        // A folder's own collection is made even when the folder holds nothing.
        QString categoryId = makeCollection(group.name);
        if (categoryId.isEmpty()) {
            // Stopped: the files of this group and after are listed below.
            if (!summary.abortTitle.isEmpty())
                break;
            for (const QString &file : group.files)
                summary.notImported.append(file);
            offset += int(group.files.size());
            continue;
        }
        int number = 0;
        Summary::Split split{group.name, {group.name}, int(group.files.size())};
        for (qsizetype start = 0; start < group.files.size() && !isCancelled() && summary.abortTitle.isEmpty();
             start += maximum) {
            if (start > 0) {
                // A continuation that cannot be made leaves the files in the collection filled so far.
                const QString name = QStringLiteral("%1-%2").arg(group.name).arg(++number);
                const QString next = makeCollection(name);
                if (!summary.abortTitle.isEmpty())
                    break;
                if (!next.isEmpty()) {
                    categoryId = next;
                    split.collections.append(name);
                }
            }
            const QStringList part = group.files.mid(start, maximum);
            QVariantList partItems;
            for (const QString &file : part)
                partItems.append(file);
            m_settings.categoryId = categoryId;
            m_settings.folderId = folderId;
            PartObserver partObserver(observer, offset, summary.total);
            const Summary done = runOn(*connection, partItems, &partObserver);
            append(summary, done);
            for (Summary::Collection &collection : summary.collections)
                if (collection.id == categoryId)
                    collection.count += done.processed;
            offset += int(part.size());
            if (done.connectionFailed)
                break;
        }
        // Said, so that nobody wonders where "-1" came from.
        if (split.collections.size() > 1)
            summary.splits.append(split);
    }
    // A failed copy, a lost catalog, a full disk or a refusal ended the import: what came after it
    // was not imported, and the stop's message counts it.
    // A cancel leaves the groups it did not reach unprocessed: named for whoever cancelled.
    if (isCancelled()) {
        int position = 0;
        for (const Group &group : groups)
            for (const QString &file : group.files)
                if (position++ >= offset)
                    summary.notReached.append(file);
    }
    if (!summary.abortTitle.isEmpty() && !isCancelled()) {
        int position = 0;
        for (const Group &group : groups)
            for (const QString &file : group.files)
                if (position++ >= offset)
                    summary.notImported.append(file);
        if (m_stop.kind != Stop::Kind::None)
            summary.abortMessage = stopMessage(m_stop, summary);
    }
    return finish();
}
