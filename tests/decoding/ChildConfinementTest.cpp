#include "decoding/ChildConfinement.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace {

// Runs `attempt` in a child confined as the dcraw launcher and the player confine theirs (the one
// file readable, `localSockets` as the player has them); answers whether it succeeded, or nullopt
// when the confinement could not be set.
std::optional<bool> inConfinedChild(const std::string &readable, bool localSockets,
                                    const std::function<bool()> &attempt)
{
    int ends[2];
    if (::pipe(ends) != 0)
        return std::nullopt;
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        char answer = 'x';
        if (ChildConfinement::endWithParent(parent)
            && ChildConfinement::restrictFiles({{readable, true, false, false}, {"/usr/lib", true, false, false}}) > 0
            && ChildConfinement::filterCalls(localSockets, false))
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

// What a program run under the confinement (dcraw, the movie player) may still do, and what it
// may not, whatever a hostile file made it run.
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
        bool localSockets;
        std::function<bool()> attempt;
        bool allowed;
    };
    const Case cases[] = {
        {"read its file", false, [&] { return opens(file, O_RDONLY); }, true},
        {"read a library", false, [&] { return opens("/usr/lib/os-release", O_RDONLY); }, true},
        {"read another file", false, [&] { return opens(privateFile, O_RDONLY); }, false},
        {"read the password file", false, [&] { return opens("/etc/passwd", O_RDONLY); }, false},
        {"write its own file", false, [&] { return opens(file, O_WRONLY); }, false},
        {"create a file", false, [&] { return opens(created, O_WRONLY | O_CREAT); }, false},
        {"remove a file", false, [&] { return ::unlink(privateFile.c_str()) == 0; }, false},
        {"open a network socket", false, [] { return ::socket(AF_INET, SOCK_STREAM, 0) >= 0; }, false},
        {"open a local socket", false, [] { return ::socket(AF_UNIX, SOCK_STREAM, 0) >= 0; }, false},
        {"open a local socket (player)", true, [] { return ::socket(AF_UNIX, SOCK_STREAM, 0) >= 0; }, true},
        {"open a network socket (player)", true, [] { return ::socket(AF_INET6, SOCK_DGRAM, 0) >= 0; }, false},
        {"start a process", false,
         [] {
             const pid_t pid = ::fork();
             if (pid == 0)
                 _exit(0);
             return pid > 0;
         },
         false},
        {"run a program", false,
         [] {
             char *const argv[] = {const_cast<char *>("/bin/true"), nullptr};
             ::execv("/bin/true", argv);
             return false;
         },
         false},
        {"signal its parent", false, [] { return ::kill(::getppid(), 0) == 0; }, false},
        {"trace its parent", false, [] { return ::ptrace(PTRACE_ATTACH, ::getppid(), nullptr, nullptr) == 0; }, false},
        {"start io_uring", false, [] { return ::syscall(SYS_io_uring_setup, 1, nullptr) >= 0 || errno != EPERM; },
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<bool> done = inConfinedChild(file, c.localSockets, c.attempt);
        if (!done)
            GTEST_SKIP() << "the kernel offers no Landlock here";
        EXPECT_EQ(*done, c.allowed);
    }
    EXPECT_TRUE(QFile::exists(other));
    EXPECT_FALSE(QFile::exists(dir.filePath("created")));
}
