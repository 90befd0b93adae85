#include "decoding/MediaDecoder.h"

#include "decoding/ConfinementNotice.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/DecodeReport.h"
#include "decoding/DecoderSpawn_p.h"
#include "decoding/MediaDecoder_p.h"
#include "decoding/PictureRows.h"
#include "platform/FileAccess.h"
#include "platform/TimedCall.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <set>
#include <utility>
#include <vector>

using Refusal = ImageFileReader::Facts::Refusal;
using Clock = std::chrono::steady_clock;

namespace {

// The children the templates started, and the memory they held (see MediaDecoder::endedChildren).
struct ChildCount {
    std::mutex mutex;
    int started = 0;
    qint64 endedTemplatesPeaks = 0; // the largest child's peak of each template that has ended
    int endedTemplates = 0;         // the ended templates that started a child
};

// Never destroyed, as the list of live children below: decoders given back at the program's end
// count their children after the statics made before them are gone.
ChildCount &childCount()
{
    static ChildCount *const count = new ChildCount;
    return *count;
}

// The children for one file alive now, by the pids their templates told (see
// MediaDecoder::isChildForOneFile).
struct LiveChildren {
    std::mutex mutex;
    std::set<pid_t> pids;
};

LiveChildren &liveChildren()
{
    static LiveChildren *const live = new LiveChildren;
    return *live;
}

} // namespace

struct MediaDecoder::Process {
    pid_t pid = -1;      // the template (see DecoderProtocol::ChildNote)
    int socket = -1;     // to the template
    pid_t childPid = -1; // the child that answers the request, and the socket to it
    int child = -1;
    // A process handle on that child (see childHandle), -1 where none could be had: its memory is
    // read, and a child that lingers after its answer is ended, through this only.
    int childHandle = -1;
    // The child whose end the template has not told yet, and the most any of its children held:
    // a template has one child at a time, so its children together never hold more.
    pid_t unreported = -1;
    qint64 largestChildPeak = 0;
    bool startedChildren = false;
    Use use = Use::Thumbnail;
    bool large = false; // the larger decoder, taken by one file at a time
    bool movie = false; // has opened a movie: its state is no next file's

    ~Process();

    void noteStarted(pid_t started)
    {
        unreported = started;
        startedChildren = true;
        {
            const std::lock_guard lock(liveChildren().mutex);
            liveChildren().pids.insert(started);
        }
        const std::lock_guard lock(childCount().mutex);
        ++childCount().started;
    }

    void noteEnded(const DecoderProtocol::ChildNote &note)
    {
        largestChildPeak = std::max(largestChildPeak, qint64(std::max(note.peakKiB, 0)) * 1024);
        if (note.pid == unreported)
            unreported = -1;
        const std::lock_guard lock(liveChildren().mutex);
        liveChildren().pids.erase(pid_t(note.pid));
    }

    void awaitLastNote();

    void forgetChild()
    {
        if (childHandle >= 0)
            ::close(childHandle);
        childHandle = -1;
        childPid = -1;
    }
};

namespace {

constexpr qint64 mib = qint64(1) << 20;

// One budget for all decoders: eight thumbnail decoders at once (an import's threads) and the
// larger decoder, taken by one file at a time, beside the program itself stay within 2 GiB. The
// file in the larger decoder holds no thumbnail decoder meanwhile: 7 x 176 + 640 MiB leave the
// program 176 MiB. A thumbnail decoder reduces pictures row by row where the format allows; the
// larger one decodes whole what only can be (a 61-megapixel RAW file without a preview).
constexpr qint64 smallDecoderBytes = 176 * mib;
constexpr qint64 largeDecoderBytes = 640 * mib;

qint64 memoryLimitOf(bool large) { return large ? largeDecoderBytes : smallDecoderBytes; }

// In sanitizer builds a data limit cannot be set (the sanitizers reserve terabytes); the caller
// then watches the decoder's resident memory instead.
#ifdef OVN_DECODER_WATCHED
constexpr bool watchResidentMemory = true;
#else
constexpr bool watchResidentMemory = false;
#endif

QString programPath()
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString folder = QCoreApplication::applicationDirPath();
        candidates << folder + QLatin1Char('/') + QLatin1String(DecoderProtocol::programName)
                   << folder + QStringLiteral("/../lib/ostrevan/") + QLatin1String(DecoderProtocol::programName);
    }
#ifdef OVN_DECODER_BUILD_PATH
    candidates << QStringLiteral(OVN_DECODER_BUILD_PATH);
#endif
    for (const QString &candidate : std::as_const(candidates))
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    return {};
}

// Idle decoders, by use. A caller takes one or starts one: nobody waits for another's.
class Pool
{
public:
    std::unique_ptr<MediaDecoder::Process> take(MediaDecoder::Use use, bool large)
    {
        const std::lock_guard lock(m_mutex);
        for (auto it = m_idle.begin(); it != m_idle.end();) {
            int status = 0;
            if ((*it)->use != use || (*it)->large != large) {
                ++it;
            } else if (::waitpid((*it)->pid, &status, WNOHANG) != 0) {
                // Ended while idle (by someone else): not to be blamed on the next file.
                (*it)->pid = -1;
                it = m_idle.erase(it);
            } else {
                std::unique_ptr<MediaDecoder::Process> process = std::move(*it);
                m_idle.erase(it);
                return process;
            }
        }
        return nullptr;
    }

    void give(std::unique_ptr<MediaDecoder::Process> process)
    {
        std::unique_ptr<MediaDecoder::Process> surplus;
        const std::lock_guard lock(m_mutex);
        // As many as the busiest import keeps busy, and the larger one; more would hold memory for
        // nothing.
        if (m_idle.size() >= 9)
            surplus = std::move(process);
        else
            m_idle.push_back(std::move(process));
    }

    void clear()
    {
        std::vector<std::unique_ptr<MediaDecoder::Process>> ended;
        const std::lock_guard lock(m_mutex);
        ended.swap(m_idle);
    }

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<MediaDecoder::Process>> m_idle;
};

Pool &pool()
{
    // Never destroyed: at the program's end the decoders see their sockets close and end.
    static Pool *shared = new Pool;
    return *shared;
}

// Decoders are started from one thread that lives as long as the program: a decoder's
// parent-death signal comes when the thread that started it ends, and a pooled decoder outlives
// the thread that first needed it.
void onSpawningThread(const std::function<void()> &job)
{
    struct Spawner {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::packaged_task<void()>> jobs;
    };
    // Never destroyed: the thread serves until the program ends.
    static Spawner *const spawner = [] {
        auto *made = new Spawner;
        std::thread([made] {
            for (;;) {
                std::unique_lock lock(made->mutex);
                made->wake.wait(lock, [made] { return !made->jobs.empty(); });
                std::packaged_task<void()> next = std::move(made->jobs.front());
                made->jobs.pop_front();
                lock.unlock();
                next();
            }
        }).detach();
        return made;
    }();
    std::packaged_task<void()> task(job);
    std::future<void> done = task.get_future();
    {
        const std::lock_guard lock(spawner->mutex);
        spawner->jobs.push_back(std::move(task));
    }
    spawner->wake.notify_one();
    done.wait();
}

