// The Canon CRW side of OVNImageTagParser: the heap walk and the records that reach the
// metadata dictionary.
#include "formats/OVNImageTagParser.h"

#include "formats/ByteSource.h"

#include "platform/Localized.h"

#include <algorithm>
#include <cmath>

namespace {

struct ValueName {
    quint32 value;
    const char *name;
};

template <std::size_t N>
const char *nameFor(const ValueName (&table)[N], quint32 value)
{
    for (const ValueName &entry : table) {
        if (entry.value == value)
            return entry.name;
    }
    return nullptr;
}

constexpr ValueName shutterReleaseMethods[] = {{0, "Single Shot"}, {1, "Continuous Shooting"}};
constexpr ValueName shutterReleaseTimings[] = {{0, "Priority on Shutter"}, {1, "Priority on Focus"}};

constexpr ValueName whiteBalances[] = {
    {0, "Auto"},
    {1, "Daylight"},
    {2, "Cloudy"},
    {3, "Tungsten"},
    {4, "Fluorescent"},
    {5, "Flash"},
    {6, "Custom"},
    {7, "Black & White"},
    {8, "Shade"},
    {9, "Manual temperature"},
    {14, "Daylight Fluorescent"},
    {17, "Underwater"},
};
constexpr ValueName aeBracketings[] = {{0, "Off"}, {0xFFFF, "On"}};

constexpr ValueName macroModes[] = {{1, "Macro"}, {2, "Normal"}};
constexpr ValueName qualities[] = {{2, "Normal"}, {3, "Fine"}, {4, "RAW"}, {5, "Superfine"}};
constexpr ValueName flashModes[] = {
    {0, "Flash Off"},
    {1, "Auto Flash"},
    {2, "Flash On"},
    {3, "Red Eye Reduction"},
    {4, "Slow Sync"},
    {5, "Red Eye Reduction (Auto)"},
    {6, "Red Eye Reduction (On)"},
    {16, "External Flash"},
};
constexpr ValueName continuousDrives[] = {{1, "Single"}, {2, "Continuous"}};
constexpr ValueName focusModes[] = {
    {0, "One-shot AF"}, {1, "AI Servo AF"}, {2, "AI Focus AF"},  {3, "Manual Focus"},
    {4, "Single"},      {5, "Continuous"},  {6, "Manual Focus"},
};
constexpr ValueName imageSizes[] = {{1, "Large"}, {2, "Medium"}, {3, "Small"}};
constexpr ValueName easyModes[] = {
    {0, "Full Auto"},     {1, "Manual"}, {2, "Landscape"}, {3, "Fast Shutter"}, {4, "Slow Shutter"}, {5, "Night"},
    {6, "Black & White"}, {7, "Sepia"},  {8, "Portrait"},  {9, "Sports"},       {10, "Macro"},       {11, "Pan focus"},
};
constexpr ValueName digitalZooms[] = {{0, "None"}, {1, "x2"}, {2, "x3"}, {3, "Digital Zoom On"}};
constexpr ValueName cameraIsos[] = {
    {15, "Auto"}, {16, "ISO 50"}, {17, "ISO 100"}, {18, "ISO 200"}, {19, "ISO 400"},
};
constexpr ValueName afPoints[] = {
    {0x2005, "Manual AF point selection"},
    {0x3000, "None (MF)"},
    {0x3001, "Auto-selected"},
    {0x3002, "Right"},
    {0x3003, "Center"},
    {0x3004, "Left"},
    {0x4001, "Auto AF point selection"},
};
constexpr ValueName exposureModes[] = {
    {0, "Easy"},   {1, "Program AE"},        {2, "Shutter Speed Priority AE"}, {3, "Aperture Priority AE"},
    {4, "Manual"}, {5, "Depth-of-field AE"},
};

// Lens names are product names and are shown as they stand.
constexpr ValueName lensTypes[] = {
    {1, "Canon EF 50mm f/1.8"},
    {2, "Canon EF 28mm f/2.8"},
    {4, "Sigma UC Zoom 35-135mm f/4-5.6E"},
    {6, "Tokina AF193-2 19-35mm f/3.5-4.5"},
    {10, "Sigma 50mm f/2.8 EX / 28mm f/1.8"},
    {21, "Canon EF 80-200mm f/2.8L"},
    {26, "Cosina 100mm f/3.5 Macro AF"},
    {28, "Tamron AF Aspherical 28-200mm f/3.8-5.6"},
    {29, "Canon EF 50mm f/1.8 MkII"},
    {39, "Canon EF 75-300mm f/4-5.6"},
    {40, "Canon EF 28-80mm f/3.5-5.6"},
    {125, "Canon TS-E 24mm f/3.5L"},
    {131, "Sigma 17-35mm f2.8-4 EX Aspherical HSM"},
    {135, "Canon EF 200mm f/1.8L"},
    {136, "Canon EF 300mm f/2.8L"},
    {139, "Canon EF 400mm f/2.8L"},
    {141, "Canon EF 500mm f/4.5L"},
    {150, "Sigma 20mm EX f/1.8"},
    {151, "Canon EF 200mm f/2.8L USM"},
    {155, "Canon EF 85mm f/1.8 USM"},
    {156, "Canon EF 28-105mm f/3.5-4.5 USM"},
    {160, "Canon EF 20-35mm f/3.5-4.5 USM"},
    {161, "Canon EF 28-70mm f/2.8mm L USM / Sigma 24-70mm EX f/2.8"},
    {165, "Canon EF 70-200mm f/2.8 L"},
    {166, "Canon EF 70-200mm f/2.8 L + x1.4"},
    {167, "Canon EF 70-200mm f/2.8 L + x2"},
    {169, "Sigma 15-30mm f/3.5-4.5 EX DG Aspherical"},
    {173, "Sigma 180mm EX HSM Macro f/3.5"},
    {176, "Canon EF 24-85mm f/3.5-4.5 USM"},
    {178, "Canon EF 28-135mm f/3.5-5.6 IS"},
    {182, "Canon EF 100-400mm f/4.5-5.6 L IS + x2"},
    {183, "Canon EF 100-400mm f/4.5-5.6 L IS"},
    {190, "Canon EF 100mm f/2.8 Macro"},
    {197, "Canon EF 75-300mm f/4-5.6 IS"},
    {202, "Canon EF 28-80 f/3.5-5.6 USM IV"},
    {213, "Canon EF 90-300mm f/4.5-5.6"},
    {231, "Canon EF 17-40mm f/4L"},
};

bool isSubHeap(quint32 id)
{
    switch (id) {
    case 0x2804:
    case 0x2807:
    case 0x3002:
    case 0x3003:
    case 0x3004:
    case 0x300A:
    case 0x300B:
        return true;
    default:
        return false;
    }
}

// The records read as word arrays use no word beyond the 28th.
constexpr qint64 wordArrayBytes = 64;

// Word `n` of a CRW value array, or nothing when the array is shorter.
struct WordReader {
    QByteArrayView array;
    OVNImageTagParser::ByteOrder order;

