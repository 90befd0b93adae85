// The image viewer on a camera-sized JPEG (6000 × 4000, made here) in a 1600 × 1000 window, fit:
// the time from the open call to the first painted picture beside `vipsthumbnail -s 1600x1000`
// of the file, and to the whole picture beside `vips avg` (a whole decode), measured in turn
// A B C A B C after a warm-up; the median of the pair ratios, and the longest time the GUI thread
// did not answer while the picture loaded.
#include "BenchCatalog.h"
#include "tools/common/ToolStart.h"
#include "viewers/OVNImageLoader.h"
#include "viewers/OVNImageViewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double runProcess(const QString &program, const QStringList &arguments)
{
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.waitForFinished(-1);
    process.readAllStandardOutput();
    return process.exitCode() == 0 ? double(clock.nsecsElapsed()) / 1e6 : -1;
}

struct ViewerRun {
    double firstMs = -1, fullMs = -1, longestStallMs = 0;
};

ViewerRun runViewer(const QString &path)
{
    ViewerRun run;
    QElapsedTimer clock;
    clock.start();
    QPointer<OVNImageViewer> viewer = new OVNImageViewer;
    viewer->resize(1600, 1000);
    QEventLoop loop;
    // A 1 ms timer: the longest gap between its ticks is the longest the GUI thread was busy.
    QElapsedTimer tick;
    tick.start();
    QTimer heartbeat;
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        run.longestStallMs = std::max(run.longestStallMs, double(tick.nsecsElapsed()) / 1e6);
        tick.restart();
    });
    heartbeat.start();
    QObject::connect(viewer, &OVNImageViewer::pictureShown, &loop, [&](bool preview) {
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (run.firstMs < 0)
            run.firstMs = ms;
        if (!preview) {
            run.fullMs = ms;
            loop.quit();
        }
    });
    QObject::connect(viewer, &OVNImageViewer::loadFailed, &loop, &QEventLoop::quit);
    viewer->loadAndShowFile(path);
    loop.exec();
    // The tick after the last painting counts too.
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
    viewer->close();
    OVNImageLoader::waitForAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("camera.jpg"));
    BenchCatalog::saveCameraPicture(path);
    const QString thumbnail = dir.filePath(QStringLiteral("thumbnail.jpg"));
    const int pairs = 7;
    std::vector<double> first, full, thumb, avg, firstRatio, fullRatio;
    double stall = 0;
    for (int i = 0; i <= pairs; ++i) {
        const ViewerRun run = runViewer(path);
        const double t = runProcess(QStringLiteral("vipsthumbnail"), {QStringLiteral("-s"), QStringLiteral("1600x1000"),
                                                                      path, QStringLiteral("-o"), thumbnail});
        const double a = runProcess(QStringLiteral("vips"), {QStringLiteral("avg"), path});
        if (run.fullMs < 0 || t < 0 || a < 0) {
            std::fprintf(stderr, "a run failed (viewer %g ms, vipsthumbnail %g ms, vips avg %g ms)\n", run.fullMs, t,
                         a);
            return 1;
        }
        if (i == 0)
            continue; // warm-up
        first.push_back(run.firstMs);
        full.push_back(run.fullMs);
        thumb.push_back(t);
        avg.push_back(a);
        firstRatio.push_back(run.firstMs / t);
        fullRatio.push_back(run.fullMs / a);
        stall = std::max(stall, run.longestStallMs);
    }
    std::printf("viewer 6000x4000 JPEG in 1600x1000, fit, %d pairs after a warm-up (medians)\n", pairs);
    std::printf("  first picture %.0f ms   vipsthumbnail -s 1600x1000 %.0f ms   median pair ratio %.2f\n",
                median(first), median(thumb), median(firstRatio));
    std::printf("  full picture  %.0f ms   vips avg %.0f ms                  median pair ratio %.2f\n", median(full),
                median(avg), median(fullRatio));
    std::printf("  longest GUI-thread stall during the loads %.1f ms\n", stall);
    return 0;
}
