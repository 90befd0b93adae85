#pragma once

#include <QString>

// The private drag and clipboard formats of the catalog windows. The thumbnail view writes the
// three media formats together when media are dragged out of a category; the category outline
// reads them, and writes and reads the dragged categories. File names travel as text/uri-list.
class OVNPasteboardTypes
{
public:
    // The dragged categories: an XML property list, an array of their node dictionaries.
    static QString catalogItem() { return QStringLiteral("application/x-ostrevan-catalog-item"); }
    // The dragged media: an XML property list, an array of media ids.
    static QString mediaMid() { return QStringLiteral("application/x-ostrevan-media-mid"); }
    // The id of the category the media come from (UTF-8; empty when none).
    static QString sourceCatalogMid() { return QStringLiteral("application/x-ostrevan-source-catalog-mid"); }
    // The kind of that category ("C", "S", "M", "F", ...; UTF-8).
    static QString mediaContainerType() { return QStringLiteral("application/x-ostrevan-media-container-type"); }
    // Which catalog the media ids belong to: a digest of the catalog's file or server and
    // database, so that ids are never taken for entries of another catalog.
    static QString catalogIdentity() { return QStringLiteral("application/x-ostrevan-catalog-identity"); }
    // How GNOME's file managers take files from the clipboard ("copy" and one URI a line).
    static QString gnomeCopiedFiles() { return QStringLiteral("x-special/gnome-copied-files"); }
};
