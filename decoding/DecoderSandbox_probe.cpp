// Test builds only: every road out of a decoder's sandbox, tried from inside it.

#include "decoding/DecoderSandbox.h"

#include <QFile>
#include <QSemaphore>
#include <QThreadPool>

#include <pthread.h>
#include <sys/inotify.h>
#include <sys/fanotify.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/io_uring.h>
#include <linux/seccomp.h>
#include <linux/perf_event.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace {

bool closed(int fd)
{
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// A child that a road made ends at once; the road counts as taken.
bool started(long pid)
{
    if (pid == 0)
        ::_exit(0);
    if (pid < 0)
        return false;
    int status = 0;
    ::waitpid(pid_t(pid), &status, __WALL);
    return true;
}

bool readsSomething(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char byte;
    const bool read = ::read(fd, &byte, 1) >= 0;
    ::close(fd);
    return read;
}

bool connectsTo(const QByteArray &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

bool connectsToAbstract(const char *name)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path + 1, name, sizeof address.sun_path - 2);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr *>(&address),
                                     socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::strlen(name)))
                           == 0;
    ::close(fd);
    return connected;
}

bool maps(int flags, size_t size)
{
    void *at = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (at == MAP_FAILED)
        return false;
    ::munmap(at, size);
    return true;
}

// A call that reached the kernel, whatever it answered there (EINVAL for no such segment).
bool reached(long result) { return result >= 0 || (errno != EPERM && errno != EACCES && errno != ENOSYS); }

// Starts `count` threads that wait until all are there; answers whether all could be started.
bool startsThreads(int count)
{
    int gate[2];
    if (::pipe2(gate, O_CLOEXEC) != 0)
        return false;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 64 * 1024);
    std::vector<pthread_t> threads;
    for (int i = 0; i < count; ++i) {
        pthread_t thread;
        if (pthread_create(
                &thread, &attributes,
                [](void *fd) -> void * {
                    char byte;
                    while (::read(int(reinterpret_cast<intptr_t>(fd)), &byte, 1) < 0 && errno == EINTR) {}
                    return nullptr;
                },
                reinterpret_cast<void *>(intptr_t(gate[0])))
            != 0)
            break;
        threads.push_back(thread);
    }
    pthread_attr_destroy(&attributes);
    ::close(gate[1]);
    for (const pthread_t thread : threads)
        pthread_join(thread, nullptr);
    ::close(gate[0]);
    return int(threads.size()) >= count;
}

} // namespace

