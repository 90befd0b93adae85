#include "CatalogWindowFixture.h"
#include "../support/ScriptedAlertPresenter.h"
#include "app/OVNViewerDocuments.h"
#include "browser/OVNMediaView.h"
#include "output/OVNDiscBurnerSheet.h"
#include "../support/TestEnvironment.h"
#include "output/OVNOutputSheets.h"
#include "platform/UserDefaults.h"
#include "viewers/OVNCoreImageAdjustWindow.h"
#include "viewers/OVNCoreImageView.h"
#include "viewers/OVNImageViewer.h"
#include "viewers/OVNSlideShow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

// A collection "Shown" of three files on disk and a collection "Half" of one file on disk and
// one that is gone.
class OutputActionsTest : public CatalogWindowFixture
{
protected:
    void SetUp() override
    {
        if (!setUpWithAlerts())
            return;
        shown = category("Shown", "C");
        half = category("Half", "C");
        add(shown, "a.jpg", true);
        add(shown, "b.jpg", true);
        add(shown, "c.jpg", true, 6);
        add(half, "here.jpg", true);
        add(half, "gone.jpg", false);
    }
    void TearDown() override
    {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (qobject_cast<QDialog *>(widget))
                delete widget;
        tearDownWithAlerts();
    }
    void add(const QString &categoryId, const char *name, bool onDisk, int orientation = 0)
    {
        const QString path = files.filePath(QString::fromUtf8(name));
        if (onDisk) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        QVariantMap record = importRecord(categoryId, QString::fromUtf8(name));
        record.insert("absolutepath", path);
        record.insert("Orientation", orientation);
        ASSERT_FALSE(db.addMediaListEntry(record).isEmpty()) << qPrintable(db.getLastErrorMessage());
    }
    template <typename Sheet>
    QList<Sheet *> sheets(OVNAssetManager *window)
    {
        return window->mediaView()->window()->findChildren<Sheet *>();
    }

    QTemporaryDir files;
    QString shown, half;
};

OVN_CATALOG_VENDORS(OutputActionsTest);

TEST_P(OutputActionsTest, HandOffRefusesMissingFilesAndTakesTheShownRecords)
{
    OVNAssetManager *window = loadWindow();
    ASSERT_TRUE(window->selectCategory(half));
    OVNMediaView *view = window->mediaView();
    view->selectRow(0);
    view->selectRow(1);
    window->buttonExportImagesClick();
    window->buttonPublishToWebClick();
    ASSERT_EQ(presenter->shown().size(), 2); // one alert per action
    EXPECT_EQ(presenter->shown()[0].message, QStringLiteral("Media file not found."));
    EXPECT_TRUE(sheets<OVNExportImagesSheet>(window).isEmpty());
    EXPECT_TRUE(sheets<OVNPublishToWebSheet>(window).isEmpty());

    ASSERT_TRUE(window->selectCategory(shown));
    const std::optional<OVNAssetManager::OutputHandOff> handOff = window->outputHandOff();
    ASSERT_TRUE(handOff);
    EXPECT_EQ(handOff->records.size(), 3);
    EXPECT_EQ(handOff->pageTitle, QStringLiteral("Shown"));
    window->buttonExportImagesClick();
    ASSERT_EQ(sheets<OVNExportImagesSheet>(window).size(), 1);
    EXPECT_EQ(sheets<OVNExportImagesSheet>(window)[0]->files().size(), 3);
    window->buttonPublishToWebClick();
    ASSERT_EQ(sheets<OVNPublishToWebSheet>(window).size(), 1);
    EXPECT_EQ(sheets<OVNPublishToWebSheet>(window)[0]->pageTitle(), QStringLiteral("Shown"));
    EXPECT_EQ(presenter->shown().size(), 2);
}

