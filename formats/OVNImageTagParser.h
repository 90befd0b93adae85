#pragma once

#include "formats/MetadataDictionary.h"

#include <QByteArrayView>
#include <QSet>
#include <QString>
#include <QVariant>

#include <set>
#include <utility>

class ByteSource;

// Reads the metadata of a JPEG, TIFF (or TIFF-based RAW) or Canon CRW file from its bytes.
//
// Every file a user imports passes through here, so the bytes are treated as hostile: each read
// is checked against the buffer (a read past the end gives 0 or the empty string), walks of IFD
// chains and CRW heaps never visit a structure twice, nesting is bounded, and the work per file
// is capped by a budget proportional to the file's size. A damaged file gives whatever could be
// read, never a crash.
//
// One parser per file; it is not shared between threads.
class OVNImageTagParser
{
public:
    enum class ByteOrder { BigEndian, LittleEndian };

    // The whole file's bytes -> its metadata. Files of 1023 bytes or less give an empty
    // dictionary; longer ones at least "CameraMake", "CameraModel" and "DateTime" = "n/a".
    MetadataDictionary parseDataForExifInfo(QByteArrayView data);
    // The same for a file on disk, of which only the parts the walk needs are read (a bounded
    // amount). A file that cannot be opened gives an empty dictionary; one cut short while it is
    // read gives what could be read before.
    MetadataDictionary parseFileForExifInfo(const QString &path);

    // One JPEG APP1 payload (Exif or XMP) at [location, location + length).
    MetadataDictionary convertTagsToDictionary(QByteArrayView data, qint64 location, qint64 length);
    // The TIFF IFD at `ifdPosition`, its sub-IFDs and its successors; offsets are relative to
    // `tiffHeader`, nothing at or beyond `stopAt` is read.
    MetadataDictionary convertExifToDictionary(QByteArrayView data, qint64 tiffHeader, qint64 ifdPosition,
                                               qint64 stopAt, ByteOrder order);
    // The CRW heap whose block starts at `blockStartAt` with its directory at `directoryAt`
    // (relative to the block), with its sub-heaps.
    MetadataDictionary convertCRWTagsToDictionary(QByteArrayView data, quint32 directoryAt, quint32 blockStartAt,
                                                  ByteOrder order);

    // Readers; a read that would pass the end of the data gives 0 / the empty string.
    static quint32 get2Bytes(QByteArrayView data, qint64 position, ByteOrder order);
    static qint64 get4Bytes(QByteArrayView data, qint64 position, ByteOrder order);
    // The range's text up to its first zero byte, without trailing blanks, as UTF-8 when it is
    // valid UTF-8, else Latin-1.
    static QString getString(QByteArrayView data, qint64 location, qint64 length);
    // The first value of a TIFF field of `fieldType`: qint64 for the integer types, double (of
    // single precision) for the rationals, 0 for the others.
    static QVariant getNumber(QByteArrayView data, qint64 position, int fieldType, ByteOrder order);
    // The text a number shows as ("0.004", "2.8", "72").
    static QString textOfNumber(const QVariant &number);

    // The byte order that the two bytes at `position` announce ("II" little-endian, "MM"
    // big-endian), or `fallback` for anything else.
    static ByteOrder byteOrderAt(QByteArrayView data, qint64 position, ByteOrder fallback);

    // A CRW make-and-model value ("Canon", zero, "Canon EOS 10D", zero, padding) -> make and
    // model; the model is empty when the value holds no second text.
    static std::pair<QString, QString> splitCanonMakeModel(QByteArrayView value);

    // Canon's auto-rotate word of the shot information -> the EXIF orientation (0 when the
    // word says nothing usable, such as "rotated by software").
    static int exifOrientationFromCanonAutoRotate(quint32 autoRotate);

    // The camera make read from TIFF tag 0x010F in the last parse.
    QString cameraMake() const { return m_cameraMake; }

    // Caps on the walks; a real file stays far below them.
    static constexpr int maximumIfdDepth = 8;
    static constexpr int maximumIfdCount = 4096;
    static constexpr int maximumCrwDepth = 8;

private:
    // Starts the work budget of one top-level call.
    void beginWalk(qint64 dataSize);
    MetadataDictionary parse(ByteSource &data);
    static quint32 get2Bytes(ByteSource &data, qint64 position, ByteOrder order);
    static qint64 get4Bytes(ByteSource &data, qint64 position, ByteOrder order);
    static QString getString(ByteSource &data, qint64 location, qint64 length);
    static QVariant getNumber(ByteSource &data, qint64 position, int fieldType, ByteOrder order);
    static ByteOrder byteOrderAt(ByteSource &data, qint64 position, ByteOrder fallback);
    void walkApp1(ByteSource &data, qint64 location, qint64 length, MetadataDictionary &out);
    void walkIfdChain(ByteSource &data, qint64 tiffHeader, qint64 ifdPosition, qint64 stopAt, ByteOrder order,
                      int depth, MetadataDictionary &out);
    // Walks one IFD's entries; true when it ends with a link to read (left in m_nextIfdLink).
    bool walkIfd(ByteSource &data, qint64 tiffHeader, qint64 position, qint64 end, ByteOrder order, int depth,
                 MetadataDictionary &out);
    // Adds the keys of `later` that `out` lacks (or holds only as the "n/a" preset).
    static void fillIn(MetadataDictionary &out, const MetadataDictionary &later);
    void applyTiffEntry(ByteSource &data, qint64 tiffHeader, qint64 entry, qint64 ifdPosition, qint64 stopAt,
                        ByteOrder order, int depth, MetadataDictionary &out);
    void mergeXmp(ByteSource &data, qint64 location, qint64 length, MetadataDictionary &out);

    void walkCrwHeap(ByteSource &data, qint64 blockStart, qint64 blockEnd, qint64 directory, ByteOrder order, int depth,
                     MetadataDictionary &out);
    void applyCrwHeapRecord(ByteSource &data, quint32 id, qint64 value, qint64 size, ByteOrder order,
                            MetadataDictionary &out);
    void applyCrwInlineRecord(ByteSource &data, quint32 id, qint64 record, ByteOrder order, MetadataDictionary &out);
    void applyCrwShotInfo(ByteSource &data, qint64 value, qint64 size, ByteOrder order, MetadataDictionary &out);
    void applyCrwCameraSettings(ByteSource &data, qint64 value, qint64 size, ByteOrder order, MetadataDictionary &out);
    void finishCrwFocalLength(MetadataDictionary &out) const;

    // Takes `cost` from the work budget; false once it is spent.
    bool spend(qint64 cost);

    QSet<qint64> m_parsedIfds;                         // IFD positions walked in this parse
    std::set<std::pair<qint64, qint64>> m_parsedHeaps; // CRW (block, directory) pairs walked
    QString m_cameraMake;
    bool m_hasFNumber = false;
    qint64 m_crwFocalLength = -1; // raw focal length word of the CRW focal record
    qint64 m_crwFocalUnits = 0;   // focal units per mm from the camera settings
    qint64 m_workLeft = 0;
    qint64 m_nextIfdLink = 0;
};