    bool has(int n) const { return 2 * qint64(n) + 2 <= array.size(); }
    quint32 operator[](int n) const { return OVNImageTagParser::get2Bytes(array, 2 * n, order); }
};

void insertLocalized(MetadataDictionary &out, const char *key, const char *english)
{
    if (english)
        out.insert(QString::fromLatin1(key), localizedMetadata(english));
}

} // namespace

std::pair<QString, QString> OVNImageTagParser::splitCanonMakeModel(QByteArrayView value)
{
    const QString make = getString(value, 0, value.size());
    const qsizetype firstZero = value.indexOf('\0');
    if (firstZero < 0)
        return {make, QString()};
    return {make, getString(value, firstZero + 1, value.size() - firstZero - 1)};
}

int OVNImageTagParser::exifOrientationFromCanonAutoRotate(quint32 autoRotate)
{
    switch (autoRotate) {
    case 0:
        return 1; // none
    case 1:
        return 6; // 90 degrees clockwise
    case 2:
        return 3; // 180 degrees
    case 3:
        return 8; // 270 degrees clockwise
    default:
        return 0; // -1 "rotated by software", or garbage
    }
}

MetadataDictionary OVNImageTagParser::convertCRWTagsToDictionary(QByteArrayView data, quint32 directoryAt,
                                                                 quint32 blockStartAt, ByteOrder order)
{
    beginWalk(data.size());
    m_parsedHeaps.clear();
    ByteSource source(data);
    MetadataDictionary result;
    walkCrwHeap(source, blockStartAt, data.size(), directoryAt, order, 0, result);
    return result;
}

