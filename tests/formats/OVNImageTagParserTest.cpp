#include "formats/OVNImageTagParser.h"
#include "formats/OVNXMPHelper.h"

#include "MetadataBytes.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <atomic>
#include <thread>

using namespace MetadataBytes;
using ByteOrder = OVNImageTagParser::ByteOrder;

namespace {

const QString na = QStringLiteral("n/a");

MetadataDictionary parse(const QByteArray &bytes)
{
    OVNImageTagParser parser;
    return parser.parseDataForExifInfo(bytes);
}

MetadataDictionary parseTiff(const QList<IfdEntry> &entries, Order order = Order::Little)
{
    return parse(padded(tiff(entries, order), 2048));
}

} // namespace

TEST(OVNImageTagParser, ReadersStayInsideTheDataAndFollowTheByteOrder)
{
    const QByteArray bytes("\x12\x34\x56\x78", 4);
    EXPECT_EQ(OVNImageTagParser::get2Bytes(bytes, 0, ByteOrder::BigEndian), 0x1234u);
    EXPECT_EQ(OVNImageTagParser::get2Bytes(bytes, 0, ByteOrder::LittleEndian), 0x3412u);
    EXPECT_EQ(OVNImageTagParser::get4Bytes(bytes, 0, ByteOrder::BigEndian), 0x12345678);
    EXPECT_EQ(OVNImageTagParser::get4Bytes(bytes, 0, ByteOrder::LittleEndian), 0x78563412);
    EXPECT_EQ(OVNImageTagParser::get2Bytes(bytes, 3, ByteOrder::BigEndian), 0u);
    EXPECT_EQ(OVNImageTagParser::get4Bytes(bytes, 1, ByteOrder::BigEndian), 0);
    EXPECT_EQ(OVNImageTagParser::get4Bytes(bytes, -1, ByteOrder::BigEndian), 0);
    EXPECT_EQ(OVNImageTagParser::get4Bytes(QByteArray("\xFF\xFF\xFF\xFF", 4), 0, ByteOrder::BigEndian), 0xFFFFFFFFll);
}

TEST(OVNImageTagParser, StringsEndAtTheFirstZeroByteAndKeepTheirEncoding)
{
    EXPECT_EQ(OVNImageTagParser::getString(QByteArray("Canon\0junk", 10), 0, 10), "Canon");
    EXPECT_EQ(OVNImageTagParser::getString(QByteArray("Canon", 5), 0, 6), QString());
    EXPECT_EQ(OVNImageTagParser::getString(QByteArray("Canon", 5), 2, 3), "non");
    EXPECT_EQ(OVNImageTagParser::getString(QByteArray(" E-P3      \0", 12), 0, 12), " E-P3");
    EXPECT_EQ(OVNImageTagParser::getString(QByteArray("Caf\xC3\xA9\0", 6), 0, 6), QString::fromUtf8("Café"));
    EXPECT_EQ(OVNImageTagParser::getString(QByteArray("Caf\xE9", 4), 0, 4), QString::fromUtf8("Café"));
}