QStringList DecoderSandbox::tryRoads(const QString &file, pid_t parent, const char *where)
{
    const QByteArray name = QFile::encodeName(file);
    const QByteArray created = name + ".written";
    const QByteArray kept = name + ".kept";
    const QByteArray renamed = name + ".renamed";
    const QByteArray folder = name.left(std::max<qsizetype>(1, name.lastIndexOf('/')));
    const QByteArray parentProc = "/proc/" + QByteArray::number(parent);
    // A home folder beside the file (the test's), and a file in shared memory of this process's own.
    const QByteArray home = folder + "/home";
    const QByteArray shm = "/dev/shm/ovn-probe-" + QByteArray::number(::getpid());
    const std::vector<std::pair<const char *, std::function<bool()>>> roads = {
        {"io_uring",
         [] {
             io_uring_params params{};
             return closed(int(::syscall(SYS_io_uring_setup, 4, &params)));
         }},
        {"create", [&] { return closed(::open(created.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600)); }},
        {"creat", [&] { return closed(::creat((name + ".creat").constData(), 0600)); }},
        {"open for writing", [&] { return closed(::open(kept.constData(), O_WRONLY)); }},
        {"open to append", [&] { return closed(::open(kept.constData(), O_RDONLY | O_APPEND)); }},
        {"truncate", [&] { return ::truncate(kept.constData(), 0) == 0; }},
        {"chmod", [&] { return ::chmod(kept.constData(), 0777) == 0; }},
        {"unlink", [&] { return ::unlink((name + ".removable").constData()) == 0; }},
        {"rename", [&] { return ::rename(kept.constData(), renamed.constData()) == 0; }},
        {"mkdir", [&] { return ::mkdir((name + ".folder").constData(), 0700) == 0; }},
        {"symlink", [&] { return ::symlink(kept.constData(), (name + ".link").constData()) == 0; }},
        {"inet socket", [] { return closed(::socket(AF_INET, SOCK_STREAM, 0)); }},
        {"unix socket", [] { return closed(::socket(AF_UNIX, SOCK_STREAM, 0)); }},
        {"netlink socket", [] { return closed(::socket(AF_NETLINK, SOCK_RAW, 0)); }},
        // The call itself: the movie player's own socketpair() gives pipes.
        {"socketpair",
         [] {
             int ends[2];
             if (::syscall(SYS_socketpair, AF_UNIX, SOCK_STREAM, 0, ends) != 0)
                 return false;
             ::close(ends[0]);
             ::close(ends[1]);
             return true;
         }},
        {"connect", [&] { return connectsTo(name + ".sock"); }},
        // Signal 0 asks whether a signal would be delivered, without delivering one.
        {"kill", [&] { return ::kill(parent, 0) == 0; }},
        {"kill everyone", [] { return ::kill(-1, 0) == 0; }},
        {"tgkill", [&] { return ::syscall(SYS_tgkill, parent, parent, 0) == 0; }},
        {"tkill", [&] { return ::syscall(SYS_tkill, parent, 0) == 0; }},
        {"sigqueue",
         [&] {
             siginfo_t info{};
             info.si_code = SI_QUEUE;
             return ::syscall(SYS_rt_sigqueueinfo, parent, 0, &info) == 0;
         }},
        {"pidfd", [&] { return closed(int(::syscall(SYS_pidfd_open, parent, 0))); }},
        {"fork", [] { return started(::syscall(SYS_fork)); }},
        {"vfork", [] { return started(::syscall(SYS_vfork)); }},
        {"clone", [] { return started(::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0)); }},
        {"clone3",
         [] {
             struct {
                 quint64 flags, pidfd, childTid, parentTid, exitSignal, stack, stackSize, tls;
             } arguments{0, 0, 0, 0, SIGCHLD, 0, 0, 0};
             return started(::syscall(SYS_clone3, &arguments, sizeof arguments));
         }},
        {"unshare", [] { return ::unshare(CLONE_NEWUSER) == 0; }},
        // An argument list the kernel cannot read: EFAULT means the call itself went through,
        // without replacing this process.
        {"execve",
         [] {
             ::syscall(SYS_execve, "/bin/true", reinterpret_cast<char *const *>(1), nullptr);
             return errno == EFAULT;
         }},
        {"ptrace", [&] { return ::ptrace(PTRACE_ATTACH, parent, nullptr, nullptr) == 0; }},
        {"process_vm_readv",
         [&] {
             char into[8];
             const iovec local{into, sizeof into};
             const iovec remote{reinterpret_cast<void *>(0x400000), sizeof into};
             // EFAULT means the call itself went through.
             return ::process_vm_readv(parent, &local, 1, &remote, 1, 0) >= 0 || errno == EFAULT;
         }},
        {"parent's memory", [&] { return readsSomething(parentProc + "/mem") || errno == EIO; }},
        {"parent's environment", [&] { return readsSomething(parentProc + "/environ"); }},
        {"private file", [&] { return readsSomething(name + ".private"); }},
        {"list the file's folder", [&] { return closed(::open(folder.constData(), O_RDONLY | O_DIRECTORY)); }},
        {"PGPASSWORD", [] { return !qEnvironmentVariableIsEmpty("PGPASSWORD"); }},
        {"terminal", [] { return closed(::open("/dev/tty", O_RDONLY)); }},
        {"TIOCSTI",
         [] {
             const char typed = '\n';
             return ::ioctl(STDERR_FILENO, TIOCSTI, &typed) == 0 || errno == ENOTTY;
         }},
        {"keyctl", [] { return ::syscall(SYS_keyctl, 0 /* KEYCTL_GET_KEYRING_ID */, -3, 0) >= 0; }},
        {"add_key", [] { return ::syscall(SYS_add_key, "user", "ovn", "x", 1, -3) >= 0; }},
        {"bpf", [] { return ::syscall(SYS_bpf, 0, nullptr, 0) >= 0 || errno == EINVAL || errno == EFAULT; }},
        {"perf_event_open",
         [] {
             perf_event_attr attributes{};
             attributes.size = sizeof attributes;
             attributes.type = PERF_TYPE_SOFTWARE;
             attributes.config = PERF_COUNT_SW_CPU_CLOCK;
             attributes.exclude_kernel = 1;
             return closed(int(::syscall(SYS_perf_event_open, &attributes, 0, -1, -1, 0)));
         }},
        {"userfaultfd", [] { return closed(int(::syscall(SYS_userfaultfd, 0))); }},
        {"memfd", [] { return closed(int(::syscall(SYS_memfd_create, "ovn", 0))); }},
        {"keep running after the program", [] { return ::prctl(PR_SET_PDEATHSIG, 0) == 0; }},
        // prctl's option is an int to the kernel: bits above it must not lead past the filter.
        {"keep running after the program by a widened option",
         [] { return ::syscall(SYS_prctl, (1L << 32) | PR_SET_PDEATHSIG, 0L, 0L, 0L, 0L) == 0; }},
        // Any signal but SIGKILL lets it outlive the program just as well as none.
        {"keep running after the program by a harmless signal", [] { return ::prctl(PR_SET_PDEATHSIG, SIGCONT) == 0; }},
        {"a descriptor of its parent process", [&] { return closed(int(::syscall(SYS_pidfd_open, parent, 0))); }},
        // A process's folder in /proc serves as a pidfd to pidfd_send_signal.
        {"signal through its parent's /proc folder",
         [&] {
             const int folder = ::open(parentProc.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
             const bool sent = folder >= 0 && ::syscall(SYS_pidfd_send_signal, folder, 0, nullptr, 0) == 0;
             if (folder >= 0)
                 ::close(folder);
             return sent;
         }},
        {"a filter of its own",
         [] {
             sock_filter allow = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
             const sock_fprog program{1, &allow};
             return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) == 0;
         }},
        {"let others trace it", [] { return ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY) == 0; }},
        {"dumpable", [] { return ::prctl(PR_SET_DUMPABLE, 1) == 0; }},
        {"mount", [] { return ::syscall(SYS_mount, "none", "/tmp", "tmpfs", 0, nullptr) == 0 || errno == EBUSY; }},
        {"password file", [] { return readsSomething("/etc/passwd"); }},
        {"home's secret", [&] { return readsSomething(home + "/.pgpass"); }},
        {"list the home", [&] { return closed(::open(home.constData(), O_RDONLY | O_DIRECTORY)); }},
        {"abstract socket", [] { return connectsToAbstract("ovn-probe"); }},
        {"SysV shared memory", [] { return reached(::shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600)); }},
        {"SysV shared memory of others",
         [] { return reached(reinterpret_cast<long>(::shmat(0, nullptr, SHM_RDONLY))); }},
        {"SysV messages", [] { return reached(::msgget(IPC_PRIVATE, IPC_CREAT | 0600)); }},
        {"SysV semaphores", [] { return reached(::semget(IPC_PRIVATE, 1, IPC_CREAT | 0600)); }},
        {"list /dev/shm", [] { return closed(::open("/dev/shm", O_RDONLY | O_DIRECTORY)); }},
        {"file in /dev/shm", [&] { return closed(::open(shm.constData(), O_RDWR | O_CREAT, 0600)); }},
        {"inotify", [] { return closed(::inotify_init1(IN_CLOEXEC)); }},
        {"fanotify", [] { return reached(::fanotify_init(FAN_CLASS_NOTIF, O_RDONLY)); }},
        {"run /bin/sh",
         [] {
             ::syscall(SYS_execve, "/bin/sh", reinterpret_cast<char *const *>(1), nullptr);
             return errno == EFAULT;
         }},
        {"setsid", [] { return ::setsid() >= 0; }},
        {"setpgid", [] { return ::setpgid(0, 0) == 0; }},
        {"1 GiB of shared memory", [] { return maps(MAP_SHARED | MAP_ANONYMOUS, size_t(1) << 30); }},
        {"grows-down mapping", [] { return maps(MAP_PRIVATE | MAP_ANONYMOUS | MAP_GROWSDOWN, size_t(1) << 20); }},
        {"3000 threads", [] { return startsThreads(3000); }},
    };
    QStringList outcomes;
    for (const auto &[road, take] : roads) {
        errno = 0;
        const bool taken = take();
        outcomes << QStringLiteral("%1 (%2): %3")
                        .arg(QLatin1String(road), QLatin1String(where),
                             taken ? QStringLiteral("taken") : QStringLiteral("refused"));
    }
    // What a decoder needs still works: a system file is read.
    outcomes << QStringLiteral("reading (%1): %2")
                    .arg(QLatin1String(where),
                         readsSomething("/etc/ld.so.cache") ? QStringLiteral("taken") : QStringLiteral("refused"));
    return outcomes;
}

