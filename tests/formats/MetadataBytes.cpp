#include "MetadataBytes.h"

namespace MetadataBytes {

void put16(QByteArray &bytes, qsizetype at, quint32 value, Order order)
{
    if (bytes.size() < at + 2)
        bytes.resize(at + 2, '\0');
    const char b0 = char(value & 0xFF), b1 = char((value >> 8) & 0xFF);
    bytes[at] = order == Order::Little ? b0 : b1;
    bytes[at + 1] = order == Order::Little ? b1 : b0;
}

void put32(QByteArray &bytes, qsizetype at, quint32 value, Order order)
{
    if (bytes.size() < at + 4)
        bytes.resize(at + 4, '\0');
    for (int i = 0; i < 4; ++i) {
        const char b = char((value >> (8 * i)) & 0xFF);
        bytes[at + (order == Order::Little ? i : 3 - i)] = b;
    }
}

void append16(QByteArray &bytes, quint32 value, Order order) { put16(bytes, bytes.size(), value, order); }

void append32(QByteArray &bytes, quint32 value, Order order) { put32(bytes, bytes.size(), value, order); }

IfdEntry shortEntry(quint16 tag, quint16 value, Order order)
{
    QByteArray v;
    append16(v, value, order);
    return {tag, 3, 1, v};
}

IfdEntry longEntry(quint16 tag, quint32 value, Order order)
{
    QByteArray v;
    append32(v, value, order);
    return {tag, 4, 1, v};
}

IfdEntry asciiEntry(quint16 tag, const QByteArray &text)
{
    QByteArray v = text;
    v.append('\0');
    return {tag, 2, quint32(v.size()), v};
}

IfdEntry rationalEntry(quint16 tag, quint32 numerator, quint32 denominator, Order order)
{
    QByteArray v;
    append32(v, numerator, order);
    append32(v, denominator, order);
    return {tag, 5, 1, v};
}

qsizetype appendIfd(QByteArray &bytes, qsizetype tiffHeader, const QList<IfdEntry> &entries, Order order,
                    qsizetype *linkAt)
{
    const qsizetype ifd = bytes.size();
    append16(bytes, quint32(entries.size()), order);
    qsizetype valueArea = ifd + 2 + 12 * entries.size() + 4;
    QByteArray values;
    for (const IfdEntry &entry : entries) {
        append16(bytes, entry.tag, order);
        append16(bytes, entry.type, order);
        append32(bytes, entry.count, order);
        if (entry.value.size() <= 4) {
            bytes.append(entry.value.leftJustified(4, '\0'));
        } else {
            append32(bytes, quint32(valueArea + values.size() - tiffHeader), order);
            values.append(entry.value);
        }
    }
    if (linkAt)
        *linkAt = bytes.size();
    append32(bytes, 0, order);
    bytes.append(values);
    return ifd;
}

QByteArray tiff(const QList<IfdEntry> &entries, Order order, qsizetype *linkAt)
{
    QByteArray bytes = order == Order::Little ? QByteArray("II*\0", 4) : QByteArray("MM\0*", 4);
    append32(bytes, 8, order);
    appendIfd(bytes, 0, entries, order, linkAt);
    return bytes;
}

QByteArray jpeg(const QList<QPair<quint8, QByteArray>> &segments, qsizetype minimumSize)
{
    QByteArray bytes("\xFF\xD8", 2);
    for (const auto &[marker, payload] : segments) {
        bytes.append('\xFF');
        bytes.append(char(marker));
        append16(bytes, quint32(payload.size() + 2), Order::Big);
        bytes.append(payload);
    }
    bytes.append("\xFF\xDA", 2);
    append16(bytes, 2, Order::Big);
    if (bytes.size() + 2 < minimumSize)
        bytes.append(QByteArray(minimumSize - bytes.size() - 2, '\x55'));
    bytes.append("\xFF\xD9", 2);
    return bytes;
}

QByteArray exifPayload(const QByteArray &tiffBytes) { return QByteArray("Exif\0\0", 6) + tiffBytes; }

QByteArray xmpPayload(const QByteArray &packet) { return QByteArray("http://ns.adobe.com/xap/1.0/", 29) + packet; }

QByteArray padded(QByteArray bytes, qsizetype size)
{
    if (bytes.size() < size)
        bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

} // namespace MetadataBytes
