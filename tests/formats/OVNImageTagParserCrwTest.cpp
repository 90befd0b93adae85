#include "formats/OVNImageTagParser.h"

#include "MetadataBytes.h"

#include <gtest/gtest.h>

using namespace MetadataBytes;

namespace {

struct Record {
    quint16 tag;
    QByteArray value; // heap records: the value bytes; inline records: 8 bytes
    bool isHeap = true;
};

QByteArray words(const QList<int> &values, Order order)
{
    QByteArray bytes;
    for (int v : values)
        append16(bytes, quint32(v), order);
    return bytes;
}

// A heap: the record values, the directory, and the directory's offset in the last 4 bytes.
QByteArray heap(const QList<Record> &records, Order order)
{
    QByteArray bytes;
    QList<qsizetype> offsets;
    for (const Record &r : records) {
        offsets.append(bytes.size());
        if (r.isHeap)
            bytes.append(r.value);
    }
    const qsizetype directory = bytes.size();
    append16(bytes, quint32(records.size()), order);
    for (qsizetype i = 0; i < records.size(); ++i) {
        const Record &r = records[i];
        append16(bytes, r.tag, order);
        if (r.isHeap) {
            append32(bytes, quint32(r.value.size()), order);
            append32(bytes, quint32(offsets[i]), order);
        } else {
            bytes.append(r.value.leftJustified(8, '\0').left(8));
        }
    }
    append32(bytes, quint32(directory), order);
    return bytes;
}

QByteArray crw(const QList<Record> &records, Order order, const QByteArray &orderMark = {})
{
    QByteArray bytes = orderMark.isEmpty() ? (order == Order::Little ? QByteArray("II") : QByteArray("MM")) : orderMark;
    append32(bytes, 26, order);
    bytes.append("HEAPCCDR");
    append32(bytes, 0x00010002, order);
    bytes.append(QByteArray(26 - bytes.size(), '\0'));
    // Padding inside the heap keeps the file over the 1023-byte minimum.
    QList<Record> all = records;
    all.prepend({0x0032, QByteArray(1100, '\0')});
    bytes.append(heap(all, order));
    return bytes;
}

QList<int> cameraSettings(int iso, int lensType, int longFocal, int shortFocal, int units)
{
    QList<int> w(30, 0);
    w[0] = 60;
    w[1] = 2; // Normal
    w[3] = 4; // RAW
    w[16] = iso;
    w[20] = 3; // Aperture Priority AE
    w[22] = lensType;
    w[23] = longFocal;
    w[24] = shortFocal;
    w[25] = units;
    return w;
}

QList<int> shotInfo(int autoRotate)
{
    QList<int> w(30, 0);
    w[2] = 160;
    w[7] = 8; // Shade
    w[16] = 0xFFFF;
    w[27] = autoRotate;
    return w;
}

} // namespace

