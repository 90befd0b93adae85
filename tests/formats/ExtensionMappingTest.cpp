#include "formats/OVNExtensionMapping.h"
#include "formats/OVNExtensionMappingHelper.h"
#include "formats/OVNHelper.h"

#include "PreferenceKeys.h"

#include "../support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// The newer built-in set, row by row: extension | HFS type ("-" for none) | description |
// processor | viewer | exif | iptc | type.
const char *const kNewerSet[] = {
    "jpg|JPEG|JPEG image format|Image|NSIInternal|1|1|Image",
    "jpeg|-|JPEG image format|Image|NSIInternal|1|1|Image",
    "tif|TIFF|TIFF image format|Image|NSIInternal|1|1|Image",
    "tiff|-|TIFF image format|Image|NSIInternal|1|1|Image",
    "psd|8BPS|Adobe Photoshop image format|QuickTime|QTInternal|1|1|Image",
    "pcd|PCDI|Kodak PhotoCD Image|QuickTime|QTInternal|0|0|Image",
    "pcd|PCDO|Kodak PhotoCD Overview|QuickTime|QTInternal|0|0|Image",
    "swf|-|Macromedia Flash|QuickTime|Creator|0|0|Movie",
    "fla|-|Macromedia Flash Source|QuickTime|Creator|0|0|Movie",
    "gif|GIFf|Graphic Interchange Format|Image|NSIInternal|0|0|Image",
    "gif|GIF|Graphic Interchange Format|Image|NSIInternal|0|0|Image",
    "pdf|PDF|Portable Documents Format|QuickTime|Creator|0|0|PDF",
    "png|PNGf|Portable Network Graphics format|Image|NSIInternal|0|0|Image",
    "png|PNG|Portable Network Graphics format|Image|NSIInternal|0|0|Image",
    "pic|-|PIC format|Image|NSIInternal|0|0|Image",
    "pct|-|PCT format|Image|NSIInternal|0|0|Image",
    "pict|PICT|PICT format|Image|NSIInternal|0|0|Image",
    "ps|-|PS format|Image|NSIInternal|0|0|Image",
    "eps|EPSF|EPS format|Image|NSIInternal|0|0|Image",
    "xbm|-|XBM format|Image|NSIInternal|0|0|Image",
    "hdr|-|HDR format|Image|NSIInternal|0|0|Image",
    "exr|-|EXR format|Image|NSIInternal|0|0|Image",
    "icns|-|ICNS format|Image|NSIInternal|0|0|Image",
    "jp2|jp2|JPEG 2000 format|Image|NSIInternal|0|0|Image",
    "qti|-|QTI format|Image|NSIInternal|0|0|Image",
    "qtif|qtif|QTIF format|Image|NSIInternal|0|0|Image",
    "tga|TPIC|TARGA format|Image|NSIInternal|0|0|Image",
    "rgb|-|RGB format|Image|NSIInternal|0|0|Image",
    "sgi|SGI|SGI format|Image|NSIInternal|0|0|Image",
    "mac|-|MAC format|Image|NSIInternal|0|0|Image",
    "pnt|-|MacPaint bitmap format|Image|NSIInternal|0|0|Image",
    "pntg|PNTG|MacPaint bitmap format|Image|NSIInternal|0|0|Image",
    "cur|CUR|Windows Cursor format|Image|NSIInternal|0|0|Image",
    "ico|ICO|ICO format|Image|NSIInternal|0|0|Image",
    "bmp|BMP|BMP format|Image|NSIInternal|0|0|Image",
    "fax|-|FAX format|Image|NSIInternal|0|0|Image",
    "dcr|KDCR|Kodak raw image format|Image|NSIInternal|0|0|RAW",
    "fpx|-|Kodak FlashPix format|Image|NSIInternal|0|0|RAW",
    "fpix|FPix|Kodak FlashPix format|Image|NSIInternal|0|0|RAW",
    "x3f|FOVb|Sigma raw image Format|DCRAW|NSIInternal|0|0|RAW",
    "crw|CCDR|Canon raw image format|Image|NSIInternal|1|1|RAW",
    "cr2|-|Canon raw image format|Image|NSIInternal|1|1|RAW",
    "bay|-|Casio raw image format|Image|NSIInternal|1|1|RAW",
    "raw|-|Casio/Leica/Panasonic/Contax/Creative/Epson/Konica/Leaf/Leica/Logitech raw image "
    "format|Image|NSIInternal|1|1|RAW",
    "dcr|-|Kodak raw image format|Image|NSIInternal|1|1|RAW",
    "kdc|-|Kodak raw image format|Image|NSIInternal|1|1|RAW",
    "kqp|-|Konica raw image format|Image|NSIInternal|1|1|RAW",
    "mrw|MRW|Minolta raw image format|Image|NSIInternal|1|1|RAW",
    "dng|-|Digital negative format|Image|NSIInternal|0|0|RAW",
    "srf|SRF|Sony raw image format|RAW|NSIInternal|0|0|RAW",
    "nef|NEF|Nikon raw image format|Image|NSIInternal|0|0|RAW",
    "raf|RAF|Fuji raw image format|Image|NSIInternal|0|0|RAW",
    "orf|ORF|Olympus raw image format|Image|NSIInternal|0|0|RAW",
    "pef|PEF|Pentax/Phase One raw image format|Image|NSIInternal|0|0|RAW",
    "rdc|-|Rollei raw image format|RAW|NSIInternal|0|0|RAW",
    "cs1|-|Sinar raw image format|RAW|NSIInternal|0|0|RAW",
    "ppm|-|Portable Bitmap Format|Image|NSIInternal|0|0|Image",
    "mov|MooV|QuickTime movie format|QuickTime|QTInternal|0|0|Movie",
    "mpg|-|MPEG1 movie format|QuickTime|QTInternal|0|0|Movie",
    "mpeg|-|MPEG1 movie format|QuickTime|QTInternal|0|0|Movie",
    "m2t|M2T|MPEG format|QuickTime|QTInternal|0|0|Movie",
    "mp4|mp4|MPEG4 movie format|QuickTime|QTInternal|0|0|Movie",
    "mpg4|mpg4|MPEG4 movie format|QuickTime|QTInternal|0|0|Movie",
    "avi|-|AVI movie format|QuickTime|QTInternal|0|0|Movie",
    "dv|-|DV movie format|QuickTime|QTInternal|0|0|Movie",
    "wmv|-|WMV movie format|QuickTime|QTInternal|0|0|Movie",
    "ai|-|Adobe Illustrator|Adobe.Illustrator|Creator|0|0|Document",
    "indd|InDd|Adobe InDesign|Document.Generic|Creator|0|0|Document",
    "fm|-|Adobe FrameMaker|Document.Generic|Creator|0|0|Document",
    "book|-|Adobe FrameMaker Book|Document.Generic|Creator|0|0|Document",
    "fdf|-|Adobe Acrobat Input Form|Document.Generic|Creator|0|0|Document",
    "p65|AD65|Adobe Pagemaker 6.5 Document|Document.Generic|Creator|0|0|Document",
    "t65|-|Adobe Pagemaker 6.5 Template|Document.Generic|Creator|0|0|Document",
    "pm|AD3E|Adobe Pagemaker Document|Document.Generic|Creator|0|0|Document",
    "pmd|AD3E|Adobe Pagemaker|Document.Generic|Creator|0|0|Document",
    "fh3|FHD3|Macromedia Freehand 4|Document.Generic|Creator|0|0|Document",
    "fh5|AGD1|Macromedia Freehand 5|Document.Generic|Creator|0|0|Document",
    "fh7|AGD2|Macromedia Freehand 7|Document.Generic|Creator|0|0|Document",
    "fh8|AGD3|Macromedia Freehand 8|Document.Generic|Creator|0|0|Document",
    "fh9|AGD4|Macromedia Freehand 9|Document.Generic|Creator|0|0|Document",
    "fh10|AGD5|Macromedia Freehand 10|Document.Generic|Creator|0|0|Document",
    "fh11|AGD6|Macromedia Freehand MX|Document.Generic|Creator|0|0|Document",
    "dir|MMDR|Macromedia Director Movie|Document.Generic|Creator|0|0|Movie",
    "dxr|MMDR|Macromedia Director Protected Movie|Document.Generic|Creator|0|0|Movie",
    "dcr|MMDR|Macromedia Shockwave Document|Document.Generic|Creator|0|0|Movie",
    "qxd|XDOC|QuarkXPress Document|Document.Generic|Creator|0|0|Document",
    "qxt|XPR3|QuarkXPress Template|Document.Generic|Creator|0|0|Document",
    "txt|TEXT|Text File|Document.Generic|Creator|0|0|Document",
    "csv|-|CSV Document|Document.Generic|Creator|0|0|Document",
    "xml|-|XML Document|Document.Generic|Creator|0|0|Document",
    "rtf|-|RTF Document|Document.Generic|Creator|0|0|Document",
    "rtfd|-|RTF Document|Document.Generic|Creator|0|0|Document",
    "doc|W8BN|Microsoft Word Document|Document.Generic|Creator|0|0|Document",
    "dot|W8TN|Microsoft Word Template|Document.Generic|Creator|0|0|Document",
    "xls|XLS8|Microsoft Excel Document|Document.Generic|Creator|0|0|Document",
    "xls|sLS8|Microsoft Excel Template|Document.Generic|Creator|0|0|Document",
    "ppt|SLD8|Microsoft PowerPoint Document|Document.Generic|Creator|0|0|Document",
    "ppt|SLD3|Microsoft PowerPoint Document|Document.Generic|Creator|0|0|Document",
    "pot|PPOT|Microsoft PowerPoint Template|Document.Generic|Creator|0|0|Document",
    "pps|PPSS|Microsoft PowerPoint Show|Document.Generic|Creator|0|0|Document",
    "pages|-|Apple Pages Document|Document.Generic|Creator|0|0|Document",
    "key|-|Apple Keynote Document|Document.Generic|Creator|0|0|Document",
    "ooutline|-|OmniOutliner Document|Document.Generic|Creator|0|0|Document",
    "graffle|-|OmniGraffle Document|Document.Generic|Creator|0|0|Document",
    "webloc|-|Safari URL Document|Document.Webloc|Creator|0|0|Document",
    "mp3|MPG3|MP3 Audio File|Document.Generic|Creator|0|0|Audio",
    "m4p|-|MPEG4 Audio File|Document.Generic|Creator|0|0|Audio",
    "wav|WAV|WAV Audio File|Document.Generic|Creator|0|0|Audio",
    "aifc|AIFC|AIFF Audio File|Document.Generic|Creator|0|0|Audio",
};