TEST(OVNImageTagParser, NumbersByFieldType)
{
    QByteArray rational;
    append32(rational, 1, Order::Big);
    append32(rational, 250, Order::Big);
    const QVariant exposure = OVNImageTagParser::getNumber(rational, 0, 5, ByteOrder::BigEndian);
    EXPECT_EQ(OVNImageTagParser::textOfNumber(exposure), "0.004");

    QByteArray signedRational;
    append32(signedRational, quint32(-2), Order::Little);
    append32(signedRational, 3, Order::Little);
    EXPECT_EQ(
        OVNImageTagParser::textOfNumber(OVNImageTagParser::getNumber(signedRational, 0, 10, ByteOrder::LittleEndian)),
        "-0.6666667");
    EXPECT_EQ(OVNImageTagParser::getNumber(signedRational, 0, 9, ByteOrder::LittleEndian).toLongLong(), -2);
    EXPECT_EQ(OVNImageTagParser::getNumber(signedRational, 0, 4, ByteOrder::LittleEndian).toLongLong(), 0xFFFFFFFEll);
    EXPECT_EQ(OVNImageTagParser::getNumber(signedRational, 0, 3, ByteOrder::LittleEndian).toLongLong(), 0xFFFE);
    EXPECT_EQ(OVNImageTagParser::getNumber(signedRational, 0, 1, ByteOrder::LittleEndian).toLongLong(), 0xFE);
    EXPECT_EQ(OVNImageTagParser::getNumber(signedRational, 0, 2, ByteOrder::LittleEndian).toLongLong(), 0);
    EXPECT_EQ(OVNImageTagParser::getNumber(signedRational, 0, 12, ByteOrder::LittleEndian).toLongLong(), 0);
    // A rational whose denominator lies past the end reads it as 0.
    EXPECT_EQ(OVNImageTagParser::textOfNumber(OVNImageTagParser::getNumber(rational, 4, 5, ByteOrder::BigEndian)),
              "inf");
}

TEST(OVNImageTagParser, ShortFilesGiveNothingAndUnknownOnesThePresets)
{
    const QByteArray bareJpeg = jpeg({}, 0);
    EXPECT_TRUE(parse(padded(bareJpeg, 1023)).isEmpty());
    const MetadataDictionary presets = parse(padded(bareJpeg, 1024));
    EXPECT_EQ(presets, (MetadataDictionary{{"CameraMake", na}, {"CameraModel", na}, {"DateTime", na}}));
    EXPECT_EQ(parse(QByteArray(4096, 'x')), presets);
    EXPECT_TRUE(parse(QByteArray()).isEmpty());
}

TEST(OVNImageTagParser, TiffOfEitherByteOrderWithTheTableForms)
{
    for (const Order order : {Order::Little, Order::Big}) {
        const MetadataDictionary m = parseTiff(
            {asciiEntry(0x010F, "Canon"), asciiEntry(0x0110, "Canon EOS 10D"), shortEntry(0x0112, 6, order),
             rationalEntry(0x011A, 72, 1, order), asciiEntry(0x0132, "2004:01:02 03:04:05"),
             rationalEntry(0x829A, 1, 250, order), rationalEntry(0x829D, 28, 10, order), shortEntry(0x8827, 400, order),
             rationalEntry(0x920A, 50, 1, order), longEntry(0xA002, 3072, order), longEntry(0xA003, 2048, order)},
            order);
        EXPECT_EQ(m.value("CameraMake"), "Canon");
        EXPECT_EQ(m.value("CameraModel"), "Canon EOS 10D");
        EXPECT_EQ(m.value("Orientation").toLongLong(), 6);
        EXPECT_DOUBLE_EQ(m.value("ResolutionWidth").toDouble(), 72.0);
        EXPECT_EQ(m.value("DateTime"), "2004:01:02 03:04:05");
        EXPECT_EQ(m.value("ExposureTime"), "0.004");
        EXPECT_EQ(m.value("ApertureFNumber"), "2.8");
        EXPECT_EQ(m.value("ISOequivalent").toLongLong(), 400);
        EXPECT_EQ(m.value("FocalLength"), "50");
        EXPECT_EQ(m.value("Width").toLongLong(), 3072);
        EXPECT_EQ(m.value("Height").toLongLong(), 2048);
    }
}

TEST(OVNImageTagParser, TiffHeaderQuirks)
{
    // "II" with the magic number written big-endian is still read, little-endian.
    QByteArray mixed = padded(tiff({shortEntry(0x0112, 3, Order::Little)}, Order::Little), 2048);
    mixed[2] = 0x00;
    mixed[3] = 0x2A;
    EXPECT_EQ(parse(mixed).value("Orientation").toLongLong(), 3);

    // A first IFD at the very end of the file leaves the presets alone.
    QByteArray atEnd = padded(tiff({shortEntry(0x0112, 3, Order::Big)}, Order::Big), 2048);
    put32(atEnd, 4, quint32(atEnd.size()), Order::Big);
    EXPECT_EQ(parse(atEnd).size(), 3);
}

