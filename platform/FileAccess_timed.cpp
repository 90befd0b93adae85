// Calls into an output's folder given up on at a limit: a destination on a mount that stopped
// answering holds up an output for one file's limit, and the files after it not at all.

#include "platform/FileAccess.h"

#include "platform/Localized.h"
#include "platform/TimedCall.h"

#include <QDir>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

namespace {

std::atomic<qint64> limitMilliseconds{60'000};

// The folders a call given up on is still stuck in, with how many such calls: further calls into
// them are given up on at once, until those calls end.
std::mutex stuckMutex;
std::map<QString, int> &stuckFolders()
{
    static std::map<QString, int> folders;
    return folders;
}

QString folderKey(const QString &folder) { return QDir::cleanPath(QDir(folder).absolutePath()); }

std::mutex hookMutex;
std::function<void(const QString &)> &callHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

} // namespace

std::chrono::milliseconds FileAccess::outputLimit() { return std::chrono::milliseconds(limitMilliseconds.load()); }

void FileAccess::setOutputLimit(std::chrono::milliseconds limit)
{
    limitMilliseconds = std::max<qint64>(1, limit.count());
}

void FileAccess::setOutputCallHook(std::function<void(const QString &folder)> hook)
{
    const std::lock_guard lock(hookMutex);
    callHook() = std::move(hook);
}

QString FileAccess::notAnsweringReason(const QString &folder)
{
    return localized("the folder %1 did not answer in time").arg(folder);
}

std::optional<bool> FileAccess::answerWithin(const QString &folder, std::function<bool()> call,
                                             const std::atomic_bool *cancel)
{
    const QString key = folderKey(folder);
    {
        const std::lock_guard lock(stuckMutex);
        if (stuckFolders().count(key))
            return std::nullopt;
    }
    // Whether the caller gave up on the call: a call that ends after that takes its folder off the
    // list of stuck ones.
    struct Waiting {
        std::mutex mutex;
        bool givenUp = false;
        bool ended = false;
    };
    const auto waiting = std::make_shared<Waiting>();
    std::function<void(const QString &)> hook;
    {
        const std::lock_guard lock(hookMutex);
        hook = callHook();
    }
    const TimedCall::Outcome<bool> outcome = TimedCall::run(
        [call = std::move(call), waiting, key, hook] {
            if (hook)
                hook(key);
            const bool answer = call();
            const std::lock_guard lock(waiting->mutex);
            waiting->ended = true;
            if (waiting->givenUp) {
                const std::lock_guard stuck(stuckMutex);
                if (auto at = stuckFolders().find(key); at != stuckFolders().end() && --at->second == 0)
                    stuckFolders().erase(at);
            }
            return answer;
        },
        TimedCall::Clock::now() + outputLimit(), cancel);
    if (outcome)
        return *outcome.result;
    const std::lock_guard lock(waiting->mutex);
    if (!waiting->ended && outcome.ending == TimedCall::Ending::OutOfTime) {
        waiting->givenUp = true;
        const std::lock_guard stuck(stuckMutex);
        ++stuckFolders()[key];
    }
    return std::nullopt;
}
