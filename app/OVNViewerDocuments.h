#pragma once

#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

class OVNImageViewer;
class OVNMediaViewer;

// The program's own viewer documents, as the application controller opens them. The image viewer
// is given the orientation before it reads the file (the catalog's, or OVNOrientation::codeFromFile
// for the file's own); the movie viewer shows movies unturned.
// Without one installed, files for the viewers go the desktop's road.
class OVNViewerDocuments
{
public:
    virtual ~OVNViewerDocuments() = default;
    // True when a viewer document was made for the file. `handOnCheck`, when given (a catalog's
    // entry: its read rule), is asked whenever the viewer hands the entry on: before it reveals the
    // file, and at each export of an adjustment window opened from it.
    virtual bool openImage(const QString &path, int orientation, const std::function<bool()> &handOnCheck) = 0;
    virtual bool openMovie(const QString &path, const std::function<bool()> &handOnCheck) = 0;
    // A movie played at once in full screen (it goes there when it has opened).
    virtual bool openMovieFullScreen(const QString &path, const std::function<bool()> &handOnCheck)
    {
        return openMovie(path, handOnCheck);
    }

    // A picture on the whole screen until a key or a click ends it; by default in its window.
    virtual bool openImageFullScreen(const QString &path, int orientation, const std::function<bool()> &handOnCheck)
    {
        return openImage(path, orientation, handOnCheck);
    }

    // The viewers the catalog windows open with, set by the program; none sends their files to
    // the desktop.
    static OVNViewerDocuments *shared();
    static void setShared(OVNViewerDocuments *viewers);
};

// The viewers the program has: images open in an OVNImageViewer, movies in an OVNMediaViewer
// (windows deleted on close).
class OVNImageViewerDocuments : public OVNViewerDocuments
{
public:
    bool openImage(const QString &path, int orientation, const std::function<bool()> &handOnCheck) override;
    bool openMovie(const QString &path, const std::function<bool()> &handOnCheck) override;
    bool openMovieFullScreen(const QString &path, const std::function<bool()> &handOnCheck) override;
    // As a slide show of the one picture that stays until Escape, a click or an arrow key.
    bool openImageFullScreen(const QString &path, int orientation, const std::function<bool()> &handOnCheck) override;
    // The viewer windows still open, oldest first.
    QList<OVNImageViewer *> documents() const;
    // The movie viewer windows still open, oldest first.
    QList<OVNMediaViewer *> movieDocuments() const;
    // Told of each file opened (the recent files).
    std::function<void(const QString &path)> noteRecent;

private:
    QList<QPointer<OVNImageViewer>> m_documents;
    QList<QPointer<OVNMediaViewer>> m_movies;
};
