// Movies and slides on screen, each beside what it must keep up with:
//   1. open to first frame of a 10 s 1080p H.264 movie as a camera records it (BenchMovie.h), ovn-movie as a whole
//   process
//      beside `ffmpeg -i F -frames:v 1 -f null -`, alternating (bench_pair);
//   2. 10 s of 1080p at 30 fps played in a 1280 × 720 movie view: frames painted of those in the
//      movie (at least 95 % wanted);
//   3. a slide show of 24 MP JPEGs at a 1 s interval on a 1920 × 1080 screen: how long after its
//      timer each step's slide is painted (within 50 ms wanted).
#include "BenchCatalog.h"
#include "BenchMovie.h"
#include "platform/HeapTuning.h"
#include "decoding/MoviePlayer.h"
#include "tools/common/ToolStart.h"
#include "viewers/OVNMovieView.h"
#include "viewers/OVNSlideShow.h"
#include "viewers/OVNSlideShowView.h"

#include <QApplication>
#include <QFile>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool paintRate(const QString &movie)
{
    MoviePlayer player;
    OVNMovieView view;
    view.resize(1280, 720);
    view.setMovie(&player);
    view.show();
    QString error;
    if (!player.openAndWait(movie, &error)) {
        std::printf("2. cannot open the movie: %s\n", qPrintable(error));
        return false;
    }
    qint64 delivered = 0;
    QObject::connect(&player, &MoviePlayer::frameChanged, [&] { ++delivered; });
    QEventLoop loop;
    QObject::connect(&player, &MoviePlayer::rateChanged, &loop, [&](double rate) {
        if (rate == 0.0)
            loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    const qint64 paintedBefore = view.paintedFrames();
    player.setRate(1.0);
    loop.exec();
    const qint64 painted = view.paintedFrames() - paintedBefore;
    const double inMovie = 10.0 * 30.0;
    std::printf("2. 10 s of 1080p at 30 fps in a 1280x720 view: %lld frames delivered, %lld painted of %.0f: %.1f %% "
                "(95 %% wanted)\n",
                delivered, painted, inMovie, 100.0 * std::min<double>(painted, inMovie) / inMovie);
    return true;
}

// What touching memory left idle for a second costs on this machine: a step's paint writes the
// window's buffer and reads the slide (about 15 MB of the two), both untouched since the last step.
// On some virtual machines pages idle that long come back only through page faults.
double idleMemoryTouchMs(qsizetype bytes)
{
    std::vector<char> memory(size_t(bytes), 1);
    std::vector<double> costs;
    for (int round = 0; round < 3; ++round) {
        QThread::msleep(1000);
        QElapsedTimer clock;
        clock.start();
        for (size_t i = 0; i < memory.size(); i += 64)
            memory[i] = char(memory[i] + 1);
        costs.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(costs.begin(), costs.end());
    volatile char keep = memory[memory.size() / 2];
    Q_UNUSED(keep);
    return costs[1];
}

bool slideLatency(const QStringList &slides)
{
    constexpr int interval = 1000;
    QPointer<OVNSlideShow> show = new OVNSlideShow;
    show->setFiles(slides);
    show->setInterval(interval);
    show->setScreenSize({1920, 1080});
    QElapsedTimer clock;
    std::vector<double> late;
    int steps = 0;
    QObject::connect(show, &OVNSlideShow::slideShown, [&](int, const QString &) { ++steps; });
    QEventLoop loop;
    QObject::connect(show, &OVNSlideShow::ended, &loop, &QEventLoop::quit);
    clock.start();
    show->startSlideShow();
    if (!show || !show->view())
        return false;
    show->window()->showNormal();
    show->window()->setGeometry(0, 0, 1920, 1080);
    // From each tick of the show's own timer to the paint of the slide it brought; the first
    // slide has no read-ahead to use and is left out.
    auto *tick = show->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    if (!tick)
        return false;
    double tickedAt = -1;
    QObject::connect(tick, &QTimer::timeout, [&] { tickedAt = double(clock.nsecsElapsed()) / 1e6; });
    QObject::connect(show->view(), &OVNSlideShowView::slidePainted, [&] {
        if (steps >= 2 && tickedAt >= 0)
            late.push_back(double(clock.nsecsElapsed()) / 1e6 - tickedAt);
        tickedAt = -1;
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    std::sort(late.begin(), late.end());
    if (late.empty()) {
        std::printf("3. no slide step measured\n");
        return false;
    }
    std::printf("3. slide show of %lld 24 MP JPEGs, 1 s steps on 1920x1080: painted %.1f ms after the timer "
                "(median), %.1f ms at worst, over %zu steps (50 ms wanted)\n",
                qint64(slides.size()), late[late.size() / 2], late.back(), late.size());
    std::printf("   on this machine, touching 15 MB of memory idle for 1 s costs %.1f ms (median of 3)\n",
                idleMemoryTouchMs(qsizetype(15) << 20));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // The allocator as the program sets it up: a step's large buffers reuse freed pages.
    HeapTuning::keepFreedMemoryForReuse();
    const QString backend = MoviePlayer::chooseBackend();
    ToolStart::offscreenUnlessNamed();
    // Offscreen, the screen is 800 x 600 unless told otherwise; the slides are made for a
    // 1920 x 1080 screen and must be shown on one, or every paint would scale them.
    QTemporaryDir screenConfig;
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && screenConfig.isValid()) {
        const QString path = screenConfig.filePath(QStringLiteral("screen.json"));
        QFile config(path);
        if (config.open(QIODevice::WriteOnly)) {
            config.write(R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920, "height": 1080,)"
                         R"( "logicalDpiX": 96, "logicalDpiY": 96, "dpr": 1}]})");
            config.close();
            qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(path));
        }
    }
    QApplication app(argc, argv);
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        std::printf("ffmpeg is not installed: nothing to measure\n");
        return 0;
    }
    QTemporaryDir dir;
    const QString movie = BenchMovie::cameraLikeClip(ffmpeg);
    if (movie.isEmpty()) {
        std::fprintf(stderr, "cannot make the movie\n");
        return 1;
    }
    std::printf("backend %s\n", qPrintable(backend));
    bool ok = BenchCatalog::comparePrograms(
        QStringLiteral(OVN_BENCH_PAIR),
        QStringLiteral("1. Open to first frame of a 10 s 1080p H.264 camera-like movie (1.5x wanted)"),
        {QStringLiteral(OVN_MOVIE_TOOL), movie},
        {ffmpeg, QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-i"), movie,
         QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("null"),
         QStringLiteral("-")});
    ok = paintRate(movie) && ok;

    QStringList slides;
    for (int i = 0; i < 5; ++i) {
        slides << dir.filePath(QStringLiteral("24mp-%1.jpg").arg(i));
        if (!run(ffmpeg, {"-loglevel", "error", "-f", "lavfi", "-i",
                          QStringLiteral("testsrc2=size=6000x4000:rate=1:duration=1,hue=h=%1").arg(i * 60), "-frames:v",
                          "1", "-q:v", "2", slides.last()})) {
            std::fprintf(stderr, "cannot make the slides\n");
            return 1;
        }
    }
    ok = slideLatency(slides) && ok;
    return ok ? 0 : 1;
}
