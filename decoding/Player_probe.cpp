// Test builds only: the roads out of the movie player, tried from inside it on the calling
// thread. `targets` names what the test set up outside: a listener in a home folder ("homeSocket"),
// one where a display server's would be ("displaySocket"), an abstract one ("abstractSocket"), a
// file of the home folder ("homeFile") and a shared-memory file of another program ("shmFile").

#include <QFile>
#include <QStringList>
#include <QVariantMap>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

QStringList playerProbeRoads(const QVariantMap &targets);

namespace {

bool closed(int fd)
{
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// A connection to a listener at `name` (abstract when it starts with '@').
bool connectsTo(const QByteArray &name)
{
    if (name.isEmpty())
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const qsizetype length = std::min<qsizetype>(name.size(), qsizetype(sizeof address.sun_path) - 1);
    std::memcpy(address.sun_path, name.constData(), size_t(length));
    if (name.startsWith('@'))
        address.sun_path[0] = '\0';
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr *>(&address),
                                     socklen_t(offsetof(sockaddr_un, sun_path) + size_t(length)))
                           == 0;
    ::close(fd);
    return connected;
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

} // namespace

QStringList playerProbeRoads(const QVariantMap &targets)
{
    const auto target = [&targets](const char *key) {
        return QFile::encodeName(targets.value(QString::fromLatin1(key)).toString());
    };
    const QByteArray homeFile = target("homeFile");
    const QByteArray shmFile = target("shmFile");
    const std::vector<std::pair<const char *, std::function<bool()>>> roads = {
        {"unix socket", [] { return closed(::socket(AF_UNIX, SOCK_STREAM, 0)); }},
        {"inet socket", [] { return closed(::socket(AF_INET, SOCK_STREAM, 0)); }},
        // The call itself: the player's own socketpair() gives pipes.
        {"socketpair",
         [] {
             int ends[2];
             if (::syscall(SYS_socketpair, AF_UNIX, SOCK_STREAM, 0, ends) != 0)
                 return false;
             ::close(ends[0]);
             ::close(ends[1]);
             return true;
         }},
        {"listener in the home folder", [&] { return connectsTo(target("homeSocket")); }},
        {"display server", [&] { return connectsTo(target("displaySocket")); }},
        {"abstract socket", [&] { return connectsTo('@' + target("abstractSocket")); }},
        {"write shared memory", [&] { return closed(::open(shmFile.constData(), O_WRONLY | O_CLOEXEC)); }},
        {"make shared memory",
         [] { return closed(::open("/dev/shm/ovn-player-probe", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)); }},
        {"read the home folder's file", [&] { return readsSomething(homeFile); }},
        {"write the home folder's file", [&] { return closed(::open(homeFile.constData(), O_WRONLY | O_CLOEXEC)); }},
        {"sound devices", [] { return closed(::open("/dev/snd", O_RDONLY | O_DIRECTORY | O_CLOEXEC)); }},
        {"display in the environment", [] { return !qEnvironmentVariableIsEmpty("DISPLAY"); }},
        {"session bus in the environment", [] { return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"); }},
    };
    QStringList outcomes;
    for (const auto &[road, take] : roads)
        outcomes << QString::fromLatin1(road) + (take() ? QStringLiteral(": taken") : QStringLiteral(": refused"));
    // What playing needs still works: a system library is read.
    outcomes << (readsSomething("/etc/ld.so.cache") ? QStringLiteral("reading: taken")
                                                    : QStringLiteral("reading: refused"));
    return outcomes;
}
