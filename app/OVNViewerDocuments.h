#pragma once

#include <QString>

// The program's own viewer documents, as the application controller opens them. The image viewer
// is given the orientation before it reads the file; the movie viewer shows movies unturned.
// Without one installed, files for the viewers go the desktop's road.
class OVNViewerDocuments
{
public:
    virtual ~OVNViewerDocuments() = default;
    // True when a viewer document was made for the file.
    virtual bool openImage(const QString &path, int orientation) = 0;
    virtual bool openMovie(const QString &path) = 0;
};
