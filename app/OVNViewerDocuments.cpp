#include "app/OVNViewerDocuments.h"

#include "viewers/OVNImageViewer.h"

namespace {
OVNViewerDocuments *g_shared = nullptr;
} // namespace

OVNViewerDocuments *OVNViewerDocuments::shared()
{
    return g_shared;
}

void OVNViewerDocuments::setShared(OVNViewerDocuments *viewers)
{
    g_shared = viewers;
}

bool OVNImageViewerDocuments::openImage(const QString &path, int orientation)
{
    // The window owns itself: it is deleted when closed.
    auto *viewer = new OVNImageViewer;
    viewer->setOnLoadOrientation(orientation);
    viewer->loadAndShowFile(path);
    m_documents.removeAll(nullptr);
    m_documents.append(viewer);
    if (noteRecent)
        noteRecent(path);
    return true;
}

QList<OVNImageViewer *> OVNImageViewerDocuments::documents() const
{
    QList<OVNImageViewer *> open;
    for (const QPointer<OVNImageViewer> &viewer : m_documents) {
        if (viewer)
            open.append(viewer);
    }
    return open;
}
