// Drives a real adjustment window offscreen: loads a picture, moves sliders, turns, crops and
// exports it with the window's own export, then prints what it wrote:
//   ovn-adjust IN OUT [--orientation N] [--SLIDER V]... [--rotate left|right]... [--crop X,Y,W,H]
//              [--revert] [--quality Q] [--save-preset TITLE] [--grab PNG]
//   ovn-adjust --list-presets
// SLIDER is exposure, gamma, brightness, contrast, saturation, sharpness, straighten, sepia or tint.
// Slider moves, turns, crops and reverts happen in the order given; the crop is in pixels of the
// picture as shown (turned, unscaled). OUT's extension chooses JPEG or TIFF.
#include "platform/SettingsPresetStore.h"
#include "platform/UserDefaults.h"
#include "viewers/OVNCoreImageAdjustWindow.h"
#include "viewers/OVNCoreImageView.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QImageReader>
#include <QLineEdit>

#include <cstdio>
#include <functional>

namespace {

constexpr const char *usageText =
    "usage: ovn-adjust IN OUT [--orientation N] [--SLIDER V]... [--rotate left|right]... "
    "[--crop X,Y,W,H] [--revert] [--quality Q] [--save-preset TITLE] [--grab PNG]\n"
    "       ovn-adjust --list-presets\n"
    "SLIDER: exposure, gamma, brightness, contrast, saturation, sharpness, straighten, sepia, "
    "tint\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

int listPresets()
{
    SettingsPresetStore store(UserDefaults::standard(), QStringLiteral("CoreImageAdjustPresets"),
                              QStringLiteral("CoreImageAdjustUserPresets"), OVNCoreImageAdjustWindow::settingsKeys());
    store.load();
    for (const QVariant &preset : store.user()) {
        const QVariantMap map = preset.toMap();
        const QVariantMap settings = map.value(QStringLiteral("Settings")).toMap();
        QStringList pairs;
        for (const QString &key : OVNCoreImageAdjustWindow::settingsKeys())
            if (settings.contains(key))
                pairs.append(key + QLatin1Char('=') + settings.value(key).toString());
        std::printf("%s\t%s\n", ToolText::utf8(map.value(QStringLiteral("Title")).toString()).constData(),
                    ToolText::utf8(pairs.join(' ')).constData());
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText,
                                                        {{"--list-presets"},
                                                         {"--orientation", 1},
                                                         {"--quality", 1},
                                                         {"--save-preset", 1},
                                                         {"--grab", 1},
                                                         {"--revert"},
                                                         {"--rotate", 1},
                                                         {"--crop", 1},
                                                         {"--exposure", 1},
                                                         {"--gamma", 1},
                                                         {"--brightness", 1},
                                                         {"--contrast", 1},
                                                         {"--saturation", 1},
                                                         {"--sharpness", 1},
                                                         {"--straighten", 1},
                                                         {"--sepia", 1},
                                                         {"--tint", 1}}))
        return *end;
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    QImageReader::setAllocationLimit(0); // the window's loader sets its own limits
    const QStringList args = QApplication::arguments().mid(1);
    if (args == QStringList{QStringLiteral("--list-presets")})
        return listPresets();
    if (args.size() < 2 || args[0].startsWith(QLatin1String("--")) || args[1].startsWith(QLatin1String("--")))
        return usage();
    const QString in = args[0], out = args[1];
    using Control = OVNCoreImageAdjustWindow::Control;
    const QMap<QString, Control> sliders{{QStringLiteral("exposure"), Control::Exposure},
                                         {QStringLiteral("gamma"), Control::Gamma},
                                         {QStringLiteral("brightness"), Control::Brightness},
                                         {QStringLiteral("contrast"), Control::Contrast},
                                         {QStringLiteral("saturation"), Control::Saturation},
                                         {QStringLiteral("sharpness"), Control::Sharpness},
                                         {QStringLiteral("straighten"), Control::Straighten},
                                         {QStringLiteral("sepia"), Control::Sepia},
                                         {QStringLiteral("tint"), Control::Tint}};

