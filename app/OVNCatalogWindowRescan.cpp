// Bringing a surveillance folder up to date with its disk folder, and re-processing entries.
#include "app/OVNCatalogWindowCategoryActions.h"

#include "app/OVNAssetManager.h"

#include "app/OVNCategoryMaintenance.h"
#include "catalogdb/OVNCatalogOpening.h"
#include "catalogdb/OVNPrivilegeLevel.h"
#include "formats/OVNHelper.h"
#include "import/OVNImportMedia.h"
#include "platform/Alert.h"
#include "platform/Localized.h"
#include "platform/CatalogNames.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>

#include <future>

using OVNCategoryMaintenance::Record;

namespace {
using CatalogNames::keyComment;
using CatalogNames::keyMid;
using CatalogNames::keyType;
const QString keyPath = QStringLiteral("absolutepath");

QVariantList recordList(const QList<Record> &records)
{
    QVariantList list;
    list.reserve(records.size());
    for (const Record &record : records)
        list.append(QVariantMap{{keyMid, record.mid}, {keyPath, record.absolutePath}});
    return list;
}
} // namespace

void OVNCatalogWindowCategoryActions::buttonRescanSurveillanceFolderClick()
{
    const std::optional<CategoryNode> node = w.selectedCategory();
    if (!node) {
        QApplication::beep();
        return;
    }
    rescanSurveillanceFolder(*node);
}

bool OVNCatalogWindowCategoryActions::rescanSurveillanceFolder(const CategoryNode &node)
{
    if (!m_state.dbcon || m_state.maintenanceRunning || node.value(keyType).toString() != QLatin1String("M"))
        return false;
    if (!w.isUserAuthorizedNow(OVNPrivilegeLevel::readWrite(), node))
        return false;
    const QString folderId = node.value(keyMid).toString();
    const QString folder = OVNCategoryMaintenance::watchedFolder(node.value(keyComment).toString());
    const auto refuse = [this](const QString &text) {
        Alerts::inform(localized("The surveillance folder cannot be re-scanned."), text, &w);
        emit w.rescanFinished(0, 0, 0, text);
        return false;
    };
    if (folder.isEmpty())
        return refuse(localized("The surveillance folder names no disk folder. Nothing was changed."));
    const OVNCategoryMaintenance::FolderState state = OVNCategoryMaintenance::watchedFolderState(folder);
    if (state != OVNCategoryMaintenance::FolderState::Usable)
        return refuse(OVNCategoryMaintenance::refusalText(state, folder));

    // The disk folder is read while the catalog is asked for the folder's entries.
    const std::shared_future<OVNCategoryMaintenance::FolderListing> listing =
        std::async(std::launch::async, [folder] { return OVNCategoryMaintenance::folderFiles(folder); });
    // Every entry of the folder, whatever the thumbnail view's filter hides, read through sessions
    // that end: a list that could not be read would pass every file on disk for a new one.
    QList<Record> records;
    bool read = false;
    {
        const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
        read = OVNCatalogOpening::retried(
            *m_state.dbcon,
            [&] {
                records.clear();
                for (const OVNDatabaseAccess::EntryFile &file : m_state.dbcon->getEntryFilesForCategory(folderId))
                    records.append({file.mid, file.absolutePath, file.importDate});
            },
            wait->status(), wait->secondsLeft());
    }
    if (!read) {
        listing.wait();
        return refuse(m_state.dbcon->lastFailure() == OVNDatabaseAccess::Failure::Unreachable
                          ? localized("The catalog server cannot be reached. Nothing was changed.")
                          : m_state.dbcon->getLastErrorMessage());
    }

    runMaintenance(
        localized("Re-Scan Surveillance Folder"),
        [folder, records, listing](OVNDatabaseAccess *, Progress, Waiting) -> QVariant {
            const OVNCategoryMaintenance::FolderListing &disk = listing.get();
            // A volume taken away, or that stopped answering, while the folder was read must not
            // look like deleted files.
            // Nor a folder whose listing was refused (it became a link that is not followed).
            const OVNCategoryMaintenance::FolderState state =
                !disk.complete ? OVNCategoryMaintenance::FolderState::NotReadInTime
                : disk.state != OVNCategoryMaintenance::FolderState::Usable
                    ? disk.state
                    : OVNCategoryMaintenance::watchedFolderState(folder);
            const bool usable = state == OVNCategoryMaintenance::FolderState::Usable;
            const OVNCategoryMaintenance::RescanPlan plan =
                OVNCategoryMaintenance::planRescan(disk.files, disk.modified, records);
            QStringList missing;
            for (const Record &record : plan.missing)
                missing.append(record.mid);
            return QVariantMap{{QStringLiteral("usable"), usable},
                               {QStringLiteral("state"), int(state)},
                               {QStringLiteral("empty"), disk.files.isEmpty()},
                               {QStringLiteral("new"), plan.newFiles},
                               {QStringLiteral("missing"), missing},
                               {QStringLiteral("changed"), recordList(plan.changed)}};
        },
        [this, folder, folderId](const QVariant &answer) {
            const QVariantMap plan = answer.toMap();
            if (!plan.value(QStringLiteral("usable")).toBool()) {
                const QString text =
                    plan.contains(QStringLiteral("usable")) ? OVNCategoryMaintenance::refusalText(
                        OVNCategoryMaintenance::FolderState(plan.value(QStringLiteral("state")).toInt()), folder)
                                                            : answer.toString();
                Alerts::inform(localized("The surveillance folder cannot be re-scanned."), text, &w);
                emit w.rescanFinished(0, 0, 0, text);
                return;
            }
            const QVariantList missing = plan.value(QStringLiteral("missing")).toList();
            if (plan.value(QStringLiteral("empty")).toBool() && !missing.isEmpty()) {
                Alert alert;
                alert.message = localized("The folder \"%1\" holds no files.").arg(folder);
                alert.informativeText =
                    countedText(missing.size(), "Remove the %1 entry of this surveillance folder from the catalog?",
                                "Remove all %1 entries of this surveillance folder from the catalog?");
                alert.buttons = {localized("Keep Entries"), localized("Remove")};
                alert.modality = Alert::Modality::Window;
                alert.window = &w;
                if (Alerts::run(alert) != 1) {
                    const QString text = localized("Nothing was changed.");
                    emit w.rescanFinished(0, 0, 0, text);
                    return;
                }
            }
            removeMissingAndImport(folderId, missing, plan.value(QStringLiteral("new")).toStringList(),
                                   plan.value(QStringLiteral("changed")).toList());
        },
        WorkerConnection::None);
    return true;
}