namespace {

constexpr size_t memoryRoadCeiling = size_t(4) << 30;
constexpr size_t memoryRoadStep = size_t(16) << 20;

// Maps `step` at a time with `protection`, opens it with `opened` (0: as mapped), writes every
// page and makes it `after` (0: as it is), until a call is refused or the ceiling is reached;
// answers the bytes written, all of them given back.
size_t takeMappings(int flags, int protection, int opened, int after)
{
    std::vector<void *> taken;
    size_t written = 0;
    while (written < memoryRoadCeiling) {
        void *at = ::mmap(nullptr, memoryRoadStep, protection, flags, -1, 0);
        if (at == MAP_FAILED)
            break;
        taken.push_back(at);
        if (opened != 0 && ::mprotect(at, memoryRoadStep, opened) != 0)
            break;
        std::memset(at, 0x5a, memoryRoadStep);
        written += memoryRoadStep;
        if (after != 0 && ::mprotect(at, memoryRoadStep, after) != 0)
            break;
    }
    for (void *at : taken)
        ::munmap(at, memoryRoadStep);
    return written;
}

// Starts threads of the default stack, each waiting, until one is refused (or 3000); answers
// their stacks' bytes.
size_t takeThreads()
{
    pthread_attr_t defaults;
    size_t stack = 0;
    if (pthread_getattr_default_np(&defaults) == 0) {
        pthread_attr_getstacksize(&defaults, &stack);
        pthread_attr_destroy(&defaults);
    }
    int gate[2];
    if (::pipe2(gate, O_CLOEXEC) != 0)
        return 0;
    std::vector<pthread_t> threads;
    for (int i = 0; i < 3000 && stack * threads.size() < memoryRoadCeiling; ++i) {
        pthread_t thread;
        if (pthread_create(
                &thread, nullptr,
                [](void *fd) -> void * {
                    char byte;
                    while (::read(int(reinterpret_cast<intptr_t>(fd)), &byte, 1) < 0 && errno == EINTR) {}
                    return nullptr;
                },
                reinterpret_cast<void *>(intptr_t(gate[0])))
            != 0)
            break;
        threads.push_back(thread);
    }
    ::close(gate[1]);
    for (const pthread_t thread : threads)
        pthread_join(thread, nullptr);
    ::close(gate[0]);
    return stack * threads.size();
}

// Opens pipes until one is refused and fills each; answers the bytes the pipes hold.
size_t takePipes()
{
    std::vector<int> ends;
    size_t held = 0;
    static const char block[4096] = {};
    for (int i = 0; i < 100000 && held < memoryRoadCeiling; ++i) {
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            break;
        ends.push_back(pipe[0]);
        ends.push_back(pipe[1]);
        for (ssize_t written; (written = ::write(pipe[1], block, sizeof block)) > 0;)
            held += size_t(written);
    }
    for (const int fd : ends)
        ::close(fd);
    return held;
}

} // namespace

