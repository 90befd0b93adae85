#include "tests/support/TestEnvironment.h"
#include "decoding/ChildConfinement.h"
#include "tests/support/ConfinementRoads.h"
#include "tests/support/HostileMedia.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

// Runs `attempt` in a child confined by confine() with the decoders' calls and the one file and
// the system's libraries readable; answers whether it succeeded, or nullopt when the confinement
// could not be set whole (no Landlock).
std::optional<bool> inConfinedChild(const std::string &readable, const std::function<bool()> &attempt)
{
    int ends[2];
    if (::pipe(ends) != 0)
        return std::nullopt;
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        char answer = 'x';
        ChildConfinement::Allowances allowances;
        allowances.files = {{readable, true, false, false}, {"/usr/lib", true, false, false}};
        allowances.calls = ChildConfinement::decodingCalls();
        allowances.parent = parent;
        if (ChildConfinement::confine(allowances) == ChildConfinement::Confined::Whole)
            answer = attempt() ? 'y' : 'n';
        (void)!::write(ends[1], &answer, 1);
        _exit(0);
    }
    ::close(ends[1]);
    char answer = 'x';
    const bool read = ::read(ends[0], &answer, 1) == 1;
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!read || answer == 'x')
        return std::nullopt;
    return answer == 'y';
}

} // namespace

