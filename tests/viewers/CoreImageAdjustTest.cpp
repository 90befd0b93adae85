#include "formats/SyntheticDng.h"
#include "platform/UserDefaults.h"
#include "uikit/BundleImage.h"
#include "uikit/CustomView.h"
#include "support/ScriptedAlertPresenter.h"
#include "viewers/OVNCoreImageAdjustWindow.h"
#include "viewers/OVNCoreImageView.h"
#include "viewers/OVNImageView.h"
#include "viewers/OVNImageViewer.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QSlider>
#include <QFileDialog>
#include <QDialog>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QHash>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

using W = OVNCoreImageAdjustWindow;

QImage picture(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(x * 255 / w, y * 255 / h, 100, 255));
    return image;
}

void mouse(QWidget *view, QEvent::Type type, QPointF at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, view->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                      Qt::NoModifier);
    QApplication::sendEvent(view, &event);
}

void drag(QWidget *view, QPointF from, QPointF to)
{
    mouse(view, QEvent::MouseButtonPress, from);
    mouse(view, QEvent::MouseMove, (from + to) / 2);
    mouse(view, QEvent::MouseMove, to);
    mouse(view, QEvent::MouseButtonRelease, to);
}

// The compression tag of a little-endian TIFF's first directory, or 0.
int tiffCompression(const QByteArray &bytes)
{
    if (!bytes.startsWith("II") || bytes.size() < 8)
        return 0;
    const quint32 ifd = qFromLittleEndian<quint32>(bytes.constData() + 4);
    if (qint64(ifd) + 2 > bytes.size())
        return 0;
    const int count = qFromLittleEndian<quint16>(bytes.constData() + ifd);
    for (int i = 0; i < count && qint64(ifd) + 2 + 12 * (i + 1) <= bytes.size(); ++i) {
        const char *entry = bytes.constData() + ifd + 2 + 12 * i;
        if (qFromLittleEndian<quint16>(entry) == 259)
            return qFromLittleEndian<quint16>(entry + 8);
    }
    return 0;
}

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<UserDefaults> defaults;
    Fixture()
    {
        QFile plist(dir.filePath(QStringLiteral("CoreImageAdjustPresets.plist")));
        EXPECT_TRUE(plist.open(QIODevice::WriteOnly));
        plist.write(R"((
            { Title = "Straight"; Type = Setting; Settings = { ciexposure = "1.25"; cistraighten = "4.5"; }; },
            { Title = "Hidden"; Type = Other; Settings = { ciexposure = "3"; }; },
            { Title = "Sparse"; Type = Setting; Settings = { cigamma = "2"; cisepia = "-9999"; }; }
        ))");
        plist.close();
        qputenv("OVN_RESOURCES_DIR", dir.path().toUtf8());
        defaults = std::make_unique<UserDefaults>(dir.filePath(QStringLiteral("prefs.plist")));
    }
    ~Fixture() { qunsetenv("OVN_RESOURCES_DIR"); }
    W *window()
    {
        auto *w = new W(*defaults);
        w->resize(900, 600);
        return w;
    }
};

QStringList popUpTitles(const QComboBox *popUp)
{
    QStringList titles;
    for (int i = 0; i < popUp->count(); ++i)
        titles.append(popUp->itemText(i).isEmpty() ? QStringLiteral("-") : popUp->itemText(i));
    return titles;
}

} // namespace

