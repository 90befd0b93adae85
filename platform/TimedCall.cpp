#include "platform/TimedCall.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace TimedCall::detail {

bool startDetached(std::function<void()> body)
{
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (const std::system_error &) {
        return false;
    }
}

Ending await(Meeting &meeting, std::unique_lock<std::mutex> &lock, Clock::time_point deadline,
             const std::atomic<bool> *cancel)
{
    while (!meeting.finished) {
        const bool cancelled = cancel && cancel->load(std::memory_order_relaxed);
        if (cancelled || Clock::now() >= deadline) {
            meeting.abandoned = true;
            return cancelled ? Ending::Cancelled : Ending::OutOfTime;
        }
        // Short waits, so that Cancel is seen at once.
        meeting.done.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(50)));
    }
    return Ending::Returned;
}

} // namespace TimedCall::detail
