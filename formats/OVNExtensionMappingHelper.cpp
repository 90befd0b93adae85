#include "formats/OVNExtensionMappingHelper.h"

#include "formats/OVNHelper.h"

#include "platform/UserDefaults.h"

#include <array>
#include <iterator>

namespace {

// The column sets the rows share: processor, viewer, "exif", "iptc", type.
struct ColumnSet {
    const char *processor;
    const char *viewer;
    const char *exif;
    const char *iptc;
    const char *type;
};

constexpr std::array<ColumnSet, 17> kColumnSets = {{
    {nullptr, nullptr, nullptr, nullptr, nullptr}, // sets are counted from 1
    {"Image", "NSIInternal", "1", "1", "Image"},
    {"QuickTime", "QTInternal", "1", "1", "Image"},
    {"QuickTime", "QTInternal", "0", "0", "Image"},
    {"QuickTime", "Creator", "0", "0", "Movie"},
    {"Image", "NSIInternal", "0", "0", "Image"},
    {"QuickTime", "Creator", "0", "0", "PDF"},
    {"Image", "NSIInternal", "0", "0", "RAW"},
    {"DCRAW", "NSIInternal", "0", "0", "RAW"},
    {"Image", "NSIInternal", "1", "1", "RAW"},
    {"RAW", "NSIInternal", "0", "0", "RAW"},
    {"QuickTime", "QTInternal", "0", "0", "Movie"},
    {"Adobe.Illustrator", "Creator", "0", "0", "Document"},
    {"Document.Generic", "Creator", "0", "0", "Document"},
    {"Document.Generic", "Creator", "0", "0", "Movie"},
    {"Document.Webloc", "Creator", "0", "0", "Document"},
    {"Document.Generic", "Creator", "0", "0", "Audio"},
}};

struct BuiltInRow {
    const char *extension;
    const char *hfsType; // nullptr: the row has no "hfstype" key at all
    const char *description;
    int columnSet;
    bool olderSetUsesRawDecoder; // the older set sends this camera-RAW row to the "RAW" processor
};

// HFS types are kept without their trailing blanks ('GIF ' is "GIF").
constexpr BuiltInRow kRows[] = {
    {"jpg", "JPEG", "JPEG image format", 1, false},
    {"jpeg", nullptr, "JPEG image format", 1, false},
    {"tif", "TIFF", "TIFF image format", 1, false},
    {"tiff", nullptr, "TIFF image format", 1, false},
    {"psd", "8BPS", "Adobe Photoshop image format", 2, false},
    {"pcd", "PCDI", "Kodak PhotoCD Image", 3, false},
    {"pcd", "PCDO", "Kodak PhotoCD Overview", 3, false},
    {"swf", nullptr, "Macromedia Flash", 4, false},
    {"fla", nullptr, "Macromedia Flash Source", 4, false},
    {"gif", "GIFf", "Graphic Interchange Format", 5, false},
    {"gif", "GIF", "Graphic Interchange Format", 5, false},
    {"pdf", "PDF", "Portable Documents Format", 6, false},
    {"png", "PNGf", "Portable Network Graphics format", 5, false},
    {"png", "PNG", "Portable Network Graphics format", 5, false},
    {"pic", nullptr, "PIC format", 5, false},
    {"pct", nullptr, "PCT format", 5, false},
    {"pict", "PICT", "PICT format", 5, false},
    {"ps", nullptr, "PS format", 5, false},
    {"eps", "EPSF", "EPS format", 5, false},
    {"xbm", nullptr, "XBM format", 5, false},
    {"hdr", nullptr, "HDR format", 5, false},
    {"exr", nullptr, "EXR format", 5, false},
    {"icns", nullptr, "ICNS format", 5, false},
    {"jp2", "jp2", "JPEG 2000 format", 5, false},
    {"qti", nullptr, "QTI format", 5, false},
    {"qtif", "qtif", "QTIF format", 5, false},
    {"tga", "TPIC", "TARGA format", 5, false},
    {"rgb", nullptr, "RGB format", 5, false},
    {"sgi", "SGI", "SGI format", 5, false},
    {"mac", nullptr, "MAC format", 5, false},
    {"pnt", nullptr, "MacPaint bitmap format", 5, false},
    {"pntg", "PNTG", "MacPaint bitmap format", 5, false},
    {"cur", "CUR", "Windows Cursor format", 5, false},
    {"ico", "ICO", "ICO format", 5, false},
    {"bmp", "BMP", "BMP format", 5, false},
    {"fax", nullptr, "FAX format", 5, false},
    {"dcr", "KDCR", "Kodak raw image format", 7, false},
    {"fpx", nullptr, "Kodak FlashPix format", 7, false},
    {"fpix", "FPix", "Kodak FlashPix format", 7, false},
    {"x3f", "FOVb", "Sigma raw image Format", 8, false},
    {"crw", "CCDR", "Canon raw image format", 9, true},
    {"cr2", nullptr, "Canon raw image format", 9, true},
    {"bay", nullptr, "Casio raw image format", 9, true},
    {"raw", nullptr, "Casio/Leica/Panasonic/Contax/Creative/Epson/Konica/Leaf/Leica/Logitech raw image format", 9,
     true},
    {"dcr", nullptr, "Kodak raw image format", 9, true},
    {"kdc", nullptr, "Kodak raw image format", 9, true},
    {"kqp", nullptr, "Konica raw image format", 9, true},
    {"mrw", "MRW", "Minolta raw image format", 9, true},
    {"dng", nullptr, "Digital negative format", 7, true},
    {"srf", "SRF", "Sony raw image format", 10, false},
    {"nef", "NEF", "Nikon raw image format", 7, true},
    {"raf", "RAF", "Fuji raw image format", 7, true},
    {"orf", "ORF", "Olympus raw image format", 7, true},
    {"pef", "PEF", "Pentax/Phase One raw image format", 7, true},
    {"rdc", nullptr, "Rollei raw image format", 10, false},
    {"cs1", nullptr, "Sinar raw image format", 10, false},
    {"ppm", nullptr, "Portable Bitmap Format", 5, false},
    {"mov", "MooV", "QuickTime movie format", 11, false},
    {"mpg", nullptr, "MPEG1 movie format", 11, false},
    {"mpeg", nullptr, "MPEG1 movie format", 11, false},
    {"m2t", "M2T", "MPEG format", 11, false},
    {"mp4", "mp4", "MPEG4 movie format", 11, false},
    {"mpg4", "mpg4", "MPEG4 movie format", 11, false},
    {"avi", nullptr, "AVI movie format", 11, false},
    {"dv", nullptr, "DV movie format", 11, false},
    {"wmv", nullptr, "WMV movie format", 11, false},
    {"ai", nullptr, "Adobe Illustrator", 12, false},
    {"indd", "InDd", "Adobe InDesign", 13, false},
    {"fm", nullptr, "Adobe FrameMaker", 13, false},
    {"book", nullptr, "Adobe FrameMaker Book", 13, false},
    {"fdf", nullptr, "Adobe Acrobat Input Form", 13, false},
    {"p65", "AD65", "Adobe Pagemaker 6.5 Document", 13, false},
    {"t65", nullptr, "Adobe Pagemaker 6.5 Template", 13, false},
    {"pm", "AD3E", "Adobe Pagemaker Document", 13, false},
    {"pmd", "AD3E", "Adobe Pagemaker", 13, false},
    {"fh3", "FHD3", "Macromedia Freehand 4", 13, false},
    {"fh5", "AGD1", "Macromedia Freehand 5", 13, false},
    {"fh7", "AGD2", "Macromedia Freehand 7", 13, false},
    {"fh8", "AGD3", "Macromedia Freehand 8", 13, false},
    {"fh9", "AGD4", "Macromedia Freehand 9", 13, false},
    {"fh10", "AGD5", "Macromedia Freehand 10", 13, false},
    {"fh11", "AGD6", "Macromedia Freehand MX", 13, false},
    {"dir", "MMDR", "Macromedia Director Movie", 14, false},
    {"dxr", "MMDR", "Macromedia Director Protected Movie", 14, false},
    {"dcr", "MMDR", "Macromedia Shockwave Document", 14, false},
    {"qxd", "XDOC", "QuarkXPress Document", 13, false},
    {"qxt", "XPR3", "QuarkXPress Template", 13, false},
    {"txt", "TEXT", "Text File", 13, false},
    {"csv", nullptr, "CSV Document", 13, false},
    {"xml", nullptr, "XML Document", 13, false},
    {"rtf", nullptr, "RTF Document", 13, false},
    {"rtfd", nullptr, "RTF Document", 13, false},
    {"doc", "W8BN", "Microsoft Word Document", 13, false},
    {"dot", "W8TN", "Microsoft Word Template", 13, false},
    {"xls", "XLS8", "Microsoft Excel Document", 13, false},
    {"xls", "sLS8", "Microsoft Excel Template", 13, false},
    {"ppt", "SLD8", "Microsoft PowerPoint Document", 13, false},
    {"ppt", "SLD3", "Microsoft PowerPoint Document", 13, false},
    {"pot", "PPOT", "Microsoft PowerPoint Template", 13, false},
    {"pps", "PPSS", "Microsoft PowerPoint Show", 13, false},
    {"pages", nullptr, "Apple Pages Document", 13, false},
    {"key", nullptr, "Apple Keynote Document", 13, false},
    {"ooutline", nullptr, "OmniOutliner Document", 13, false},
    {"graffle", nullptr, "OmniGraffle Document", 13, false},
    {"webloc", nullptr, "Safari URL Document", 15, false},
    {"mp3", "MPG3", "MP3 Audio File", 16, false},
    {"m4p", nullptr, "MPEG4 Audio File", 16, false},
    {"wav", "WAV", "WAV Audio File", 16, false},
    {"aifc", "AIFC", "AIFF Audio File", 16, false},
};

static_assert(std::size(kRows) == OVNExtensionMappingHelper::kBuiltInRowCount);

enum class Generation { Older, Newer };

FileTypeTable buildTable(Generation generation)
{
    FileTypeTable table;
    table.reserve(static_cast<qsizetype>(std::size(kRows)));
    for (const BuiltInRow &row : kRows) {
        const ColumnSet &set = kColumnSets[static_cast<size_t>(row.columnSet)];
        const bool rawDecoder = generation == Generation::Older && row.olderSetUsesRawDecoder;
        FileTypeEntry entry;
        entry.insert(QStringLiteral("extension"), QString::fromLatin1(row.extension));
        if (row.hfsType != nullptr)
            entry.insert(QStringLiteral("hfstype"), QString::fromLatin1(row.hfsType));
        entry.insert(QStringLiteral("description"), QString::fromLatin1(row.description));
        entry.insert(QStringLiteral("processor"),
                     rawDecoder ? QStringLiteral("RAW") : QString::fromLatin1(set.processor));
        entry.insert(QStringLiteral("viewer"), QString::fromLatin1(set.viewer));
        entry.insert(QStringLiteral("exif"), QString::fromLatin1(set.exif));
        entry.insert(QStringLiteral("iptc"), QString::fromLatin1(set.iptc));
        entry.insert(QStringLiteral("type"), QString::fromLatin1(set.type));
        table.append(entry);
    }
    return table;
}

} // namespace