TEST(OVNImageTagParser, ExifIfdDateWinsAndTheMakerNoteIsNotRead)
{
    const Order o = Order::Big;
    QByteArray bytes = tiff({}, o); // placeholder IFD0, rebuilt below
    bytes.truncate(8);
    // IFD0 with DateTime and a pointer to the Exif IFD, which lies right after IFD0's values.
    QList<IfdEntry> ifd0 = {asciiEntry(0x010F, "Canon"), asciiEntry(0x0132, "2004:01:01 00:00:00"),
                            longEntry(0x8769, 0, o)};
    qsizetype link = 0;
    appendIfd(bytes, 0, ifd0, o, &link);
    const qsizetype exifIfd = appendIfd(bytes, 0,
                                        {rationalEntry(0x829D, 8, 1, o),
                                         asciiEntry(0x9003, "2003:12:31 23:59:59"),
                                         rationalEntry(0x9202, 6, 1, o),
                                         rationalEntry(0x9205, 3, 1, o),
                                         {0x927C, 7, 12, QByteArray("Canon\0\0\0\0\0\0\0", 12)}},
                                        o);
    // Point the Exif IFD entry (third entry of IFD0) at it.
    put32(bytes, 8 + 2 + 2 * 12 + 8, quint32(exifIfd), o);
    const MetadataDictionary m = parse(padded(bytes, 2048));
    EXPECT_EQ(m.value("DateTime"), "2003:12:31 23:59:59");
    EXPECT_EQ(m.value("CameraMake"), "Canon");
    // FNumber is the aperture of the shot; the APEX apertures do not replace it.
    EXPECT_EQ(m.value("ApertureFNumber"), "8");
    for (const QString &key : m.keys())
        EXPECT_FALSE(key.contains("Maker", Qt::CaseInsensitive)) << key.toStdString();
}

TEST(OVNImageTagParser, ApertureValueGivesTheFNumberWhenFNumberIsMissing)
{
    const MetadataDictionary m =
        parseTiff({rationalEntry(0x9202, 4, 1, Order::Little), rationalEntry(0x9205, 3, 1, Order::Little)});
    EXPECT_EQ(m.value("ApertureFNumber"), "4"); // APEX 4 = f/4
}

TEST(OVNImageTagParser, ExposureIndexFollowsIsoSpeed)
{
    const MetadataDictionary m =
        parseTiff({shortEntry(0x8827, 100, Order::Little), rationalEntry(0xA215, 125, 1, Order::Little)});
    EXPECT_DOUBLE_EQ(m.value("ISOequivalent").toDouble(), 125.0);
}

TEST(OVNImageTagParser, LaterIfdsFillInButDoNotReplaceTheImagesValues)
{
    const Order o = Order::Little;
    qsizetype link = 0;
    QByteArray bytes = tiff({shortEntry(0x0112, 1, o), asciiEntry(0x0132, "2010:01:01 10:00:00")}, o, &link);
    const qsizetype ifd1 = appendIfd(
        bytes, 0,
        {shortEntry(0x0112, 6, o), asciiEntry(0x0110, "Thumbnail"), asciiEntry(0x0132, "1999:09:09 09:09:09")}, o);
    put32(bytes, link, quint32(ifd1), o);
    const MetadataDictionary m = parse(padded(bytes, 2048));
    EXPECT_EQ(m.value("Orientation").toLongLong(), 1);
    EXPECT_EQ(m.value("DateTime"), "2010:01:01 10:00:00");
    EXPECT_EQ(m.value("CameraModel"), "Thumbnail"); // replaces only the "n/a" preset
}