    // The window's steps, in the order given.
    std::vector<std::function<bool(OVNCoreImageAdjustWindow &)>> steps;
    int orientation = 0, quality = 90;
    QString presetTitle, grab;
    bool havePreset = false;
    for (int i = 2; i < args.size(); ++i) {
        const QString &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        bool ok = true;
        if (arg == QLatin1String("--orientation") && hasValue) {
            const std::optional<int> code = ToolNumber::integer32("--orientation", args[++i], 0, 8);
            if (!code)
                return 2;
            orientation = *code;
        } else if (arg == QLatin1String("--quality") && hasValue) {
            const std::optional<int> q = ToolNumber::integer32("--quality", args[++i], 0, 100);
            if (!q)
                return 2;
            quality = *q;
        } else if (arg == QLatin1String("--save-preset") && hasValue) {
            presetTitle = args[++i];
            havePreset = true;
        } else if (arg == QLatin1String("--grab") && hasValue) {
            grab = args[++i];
        } else if (arg == QLatin1String("--revert")) {
            steps.push_back([](OVNCoreImageAdjustWindow &w) {
                w.menuRevertCropImage();
                return true;
            });
        } else if (arg == QLatin1String("--rotate") && hasValue) {
            const QString way = args[++i];
            ok = way == QLatin1String("left") || way == QLatin1String("right");
            const bool left = way == QLatin1String("left");
            steps.push_back([left](OVNCoreImageAdjustWindow &w) {
                left ? w.menuRotateLeft() : w.menuRotateRight();
                return true;
            });
        } else if (arg == QLatin1String("--crop") && hasValue) {
            const QStringList parts = args[++i].split(QLatin1Char(','));
            double r[4] = {0, 0, 0, 0};
            ok = parts.size() == 4;
            // Pixels of the picture as shown: a place may lie outside it, a size is not negative.
            constexpr double far = 1e6;
            for (int k = 0; ok && k < 4; ++k) {
                const std::optional<double> v = ToolNumber::real("--crop", parts[k], k < 2 ? -far : 0, far);
                if (!v)
                    return 2;
                r[k] = *v;
            }
            steps.push_back([r](OVNCoreImageAdjustWindow &w) {
                // From pixels of the picture as shown to the view, where the user would drag.
                OVNCoreImageView *view = w.preview();
                view->waitForPreview();
                const double zoom = view->zoomFactor();
                const QPointF origin = view->imageOrigin();
                view->setSelection(origin + QPointF(r[0], r[1]) * zoom,
                                   origin + QPointF(r[0] + r[2], r[1] + r[3]) * zoom);
                w.menuCropImage();
                if (view->hasSelection()) {
                    std::fprintf(stderr, "ovn-adjust: the crop %g,%g,%g,%g misses the picture\n", r[0], r[1], r[2],
                                 r[3]);
                    return false;
                }
                return true;
            });
        } else if (arg.startsWith(QLatin1String("--")) && sliders.contains(arg.mid(2)) && hasValue) {
            const Control control = sliders.value(arg.mid(2));
            const std::optional<double> number = ToolNumber::real(qPrintable(arg), args[++i],
                                                                  OVNCoreImageAdjustWindow::minimumOf(control),
                                                                  OVNCoreImageAdjustWindow::maximumOf(control));
            if (!number)
                return 2;
            const double value = *number;
            steps.push_back([control, value](OVNCoreImageAdjustWindow &w) {
                w.moveSlider(control, value);
                return true;
            });
        } else {
            ok = false;
        }
        if (!ok)
            return usage();
    }
    const QString suffix = QFileInfo(out).suffix().toLower();
    OVNCoreImageAdjustWindow::ExportFormat format;
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        format = OVNCoreImageAdjustWindow::ExportFormat::Jpeg;
    else if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        format = OVNCoreImageAdjustWindow::ExportFormat::Tiff;
    else {
        std::fprintf(stderr, "ovn-adjust: OUT must end in .jpg, .jpeg, .tif or .tiff\n");
        return 2;
    }

    auto *window = new OVNCoreImageAdjustWindow;
    window->setOnLoadOrientation(orientation);
    bool loaded = false;
    {
        QEventLoop loop;
        QObject::connect(window, &OVNCoreImageAdjustWindow::imageLoaded, &loop, [&] {
            loaded = true;
            loop.quit();
        });
        QObject::connect(window, &OVNCoreImageAdjustWindow::loadFailed, &loop, &QEventLoop::quit);
        window->loadImage(in);
        loop.exec();
    }
    if (!loaded) {
        std::fprintf(stderr, "ovn-adjust: %s could not be loaded\n", ToolText::utf8(in).constData());
        return 1;
    }
    for (const auto &step : steps)
        if (!step(*window))
            return 1;
    if (havePreset) {
        window->saveTitleField()->setText(presetTitle);
        window->saveSettingsButtonPressed(true);
    }
    if (!grab.isEmpty()) {
        window->preview()->waitForPreview();
        window->grab().save(grab);
    }
    QElapsedTimer clock;
    clock.start();
    const QString target = OVNCoreImageAdjustWindow::exportPath(out, format);
    if (!window->exportImage(out, format, quality))
        return 1;
    const qint64 ms = clock.elapsed();
    const QSize size = QImageReader(target).size();
    std::printf("exported %dx%d to %s in %lld ms\n", size.width(), size.height(), ToolText::utf8(target).constData(),
                qint64(ms));
    return 0;
}