FileTypeTable OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4() { return buildTable(Generation::Newer); }

FileTypeTable OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_3() { return buildTable(Generation::Older); }

FileTypeTable OVNExtensionMappingHelper::getDefaultMapping()
{
    return defaultMappingForSystemVersion(OVNHelper::systemMajorVersion());
}

FileTypeTable OVNExtensionMappingHelper::defaultMappingForSystemVersion(int systemVersion)
{
    // Any 10.3.x; a failed version query (-1) takes the newer set.
    if (systemVersion == 0x1030)
        return getDefaultMappingForMacOSX10_3();
    return getDefaultMappingForMacOSX10_4();
}

FileTypeTable OVNExtensionMappingHelper::getCurrentMapping()
{
    return mappingFromPreferenceValue(UserDefaults::standard().objectForKey(QStringLiteral("FileTypeMapping")),
                                      OVNHelper::systemMajorVersion());
}

FileTypeTable OVNExtensionMappingHelper::mappingFromPreferenceValue(const QVariant &value, int systemVersion)
{
    const int typeId = value.typeId();
    if (typeId != QMetaType::QVariantList && typeId != QMetaType::QStringList)
        return defaultMappingForSystemVersion(systemVersion);
    // An array is the user's table, even an empty one. An element that is no dictionary keeps its
    // place as a row without keys, so that row indexes stay those of the stored array.
    FileTypeTable table;
    const QVariantList rows = value.toList();
    table.reserve(rows.size());
    for (const QVariant &row : rows) {
        const bool isDictionary = row.typeId() == QMetaType::QVariantMap || row.typeId() == QMetaType::QVariantHash;
        table.append(isDictionary ? row.toMap() : FileTypeEntry());
    }
    return table;
}