TEST(OVNImageTagParser, IfdLoopsEnd)
{
    const Order o = Order::Big;
    // IFD1 links back to IFD0.
    qsizetype link = 0;
    QByteArray bytes = tiff({shortEntry(0x0112, 8, o)}, o, &link);
    put32(bytes, link, 8, o);
    EXPECT_EQ(parse(padded(bytes, 2048)).value("Orientation").toLongLong(), 8);

    // An Exif pointer at its own IFD and an interoperability pointer at IFD0.
    QByteArray pointers = tiff({shortEntry(0x0112, 3, o), longEntry(0x8769, 8, o), longEntry(0xA005, 8, o)}, o);
    EXPECT_EQ(parse(padded(pointers, 2048)).value("Orientation").toLongLong(), 3);
}

TEST(OVNImageTagParser, HostileStructuresCostBoundedWork)
{
    const Order o = Order::Little;
    // A chain of thousands of small IFDs, each linking to the next.
    QByteArray chain("II*\0", 4);
    append32(chain, 8, o);
    const int links = 20000;
    for (int i = 0; i < links; ++i) {
        append16(chain, 1, o);
        append16(chain, 0x0112, o);
        append16(chain, 3, o);
        append32(chain, 1, o);
        append32(chain, quint32(1 + i % 8), o);
        append32(chain, i + 1 < links ? quint32(chain.size() + 4) : 0, o);
    }
    // One IFD of 5000 entries that each read the whole file as a string.
    QByteArray strings("II*\0", 4);
    append32(strings, 8, o);
    append16(strings, 5000, o);
    for (int i = 0; i < 5000; ++i) {
        append16(strings, 0x013B, o);
        append16(strings, 2, o);
        append32(strings, 200000, o);
        append32(strings, 0, o);
    }
    strings = padded(strings, 200000);

    // Unbounded, the second file alone is a gigabyte of string copies: each string read is bounded,
    // so the parse returns (the test's own time-out would catch one that does not) with the tag.
    const MetadataDictionary fromChain = parse(chain);
    const MetadataDictionary fromStrings = parse(strings);
    EXPECT_EQ(fromChain.value("Orientation").toLongLong(), 1);
    EXPECT_TRUE(fromStrings.contains("Artist"));
}

TEST(OVNImageTagParser, JpegSegments)
{
    const Order o = Order::Big;
    const QByteArray exif = exifPayload(tiff({asciiEntry(0x010F, "NIKON"), shortEntry(0x0112, 6, o)}, o));
    const QByteArray xmp = xmpPayload(R"(<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF
        xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description
        xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title><rdf:Alt><rdf:li
        xml:lang="x-default">Harbour</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta>)");

    // An Exif and an XMP segment are both read, after an APP0.
    const MetadataDictionary both = parse(jpeg({{0xE0, QByteArray("JFIF\0\1\1", 7)}, {0xE1, exif}, {0xE1, xmp}}));
    EXPECT_EQ(both.value("CameraMake"), "NIKON");
    EXPECT_EQ(both.value("Orientation").toLongLong(), 6);
    EXPECT_EQ(both.value("DC Title"), "Harbour");

    // An XMP segment of 29 bytes or less adds nothing.
    EXPECT_EQ(parse(jpeg({{0xE1, xmpPayload("")}})).size(), 3);

    // Nothing after the start of the scan is read.
    QByteArray afterScan = jpeg({}, 0);
    afterScan.chop(2);
    afterScan.append("\xFF\xE1", 2);
    append16(afterScan, quint32(exif.size() + 2), o);
    afterScan.append(exif);
    EXPECT_EQ(parse(padded(afterScan, 2048)).size(), 3);

    // Fill bytes before a marker are skipped.
    QByteArray filled("\xFF\xD8\xFF\xFF\xFF\xE0\x00\x04\x00\x00", 10);
    filled.append("\xFF\xFF\xE1", 3);
    append16(filled, quint32(exif.size() + 2), o);
    filled.append(exif);
    EXPECT_EQ(parse(padded(filled, 2048)).value("CameraMake"), "NIKON");

    // Segment lengths of 0 and 1 are not skipped over: the walk goes on from the length's
    // first byte, so it still moves forward and ends.
    QByteArray zeroLengths("\xFF\xD8", 2);
    for (int i = 0; i < 500; ++i)
        zeroLengths.append(i % 2 ? QByteArray("\xFF\xE1\x00\x01", 4) : QByteArray("\xFF\xE0\x00\x00", 4));
    EXPECT_EQ(parse(zeroLengths).size(), 3);

    // A segment that claims more bytes than the file holds is read as far as it goes.
    QByteArray truncated("\xFF\xD8\xFF\xE1\xFF\xF0", 6);
    truncated.append(exif);
    EXPECT_EQ(parse(padded(truncated, 1500)).value("CameraMake"), "NIKON");
}

