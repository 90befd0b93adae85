#include "CatalogFixture.h"

#include "app/OVNAssetManager.h"
#include "browser/OVNMediaView.h"
#include "import/OVNImportMedia.h"
#include "platform/Alert.h"

#include "../support/ScriptedAlertPresenter.h"
#include "../support/TestEnvironment.h"

#include <QImage>
#include <QPointer>

namespace {

class CatalogWindowImportTest : public CatalogFixture
{
protected:
    void TearDown() override
    {
        delete window.data();
        CatalogFixture::TearDown();
    }
    QPointer<OVNAssetManager> window;
};

} // namespace

// Files dropped on the shown collection are imported on the window's catalog through a connection
// of the import's own, and the window shows them when the import has finished.
TEST_P(CatalogWindowImportTest, ImportedFilesAppearInTheShownCollection)
{
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    const QString collection = db.addCategoryListEntry(QStringLiteral("Card"), QStringLiteral("C"));
    ASSERT_FALSE(collection.isEmpty());
    QTemporaryDir files;
    QStringList paths;
    for (int i = 0; i < 3; ++i) {
        QImage image(300, 200, QImage::Format_RGB32);
        image.fill(QColor(40 * i, 90, 160));
        paths.append(files.filePath(QStringLiteral("card%1.jpg").arg(i)));
        ASSERT_TRUE(image.save(paths.last(), "JPEG"));
    }

    window = new OVNAssetManager;
    window->setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess>(openAnother()));
    window->windowControllerDidLoadNib();
    ASSERT_TRUE(window->selectCategory(collection));
    ASSERT_EQ(window->mediaView()->count(), 0);

    window->importFiles({files.path()}, collection);
    EXPECT_TRUE(window->findChild<OVNImportMedia *>() != nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return window->mediaView()->count() == 3; }, 60000));
    EXPECT_TRUE(processEventsUntil([&] { return window->findChild<OVNImportMedia *>() == nullptr; }));
    EXPECT_EQ(db.getMediaList(collection).size(), 3);
    EXPECT_TRUE(alerts->shown().isEmpty());
}

OVN_CATALOG_VENDORS(CatalogWindowImportTest);