std::unique_ptr<MediaDecoder::Process> start(MediaDecoder::Use use, bool large)
{
    static const QString program = programPath();
    if (program.isEmpty())
        return nullptr;
    ConfinementNotice::sayOnceIfMissing();
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return nullptr;
    // The decoder's end above the standard descriptors, so that dup2 onto 3 always clears its
    // close-on-exec flag.
    const int childEnd = ::fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
    ::close(ends[1]);
    if (childEnd < 0) {
        ::close(ends[0]);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // Whatever the libraries print stays off the terminal.
    if (qEnvironmentVariableIsEmpty("OVN_DECODER_STDERR"))
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, childEnd, DecoderProtocol::socketDescriptor);
    const QByteArray programBytes = QFile::encodeName(program);
    const QByteArray memory = QByteArray::number(watchResidentMemory ? 0 : memoryLimitOf(large));
    // A thumbnail decoder reads one file among many at once: one thread of its own is enough. The
    // larger decoder reads what needs more memory than others, whatever it reads on one thread;
    // a movie it opens gets as many threads as its budget holds (see MovieThreads.h), which the
    // request says.
    const QByteArray threads = QByteArray::number(use == MediaDecoder::Use::Thumbnail || large ? 1 : 0);
    const QByteArray parent = QByteArray::number(::getpid());
    char *argv[] = {const_cast<char *>(programBytes.constData()), const_cast<char *>(memory.constData()),
                    const_cast<char *>(threads.constData()), const_cast<char *>(parent.constData()), nullptr};
    DecoderSpawn::Environment environment;
    const DecoderSpawn::Attributes attributes;
    pid_t child = -1;
    int spawned = 0;
    onSpawningThread([&] {
        spawned = posix_spawn(&child, programBytes.constData(), &actions, attributes.get(), argv, environment.get());
    });
    posix_spawn_file_actions_destroy(&actions);
    ::close(childEnd);
    if (spawned != 0) {
        ::close(ends[0]);
        return nullptr;
    }
    auto process = std::make_unique<MediaDecoder::Process>();
    process->pid = child;
    process->socket = ends[0];
    process->use = use;
    process->large = large;
    return process;
}

