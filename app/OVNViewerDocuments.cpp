#include "app/OVNViewerDocuments.h"

#include "viewers/OVNImageViewer.h"
#include "viewers/OVNMediaViewer.h"
#include "viewers/OVNSlideShow.h"

#include <QCoreApplication>

namespace {
OVNViewerDocuments *g_shared = nullptr;
} // namespace

OVNViewerDocuments *OVNViewerDocuments::shared() { return g_shared; }

void OVNViewerDocuments::setShared(OVNViewerDocuments *viewers) { g_shared = viewers; }

bool OVNImageViewerDocuments::openImage(const QString &path, int orientation, const std::function<bool()> &handOnCheck)
{
    // The window owns itself: it is deleted when closed.
    auto *viewer = new OVNImageViewer;
    viewer->setOnLoadOrientation(orientation);
    viewer->setHandOnCheck(handOnCheck);
    viewer->loadAndShowFile(path);
    m_documents.removeAll(nullptr);
    m_documents.append(viewer);
    if (noteRecent)
        noteRecent(path);
    return true;
}

bool OVNImageViewerDocuments::openImageFullScreen(const QString &path, int orientation, const std::function<bool()> &)
{
    // The show ends itself (the application ends any still open); nothing in it hands the entry
    // on, so the read rule is not asked again.
    auto *show = new OVNSlideShow(QCoreApplication::instance());
    show->setSlides({{path, orientation}});
    show->setInterval(0);
    show->startSlideShow();
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

bool OVNImageViewerDocuments::openMovie(const QString &path, const std::function<bool()> &handOnCheck)
{
    // The window owns itself; a movie that cannot be played gets its failure sheet and closes.
    auto *viewer = new OVNMediaViewer;
    viewer->setHandOnCheck(handOnCheck);
    viewer->loadAndShowFile(path);
    m_movies.removeAll(nullptr);
    m_movies.append(viewer);
    if (noteRecent)
        noteRecent(path);
    return true;
}

bool OVNImageViewerDocuments::openMovieFullScreen(const QString &path, const std::function<bool()> &handOnCheck)
{
    if (!openMovie(path, handOnCheck))
        return false;
    m_movies.last()->buttonFullScreenClick();
    return true;
}

QList<OVNMediaViewer *> OVNImageViewerDocuments::movieDocuments() const
{
    QList<OVNMediaViewer *> open;
    for (const QPointer<OVNMediaViewer> &viewer : m_movies) {
        if (viewer)
            open.append(viewer);
    }
    return open;
}
