#include "formats/FileTypeCodes.h"
#include "formats/OVNExtensionMappingHelper.h"

#include <gtest/gtest.h>

#include <QSet>

namespace {

using Loader = ProcessorCode::Loader;
using Turn = ProcessorCode::Turn;
using Window = ViewerCode::Window;

// What each place that reads a file by its processor did with a code, written out per place: the
// import's loader, the viewers' reduced first picture ("Image"), the list style's badge and the
// decoder's turn ("RAW" and "DCRAW"), the import's upright thumbnail (the three picture loaders)
// and the JPEG writer ("Image", "RAW", "DCRAW", "QuickTime"). Codes compare exactly.
struct ProcessorCase {
    const char *code;
    Loader loader;
    bool decodesAtAnySize;
    bool badged;
    Turn turn;
    bool writable;
};

const ProcessorCase kProcessorCases[] = {
    {"Image", Loader::Image, true, false, Turn::Metadata, true},
    {"QuickTime", Loader::Movie, false, false, Turn::None, true},
    {"RAW", Loader::CameraRaw, false, true, Turn::Decoder, true},
    {"DCRAW", Loader::Dcraw, false, true, Turn::Decoder, true},
    {"Adobe.Illustrator", Loader::Illustrator, false, false, Turn::None, false},
    {"Document.Generic", Loader::Document, false, false, Turn::None, false},
    {"Document.Webloc", Loader::Webloc, false, false, Turn::None, false},
    // The table's miss answer, a row left without one, and near misses.
    {"None", Loader::None, false, false, Turn::None, false},
    {"", Loader::None, false, false, Turn::None, false},
    {"raw", Loader::None, false, false, Turn::None, false},
    {"Image ", Loader::None, false, false, Turn::None, false},
    {"Document", Loader::None, false, false, Turn::None, false},
    // Codes of the other columns are no processors.
    {"NSImage", Loader::None, false, false, Turn::None, false},
    {"NSIInternal", Loader::None, false, false, Turn::None, false},
};

TEST(FileTypeCodes, EachProcessorCodeAnswersAsItsPlacesDid)
{
    for (const ProcessorCase &expected : kProcessorCases) {
        const ProcessorCode &row = FileTypeCodes::processor(QString::fromLatin1(expected.code));
        SCOPED_TRACE(expected.code);
        EXPECT_EQ(row.loader, expected.loader);
        EXPECT_EQ(row.decodesAtAnySize, expected.decodesAtAnySize);
        EXPECT_EQ(row.badged, expected.badged);
        EXPECT_EQ(row.turn, expected.turn);
        EXPECT_EQ(row.writable, expected.writable);
        // An unknown code's row reads as the file-type table's miss.
        EXPECT_STREQ(row.code, expected.loader == Loader::None ? "None" : expected.code);
    }
    EXPECT_STREQ(FileTypeCodes::plainImage().code, "Image");
}

TEST(FileTypeCodes, ViewerCodesChooseTheirWindowAndUnknownOnesNone)
{
    const struct {
        const char *code;
        Window window;
    } cases[] = {
        {"NSIInternal", Window::ImageViewer},
        {"QTInternal", Window::MovieViewer},
        {"Creator", Window::Desktop},
        {"None", Window::None},
        {"", Window::None},
        {"creator", Window::None},
        {"Image", Window::None},
    };
    for (const auto &expected : cases)
        EXPECT_EQ(FileTypeCodes::viewer(QString::fromLatin1(expected.code)).window, expected.window) << expected.code;
}

// The editor offers each code once, and every code a built-in table stores is one it offers, so
// that a reset table loads everything it names.
TEST(FileTypeCodes, EditorOffersEveryBuiltInCodeOnce)
{
    QSet<QString> processors;
    for (const ProcessorCode &row : FileTypeCodes::processors()) {
        EXPECT_NE(row.loader, Loader::None) << row.code;
        EXPECT_FALSE(processors.contains(QString::fromLatin1(row.code))) << row.code;
        processors.insert(QString::fromLatin1(row.code));
    }
    QSet<QString> viewers;
    for (const ViewerCode &row : FileTypeCodes::viewers()) {
        EXPECT_FALSE(viewers.contains(QString::fromLatin1(row.code))) << row.code;
        viewers.insert(QString::fromLatin1(row.code));
    }
    for (const FileTypeTable &table : {OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4(),
                                       OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_3()}) {
        for (const FileTypeEntry &row : table) {
            EXPECT_TRUE(processors.contains(row.value(QStringLiteral("processor")).toString()))
                << row.value(QStringLiteral("extension")).toString().toStdString();
            EXPECT_TRUE(viewers.contains(row.value(QStringLiteral("viewer")).toString()))
                << row.value(QStringLiteral("extension")).toString().toStdString();
        }
    }
}

} // namespace