// The openings of the file `first` is one of, `first` among them: the others open the same file,
// whatever happens to its name meanwhile.
std::vector<int> openingsFrom(int first)
{
    std::vector<int> descriptors{first};
    const QByteArray same = "/proc/self/fd/" + QByteArray::number(first);
    while (descriptors.size() < size_t(DecoderProtocol::fileOpenings)) {
        const int other = ::open(same.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (other < 0)
            break;
        descriptors.push_back(other);
    }
    return descriptors;
}

#ifdef OVN_DECODER_TEST_TRIGGERS
// Test builds: a name holding this text opens as on a network mount that stopped answering.
bool stallsOpeningForTest(const QString &path)
{
    static const QString stalled = qEnvironmentVariable("OVN_DECODER_TEST_STALL_OPEN");
    return !stalled.isEmpty() && path.contains(stalled);
}
#endif

// The openings of a request's file that go to the decoder with it (see DecoderFiles.h): the
// decoder may open none of the user's files by name. None for a request without a file, for a
// file this process cannot open, and for anything but a regular file (a pipe or a device would
// be read for ever).
std::vector<int> openingsOf(const QString &path)
{
    std::vector<int> descriptors;
    if (path.isEmpty())
        return descriptors;
#ifdef OVN_DECODER_TEST_TRIGGERS
    if (stallsOpeningForTest(path))
        std::this_thread::sleep_for(std::chrono::seconds(30));
#endif
    // A file held for its import: the first opening is made again where it was found, and is that
    // file; the others open the same file as the first.
    int first = -1;
    if (std::optional<int> held = FileAccess::openHeld(path)) {
        if (*held < 0)
            return descriptors;
        first = *held;
    } else {
        // Walked to as a path the user names: another account's link on the way is not followed
        // (an output, a viewer would hand its target to the decoder), and only a regular file is
        // opened.
        first = FileAccess::openFound(path);
        if (first < 0)
            return descriptors;
    }
    return openingsFrom(first);
}

void closeAll(const std::vector<int> &descriptors)
{
    for (const int fd : descriptors)
        ::close(fd);
}

enum class Opening { Opened, OutOfTime, Cancelled };

// Opening a file on a network mount that stopped answering blocks in the kernel for as long as the
// mount does, and no signal ends it: the opening runs on a thread of its own, which the caller
// gives up on at the file's deadline or Cancel. Given up, the thread closes what it opened
// whenever its opening returns. A file held on a local disk's file system is opened here.
Opening openWithin(const QString &path, Clock::time_point deadline, const std::atomic<bool> *cancel,
                   std::vector<int> &descriptors)
{
    if (path.isEmpty())
        return Opening::Opened;
    // A file held on a local disk opens again at once (from the folder held open, on the file
    // system it was found on, which waits on no server): made here, its openings cost no hand-over
    // to a thread and back, which for a small file costs more than the openings themselves.
    bool local = FileAccess::heldOnLocalFileSystem(path);
#ifdef OVN_DECODER_TEST_TRIGGERS
    local = local && !stallsOpeningForTest(path);
#endif
    if (local) {
        if (const std::optional<int> held = FileAccess::openHeld(path)) {
            if (*held >= 0)
                descriptors = openingsFrom(*held);
            return Opening::Opened;
        }
    }
    TimedCall::Outcome<std::vector<int>> opening = TimedCall::run([path] { return openingsOf(path); }, deadline, cancel,
                                                                  [](std::vector<int> &late) { closeAll(late); });
    switch (opening.ending) {
    case TimedCall::Ending::Returned:
        descriptors = std::move(*opening.result);
        return Opening::Opened;
    case TimedCall::Ending::NoThread:
        // No thread to be had: opened here, as a last resort.
        descriptors = openingsOf(path);
        return Opening::Opened;
    case TimedCall::Ending::Cancelled:
        return Opening::Cancelled;
    case TimedCall::Ending::OutOfTime:
        break;
    }
    return Opening::OutOfTime;
}

class RequestFile
{
public:
    explicit RequestFile(std::vector<int> descriptors) : m_descriptors(std::move(descriptors)) {}
    ~RequestFile() { closeAll(m_descriptors); }
    RequestFile(const RequestFile &) = delete;
    RequestFile &operator=(const RequestFile &) = delete;
    const std::vector<int> &descriptors() const { return m_descriptors; }

private:
    std::vector<int> m_descriptors;
};

qint64 residentBytes(pid_t pid)
{
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

enum class Wait { Done, Ended, OutOfTime, Cancelled, OutOfMemory };

// Reads exactly `size` bytes, ending the wait at the deadline or Cancel.
Wait receive(const MediaDecoder::Process &process, char *into, qint64 size, Clock::time_point deadline,
             const std::atomic<bool> *cancel)
{
    while (size > 0) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return Wait::Cancelled;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return Wait::OutOfTime;
        if (watchResidentMemory && residentBytes(process.childPid) > memoryLimitOf(process.large))
            return Wait::OutOfMemory;
        // Short waits, so that Cancel is seen at once.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        pollfd ready{process.child, POLLIN, 0};
        const int polled = ::poll(&ready, 1, int(std::clamp<long long>(left, 1, 50)));
        if (polled < 0 && errno != EINTR)
            return Wait::Ended;
        if (polled <= 0)
            continue;
        const ssize_t count = ::recv(process.child, into, size_t(std::min<qint64>(size, qint64(1) << 20)), 0);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            return Wait::Ended;
        into += count;
        size -= count;
    }
    return Wait::Done;
}

// The parent of `pid` as the process tree says now (0: not known).
pid_t parentOf(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char line[1024];
    const ssize_t count = ::read(fd, line, sizeof line - 1);
    ::close(fd);
    if (count <= 0)
        return 0;
    line[count] = '\0';
    // "PID (NAME) STATE PPID ...": the name may hold anything but ends at the last parenthesis.
    const char *close = std::strrchr(line, ')');
    int parent = 0;
    return close && std::sscanf(close + 1, " %*c %d", &parent) == 1 ? pid_t(parent) : 0;
}

// Whether the process a handle names has ended (or the handle names none).
bool hasEnded(int handle)
{
    pollfd ended{handle, POLLIN, 0};
    return handle < 0 || ::poll(&ended, 1, 0) != 0;
}

// Large pictures are read straight from the decoder's memory until the system refuses it once
// (a policy that forbids reading a child's memory): from then on they come through the socket.
std::atomic<bool> directReadsAllowed{true};
std::atomic<int> directReadsTaken{0};

enum class DirectRead { Done, Refused, Lied };

// Copies `size` bytes at the decoder's `address` (see readDirectly).
DirectRead readMemory(pid_t pid, qint64 address, uchar *into, qint64 size)
{
    while (size > 0) {
        iovec local{into, size_t(size)};
        iovec remote{reinterpret_cast<void *>(quintptr(address)), size_t(size)};
        const ssize_t count = ::process_vm_readv(pid, &local, 1, &remote, 1, 0);
        if (count > 0) {
            into += count;
            address += count;
            size -= count;
            continue;
        }
        if (count < 0 && errno == ESRCH)
            return DirectRead::Refused;
        if (count < 0 && (errno == EPERM || errno == EACCES || errno == ENOSYS)) {
            directReadsAllowed.store(false);
            return DirectRead::Refused;
        }
        return DirectRead::Lied;
    }
    return DirectRead::Done;
}

// Copies `size` bytes at the decoder's `address` into `into`, from the process `handle` names
// (its pid `pid`). Refused where the system does not let this process read the decoder's memory,
// where no handle is held, or where the decoder has ended (which the word that follows finds
// out): what was read then may be another process's, which took the pid up since, and is not
// used. Lied where nothing, or not all of it, is there.
DirectRead readDirectly(int handle, pid_t pid, qint64 address, uchar *into, qint64 size)
{
    if (hasEnded(handle))
        return DirectRead::Refused;
    const DirectRead read = readMemory(pid, address, into, size);
    return read == DirectRead::Done && hasEnded(handle) ? DirectRead::Refused : read;
}

// Why a child that ended by itself ended: out of memory (its own exit), ended from outside (a
// signal that ends processes, which it never sends itself) or a fault (any other end).
Refusal refusalOf(int status)
{
    if (WIFEXITED(status) && WEXITSTATUS(status) == DecoderProtocol::exitOutOfMemory)
        return Refusal::TooLarge;
    if (WIFSIGNALED(status)) {
        switch (WTERMSIG(status)) {
        case SIGKILL:
        case SIGTERM:
        case SIGINT:
        case SIGHUP:
        case SIGQUIT:
            return Refusal::EndedFromOutside;
        default:
            break;
        }
    }
    return Refusal::Crashed;
}

// The template's next note, within `deadline`; nullopt when it did not come (the template ended,
// or the wait was cut short: `wait` says which). A note that starts a child carries its socket.
std::optional<DecoderProtocol::ChildNote> receiveNote(int socket, int &childSocket, Clock::time_point deadline,
                                                      const std::atomic<bool> *cancel, Wait &wait)
{
    DecoderProtocol::ChildNote note;
    char *into = reinterpret_cast<char *>(&note);
    size_t left = sizeof note;
    while (left > 0) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            wait = Wait::Cancelled;
            return std::nullopt;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            wait = Wait::OutOfTime;
            return std::nullopt;
        }
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        pollfd ready{socket, POLLIN, 0};
        const int polled = ::poll(&ready, 1, int(std::clamp<long long>(remaining, 1, 50)));
        if (polled < 0 && errno != EINTR) {
            wait = Wait::Ended;
            return std::nullopt;
        }
        if (polled <= 0)
            continue;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        iovec part{into, left};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t count = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0) {
            wait = Wait::Ended;
            return std::nullopt;
        }
        for (cmsghdr *header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
                continue;
            for (size_t i = 0; i < (header->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
                if (childSocket < 0)
                    childSocket = fd;
                else
                    ::close(fd);
            }
        }
        into += count;
        left -= size_t(count);
    }
    wait = Wait::Done;
    return note;
}

// Takes the child the template started for the request just sent, passing over the notes of
// children that ended before.
Wait receiveChild(MediaDecoder::Process &process, Clock::time_point deadline, const std::atomic<bool> *cancel)
{
    for (;;) {
        int socket = -1;
        Wait wait = Wait::Done;
        const std::optional<DecoderProtocol::ChildNote> note =
            receiveNote(process.socket, socket, deadline, cancel, wait);
        if (note && note->kind == DecoderProtocol::childStarted && socket >= 0 && note->pid > 0) {
            process.child = socket;
            process.childPid = pid_t(note->pid);
            process.childHandle = DecoderProcesses::childHandle(process.childPid, process.pid);
            process.noteStarted(process.childPid);
            return Wait::Done;
        }
        if (socket >= 0)
            ::close(socket);
        if (!note)
            return wait;
        if (note->kind != DecoderProtocol::childEnded)
            return Wait::Ended;
        process.noteEnded(*note);
    }
}