void OVNCatalogWindowCategoryActions::removeMissingAndImport(const QString &folderId, const QVariantList &missing,
                                                             const QStringList &newFiles, const QVariantList &changed)
{
    const auto importAll = [this, folderId, newFiles, changed, missingCount = int(missing.size())] {
        if (!newFiles.isEmpty())
            w.importFiles(newFiles, folderId);
        if (!changed.isEmpty())
            reimportRecords(changed, folderId);
        if (newFiles.isEmpty() && changed.isEmpty() && missingCount > 0)
            w.reloadMediaList();
        emit w.rescanFinished(int(newFiles.size()), missingCount, int(changed.size()), QString());
    };
    if (missing.isEmpty()) {
        importAll();
        return;
    }
    QStringList mids;
    for (const QVariant &mid : missing)
        mids.append(mid.toString());
    runMaintenance(
        localized("Re-Scan Surveillance Folder"),
        [mids](OVNDatabaseAccess *db, Progress progress, Waiting) -> QVariant {
            QString error;
            if (OVNCategoryMaintenance::deleteEntries(*db, mids, &error, progress))
                return QString();
            return error.isEmpty() ? QStringLiteral("the catalog refused it") : error;
        },
        [this, importAll](const QVariant &answer) {
            const QString failure = answer.toString();
            if (!failure.isEmpty()) {
                Alerts::inform(localized("The missing files' entries could not be removed. Nothing was removed."),
                               failure, &w);
                emit w.rescanFinished(0, 0, 0, failure);
                return;
            }
            importAll();
        });
}

void OVNCatalogWindowCategoryActions::reimport(const QStringList &mediaIds, const QString &categoryId)
{
    if (!m_state.dbcon || mediaIds.isEmpty())
        return;
    QVariantList records;
    const std::unique_ptr<OVNCatalogWait> wait = w.catalogWait();
    OVNCatalogOpening::retried(
        *m_state.dbcon,
        [&] {
            records.clear();
            for (const QString &mid : mediaIds) {
                const QString path = m_state.dbcon->getMediaListEntryForMediaID(mid, keyPath);
                if (!path.isEmpty())
                    records.append(QVariantMap{{keyMid, mid}, {keyPath, path}});
            }
        },
        wait->status(), wait->secondsLeft());
    reimportRecords(records, categoryId);
}

void OVNCatalogWindowCategoryActions::reimportRecords(const QVariantList &records, const QString &categoryId)
{
    if (!m_state.dbcon || records.isEmpty())
        return;
    if (!w.isUserAuthorizedForMediaWithType(OVNPrivilegeLevel::readWrite(), {categoryId}, true))
        return;
    const std::shared_ptr<OVNDatabaseAccess> windowConnection = m_state.dbcon;
    auto *import = new OVNImportMedia(&w);
    import->setConnectionMaker([windowConnection] { return windowConnection->openSiblingConnection();
});
m_state.trackImportDidFinish = true;
import->reprocessFiles(records, categoryId, &w);
}
