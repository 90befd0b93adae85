#pragma once

#include "platform/Workspace.h"

#include <QString>

class OVNExtensionMapping;

// Where a media file goes when it is opened: one of our viewers by the file-type table, the
// application the desktop opens it with, or nowhere with an alert saying why. A pure decision, so
// that the program, tools/ovn-open and the tests take the same road.
struct OVNOpenRoute {
    enum class Kind { ImageViewer, MovieViewer, Desktop, Refused, Missing, Nothing };

    Kind kind = Kind::Nothing;
    QString path;
    Workspace::Application application; // Desktop
    QString alert;                      // Refused, Missing: the informative text

    // The route for a file catalogued from that volume (empty when unknown).
    static OVNOpenRoute forFile(const QString &path, const QString &volume, const OVNExtensionMapping &mapping);
    // The desktop's road alone (the viewer that hands files to the desktop, and the open-with-default
    // commands).
    static OVNOpenRoute forDesktop(const QString &path);
    // The informative text of "Media file not found." for the volume and the path, either empty.
    static QString missingFileText(const QString &volume, const QString &path);
    static QString missingFileMessage();

    // One line for tools and logs: "viewer image FILE", "desktop ENTRY FILE", "refused FILE: ..."
    QString describe() const;
};