// Why the request's child ended by itself, as its template tells. A template that says nothing is
// ended: the process then holds no template any more (its socket is closed).
Refusal endedBecause(MediaDecoder::Process &process, bool *needsWholeDecoder = nullptr)
{
    ::close(process.child);
    process.child = -1;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(1000);
    for (;;) {
        int socket = -1;
        Wait wait = Wait::Done;
        const std::optional<DecoderProtocol::ChildNote> note =
            receiveNote(process.socket, socket, deadline, nullptr, wait);
        if (socket >= 0)
            ::close(socket);
        if (!note)
            break;
        if (note->kind == DecoderProtocol::childEnded)
            process.noteEnded(*note);
        if (note->kind == DecoderProtocol::childEnded && note->pid == process.childPid) {
            process.forgetChild();
            if (needsWholeDecoder)
                *needsWholeDecoder = WIFEXITED(note->status)
                                     && WEXITSTATUS(note->status) == DecoderProtocol::exitNeedsWholeDecoder;
            return refusalOf(note->status);
        }
    }
    process.forgetChild();
    ::close(process.socket);
    process.socket = -1;
    // Its socket closed: it has ended or is ending. One that does not end is killed and left.
    const std::optional<int> status = DecoderProcesses::endWithin(process.pid, std::chrono::milliseconds(1000), false);
    process.pid = -1;
    return status ? refusalOf(*status) : Refusal::Crashed;
}

} // namespace

void MediaDecoder::Process::awaitLastNote()
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(250);
    while (unreported > 0) {
        int received = -1;
        Wait wait = Wait::Done;
        const std::optional<DecoderProtocol::ChildNote> note = receiveNote(socket, received, deadline, nullptr, wait);
        if (received >= 0)
            ::close(received);
        if (!note)
            break;
        if (note->kind == DecoderProtocol::childEnded)
            noteEnded(*note);
    }
}

namespace {

// The request's child has answered: it ends, and its template goes on. One that lingers (a file
// took it over) is ended here, through its handle: the template may signal no process, and waits
// for this child's end before it forks the next.
void endChild(MediaDecoder::Process &process)
{
    if (process.child >= 0)
        ::close(process.child);
    process.child = -1;
    if (process.childHandle >= 0)
        ::syscall(SYS_pidfd_send_signal, process.childHandle, SIGKILL, nullptr, 0);
    process.forgetChild();
}

} // namespace

MediaDecoder::Process::~Process()
{
    // Its child ends with it, told or not.
    if (unreported > 0) {
        const std::lock_guard lock(liveChildren().mutex);
        liveChildren().pids.erase(unreported);
    }
    // A child still held (a movie's, kept for its frames, or one whose request was given up) is
    // ended through its handle first: its template, which waits for it, then tells its end and
    // goes on idle, so that its peak and processor time count and no other process adopts it.
    // Without a handle the template is ended at once, the child with it.
    bool idle = socket >= 0;
    if (child >= 0) {
        if (childHandle >= 0)
            endChild(*this);
        else
            idle = false;
    }
    // A child that answered is ending by itself: its note is waited for a moment, so that its
    // memory counts.
    if (idle && unreported > 0)
        awaitLastNote();
    if (startedChildren) {
        const std::lock_guard lock(childCount().mutex);
        childCount().endedTemplatesPeaks += largestChildPeak;
        ++childCount().endedTemplates;
    }
    // Closing the sockets ends an idle decoder: it ends its whole template and waits for it
    // first, so that their processor time and their children's count as this process's
    // children's. A busy one is ended at once. One that does not end is left to the background.
    if (childHandle >= 0)
        ::close(childHandle);
    if (child >= 0)
        ::close(child);
    if (socket >= 0)
        ::close(socket);
    if (pid > 0)
        DecoderProcesses::endWithin(pid, std::chrono::milliseconds(1000), !idle);
}

namespace {

// A picture of the shape a reply describes, its rows not yet read.
// Asks for huge pages for the whole 2 MiB stretches of a large picture's rows that are not
// written yet: copying them in, scaling and encoding them then take a fraction of the page faults
// and address translations. Advice only: where the system has no huge pages nothing changes.
void adviseHugePages(uchar *rows, qsizetype bytes)
{
    constexpr quintptr huge = quintptr(2) << 20;
    const quintptr start = (reinterpret_cast<quintptr>(rows) + huge - 1) & ~(huge - 1);
    const quintptr end = (reinterpret_cast<quintptr>(rows) + quintptr(bytes)) & ~(huge - 1);
    if (end > start)
        ::madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
}

QImage imageFor(const DecoderProtocol::PictureShape &shape)
{
    QImage image(shape.width, shape.height, shape.format);
    if (image.isNull() || image.bytesPerLine() != shape.bytesPerLine || image.sizeInBytes() != shape.bytes)
        return {};
    if (shape.bytes >= DecoderProtocol::directPictureBytes)
        adviseHugePages(image.bits(), image.sizeInBytes());
    if (!shape.colors.isEmpty()) {
        QList<QRgb> table(shape.colors.size() / qsizetype(sizeof(QRgb)));
        std::memcpy(table.data(), shape.colors.constData(), size_t(table.size()) * sizeof(QRgb));
        image.setColorTable(table);
    }
    return image;
}

QSize boxOf(const QVariantMap &request)
{
    const QSize box(request.value(QStringLiteral("maxWidth")).toInt(),
                    request.value(QStringLiteral("maxHeight")).toInt());
    return box.width() > 0 && box.height() > 0 ? box : QSize();
}

// Whether a failed call may be read by the larger decoder: it needed more memory than its
// thumbnail decoder's limit, by the decoder's own estimate or by its end.
bool neededMoreMemory(bool exchanged, Refusal refusal, const QVariantMap &reply, const QImage &image)
{
    return exchanged ? image.isNull() && Refusal(reply.value(QStringLiteral("refusal")).toInt()) == Refusal::TooLarge
                     : refusal == Refusal::TooLarge;
}

// The larger decoder: one file at a time. Those waiting are served in turn and may cancel.
class LargeDecoderTurn
{
public:
    // False when `cancel` was set while waiting.
    bool take(const std::atomic<bool> *cancel)
    {
        std::unique_lock lock(m_mutex);
        const quint64 ticket = m_nextTicket++;
        while (m_taken || ticket != m_serving) {
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                // Its place goes to the next in line.
                m_skipped.push_back(ticket);
                skipGivenUp();
                m_changed.notify_all();
                return false;
            }
            m_changed.wait_for(lock, std::chrono::milliseconds(50));
        }
        m_taken = true;
        ++m_serving;
        skipGivenUp();
        return true;
    }

    void give()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_taken = false;
        }
        m_changed.notify_all();
    }

    // The callers holding the turn or waiting for it now.
    int callers()
    {
        const std::lock_guard lock(m_mutex);
        return int(m_nextTicket - m_serving) - int(m_skipped.size()) + (m_taken ? 1 : 0);
    }

private:
    void skipGivenUp()
    {
        for (auto it = std::find(m_skipped.begin(), m_skipped.end(), m_serving); it != m_skipped.end();
             it = std::find(m_skipped.begin(), m_skipped.end(), m_serving)) {
            m_skipped.erase(it);
            ++m_serving;
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_taken = false;
    quint64 m_nextTicket = 0;
    quint64 m_serving = 0;
    std::vector<quint64> m_skipped;
};

LargeDecoderTurn &largeDecoderTurn()
{
    static LargeDecoderTurn *shared = new LargeDecoderTurn;
    return *shared;
}

} // namespace

