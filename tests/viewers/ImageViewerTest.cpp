#include "formats/SyntheticDng.h"
#include "support/ScriptedAlertPresenter.h"
#include "platform/UserDefaults.h"
#include "viewers/OVNAdjustChain.h"
#include "viewers/OVNImageLoader.h"
#include "viewers/OVNImageView.h"
#include "viewers/OVNImageViewer.h"
#include "viewers/OVNZoomPanel.h"
#include "uikit/OVNTransparentView.h"

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPointer>
#include <QSlider>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>

namespace {

const QString kFullRes = QStringLiteral("OVNImageViewer FullResolutionToolbarItemIdentifier");

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QByteArray jpeg(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::blue);
    image.setPixel(0, 0, qRgb(255, 0, 0));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return bytes;
}

// `jpeg` with an Exif segment whose first directory holds only the orientation.
QByteArray withExifOrientation(const QByteArray &jpeg, quint16 code)
{
    QByteArray payload("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 24);
    payload.append(char(code & 0xff)).append(char(code >> 8)).append(QByteArray(6, '\0'));
    const int length = int(payload.size()) + 2;
    QByteArray segment("\xff\xe1", 2);
    segment.append(char(length >> 8)).append(char(length & 0xff)).append(payload);
    return jpeg.left(2) + segment + jpeg.mid(2);
}

// Runs the loop until the viewer shows its whole picture (true) or fails (false).
bool waitForLoad(OVNImageViewer *viewer)
{
    QEventLoop loop;
    bool ok = false;
    QObject::connect(viewer, &OVNImageViewer::pictureShown, &loop, [&](bool preview) {
        if (!preview) {
            ok = true;
            loop.quit();
        }
    });
    QObject::connect(viewer, &OVNImageViewer::loadFailed, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return ok;
}

OVNImageViewer *openViewer(const QString &path, int orientation, QSize size = QSize(800, 600))
{
    auto *viewer = new OVNImageViewer;
    viewer->resize(size);
    viewer->setOnLoadOrientation(orientation);
    viewer->loadAndShowFile(path);
    return viewer;
}

} // namespace

TEST(OVNImageViewerTest, OpensTurnedAndZooms)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("picture.jpg"), jpeg(QSize(400, 300)));
    // Small enough for a window that fits the screen to show it at more than twice its size.
    const QString small = writeFile(dir, QStringLiteral("small.jpg"), jpeg(QSize(200, 150)));
    const struct {
        int code;
        int rotation;
    } cases[] = {{0, 0}, {1, 0}, {3, 180}, {6, 90}, {8, 270}, {9, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        QPointer<OVNImageViewer> viewer = openViewer(small, c.code, QSize(700, 520));
        EXPECT_TRUE(viewer->imageView()->showsLoadingTag());
        ASSERT_TRUE(waitForLoad(viewer));
        OVNImageView *view = viewer->imageView();
        EXPECT_EQ(view->rotation(), c.rotation);
        EXPECT_EQ(view->image().size(), QSize(200, 150));
        EXPECT_FALSE(view->showsLoadingTag());
        // An ordinary image is whole once loaded: nothing more to load.
        EXPECT_FALSE(viewer->toolbarAction(kFullRes)->isEnabled());
        // Fit is capped at 2.0, and Zoom In starts from it.
        EXPECT_FLOAT_EQ(view->effectiveFactor(), 2.0f);
        viewer->menuZoomIn();
        EXPECT_FLOAT_EQ(view->zoomFactor(), 2.5f);
        viewer->close();
    }
    QPointer<OVNImageViewer> viewer = openViewer(path, 1);
    ASSERT_TRUE(waitForLoad(viewer));
    viewer->menuActualSize();
    viewer->menuZoomIn();
    viewer->menuZoomIn();
    EXPECT_FLOAT_EQ(viewer->imageView()->zoomFactor(), 1.5625f);
    viewer->menuZoomOut();
    EXPECT_FLOAT_EQ(viewer->imageView()->zoomFactor(), 1.25f);
    // The view grows to the zoomed picture where it is larger than the window.
    viewer->menuZoomIn();
    viewer->menuZoomIn();
    viewer->menuZoomIn();
    EXPECT_EQ(viewer->imageView()->size().width(), 977);
    EXPECT_EQ(OVNImageViewer::toolbarItemIdentifiers().size(), 11);
    viewer->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(viewer.isNull());
}