void OVNImageTagParser::walkCrwHeap(ByteSource &data, qint64 blockStart, qint64 blockEnd, qint64 directory,
                                    ByteOrder order, int depth, MetadataDictionary &out)
{
    // A heap that names itself (or an ancestor) as its sub-heap is walked once; the depth cap
    // ends any other nesting that a real file never has.
    if (depth > maximumCrwDepth || !m_parsedHeaps.insert({blockStart, directory}).second)
        return;
    const qint64 directoryStart = blockStart + directory;
    if (blockStart < 0 || directoryStart < blockStart || directoryStart + 2 > blockEnd)
        return;
    qint64 count = get2Bytes(data, directoryStart, order);
    for (qint64 record = directoryStart + 2; count > 0 && record + 10 <= blockEnd; --count, record += 10) {
        if (!spend(10))
            return;
        const quint32 tagWord = get2Bytes(data, record, order);
        const qint64 size = get4Bytes(data, record + 2, order);
        const qint64 offset = get4Bytes(data, record + 6, order);
        const quint32 location = tagWord & 0xC000;
        const quint32 id = tagWord & 0x3FFF;
        const qint64 value = blockStart + offset;
        // A value or sub-heap must lie inside the heap that holds its record.
        const bool valueInside = value <= blockEnd && size <= blockEnd - value;

        if (isSubHeap(id)) {
            if (!valueInside || size < 4)
                continue;
            const qint64 subDirectory = get4Bytes(data, value + size - 4, order);
            walkCrwHeap(data, value, value + size, subDirectory, order, depth + 1, out);
        } else if (location == 0x4000) {
            applyCrwInlineRecord(data, id, record, order, out);
        } else if (valueInside) {
            applyCrwHeapRecord(data, id, value, size, order, out);
        }
    }
}

void OVNImageTagParser::applyCrwHeapRecord(ByteSource &data, quint32 id, qint64 value, qint64 size, ByteOrder order,
                                           MetadataDictionary &out)
{
    const auto string = [&](const char *key) {
        if (spend(size))
            out.insert(QString::fromLatin1(key), getString(data, value, size));
    };
    switch (id) {
    case 0x0805:
        string("CanonFileDescription");
        break;
    case 0x080A: {
        // The make, a zero byte, the model, a zero byte, and padding.
        if (!spend(size))
            return;
        const QByteArrayView makeModel = data.view(value, size);
        if (makeModel.size() != size)
            return;
        const auto [make, model] = splitCanonMakeModel(makeModel);
        if (!make.isEmpty() && !model.isEmpty()) {
            out.insert(QStringLiteral("CameraMake"), make);
            out.insert(QStringLiteral("CameraModel"), model);
        } else {
            out.insert(QStringLiteral("CanonRawMakeModel"), make);
        }
        break;
    }
    case 0x080B:
        string("CanonFirmwareVersion");
        break;
    case 0x0810:
        string("OwnerName");
        break;
    case 0x0815:
        string("CanonImageType");
        break;
    case 0x0816:
        string("OriginalFileName");
        break;
    case 0x0817:
        string("ThumbnailFileName");
        break;
    case 0x1038: {
        const WordReader words{data.view(value, std::min<qint64>(size, wordArrayBytes)), order};
        const std::pair<int, const char *> sizes[] = {
            {2, "ImageSizeWidth"}, {3, "ImageSizeHeight"}, {4, "ImageSizeAsShotWidth"}, {5, "ImageSizeAsShotHeight"}};
        for (const auto &[n, key] : sizes) {
            if (words.has(n))
                out.insert(QString::fromLatin1(key), qint64(words[n]));
        }
        break;
    }
    case 0x102A:
        applyCrwShotInfo(data, value, size, order, out);
        break;
    case 0x102D:
        applyCrwCameraSettings(data, value, size, order, out);
        break;
    default:
        break; // 0x0032 and everything unknown
    }
}

void OVNImageTagParser::applyCrwInlineRecord(ByteSource &data, quint32 id, qint64 record, ByteOrder order,
                                             MetadataDictionary &out)
{
    const qint64 value = record + 2;
    const auto word = [&](qint64 at) { return qint64(get2Bytes(data, at, order)); };
    switch (id) {
    case 0x1010:
        insertLocalized(out, "ShutterReleaseMethod", nameFor(shutterReleaseMethods, word(value)));
        break;
    case 0x1011:
        insertLocalized(out, "ShutterReleaseTiming", nameFor(shutterReleaseTimings, word(value)));
        break;
    case 0x1016:
        out.insert(QStringLiteral("ReleaseSetting"), word(value));
        break;
    case 0x101C:
        out.insert(QStringLiteral("BaseISO"), word(value));
        break;
    case 0x1029: {
        const qint64 focalLength = word(record + 4);
        out.insert(QStringLiteral("FocalLength"), focalLength);
        out.insert(QStringLiteral("ImageFocalLength"), QStringLiteral("%1 mm").arg(focalLength));
        out.insert(QStringLiteral("CCDWidth"), word(record + 6));
        out.insert(QStringLiteral("CCDHeight"), word(record + 8));
        m_crwFocalLength = focalLength;
        break;
    }
    case 0x10AE:
        out.insert(QStringLiteral("ColorTemperature"), word(value));
        break;
    case 0x10B4:
        out.insert(QStringLiteral("ColorSpace"), word(value));
        break;
    case 0x1807:
        out.insert(QStringLiteral("TargetDistanceSetting"), get4Bytes(data, value, order));
        break;
    case 0x180B:
        out.insert(QStringLiteral("CameraSerialNumber"), get4Bytes(data, value, order));
        break;
    case 0x1817:
        out.insert(QStringLiteral("FileNumber"), get4Bytes(data, value, order));
        break;
    default:
        break;
    }
}