int MediaDecoder::largeDecoderCallers() { return largeDecoderTurn().callers(); }

namespace {

std::atomic<int> decodersGivenUp{0};
std::atomic<DecoderProcesses::WaitFunction> waitFunction{&::waitpid};

} // namespace

bool DecoderProtocol::isGifWithinBox(int fd, QSize box)
{
    if (!box.isValid() || box.isEmpty())
        return false;
    // Looked at here only on a local disk: a read on a mount that stopped answering would block
    // the caller beyond the file's deadline (the child's reading has its own).
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !FileAccess::isOnLocalFileSystem(status.st_dev))
        return false;
    unsigned char head[10];
    if (::pread(fd, head, sizeof head, 0) != ssize_t(sizeof head)
        || (std::memcmp(head, "GIF87a", 6) != 0 && std::memcmp(head, "GIF89a", 6) != 0))
        return false;
    const int width = head[6] | head[7] << 8, height = head[8] | head[9] << 8;
    const qint64 indexedBytes = qint64((width + 3) & ~3) * height;
    return width > 0 && height > 0 && width <= box.width() && height <= box.height()
           && indexedBytes < directPictureBytes;
}

std::optional<DecoderProtocol::PictureShape> DecoderProtocol::pictureShape(const QVariantMap &reply, QSize box)
{
    PictureShape shape;
    const QVariant width = reply.value(QStringLiteral("width"));
    const QVariant height = reply.value(QStringLiteral("height"));
    const QVariant format = reply.value(QStringLiteral("format"));
    const QVariant bytesPerLine = reply.value(QStringLiteral("bytesPerLine"));
    const QVariant bytes = reply.value(QStringLiteral("pictureBytes"));
    const QVariant colors = reply.value(QStringLiteral("colors"));
    auto isInteger = [](const QVariant &v) {
        return v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong;
    };
    if (!isInteger(width) || !isInteger(height) || !isInteger(format) || !isInteger(bytesPerLine) || !isInteger(bytes)
        || (colors.isValid() && colors.typeId() != QMetaType::QByteArray))
        return std::nullopt;
    const qint64 w = width.toLongLong();
    const qint64 h = height.toLongLong();
    const qint64 f = format.toLongLong();
    if (w <= 0 || h <= 0 || w > 65535 || h > 65535 || f <= QImage::Format_Invalid || f >= QImage::NImageFormats)
        return std::nullopt;
    if (box.isValid() && (w > qint64(box.width()) + boxSlack || h > qint64(box.height()) + boxSlack))
        return std::nullopt;
    shape.width = int(w);
    shape.height = int(h);
    shape.format = QImage::Format(f);
    const int depth = QImage::toPixelFormat(shape.format).bitsPerPixel();
    if (depth <= 0)
        return std::nullopt;
    // Rows as QImage lays them out: each a whole number of 32-bit words.
    const qint64 rowBytes = (w * depth + 31) / 32 * 4;
    if (bytesPerLine.toLongLong() != rowBytes || bytes.toLongLong() != rowBytes * h || rowBytes * h > maxPictureBytes)
        return std::nullopt;
    shape.bytesPerLine = rowBytes;
    shape.bytes = rowBytes * h;
    if (colors.isValid()) {
        const QByteArray table = colors.toByteArray();
        const bool indexed = shape.format == QImage::Format_Indexed8 || shape.format == QImage::Format_Mono
                             || shape.format == QImage::Format_MonoLSB;
        if (!indexed || table.size() % qsizetype(sizeof(QRgb)) != 0 || table.size() > 256 * qsizetype(sizeof(QRgb)))
            return std::nullopt;
        shape.colors = table;
    }
    return shape;
}

