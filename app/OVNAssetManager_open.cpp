// Opening the selected media from the catalog window. The internal viewers are not part of this
// build yet: until a file can be handed to one, every choice but a named application opens the
// file with the application the desktop associates with it.
#include "app/OVNAssetManager.h"

#include "browser/OVNMediaView.h"
#include "formats/OVNHelper.h"
#include "platform/Workspace.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

void OVNAssetManager::openMedia(OVNMediaView *view, int viewerType, const QString &application)
{
    if (!view || viewerType < 0 || viewerType > 2)
        return;
    for (int row : view->selectedRows()) {
        // A file of the media server may be in the folder its share is mounted on.
        const QString path = OVNHelper::existingFilePath(view->filenameForRow(row));
        if (path.isEmpty())
            continue;
        // The chosen application is a desktop entry or a program.
        if (viewerType == 2 && application.endsWith(QLatin1String(".desktop")))
            Workspace::openFiles({path}, Workspace::readDesktopEntry(application, QFileInfo(application).fileName()));
        else if (viewerType == 2 && !application.isEmpty())
            QProcess::startDetached(application, {path});
        else
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
}
