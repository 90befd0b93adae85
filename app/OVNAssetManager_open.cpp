// Opening the selected media from the catalog window: in our viewers by the file-type table (the
// desktop's application while no viewer is installed), in the desktop's default application, or
// in a named one. A file is never handed to the desktop when that would bring it back to us.
#include "app/OVNAssetManager.h"

#include "app/OVNDocumentController.h"
#include "app/OVNOpenRoute.h"
#include "app/OVNOutputHandOff.h"
#include "app/OVNViewerDocuments.h"
#include "browser/OVNMediaView.h"
#include "formats/OVNHelper.h"
#include "platform/Alert.h"
#include "platform/Workspace.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

QList<MediaRecordRef> OVNAssetManager::selectedRecordsToOpen(OVNMediaView *view)
{
    const QList<int> rows = view ? view->selectedRows() : QList<int>();
    if (rows.isEmpty()) {
        QApplication::beep();
        return {};
    }
    if (!verifyActionWithMultipleItems(int(rows.size())))
        return {};
    MediaList records;
    for (int row : rows)
        records.append(view->objectForRow(row));
    // Files leave the catalog's reach here: only those the user may still read.
    return readableForOutput(records).value_or(MediaList());
}

void OVNAssetManager::openMedia(OVNMediaView *view, int viewerType, const QString &application)
{
    if (!view || viewerType < 0 || viewerType > 2)
        return;
    const QList<MediaRecordRef> records = selectedRecordsToOpen(view);
    // An adjustment window opened from the viewer exports the entry: the read rule is asked then.
    const OVNOutputCheck::Question check = records.isEmpty() ? OVNOutputCheck::Question() : outputCheck();
    for (const MediaRecordRef &record : records) {
        const QString &stored = record->field(MediaRecord::AbsolutePath);
        const QString &volume = record->field(MediaRecord::VolumeName);
        if (viewerType == 0) {
            OVNDocumentController::openFile(stored, volume, record->field(MediaRecord::Orientation).toInt(),
                                            OVNViewerDocuments::shared(), OVNDocumentController::OpenMode::Window,
                                            OVNOutputHandOff::checkForRecord(check, *record));
            continue;
        }
        OVNDocumentController::openWithDesktop(stored, volume, viewerType == 2 ? application : QString());
    }
}

void OVNAssetManager::openMediaFullScreen(OVNMediaView *view)
{
    const QList<MediaRecordRef> records = selectedRecordsToOpen(view);
    const OVNOutputCheck::Question check = records.isEmpty() ? OVNOutputCheck::Question() : outputCheck();
    for (const MediaRecordRef &record : records) {
        OVNDocumentController::openFile(
            record->field(MediaRecord::AbsolutePath), record->field(MediaRecord::VolumeName),
            record->field(MediaRecord::Orientation).toInt(), OVNViewerDocuments::shared(),
            OVNDocumentController::OpenMode::FullScreen, OVNOutputHandOff::checkForRecord(check, *record));
    }
}