FileTypeEntry expectedRow(const char *line)
{
    const QStringList f = QString::fromLatin1(line).split(QLatin1Char('|'));
    FileTypeEntry row{{"extension", f[0]}, {"description", f[2]}, {"processor", f[3]}, {"viewer", f[4]},
                      {"exif", f[5]},      {"iptc", f[6]},        {"type", f[7]}};
    if (f[1] != QLatin1String("-"))
        row.insert(QStringLiteral("hfstype"), f[1]);
    return row;
}

FileTypeTable expectedNewerSet()
{
    FileTypeTable table;
    for (const char *line : kNewerSet)
        table.append(expectedRow(line));
    return table;
}

constexpr quint32 code(const char (&text)[5])
{
    return (quint32(quint8(text[0])) << 24) | (quint32(quint8(text[1])) << 16) | (quint32(quint8(text[2])) << 8)
           | quint32(quint8(text[3]));
}

FileTypeEntry row(const QString &extension, const QString &type, const QString &processor = "Image")
{
    return {{"extension", extension},
            {"description", extension},
            {"processor", processor},
            {"viewer", "NSIInternal"},
            {"exif", "0"},
            {"iptc", "0"},
            {"type", type}};
}

const QStringList kPreferences = {"FileTypeMapping", "PDFThumbnailSize", "MovieThumbnailSize", "ImageThumbnailSize"};

} // namespace

