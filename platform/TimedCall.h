#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

// A call that may block in the kernel for good (a file on a network mount that stopped answering:
// stat, open, read and readdir wait for as long as the mount does, and no signal ends them) made on
// a thread of its own, and waited for until a deadline or a Cancel flag. A call given up on runs
// to its end on its thread all the same; its result is then dropped, or handed to `dispose` (on
// that thread) when it holds something that must be given back, such as open descriptors.
namespace TimedCall {

using Clock = std::chrono::steady_clock;

enum class Ending {
    Returned,  // the call ended in time: its result is there
    OutOfTime, // the deadline came first
    Cancelled, // the Cancel flag was set first
    NoThread,  // no thread could be started: the call was not made
};

template <typename Result>
struct Outcome {
    Ending ending = Ending::NoThread;
    std::optional<Result> result; // set when ending is Returned

    explicit operator bool() const { return result.has_value(); }
};

namespace detail {

// What the waiting caller and the calling thread share, whichever of them leaves last.
struct Meeting {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    bool uncounted = false; // no longer among the calls the program's end waits for
    std::exception_ptr failure;
};

// Starts `body` on a thread of the calls' own (one waiting idle, else a new one); false when none
// could be had.
bool startDetached(std::function<void()> body);
// Counts a call among those waitForCalls() waits for (`started`), or takes it off.
void counted(bool started);
// Takes the meeting's call off the count, once (under the meeting's mutex).
inline void uncount(Meeting &meeting)
{
    if (!meeting.uncounted) {
        meeting.uncounted = true;
        counted(false);
    }
}
// Waits (under `lock` on the meeting's mutex) until the call finished, the deadline passed or
// `cancel` was set; marks the meeting abandoned when it gives up.
Ending await(Meeting &meeting, std::unique_lock<std::mutex> &lock, Clock::time_point deadline,
             const std::atomic<bool> *cancel);

} // namespace detail

// Whether every call has returned by `deadline`, those that Cancel left included, but not those
// given up on at their deadline (stuck in the system): a program waits for them before its
// statics go, which a call still at work would use as they are torn down. The threads that ended
// have ended wholly by then, and from then on none ends by itself.
bool waitForCalls(Clock::time_point deadline);

// Runs `call` on a thread of its own and waits for its result until `deadline` or `cancel` (may be
// null). An exception the call throws in time is thrown here again.
template <typename Call, typename Result = std::invoke_result_t<Call &>>
Outcome<Result> run(Call call, Clock::time_point deadline, const std::atomic<bool> *cancel,
                    std::type_identity_t<std::function<void(Result &)>> dispose = {})
{
    static_assert(!std::is_void_v<Result>, "a timed call answers a value");
    struct Meeting : detail::Meeting {
        std::optional<Result> result;
    };
    const auto meeting = std::make_shared<Meeting>();
    detail::counted(true);
    const bool started =
        detail::startDetached([meeting, call = std::move(call), dispose = std::move(dispose)]() mutable {
            std::optional<Result> result;
            std::exception_ptr failure;
            try {
                result.emplace(call());
            } catch (...) {
                failure = std::current_exception();
            }
            std::unique_lock lock(meeting->mutex);
            if (meeting->abandoned) {
                lock.unlock();
                if (result && dispose)
                    dispose(*result);
                // Nothing of the call is left when the program's end stops waiting for it.
                result.reset();
                failure = nullptr;
                lock.lock();
            } else {
                meeting->result = std::move(result);
                meeting->failure = failure;
                meeting->finished = true;
                meeting->done.notify_all();
            }
            detail::uncount(*meeting);
        });
    if (!started) {
        detail::counted(false);
        return {Ending::NoThread, std::nullopt};
    }
    std::unique_lock lock(meeting->mutex);
    const Ending ending = detail::await(*meeting, lock, deadline, cancel);
    // A call past its deadline is taken to be stuck in the system for good: the program's end
    // does not wait for it. One that Cancel left returns soon, and is waited for.
    if (ending == Ending::OutOfTime)
        detail::uncount(*meeting);
    if (ending != Ending::Returned)
        return {ending, std::nullopt};
    if (meeting->failure)
        std::rethrow_exception(meeting->failure);
    return {Ending::Returned, std::move(meeting->result)};
}

} // namespace TimedCall