// A printed sheet's options and paper are where the next window's print starts.
TEST_P(OutputActionsTest, TheNextPrintStartsWithTheLastOptionsAndPaper)
{
    UserDefaults::standard().removeObjectForKey(QStringLiteral("PrintSettings"));
    OVNAssetManager *window = loadWindow();
    ASSERT_TRUE(window->selectCategory(shown));
    OVNMediaView *view = window->mediaView();
    view->setPrintImagesPerLine(3);
    view->setPrintStyle(1);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(files.filePath(QStringLiteral("sheet.pdf")));
    printer.setPageSize(QPageSize(QPageSize::A5));
    printer.setPageOrientation(QPageLayout::Landscape);
    ASSERT_TRUE(window->printContactSheet(printer));

    OVNAssetManager *next = loadWindow();
    ASSERT_TRUE(next->selectCategory(shown));
    EXPECT_EQ(next->mediaView()->printImagesPerLine(), 3);
    EXPECT_EQ(next->mediaView()->printStyle(), 1);
    EXPECT_FALSE(next->mediaView()->printSelectionOnly());
    EXPECT_EQ(next->mediaView()->printInfo().pageSize().id(), QPageSize::A5);
    EXPECT_EQ(next->mediaView()->printInfo().orientation(), QPageLayout::Landscape);
    UserDefaults::standard().removeObjectForKey(QStringLiteral("PrintSettings"));
}

// The bar above a category set's thumbnails: its buttons publish and burn what the set holds, and
// its action button pops up the category menu.
TEST_P(OutputActionsTest, TheCategorySetBarPublishesAndBurnsTheSet)
{
    const QString set = category("Best", "S");
    for (const auto &entry : db.getMediaList(shown))
        ASSERT_FALSE(db.addEntryToImageSet(entry->value("mid").toString(), set).isEmpty());
    OVNAssetManager *window = loadWindow();
    window->show();
    ASSERT_TRUE(window->selectCategory(set));
    ASSERT_EQ(window->mediaView()->count(), 3);
    for (const char *name : {"tvsetButtonAction_", "tvsetButtonPublish_", "tvsetButtonBurn_"}) {
        auto *button = window->findChild<QPushButton *>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_TRUE(button->isVisible()) << name;
    }
    window->findChild<QPushButton *>("tvsetButtonPublish_")->click();
    ASSERT_EQ(sheets<OVNPublishToWebSheet>(window).size(), 1);
    EXPECT_EQ(sheets<OVNPublishToWebSheet>(window)[0]->pageTitle(), QStringLiteral("Best"));
    window->findChild<QPushButton *>("tvsetButtonBurn_")->click();
    EXPECT_EQ(sheets<OVNDiscBurnerSheet>(window).size(), 1);
    // The bar goes with the set.
    ASSERT_TRUE(window->selectCategory(shown));
    EXPECT_FALSE(window->findChild<QPushButton *>("tvsetButtonPublish_")->isVisible());
}

// Page Setup's choice is the paper of the window's next sheet; Cancel leaves the paper as it was.
TEST_P(OutputActionsTest, PageSetupChoosesThePaperOfTheNextSheet)
{
    OVNAssetManager *window = loadWindow();
    ASSERT_TRUE(window->selectCategory(shown));
    const QPageLayout::Orientation before = window->mediaView()->printInfo().orientation();
    const QPageLayout::Orientation other = before == QPageLayout::Landscape ? QPageLayout::Portrait
                                                                            : QPageLayout::Landscape;
    for (const bool ok : {false, true}) {
        bool clicked = false;
        // The user, once the panel is up: the other orientation, then OK or Cancel.
        QTimer::singleShot(0, window, [&] {
            auto *panel = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!panel)
                return;
            if (auto *button =
                    panel->findChild<QRadioButton *>(other == QPageLayout::Landscape ? "landscape" : "portrait")) {
                button->click();
                clicked = true;
            }
            ok ? panel->accept() : panel->reject();
        });
        EXPECT_EQ(window->runPageLayout(), ok);
        EXPECT_TRUE(clicked);
        EXPECT_EQ(window->mediaView()->printInfo().orientation(), ok ? other : before) << ok;
    }
}