TEST(OVNImageTagParser, TiffXmpTag)
{
    const QByteArray packet = R"(<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description
        xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:subject><rdf:Bag><rdf:li>sea</rdf:li><rdf:li>boat</rdf:li>
        </rdf:Bag></dc:subject></rdf:Description></rdf:RDF>)";
    const MetadataDictionary m = parseTiff({{0x02BC, 1, quint32(packet.size()), packet}});
    EXPECT_EQ(m.value("DC Subject and Keywords"), "sea boat");
}

// A file cut short while its metadata is read (a card pulled, a share dropped, another program
// rewriting it) gives what could be read, never a crash: the reader must not map the file.
TEST(OVNImageTagParser, FileCutShortWhileItIsRead)
{
    const Order o = Order::Little;
    // A TIFF whose IFD lies at its end, beyond the first bytes read, and a JPEG with its Exif up front.
    QByteArray farIfd = padded(QByteArray("II*\0\0\0\0\0", 8), 512 << 10);
    put32(farIfd, 4, quint32(appendIfd(farIfd, 0, {asciiEntry(0x010F, "Canon")}, o)), o);
    const QByteArray exifJpeg = jpeg({{0xE1, exifPayload(tiff({asciiEntry(0x010F, "Canon")}, o))}}, 64 << 10);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("cut"));
    const auto write = [&](const QByteArray &contents) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
    };
    for (const QByteArray &contents : {farIfd, exifJpeg}) {
        ASSERT_TRUE(write(contents));
        // Cuts the file at ever other places and makes it whole again, as fast as it can; now
        // and then with its contents, else with zeros in place of what was cut.
        std::atomic<bool> stop = false;
        std::thread cutter([&] {
            QFile file(path);
            if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
                return;
            for (qint64 round = 1; !stop; ++round) {
                const qint64 cut = round * 7919 % contents.size();
                file.resize(cut);
                file.resize(contents.size());
                if (round % 16 == 0) {
                    file.seek(cut);
                    file.write(contents.constData() + cut, contents.size() - cut);
                }
            }
        });
        for (int read = 0; read < 3000; ++read) {
            const QString make = OVNImageTagParser().parseFileForExifInfo(path).value("CameraMake").toString();
            EXPECT_TRUE(make.isEmpty() || make == "n/a" || make == "Canon") << qPrintable(make);
        }
        stop = true;
        cutter.join();
        ASSERT_TRUE(write(contents));
        EXPECT_EQ(OVNImageTagParser().parseFileForExifInfo(path), OVNImageTagParser().parseDataForExifInfo(contents));
    }
}

// A pipe would block the reader for ever and a device would be read without end: neither is read.
TEST(OVNImageTagParser, WhatIsNoRegularFileIsNotRead)
{
    QTemporaryDir dir;
    const QString pipe = dir.filePath(QStringLiteral("pipe.jpg"));
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString zero = dir.filePath(QStringLiteral("zero.xmp"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero));
    for (const QString &path : {pipe, zero}) {
        SCOPED_TRACE(qPrintable(path));
        EXPECT_TRUE(OVNImageTagParser().parseFileForExifInfo(path).isEmpty());
        EXPECT_TRUE(OVNXMPHelper().parseXMPFile(path).isEmpty());
    }
}
