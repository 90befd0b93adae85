#include "formats/OVNImageTagParser.h"

#include "formats/ByteSource.h"
#include "formats/OVNXMPHelper.h"
#include "platform/FileAccess.h"

#include <QFile>
#include <QStringDecoder>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr qint64 minimumFileSize = 1024;
const QString notAvailable = QStringLiteral("n/a");

// True when [position, position + length) lies inside the data.
inline bool inside(QByteArrayView data, qint64 position, qint64 length)
{
    return position >= 0 && length >= 0 && position <= data.size() && length <= data.size() - position;
}

// A single-precision quotient as the double that prints the same ("0.004", not 0.00400000019).
double singlePrecision(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", static_cast<double>(value));
    return std::strtod(text, nullptr);
}

} // namespace

void OVNImageTagParser::beginWalk(qint64 dataSize)
{
    // Generous for any real file (which needs about twice its size), yet it ends the quadratic
    // walks that overlapping or self-referencing structures of a hostile file could ask for.
    m_workLeft = 16 * dataSize + (1 << 20);
}

bool OVNImageTagParser::spend(qint64 cost)
{
    if (cost > m_workLeft) {
        m_workLeft = 0;
        return false;
    }
    m_workLeft -= cost;
    return true;
}

quint32 OVNImageTagParser::get2Bytes(ByteSource &data, qint64 position, ByteOrder order)
{
    const auto *b = reinterpret_cast<const quint8 *>(data.bytes(position, 2));
    if (!b)
        return 0;
    return order == ByteOrder::LittleEndian ? (quint32(b[1]) << 8) | b[0] : (quint32(b[0]) << 8) | b[1];
}

qint64 OVNImageTagParser::get4Bytes(ByteSource &data, qint64 position, ByteOrder order)
{
    const auto *b = reinterpret_cast<const quint8 *>(data.bytes(position, 4));
    if (!b)
        return 0;
    quint32 value = 0;
    if (order == ByteOrder::LittleEndian) {
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | b[i];
    } else {
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | b[i];
    }
    return value;
}

quint32 OVNImageTagParser::get2Bytes(QByteArrayView data, qint64 position, ByteOrder order)
{
    ByteSource source(data);
    return get2Bytes(source, position, order);
}

qint64 OVNImageTagParser::get4Bytes(QByteArrayView data, qint64 position, ByteOrder order)
{
    ByteSource source(data);
    return get4Bytes(source, position, order);
}

QString OVNImageTagParser::getString(ByteSource &data, qint64 location, qint64 length)
{
    const char *bytes = data.bytes(location, length);
    return bytes ? getString(QByteArrayView(bytes, length), 0, length) : QString();
}