// A file the catalog does not hold turns as it says itself; a catalogued one as the catalog says.
TEST(OVNImageViewerTest, AFileOutsideTheCatalogTurnsAsItsOwnMetadataSays)
{
    QTemporaryDir dir;
    const QString turned = writeFile(dir, QStringLiteral("turned.jpg"), withExifOrientation(jpeg(QSize(400, 300)), 6));
    const QString upside = writeFile(dir, QStringLiteral("upside.jpg"), withExifOrientation(jpeg(QSize(400, 300)), 3));
    const QString plain = writeFile(dir, QStringLiteral("plain.jpg"), jpeg(QSize(400, 300)));
    syntheticdng::Options options;
    options.orientation = 8;
    const QString camera = writeFile(dir, QStringLiteral("camera.dng"), syntheticdng::make(options));
    const struct {
        QString path;
        const char *processor;
        int code;
        int rotation;
    } cases[] = {
        {turned, "Image", OVNOrientation::codeFromFile, 90},
        {upside, "Image", OVNOrientation::codeFromFile, 180},
        {plain, "Image", OVNOrientation::codeFromFile, 0},
        {camera, "RAW", OVNOrientation::codeFromFile, 270},
        {turned, "Image", 1, 0}, // turned back by hand in the catalog
        {turned, "Image", 0, 0}, // catalogued without its metadata
        {plain, "Image", 8, 270},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(QFileInfo(c.path).fileName() + QLatin1Char(' ') + QString::number(c.code)));
        QPointer<OVNImageViewer> viewer = new OVNImageViewer;
        viewer->resize(QSize(800, 600));
        viewer->setOnLoadOrientation(c.code);
        viewer->setProcessor(QLatin1String(c.processor));
        viewer->loadAndShowFile(c.path);
        ASSERT_TRUE(waitForLoad(viewer));
        EXPECT_EQ(viewer->imageView()->rotation(), c.rotation);
        // Full resolution loads again and keeps the turn.
        if (viewer->shrinkFactor() != 0) {
            viewer->menuFullResolution();
            ASSERT_TRUE(waitForLoad(viewer));
            EXPECT_EQ(viewer->imageView()->rotation(), c.rotation);
        }
        viewer->close();
    }
}

TEST(OVNImageViewerTest, FullResolutionOfARawFile)
{
    QTemporaryDir dir;
    syntheticdng::Options options;
    options.width = 256;
    options.height = 128;
    const QString path = writeFile(dir, QStringLiteral("camera.dng"), syntheticdng::make(options));
    for (int preference : {0, 1}) {
        SCOPED_TRACE(preference);
        UserDefaults::standard().setString(QString::number(preference), QStringLiteral("RAWOpenWithMediaViewer"));
        QPointer<OVNImageViewer> viewer = new OVNImageViewer;
        viewer->setOnLoadOrientation(6);
        viewer->setProcessor(QStringLiteral("RAW"));
        viewer->loadAndShowFile(path);
        ASSERT_TRUE(waitForLoad(viewer));
        OVNImageView *view = viewer->imageView();
        const QSize whole(256, 128);
        EXPECT_EQ(view->image().size(), preference == 0 ? whole / 4 : whole);
        EXPECT_EQ(viewer->toolbarAction(kFullRes)->isEnabled(), preference == 0);
        if (preference == 0) {
            // A turn made by hand goes back to the start rotation with the whole picture.
            viewer->menuRotateLeft();
            viewer->menuFullResolution();
            ASSERT_TRUE(waitForLoad(viewer));
            EXPECT_EQ(view->image().size(), whole);
            EXPECT_EQ(view->rotation(), 90);
            EXPECT_FALSE(viewer->toolbarAction(kFullRes)->isEnabled());
        }
        viewer->close();
    }
    UserDefaults::standard().removeObjectForKey(QStringLiteral("RAWOpenWithMediaViewer"));
}

