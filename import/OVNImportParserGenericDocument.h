#pragma once

#include <QImage>
#include <QString>
#include <QVariantMap>

// Documents without a picture of their own: their thumbnail is the icon of their type.
class OVNImportParserGenericDocument
{
public:
    OVNImportParserGenericDocument() = delete;

    // The type icon; writes "imagewidth", "imageheight" "0" and "Orientation" 0.
    static QImage loadImageForFile(const QString &path, QVariantMap &record);
    // A 128 × 128 page with a folded corner and the extension written on it. Drawn here rather
    // than taken from the desktop's icon theme, which may only be used on the GUI thread.
    static QImage typeIcon(const QString &extension);

    static constexpr int iconSize = 128;
};
