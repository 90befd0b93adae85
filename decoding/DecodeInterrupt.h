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

    // What another thread sees of one thread's deadline: the import's watchdog gives up on a file
    // whose thread is stuck past it in a call that no deadline reaches (a stat on a stalled mount).
    // A scope given a watch publishes its thread's deadline there for as long as it lasts, and a
    // pause on that thread marks the watch paused while it lasts.
    class Watch
    {
    public:
        Watch() = default;
        Watch(const Watch &) = delete;
        Watch &operator=(const Watch &) = delete;

        // The watched thread's deadline; none while no watched scope is open.
        std::optional<Clock::time_point> deadline() const;
        // True while the watched thread waits in a pause (its deadline then moves on).
        bool paused() const { return m_pauses.load() > 0; }
        // True when the watched thread is `grace` past its deadline and not in a pause.
        bool overdue(Clock::duration grace, Clock::time_point now = Clock::now()) const;

    private:
        friend class DecodeInterrupt;
        void publish(std::optional<Clock::time_point> deadline);

        static constexpr Clock::rep none = Clock::duration::max().count();
        std::atomic<Clock::rep> m_deadline{none};
        std::atomic<int> m_pauses{0};
    };

    class Scope
    {
    public:
        // `cancel` may be null: the enclosing scope's flag stays. A scope inside another keeps the
        // earlier of the two deadlines. `watch`, when given, shows the deadline to other threads
        // until the scope ends; an inner scope without one keeps publishing to the enclosing one's.
        Scope(const std::atomic<bool> *cancel, Clock::duration timeLimit, Watch *watch = nullptr);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        const std::atomic<bool> *m_previousCancel;
        std::optional<Clock::time_point> m_previousDeadline;
        Watch *m_previousWatch;
        Clock::duration m_pausedBefore; // the thread's paused time when the scope opened
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
        Watch *m_watch;
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