// What a program run under the confinement may still do, and what it may not, whatever a hostile
// file made it run.
TEST(ChildConfinementTest, TheConfinedChildReadsItsFileAndNothingElse)
{
    QTemporaryDir dir;
    const QString mine = dir.filePath("picture.raw");
    const QString other = dir.filePath("private.txt");
    for (const QString &path : {mine, other}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("bytes");
    }
    const std::string file = QFile::encodeName(mine).toStdString();
    const std::string privateFile = QFile::encodeName(other).toStdString();
    const std::string created = QFile::encodeName(dir.filePath("created")).toStdString();
    const auto opens = [](const std::string &path, int flags) {
        const int fd = ::open(path.c_str(), flags, 0644);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0;
    };
    struct Case {
        const char *what;
        std::function<bool()> attempt;
        bool allowed;
    };
    const Case cases[] = {
        {"read its file", [&] { return opens(file, O_RDONLY); }, true},
        {"read a library", [&] { return opens("/usr/lib/os-release", O_RDONLY); }, true},
        {"read another file", [&] { return opens(privateFile, O_RDONLY); }, false},
        {"read the password file", [&] { return opens("/etc/passwd", O_RDONLY); }, false},
        {"write its own file", [&] { return opens(file, O_WRONLY); }, false},
        {"create a file", [&] { return opens(created, O_WRONLY | O_CREAT); }, false},
        {"remove a file", [&] { return ::unlink(privateFile.c_str()) == 0; }, false},
        {"open a network socket", [] { return ::socket(AF_INET, SOCK_STREAM, 0) >= 0; }, false},
        {"open a local socket", [] { return ::socket(AF_UNIX, SOCK_STREAM, 0) >= 0; }, false},
        {"start a process",
         [] {
             const pid_t pid = ::fork();
             if (pid == 0)
                 _exit(0);
             return pid > 0;
         },
         false},
        {"run a program",
         [] {
             char *const argv[] = {const_cast<char *>("/bin/true"), nullptr};
             ::execv("/bin/true", argv);
             return false;
         },
         false},
        {"signal its parent", [] { return ::kill(::getppid(), 0) == 0; }, false},
        {"trace its parent", [] { return ::ptrace(PTRACE_ATTACH, ::getppid(), nullptr, nullptr) == 0; }, false},
        {"start io_uring", [] { return ::syscall(SYS_io_uring_setup, 1, nullptr) >= 0 || errno != EPERM; }, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<bool> done = inConfinedChild(file, c.attempt);
        if (!done)
            GTEST_SKIP() << "the kernel offers no Landlock here";
        EXPECT_EQ(*done, c.allowed);
    }
    EXPECT_TRUE(QFile::exists(other));
    EXPECT_FALSE(QFile::exists(dir.filePath("created")));
}

namespace {

// Alive: there, and not a zombie waiting to be reaped.
bool alive(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.size() > close + 2 && line.at(close + 2) != 'Z' && line.at(close + 2) != 'X';
}

} // namespace

// Each kind of decoding child, confined as it confines itself: every road out is refused from its
// main thread, from a Qt pool thread and from a thread it starts. With Landlock made to look
// absent, the filter alone still refuses every write, removal, creation, program start, signal,
// socket and IPC. "decoder" stands for ovn-decoder's children, the PDF page child and the dcraw
// launcher, which share their allowances; "template" for ovn-decoder's template, which may besides
// fork, reap and hand over its children and set their filters, but signal none but itself, nor
// undo its end with the program; "dcraw" for the dcraw program after its exec; "player" for the
// movie player (whose own probe, run while it plays, MoviePlayerTest tries).
TEST(ChildConfinementTest, EveryRoadIsRefusedFromEveryThreadOfEveryChild)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // Readable by the unprivileged account the probe runs as, so that only the confinement refuses.
    QFile::setPermissions(folder.path(), QFile::Permissions(0x7755));
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("home")));
    QFile::setPermissions(folder.filePath(QStringLiteral("home")), QFile::Permissions(0x7755));
    hostilemedia::written(folder.filePath(QStringLiteral("home/.pgpass")), "localhost:5432:*:me:secret");
    const QString probe = hostilemedia::written(folder.filePath(QStringLiteral("probe.jpg")), "picture");
    const QString kept = hostilemedia::written(probe + QStringLiteral(".kept"), "kept");
    hostilemedia::written(probe + QStringLiteral(".private"), "private");
    const QString removable = hostilemedia::written(probe + QStringLiteral(".removable"), "removable");
    for (const QString &path : {probe, kept, removable, probe + QStringLiteral(".private")})
        QFile::setPermissions(path, QFile::Permissions(0x6644));
    const bool landlock = ChildConfinement::landlockVersion() > 0;

    for (const char *kind : {"decoder", "template", "dcraw", "player"}) {
        for (const bool withLandlock : {true, false}) {
            if (withLandlock && !landlock)
                continue;
            SCOPED_TRACE(std::string(kind) + (withLandlock ? ", with Landlock" : ", Landlock absent"));
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            // The program's spawn clears the environment (see DecoderSandboxTest); so does this one.
            environment.remove(QStringLiteral("PGPASSWORD"));
            if (!withLandlock)
                environment.insert(QStringLiteral("OVN_DECODER_TEST_NO_LANDLOCK"), QStringLiteral("1"));
            child.setProcessEnvironment(environment);
            child.start(QStringLiteral(OVN_CONFINED_PROBE), {QString::fromLatin1(kind), probe});
            ASSERT_TRUE(child.waitForFinished(120000));
            ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
            QMap<QString, QString> tried =
                confinementroads::outcomes(QString::fromLocal8Bit(child.readAllStandardOutput()).split(u'\n'));
            for (const char *thread : confinementroads::threads) {
                for (const confinementroads::Road &road : confinementroads::roads) {
                    const QString outcome = tried.take(confinementroads::key(road.name, thread));
                    // Without Landlock a read may go through; nothing else may, but what a
                    // template does for its children.
                    if (std::strcmp(kind, "template") == 0 && road.takenByTemplate)
                        continue;
                    if (withLandlock || road.closedByFilter) {
                        EXPECT_EQ(outcome.toStdString(), "refused") << road.name << " from the " << thread;
                    }
                }
                EXPECT_EQ(tried.take(confinementroads::key("reading", thread)).toStdString(), "taken");
            }
            EXPECT_TRUE(tried.isEmpty()) << "roads this test does not know: " << qPrintable(tried.keys().join(u','));
            QFile keptFile(kept);
            ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
            EXPECT_EQ(keptFile.readAll(), QByteArray("kept"));
            EXPECT_TRUE(QFile::exists(removable));
            for (const char *made : {".written", ".creat", ".folder", ".link", ".renamed"})
                EXPECT_FALSE(QFile::exists(probe + QLatin1String(made))) << made;
        }
    }
}

// A child that undid what it could of its end with its program (the parent-death signal, its
// session) still ends with the program's kill -9.
TEST(ChildConfinementTest, NoChildOutlivesItsProgram)
{
    for (const char *kind : {"decoder", "template", "dcraw", "player"}) {
        SCOPED_TRACE(kind);
        QProcess host;
        host.start(QStringLiteral(OVN_CONFINED_PROBE), {QStringLiteral("linger"), QString::fromLatin1(kind)});
        ASSERT_TRUE(host.waitForStarted());
        ASSERT_TRUE(host.waitForReadyRead(30000));
        const pid_t child = pid_t(host.readLine().trimmed().toLongLong());
        ASSERT_GT(child, 0);
        ASSERT_TRUE(alive(child));
        ::kill(pid_t(host.processId()), SIGKILL);
        ASSERT_TRUE(host.waitForFinished(waitCeilingMs));
        // Polled until it has gone; the ceiling only keeps a child that outlives its host from
        // holding the test.
        const auto killed = std::chrono::steady_clock::now();
        while (alive(child) && std::chrono::steady_clock::now() - killed < std::chrono::milliseconds(waitCeilingMs))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_FALSE(alive(child));
        if (alive(child))
            ::kill(child, SIGKILL);
    }
}

