// What the command-line tools share when they start and when they answer.
#pragma once

#include "ToolText.h"

#include <QEventLoop>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <functional>
#include <thread>

namespace ToolStart {

// Without a desktop session (cron, ssh, su) Qt says on standard error that XDG_RUNTIME_DIR is not
// set, once its platform starts. The tools keep nothing in a runtime folder, so that line is only
// noise among their answers; every other message goes where it went.
inline void quietWithoutRuntimeFolder()
{
    static bool installed = false;
    if (installed || !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    installed = true;
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
            return;
        if (previous)
            previous(type, context, text);
        else
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    });
}

// The tools serve scripts and probes: they draw offscreen unless a Qt platform is named (call
// before the application object is made).
inline void offscreenUnlessNamed()
{
    quietWithoutRuntimeFolder();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Offscreen only where there is no display either, for tools that may also show their window.
inline void offscreenWithoutDisplay()
{
    quietWithoutRuntimeFolder();
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        offscreenUnlessNamed();
}

// The answer to a request the tool turns down: "refused: TEXT" on standard output, status 1. The
// text may name a category or a user: its control characters are written out (ToolText).
inline int refuse(const QString &text)
{
    std::printf("refused: %s\n", ToolText::utf8(text).constData());
    return 1;
}

// Runs `work` on a thread of its own while this thread serves its events, for work that asks the
// GUI thread for something on the way (an import's document icons from the desktop's theme) and
// would otherwise wait for it in vain.
inline void runServingEvents(const std::function<void()> &work)
{
    QEventLoop loop;
    std::thread runner([&work, &loop] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    runner.join();
}

} // namespace ToolStart