TEST(BuiltInFileTypeTables, NewerSetHasTheExact109Rows)
{
    const FileTypeTable expected = expectedNewerSet();
    const FileTypeTable actual = OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4();
    ASSERT_EQ(expected.size(), 109);
    ASSERT_EQ(actual.size(), 109);
    for (qsizetype i = 0; i < expected.size(); ++i)
        EXPECT_EQ(actual[i], expected[i]) << "row " << i + 1 << " " << qPrintable(expected[i]["extension"].toString());
}

TEST(BuiltInFileTypeTables, OlderSetDiffersOnlyInThirteenRawRows)
{
    // Rows 41-49 and 51-54 (counted from 1) go to the built-in RAW decoder in the older set.
    FileTypeTable expected = expectedNewerSet();
    for (int number : {41, 42, 43, 44, 45, 46, 47, 48, 49, 51, 52, 53, 54}) {
        ASSERT_EQ(expected[number - 1]["processor"], QStringLiteral("Image"));
        expected[number - 1]["processor"] = QStringLiteral("RAW");
    }
    const FileTypeTable actual = OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_3();
    ASSERT_EQ(actual.size(), 109);
    for (qsizetype i = 0; i < expected.size(); ++i)
        EXPECT_EQ(actual[i], expected[i]) << "row " << i + 1;

    const OVNExtensionMapping older(actual);
    const OVNExtensionMapping newer(OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4());
    EXPECT_EQ(older.getProcessorForExtension("nef"), "RAW");
    EXPECT_EQ(newer.getProcessorForExtension("nef"), "Image");
    EXPECT_EQ(older.getProcessorForExtension("x3f"), "DCRAW");
    EXPECT_EQ(newer.getProcessorForExtension("x3f"), "DCRAW");
    EXPECT_EQ(older.getProcessorForExtension("srf"), "RAW");
    EXPECT_EQ(older.getProcessorForExtension("dcr"), "Image"); // the Kodak row 37 comes first
}