// The print panel proposes the file the last sheet was printed to, unless its folder has gone.
TEST_P(OutputActionsTest, ThePrintPanelProposesTheLastOutputFileWhileItsFolderIsThere)
{
    struct Case {
        const char *name;
        QString folder;    // where the sheet is printed, under the test's folder
        bool removeFolder; // the folder is gone before the next print
        bool proposed;
    };
    const QList<Case> cases{
        {"the test's folder", QString(), false, true},
        {"a folder of its own", QStringLiteral("sheets"), false, true},
        {"a folder removed since", QStringLiteral("gone"), true, false},
    };
    for (const Case &c : cases) {
        UserDefaults::standard().removeObjectForKey(QStringLiteral("PrintSettings"));
        const QString folder = files.filePath(c.folder);
        ASSERT_TRUE(QDir().mkpath(folder)) << c.name;
        const QString file = QDir(folder).filePath(QStringLiteral("contact sheet.pdf"));
        OVNAssetManager *window = loadWindow();
        ASSERT_TRUE(window->selectCategory(shown)) << c.name;
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
        ASSERT_TRUE(window->printContactSheet(printer)) << c.name;
        if (c.removeFolder) {
            ASSERT_TRUE(QDir(folder).removeRecursively()) << c.name;
        }

        OVNAssetManager *next = loadWindow();
        ASSERT_TRUE(next->selectCategory(shown)) << c.name;
        QPrinter again(QPrinter::HighResolution);
        next->setUpPrinter(again);
        EXPECT_EQ(again.outputFileName(), c.proposed ? file : QString()) << c.name;
    }
    UserDefaults::standard().removeObjectForKey(QStringLiteral("PrintSettings"));
}

// The play action's slide show: the shown entries, or the selected ones in selection order, each
// with its stored orientation; nothing without exactly one category.
TEST_P(OutputActionsTest, PlayShowsTheShownOrSelectedEntriesWithTheirOrientation)
{
    OVNAssetManager *window = loadWindow();
    auto startedShow = [&]() -> QList<OVNSlideShow::Slide> {
        window->buttonPlayClick();
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *screen = qobject_cast<OVNFullScreenWindow *>(widget);
            auto *show = screen ? dynamic_cast<OVNSlideShow *>(screen->delegate()) : nullptr;
            if (show && show->isRunning()) {
                const QList<OVNSlideShow::Slide> slides = show->slides();
                show->stopSlideShow();
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                return slides;
            }
        }
        return {};
    };
    auto described = [](const QList<OVNSlideShow::Slide> &slides) {
        QStringList text;
        for (const OVNSlideShow::Slide &slide : slides)
            text << QStringLiteral("%1:%2").arg(QFileInfo(slide.path).fileName()).arg(slide.orientation);
        return text.join(' ');
    };
    ASSERT_TRUE(window->selectCategory(shown));
    EXPECT_EQ(described(startedShow()), QStringLiteral("a.jpg:0 b.jpg:0 c.jpg:6"));
    window->mediaView()->selectRow(2);
    window->mediaView()->selectRow(0);
    EXPECT_EQ(described(startedShow()), QStringLiteral("c.jpg:6 a.jpg:0"));
    window->deselectAllCategories();
    EXPECT_TRUE(startedShow().isEmpty());
    ASSERT_EQ(presenter->shown().size(), 1);
    EXPECT_EQ(presenter->shown()[0].message, QStringLiteral("Slideshow cannot start"));
}

