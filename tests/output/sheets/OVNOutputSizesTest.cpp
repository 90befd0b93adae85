#include "output/OVNExportImages.h"
#include "output/OVNOutputSheets.h"
#include "output/OVNSendImagesAsMail.h"

#include <QComboBox>

#include <functional>

#include <gtest/gtest.h>

// Each item of the export and e-mail sheets' size pop-ups scales to the box it names, and both
// offer the same boxes.
TEST(OVNOutputSizesTest, PopUpItemsNameTheBoxesTheyScaleTo)
{
    OVNExportImagesSheet exportSheet;
    OVNSendImagesAsMailSheet mailSheet;
    const struct {
        const char *sheet;
        QComboBox *sizes;
        std::function<int(int)> boxSize;
        int pixelItems;
    } cases[] = {
        {"export", exportSheet.sizeSelector(), [](int index) { return OVNExportImages::boxSize(index, 0); }, 4},
        {"mail", mailSheet.sizeSelector(), &OVNSendImagesAsMail::boxSize, 4},
    };
    QStringList offered[2];
    for (size_t c = 0; c < std::size(cases); ++c) {
        const auto &sheet = cases[c];
        int originals = 0;
        for (int index = 0; index < sheet.sizes->count(); ++index) {
            const QString item = sheet.sizes->itemText(index);
            if (item.endsWith(QStringLiteral(" pixels"))) {
                EXPECT_EQ(QString::number(sheet.boxSize(index)) + QStringLiteral(" pixels"), item)
                    << sheet.sheet << " " << index;
                offered[c].append(item);
            } else if (item == QStringLiteral("Original file")) {
                EXPECT_EQ(sheet.boxSize(index), 0) << sheet.sheet;
                ++originals;
            }
        }
        EXPECT_EQ(offered[c].size(), sheet.pixelItems) << sheet.sheet;
        EXPECT_EQ(originals, 1) << sheet.sheet;
    }
    EXPECT_EQ(offered[0], offered[1]);
}
