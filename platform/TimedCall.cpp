#include "platform/TimedCall.h"

#include <algorithm>
#include <deque>
#include <map>
#include <system_error>
#include <thread>
#include <vector>

namespace TimedCall::detail {

namespace {

// Threads whose call ended wait a while for the next one: an import makes a timed call or two for
// every file, and a thread made and ended for each costs more than the call. A thread given up on
// is still in its call and takes no other until it ends.
//
// A thread that leaves still ends afterwards (its thread-local data goes, Qt's among it, which uses
// Qt's statics): it is joined, by the next start or at the program's end, so that none is still
// ending while the program's statics are torn down. From the program's end on no thread leaves.
struct IdleThreads {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> calls;        // handed over, not yet taken
    int idle = 0;                                   // waiting for a call, taken or not
    int running = 0;                                // calls waited for at the end (see waitForCalls)
    std::condition_variable returned;               // one of them returned
    std::map<std::thread::id, std::thread> threads; // serving, by id
    std::vector<std::thread> leaving;               // out of their loop, to be joined
    bool ending = false;                            // the program is ending: no thread leaves
};

IdleThreads &idleThreads()
{
    static IdleThreads *const threads = new IdleThreads; // never destroyed: idle threads outlive main
    return *threads;
}

// How long a thread waits for another call, and how many wait at most.
constexpr auto idleLife = std::chrono::seconds(10);
constexpr int mostIdle = 32;

// Leaves the serving loop (under the lock): the thread is handed over to be joined.
void leave(IdleThreads &threads)
{
    const auto self = threads.threads.find(std::this_thread::get_id());
    if (self == threads.threads.end())
        return;
    threads.leaving.push_back(std::move(self->second));
    threads.threads.erase(self);
}

void serve(std::function<void()> body)
{
    IdleThreads &threads = idleThreads();
    for (;;) {
        body();
        body = nullptr; // what the call held goes with it, not with the wait for the next
        std::unique_lock lock(threads.mutex);
        if (threads.idle >= mostIdle && !threads.ending)
            return leave(threads);
        ++threads.idle;
        bool called;
        do
            called = threads.wake.wait_for(lock, idleLife, [&] { return !threads.calls.empty(); });
        while (!called && threads.ending);
        --threads.idle;
        if (!called)
            return leave(threads);
        body = std::move(threads.calls.front());
        threads.calls.pop_front();
    }
}

// Joins the threads that left (outside the lock: they take it no more).
void joinLeaving(IdleThreads &threads)
{
    std::vector<std::thread> left;
    {
        const std::lock_guard lock(threads.mutex);
        left.swap(threads.leaving);
    }
    for (std::thread &thread : left)
        thread.join();
}

} // namespace

bool startDetached(std::function<void()> body)
{
    IdleThreads &threads = idleThreads();
    joinLeaving(threads);
    const std::lock_guard lock(threads.mutex);
    if (threads.idle > int(threads.calls.size())) {
        threads.calls.push_back(std::move(body));
        threads.wake.notify_one();
        return true;
    }
    // Made under the lock, so that it is listed before it can leave.
    try {
        std::thread thread(serve, std::move(body));
        const std::thread::id id = thread.get_id();
        threads.threads.emplace(id, std::move(thread));
        return true;
    } catch (const std::system_error &) {
        return false;
    }
}

void counted(bool started)
{
    IdleThreads &threads = idleThreads();
    const std::lock_guard lock(threads.mutex);
    if (started)
        ++threads.running;
    else if (--threads.running == 0)
        threads.returned.notify_all();
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

bool TimedCall::waitForCalls(Clock::time_point deadline)
{
    detail::IdleThreads &threads = detail::idleThreads();
    bool returned;
    {
        std::unique_lock lock(threads.mutex);
        threads.ending = true;
        returned = threads.returned.wait_until(lock, deadline, [&] { return threads.running == 0; });
    }
    detail::joinLeaving(threads);
    return returned;
}
