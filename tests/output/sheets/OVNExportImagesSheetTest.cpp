#include "output/OVNOutputSheets.h"
#include "platform/UserDefaults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

TEST(OVNExportImagesSheetTest, TheNextSheetStartsWithTheLastChoices)
{
    UserDefaults::standard().removeObjectForKey(QStringLiteral("ExportSettings"));
    QTemporaryDir dir;
    const QString kept = dir.filePath(QStringLiteral("kept"));
    ASSERT_TRUE(QDir().mkpath(kept));

    const struct {
        const char *name;
        QString folder;
        int sizeIndex;
        bool caption;
        QString expectedFolder; // what the next sheet offers
    } cases[] = {
        {"custom size with a caption", kept, 4, true, kept},
        {"original files", kept, 6, false, kept},
        // A folder that is gone by the next export is not offered again.
        {"a folder that goes", dir.filePath(QStringLiteral("gone")), 1, false, QDir::homePath()},
    };
    for (const auto &c : cases) {
        QDir().mkpath(c.folder);
        QPointer<OVNExportImagesSheet> sheet = new OVNExportImagesSheet;
        sheet->beginSheetModalForWindow(nullptr);
        sheet->folderField()->setText(c.folder);
        sheet->sizeSelector()->setCurrentIndex(c.sizeIndex);
        sheet->sizeField()->setText(QStringLiteral("777"));
        sheet->watermarkSwitch()->setChecked(c.caption);
        sheet->watermarkAuthor()->setText(QStringLiteral("Ann & <b>Author</b>"));
        sheet->watermarkImageName()->setChecked(c.caption);
        sheet->accept(); // nothing to export: the sheet ends by itself
        QTRY_VERIFY_WITH_TIMEOUT(sheet.isNull(), 30000);
        if (c.expectedFolder != c.folder)
            QDir(c.folder).removeRecursively();

        OVNExportImagesSheet next;
        EXPECT_EQ(next.folderField()->text(), c.expectedFolder) << c.name;
        EXPECT_EQ(next.sizeSelector()->currentIndex(), c.sizeIndex) << c.name;
        EXPECT_EQ(next.sizeField()->text(), QStringLiteral("777")) << c.name;
        EXPECT_EQ(next.watermarkSwitch()->isChecked(), c.caption) << c.name;
        EXPECT_EQ(next.watermarkAuthor()->text(), QStringLiteral("Ann & <b>Author</b>")) << c.name;
        EXPECT_EQ(next.watermarkImageName()->isChecked(), c.caption) << c.name;
    }
    UserDefaults::standard().removeObjectForKey(QStringLiteral("ExportSettings"));
}
