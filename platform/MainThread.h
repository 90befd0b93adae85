#pragma once

#include <QObject>

#include <functional>

// Hand-offs from worker threads to the GUI thread.
class MainThread
{
public:
    static bool isCurrent();

    // Queues `work` to run on the main thread's event loop. With a `context` (an object living on
    // the main thread, such as the window that started the work), the call is dropped when the
    // context is destroyed before it runs, so a late result never reaches a closed window.
    static void post(std::function<void()> work, QObject *context = nullptr);

    // Runs `work` on the main thread and returns when it has run: at once when already there.
    static void runAndWait(const std::function<void()> &work);
};