TEST(OVNCoreImageAdjustTest, SlidersFieldsAndTurns)
{
    Fixture f;
    QPointer<W> w = f.window();
    const struct {
        W::Control control;
        double value;
        const char *text;
    } starts[] = {{W::Exposure, 0, "0.0"},   {W::Gamma, 0.75, "0.75"},    {W::Brightness, 0, "0.0"},
                  {W::Contrast, 100, "100"}, {W::Saturation, 100, "100"}, {W::Temperature, 100, "100"},
                  {W::Tint, 0, "0.0"},       {W::Sepia, 0, "0.0"},        {W::Sharpness, 0, "0.0"},
                  {W::Straighten, 0, "0.0"}};
    for (const auto &s : starts) {
        EXPECT_TRUE(qobject_cast<CustomView *>(w->slider(s.control)->parentWidget()))
            << s.text << ": the controls are not on the light-grey panel";
        EXPECT_EQ(w->sliderValue(s.control), s.value) << s.text;
        EXPECT_EQ(w->fieldText(s.control), QLatin1String(s.text));
    }
    // One slider move rewrites every field with one decimal; gamma's slider keeps its exact value.
    w->moveSlider(W::Exposure, 1.37);
    EXPECT_EQ(w->fieldText(W::Gamma), QStringLiteral("0.8"));
    EXPECT_EQ(w->sliderValue(W::Gamma), 0.75);
    EXPECT_EQ(w->fieldText(W::Exposure), QStringLiteral("1.4"));
    EXPECT_EQ(w->preview()->values().exposure, 1.37);

    // Typed values: C-locale numbers only; anything else is 0; the slider's range holds.
    const struct {
        W::Control control;
        const char *typed;
        double value;
    } typed[] = {{W::Exposure, "-0.5", -0.5},     {W::Exposure, "abc", 0},        {W::Exposure, "1,5", 0},
                 {W::Exposure, "99", 5},          {W::Tint, " 2.0 ", 2.0},        {W::Gamma, "x", 0.1},
                 {W::Contrast, "150.25", 150.25}, {W::Straighten, "-12.5", -12.5}};
    for (const auto &t : typed) {
        w->typeValue(t.control, QLatin1String(t.typed));
        EXPECT_EQ(w->sliderValue(t.control), t.value) << t.typed;
        EXPECT_EQ(w->fieldText(t.control), QLatin1String(t.typed));
    }
    EXPECT_EQ(w->preview()->values().tint, 2.0);
    EXPECT_EQ(w->preview()->values().straighten, -12.5);
    EXPECT_EQ(w->preview()->values().contrast, 150.25);

    // A picture from the image viewer: start turn as given, sliders reset, title and name unchanged.
    const struct {
        int code;
        int rotation;
    } turns[] = {{0, 0}, {1, 0}, {6, 90}, {3, 180}, {8, 270}, {9, 0}};
    for (const auto &t : turns) {
        w->setOnLoadOrientation(t.code);
        w->setImage(picture(40, 20));
        EXPECT_EQ(w->preview()->rotation(), t.rotation) << t.code;
        EXPECT_EQ(w->fieldText(W::Exposure), QStringLiteral("0.0"));
    }
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Adjust Image"));
    EXPECT_TRUE(w->fileName().isEmpty());
    w->setOnLoadRotation(0);
    w->setImage(picture(40, 20));
    for (int i = 0; i < 4; ++i)
        w->menuRotateRight();
    EXPECT_EQ(w->preview()->rotation(), 0);
    w->menuRotateLeft();
    EXPECT_EQ(w->preview()->rotation(), 270);
    ASSERT_TRUE(w->preview()->waitForPreview());
    EXPECT_EQ(w->preview()->displayedImage().size(), QSize(20, 40)); // small: shown at 1.0
    w->close();
}

