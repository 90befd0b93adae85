#pragma once

#include "formats/FileTypeEntry.h"

// The two built-in generations of the file-type table, and the choice of the table to start from.
// Both sets hold the same 109 rows in the same order; the older one (for the 10.3 platform) sends
// most camera-RAW rows to the built-in RAW decoder instead of the platform's image reading.
class OVNExtensionMappingHelper
{
public:
    static constexpr int kBuiltInRowCount = 109;

    // A new table of the newer set.
    static FileTypeTable getDefaultMappingForMacOSX10_4();
    // A new table of the older set.
    static FileTypeTable getDefaultMappingForMacOSX10_3();
    // The older set when the system version says 10.3.x, otherwise the newer one.
    static FileTypeTable getDefaultMapping();
    // For a given system version number (as OVNHelper::systemMajorVersion answers it).
    static FileTypeTable defaultMappingForSystemVersion(int systemVersion);
    // The user's table from the preference "FileTypeMapping" when it holds an array (even an empty
    // one), otherwise the default set.
    static FileTypeTable getCurrentMapping();
    // The same decision for a value read from the preferences.
    static FileTypeTable mappingFromPreferenceValue(const QVariant &value, int systemVersion);
};
