#pragma once

#include <QList>
#include <QVariantMap>

// One row of the file-type table: a dictionary of strings under "extension", "hfstype" (optional),
// "description", "processor", "viewer", "exif", "iptc" and "type".
using FileTypeEntry = QVariantMap;

// The whole table, in order: every look-up takes the first matching row.
using FileTypeTable = QList<FileTypeEntry>;

// The literal answer of every look-up that finds no row.
inline constexpr const char *kFileTypeNone = "None";

// What a user reads for a code the catalog and the file-type table store: the built-in viewers
// and the plain image type by what they are; any other code as it is. Stored values never change.
QString fileTypeCodeDisplayName(const QString &code);
