#include "import/OVNCaptureViews.h"
#include "import/OVNImportCamera.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QLineEdit>
#include <QEventLoop>
#include <QTimer>
#include <QTemporaryDir>

namespace {

QImage grab(QWidget &view) { return view.grab().toImage().convertToFormat(QImage::Format_RGB32); }

} // namespace

TEST(CaptureWindowTest, PicturesAreFittedAndCaptionsDrawn)
{
    const struct {
        QSizeF picture;
        QSizeF bounds;
        QRectF fitted;
    } devices[] = {{{200, 100}, {100, 100}, {0, 25, 100, 50}},
                   {{25, 50}, {100, 100}, {25, 0, 50, 100}},
                   {{100, 100}, {100, 100}, {0, 0, 100, 100}}};
    for (const auto &c : devices)
        EXPECT_EQ(OVNDeviceSelectionView::fittedRect(c.picture, c.bounds), c.fitted);
    const struct {
        QSizeF image;
        QRectF dest;
    } thumbs[] = {{{100, 50}, {0, 0, 200, 200}}, {{400, 200}, {0, 50, 200, 100}}, {{200, 400}, {50, 0, 100, 200}}};
    for (const auto &c : thumbs)
        EXPECT_EQ(OVNLastImportImageView::destinationRect(c.image, {200, 200}), c.dest);

    // The device view: a grey strip on top, the count in it only when there are devices.
    OVNDeviceSelectionView device;
    device.resize(100, 100);
    QImage red(200, 100, QImage::Format_RGB32);
    red.fill(Qt::red);
    device.setDeviceIcon(red);
    QImage drawn = grab(device);
    EXPECT_EQ(drawn.pixelColor(50, 50), QColor(Qt::red));
    EXPECT_EQ(drawn.pixelColor(50, 20), QColor(Qt::white)); // above the picture, centred vertically
    const QColor strip = drawn.pixelColor(3, 7);
    EXPECT_LT(strip.red(), 255);
    EXPECT_EQ(strip.red(), strip.green());
    auto darkInStrip = [](const QImage &image) {
        int dark = 0;
        for (int x = 1; x < image.width() - 1; ++x)
            for (int y = 1; y < 14; ++y)
                dark += image.pixelColor(x, y).lightness() < 100;
        return dark;
    };
    EXPECT_EQ(darkInStrip(drawn), 0);
    device.setDeviceCount(2);
    EXPECT_GT(darkInStrip(grab(device)), 10);

    // The last-download view: black, then a caption on black, then a picture replacing it.
    OVNLastImportImageView last(QSize(200, 200));
    last.setImage(QImage());
    EXPECT_EQ(last.image().pixelColor(100, 100), QColor(Qt::black));
    last.setText("Capturing file...");
    EXPECT_EQ(last.image().pixelColor(5, 5), QColor(Qt::black));
    int light = 0;
    for (int x = 0; x < 200; ++x)
        light += last.image().pixelColor(x, 100).lightness() > 200;
    EXPECT_GT(light, 5);
    QImage wide(400, 200, QImage::Format_RGB32);
    wide.fill(Qt::green);
    last.setImage(wide);
    EXPECT_EQ(last.image().pixelColor(100, 100), QColor(Qt::green));
    EXPECT_EQ(last.image().pixelColor(100, 20), QColor(Qt::black));
}

TEST(CaptureWindowTest, ListsTheCameraDownloadsAndShowsTheStatus)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("cam/100"));
    QDir().mkpath(dir.filePath("dest"));
    QDir().mkpath(dir.filePath("volumes"));
    for (int i = 0; i < 2; ++i) {
        QImage image(32, 24, QImage::Format_RGB32);
        image.fill(Qt::blue);
        ASSERT_TRUE(image.save(dir.filePath(QString("cam/100/IMG_%1.JPG").arg(i)), "JPEG"));
    }
    qputenv("OVN_CAPTURE_DISK", dir.filePath("cam").toUtf8());
    qputenv("OVN_VOLUME_ROOTS", dir.filePath("volumes").toUtf8());
    UserDefaults defaults(dir.filePath("prefs.plist"));
    defaults.setDouble(100, "CapturePanelX");
    defaults.setDouble(100, "CapturePanelY");
    {
        OVNImportCamera window(defaults);
        window.refreshDevices(true);
        ASSERT_EQ(window.devicePopUp()->count(), 1);
        EXPECT_EQ(window.devicePopUp()->currentData().toString(), "disk:" + dir.filePath("cam"));
        EXPECT_EQ(window.deviceView()->deviceCount(), 1);
        EXPECT_EQ(window.infoText(), "cam\nContains 2 media files.");

        // The first built-in preset is chosen; changing a setting leaves it for "Manual Settings".
        EXPECT_EQ(window.settingsPresetPopUp()->currentIndex(), 2);
        EXPECT_EQ(window.devicePresetPopUp()->currentIndex(), 2);
        auto settings = window.getDictionaryFromSettings();
        EXPECT_EQ(settings.size(), 24);
        settings["svDestination1_"] = dir.filePath("dest");
        settings["svDestination1AddTSFolder_"] = "0";
        settings["svCatalogSelection_"] = "0";
        settings["svNamingSwitch_"] = "1";
        settings["svNamingCaptureName_"] = "Trip";
        settings["svNamingCounterDigits_"] = "4";
        settings["svPostSuccessShowStatusAfterDLSwitch_"] = "1";
        window.loadSettingsFromDictionary(settings);
        qobject_cast<QCheckBox *>(window.control("svPostSuccessRevealInFinder_"))->click();
        EXPECT_EQ(window.settingsPresetPopUp()->currentIndex(), 0);
        EXPECT_EQ(window.devicePresetPopUp()->currentIndex(), 0);
        EXPECT_EQ(window.captureNameField()->text(), "Trip");
        EXPECT_EQ(qobject_cast<QLineEdit *>(window.control("svNamingSample_"))->text(), "Trip0001");

        QEventLoop loop;
        bool finished = false;
        QObject::connect(&window, &OVNImportCamera::downloadFinished, &loop, [&] {
            finished = true;
            loop.quit();
        });
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        window.downloadFiles();
        EXPECT_TRUE(window.progressView()->isVisibleTo(&window));
        loop.exec();
        ASSERT_TRUE(finished);
        EXPECT_TRUE(window.statusView()->isVisibleTo(&window));
        EXPECT_EQ(window.statusTexts(), (QStringList{"2 Files", "2 Files", "0 Errors", "0 Files"}));
        EXPECT_EQ(QDir(dir.filePath("dest")).entryList(QDir::Files), (QStringList{"Trip0000.JPG", "Trip0001.JPG"}));
        window.makeKeyAndOrderFront();
        window.saveLocation();
    }
    EXPECT_TRUE(defaults.contains("CapturePanelX"));
    EXPECT_FALSE(defaults.contains("WorkflowPanelX"));
    qunsetenv("OVN_CAPTURE_DISK");
    qunsetenv("OVN_VOLUME_ROOTS");
}

