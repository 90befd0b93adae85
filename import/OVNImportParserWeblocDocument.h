#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QVariantMap>

// Web locations: the type icon, and the address they point to as the entry's description. Read
// from a ".webloc" property list (key "URL"), or the "URL=" line of a ".url" or ".desktop" link.
class OVNImportParserWeblocDocument
{
public:
    OVNImportParserWeblocDocument() = delete;

    // The type icon, as for any document; writes the address to "fulldesc" when there is one.
    static QImage loadImageForFile(const QString &path, QVariantMap &record);
    // The address in a web location's bytes; empty when there is none.
    static QString urlFromData(const QByteArray &data);

    // Larger files are no web locations.
    static constexpr qint64 maximumBytes = 1 << 20;
};
