// Opens a picture in the image viewer as the application controller does, offscreen, and prints
// what it shows and how long the first and the whole picture took from the open call:
//   ovn-view FILE [--orientation N] [--size WxH] [--zoom fit|actual|in|out]... [--full-res] [--grab OUT.png]
#include "viewers/OVNImageLoader.h"
#include "viewers/OVNImageView.h"
#include "viewers/OVNImageViewer.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char *usageText = "usage: ovn-view FILE [--orientation N] [--size WxH] [--zoom fit|actual|in|out]... "
                                  "[--full-res] [--grab OUT.png]\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

// Runs the event loop until the viewer shows its whole picture or fails; false on failure.
bool waitForPicture(OVNImageViewer *viewer, qint64 *firstMs, qint64 *fullMs, const QElapsedTimer &clock,
                    QString *failure = nullptr)
{
    QEventLoop loop;
    bool ok = false;
    QObject::connect(viewer, &OVNImageViewer::pictureShown, &loop, [&](bool preview) {
        if (firstMs && *firstMs < 0)
            *firstMs = clock.elapsed();
        if (!preview) {
            if (fullMs)
                *fullMs = clock.elapsed();
            ok = true;
            loop.quit();
        }
    });
    QObject::connect(viewer, &OVNImageViewer::loadFailed, &loop, [&](const QString &problem) {
        if (failure)
            *failure = problem;
        loop.quit();
    });
    loop.exec();
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> end = ToolUsage::check(
            argc, argv, usageText, {{"--orientation", 1}, {"--size", 1}, {"--zoom", 1}, {"--full-res"}, {"--grab", 1}}))
        return *end;
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments().mid(1);
    QString file, grab;
    int orientation = 0;
    QSize size(1024, 768);
    QStringList zooms;
    bool fullRes = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--orientation") && hasValue) {
            const std::optional<int> code = ToolNumber::integer32("--orientation", args[++i], 0, 8);
            if (!code)
                return 2;
            orientation = *code;
        } else if (arg == QLatin1String("--size") && hasValue) {
            const QStringList parts = args[++i].split(QLatin1Char('x'));
            if (parts.size() != 2)
                return usage();
            const std::optional<int> w = ToolNumber::integer32("--size", parts[0], 1, 16384);
            const std::optional<int> h = w ? ToolNumber::integer32("--size", parts[1], 1, 16384) : std::nullopt;
            if (!h)
                return 2;
            size = QSize(*w, *h);
        } else if (arg == QLatin1String("--zoom") && hasValue) {
            const QString zoom = args[++i];
            if (!QStringList{"fit", "actual", "in", "out"}.contains(zoom))
                return usage();
            zooms.append(zoom);
        } else if (arg == QLatin1String("--full-res")) {
            fullRes = true;
        } else if (arg == QLatin1String("--grab") && hasValue) {
            grab = args[++i];
        } else if (arg.startsWith(QLatin1String("--")) || !file.isEmpty()) {
            return usage();
        } else {
            file = arg;
        }
    }
    if (file.isEmpty())
        return usage();

    QElapsedTimer clock;
    clock.start();
    QPointer<OVNImageViewer> viewer = new OVNImageViewer;
    viewer->resize(size);
    viewer->setOnLoadOrientation(orientation);
    viewer->loadAndShowFile(file);
    qint64 firstMs = -1, fullMs = -1;
    QString failure;
    bool ok = waitForPicture(viewer, &firstMs, &fullMs, clock, &failure);
    if (ok && fullRes && viewer->shrinkFactor() != 0) {
        viewer->menuFullResolution();
        ok = waitForPicture(viewer, nullptr, nullptr, clock);
    }
    if (!ok) {
        // The alert's words.
        std::printf("failed: %s\n", ToolText::utf8(loadFailureText(failure)).constData());
        return 1;
    }
    for (const QString &zoom : zooms) {
        if (zoom == QLatin1String("fit"))
            viewer->menuZoomToFit();
        else if (zoom == QLatin1String("actual"))
            viewer->menuActualSize();
        else if (zoom == QLatin1String("in"))
            viewer->menuZoomIn();
        else
            viewer->menuZoomOut();
    }
    OVNImageView *view = viewer->imageView();
    view->repaint();
    const int rotation = view->rotation();
    const QSize picture = rotation == 90 || rotation == 270 ? view->image().size().transposed() : view->image().size();
    std::printf("shown %dx%d rotation %d zoom %g\n", picture.width(), picture.height(), rotation,
                double(view->effectiveFactor()));
    std::printf("first picture %lld ms, full picture %lld ms\n", static_cast<long long>(firstMs),
                static_cast<long long>(fullMs));
    if (!grab.isEmpty() && !view->grab().save(grab)) {
        std::fprintf(stderr, "ovn-view: cannot write %s\n", ToolText::utf8(grab).constData());
        return 1;
    }
    viewer->close();
    OVNImageLoader::waitForAll();
    return 0;
}