TEST(OVNCoreImageAdjustTest, SelectionEdgesCropAndRevert)
{
    OVNCoreImageView view;
    view.resize(200, 200);
    view.setCoreImage(picture(400, 200)); // shown at 0.5: 200 x 100 from y 50
    ASSERT_TRUE(view.waitForPreview());
    EXPECT_DOUBLE_EQ(view.zoomFactor(), 0.5);
    EXPECT_EQ(view.imageOrigin(), QPointF(0, 50));

    // A click is no selection, and cropping does nothing.
    drag(&view, {30, 80}, {30, 80});
    EXPECT_FALSE(view.hasSelection());
    EXPECT_FALSE(view.cropImage());

    drag(&view, {20, 60}, {120, 120});
    EXPECT_EQ(view.edgeAt({120.5, 90}), 2);
    EXPECT_EQ(view.edgeAt({90, 59.5}), 3);
    EXPECT_EQ(view.edgeAt({70, 90}), 0);
    // Pressing on the right edge moves it, wherever the drag goes; pressing inside starts anew.
    drag(&view, {120.5, 90}, {160, 10});
    EXPECT_EQ(view.selectionFirst(), QPointF(20, 60));
    EXPECT_EQ(view.selectionSecond(), QPointF(160, 120));
    // The top edge dragged above the picture: clamped to its edge when cropping.
    drag(&view, {90, 60}, {90, 20});
    EXPECT_EQ(view.selectionFirst(), QPointF(20, 20));
    ASSERT_TRUE(view.cropImage());
    ASSERT_TRUE(view.waitForPreview());
    EXPECT_FALSE(view.hasSelection());
    // x 20..160 -> 40..320 in the picture; y clamped to 0 .. (120 - 50) / 0.5.
    EXPECT_EQ(view.renderedImage().size(), QSize(280, 140));

    // A second crop keeps the first picture to revert to, with its turn and straighten.
    view.setRotation(90);
    view.setUserRotation(0);
    view.updateFilter();
    drag(&view, {0, 0}, {300, 300});
    ASSERT_TRUE(view.cropImage());
    EXPECT_EQ(view.rotation(), 0);
    view.revertCropImage();
    EXPECT_EQ(view.renderedImage().size(), QSize(400, 200));
    EXPECT_EQ(view.rotation(), 0);
    EXPECT_FALSE(view.canRevert());

    // Through the window: crop sets straighten to 0; revert brings it back to slider and field.
    Fixture f;
    QPointer<W> w = f.window();
    w->setImage(picture(400, 200));
    w->moveSlider(W::Straighten, 10);
    w->preview()->setSelection({0, 0}, {1000, 1000});
    w->menuCropImage();
    EXPECT_EQ(w->sliderValue(W::Straighten), 0);
    EXPECT_EQ(w->fieldText(W::Straighten), QStringLiteral("0.0"));
    w->menuRevertCropImage();
    EXPECT_EQ(w->sliderValue(W::Straighten), 10);
    EXPECT_EQ(w->fieldText(W::Straighten), QStringLiteral("10.0"));
    EXPECT_EQ(w->preview()->values().straighten, 10);
    w->close();
}

TEST(OVNCoreImageAdjustTest, PresetsPopUpSaveApplyDelete)
{
    Fixture f;
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    QPointer<W> w = f.window();
    QComboBox *popUp = w->presetPopUp();
    EXPECT_EQ(popUpTitles(popUp), (QStringList{"Manual Adjustment", "-", "Straight", "Sparse", "-",
                                               "Delete selected preset...", "Save settings as..."}));
    EXPECT_EQ(popUp->currentIndex(), 0);

    // A built-in preset sets straighten too; a missing key or -9999 leaves the slider alone.
    w->presetsChanged(2);
    EXPECT_EQ(w->sliderValue(W::Exposure), 1.25);
    EXPECT_EQ(w->sliderValue(W::Straighten), 4.5);
    EXPECT_EQ(w->fieldText(W::Gamma), QStringLiteral("0.8"));
    w->moveSlider(W::Sepia, 0.4);
    w->presetsChanged(3);
    EXPECT_EQ(w->sliderValue(W::Gamma), 2.0);
    EXPECT_EQ(w->sliderValue(W::Sepia), 0.4);
    EXPECT_EQ(w->sliderValue(W::Exposure), 1.25);

    // Saving: exact values (gamma 0.75 stays "0.75"), nine keys, the new item selected by
    // identity even when its title is taken.
    w->resetSlider();
    w->moveSlider(W::Saturation, 123.4);
    for (int i = 0; i < 2; ++i) {
        w->presetsChanged(popUp->count() - 1);
        EXPECT_EQ(w->saveTitleField()->text(), QStringLiteral("untitled"));
        w->saveTitleField()->setText(QStringLiteral("Mine"));
        w->saveSettingsButtonPressed(true);
    }
    EXPECT_EQ(popUpTitles(popUp), (QStringList{"Manual Adjustment", "-", "Straight", "Sparse", "-", "Mine", "Mine", "-",
                                               "Delete selected preset...", "Save settings as..."}));
    EXPECT_EQ(popUp->currentIndex(), 6);
    UserDefaults reread(f.dir.filePath(QStringLiteral("prefs.plist")));
    const QVariantList stored = reread.arrayForKey(QStringLiteral("CoreImageAdjustUserPresets"));
    ASSERT_EQ(stored.size(), 2);
    const QVariantMap settings = stored.at(0).toMap().value(QStringLiteral("Settings")).toMap();
    EXPECT_EQ(settings.size(), 9);
    EXPECT_EQ(settings.value(QStringLiteral("cigamma")).toString(), QStringLiteral("0.75"));
    EXPECT_EQ(settings.value(QStringLiteral("cisaturation")).toString(), QStringLiteral("123.4"));
    EXPECT_FALSE(settings.contains(QStringLiteral("cistraighten")));
    EXPECT_EQ(stored.at(0).toMap().value(QStringLiteral("Creator")).toString(), QStringLiteral("User"));

    // Cancelling the delete re-selects the preset; confirming removes it and shows Manual Adjustment.
    const int deleteItem = popUp->count() - 2;
    alerts->enqueueAnswers({1, 0});
    w->presetsChanged(deleteItem);
    EXPECT_EQ(popUp->currentIndex(), 6);
    w->presetsChanged(deleteItem);
    EXPECT_EQ(popUp->currentIndex(), 0);
    EXPECT_EQ(popUpTitles(popUp).count(QStringLiteral("Mine")), 1);
    EXPECT_EQ(UserDefaults(f.dir.filePath(QStringLiteral("prefs.plist")))
                  .arrayForKey(QStringLiteral("CoreImageAdjustUserPresets"))
                  .size(),
              1);
    // A built-in preset cannot be deleted, and stays selected.
    w->presetsChanged(2);
    w->presetsChanged(popUp->count() - 2);
    EXPECT_EQ(popUp->currentIndex(), 2);
    ASSERT_FALSE(alerts->shown().isEmpty());
    EXPECT_EQ(alerts->shown().last().message, QStringLiteral("Cannot delete preset"));
    EXPECT_TRUE(alerts->shown().at(0).message.startsWith(QStringLiteral("Delete Preset: Mine")));
    w->close();
}

