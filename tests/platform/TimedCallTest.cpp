// A call on a thread of its own, waited for until a deadline or Cancel: its result in time, and,
// given up on, its late result handed to the disposal once the call returns.

#include "platform/TimedCall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

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

// Calls one after another are served by a thread that waits for the next; a call given up on
// keeps its thread, and the next call is not held behind it; what a call captured is given back
// when it ends, not when its thread does.
TEST(TimedCall, ThreadsServeCallAfterCallButNeverBehindAStuckOne)
{
    // The kernel's thread id: a new thread may be given an ended one's std::thread::id.
    const auto threadOf = [] { return ::gettid(); };
    const auto far = [] { return TimedCall::Clock::now() + 600s; };
    const TimedCall::Outcome<pid_t> first = TimedCall::run(threadOf, far(), nullptr);
    ASSERT_TRUE(first);
    // The first call's thread goes back to waiting just after it answers.
    pid_t second = 0;
    for (int tries = 0; tries < 100 && second != *first.result; ++tries) {
        std::this_thread::sleep_for(10ms);
        second = *TimedCall::run(threadOf, far(), nullptr).result;
    }
    EXPECT_EQ(second, *first.result);

    const auto gate = std::make_shared<Gate>();
    std::promise<pid_t> stuckThread;
    const TimedCall::Outcome<int> stuck = TimedCall::run(
        [gate, &stuckThread] {
            stuckThread.set_value(::gettid());
            gate->opened.wait();
            return 1;
        },
        TimedCall::Clock::now() + 100ms, nullptr);
    EXPECT_EQ(stuck.ending, TimedCall::Ending::OutOfTime);
    const pid_t stuckId = stuckThread.get_future().get();
    for (int i = 0; i < 5; ++i) {
        const TimedCall::Outcome<pid_t> meanwhile = TimedCall::run(threadOf, TimedCall::Clock::now() + 10s, nullptr);
        ASSERT_TRUE(meanwhile);
        EXPECT_NE(*meanwhile.result, stuckId);
    }
    gate->open.set_value();

    auto held = std::make_shared<int>(7);
    const std::weak_ptr<int> watched = held;
    const TimedCall::Outcome<int> holding = TimedCall::run([held] { return *held; }, far(), nullptr);
    ASSERT_TRUE(holding);
    EXPECT_EQ(*holding.result, 7);
    held.reset();
    bool released = watched.expired();
    for (int tries = 0; tries < 200 && !released; ++tries) {
        std::this_thread::sleep_for(5ms);
        released = watched.expired();
    }
    EXPECT_TRUE(released) << "an idle thread still holds what its last call captured";
}

// The program's end waits for a call that Cancel left (it returns soon), not for one given up on
// at its deadline (stuck in the system for good), nor for idle threads.
TEST(TimedCall, TheProgramsEndWaitsForCallsCancelLeftButNotForStuckOnes)
{
    EXPECT_TRUE(TimedCall::waitForCalls(TimedCall::Clock::now() + 10s));
    for (const bool cancelled : {true, false}) {
        SCOPED_TRACE(cancelled ? "left by Cancel" : "past its deadline");
        const auto gate = std::make_shared<Gate>();
        std::atomic<bool> cancel{cancelled};
        const TimedCall::Outcome<int> outcome = TimedCall::run(
            [gate] {
                gate->opened.wait();
                return 1;
            },
            TimedCall::Clock::now() + (cancelled ? 600s : 100ms), &cancel);
        EXPECT_EQ(outcome.ending, cancelled ? TimedCall::Ending::Cancelled : TimedCall::Ending::OutOfTime);
        EXPECT_EQ(TimedCall::waitForCalls(TimedCall::Clock::now() + 200ms), !cancelled);
        gate->open.set_value();
        EXPECT_TRUE(TimedCall::waitForCalls(TimedCall::Clock::now() + 10s));
    }
}

// Threads beyond those kept waiting end after their call; the program's end finds each of them
// wholly ended, what it held for itself alone (Qt's thread data among it) included, since the
// program's statics are torn down next. The status of a fresh process (the end comes once): 0 when
// so, 2 when no thread ended, 3 when the end came while one was still ending.
namespace {

int endWithThreadsThatEnded()
{
    static std::atomic<int> ending{0}, ended{0};
    struct Tail {
        ~Tail()
        {
            ++ending;
            std::this_thread::sleep_for(100ms);
            ++ended;
        }
    };
    // More calls at once than threads are kept waiting: the rest end after their call.
    constexpr int calls = 48;
    std::latch together(calls);
    std::vector<std::future<TimedCall::Outcome<int>>> outcomes;
    for (int i = 0; i < calls; ++i)
        outcomes.push_back(std::async(std::launch::async, [&together] {
            return TimedCall::run(
                [&together] {
                    static thread_local Tail tail;
                    (void)&tail;
                    together.arrive_and_wait();
                    return 1;
                },
                TimedCall::Clock::now() + 60s, nullptr);
        }));
    for (auto &outcome : outcomes)
        if (!outcome.get())
            return 1;
    for (int tries = 0; tries < 1000 && ending.load() == 0; ++tries)
        std::this_thread::sleep_for(1ms);
    if (ending.load() == 0)
        return 2;
    if (!TimedCall::waitForCalls(TimedCall::Clock::now() + 10s))
        return 1;
    return ended.load() == ending.load() ? 0 : 3;
}

} // namespace

TEST(TimedCall, TheProgramsEndOutlastsTheThreadsThatEnded)
{
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(_exit(endWithThreadsThatEnded()), testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}