// The dcraw program and the movie player taken over take memory every way they can: written and
// made read-only, mapped PROT_NONE and opened, shared, as threads' stacks and as pipes' buffers.
// Each way stops within the child's address space, its memory and what it maps beside (dcraw's
// few libraries, the player's plugins), where the player's used to reach 2.6 GiB; the pipes at a
// few. (The decoders' children are tried in DecoderSandboxTest.)
TEST(ChildConfinementTest, AChildThatTakesMemoryEveryWayIsStoppedAtItsLimit)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "sanitizer builds run their children without address-space limits";
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "sanitizer builds run their children without address-space limits";
#endif
#endif
    constexpr qint64 mib = qint64(1) << 20;
    const struct {
        const char *kind;
        qint64 addressSpace; // at most: its memory (the larger decoder's) and what it maps beside
    } children[] = {{"dcraw", 640 * mib + 128 * mib}, {"player", 640 * mib + 1024 * mib}};
    const char *const mappings[] = {"written and made read-only", "mapped PROT_NONE and opened", "shared anonymous",
                                    "threads"};
    for (const auto &[kind, most] : children) {
        SCOPED_TRACE(kind);
        QProcess child;
        child.start(QStringLiteral(OVN_CONFINED_PROBE), {QStringLiteral("memory"), QString::fromLatin1(kind)});
        ASSERT_TRUE(child.waitForFinished(120000));
        ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
        QMap<QString, qint64> taken;
        for (const QString &line : QString::fromLocal8Bit(child.readAllStandardOutput()).split(u'\n')) {
            const qsizetype colon = line.lastIndexOf(QLatin1String(": "));
            if (colon > 0 && line.endsWith(QLatin1String(" KiB")))
                taken.insert(line.left(colon), line.mid(colon + 2).chopped(4).toLongLong() * 1024);
        }
        const qint64 addressSpace = taken.take(QStringLiteral("address space"));
        EXPECT_GT(addressSpace, 0);
        EXPECT_LE(addressSpace, most);
        for (const char *road : mappings) {
            ASSERT_TRUE(taken.contains(QLatin1String(road))) << road;
            EXPECT_LE(taken.take(QLatin1String(road)), addressSpace) << road;
        }
        EXPECT_LE(taken.take(QStringLiteral("pipes")), 4 * mib);
        EXPECT_TRUE(taken.isEmpty()) << "roads this test does not know: " << qPrintable(taken.keys().join(u','));
    }
}

namespace {

// The process tree as it is now: each process's parent and name.
struct ProcessTree {
    QMap<pid_t, pid_t> parent;
    QMap<pid_t, QByteArray> name;

    static ProcessTree now()
    {
        ProcessTree tree;
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
            if (entry.toInt() <= 0 || !stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray line = stat.readAll();
            const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
            const QList<QByteArray> fields = line.mid(close + 2).split(' ');
            if (open < 0 || close < open || fields.size() < 2)
                continue;
            tree.parent.insert(pid_t(entry.toInt()), pid_t(fields.at(1).toLongLong()));
            tree.name.insert(pid_t(entry.toInt()), line.mid(open + 1, close - open - 1));
        }
        return tree;
    }

    // How many generations `pid` lies below `root` (0: it is root, -1: not below it).
    int depth(pid_t pid, pid_t root) const
    {
        for (int generations = 0; generations < 64; ++generations) {
            if (pid == root)
                return generations;
            if (!parent.contains(pid) || pid <= 1)
                return -1;
            pid = parent.value(pid);
        }
        return -1;
    }

    // The process named `processName` at least `depth` generations below `root` (0: none yet).
    pid_t below(pid_t root, const QByteArray &processName, int atLeast) const
    {
        for (auto it = name.begin(); it != name.end(); ++it)
            if (it.value() == processName && depth(it.key(), root) >= atLeast)
                return it.key();
        return 0;
    }