TEST(OVNCoreImageAdjustTest, ExportsReadBackAndFailuresLeaveNothing)
{
    Fixture f;
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    QPointer<W> w = f.window();
    QImage image = picture(40, 30);
    image.setPixel(0, 0, qRgba(255, 255, 255, 0)); // transparent
    image.setPixel(1, 0, qRgba(0, 0, 0, 128));     // half
    w->setImage(image);

    const struct {
        const char *name;
        W::ExportFormat format;
        const char *written;
    } paths[] = {{"a.tiff", W::ExportFormat::Jpeg, "a.jpg"},  {"b.JPEG", W::ExportFormat::Jpeg, "b.JPEG"},
                 {"c", W::ExportFormat::Tiff, "c.tif"},       {"d.jpg", W::ExportFormat::Tiff, "d.tif"},
                 {"e.v1", W::ExportFormat::Jpeg, "e.v1.jpg"}, {"f.tif", W::ExportFormat::Tiff, "f.tif"}};
    for (const auto &p : paths)
        EXPECT_EQ(W::exportPath(QLatin1String(p.name), p.format), QLatin1String(p.written));

    ASSERT_TRUE(w->exportImage(f.dir.filePath(QStringLiteral("out.tiff")), W::ExportFormat::Jpeg, 95));
    const QImage jpeg(f.dir.filePath(QStringLiteral("out.jpg")));
    ASSERT_EQ(jpeg.size(), QSize(40, 30));
    EXPECT_FALSE(QFile::exists(f.dir.filePath(QStringLiteral("out.tiff"))));
    EXPECT_GT(qGray(jpeg.pixel(0, 0)), 215); // over white, as the thumbnails show it
    EXPECT_GT(qGray(jpeg.pixel(1, 0)), 90);  // half black over white, in sRGB
    EXPECT_LT(qGray(jpeg.pixel(1, 0)), 225);

    ASSERT_TRUE(w->exportImage(f.dir.filePath(QStringLiteral("out")), W::ExportFormat::Tiff, 10));
    QFile tiff(f.dir.filePath(QStringLiteral("out.tif")));
    ASSERT_TRUE(tiff.open(QIODevice::ReadOnly));
    EXPECT_EQ(tiffCompression(tiff.readAll()), 5); // LZW
    const QImage back = QImage(tiff.fileName()).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(back.pixel(5, 5), image.pixel(5, 5));
    EXPECT_EQ(qAlpha(back.pixel(1, 0)), 128);
    EXPECT_EQ(alerts->shown().size(), 0);

    const QString missing = f.dir.filePath(QStringLiteral("no/such/folder/x.jpg"));
    EXPECT_FALSE(w->exportImage(missing, W::ExportFormat::Jpeg, 80));
    ASSERT_EQ(alerts->shown().size(), 1);
    EXPECT_EQ(alerts->shown().at(0).message, QStringLiteral("Failed to save file"));
    EXPECT_EQ(QDir(f.dir.path()).entryList(QDir::Files).filter(QStringLiteral("x")).size(), 0);
    EXPECT_FALSE(QFile::exists(missing));
    w->close();

    // The next window's export panel starts where the last export went, with its options; a
    // failed export changed nothing.
    QPointer<W> next = f.window();
    next->setImage(image);
    next->menuExportImage();
    auto *panel = next->findChild<QFileDialog *>();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(QFileInfo(panel->directory().absolutePath()).canonicalFilePath(),
              QFileInfo(f.dir.path()).canonicalFilePath());
    QComboBox *format = nullptr;
    for (QComboBox *popUp : panel->findChildren<QComboBox *>())
        if (popUp->findText(QStringLiteral("JPEG")) >= 0)
            format = popUp;
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->currentText(), QStringLiteral("TIFF"));
    auto *quality = panel->findChild<QSlider *>();
    ASSERT_NE(quality, nullptr);
    EXPECT_EQ(quality->value(), 10);
    panel->reject();
    next->close();
}