std::optional<int> DecoderProcesses::endWithin(pid_t pid, std::chrono::milliseconds limit, bool kill)
{
    const WaitFunction wait = waitFunction.load();
    int status = 0;
    pid_t waited = wait(pid, &status, WNOHANG);
    if (waited == pid)
        return status;
    if (waited < 0 && errno != EINTR)
        return std::nullopt; // not ours to wait for any more
    if (kill)
        ::kill(pid, SIGKILL);
    const Clock::time_point until = Clock::now() + limit;
    for (auto pause = std::chrono::microseconds(200);; pause = std::min(pause * 2, std::chrono::microseconds(20'000))) {
        waited = wait(pid, &status, WNOHANG);
        if (waited == pid)
            return status;
        if (waited < 0 && errno != EINTR)
            return std::nullopt;
        if (Clock::now() >= until)
            break;
        std::this_thread::sleep_for(pause);
    }
    // Stuck (in the kernel, on a stalled mount): ended for good in the background, whenever it can.
    ::kill(pid, SIGKILL);
    ++decodersGivenUp;
    std::thread([pid] {
        int ended = 0;
        while (::waitpid(pid, &ended, 0) < 0 && errno == EINTR) {}
    }).detach();
    return std::nullopt;
}

bool DirectPictureReads::allowed() { return directReadsAllowed.load(); }

void DirectPictureReads::setAllowed(bool allowed) { directReadsAllowed.store(allowed); }

int DirectPictureReads::taken() { return directReadsTaken.load(); }

int DecoderProcesses::givenUp() { return decodersGivenUp.load(); }

// The look at the process tree (see DecoderProcesses::childHandle): while the handle's process
// runs, its pid names no other, so what /proc said of the pid was said of that process.
int DecoderProcesses::childHandle(pid_t child, pid_t template_)
{
    if (child <= 0 || template_ <= 0)
        return -1;
    const int handle = int(::syscall(SYS_pidfd_open, child, 0));
    if (handle < 0)
        return -1;
    const pid_t parent = parentOf(child);
    const bool descends = parent == template_
                          || (parent > 0 && parentOf(parent) == template_ && parentOf(child) == parent);
    if (!descends || hasEnded(handle)) {
        ::close(handle);
        return -1;
    }
    return handle;
}

void DecoderProcesses::setWaitFunctionForTesting(WaitFunction wait) { waitFunction = wait ? wait : &::waitpid; }

MediaDecoder::MediaDecoder(Use use) : m_use(use) {}

MediaDecoder::~MediaDecoder()
{
    // A decoder that opened a movie holds its state (and threads): the next file gets a new one.
    if (m_process && !m_process->movie)
        pool().give(std::move(m_process));
    m_process.reset();
    giveLargeTurnBack();
}

qint64 MediaDecoder::memoryLimit(Use use)
{
    // A thumbnail decoder's; a full-size read that needs more than that goes to the larger decoder.
    return memoryLimitOf(use == Use::FullSize);
}

void MediaDecoder::endIdleDecoders() { pool().clear(); }

bool MediaDecoder::isChildForOneFile(pid_t pid)
{
    const std::lock_guard lock(liveChildren().mutex);
    return liveChildren().pids.count(pid) > 0;
}

MediaDecoder::Children MediaDecoder::endedChildren()
{
    ChildCount &count = childCount();
    const std::lock_guard lock(count.mutex);
    return {count.started, count.endedTemplates, count.endedTemplatesPeaks};
}

void MediaDecoder::fail(Refusal refusal)
{
    m_refusal = refusal;
    m_process.reset();
}

bool MediaDecoder::exchange(const QVariantMap &request, QVariantMap &reply, QImage *image)
{
    m_refusal = Refusal::None;
    QImage picture;
    const bool exchanged = exchangeOnce(request, reply, &picture);
    // How large its file is says nothing of what a picture needs (a black frame of 60 megapixels
    // fits in half a megabyte): the larger decoder judges the picture as the thumbnail decoder
    // did, by what its read holds, and refuses at once what would not fit within its own limit,
    // which the kernel holds every read to.
    if (m_holdsLargeTurn || !neededMoreMemory(exchanged, m_refusal, reply, picture)) {
        if (image)
            *image = std::move(picture);
        return exchanged;
    }
    // The file needs more memory than a thumbnail decoder's: it is read again in the larger
    // decoder, once that is this caller's. The wait does not count against the file's time.
    m_process.reset();
    {
        const DecodeInterrupt::Pause pause;
        if (!largeDecoderTurn().take(DecodeInterrupt::cancelFlag())) {
            m_refusal = Refusal::Cancelled;
            return false;
        }
    }
    m_holdsLargeTurn = true;
    m_refusal = Refusal::None;
    reply.clear();
    bool exchangedLarge = true;
    // A movie is opened again there before its frame.
    if (request.value(QStringLiteral("operation")).toString() == QLatin1String("movieFrame")
        && !m_moviePath.isEmpty()) {
        QVariantMap opened;
        exchangedLarge = exchangeOnce(movieRequest(m_moviePath), opened, nullptr);
        if (exchangedLarge && !opened.value(QStringLiteral("opened")).toBool())
            reply = opened;
        else if (exchangedLarge)
            exchangedLarge = exchangeOnce(request, reply, image);
    } else {
        exchangedLarge = exchangeOnce(request, reply, image);
    }
    // A movie keeps the larger decoder for its next frames; anything else gives it back at once,
    // so that what its caller does next (reading metadata, on a mount that may stall) holds no
    // other file's turn.
    if (!m_process || !m_process->movie)
        giveLargeTurnBack();
    return exchangedLarge;
}

void MediaDecoder::giveLargeTurnBack()
{
    if (!m_holdsLargeTurn)
        return;
    if (m_process && !m_process->movie)
        pool().give(std::move(m_process));
    m_process.reset();
    m_holdsLargeTurn = false;
    largeDecoderTurn().give();
}

QVariantMap MediaDecoder::movieRequest(const QString &path)
{
    return {{QStringLiteral("operation"), QStringLiteral("openMovie")}, {QStringLiteral("path"), path}};
}

bool MediaDecoder::exchangeOnce(const QVariantMap &request, QVariantMap &reply, QImage *image)
{
    m_needsWholeDecoder = false;
    const bool exchanged = exchangeWith(request, reply, image, Templates::Usual);
    if (exchanged || !m_needsWholeDecoder)
        return exchanged;
    // The file reached a library that the template of the usual files gave up (see
    // TemplateLibraries.h): it is read again by a child of the template that kept them all.
    reply.clear();
    return exchangeWith(request, reply, image, Templates::Whole);
}

bool MediaDecoder::exchangeWith(const QVariantMap &request, QVariantMap &reply, QImage *image, Templates templates)
{
    m_refusal = Refusal::None;
    const std::atomic<bool> *cancel = DecodeInterrupt::cancelFlag();
    if (DecodeInterrupt::cancelled()) {
        m_refusal = Refusal::Cancelled;
        return false;
    }
    const Clock::time_point deadline = DecodeInterrupt::deadlineWithin(timeLimit);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (milliseconds <= 0) {
        m_refusal = Refusal::OutOfTime;
        return false;
    }
    QVariantMap timed = request;
    timed.insert(QStringLiteral("milliseconds"), qint64(milliseconds));
    if (directReadsAllowed.load())
        timed.insert(QStringLiteral("directPicture"), true);
    if (templates == Templates::Whole)
        timed.insert(QStringLiteral("whole"), true);
    if (m_holdsLargeTurn)
        timed.insert(QStringLiteral("largest"), true);
    std::vector<int> opened;
    const Opening opening = openWithin(request.value(QStringLiteral("path")).toString(), deadline, cancel, opened);
    if (opening != Opening::Opened) {
        m_refusal = opening == Opening::Cancelled ? Refusal::Cancelled : Refusal::OutOfTime;
        return false;
    }
    const RequestFile file(std::move(opened));
    if (templates == Templates::Usual && !file.descriptors().empty()
        && request.value(QStringLiteral("operation")).toString() == QLatin1String("read")
        && DecoderProtocol::isGifWithinBox(file.descriptors().front(), boxOf(request)))
        timed.insert(QStringLiteral("gifWithinBox"), true);
    const QByteArray body = DecoderProtocol::encode(timed);
    // An idle decoder may have ended since it was last used: then one new one is tried. A movie's
    // child answers its frames itself.
    bool sent = false;
    for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
        if (!m_process)
            m_process = pool().take(m_use, m_holdsLargeTurn);
        if (!m_process)
            m_process = start(m_use, m_holdsLargeTurn);
        if (!m_process) {
            m_refusal = Refusal::Crashed;
            return false;
        }
        if (m_process->child >= 0) {
            sent = DecoderProtocol::sendRequest(m_process->child, body, file.descriptors());
        } else {
            sent = DecoderProtocol::sendRequest(m_process->socket, body, file.descriptors());
            const Wait wait = sent ? receiveChild(*m_process, deadline, cancel) : Wait::Ended;
            if (wait == Wait::OutOfTime || wait == Wait::Cancelled) {
                fail(wait == Wait::OutOfTime ? Refusal::OutOfTime : Refusal::Cancelled);
                return false;
            }
            sent = wait == Wait::Done;
        }
        if (!sent)
            m_process.reset();
    }
    if (!sent) {
        m_refusal = Refusal::Crashed;
        return false;
    }
    if (request.value(QStringLiteral("operation")).toString() == QLatin1String("openMovie"))
        m_process->movie = true;

    // The decoder stops by itself at the deadline where its reader asks; the end comes here for
    // one that does not (stuck in a system call, or in a loop of a library).
    return receiveReply(boxOf(request), reply, image, deadline + std::chrono::milliseconds(500), cancel,
                        request.value(QStringLiteral("operation")).toString() == QLatin1String("writeJpeg"));
}

bool MediaDecoder::receiveReply(QSize box, QVariantMap &reply, QImage *image, Clock::time_point hardDeadline,
                                const std::atomic<bool> *cancel, bool writesJpeg)
{
    auto stopped = [&](Wait wait) {
        switch (wait) {
        case Wait::Done:
            break;
        case Wait::Ended:
            // The child ended; its template goes on, unless it ended too.
            m_refusal = endedBecause(*m_process, &m_needsWholeDecoder);
            if (m_process->socket < 0)
                m_process.reset();
            else
                m_process->movie = false;
            return true;
        case Wait::OutOfTime:
            fail(Refusal::OutOfTime);
            return true;
        case Wait::Cancelled:
            fail(Refusal::Cancelled);
            return true;
        case Wait::OutOfMemory:
            fail(Refusal::TooLarge);
            return true;
        }
        return false;
    };
    quint32 replyLength = 0;
    if (stopped(receive(*m_process, reinterpret_cast<char *>(&replyLength), sizeof replyLength, hardDeadline, cancel)))
        return false;
    // The pieces of a JPEG file the decoder writes come first (see MediaDecoder_p.h); of no other
    // request.
    m_jpeg.clear();
    while (replyLength & DecoderProtocol::jpegPiece) {
        const quint32 piece = replyLength & ~DecoderProtocol::jpegPiece;
        if (!writesJpeg || piece > DecoderProtocol::maxJpegPieceBytes
            || m_jpeg.size() + qint64(piece) > DecoderProtocol::maxJpegBytes) {
            fail(Refusal::Crashed);
            return false;
        }
        if (piece == 0) {
            m_jpeg.clear();
        } else {
            const qsizetype at = m_jpeg.size();
            m_jpeg.resize(at + qsizetype(piece));
            if (stopped(receive(*m_process, m_jpeg.data() + at, piece, hardDeadline, cancel)))
                return false;
        }
        if (stopped(
                receive(*m_process, reinterpret_cast<char *>(&replyLength), sizeof replyLength, hardDeadline, cancel)))
            return false;
    }
    // A reply outside the schema, or a picture other than the one asked for: the decoder lies (a
    // file took it over) and is treated as one that crashed.
    if (replyLength > DecoderProtocol::maxReplyMapBytes) {
        fail(Refusal::Crashed);
        return false;
    }
    QByteArray replyBody(qsizetype(replyLength), Qt::Uninitialized);
    if (stopped(receive(*m_process, replyBody.data(), replyLength, hardDeadline, cancel)))
        return false;
    std::optional<QVariantMap> read = DecoderMessage::read(replyBody);
    replyBody = QByteArray();
    if (!read) {
        fail(Refusal::Crashed);
        return false;
    }
    reply = std::move(*read);
    if (reply.contains(QStringLiteral("pictureBytes"))) {
        const std::optional<DecoderProtocol::PictureShape> shape = DecoderProtocol::pictureShape(reply, box);
        QImage picture = shape ? imageFor(*shape) : QImage();
        const QVariant address = reply.value(QStringLiteral("pictureAddress"));
        if (picture.isNull() || (address.isValid() && shape->bytes < DecoderProtocol::directPictureBytes)) {
            fail(Refusal::Crashed);
            return false;
        }
        bool rowsRead = false;
        if (address.isValid()) {
            const DirectRead direct = readDirectly(m_process->childHandle, m_process->childPid, address.toLongLong(),
                                                   picture.bits(), shape->bytes);
            if (direct == DirectRead::Lied) {
                fail(Refusal::Crashed);
                return false;
            }
            rowsRead = direct == DirectRead::Done;
            if (rowsRead)
                ++directReadsTaken;
            const char word = rowsRead ? DecoderProtocol::pictureRead : DecoderProtocol::pictureSend;
            if (!DecoderProtocol::sendAll(m_process->child, &word, 1)) {
                m_refusal = endedBecause(*m_process, &m_needsWholeDecoder);
                if (m_process->socket < 0)
                    m_process.reset();
                else
                    m_process->movie = false;
                return false;
            }
        }
        if (!rowsRead
            && stopped(
                receive(*m_process, reinterpret_cast<char *>(picture.bits()), shape->bytes, hardDeadline, cancel)))
            return false;
        if (image)
            *image = std::move(picture);
    }
    // What the decoder read past is this thread's report too.
    const QString damage = reply.value(QStringLiteral("damage")).toString();
    if (!damage.isEmpty())
        DecodeReport::damaged(damage);
    const QString unsupported = reply.value(QStringLiteral("unsupported")).toString();
    if (!unsupported.isEmpty())
        DecodeReport::unsupported(unsupported);
    // The colour as the file stores it, in the words the readers use (a decoder's own, checked).
    const QString space = reply.value(QStringLiteral("colourSpace")).toString();
    if (space == QLatin1String("RGB") || space == QLatin1String("CMYK") || space == QLatin1String("Lab")
        || space == QLatin1String("grey"))
        DecodeReport::colour(space, reply.value(QStringLiteral("colourProfile")).toByteArray());
    // The child read one file and ends; a movie's child stays for its frames.
    if (!m_process->movie)
        endChild(*m_process);
    return true;
}

namespace {

void takeFacts(const QVariantMap &reply, ImageFileReader::Facts *facts)
{
    if (!facts)
        return;
    facts->size =
        QSize(reply.value(QStringLiteral("fullWidth")).toInt(), reply.value(QStringLiteral("fullHeight")).toInt());
    facts->orientation = reply.value(QStringLiteral("orientation")).toInt();
    facts->previewOnly = reply.value(QStringLiteral("previewOnly")).toBool();
    facts->refusal = Refusal(reply.value(QStringLiteral("refusal")).toInt());
}

QVariantMap pictureRequest(const char *operation, const QString &path, QSize maxSize)
{
    return {{QStringLiteral("operation"), QString::fromLatin1(operation)},
            {QStringLiteral("path"), path},
            {QStringLiteral("maxWidth"), maxSize.isValid() ? maxSize.width() : -1},
            {QStringLiteral("maxHeight"), maxSize.isValid() ? maxSize.height() : -1}};
}

} // namespace

QImage MediaDecoder::read(const QString &path, QSize maxSize, ImageFileReader::Facts *facts)
{
    QVariantMap reply;
    QImage image;
    if (!exchange(pictureRequest("read", path, maxSize), reply, &image)) {
        if (facts)
            facts->refusal = m_refusal;
        return {};
    }
    takeFacts(reply, facts);
    // A picture of few colours comes indexed, a quarter of the bytes (see PictureRows::IndexedScope):
    // it goes on as the rows would have made it.
    if (reply.value(QStringLiteral("expand")).toBool())
        return PictureRows::expanded(image);
    return image;
}

QImage MediaDecoder::readRaw(const QString &path, QSize maxSize, ImageFileReader::Facts *facts, QVariantMap *metadata)
{
    QVariantMap reply;
    QImage image;
    if (!exchange(pictureRequest("readRaw", path, maxSize), reply, &image)) {
        if (facts)
            facts->refusal = m_refusal;
        return {};
    }
    takeFacts(reply, facts);
    if (metadata)
        *metadata = reply.value(QStringLiteral("metadata")).toMap();
    return image;
}

std::optional<RawDecoder::Info> MediaDecoder::identifyRaw(const QString &path)
{
    QVariantMap reply;
    if (!exchange({{QStringLiteral("operation"), QStringLiteral("identifyRaw")}, {QStringLiteral("path"), path}}, reply,
                  nullptr)
        || !reply.value(QStringLiteral("identified")).toBool())
        return std::nullopt;
    RawDecoder::Info info;
    info.make = reply.value(QStringLiteral("make")).toByteArray();
    info.model = reply.value(QStringLiteral("model")).toByteArray();
    info.rawWidth = reply.value(QStringLiteral("rawWidth")).toInt();
    info.rawHeight = reply.value(QStringLiteral("rawHeight")).toInt();
    info.width = reply.value(QStringLiteral("width")).toInt();
    info.height = reply.value(QStringLiteral("height")).toInt();
    info.flip = reply.value(QStringLiteral("flip")).toInt();
    return info;
}

QImage MediaDecoder::developRaw(const QString &path, int shrinkFactor, ImageFileReader::Facts *facts, QSize box)
{
    QVariantMap request = pictureRequest("developRaw", path, box);
    request.insert(QStringLiteral("shrink"), shrinkFactor);
    QVariantMap reply;
    QImage image;
    if (!exchange(request, reply, &image)) {
        if (facts)
            facts->refusal = m_refusal;
        return {};
    }
    takeFacts(reply, facts);
    return image;
}

std::optional<QByteArray> MediaDecoder::exchangeJpeg(const QVariantMap &request, ImageFileReader::Facts *facts)
{
    QVariantMap reply;
    if (!exchange(request, reply, nullptr)) {
        m_jpeg.clear();
        if (facts)
            facts->refusal = m_refusal;
        return std::nullopt;
    }
    takeFacts(reply, facts);
    QByteArray jpeg = std::exchange(m_jpeg, QByteArray());
    const QVariant bytes = reply.value(QStringLiteral("jpegBytes"));
    // A file whose length is not what the decoder says it wrote is none.
    if (!bytes.isValid() || bytes.toLongLong() != jpeg.size() || jpeg.isEmpty())
        return std::nullopt;
    return jpeg;
}

std::optional<QByteArray> MediaDecoder::writeJpeg(const QString &path, QSize box, int orientation, int quality,
                                                  ImageFileReader::Facts *facts)
{
    QVariantMap request = pictureRequest("writeJpeg", path, box);
    request.insert(QStringLiteral("orientation"), orientation);
    request.insert(QStringLiteral("quality"), quality);
    return exchangeJpeg(request, facts);
}

std::optional<QByteArray> MediaDecoder::writeRawJpeg(const QString &path, int shrinkFactor, QSize box, int orientation,
                                                     int quality, ImageFileReader::Facts *facts)
{
    QVariantMap request = pictureRequest("writeJpeg", path, box);
    request.insert(QStringLiteral("orientation"), orientation);
    request.insert(QStringLiteral("quality"), quality);
    request.insert(QStringLiteral("shrink"), shrinkFactor);
    return exchangeJpeg(request, facts);
}

QImage MediaDecoder::readData(const QByteArray &data, QSize box, QSize *sourceSize)
{
    // Larger than a message may be: no stored thumbnail is.
    if (data.isEmpty() || data.size() > qsizetype(DecoderProtocol::maxMapBytes / 2))
        return {};
    QVariantMap request = pictureRequest("readData", QString(), box);
    request.insert(QStringLiteral("data"), data);
    QVariantMap reply;
    QImage image;
    if (!exchange(request, reply, &image))
        return {};
    if (sourceSize)
        *sourceSize =
            QSize(reply.value(QStringLiteral("fullWidth")).toInt(), reply.value(QStringLiteral("fullHeight")).toInt());
    return image;
}

std::optional<QStringList> MediaDecoder::readerFileTypes()
{
    QVariantMap reply;
    if (!exchange({{QStringLiteral("operation"), QStringLiteral("readers")}}, reply, nullptr))
        return std::nullopt;
    return reply.value(QStringLiteral("fileTypes")).toStringList();
}

std::optional<MediaDecoder::MovieInfo> MediaDecoder::openMovie(const QString &path, QString *error)
{
    QVariantMap reply;
    m_movieKind.reset();
    m_moviePath = path;
    giveLargeTurnBack();
    if (!exchange(movieRequest(path), reply, nullptr)) {
        if (error)
            *error = m_refusal == Refusal::OutOfTime   ? QStringLiteral("the movie could not be opened in time")
                     : m_refusal == Refusal::Cancelled ? QStringLiteral("opening the movie was cancelled")
                                                       : ImageFileReader::refusalText(m_refusal);
        return std::nullopt;
    }
    if (!reply.value(QStringLiteral("opened")).toBool()) {
        if (error)
            *error = reply.value(QStringLiteral("error")).toString();
        return std::nullopt;
    }
    MovieInfo info;
    info.kind = Movie::Kind(reply.value(QStringLiteral("kind")).toInt());
    info.duration = MovieTime{reply.value(QStringLiteral("timeValue")).toLongLong(),
                              qint32(reply.value(QStringLiteral("timeScale")).toInt())};
    info.naturalSize =
        QSize(reply.value(QStringLiteral("width")).toInt(), reply.value(QStringLiteral("height")).toInt());
    m_movieKind = info.kind;
    return info;
}

QImage MediaDecoder::movieFrame(MovieTime time, QSize size, QString *error)
{
    // The movie's file goes with each frame too: a reader that opens it again for a frame (a
    // still read through the image reading) finds it, as the decoder opens nothing by name.
    const QVariantMap request{{QStringLiteral("operation"), QStringLiteral("movieFrame")},
                              {QStringLiteral("path"), m_moviePath},
                              {QStringLiteral("timeValue"), time.timeValue},
                              {QStringLiteral("timeScale"), time.timeScale},
                              {QStringLiteral("maxWidth"), size.isValid() ? size.width() : -1},
                              {QStringLiteral("maxHeight"), size.isValid() ? size.height() : -1}};
    QVariantMap reply;
    QImage image;
    if (!exchange(request, reply, &image)) {
        // The decoder's own words for a frame or a page stopped at its limits.
        const bool page = m_movieKind == Movie::Kind::Document;
        if (error)
            *error = m_refusal == Refusal::OutOfTime   ? (page ? QStringLiteral("the page could not be drawn in time")
                                                               : QStringLiteral("the frame could not be decoded in time"))
                     : m_refusal == Refusal::Cancelled ? (page ? QStringLiteral("drawing the page was cancelled")
                                                               : QStringLiteral("decoding the frame was cancelled"))
                                                       : ImageFileReader::refusalText(m_refusal);
        m_movieKind.reset();
        return {};
    }
    if (image.isNull() && error)
        *error = reply.value(QStringLiteral("error")).toString();
    return image;
}

QImage MediaDecoder::firstMovieFrame(const QString &path, Use use)
{
    MediaDecoder decoder(use);
    const std::optional<MovieInfo> info = decoder.openMovie(path);
    if (!info)
        return {};
    MovieTime time = info->duration;
    time.timeValue = 0;
    return decoder.movieFrame(time);
}