TEST(OVNImageTagParserCrw, RecordsOfARealLayout)
{
    for (const Order o : {Order::Little, Order::Big}) {
        QByteArray focal;
        append16(focal, 1, o);
        append16(focal, 35, o);
        append16(focal, 914, o);
        append16(focal, 610, o);
        QByteArray serial;
        append32(serial, 560018150, o);
        const QByteArray makeModel("Canon\0Canon EOS 10D\0\0\0\0\0", 25);
        const QByteArray settings = words(cameraSettings(15, 231, 40, 17, 1), o);
        const QByteArray subHeap = heap({{0x080A, makeModel}, {0x102D, settings}}, o);
        const QByteArray file = crw({{0x300A, subHeap},
                                     {0x0805, QByteArray("EOS 10D CMOS RAW\0", 17)},
                                     {0x1038, words({0, 0, 3072, 2048, 3072, 2048}, o)},
                                     {0x102A, words(shotInfo(3), o)},
                                     {0x5029, focal, false},
                                     {0x5010, words({1}, o), false},
                                     {0x580B, serial, false}},
                                    o);
        const MetadataDictionary m = OVNImageTagParser().parseDataForExifInfo(file);
        EXPECT_EQ(m.value("CameraMake"), "Canon");
        EXPECT_EQ(m.value("CameraModel"), "Canon EOS 10D");
        EXPECT_EQ(m.value("DateTime"), "n/a");
        EXPECT_EQ(m.value("CanonFileDescription"), "EOS 10D CMOS RAW");
        EXPECT_EQ(m.value("ImageSizeWidth").toLongLong(), 3072);
        EXPECT_EQ(m.value("ImageSizeHeight").toLongLong(), 2048);
        EXPECT_EQ(m.value("ImageISO").toLongLong(), 160);
        EXPECT_EQ(m.value("ImageWhiteBalance"), "Shade");
        EXPECT_EQ(m.value("ImageAEBracketing"), "On");
        // The camera's own rotation word stays; "Orientation" is in the EXIF numbering.
        EXPECT_EQ(m.value("ImageAutoRotate").toLongLong(), 3);
        EXPECT_EQ(m.value("Orientation").toLongLong(), 8);
        EXPECT_EQ(m.value("FocalLength").toLongLong(), 35);
        EXPECT_EQ(m.value("ImageFocalLength"), "35 mm");
        EXPECT_EQ(m.value("CCDWidth").toLongLong(), 914);
        EXPECT_EQ(m.value("ShutterReleaseMethod"), "Continuous Shooting");
        EXPECT_EQ(m.value("CameraSerialNumber").toLongLong(), 560018150);
        EXPECT_EQ(m.value("CameraISO"), "Auto");
        EXPECT_EQ(m.value("MacroMode"), "Normal");
        EXPECT_EQ(m.value("Quality"), "RAW");
        EXPECT_EQ(m.value("ImageExposureMode"), "Aperture Priority AE");
        EXPECT_EQ(m.value("LensType"), "Canon EF 17-40mm f/4L");
        EXPECT_EQ(m.value("Lens"), "17 - 40 mm");
    }
}

TEST(OVNImageTagParserCrw, ValuesWithoutANameSetNothing)
{
    const Order o = Order::Little;
    const MetadataDictionary m = OVNImageTagParser().parseDataForExifInfo(
        crw({{0x102D, words(cameraSettings(20, 5, 55, 18, 0), o)}, {0x080A, QByteArray("Canon\0\0\0\0", 9)}}, o));
    EXPECT_FALSE(m.contains("CameraISO"));
    EXPECT_FALSE(m.contains("LensType"));
    EXPECT_EQ(m.value("Lens"), "18 - 55"); // the range does not depend on the lens table
    EXPECT_EQ(m.value("CanonRawMakeModel"), "Canon");
    EXPECT_EQ(m.value("CameraMake"), "n/a");
}

// A value the file cannot give keeps its default; compact cameras' focal lengths and lens ranges,
// counted in fractions of a millimetre, read in millimetres.
TEST(OVNImageTagParserCrw, UnreadableStringsAndFocalUnits)
{
    const Order o = Order::Little;
    // IFD0's first entry keeps its value's offset at byte 18 and its count at byte 14.
    const auto tiffWith = [&](quint16 tag, qsizetype at, quint32 value) {
        QByteArray bytes = padded(tiff({asciiEntry(tag, "Canon EOS 10D")}, o), 2048);
        if (at >= 0)
            put32(bytes, at, value, o);
        return bytes;
    };
    QByteArray focal;
    append16(focal, 2, o);
    append16(focal, 227, o);
    const auto compact = [&](int longFocal, int shortFocal, int units) {
        return crw({{0x5029, focal, false}, {0x102D, words(cameraSettings(17, 0, longFocal, shortFocal, units), o)}},
                   o);
    };
    const struct {
        const char *what;
        QByteArray file;
        const char *key;
        const char *expected;
    } cases[] = {
        {"make inside the file", tiffWith(0x010F, -1, 0), "CameraMake", "Canon EOS 10D"},
        {"make running past the end", tiffWith(0x010F, 18, 2040), "CameraMake", "n/a"},
        {"model count past the end", tiffWith(0x0110, 14, 100000), "CameraModel", "n/a"},
        {"date offset past the end", tiffWith(0x0132, 18, 0xFFFFFFF0), "DateTime", "n/a"},
        {"focal length in 1/32 mm", compact(682, 227, 32), "FocalLength", "7.09375"},
        {"rounded focal length", compact(682, 227, 32), "ImageFocalLength", "7 mm"},
        {"lens range in 1/32 mm", compact(682, 227, 32), "Lens", "7.1 - 21.3 mm"},
        {"lens range in mm", compact(55, 18, 1), "Lens", "18 - 55 mm"},
        {"lens range without units", compact(55, 18, 0), "Lens", "18 - 55"},
    };
    for (const auto &c : cases) {
        const MetadataDictionary m = OVNImageTagParser().parseDataForExifInfo(c.file);
        EXPECT_EQ(m.value(c.key).toString(), c.expected) << c.what;
    }
}

