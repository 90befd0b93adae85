#pragma once

#include <QColor>
#include <QVariant>

// Decoding of the colour dictionaries kept in settings and icon sets: "RED", "GREEN", "BLUE" and
// "ALPHA", each a decimal string ("%.4f") from 0 to 1. A missing key counts as 0, so a dictionary
// without "ALPHA" is fully transparent; a string that does not start with a number counts as 0.
// (Kept here until the shared colour and font coding of the format layer joins this branch.)
namespace ColorSettingCoding {

QColor decodeToColor(const QVariantMap &colorSetting);
// The leading decimal number of a setting value (a string, or a number as some files store it).
float componentValue(const QVariant &value);

} // namespace ColorSettingCoding