// The header of a progressive colour JPEG of `size` (its picture's parts subsampled as cameras
// store them) up to its first scan's data: what a decoder estimates a read by, with nothing behind
// it to decode but grey.
QByteArray progressiveJpegClaiming(QSize size)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(image);
    for (qsizetype at = 2; at + 4 < bytes.size();) {
        const uchar marker = uchar(bytes[at + 1]);
        const int length = uchar(bytes[at + 2]) << 8 | uchar(bytes[at + 3]);
        if (marker == 0xC2) {
            bytes[at + 5] = char(size.height() >> 8);
            bytes[at + 6] = char(size.height() & 0xFF);
            bytes[at + 7] = char(size.width() >> 8);
            bytes[at + 8] = char(size.width() & 0xFF);
        }
        if (marker == 0xDA)
            return bytes.left(at + 2 + length);
        at += 2 + length;
    }
    return {};
}

// A whole picture whose read needs more than the larger decoder holds even reduced to 8192 pixels
// (a 180-megapixel progressive JPEG's coefficients beside the reduced picture) is shown reduced as
// far as that decoder holds it, not refused.
TEST(OVNImageViewerTest, AWholePictureIsShownAsLargeAsTheLargerDecoderHoldsIt)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("panorama.jpg"), progressiveJpegClaiming(QSize(16400, 11000)));
    OVNImageLoader::Request request;
    request.path = path;
    request.processor = QStringLiteral("Image");
    QSize stored;
    QString problem;
    const QImage image = OVNImageLoader::decode(request, false, &stored, &problem);
    EXPECT_EQ(image.size(), QSize(4096, 2747)) << qPrintable(problem);
    EXPECT_EQ(stored, QSize(16400, 11000));
}

// A file that gives no picture shows the sheet, saying what happened, and its window closes.
TEST(OVNImageViewerTest, BadFilesShowTheSheetAndClose)
{
    ScriptedAlertPresenter *alerts = ScriptedAlertPresenter::install();
    QTemporaryDir dir;
    const QByteArray whole = jpeg(QSize(64, 48));
    struct Case {
        QString path;
        const char *said; // the sheet's words below its first line
    };
    const Case cases[] = {
        {dir.filePath(QStringLiteral("missing.jpg")), "The file is not there."},
        {writeFile(dir, QStringLiteral("truncated.jpg"), whole.left(40)), "The picture cannot be read."},
        {writeFile(dir, QStringLiteral("text.jpg"), "not a picture"), "The picture cannot be read."},
        {writeFile(dir, QStringLiteral("movie.mov"), QByteArray(1024, '\0')), "The picture cannot be read."},
        {writeFile(dir, QStringLiteral("empty.png"), {}), "The picture cannot be read."},
        // A decoder that runs out of memory on it, at its own size and reduced.
        {writeFile(dir, QStringLiteral("ovn-decoder-exhausts.jpg"), whole),
         "The picture needs more memory than decoding may use."},
    };
    int failures = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(c.path));
        QPointer<OVNImageViewer> viewer = openViewer(c.path, 1);
        EXPECT_FALSE(waitForLoad(viewer));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(viewer.isNull()) << "the failed document stays open";
        ASSERT_EQ(alerts->shown().size(), ++failures);
        EXPECT_EQ(alerts->shown().last().message, QStringLiteral("The media file could not be loaded."));
        EXPECT_EQ(alerts->shown().last().informativeText, QLatin1String(c.said));
    }
    Alerts::setPresenter(nullptr);
}