TEST(OVNImageTagParserCrw, AutoRotateToExifOrientation)
{
    EXPECT_EQ(OVNImageTagParser::exifOrientationFromCanonAutoRotate(0), 1);
    EXPECT_EQ(OVNImageTagParser::exifOrientationFromCanonAutoRotate(1), 6);
    EXPECT_EQ(OVNImageTagParser::exifOrientationFromCanonAutoRotate(2), 3);
    EXPECT_EQ(OVNImageTagParser::exifOrientationFromCanonAutoRotate(3), 8);
    EXPECT_EQ(OVNImageTagParser::exifOrientationFromCanonAutoRotate(0xFFFF), 0);

    const Order o = Order::Big;
    EXPECT_EQ(OVNImageTagParser()
                  .parseDataForExifInfo(crw({{0x102A, words(shotInfo(1), o)}}, o))
                  .value("Orientation")
                  .toLongLong(),
              6);
    EXPECT_FALSE(OVNImageTagParser()
                     .parseDataForExifInfo(crw({{0x102A, words(shotInfo(0xFFFF), o)}}, o))
                     .contains("Orientation"));
}

TEST(OVNImageTagParserCrw, UnknownByteOrderMarkReadsBigEndian)
{
    const QByteArray file = crw({{0x102A, words(shotInfo(2), Order::Big)}}, Order::Big, "XY");
    EXPECT_EQ(OVNImageTagParser().parseDataForExifInfo(file).value("Orientation").toLongLong(), 3);
}

TEST(OVNImageTagParserCrw, BrokenHeapsAreSkipped)
{
    const Order o = Order::Little;
    // A sub-heap whose own directory lists itself.
    QByteArray selfHeap;
    append16(selfHeap, 1, o);
    append16(selfHeap, 0x300A, o);
    append32(selfHeap, 16, o); // the whole sub-heap
    append32(selfHeap, 0, o);  // at its own start
    append32(selfHeap, 0, o);  // directory at offset 0
    ASSERT_EQ(selfHeap.size(), 16);
    QByteArray file = crw({{0x300A, selfHeap}, {0x102A, words(shotInfo(1), o)}}, o);
    const MetadataDictionary m = OVNImageTagParser().parseDataForExifInfo(file);
    EXPECT_EQ(m.value("Orientation").toLongLong(), 6);

    // Every truncation of a valid file reads without fault.
    for (qsizetype size = 0; size <= file.size(); size += 7)
        OVNImageTagParser().parseDataForExifInfo(QByteArrayView(file).first(size));

    // A sub-heap that claims more bytes than its parent holds is not entered.
    QByteArray oversized = file;
    put32(oversized, oversized.size() - 4 - 10 * 2 + 2, 0x7FFFFFFF, o);
    EXPECT_EQ(OVNImageTagParser().parseDataForExifInfo(oversized).value("Orientation").toLongLong(), 6);

    // A root directory offset far past the end.
    put32(file, file.size() - 4, 0x7FFFFFF0, o);
    EXPECT_EQ(OVNImageTagParser().parseDataForExifInfo(file).size(), 3);
}
