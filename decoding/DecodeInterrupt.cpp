#include "decoding/DecodeInterrupt.h"

namespace {

struct ThreadState {
    const std::atomic<bool> *cancel = nullptr;
    std::optional<DecodeInterrupt::Clock::time_point> deadline;
};

thread_local ThreadState state;

bool isSet(const std::atomic<bool> *flag) { return flag && flag->load(std::memory_order_relaxed); }

} // namespace

DecodeInterrupt::Scope::Scope(const std::atomic<bool> *cancel, Clock::duration timeLimit)
    : m_previousCancel(state.cancel),
      m_previousDeadline(state.deadline)
{
    const Clock::time_point deadline = Clock::now() + timeLimit;
    if (!state.deadline || deadline < *state.deadline)
        state.deadline = deadline;
    if (cancel)
        state.cancel = cancel;
}

DecodeInterrupt::Scope::~Scope()
{
    state.cancel = m_previousCancel;
    state.deadline = m_previousDeadline;
}

DecodeInterrupt::Pause::Pause() : m_start(Clock::now()) {}

DecodeInterrupt::Pause::~Pause()
{
    if (state.deadline)
        *state.deadline += Clock::now() - m_start;
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
