#include "decoding/DecodeInterrupt.h"

namespace {

struct ThreadState {
    const std::atomic<bool> *cancel = nullptr;
    std::optional<DecodeInterrupt::Clock::time_point> deadline;
    DecodeInterrupt::Watch *watch = nullptr;
    // All the time this thread spent in pauses: an enclosing scope's deadline, restored when an
    // inner one ends, moves on by the pauses taken meanwhile too.
    DecodeInterrupt::Clock::duration paused{};
};

thread_local ThreadState state;

bool isSet(const std::atomic<bool> *flag) { return flag && flag->load(std::memory_order_relaxed); }

} // namespace

std::optional<DecodeInterrupt::Clock::time_point> DecodeInterrupt::Watch::deadline() const
{
    const Clock::rep ticks = m_deadline.load();
    if (ticks == none)
        return std::nullopt;
    return Clock::time_point(Clock::duration(ticks));
}

bool DecodeInterrupt::Watch::overdue(Clock::duration grace, Clock::time_point now) const
{
    // The pause first: a pause publishes its moved deadline before it ends, so a deadline read
    // after it was seen not paused is never one the pause has yet to move.
    if (paused())
        return false;
    const std::optional<Clock::time_point> due = deadline();
    return due && now >= *due + grace;
}

void DecodeInterrupt::Watch::publish(std::optional<Clock::time_point> deadline)
{
    m_deadline.store(deadline ? deadline->time_since_epoch().count() : none);
}

DecodeInterrupt::Scope::Scope(const std::atomic<bool> *cancel, Clock::duration timeLimit, Watch *watch)
    : m_previousCancel(state.cancel),
      m_previousDeadline(state.deadline),
      m_previousWatch(state.watch),
      m_pausedBefore(state.paused)
{
    const Clock::time_point deadline = Clock::now() + timeLimit;
    if (!state.deadline || deadline < *state.deadline)
        state.deadline = deadline;
    if (cancel)
        state.cancel = cancel;
    if (watch) {
        // A watch shows this scope's deadline from its start, whatever enclosed it.
        if (state.watch && state.watch != watch)
            state.watch->publish(std::nullopt);
        state.watch = watch;
    }
    if (state.watch)
        state.watch->publish(state.deadline);
}

DecodeInterrupt::Scope::~Scope()
{
    state.cancel = m_previousCancel;
    state.deadline = m_previousDeadline;
    if (state.deadline)
        *state.deadline += state.paused - m_pausedBefore;
    if (state.watch != m_previousWatch && state.watch)
        state.watch->publish(std::nullopt);
    state.watch = m_previousWatch;
    if (state.watch)
        state.watch->publish(state.deadline);
}

DecodeInterrupt::Pause::Pause() : m_start(Clock::now()), m_watch(state.watch)
{
    if (m_watch)
        ++m_watch->m_pauses;
}

DecodeInterrupt::Pause::~Pause()
{
    const Clock::duration lasted = Clock::now() - m_start;
    state.paused += lasted;
    if (state.deadline)
        *state.deadline += lasted;
    if (m_watch) {
        // The moved deadline is shown before the pause ends, so that it is never seen past.
        m_watch->publish(state.deadline);
        --m_watch->m_pauses;
    }
}

bool DecodeInterrupt::cancelled() { return isSet(state.cancel); }

const std::atomic<bool> *DecodeInterrupt::cancelFlag() { return state.cancel; }

bool DecodeInterrupt::shouldStop() { return cancelled() || (state.deadline && Clock::now() >= *state.deadline); }

std::optional<DecodeInterrupt::Clock::time_point> DecodeInterrupt::deadline() { return state.deadline; }

DecodeInterrupt::Clock::time_point DecodeInterrupt::deadlineWithin(Clock::duration limit, Clock::time_point from)
{
    const Clock::time_point own = from + limit;
    return state.deadline && *state.deadline < own ? *state.deadline : own;
}
