// Opens a movie in a movie view offscreen, plays it if asked, and prints what the player reports:
//   ovn-movie FILE [--play SECONDS] [--rate R] [--seek SECONDS] [--grab OUT.png]
#include "decoding/MoviePlayer.h"
#include "viewers/OVNMovieView.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char *usageText =
    "usage: ovn-movie FILE [--play SECONDS] [--rate R] [--seek SECONDS] [--grab OUT.png]\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits up to `ms` for a frame to arrive, for the grab after a seek or a start.
void waitForFrame(MoviePlayer &player, int ms)
{
    QEventLoop loop;
    QObject::connect(&player, &MoviePlayer::frameChanged, &loop, &QEventLoop::quit);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end =
            ToolUsage::check(argc, argv, usageText, {{"--play", 1}, {"--rate", 1}, {"--seek", 1}, {"--grab", 1}}))
        return *end;
    // The backend must be chosen before Qt Multimedia starts.
    const QString backend = MoviePlayer::chooseBackend();
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QString file, grab;
    double play = -1, rate = 1, seek = -1;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--play") || a == QLatin1String("--rate") || a == QLatin1String("--seek")) {
            if (!hasValue)
                return usage();
            // Seconds from 0 to a day; a rate, negative for backwards, up to 16 times either way.
            const bool isRate = a == QLatin1String("--rate");
            const std::optional<double> value =
                ToolNumber::real(qPrintable(a), args[++i], isRate ? -16 : 0, isRate ? 16 : 86400);
            if (!value)
                return 2;
            (a == QLatin1String("--play") ? play : isRate ? rate : seek) = *value;
        } else if (a == QLatin1String("--grab") && hasValue)
            grab = args[++i];
        else if (a.startsWith(QLatin1String("--")) || !file.isEmpty())
            return usage();
        else
            file = a;
    }
    if (file.isEmpty())
        return usage();

    std::printf("backend %s\n", ToolText::utf8(backend).constData());
    const QString device = MoviePlayer::audioDeviceName();
    std::printf("audio %s\n", device.isEmpty() ? "none" : ToolText::utf8(device).constData());

    MoviePlayer player;
    OVNMovieView view;
    view.resize(640, 360);
    view.setMovie(&player);
    view.show();
    QString error;
    // Only the first picture wanted: the movie starts (muted) while it opens and stops at its first
    // frame, rather than opening paused and starting afterwards.
    const bool firstPictureOnly = play <= 0 && seek < 0;
    bool opened = false;
    if (firstPictureOnly) {
        QEventLoop loop;
        auto check = [&] {
            if (player.isOpen() && (!player.hasVideo() || !player.currentImage().isNull()))
                loop.quit();
        };
        QObject::connect(&player, &MoviePlayer::opened, &loop, check);
        QObject::connect(&player, &MoviePlayer::frameChanged, &loop, check);
        QObject::connect(&player, &MoviePlayer::failed, &loop, [&](const QString &reason) {
            error = reason;
            loop.quit();
        });
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        player.setVolume(0);
        player.open(file);
        player.setRate(1);
        loop.exec();
        player.setRate(0);
        opened = player.isOpen();
        if (!opened && error.isEmpty())
            error = QStringLiteral("The movie did not open in time.");
    } else {
        opened = player.openAndWait(file, &error);
    }
    if (!opened) {
        std::printf("failed: %s\n", ToolText::utf8(error).constData());
        std::fflush(stdout);
        std::_Exit(1);
    }
    if (seek >= 0) {
        player.setCurrentTime({qint64(std::llround(seek * 600)), 600});
        runFor(200);
    }
    if (play > 0) {
        player.setRate(rate);
        runFor(int(play * 1000));
    }
    const QSize natural = player.naturalSize();
    std::printf("natural %dx%d\n", std::max(0, natural.width()), std::max(0, natural.height()));
    std::printf("duration %lld ms\n", qint64(std::llround(player.duration().seconds() * 1000)));
    if (play > 0)
        std::printf("position %lld ms rate %g\n", qint64(std::llround(player.currentTime().seconds() * 1000)),
                    player.rate());
    if (!player.hasVideo() && player.hasAudio() && !player.hasAudioOutput())
        std::printf("sound cannot be heard: no audio device\n");
    if (!grab.isEmpty()) {
        if (player.currentImage().isNull() && player.hasVideo())
            waitForFrame(player, 5000);
        view.repaint();
        if (!view.grab().save(grab)) {
            std::printf("failed: cannot write %s\n", ToolText::utf8(grab).constData());
            return 1;
        }
    }
    std::fflush(stdout);
    // Everything is written: the player's pipeline need not be taken down (that takes GStreamer
    // about 0.3 s, longer than the open).
    std::_Exit(0);
}
