#include "CatalogFixture.h"

#include "app/OVNAssetManager.h"
#include "browser/OVNMediaDetailsDataSource.h"
#include "browser/OVNMediaView.h"
#include "import/OVNImportMedia.h"
#include "platform/Alert.h"

#include "../support/ScriptedAlertPresenter.h"
#include "../support/TestEnvironment.h"

#include <QFile>
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
    // A camera's picture, when the shared files are here, for the Meta Data tab.
    const bool camera = !testDataDir().isEmpty();
    if (camera) {
        ASSERT_TRUE(QFile::copy(testDataDir() + QStringLiteral("/metadata-extractor-images/jpg/Canon EOS 7D.jpg"),
                                files.filePath(QStringLiteral("camera.jpg"))));
    }
    const int count = camera ? 4 : 3;

    window = new OVNAssetManager;
    window->setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess>(openAnother()));
    window->windowControllerDidLoadNib();
    ASSERT_TRUE(window->selectCategory(collection));
    ASSERT_EQ(window->mediaView()->count(), 0);

    window->importFiles({files.path()}, collection);
    EXPECT_TRUE(window->findChild<OVNImportMedia *>() != nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return window->mediaView()->count() == count; }, 60000));
    EXPECT_TRUE(processEventsUntil([&] { return window->findChild<OVNImportMedia *>() == nullptr; }));
    EXPECT_EQ(db.getMediaList(collection).size(), count);
    EXPECT_TRUE(alerts->shown().isEmpty());

    // The details pane's Meta Data rows are the tags the import stored with the entry.
    if (camera) {
        OVNMediaView *view = window->mediaView();
        for (int row = 0; row < view->count(); ++row) {
            if (view->mediaObject(QStringLiteral("displaytag"), row).toString() == QLatin1String("camera.jpg"))
                view->selectImage(row);
        }
        view->notifySelectionDidChange();
        OVNMediaDetailsDataSource *source = window->detailsDataSource();
        QMap<QString, QString> shown;
        for (int row = 0; row < source->numberOfRowsInExifForOVNMediaDetails(window->mediaDetails()); ++row)
            shown.insert(source->ovnMediaDetailsExifTagAtRow(window->mediaDetails(), row),
                         source->ovnMediaDetailsExifValueAtRow(window->mediaDetails(), row));
        EXPECT_EQ(shown.value(QStringLiteral("CameraModel")), QStringLiteral("Canon EOS 7D"));
        EXPECT_EQ(shown.value(QStringLiteral("ISOequivalent")), QStringLiteral("200"));
    }
}

OVN_CATALOG_VENDORS(CatalogWindowImportTest);