TEST(BuiltInFileTypeTables, RowsWithoutTypeCodeHaveNoKeyForIt)
{
    for (const FileTypeEntry &entry : OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4())
        EXPECT_EQ(entry.size(), entry.contains("hfstype") ? 8 : 7) << qPrintable(entry["extension"].toString());
}

TEST(BuiltInFileTypeTables, TheSystemVersionPicksTheSet)
{
    EXPECT_EQ(OVNExtensionMappingHelper::defaultMappingForSystemVersion(0x1030)[40]["processor"], "RAW");
    EXPECT_EQ(OVNExtensionMappingHelper::defaultMappingForSystemVersion(0x1040)[40]["processor"], "Image");
    EXPECT_EQ(OVNExtensionMappingHelper::defaultMappingForSystemVersion(-1)[40]["processor"], "Image");
    // Here the system is never 10.3: the newer set is the default.
    EXPECT_EQ(OVNExtensionMappingHelper::getDefaultMapping(),
              OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4());
}

TEST(BuiltInFileTypeTables, OnlyAnArrayPreferenceReplacesTheBuiltInSet)
{
    const FileTypeTable builtIn = OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4();
    using H = OVNExtensionMappingHelper;
    EXPECT_EQ(H::mappingFromPreferenceValue(QVariant(), 0x1050), builtIn);
    EXPECT_EQ(H::mappingFromPreferenceValue(QVariantMap{{"jpg", "Image"}}, 0x1050), builtIn);
    EXPECT_EQ(H::mappingFromPreferenceValue(QString("jpg"), 0x1050), builtIn);
    EXPECT_EQ(H::mappingFromPreferenceValue(42, 0x1050), builtIn);
    EXPECT_TRUE(H::mappingFromPreferenceValue(QVariantList(), 0x1050).isEmpty());

    // A stray element keeps its place as an empty row.
    const FileTypeTable mixed =
        H::mappingFromPreferenceValue(QVariantList{QVariant(row("jpg", "Image")), "junk"}, 0x1050);
    ASSERT_EQ(mixed.size(), 2);
    EXPECT_TRUE(mixed[1].isEmpty());
}

TEST(FileTypeTable, ThePreferenceIsReadWhenAnInstanceIsMade)
{
    PreferenceKeys keys(kPreferences);
    auto &defaults = UserDefaults::standard();

    defaults.setObject(QVariantMap{{"extension", "jpg"}}, "FileTypeMapping");
    EXPECT_EQ(OVNExtensionMapping().count(), 109);
    defaults.setObject(QString("not a table"), "FileTypeMapping");
    EXPECT_EQ(OVNExtensionMapping().count(), 109);

    defaults.setObject(QVariantList(), "FileTypeMapping");
    const OVNExtensionMapping empty;
    EXPECT_EQ(empty.count(), 0);
    for (const char *file : {"a.jpg", "b.mov", "c.nef", "noextension"}) {
        EXPECT_EQ(empty.getProcessorForFile(file), "None");
        EXPECT_EQ(empty.getViewerForFile(file), "None");
        EXPECT_EQ(empty.getTypeForFile(file), "None");
        EXPECT_FALSE(empty.getParseEXIFForFile(file));
        EXPECT_EQ(empty.getThumbSizeForFile(file), QSize(256, 256));
    }
    EXPECT_EQ(empty.getProcessorForExtension("jpg"), "None");
    EXPECT_EQ(empty.objectAtIndex(0), FileTypeEntry());
}

