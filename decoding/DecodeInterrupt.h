#pragma once

#include <atomic>
#include <chrono>
#include <optional>

// Ends long decodes early. Whoever runs one file's decodes on a thread (the import, for each file)
// opens a scope with the longest time they may take and the flag its Cancel sets; the decoders on
// that thread ask shouldStop() between rows, stages or pages and give up when it answers true. A
// file whose header promises more work than its bytes hold then costs its own time limit at most.
// Without a scope a decode has only the limits of its own reader.
class DecodeInterrupt
{
public:
    using Clock = std::chrono::steady_clock;

    class Scope
    {
    public:
        // `cancel` may be null: the enclosing scope's flag stays. A scope inside another keeps the
        // earlier of the two deadlines.
        Scope(const std::atomic<bool> *cancel, Clock::duration timeLimit);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        const std::atomic<bool> *m_previousCancel;
        std::optional<Clock::time_point> m_previousDeadline;
    };

    // A wait that does not count against this thread's deadline (a turn at the larger decoder):
    // the deadline moves on by the time the pause lasted. Cancel still holds.
    class Pause
    {
    public:
        Pause();
        ~Pause();
        Pause(const Pause &) = delete;
        Pause &operator=(const Pause &) = delete;

    private:
        Clock::time_point m_start;
    };

    // True when this thread's decodes were cancelled or are past their deadline.
    static bool shouldStop();
    static bool cancelled();
    // This thread's Cancel flag, for a thread that watches a decode on this one's behalf; null
    // when there is none.
    static const std::atomic<bool> *cancelFlag();
    static std::optional<Clock::time_point> deadline();
    // The earlier of this thread's deadline and `from` + `limit`.
    static Clock::time_point deadlineWithin(Clock::duration limit, Clock::time_point from = Clock::now());
};
