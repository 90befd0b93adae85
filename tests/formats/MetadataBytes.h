#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>

// Builders of small metadata structures for the reader tests.
namespace MetadataBytes {

enum class Order { Little, Big };

void put16(QByteArray &bytes, qsizetype at, quint32 value, Order order);
void put32(QByteArray &bytes, qsizetype at, quint32 value, Order order);
void append16(QByteArray &bytes, quint32 value, Order order);
void append32(QByteArray &bytes, quint32 value, Order order);

struct IfdEntry {
    quint16 tag;
    quint16 type;
    quint32 count;
    QByteArray value; // inline when 4 bytes or fewer, else written after the IFD
};

IfdEntry shortEntry(quint16 tag, quint16 value, Order order);
IfdEntry longEntry(quint16 tag, quint32 value, Order order);
IfdEntry asciiEntry(quint16 tag, const QByteArray &text);
IfdEntry rationalEntry(quint16 tag, quint32 numerator, quint32 denominator, Order order);

// Appends an IFD with its out-of-line values at the end of `bytes` (offsets relative to
// `tiffHeader`); answers the IFD's position. Its next-IFD link is 0; `linkAt` receives the
// position of that link so that tests can point it elsewhere.
qsizetype appendIfd(QByteArray &bytes, qsizetype tiffHeader, const QList<IfdEntry> &entries, Order order,
                    qsizetype *linkAt = nullptr);

// A TIFF header ("II*\0" or "MM\0*") with IFD0 at offset 8 holding `entries`.
QByteArray tiff(const QList<IfdEntry> &entries, Order order, qsizetype *linkAt = nullptr);

// A JPEG (SOI, the given segments, SOS, padding to at least `minimumSize`, EOI).
QByteArray jpeg(const QList<QPair<quint8, QByteArray>> &segments, qsizetype minimumSize = 2048);
QByteArray exifPayload(const QByteArray &tiffBytes);
QByteArray xmpPayload(const QByteArray &packet);

// Pads `bytes` with zeros to `size`.
QByteArray padded(QByteArray bytes, qsizetype size);

} // namespace MetadataBytes