QVariantMap DecoderSandbox::takeMemory()
{
    const std::pair<const char *, std::function<size_t()>> roads[] = {
        {"written and made read-only",
         [] { return takeMappings(MAP_PRIVATE | MAP_ANONYMOUS, PROT_READ | PROT_WRITE, 0, PROT_READ); }},
        {"mapped PROT_NONE and opened",
         [] { return takeMappings(MAP_PRIVATE | MAP_ANONYMOUS, PROT_NONE, PROT_READ | PROT_WRITE, 0); }},
        {"shared anonymous", [] { return takeMappings(MAP_SHARED | MAP_ANONYMOUS, PROT_READ | PROT_WRITE, 0, 0); }},
        {"threads", takeThreads},
        {"pipes", takePipes},
    };
    QStringList outcomes;
    for (const auto &[road, take] : roads)
        outcomes << QStringLiteral("%1: %2 KiB").arg(QLatin1String(road)).arg(quint64(take() >> 10));
    rlimit addressSpace{};
    ::getrlimit(RLIMIT_AS, &addressSpace);
    outcomes << QStringLiteral("address space: %1 KiB")
                    .arg(addressSpace.rlim_cur == RLIM_INFINITY ? 0 : quint64(addressSpace.rlim_cur >> 10));
    return {{QStringLiteral("damage"), outcomes.join(QLatin1Char(','))}};
}

QVariantMap DecoderSandbox::probe(const QString &file, pid_t parent, QThreadPool *pool)
{
    // From the thread that handles the request, from one of Qt's pool threads (started before the
    // request, as a library's would be) and from a thread started now.
    QStringList outcomes = tryRoads(file, parent, "main thread");
    QSemaphore done;
    pool->start([&] {
        outcomes << tryRoads(file, parent, "pool thread");
        done.release();
    });
    done.acquire();
    std::thread([&] { outcomes << tryRoads(file, parent, "new thread"); }).join();
    return {{QStringLiteral("damage"), outcomes.join(QLatin1Char(','))}};
}
