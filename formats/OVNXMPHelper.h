#pragma once

#include "formats/MetadataDictionary.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// Reads one XMP packet (RDF/XML) into display keys ("DC Title", "DC Subject and Keywords",
// "IPTC City", ...) and their texts. Elements are matched by their prefixed names as written.
// The XML reader loads nothing from outside the packet: no external entity, no DTD.
// One helper per packet.
class OVNXMPHelper
{
public:
    // Never fails: a packet that is not well-formed gives the keys found before the fault.
    MetadataDictionary parseXMP(QByteArrayView packet);
    // An .xmp sidecar file (its first maximumSidecarBytes); empty when it cannot be opened.
    MetadataDictionary parseXMPFile(const QString &path);

    // Sidecars are a few kilobytes; a larger file is read only this far.
    static constexpr qint64 maximumSidecarBytes = qint64(16) << 20;

    // The localized display key for an element, or the empty string for an element without one.
    static QString displayKeyForElement(QStringView qualifiedName);
    // What a "xapRights:Marked" text shows as.
    static QString markedText(const QString &text);

private:
    void characters(QStringView text);
    void elementEnded(QStringView qualifiedName);

    std::optional<QString> m_value; // the text gathered since the last stored value
    MetadataDictionary m_result;
};