// On a catalog without users an adjustment window lives as long as its own window: it exports after
// the catalog window it came from was closed, opened from that window or from the image viewer,
// without an alert.
TEST_P(OutputActionsTest, AnAdjustmentWindowWithoutUsersExportsAfterItsCatalogWindowClosed)
{
    const QString pictures = category("Pictures", "C");
    const QString path = files.filePath("picture.jpg");
    QImage image(48, 32, QImage::Format_RGB32);
    image.fill(Qt::darkYellow);
    ASSERT_TRUE(image.save(path, "JPEG"));
    QVariantMap record = importRecord(pictures, "picture.jpg");
    record.insert("absolutepath", path);
    ASSERT_FALSE(db.addMediaListEntry(record).isEmpty()) << qPrintable(db.getLastErrorMessage());
    OVNCoreImageAdjustWindow::installFactory();
    OVNImageViewerDocuments viewers;
    OVNViewerDocuments::setShared(&viewers);
    const auto adjustWindow = []() -> QPointer<OVNCoreImageAdjustWindow> {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *adjust = qobject_cast<OVNCoreImageAdjustWindow *>(widget))
                return adjust;
        return nullptr;
    };
    using Open = std::function<void(OVNAssetManager *)>;
    const struct {
        const char *name;
        Open open;
    } cases[] = {
        {"from the catalog window", [](OVNAssetManager *w) { w->menuAdjust(); }},
        {"from the image viewer",
         [&](OVNAssetManager *w) {
             w->openMedia(w->mediaView(), 0, QString());
             ASSERT_EQ(viewers.documents().size(), 1);
             OVNImageViewer *viewer = viewers.documents().first();
             ASSERT_TRUE(processEventsUntil([&] { return viewer->isLoaded(); }, waitCeilingMs));
             viewer->menuAdjust();
             delete viewer;
         }},
    };
    int run = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        OVNAssetManager *window = loadWindow();
        ASSERT_TRUE(window->selectCategory(pictures));
        window->mediaView()->selectRow(0);
        ASSERT_NO_FATAL_FAILURE(c.open(window));
        const QPointer<OVNCoreImageAdjustWindow> adjust = adjustWindow();
        ASSERT_TRUE(adjust);
        ASSERT_TRUE(processEventsUntil([&] { return adjust->preview()->hasImage(); }, waitCeilingMs));
        closeWindows();
        const QString target = files.filePath(QStringLiteral("adjusted%1.jpg").arg(++run));
        EXPECT_TRUE(adjust->exportImage(target, OVNCoreImageAdjustWindow::ExportFormat::Jpeg, 90));
        EXPECT_TRUE(QFileInfo::exists(target));
        EXPECT_TRUE(presenter->shown().isEmpty()) << qPrintable(presenter->shown().value(0).message);
        delete adjust.data();
    }
    OVNViewerDocuments::setShared(nullptr);
    OVNCoreImageAdjust::setFactory(nullptr);
}

TEST_P(OutputActionsTest, GroupAndUngroup)
{
    OVNAssetManager *window = loadWindow();
    ASSERT_TRUE(window->selectCategory(shown));
    OVNMediaView *view = window->mediaView();
    view->selectRow(0);
    view->selectRow(1);
    window->buttonGroupClick();
    EXPECT_EQ(view->numberOfSelectedRows(), 0);
    view->selectRow(0);
    EXPECT_GE(view->selectedGroup(), 0);
    window->buttonUngroupClick();
    view->deselectAll();
    view->selectRow(0);
    EXPECT_LT(view->selectedGroup(), 0);
}

TEST(OutputSheetsTest, SizeChoiceSetsWhichControlsServe)
{
    OVNExportImagesSheet sheet;
    const struct {
        int index;
        bool caption;
        bool sizeField, author, captionSwitch;
    } cases[] = {
        {6, true, false, false, false}, {4, true, true, true, true},    {4, false, true, false, true},
        {2, true, false, true, true},   {0, false, false, false, true},
    };
    for (const auto &c : cases) {
        sheet.watermarkSwitch()->setChecked(c.caption);
        sheet.sizeSelector()->setCurrentIndex(c.index);
        sheet.sizeChanged();
        EXPECT_EQ(sheet.sizeField()->isEnabled(), c.sizeField) << c.index;
        EXPECT_EQ(sheet.watermarkAuthor()->isEnabled(), c.author) << c.index;
        EXPECT_EQ(sheet.watermarkSwitch()->isEnabled(), c.captionSwitch) << c.index;
    }
}