    QList<pid_t> treeOf(pid_t root) const
    {
        QList<pid_t> found;
        for (auto it = parent.begin(); it != parent.end(); ++it)
            if (depth(it.key(), root) >= 0)
                found << it.key();
        return found;
    }
};

} // namespace

// Whatever ends the process that started a decoding child ends the child: the program's kill -9,
// or the program's kill of a launcher at its deadline. Each child is started by the real program
// that starts it in use, confined as it is there (ovn-dcraw, which starts dcraw, in a Landlock
// domain of its own; a decoder's template, which forks the child that reads a file); dcraw is one
// a file took over, which never ends by itself.
TEST(ChildConfinementTest, NoChildOutlivesWhoStartedIt)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString raw = hostilemedia::written(folder.filePath(QStringLiteral("camera.dng")), "II*\0not a picture");
    const QString hanging = hostilemedia::written(folder.filePath(QStringLiteral("ovn-decoder-hangs-child.jpg")),
                                                  hostilemedia::jpegOfNoise(16, 16, false));
    const QString picture =
        hostilemedia::written(folder.filePath(QStringLiteral("picture.jpg")), hostilemedia::jpegOfNoise(32, 32, false));
    const struct {
        const char *what;
        const char *host;
        QStringList arguments;
        QByteArray child;    // the process that must end, started by...
        QByteArray launcher; // ... this one, which is ended (empty: the program is)
    } cases[] = {
        {"dcraw, the program killed", OVN_DCRAW_HOST, {raw, QStringLiteral(OVN_SLEEPING_DCRAW)}, "sleeping_dcraw", {}},
        {"dcraw, its launcher killed at its deadline",
         OVN_DCRAW_HOST,
         {raw, QStringLiteral(OVN_SLEEPING_DCRAW)},
         "sleeping_dcraw",
         "ovn-dcraw"},
        {"a decoder's child, the program killed", OVN_DECODER_HOST, {hanging, picture}, "ovn-decoder", {}},
        {"a decoder's child, its template killed", OVN_DECODER_HOST, {hanging, picture}, "ovn-decoder", "ovn-decoder"},
    };
    const bool landlock = ChildConfinement::landlockVersion() > 0;
    for (const auto &c : cases) {
        for (const bool withLandlock : {true, false}) {
            if (withLandlock && !landlock)
                continue;
            SCOPED_TRACE(std::string(c.what) + (withLandlock ? ", with Landlock" : ", Landlock absent"));
            QProcess host;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            if (!withLandlock)
                environment.insert(QStringLiteral("OVN_DECODER_TEST_NO_LANDLOCK"), QStringLiteral("1"));
            host.setProcessEnvironment(environment);
            host.start(QString::fromLatin1(c.host), c.arguments);
            ASSERT_TRUE(host.waitForStarted());
            const pid_t program = pid_t(host.processId());
            // Until the child runs below its launcher (the test's own bound, not a time it must keep).
            ProcessTree tree;
            pid_t child = 0;
            for (int look = 0; look < 3000 && !child; ++look) {
                tree = ProcessTree::now();
                child = tree.below(program, c.child, 2);
                if (!child)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ASSERT_GT(child, 0) << "the child never started";
            const pid_t victim = c.launcher.isEmpty() ? program : tree.below(program, c.launcher, 1);
            ASSERT_EQ(tree.depth(child, victim), c.launcher.isEmpty() ? 2 : 1);
            // Held by descriptors, so that a pid used again is not taken for a process still there.
            std::vector<pollfd> running;
            for (const pid_t pid : tree.treeOf(victim))
                if (const int end = int(::syscall(SYS_pidfd_open, pid, 0)); end >= 0)
                    running.push_back({end, POLLIN, 0});
            ASSERT_GE(running.size(), 2u);
            ::kill(victim, SIGKILL);
            // Each one's end, within the test's own bound.
            for (int wait = 0; wait < 60 && !running.empty(); ++wait) {
                ::poll(running.data(), running.size(), 500);
                for (auto end = running.begin(); end != running.end();) {
                    if (end->revents & POLLIN) {
                        ::close(end->fd);
                        end = running.erase(end);
                    } else {
                        ++end;
                    }
                }
            }
            EXPECT_TRUE(running.empty()) << running.size() << " processes left behind";
            for (const pollfd &end : running) {
                ::syscall(SYS_pidfd_send_signal, end.fd, SIGKILL, nullptr, 0);
                ::close(end.fd);
            }
            host.kill();
            host.waitForFinished();
        }
    }
}
