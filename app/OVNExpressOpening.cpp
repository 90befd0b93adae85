#include "app/OVNExpressOpening.h"

#include "app/OVNDocumentController.h"
#include "app/OVNOpenRoute.h"
#include "app/OVNViewerDocuments.h"
#include "formats/OVNExtensionMapping.h"
#include "viewers/OVNMediaViewer.h"

void OVNExpressOpening::openInViewer(const QString &path, const QString &volume, int orientation)
{
    m_controller.openDocumentWithContentsOfFile(path, volume, orientation);
}

void OVNExpressOpening::openFullScreen(const QString &path, const QString &volume)
{
    // Only a movie viewer goes to full screen; anything else opens as it would (without turning).
    const OVNExtensionMapping mapping;
    const OVNOpenRoute route = OVNOpenRoute::forFile(path, volume, mapping);
    auto *viewers = dynamic_cast<OVNImageViewerDocuments *>(OVNViewerDocuments::shared());
    if (route.kind == OVNOpenRoute::Kind::MovieViewer && viewers && viewers->openMovie(route.path)) {
        if (!viewers->movieDocuments().isEmpty())
            viewers->movieDocuments().last()->buttonFullScreenClick();
        return;
    }
    m_controller.openDocumentWithContentsOfFile(path, volume, 0);
}

void OVNExpressOpening::openWithCreator(const QString &path, const QString &volume)
{
    OVNDocumentController::openWithDesktop(path, volume, QString());
}

void OVNExpressOpening::openWithApplication(const QString &path, const QString &volume, const QString &application)
{
    OVNDocumentController::openWithDesktop(path, volume, application);
}
