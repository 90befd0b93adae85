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

// The tools serve scripts and probes: they draw offscreen unless a Qt platform is named (call
// before the application object is made).
inline void offscreenUnlessNamed()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Offscreen only where there is no display either, for tools that may also show their window.
inline void offscreenWithoutDisplay()
{
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
