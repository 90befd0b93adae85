// A call on a thread of its own, waited for until a deadline or Cancel: its result in time, and,
// given up on, its late result handed to the disposal once the call returns.

#include "platform/TimedCall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A call that blocks (as a stat on a stalled mount does) until the test lets it go.
struct Gate {
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
};

} // namespace

TEST(TimedCall, EndsAsTheCallTheDeadlineOrCancelComesFirst)
{
    enum class Stop { None, Deadline, CancelBefore, CancelWhileWaiting };
    const struct {
        const char *name;
        bool blocks;
        Stop stop;
        TimedCall::Ending ending;
    } cases[] = {
        {"returns in time", false, Stop::None, TimedCall::Ending::Returned},
        {"blocks past the deadline", true, Stop::Deadline, TimedCall::Ending::OutOfTime},
        {"cancelled before the wait", true, Stop::CancelBefore, TimedCall::Ending::Cancelled},
        {"cancelled while it waits", true, Stop::CancelWhileWaiting, TimedCall::Ending::Cancelled},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto gate = std::make_shared<Gate>();
        std::atomic<bool> cancel{c.stop == Stop::CancelBefore};
        std::promise<int> disposed;
        std::future<int> disposal = disposed.get_future();
        std::thread canceller;
        if (c.stop == Stop::CancelWhileWaiting)
            canceller = std::thread([&cancel] {
                std::this_thread::sleep_for(100ms);
                cancel.store(true);
            });
        // Only a deadline meant to pass is near: the others are far off, so that only Cancel or
        // the call's own end can end the wait.
        const auto deadline = TimedCall::Clock::now() + (c.stop == Stop::Deadline ? 200ms : 600s);
        const TimedCall::Outcome<int> outcome = TimedCall::run(
            [gate, blocks = c.blocks] {
                if (blocks)
                    gate->opened.wait();
                return 42;
            },
            deadline, &cancel, [&disposed](int &late) { disposed.set_value(late); });
        if (canceller.joinable())
            canceller.join();
        EXPECT_EQ(outcome.ending, c.ending);
        EXPECT_EQ(bool(outcome), c.ending == TimedCall::Ending::Returned);
        if (outcome) {
            EXPECT_EQ(*outcome.result, 42);
        }
        gate->open.set_value();
        if (c.ending == TimedCall::Ending::Returned) {
            EXPECT_EQ(disposal.wait_for(0s), std::future_status::timeout);
        } else {
            // The call given up on returns once let go, and its result goes to the disposal.
            ASSERT_EQ(disposal.wait_for(60s), std::future_status::ready);
            EXPECT_EQ(disposal.get(), 42);
        }
    }
}

TEST(TimedCall, AFailureInTimeIsThrownToTheCaller)
{
    const auto failing = [] {
        throw std::runtime_error("unreadable");
        return 0;
    };
    EXPECT_THROW(TimedCall::run(failing, TimedCall::Clock::now() + 600s, nullptr), std::runtime_error);
}
