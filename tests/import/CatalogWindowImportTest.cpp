#include "CatalogFixture.h"

#include "app/OVNAssetManager.h"
#include "app/OVNDocumentController.h"
#include "browser/OVNMediaDetailsDataSource.h"
#include "browser/OVNMediaView.h"
#include "import/OVNImportMedia.h"
#include "import/OVNImportResultSheet.h"
#include "platform/Alert.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include "../support/ScriptedAlertPresenter.h"
#include "../support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QImage>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>

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
    ASSERT_TRUE(processEventsUntil([&] { return window->mediaView()->count() == count; }, waitCeilingMs));
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

// A record export written by hand in Mac OS Roman, with good records and refused ones: the new
// collection holds the good files, the result sheet lists both kinds with their counts, and the
// collection's reload is posted with its id.
TEST_P(CatalogWindowImportTest, RecordExportEndsWithTheResultSheet)
{
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    QTemporaryDir files;
    const QString card = files.filePath(QStringLiteral("vols/Card"));
    const QStringList good{card + QStringLiteral("/Shoots/Day 1/a.jpg"), card + QString::fromUtf8("/Shoots/Café.jpg")};
    for (const QString &path : good) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QImage image(120, 80, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        ASSERT_TRUE(image.save(path, "JPEG"));
    }
    QFile unknown(card + QStringLiteral("/Shoots/notes.zzq"));
    ASSERT_TRUE(unknown.open(QIODevice::WriteOnly));
    unknown.write("not a picture");
    unknown.close();
    qputenv("OVN_VOLUME_ROOTS", files.filePath(QStringLiteral("vols")).toUtf8());

    // "\x9a" is o-umlaut and "\x8e" e-acute in Mac OS Roman.
    const QByteArray exported = QByteArray("v5.0 Canto(r) Cumulus(r) Record Export\r\r"
                                           "Server Name\tVolume Name\tFolder Name\tAsset Name\tNotes\tSchlagw\x9arter\r"
                                           "%Data\r"
                                           "srv\tCard\tShoots:Day 1:\ta.jpg\tnote\tsun\r"
                                           "srv\tCard\tShoots\tCaf\x8e.jpg\t\t\tTrip\r"
                                           "srv\tCard\r"
                                           "srv\tCard\tShoots:..:..\tpasswd\t\t\r"
                                           "srv\tOther\tShoots\tb.jpg\t\t\r"
                                           "srv\tCard\tShoots\tgone.jpg\t\t\r"
                                           "srv\tCard\tShoots\tnotes.zzq\t\t\r");
    const QString exportPath = files.filePath(QStringLiteral("Holiday.txt"));
    QFile exportFile(exportPath);
    ASSERT_TRUE(exportFile.open(QIODevice::WriteOnly));
    exportFile.write(exported);
    exportFile.close();

    QStringList reloaded;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(&observer, QStringLiteral("OVNNotificationReloadCategory"),
                                                    [&](const QString &, const QVariantMap &info) {
                                                        reloaded << info.value(QStringLiteral("categoryid")).toString();
                                                    });
    window = new OVNAssetManager;
    window->setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess>(openAnother()));
    window->windowControllerDidLoadNib();
    const QString collection = window->categoryActions().importRecordExport(exportPath);
    ASSERT_FALSE(collection.isEmpty());
    ASSERT_TRUE(
        processEventsUntil([&] { return window->findChild<OVNImportResultSheet *>() != nullptr; }, waitCeilingMs));
    const OVNImportResultSheet *sheet = window->findChild<OVNImportResultSheet *>();
    qunsetenv("OVN_VOLUME_ROOTS");

    EXPECT_EQ(sheet->successTitle(), QStringLiteral("2 assets imported"));
    QStringList imported = sheet->successText().split(QLatin1Char('\n'));
    EXPECT_EQ(imported.takeLast(), QString()); // every path ends with a line feed
    imported.sort();
    QStringList expected = good;
    expected.sort();
    EXPECT_EQ(imported, expected);
    EXPECT_EQ(sheet->failureTitle(), QStringLiteral("5 assets failed"));
    const QStringList failed = sheet->failureText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(failed.size(), 5) << qPrintable(sheet->failureText());
    for (const char *part : {"line 7: ", "unsafe path", "/Other/Shoots/b.jpg: the volume Other is not mounted",
                             "/gone.jpg: ", "/notes.zzq: "})
        EXPECT_TRUE(sheet->failureText().contains(QString::fromUtf8(part))) << part;
    for (const QString &entry : failed)
        EXPECT_GT(entry.indexOf(QStringLiteral(": ")), 0) << qPrintable(entry); // each with its reason
    // The reasons are read without sideways scrolling.
    for (QPlainTextEdit *list : sheet->findChildren<QPlainTextEdit *>()) {
        list->window()->resize(560, 420);
        list->window()->show();
        QCoreApplication::processEvents();
        EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0) << qPrintable(list->toPlainText());
    }

    EXPECT_TRUE(alerts->shown().isEmpty());
    EXPECT_EQ(reloaded, QStringList{collection});
    QStringList names;
    for (const auto &entry : db.getMediaList(collection))
        names << entry->value(QStringLiteral("displaytag")).toString() + QLatin1Char('|')
                     + entry->value(QStringLiteral("shortdesc")).toString().trimmed();
    names.sort();
    EXPECT_EQ(names, (QStringList{QString::fromUtf8("Café.jpg|Trip"), QStringLiteral("a.jpg|")}));
    NotificationCenter::defaultCenter().removeObserver(&observer);
}