TEST(FileTypeTable, EditsSaveTheWholeTable)
{
    PreferenceKeys keys(kPreferences);
    OVNExtensionMapping mapping(
        FileTypeTable{row("a", "Image"), row("b", "Image"), row("c", "Image"), row("d", "Image"), row("e", "Image")});
    ASSERT_TRUE(mapping.duplicateObjectAtIndex(3));
    ASSERT_EQ(mapping.count(), 6);
    EXPECT_EQ(mapping.objectAtIndex(3)["extension"], "d");
    EXPECT_EQ(mapping.objectAtIndex(4)["extension"], "d");
    EXPECT_EQ(mapping.objectAtIndex(5)["extension"], "e");
    const QVariantList stored = UserDefaults::standard().arrayForKey("FileTypeMapping");
    ASSERT_EQ(stored.size(), 6);
    EXPECT_EQ(stored[4].toMap()["extension"], "d");

    EXPECT_TRUE(mapping.replaceObjectAtIndex(0, row("z", "Movie")));
    EXPECT_TRUE(mapping.deleteObjectAtIndex(1));
    EXPECT_TRUE(mapping.addObject(row("y", "PDF")));
    // Out-of-range indexes change nothing.
    EXPECT_FALSE(mapping.deleteObjectAtIndex(6));
    EXPECT_FALSE(mapping.replaceObjectAtIndex(-1, row("x", "Image")));
    EXPECT_FALSE(mapping.duplicateObjectAtIndex(99));

    // Another instance sees the edits; the first keeps its copy until made anew.
    const OVNExtensionMapping reread;
    ASSERT_EQ(reread.count(), 6);
    EXPECT_EQ(reread.getTypeForExtension("z"), "Movie");
    EXPECT_EQ(reread.getTypeForExtension("y"), "PDF");
    EXPECT_EQ(reread.getTypeForExtension("a"), "None");

    mapping.resetExtensionMapToMacOSX10_3();
    EXPECT_EQ(OVNExtensionMapping().getProcessorForExtension("nef"), "RAW");
    mapping.resetExtensionMapToMacOSX10_4();
    EXPECT_EQ(OVNExtensionMapping().getProcessorForExtension("nef"), "Image");
}

TEST(FileTypeTable, TheTypeCodeWinsOverTheExtension)
{
    PreferenceKeys keys(kPreferences);
    OVNExtensionMapping mapping(OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4());
    EXPECT_EQ(mapping.getTypeForFile("/x/photo.jpg", code("PDF ")), "PDF");
    EXPECT_EQ(mapping.getProcessorForFile("/x/photo.jpg", code("PDF ")), "QuickTime");
    EXPECT_EQ(mapping.getExtensionMapField("description", "/x/pic", code("GIF ")), "Graphic Interchange Format");
    // A code that no row carries falls back on the extension.
    EXPECT_EQ(mapping.getTypeForFile("/x/photo.jpg", code("ZZZZ")), "Image");
    // dcr: by extension the first (Kodak) row; by type code MMDR the Director row.
    EXPECT_EQ(mapping.getProcessorForExtension("dcr"), "Image");
    EXPECT_EQ(mapping.getTypeForExtension("dcr"), "RAW");
    EXPECT_TRUE(mapping.getParseEXIFForExtension("dcr")); // a later dcr row has exif "1"
    EXPECT_FALSE(mapping.getParseEXIFForFile("a.dcr"));   // the first row decides for files
    EXPECT_EQ(mapping.getExtensionMapField("description", "movie.dcr", code("MMDR")), "Macromedia Director Movie");

    // Four blanks trim to the empty code: the first row typed with an empty type code.
    mapping.addObject(FileTypeEntry{{"extension", "blank"}, {"hfstype", ""}, {"type", "Audio"}});
    EXPECT_EQ(mapping.getTypeForFile("/x/a.jpg", code("    ")), "Audio");

    EXPECT_EQ(OVNExtensionMapping::hfsTypeText(code("GIF ")), "GIF");
    EXPECT_TRUE(OVNExtensionMapping::hfsTypeText(0).isNull());
    EXPECT_TRUE(OVNExtensionMapping::hfsTypeText(0x01020304).isNull());
}