TEST(OVNImageLoaderTest, StaleAndOrphanedLoadsAreDropped)
{
    // The first load is the slow one: it finishes after the second and must not replace it.
    OVNImageLoader loader;
    std::atomic<int> decoded = 0;
    loader.setDecoder([&](const OVNImageLoader::Request &request, bool) {
        QThread::msleep(request.path == QLatin1String("slow") ? 300 : 10);
        ++decoded;
        return QImage(request.path == QLatin1String("slow") ? 2 : 1, 1, QImage::Format_RGB32);
    });
    QList<OVNImageLoader::Result> results;
    QObject::connect(&loader, &OVNImageLoader::loaded, [&](const OVNImageLoader::Result &r) { results.append(r); });
    loader.load({QStringLiteral("slow"), QStringLiteral("Image"), 0, {}});
    const quint64 newer = loader.load({QStringLiteral("fast"), QStringLiteral("Image"), 0, {}});
    OVNImageLoader::waitForAll();
    QCoreApplication::processEvents();
    EXPECT_EQ(decoded, 2);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].generation, newer);
    EXPECT_EQ(results[0].image.width(), 1);

    // A window closed while its picture decodes: the decoder finishes, nothing reaches the window.
    auto orphan = std::make_unique<OVNImageLoader>();
    std::atomic<bool> started = false;
    orphan->setDecoder([&](const OVNImageLoader::Request &, bool) {
        started = true;
        QThread::msleep(200);
        return QImage(1, 1, QImage::Format_RGB32);
    });
    orphan->load({QStringLiteral("slow"), QStringLiteral("Image"), 0, QSize(10, 10)});
    while (!started)
        QThread::msleep(1);
    orphan.reset();
    OVNImageLoader::waitForAll();
    QCoreApplication::processEvents();
}