// The record export reached as a user does, from the File menu of a catalog window: its panel
// offers ".cre" files, and the new collection is named after the whole file name.
TEST_P(CatalogWindowImportTest, RecordExportFromTheFileMenuMakesACollectionNamedAfterTheFile)
{
    ScriptedAlertPresenter::install();
    QTemporaryDir files;
    const QString picture = files.filePath(QStringLiteral("vols/Card/Shoots/a.jpg"));
    QDir().mkpath(QFileInfo(picture).absolutePath());
    QImage image(120, 80, QImage::Format_RGB32);
    image.fill(Qt::darkBlue);
    ASSERT_TRUE(image.save(picture, "JPEG"));
    qputenv("OVN_VOLUME_ROOTS", files.filePath(QStringLiteral("vols")).toUtf8());

    window = new OVNAssetManager;
    window->setDatabaseConnection(std::shared_ptr<OVNDatabaseAccess>(openAnother()));
    OVNDocumentController controller(UserDefaults::standard());
    controller.populateMenuBar(window->menuBar());
    window->windowControllerDidLoadNib();
    QAction *item = nullptr;
    for (QAction *top : window->menuBar()->actions()) {
        if (top->menu() && top->menu()->title().remove(QLatin1Char('&')) == QLatin1String("File")) {
            for (QAction *candidate : top->menu()->actions())
                item = candidate->text() == QLatin1String("Import Record Export...") ? candidate : item;
        }
    }
    ASSERT_NE(item, nullptr);

    const struct {
        const char *file;
        const char *collection;
    } cases[] = {{"export.cre", "export.cre"}, {"Harbour 2024.v2.cre", "Harbour 2024.v2.cre"}, {"plain", "plain"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const QString exportPath = files.filePath(QString::fromUtf8(c.file));
        QFile exportFile(exportPath);
        ASSERT_TRUE(exportFile.open(QIODevice::WriteOnly));
        exportFile.write(
            "v5.0 Canto(r) Cumulus(r) Record Export\r\r"
            "Server Name\tVolume Name\tFolder Name\tAsset Name\tNotes\r%Data\rsrv\tCard\tShoots\ta.jpg\tnote\r");
        exportFile.close();

        window->refreshActions();
        EXPECT_TRUE(item->isEnabled());
        item->trigger();
        QFileDialog *panel = nullptr;
        for (QFileDialog *candidate : window->findChildren<QFileDialog *>())
            panel = candidate->isVisible() ? candidate : panel;
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->nameFilters(), QStringList{QStringLiteral("Record Exports (*.cre)")});
        EXPECT_EQ(panel->fileMode(), QFileDialog::ExistingFile);
        // What choosing the file and pressing Open hands on.
        emit panel->filesSelected({exportPath});
        panel->close();
        ASSERT_TRUE(
            processEventsUntil([&] { return window->findChild<OVNImportMedia *>() == nullptr; }, waitCeilingMs));
        delete window->findChild<OVNImportResultSheet *>();

        QStringList named;
        for (const CategoryNode &collection : db.getCategoryList(QStringLiteral("C"))) {
            if (collection.value(QStringLiteral("displaytag")).toString() == QLatin1String(c.collection))
                named.append(collection.value(QStringLiteral("mid")).toString());
        }
        ASSERT_EQ(named.size(), 1);
        const auto entries = db.getMediaList(named.first());
        ASSERT_EQ(entries.size(), 1);
        EXPECT_EQ(entries.first()->value(QStringLiteral("fulldesc")).toString().trimmed(), QStringLiteral("note"));
    }
    qunsetenv("OVN_VOLUME_ROOTS");
}

OVN_CATALOG_VENDORS(CatalogWindowImportTest);
