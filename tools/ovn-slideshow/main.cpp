// Runs a slide show offscreen, stepping as soon as each slide is shown instead of waiting for its
// timer, and prints what it shows:
//   ovn-slideshow [--size WxH] [--grab DIR] FILE...
// "slide N of M FILE" for each slide shown, "skipped FILE" for a file that cannot be read; with
// --grab, the screen of slide N is written to DIR/slide-N.png.
#include "viewers/OVNSlideShow.h"
#include "viewers/OVNSlideShowView.h"
#include "tools/common/ToolNumber.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>

namespace {
constexpr const char *usageText = "usage: ovn-slideshow [--size WxH] [--grab DIR] FILE...\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}
} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText, {{"--size", 1}, {"--grab", 1}}))
        return *end;
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QSize size(1920, 1080);
    QString grabDir;
    QStringList files;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--size") && i + 1 < args.size()) {
            const auto m = QRegularExpression(QStringLiteral("^(\\d+)x(\\d+)$")).match(args[++i]);
            if (!m.hasMatch())
                return usage();
            const std::optional<int> w = ToolNumber::integer32("--size", m.captured(1), 1, 16384);
            const std::optional<int> h = w ? ToolNumber::integer32("--size", m.captured(2), 1, 16384) : std::nullopt;
            if (!h)
                return 2;
            size = QSize(*w, *h);
        } else if (a == QLatin1String("--grab") && i + 1 < args.size()) {
            grabDir = args[++i];
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage();
        } else {
            files.append(a);
        }
    }
    if (files.isEmpty())
        return usage();
    if (!grabDir.isEmpty() && !QDir().mkpath(grabDir)) {
        std::printf("failed: cannot make %s\n", ToolText::utf8(grabDir).constData());
        return 1;
    }

    QPointer<OVNSlideShow> show = new OVNSlideShow;
    show->setFiles(files);
    show->setScreenSize(size);
    show->setInterval(24 * 3600 * 1000); // steps come from here, not from the timer
    int status = 0;
    QObject::connect(show, &OVNSlideShow::slideShown, &app, [&](int index, const QString &path) {
        std::printf("slide %d of %lld %s\n", index + 1, qint64(files.size()), ToolText::utf8(path).constData());
        std::fflush(stdout);
        if (!grabDir.isEmpty()) {
            const QString out = QDir(grabDir).filePath(QStringLiteral("slide-%1.png").arg(index + 1));
            if (!show->view()->grab().save(out)) {
                std::printf("failed: cannot write %s\n", ToolText::utf8(out).constData());
                status = 1;
            }
        }
        QTimer::singleShot(0, show, [&] {
            if (show)
                show->slideShowTimer();
        });
    });
    QObject::connect(show, &OVNSlideShow::slideSkipped, &app, [&](int, const QString &path) {
        std::printf("skipped %s\n", ToolText::utf8(path).constData());
        std::fflush(stdout);
        // Its note holds the place like a slide; the next step comes from here too.
        QTimer::singleShot(0, show, [&] {
            if (show)
                show->slideShowTimer();
        });
    });
    QObject::connect(show, &OVNSlideShow::ended, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    show->startSlideShow();
    if (show && show->window()) {
        // No real screen here: the show's screen is the size asked for.
        show->window()->showNormal();
        show->window()->setGeometry(QRect(QPoint(), size));
    }
    if (show && show->isRunning())
        app.exec();
    return status;
}
