// What the command-line tools share when they start and when they answer.
#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdio>

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

// The answer to a request the tool turns down: "refused: TEXT" on standard output, status 1.
inline int refuse(const QString &text)
{
    std::printf("refused: %s\n", qPrintable(text));
    return 1;
}

} // namespace ToolStart