TEST(FileTypeTable, ExtensionsAreComparedInLowerCase)
{
    PreferenceKeys keys(kPreferences);
    OVNExtensionMapping mapping(FileTypeTable{row("jpg", "Image"), row("RAW", "RAW"), row("gz", "Document")});
    EXPECT_EQ(mapping.getTypeForFile("/cards/IMG_1.JPG"), "Image");
    EXPECT_EQ(mapping.getTypeForExtension("JPG"), "Image");
    // A row typed in capitals is never found.
    EXPECT_EQ(mapping.getTypeForFile("/cards/x.RAW"), "None");
    EXPECT_EQ(mapping.getTypeForExtension("RAW"), "None");
    // Only the last component's last extension counts; a name that starts with a dot has none.
    EXPECT_EQ(mapping.getTypeForFile("/a.jpg/readme"), "None");
    EXPECT_EQ(mapping.getTypeForFile("/x/archive.tar.gz"), "Document");
    EXPECT_EQ(mapping.getTypeForFile("/x/.jpg"), "None");
    EXPECT_EQ(mapping.getTypeForFile("/x/photo.jpg/"), "Image");
    EXPECT_EQ(mapping.getTypeForFile(""), "None");
    EXPECT_EQ(mapping.getExtensionMapField("", "a.jpg"), "None");
    EXPECT_EQ(mapping.getExtensionMapField("nosuchkey", "a.jpg"), "None");

    EXPECT_EQ(OVNExtensionMapping::pathExtension("a/b.c/d"), "");
    EXPECT_EQ(OVNExtensionMapping::pathExtension("file."), "");
    EXPECT_EQ(OVNExtensionMapping::pathExtension("/"), "");
}

TEST(FileTypeTable, ThumbnailSizesByType)
{
    PreferenceKeys keys(kPreferences);
    auto &defaults = UserDefaults::standard();
    EXPECT_EQ(OVNExtensionMapping::thumbSizeForType("PDF"), QSize(1024, 1024));
    EXPECT_EQ(OVNExtensionMapping::thumbSizeForType("Movie"), QSize(512, 512));
    EXPECT_EQ(OVNExtensionMapping::thumbSizeForType("Image"), QSize(256, 256));

    defaults.setObject(QString("0"), "PDFThumbnailSize");
    defaults.setObject(QString("300"), "ImageThumbnailSize");
    defaults.setObject(QString("-40"), "MovieThumbnailSize");
    EXPECT_EQ(OVNExtensionMapping::thumbSizeForType("PDF"), QSize(1024, 1024));
    EXPECT_EQ(OVNExtensionMapping::thumbSizeForType("Image"), QSize(300, 300));
    EXPECT_EQ(OVNExtensionMapping::thumbSizeForType("Movie"), QSize(512, 512));
    // Other types, and types in other spellings, always get 256.
    EXPECT_EQ(OVNExtensionMapping::thumbSizeForType("image"), QSize(256, 256));
    EXPECT_EQ(OVNExtensionMapping::thumbSizeForType("Audio"), QSize(256, 256));
    EXPECT_EQ(OVNExtensionMapping::thumbSizeForType("Document"), QSize(256, 256));
    EXPECT_EQ(OVNExtensionMapping::thumbSizeForType("None"), QSize(256, 256));

    const OVNExtensionMapping mapping(OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4());
    EXPECT_EQ(mapping.getThumbSizeForFile("photo.jpg"), QSize(300, 300));
    EXPECT_EQ(mapping.getThumbSizeForExtension("mp3"), QSize(256, 256));
    EXPECT_EQ(mapping.getThumbSizeForFile("noextension"), QSize(256, 256));
}

TEST(FileTypeTable, SharedTestFilesGetTheirRows)
{
    OVN_REQUIRE_TESTDATA();
    PreferenceKeys keys(kPreferences);
    const QDir data(testDataDir());
    const OVNExtensionMapping mapping;
    const QString nef = data.filePath("exiftool-t-images/Nikon.nef");
    const QString mov = data.filePath("exiftool-t-images/QuickTime.mov");
    ASSERT_TRUE(QFile::exists(nef));
    ASSERT_TRUE(QFile::exists(mov));
    EXPECT_EQ(mapping.getProcessorForFile(nef), "Image");
    EXPECT_EQ(mapping.getTypeForFile(nef), "RAW");
    EXPECT_EQ(mapping.getProcessorForFile(mov), "QuickTime");
    EXPECT_EQ(mapping.getTypeForFile(mov), "Movie");
    EXPECT_EQ(mapping.getViewerForFile(mov), "QTInternal");
    EXPECT_EQ(mapping.getThumbSizeForFile(mov), QSize(512, 512));
    EXPECT_EQ(mapping.getProcessorForFile(data.filePath("exiftool-t-images/CanonRaw.CR2")), "Image");
    // A missing file is answered from its extension.
    EXPECT_EQ(mapping.getProcessorForFile(data.filePath("no-such-camera.x3f")), "DCRAW");
}