QString OVNImageTagParser::getString(QByteArrayView data, qint64 location, qint64 length)
{
    if (!inside(data, location, length))
        return QString();
    // The text ends at the first zero byte: fixed-size fields (CRW names, some EXIF strings)
    // carry leftovers of earlier contents behind it.
    QByteArray bytes;
    bool ascii = true;
    for (qint64 i = 0; i < length; ++i) {
        const char c = data[location + i];
        if (c == 0) {
            bytes = QByteArray(data.data() + location, i);
            break;
        }
        if (static_cast<quint8>(c) >= 0x80)
            ascii = false;
        if (i + 1 == length)
            bytes = QByteArray(data.data() + location, length);
    }
    // Cameras pad fixed-width fields ("E-P3            ") with blanks that are not part of the value.
    while (!bytes.isEmpty()
           && (bytes.back() == ' ' || bytes.back() == '\t' || bytes.back() == '\n' || bytes.back() == '\r'))
        bytes.chop(1);
    if (ascii)
        return QString::fromLatin1(bytes);
    // EXIF says ASCII, but cameras and programs write UTF-8; anything else is taken as Latin-1.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

QVariant OVNImageTagParser::getNumber(ByteSource &data, qint64 position, int fieldType, ByteOrder order)
{
    switch (fieldType) {
    case 1:   // BYTE
    case 7: { // UNDEFINED
        const char *byte = data.bytes(position, 1);
        return qint64(byte ? static_cast<quint8>(*byte) : 0);
    }
    case 3: // SHORT
        return qint64(get2Bytes(data, position, order));
    case 4: // LONG
        return get4Bytes(data, position, order);
    case 5: { // RATIONAL: no test of the denominator, 0/0 gives nan and n/0 inf as the camera wrote
        const auto numerator = static_cast<quint32>(get4Bytes(data, position, order));
        const auto denominator = static_cast<quint32>(get4Bytes(data, position + 4, order));
        return singlePrecision(static_cast<float>(numerator) / static_cast<float>(denominator));
    }
    case 9: // SLONG
        return qint64(static_cast<qint32>(static_cast<quint32>(get4Bytes(data, position, order))));
    case 10: { // SRATIONAL
        const auto numerator = static_cast<qint32>(static_cast<quint32>(get4Bytes(data, position, order)));
        const auto denominator = static_cast<qint32>(static_cast<quint32>(get4Bytes(data, position + 4, order)));
        return singlePrecision(static_cast<float>(numerator) / static_cast<float>(denominator));
    }
    default:
        return qint64(0);
    }
}

QVariant OVNImageTagParser::getNumber(QByteArrayView data, qint64 position, int fieldType, ByteOrder order)
{
    ByteSource source(data);
    return getNumber(source, position, fieldType, order);
}

QString OVNImageTagParser::textOfNumber(const QVariant &number)
{
    if (number.typeId() == QMetaType::Double || number.typeId() == QMetaType::Float)
        return QString::number(number.toDouble(), 'g', 7);
    return QString::number(number.toLongLong());
}

OVNImageTagParser::ByteOrder OVNImageTagParser::byteOrderAt(ByteSource &data, qint64 position, ByteOrder fallback)
{
    const char *b = data.bytes(position, 2);
    if (!b)
        return fallback;
    const char b0 = b[0];
    const char b1 = b[1];
    if (b0 == 'I' && b1 == 'I')
        return ByteOrder::LittleEndian;
    if (b0 == 'M' && b1 == 'M')
        return ByteOrder::BigEndian;
    return fallback;
}

OVNImageTagParser::ByteOrder OVNImageTagParser::byteOrderAt(QByteArrayView data, qint64 position, ByteOrder fallback)
{
    ByteSource source(data);
    return byteOrderAt(source, position, fallback);
}

MetadataDictionary OVNImageTagParser::parseDataForExifInfo(QByteArrayView data)
{
    ByteSource source(data);
    return parse(source);
}

MetadataDictionary OVNImageTagParser::parse(ByteSource &data)
{
    MetadataDictionary result;
    m_parsedIfds.clear();
    m_parsedHeaps.clear();
    m_cameraMake.clear();
    m_hasFNumber = false;
    m_crwFocalLength = -1;
    m_crwFocalUnits = 0;
    beginWalk(data.size());

    if (data.size() < minimumFileSize)
        return result;

    result.insert(QStringLiteral("CameraMake"), notAvailable);
    result.insert(QStringLiteral("CameraModel"), notAvailable);
    result.insert(QStringLiteral("DateTime"), notAvailable);

    const qint64 size = data.size();
    const auto *start = reinterpret_cast<const quint8 *>(data.bytes(0, 14));
    if (!start)
        return result;
    if (start[0] == 0xFF && start[1] == 0xD8) {
        // JPEG: walk the markers up to the start of the scan, reading every APP1 segment.
        qint64 p = 2;
        while (p < size) {
            const char *byte = nullptr;
            while ((byte = data.bytes(p, 1)) && static_cast<quint8>(*byte) == 0xFF)
                ++p;
            if (!byte)
                break;
            const quint8 marker = static_cast<quint8>(*byte);
            if (marker == 0xD9 || marker == 0xDA)
                break;
            ++p;
            if (!data.bytes(p, 2))
                break;
            const qint64 length = get2Bytes(data, p, ByteOrder::BigEndian);
            if (length < 2)
                continue; // no usable length: look for a marker from here on
            if (marker == 0xE1)
                walkApp1(data, p + 2, length - 2, result);
            p += length;
        }
    } else if (std::memcmp(start + 6, "HEAPCCDR", 8) == 0) {
        const ByteOrder order = byteOrderAt(data, 0, ByteOrder::BigEndian);
        const qint64 headerLength = get4Bytes(data, 2, order);
        const qint64 rootDirectory = get4Bytes(data, size - 4, order);
        walkCrwHeap(data, headerLength, size, rootDirectory, order, 0, result);
        finishCrwFocalLength(result);
    } else if ((start[2] == 0x00 && start[3] == 0x2A) || (start[2] == 0x2A && start[3] == 0x00)) {
        const ByteOrder order = byteOrderAt(data, 0, ByteOrder::BigEndian);
        const qint64 firstIfd = get4Bytes(data, 4, order);
        if (firstIfd < size)
            walkIfdChain(data, 0, firstIfd, size, order, 0, result);
    }
    return result;
}

MetadataDictionary OVNImageTagParser::parseFileForExifInfo(const QString &path)
{
    QFile file;
    // Unbuffered: the source reads its windows straight into its own buffers. A pipe or a device
    // behind the name is not read at all.
    if (!FileAccess::openRegularFile(file, path, nullptr, QIODevice::ReadOnly | QIODevice::Unbuffered))
        return MetadataDictionary();
    ByteSource source(file, file.size());
    return parse(source);
}

MetadataDictionary OVNImageTagParser::convertTagsToDictionary(QByteArrayView data, qint64 location, qint64 length)
{
    beginWalk(data.size());
    ByteSource source(data);
    MetadataDictionary result;
    walkApp1(source, location, length, result);
    return result;
}

void OVNImageTagParser::walkApp1(ByteSource &data, qint64 location, qint64 length, MetadataDictionary &out)
{
    if (location < 0 || location >= data.size() || length <= 0)
        return;
    // A segment that runs past the end of the file is read as far as it goes.
    const qint64 end = location + std::min(length, data.size() - location);
    const char *segment = data.bytes(location, end - location);
    if (!segment)
        return;
    const char *bytes = segment - location;
    for (qint64 q = location; q + 4 <= end; ++q) {
        if (std::memcmp(bytes + q, "http", 4) == 0) {
            // "http://ns.adobe.com/xap/1.0/" and its zero byte open an XMP segment.
            constexpr qint64 xmpIdentifierLength = 29;
            if (end - location > xmpIdentifierLength)
                mergeXmp(data, location + xmpIdentifierLength, end - location - xmpIdentifierLength, out);
            return;
        }
        if (std::memcmp(bytes + q, "Exif", 4) == 0) {
            const qint64 tiffHeader = q + 6;
            const ByteOrder order = byteOrderAt(data, tiffHeader, ByteOrder::LittleEndian);
            const qint64 firstIfd = get4Bytes(data, tiffHeader + 4, order);
            if (tiffHeader + firstIfd < end)
                walkIfdChain(data, tiffHeader, tiffHeader + firstIfd, end, order, 0, out);
            return;
        }
    }
}

void OVNImageTagParser::mergeXmp(ByteSource &data, qint64 location, qint64 length, MetadataDictionary &out)
{
    if (length <= 0 || location < 0 || location > data.size() || length > data.size() - location || !spend(length))
        return;
    const char *packet = data.bytes(location, length);
    if (!packet)
        return;
    OVNXMPHelper reader;
    const MetadataDictionary xmp = reader.parseXMP(QByteArrayView(packet, length));
    for (auto it = xmp.cbegin(); it != xmp.cend(); ++it)
        out.insert(it.key(), it.value());
}
