#pragma once

#include <QString>

#include <functional>
#include <memory>

// The image adjustment window, as the catalog window opens it: one per file, turned by the entry's
// orientation code. The window is made through a factory that the program sets; without one no
// adjustment can be opened (and the commands that would open one are disabled).
class OVNCoreImageAdjust
{
public:
    virtual ~OVNCoreImageAdjust();
    // The picture loaded next is shown turned as the orientation code says.
    virtual void setOnLoadOrientation(int orientation) = 0;
    // Loads the file and shows the window.
    virtual void loadImage(const QString &path) = 0;
    // Asked at each export, before anything is written (the window may stay open long after it
    // was opened): false stops the export, and the check has said why. Without one every export
    // goes.
    using ExportCheck = std::function<bool()>;
    virtual void setExportCheck(ExportCheck check) = 0;

    class Factory
    {
    public:
        virtual ~Factory();
        // A new adjustment window. It keeps itself alive until the user closes it (or the factory
        // keeps it): the caller holds no reference once it has loaded the image.
        virtual OVNCoreImageAdjust *create() = 0;
    };
    // The factory in use, or none. Set on the main thread.
    static void setFactory(std::shared_ptr<Factory> factory);
    static Factory *factory();
};
