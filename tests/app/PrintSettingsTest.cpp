// The contact sheet's kept settings: what a print leaves, what the next sheet starts from, and
// values from the preferences brought into range.
#include "app/OVNPrintSettings.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPrinter>
#include <QTemporaryDir>

namespace {

TEST(PrintSettingsTest, StoredValuesAreBroughtIntoRange)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("prefs.plist"));
    EXPECT_FALSE(OVNPrintSettings::stored(defaults));
    const struct {
        const char *name;
        QVariantMap kept;
        std::optional<int> imagesPerLine;
        std::optional<int> style;
        QPageLayout::Orientation orientation;
    } cases[] = {
        {"as kept",
         {{"ImagesPerLine", "6"}, {"Style", "3"}, {"Orientation", "Landscape"}},
         6,
         3,
         QPageLayout::Landscape},
        {"out of range", {{"ImagesPerLine", "0"}, {"Style", "42"}}, 1, 9, QPageLayout::Portrait},
        {"none of the counts", {{"SelectionOnly", "1"}}, std::nullopt, std::nullopt, QPageLayout::Portrait},
    };
    for (const auto &c : cases) {
        defaults.setObject(c.kept, "PrintSettings");
        const std::optional<OVNPrintSettings> settings = OVNPrintSettings::stored(defaults);
        ASSERT_TRUE(settings) << c.name;
        EXPECT_EQ(settings->imagesPerLine, c.imagesPerLine) << c.name;
        EXPECT_EQ(settings->style, c.style) << c.name;
        EXPECT_EQ(settings->orientation, c.orientation) << c.name;
    }
}

// A sheet printed to a file is proposed next time while its folder is there; one printed on paper
// keeps the file of the last sheet printed to a file.
TEST(PrintSettingsTest, ThePrintedFileIsProposedWhileItsFolderIsThere)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("prefs.plist"));
    const QString file = dir.filePath("sheets/contact.pdf");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("sheets")));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setPageOrientation(QPageLayout::Landscape);
    OVNPrintSettings::remember(defaults, printer, 5, 2, true);
    EXPECT_EQ(OVNPrintSettings::proposedOutputFile(defaults), file);
    const std::optional<OVNPrintSettings> kept = OVNPrintSettings::stored(defaults);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->imagesPerLine, 5);
    EXPECT_TRUE(kept->selectionOnly);
    EXPECT_EQ(kept->appliedTo(QPageLayout()).orientation(), QPageLayout::Landscape);

    QPrinter paper(QPrinter::HighResolution);
    paper.setOutputFormat(QPrinter::NativeFormat);
    OVNPrintSettings::remember(defaults, paper, 5, 2, false);
    EXPECT_FALSE(OVNPrintSettings::stored(defaults)->toFile);
    EXPECT_EQ(OVNPrintSettings::stored(defaults)->outputFile, file);
    EXPECT_EQ(OVNPrintSettings::proposedOutputFile(defaults), QString());

    OVNPrintSettings::remember(defaults, printer, 5, 2, false);
    ASSERT_TRUE(QDir(dir.filePath("sheets")).removeRecursively());
    EXPECT_EQ(OVNPrintSettings::proposedOutputFile(defaults), QString());
}

} // namespace
