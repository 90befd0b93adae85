// The TIFF/EXIF side of OVNImageTagParser: IFD chains, the Exif and interoperability
// sub-IFDs, and the table of tags that reach the metadata dictionary.
#include "formats/OVNImageTagParser.h"

#include "formats/ByteSource.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// Bytes per value of a TIFF field type; 0 for types TIFF does not define.
qint64 fieldTypeSize(quint32 fieldType)
{
    switch (fieldType) {
    case 1:
    case 2:
    case 6:
    case 7:
        return 1;
    case 3:
    case 8:
        return 2;
    case 4:
    case 9:
    case 11:
        return 4;
    case 5:
    case 10:
    case 12:
        return 8;
    default:
        return 0;
    }
}

enum class Form { Number, String, TextOfNumber };

struct TagEntry {
    quint16 tag;
    const char *key;
    Form form;
};

// Tags read from any IFD (IFD0, the Exif IFD, the interoperability IFD, IFD1), in tag order.
// The pointers (0x8769, 0xA005), the XMP packet (0x02BC) and the apertures (0x829D, 0x9202)
// are handled apart.
constexpr TagEntry tagTable[] = {
    {0x0100, "JpegImageWidth", Form::Number},
    {0x0101, "JpegImageLength", Form::Number},
    {0x010F, "CameraMake", Form::String},
    {0x0110, "CameraModel", Form::String},
    {0x0112, "Orientation", Form::Number},
    {0x011A, "ResolutionWidth", Form::Number},
    {0x011B, "ResolutionHeight", Form::Number},
    {0x0128, "ResolutionUnit", Form::Number},
    {0x0131, "Software", Form::String},
    {0x0132, "DateTime", Form::String},
    {0x013B, "Artist", Form::String},
    {0x8298, "Copyright", Form::String},
    {0x829A, "ExposureTime", Form::TextOfNumber},
    {0x8822, "ExposureProgram", Form::Number},
    {0x8827, "ISOequivalent", Form::Number},
    {0x9000, "ExifVersion", Form::String},
    {0x9003, "DateTime", Form::String},
    {0x9201, "ShutterSpeed", Form::Number},
    {0x9204, "ExposureBias", Form::TextOfNumber},
    {0x9206, "Distance", Form::TextOfNumber},
    {0x9207, "MeteringMode", Form::Number},
    {0x9208, "LightSource", Form::Number},
    {0x9209, "FlashUsed", Form::Number},
    {0x920A, "FocalLength", Form::TextOfNumber},
    {0xA002, "Width", Form::Number},
    {0xA003, "Height", Form::Number},
    {0xA20E, "FocalPlaneXRes", Form::Number},
    {0xA210, "FocalPlaneUnits", Form::Number},
    {0xA215, "ISOequivalent", Form::Number},
    {0xA402, "ExposureMode", Form::Number},
    {0xA403, "Whitebalance", Form::Number},
    {0xA404, "DigitalZoomRatio", Form::TextOfNumber},
    {0xA405, "FocalLength35mmEquiv", Form::Number},
};

const TagEntry *findTag(quint32 tag)
{
    const auto *end = std::end(tagTable);
    const auto *it = std::lower_bound(std::begin(tagTable), end, tag,
                                      [](const TagEntry &entry, quint32 t) { return entry.tag < t; });
    return it != end && it->tag == tag ? it : nullptr;
}

} // namespace

MetadataDictionary OVNImageTagParser::convertExifToDictionary(QByteArrayView data, qint64 tiffHeader,
                                                              qint64 ifdPosition, qint64 stopAt, ByteOrder order)
{
    beginWalk(data.size());
    ByteSource source(data);
    MetadataDictionary result;
    walkIfdChain(source, tiffHeader, ifdPosition, stopAt, order, 0, result);
    return result;
}

void OVNImageTagParser::walkIfdChain(ByteSource &data, qint64 tiffHeader, qint64 ifdPosition, qint64 stopAt,
                                     ByteOrder order, int depth, MetadataDictionary &out)
{
    // Nothing beyond the data is ever read, whatever end the caller names.
    const qint64 end = std::min(stopAt, data.size());
    qint64 position = ifdPosition;
    // The chain is followed in a loop, not by recursion, so that a long chain (a many-page TIFF)
    // costs no stack.
    MetadataDictionary successor;
    for (bool first = true;; first = false) {
        // The first IFD describes the image itself; the ones linked after it describe the
        // thumbnail (IFD1 of a JPEG) or further pages. Their values fill in keys the first one
        // left open, but never replace its orientation, date or size with the thumbnail's.
        MetadataDictionary &target = first ? out : successor;
        if (!first)
            successor.clear();
        const bool more = walkIfd(data, tiffHeader, position, end, order, depth, target);
        if (!first)
            fillIn(out, successor);
        if (!more)
            return;
        const qint64 offset = get4Bytes(data, m_nextIfdLink, order);
        const qint64 next = tiffHeader + offset;
        if (offset == 0 || next >= end || m_parsedIfds.contains(next))
            return;
        position = next;
    }
}