TEST(CaptureWindowTest, TheHelpTextIsWholeAndThePanelOnTheScreen)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("nothing"));
    qunsetenv("OVN_CAPTURE_DISK"); // no camera: the help text shows
    qputenv("OVN_VOLUME_ROOTS", dir.filePath("nothing").toUtf8());
    UserDefaults defaults(dir.filePath("prefs.plist"));
    // Stored where the screen no longer reaches.
    defaults.setDouble(5000, "CapturePanelX");
    defaults.setDouble(-3000, "CapturePanelY");
    OVNImportCamera window(defaults);
    window.refreshDevices(true);
    window.makeKeyAndOrderFront();
    QApplication::processEvents();
    const QLabel *help = nullptr;
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        if (label->text().startsWith("Plug-In"))
            help = label;
    }
    ASSERT_NE(help, nullptr) << qPrintable(window.infoText());
    EXPECT_GE(help->height(), help->heightForWidth(help->width()));
    EXPECT_TRUE(window.screen()->availableGeometry().contains(window.frameGeometry()));

    // Its settings opened near the screen's bottom: the window grows and moves up to stay on it;
    // closed again, it is still whole on the screen.
    const QRect available = window.screen()->availableGeometry();
    window.move(window.x(), available.bottom() - window.frameGeometry().height() - 10);
    QApplication::processEvents();
    const int closedHeight = window.frameGeometry().height();
    for (bool open : {true, false}) {
        window.toggleSettings();
        QApplication::processEvents();
        if (open) {
            EXPECT_GT(window.frameGeometry().height(), closedHeight);
        }
        EXPECT_TRUE(available.contains(window.frameGeometry()))
            << open << ": " << window.frameGeometry().y() << "+" << window.frameGeometry().height() << " in "
            << available.height();
    }
    qunsetenv("OVN_CAPTURE_DISK");
    qunsetenv("OVN_VOLUME_ROOTS");
}

// The capture panel opens where it was left, start after start: stored and restored by the same
// corner of its contents, whatever the window frame adds around them.
TEST(CaptureWindowTest, OpensWhereItWasLeftStartAfterStart)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("nothing"));
    qunsetenv("OVN_CAPTURE_DISK");
    qputenv("OVN_VOLUME_ROOTS", dir.filePath("nothing").toUtf8());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPointF origins[] = {QPointF(screen.x() + 10, 20),
                               QPointF(screen.x() + screen.width() / 4, screen.height() / 4),
                               QPointF(screen.x() + 40.5, 60.25)};
    for (const QPointF &origin : origins) {
        SCOPED_TRACE(origin.x());
        UserDefaults defaults(dir.filePath("prefs.plist"));
        defaults.setDouble(origin.x(), "CapturePanelX");
        defaults.setDouble(origin.y(), "CapturePanelY");
        const QPointF expected(qRound(origin.x()), qRound(origin.y()));
        for (int start = 0; start < 3; ++start) {
            SCOPED_TRACE(start);
            OVNImportCamera window(defaults);
            window.makeKeyAndOrderFront();
            QApplication::processEvents();
            window.saveLocation();
            EXPECT_EQ(QPointF(defaults.doubleForKey("CapturePanelX"), defaults.doubleForKey("CapturePanelY")),
                      expected);
        }
    }
    qunsetenv("OVN_VOLUME_ROOTS");
}