TEST(OVNCoreImageAdjustTest, LoadsTurnedOrFailsWithTheSheet)
{
    Fixture f;
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    const QString good = f.dir.filePath(QStringLiteral("good.jpg"));
    ASSERT_TRUE(picture(60, 30).save(good, "JPEG"));
    const QString junk = f.dir.filePath(QStringLiteral("junk.jpg"));
    QFile file(junk);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();
    // A camera's RAW file comes whole, not reduced.
    const QString raw = f.dir.filePath(QStringLiteral("camera.dng"));
    syntheticdng::Options options;
    options.width = 256;
    options.height = 128;
    QFile rawFile(raw);
    ASSERT_TRUE(rawFile.open(QIODevice::WriteOnly));
    rawFile.write(syntheticdng::make(options));
    rawFile.close();

    for (const QString &path : {good, raw, junk}) {
        QPointer<W> w = f.window();
        w->setOnLoadOrientation(6);
        QEventLoop loop;
        bool loaded = false;
        QObject::connect(w, &W::imageLoaded, &loop, [&] {
            loaded = true;
            loop.quit();
        });
        QObject::connect(w, &W::loadFailed, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        w->loadImage(path);
        EXPECT_TRUE(w->preview()->showsLoadingTag());
        loop.exec();
        EXPECT_EQ(w->windowTitle(), QStringLiteral("Adjust Image - ") + QFileInfo(path).fileName());
        if (path != junk) {
            ASSERT_TRUE(loaded);
            EXPECT_FALSE(w->preview()->showsLoadingTag());
            EXPECT_EQ(w->preview()->rotation(), 90);
            EXPECT_EQ(w->preview()->renderedImage().size(), path == good ? QSize(30, 60) : QSize(128, 256));
            w->close();
        } else {
            EXPECT_FALSE(loaded);
            ASSERT_EQ(alerts->shown().size(), 1);
            EXPECT_EQ(alerts->shown().at(0).informativeText, QStringLiteral("The picture cannot be read."));
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(w.isNull());
    }
}

TEST(OVNCoreImageAdjustTest, ImageViewerAdjustOpensTheShownPicture)
{
    Fixture f;
    const QString path = f.dir.filePath(QStringLiteral("v.jpg"));
    ASSERT_TRUE(picture(80, 40).save(path, "JPEG"));
    QPointer<OVNImageViewer> viewer = new OVNImageViewer;
    viewer->setOnLoadOrientation(8);
    QAction *adjust = viewer->toolbarAction(QStringLiteral("OVNImageViewer AdjustToolbarItemIdentifier"));
    ASSERT_TRUE(adjust);
    EXPECT_FALSE(adjust->isEnabled());
    QEventLoop loop;
    QObject::connect(viewer, &OVNImageViewer::pictureShown, &loop, [&](bool preview) {
        if (!preview)
            loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    viewer->loadAndShowFile(path);
    loop.exec();
    ASSERT_TRUE(adjust->isEnabled());
    viewer->menuRotateRight(); // now upright
    adjust->trigger();
    W *opened = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *w = qobject_cast<W *>(top); w && w->isVisible())
            opened = w;
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->preview()->rotation(), 0);
    EXPECT_EQ(opened->preview()->renderedImage().size(), QSize(80, 40));
    opened->close();
    viewer->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Every item of the image viewer's and the adjustment window's toolbars shows its own image.
TEST(OVNCoreImageAdjustTest, EveryToolbarItemOfBothWindowsShowsItsImage)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.plist")));
    QPointer<W> adjust = new W(defaults);
    QPointer<OVNImageViewer> viewer = new OVNImageViewer;
    const struct {
        QMainWindow *window;
        const char *identifier;
        const char *image;
    } items[] = {
        {viewer, "OVNImageViewer RotateLeftToolbarItemIdentifier", "tbRotateLeft"},
        {viewer, "OVNImageViewer RotateRightToolbarItemIdentifier", "tbRotateRight"},
        {viewer, "OVNImageViewer ActualSizeToolbarItemIdentifier", "tbActualSize"},
        {viewer, "OVNImageViewer ZoomToFitToolbarItemIdentifier", "tbZoomToFit"},
        {viewer, "OVNImageViewer FullResolutionToolbarItemIdentifier", "tbFullRes"},
        {viewer, "OVNImageViewer ZoomInToolbarItemIdentifier", "tbZoomIn"},
        {viewer, "OVNImageViewer ZoomOutToolbarItemIdentifier", "tbZoomOut"},
        {viewer, "OVNImageViewer AdjustToolbarItemIdentifier", "tbAdjust"},
        {adjust, "OVNCoreImageAdjust ExportToolbarItemIdentifier", "tbExport"},
        {adjust, "OVNCoreImageAdjust RotateLeftToolbarItemIdentifier", "tbRotateLeft"},
        {adjust, "OVNCoreImageAdjust RotateRightToolbarItemIdentifier", "tbRotateRight"},
        {adjust, "OVNCoreImageAdjust CropToolbarItemIdentifier", "tbCrop"},
        {adjust, "OVNCoreImageAdjust RevertCropToolbarItemIdentifier", "tbCrop"},
    };
    const auto pixels = [](const QImage &image) { return image.convertToFormat(QImage::Format_ARGB32); };
    QHash<QMainWindow *, int> counted;
    QHash<QString, QImage> byName;
    for (const auto &item : items) {
        const QString id = QString::fromLatin1(item.identifier);
        QAction *action = item.window == viewer.data() ? viewer->toolbarAction(id) : adjust->toolbarAction(id);
        ASSERT_TRUE(action) << item.identifier;
        const QImage image = BundleImage::imageNamed(QString::fromLatin1(item.image));
        ASSERT_FALSE(image.isNull()) << item.image;
        const QIcon icon = action->icon();
        ASSERT_FALSE(icon.isNull()) << item.identifier;
        EXPECT_EQ(pixels(icon.pixmap(icon.availableSizes().first()).toImage()), pixels(image)) << item.identifier;
        ++counted[item.window];
        byName.insert(QString::fromLatin1(item.image), pixels(image));
    }
    // The table names every item of both toolbars, and no two images are the same drawing.
    for (QMainWindow *window : {static_cast<QMainWindow *>(viewer.data()), static_cast<QMainWindow *>(adjust.data())}) {
        int shown = 0;
        for (QAction *action : window->findChild<QToolBar *>()->actions())
            shown += action->isSeparator() ? 0 : 1;
        EXPECT_EQ(shown, counted.value(window));
    }
    const QList<QImage> drawings = byName.values();
    for (qsizetype i = 0; i < drawings.size(); ++i)
        for (qsizetype j = i + 1; j < drawings.size(); ++j)
            EXPECT_NE(drawings[i], drawings[j])
                << byName.keys().at(i).toStdString() << byName.keys().at(j).toStdString();
    delete viewer.data();
    delete adjust.data();
}
