#pragma once

#include <signal.h>

// For a handler that takes some faults itself and stands before another: a signal it does not
// take goes on as it would have without it, to the handler before it, or to the default action
// (a faulting instruction runs again and faults once more; a signal that was sent is sent again).
// Async-signal-safe.
inline void passSignalOn(int signal, siginfo_t *info, void *context, const struct sigaction &before)
{
    ::sigaction(signal, &before, nullptr);
    if (before.sa_flags & SA_SIGINFO) {
        if (before.sa_sigaction)
            before.sa_sigaction(signal, info, context);
    } else if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN) {
        before.sa_handler(signal);
    } else if (info->si_code <= 0) {
        ::raise(signal);
    }
}
