// What a thread's deadline shows to another one through a watch, and how pauses move it on: the
// import's watchdog reads it to give up on a file stuck past its time.

#include "decoding/DecodeInterrupt.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using Clock = DecodeInterrupt::Clock;

TEST(DecodeInterrupt, AWatchShowsTheThreadsDeadlineAndItsPauses)
{
    const auto pause = [](Clock::duration length) {
        const DecodeInterrupt::Pause paused;
        std::this_thread::sleep_for(length);
    };
    const struct {
        const char *name;
        // Runs inside the watched scope (60 s); answers what the watch shows afterwards, less
        // the watched scope's own deadline when it opened.
        std::function<Clock::duration(DecodeInterrupt::Watch &)> inside;
        Clock::duration atLeast;
        Clock::duration below;
    } cases[] = {
        {"its own deadline", [](DecodeInterrupt::Watch &) { return 0s; }, 0s, 1ns},
        {"an inner scope keeps the earlier deadline",
         [](DecodeInterrupt::Watch &watch) {
             const Clock::time_point outer = *watch.deadline();
             const DecodeInterrupt::Scope inner(nullptr, 600s);
             return *watch.deadline() - outer;
         },
         0s, 1ns},
        {"an inner scope with an earlier deadline shows it",
         [](DecodeInterrupt::Watch &watch) {
             const Clock::time_point outer = *watch.deadline();
             const DecodeInterrupt::Scope inner(nullptr, 1s);
             return *watch.deadline() - outer;
         },
         -60s, -58s},
        {"a pause moves it on by its length",
         [&pause](DecodeInterrupt::Watch &watch) {
             const Clock::time_point before = *watch.deadline();
             pause(100ms);
             return *watch.deadline() - before;
         },
         100ms, 60s},
        {"a pause inside an inner scope moves the outer one on too",
         [&pause](DecodeInterrupt::Watch &watch) {
             const Clock::time_point before = *watch.deadline();
             {
                 const DecodeInterrupt::Scope inner(nullptr, 1s);
                 pause(100ms);
             }
             return *watch.deadline() - before;
         },
         100ms, 60s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DecodeInterrupt::Watch watch;
        EXPECT_FALSE(watch.deadline());
        Clock::duration shown;
        {
            const DecodeInterrupt::Scope scope(nullptr, 60s, &watch);
            ASSERT_TRUE(watch.deadline());
            EXPECT_EQ(*watch.deadline(), *DecodeInterrupt::deadline());
            shown = c.inside(watch);
            EXPECT_EQ(*watch.deadline(), *DecodeInterrupt::deadline());
        }
        EXPECT_GE(shown, c.atLeast);
        EXPECT_LT(shown, c.below);
        // Past the scope the thread is watched no more.
        EXPECT_FALSE(watch.deadline());
        EXPECT_FALSE(DecodeInterrupt::deadline());
    }
}

// A thread past its deadline is overdue only once past the grace too, and never while it waits
// its turn.
TEST(DecodeInterrupt, AWatchIsOverdueOnlyPastTheGraceAndNotWhilePaused)
{
    DecodeInterrupt::Watch watch;
    EXPECT_FALSE(watch.overdue(0s));
    const DecodeInterrupt::Scope scope(nullptr, 0s, &watch);
    EXPECT_TRUE(watch.overdue(0s));
    EXPECT_FALSE(watch.overdue(600s));
    EXPECT_FALSE(watch.paused());
    {
        const DecodeInterrupt::Pause outer;
        EXPECT_TRUE(watch.paused());
        {
            const DecodeInterrupt::Pause inner;
            EXPECT_TRUE(watch.paused());
        }
        EXPECT_TRUE(watch.paused());
        EXPECT_FALSE(watch.overdue(0s));
    }
    EXPECT_FALSE(watch.paused());
    EXPECT_TRUE(watch.overdue(0s, Clock::now() + 1ms));
}