void OVNImageTagParser::applyCrwShotInfo(ByteSource &data, qint64 value, qint64 size, ByteOrder order,
                                         MetadataDictionary &out)
{
    const WordReader words{data.view(value, std::min<qint64>(size, wordArrayBytes)), order};
    if (words.has(2))
        out.insert(QStringLiteral("ImageISO"), qint64(words[2]));
    if (words.has(7))
        insertLocalized(out, "ImageWhiteBalance", nameFor(whiteBalances, words[7]));
    if (words.has(16))
        insertLocalized(out, "ImageAEBracketing", nameFor(aeBracketings, words[16]));
    if (words.has(17))
        out.insert(QStringLiteral("ImageAEBracketValue"), qint64(words[17]));
    if (words.has(21))
        out.insert(QStringLiteral("ImageFNumber"), qint64(words[21]));
    if (words.has(22))
        out.insert(QStringLiteral("ImageExposureTime"), qint64(words[22]));
    if (words.has(27)) {
        // The camera's own rotation word stays as it is; "Orientation" carries it in the EXIF
        // numbering that every viewer and the catalog use.
        const quint32 autoRotate = words[27];
        out.insert(QStringLiteral("ImageAutoRotate"), qint64(autoRotate));
        if (const int orientation = exifOrientationFromCanonAutoRotate(autoRotate))
            out.insert(QStringLiteral("Orientation"), qint64(orientation));
    }
}

void OVNImageTagParser::applyCrwCameraSettings(ByteSource &data, qint64 value, qint64 size, ByteOrder order,
                                               MetadataDictionary &out)
{
    const WordReader words{data.view(value, std::min<qint64>(size, wordArrayBytes)), order};
    const auto named = [&](int n, const char *key, auto &table) {
        if (words.has(n))
            insertLocalized(out, key, nameFor(table, words[n]));
    };
    const auto number = [&](int n, const char *key) {
        if (words.has(n))
            out.insert(QString::fromLatin1(key), qint64(words[n]));
    };
    named(1, "MacroMode", macroModes);
    number(2, "SelfTimer");
    named(3, "Quality", qualities);
    named(4, "ImageFlashMode", flashModes);
    named(5, "ContinuousDrive", continuousDrives);
    named(7, "ImageFocusMode", focusModes);
    named(10, "CanonImageSize", imageSizes);
    named(11, "ImageEasyMode", easyModes);
    named(12, "DigitalZoom", digitalZooms);
    number(13, "ImageAdjustContrast");
    number(14, "ImageAdjustSaturation");
    number(15, "ImageAdjustSharpness");
    named(16, "CameraISO", cameraIsos);
    named(19, "AFPoint", afPoints);
    named(20, "ImageExposureMode", exposureModes);
    if (words.has(22)) {
        if (const char *lens = nameFor(lensTypes, words[22]))
            out.insert(QStringLiteral("LensType"), QString::fromLatin1(lens));
    }
    if (words.has(25)) {
        const qint64 longFocal = words[23];
        const qint64 shortFocal = words[24];
        const qint64 units = words[25];
        if (units == 1) {
            out.insert(QStringLiteral("Lens"), QStringLiteral("%1 - %2 mm").arg(shortFocal).arg(longFocal));
        } else if (shortFocal > 0 && longFocal > 0 && units > 1) {
            // Counted in fractions of a millimetre, as the focal length is (32 per mm on a PowerShot).
            const auto mm = [units](qint64 focal) { return QString::number(double(focal) / double(units), 'f', 1); };
            out.insert(QStringLiteral("Lens"), QStringLiteral("%1 - %2 mm").arg(mm(shortFocal), mm(longFocal)));
        } else if (shortFocal > 0 && longFocal > 0) {
            out.insert(QStringLiteral("Lens"), QStringLiteral("%1 - %2").arg(shortFocal).arg(longFocal));
        }
        m_crwFocalUnits = units;
    }
}

void OVNImageTagParser::finishCrwFocalLength(MetadataDictionary &out) const
{
    // Compact cameras count the focal length in fractions of a millimetre (the camera settings'
    // focal units, 32 on a PowerShot); shown raw it would read 227 mm for a 7.1 mm lens.
    if (m_crwFocalLength < 0 || m_crwFocalUnits <= 1)
        return;
    const double millimetres = double(m_crwFocalLength) / double(m_crwFocalUnits);
    out.insert(QStringLiteral("FocalLength"), millimetres);
    out.insert(QStringLiteral("ImageFocalLength"), QStringLiteral("%1 mm").arg(qRound(millimetres)));
}
