#include "app/OVNExpressOpening.h"

#include "app/OVNDocumentController.h"
#include "app/OVNViewerDocuments.h"

void OVNExpressOpening::openInViewer(const QString &path, const QString &volume, int orientation)
{
    m_controller.openDocumentWithContentsOfFile(path, volume, orientation);
}

void OVNExpressOpening::openFullScreen(const QString &path, const QString &volume)
{
    // Only a movie goes to full screen; anything else opens as it would (without turning).
    OVNDocumentController::openFile(path, volume, 0, OVNViewerDocuments::shared(),
                                    OVNDocumentController::OpenMode::FullScreen);
}

void OVNExpressOpening::openWithCreator(const QString &path, const QString &volume)
{
    OVNDocumentController::openWithDesktop(path, volume, QString());
}

void OVNExpressOpening::openWithApplication(const QString &path, const QString &volume, const QString &application)
{
    OVNDocumentController::openWithDesktop(path, volume, application);
}