bool OVNImageTagParser::walkIfd(ByteSource &data, qint64 tiffHeader, qint64 position, qint64 end, ByteOrder order,
                                int depth, MetadataDictionary &out)
{
    m_parsedIfds.insert(position);
    if (position < 0 || position + 2 >= end || m_parsedIfds.size() > maximumIfdCount)
        return false;
    qint64 count = get2Bytes(data, position, order);
    qint64 entry = position + 2;
    for (; count > 0 && entry + 12 <= end; --count, entry += 12) {
        if (!spend(12))
            return false;
        applyTiffEntry(data, tiffHeader, entry, position, end, order, depth, out);
    }
    // A directory cut short by the end has no trustworthy link.
    if (count > 0 || entry + 4 > end)
        return false;
    m_nextIfdLink = entry;
    return true;
}

void OVNImageTagParser::fillIn(MetadataDictionary &out, const MetadataDictionary &later)
{
    for (auto it = later.cbegin(); it != later.cend(); ++it) {
        auto existing = out.find(it.key());
        if (existing == out.end())
            out.insert(it.key(), it.value());
        else if (existing->typeId() == QMetaType::QString && existing->toString() == u"n/a")
            *existing = it.value(); // the preset, not a value of the file
    }
}

void OVNImageTagParser::applyTiffEntry(ByteSource &data, qint64 tiffHeader, qint64 entry, qint64 ifdPosition,
                                       qint64 stopAt, ByteOrder order, int depth, MetadataDictionary &out)
{
    const quint32 tag = get2Bytes(data, entry, order);
    const quint32 fieldType = get2Bytes(data, entry + 2, order);
    const qint64 count = get4Bytes(data, entry + 4, order);
    const qint64 valueField = get4Bytes(data, entry + 8, order);
    const qint64 value = count * fieldTypeSize(fieldType) > 4 ? tiffHeader + valueField : entry + 8;

    switch (tag) {
    case 0x8769:   // Exif IFD
    case 0xA005: { // interoperability IFD
        const qint64 target = tiffHeader + valueField;
        if (target == ifdPosition || m_parsedIfds.contains(target) || depth >= maximumIfdDepth)
            return;
        walkIfdChain(data, tiffHeader, target, stopAt, order, depth + 1, out);
        return;
    }
    case 0x02BC: // XMP packet, always stored at an offset
        mergeXmp(data, tiffHeader + valueField, count, out);
        return;
    case 0x829D: // FNumber: the aperture of the shot
        out.insert(QStringLiteral("ApertureFNumber"), textOfNumber(getNumber(data, value, int(fieldType), order)));
        m_hasFNumber = true;
        return;
    case 0x9202: { // ApertureValue (APEX), as an f-number, only for files that lack FNumber
        if (m_hasFNumber)
            return;
        const double apex = getNumber(data, value, int(fieldType), order).toDouble();
        const auto fNumber = static_cast<float>(std::exp2(apex / 2.0));
        out.insert(QStringLiteral("ApertureFNumber"), QString::number(static_cast<double>(fNumber), 'g', 7));
        return;
    }
    default:
        break;
    }

    const TagEntry *known = findTag(tag);
    if (!known)
        return;
    const QString key = QString::fromLatin1(known->key);
    switch (known->form) {
    case Form::Number:
        out.insert(key, getNumber(data, value, int(fieldType), order));
        break;
    case Form::TextOfNumber:
        out.insert(key, textOfNumber(getNumber(data, value, int(fieldType), order)));
        break;
    case Form::String: {
        // Text that does not lie in the file (a count or offset past its end, or a file cut short)
        // is unreadable: the key keeps what it had, the "n/a" preset for the make, model and date.
        const bool fits = value >= 0 && value <= data.size() && count <= data.size() - value;
        if (!fits || !spend(count))
            return;
        const char *bytes = data.bytes(value, count);
        if (!bytes)
            return;
        const QString text = getString(QByteArrayView(bytes, count), 0, count);
        out.insert(key, text);
        if (tag == 0x010F)
            m_cameraMake = text;
        break;
    }
    }
}
