#pragma once

#include <QImage>
#include <QString>
#include <QVariantMap>

// Documents without a picture of their own: their thumbnail is an icon, the desktop's for the
// file's type or one drawn here.
class OVNImportParserGenericDocument
{
public:
    OVNImportParserGenericDocument() = delete;

    // The type icon; writes "imagewidth", "imageheight" "0" and "Orientation" 0.
    static QImage loadImageForFile(const QString &path, QVariantMap &record);
    // A 128 × 128 page with a folded corner and the extension written on it.
    static QImage typeIcon(const QString &extension);
    // The desktop's icon for the file's type: the icon theme's icon for its MIME type (or, when
    // the theme has none, for the type's generic kind), 128 × 128. Null when the theme has
    // neither or no graphical application runs. The theme may only be used on the GUI thread:
    // from another thread the icon is made there, and when the GUI thread does not answer in
    // time (it waits for this one) the result is null. Icons are kept per type once made.
    static QImage desktopIcon(const QString &path);

    static constexpr int iconSize = 128;
};
