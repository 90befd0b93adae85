// Opening the selected media from the catalog window: in our viewers by the file-type table (the
// desktop's application while no viewer is installed), in the desktop's default application, or
// in a named one. A file is never handed to the desktop when that would bring it back to us.
#include "app/OVNAssetManager.h"

#include "app/OVNDocumentController.h"
#include "app/OVNOpenRoute.h"
#include "app/OVNViewerDocuments.h"
#include "browser/OVNMediaView.h"
#include "formats/OVNHelper.h"
#include "platform/Alert.h"
#include "platform/Workspace.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

namespace {

void alertForRoute(const OVNOpenRoute &route)
{
    const bool missing = route.kind == OVNOpenRoute::Kind::Missing;
    Alerts::run({missing ? OVNOpenRoute::missingFileMessage()
                         : QCoreApplication::translate("Localizable", "The file could not be opened."),
                 route.alert, {QCoreApplication::translate("Localizable", "OK")}, Alert::Style::Warning,
                 Alert::Modality::Application, {}});
}

} // namespace

void OVNAssetManager::openMedia(OVNMediaView *view, int viewerType, const QString &application)
{
    if (!view || viewerType < 0 || viewerType > 2)
        return;
    const QList<int> rows = view->selectedRows();
    if (rows.isEmpty()) {
        QApplication::beep();
        return;
    }
    if (!verifyActionWithMultipleItems(int(rows.size())))
        return;
    for (int row : rows) {
        const MediaRecordRef record = view->objectForRow(row);
        if (!record)
            continue;
        const QString &stored = record->field(MediaRecord::AbsolutePath);
        const QString &volume = record->field(MediaRecord::VolumeName);
        if (viewerType == 0) {
            OVNDocumentController::openFile(stored, volume, record->field(MediaRecord::Orientation).toInt(),
                                           OVNViewerDocuments::shared());
            continue;
        }
        // A file of the media server may be in the folder its share is mounted on.
        const QString path = stored.isEmpty() ? QString() : OVNHelper::existingFilePath(stored);
        if (path.isEmpty()) {
            OVNOpenRoute missing;
            missing.kind = OVNOpenRoute::Kind::Missing;
            missing.alert = OVNOpenRoute::missingFileText(volume, stored);
            alertForRoute(missing);
            continue;
        }
        if (viewerType == 2 && !application.isEmpty()) {
            // The chosen application is a desktop entry or a program: the path is one argument.
            if (application.endsWith(QLatin1String(".desktop")))
                Workspace::openFiles({path}, Workspace::readDesktopEntry(application, QFileInfo(application).fileName()));
            else
                QProcess::startDetached(application, {path});
            continue;
        }
        const OVNOpenRoute route = OVNOpenRoute::forDesktop(path);
        if (route.kind != OVNOpenRoute::Kind::Desktop || !OVNDocumentController::launch(route))
            alertForRoute(route.kind == OVNOpenRoute::Kind::Desktop ? OVNOpenRoute{OVNOpenRoute::Kind::Refused, path, {},
                              QCoreApplication::translate("Localizable", "\"%1\" could not be started.").arg(route.application.name)}
                                                                  : route);
    }
}

void OVNAssetManager::buttonOpenWithQuickTimeClick()
{
    // The movie player of the design is the desktop's default application here.
    openMedia(m_mediaView, 1, QString());
}