// The adjustment window's source comes converted from the worker, flipped for a mirrored turn.
TEST(OVNImageLoaderTest, MakesTheAdjustmentSourceOnTheWorker)
{
    QImage picture(3, 2, QImage::Format_RGB32);
    for (int i = 0; i < 6; ++i)
        picture.setPixel(i % 3, i / 3, qRgb(40 * i, 255 - 40 * i, 7 * i));
    OVNImageLoader loader;
    loader.setDecoder([&](const OVNImageLoader::Request &request, bool) {
        return request.path == QLatin1String("bad") ? QImage() : picture;
    });
    const auto same = [](const OVNLinearImage &a, const OVNLinearImage &b) {
        return a.width == b.width && a.height == b.height
               && std::equal(a.pixels.begin(), a.pixels.end(), b.pixels.begin(), b.pixels.end());
    };
    const struct {
        const char *path;
        bool linear;
        OVNOrientation::Turn turn;
        QImage expected; // null: no source
    } cases[] = {
        {"good", true, {90, false}, picture},
        {"good", true, {90, true}, picture.mirrored(false, true)},
        {"good", true, {0, true}, picture.mirrored(true, false)},
        {"good", false, {}, {}},
        {"bad", true, {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2 %3")
                         .arg(QLatin1String(c.path))
                         .arg(c.turn.degrees)
                         .arg(c.turn.mirrored)
                         .toStdString());
        std::optional<OVNImageLoader::Result> result;
        QMetaObject::Connection connection =
            QObject::connect(&loader, &OVNImageLoader::loaded, [&](const OVNImageLoader::Result &r) { result = r; });
        loader.load({.path = QLatin1String(c.path),
                     .processor = QStringLiteral("Image"),
                     .linear = c.linear,
                     .linearTurn = c.turn});
        OVNImageLoader::waitForAll();
        QCoreApplication::processEvents();
        QObject::disconnect(connection);
        ASSERT_TRUE(result);
        ASSERT_EQ(bool(result->linear), !c.expected.isNull());
        if (result->linear) {
            EXPECT_TRUE(same(*result->linear, OVNLinearImage::fromImage(c.expected)));
        }
    }
}

TEST(OVNZoomPanelTest, AlphaPositionAndImage)
{
    UserDefaults &defaults = UserDefaults::standard();
    const QString alphaKey = QStringLiteral("zoomPanelAlpha");
    for (const QVariant &stored : {QVariant(), QVariant(0.0), QVariant(0.4)}) {
        if (stored.isValid())
            defaults.setObject(stored, alphaKey);
        else
            defaults.removeObjectForKey(alphaKey);
        OVNZoomPanel panel;
        const double expected = stored.isValid() && stored.toDouble() > 0 ? stored.toDouble() : 0.7;
        EXPECT_DOUBLE_EQ(panel.alpha(), expected);
        EXPECT_DOUBLE_EQ(panel.transparencySlider()->value() / 100.0, expected);
    }
    {
        OVNZoomPanel panel;
        panel.transparencySlider()->setValue(0);
        EXPECT_DOUBLE_EQ(panel.windowOpacity(), 0.0);
        EXPECT_DOUBLE_EQ(defaults.doubleForKey(alphaKey), 0.0);
        EXPECT_EQ(OVNZoomPanel::instance(), &panel);
        panel.setImage(QImage(8, 8, QImage::Format_RGB32));
        EXPECT_FALSE(panel.image().isNull());
        panel.setImage(QImage());
        EXPECT_TRUE(panel.image().isNull());
        // Only saveWindowPosition keeps the frame.
        panel.setGeometry(40, 50, 300, 320);
        panel.saveWindowPosition();
        panel.setGeometry(400, 500, 300, 320);
    }
    EXPECT_EQ(OVNZoomPanel::instance(), nullptr);
    OVNZoomPanel panel;
    EXPECT_DOUBLE_EQ(panel.alpha(), 0.7);
    EXPECT_EQ(panel.geometry(), QRect(40, 50, 300, 320));
}

// The panel is a frameless floating window: a drag anywhere on its picture moves it, a drag from
// its bottom-right corner resizes it, a drag on its slider only moves the slider.
TEST(OVNZoomPanelTest, FramelessMovedByAnyDragAndResizedByItsCorner)
{
    UserDefaults::standard().removeObjectForKey(QStringLiteral("NSWindow Frame OVNZoomPanel"));
    OVNZoomPanel panel;
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_EQ(qobject_cast<OVNTransparentWindow *>(&panel), &panel);
    const QRect start(100, 120, 320, 340);
    panel.setGeometry(start);
    panel.show();
    QApplication::processEvents();
    const QPoint slider = panel.transparencySlider()->geometry().center();
    ASSERT_GT(slider.y(), 250); // along the bottom edge
    // The drags run on the hidden panel, whose frame changes at once (a shown one's follows the
    // window system); its panes keep the places they were laid out in.
    panel.hide();
    const struct {
        const char *what;
        QPoint press; // in the panel's picture
        QPoint by;
        QRect expected;
    } drags[] = {
        {"a press in the middle moves", {160, 100}, {90, 40}, start.translated(90, 40)},
        {"a press near the top-left corner moves", {3, 3}, {-50, 30}, start.translated(-50, 30)},
        {"the corner grip resizes, the top-left stays", {315, 335}, {100, 60}, QRect(100, 120, 420, 400)},
        {"the grip keeps 150 points", {315, 335}, {-400, -400}, QRect(100, 120, 150, 340)},
        {"the slider keeps its drags", slider, {60, 0}, start},
    };
    for (const auto &drag : drags) {
        panel.setGeometry(start);
        QWidget *target = panel.contentView()->childAt(drag.press);
        if (!target)
            target = panel.contentView();
        const QPoint local = target->mapFrom(panel.contentView(), drag.press);
        const QPoint global = start.topLeft() + drag.press;
        QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QMouseEvent move(QEvent::MouseMove, local + drag.by, global + drag.by, Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, local + drag.by, global + drag.by, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(target, &release);
        EXPECT_EQ(panel.geometry(), drag.expected) << drag.what;
    }
    UserDefaults::standard().removeObjectForKey(QStringLiteral("zoomPanelAlpha"));
}
