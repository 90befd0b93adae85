#include "decoding/DcrawReader.h"

#include "decoding/ConfinementNotice.h"
#include "decoding/DecodeInterrupt.h"
#include "decoding/Dcraw_p.h"
#include "decoding/HelperProgram_p.h"
#include "decoding/MediaDecoder.h"
#include "platform/FileAccess.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <vector>

using Refusal = ImageFileReader::Facts::Refusal;

namespace {

QString programPath()
{
#ifdef OVN_DCRAW_BUILD_PATH
    return helperProgramPath(DcrawPicture::programName, OVN_DCRAW_BUILD_PATH);
#else
    return helperProgramPath(DcrawPicture::programName, nullptr);
#endif
}

enum class Wait { Done, Ended, Stopped };

// Reads exactly `size` bytes, ending the wait at the deadline or Cancel.
Wait receive(int fd, char *into, qint64 size, DecodeInterrupt::Clock::time_point deadline, Refusal *why)
{
    while (size > 0) {
        if (DecodeInterrupt::cancelled()) {
            *why = Refusal::Cancelled;
            return Wait::Stopped;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - DecodeInterrupt::Clock::now()).count();
        if (left <= 0) {
            *why = Refusal::OutOfTime;
            return Wait::Stopped;
        }
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, int(std::clamp<long long>(left, 1, 50)));
        if (polled < 0 && errno != EINTR)
            return Wait::Ended;
        if (polled <= 0)
            continue;
        const ssize_t count = ::read(fd, into, size_t(std::min<qint64>(size, qint64(1) << 20)));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return Wait::Ended;
        into += count;
        size -= count;
    }
    return Wait::Done;
}

} // namespace

QImage DcrawReader::read(const QString &path, const QString &dcraw, QSize box, QSize *sourceSize, Refusal *refusal)
{
    Refusal why = Refusal::None;
    const auto answer = [&](QImage image) {
        if (refusal)
            *refusal = why;
        return image;
    };
    if (!box.isValid() || box.isEmpty())
        box = QSize(fullSizeSide, fullSizeSide);
    box = box.boundedTo(QSize(fullSizeSide, fullSizeSide));
    static const QString program = programPath();
    const QFileInfo file(path);
    if (program.isEmpty() || dcraw.isEmpty() || !file.isFile())
        return answer({});
    if (DecodeInterrupt::shouldStop()) {
        why = DecodeInterrupt::cancelled() ? Refusal::Cancelled : Refusal::OutOfTime;
        return answer({});
    }
    const auto deadline = DecodeInterrupt::deadlineWithin(MediaDecoder::timeLimit);
    ConfinementNotice::sayOnceIfMissing();

    // A file held for its import goes to dcraw as the file that was found: on its standard input,
    // named "/dev/stdin", which dcraw opens as that very file whatever its name names meanwhile.
    const std::optional<int> held = FileAccess::openHeld(path);
    if (held && *held < 0)
        return answer({});
    const auto closeHeld = [&held] {
        if (held)
            ::close(*held);
    };

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        closeHeld();
        return answer({});
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (held)
        posix_spawn_file_actions_adddup2(&actions, *held, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    // What dcraw says of a file it cannot read stays off the terminal.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: no terminal to reach.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    const QByteArray arguments[] = {QFile::encodeName(program),
                                    held ? QByteArray("/dev/stdin") : QFile::encodeName(file.absoluteFilePath()),
                                    QByteArray::number(box.width()),
                                    QByteArray::number(box.height()),
                                    QByteArray::number(MediaDecoder::memoryLimit(MediaDecoder::Use::FullSize)),
                                    QFile::encodeName(QFileInfo(dcraw).absoluteFilePath()),
                                    QByteArray::number(::getpid())};
    char *argv[std::size(arguments) + 1] = {};
    for (size_t i = 0; i < std::size(arguments); ++i)
        argv[i] = const_cast<char *>(arguments[i].constData());
    std::vector<char *> environment;
#ifdef OVN_DECODER_TEST_TRIGGERS
    // Test builds: Landlock made to look absent in the child (see ChildConfinement.h).
    QByteArray noLandlock("OVN_DECODER_TEST_NO_LANDLOCK=");
    if (qEnvironmentVariableIsSet("OVN_DECODER_TEST_NO_LANDLOCK")) {
        noLandlock += qgetenv("OVN_DECODER_TEST_NO_LANDLOCK");
        environment.push_back(noLandlock.data());
    }
#endif
    environment.push_back(nullptr);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, argv[0], &actions, &attributes, argv, environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    closeHeld();
    if (spawned != 0) {
        ::close(ends[0]);
        return answer({});
    }

    QImage image;
    DcrawPicture::Header header;
    Wait wait = receive(ends[0], reinterpret_cast<char *>(&header), sizeof header, deadline, &why);
    if (wait == Wait::Done) {
        // Never more than was asked for: a picture that is not the box's is not ours.
        const QSize size(header.width, header.height);
        if (std::memcmp(header.magic, DcrawPicture::Header().magic, sizeof header.magic) != 0 || size.isEmpty()
            || size.width() > box.width() || size.height() > box.height()) {
            wait = Wait::Stopped;
            why = Refusal::Crashed;
        } else {
            image = QImage(size, QImage::Format_RGB32);
            if (image.isNull()) {
                wait = Wait::Stopped;
                why = Refusal::TooLarge;
            } else {
                for (int y = 0; y < size.height() && wait == Wait::Done; ++y)
                    wait = receive(ends[0], reinterpret_cast<char *>(image.scanLine(y)), qint64(size.width()) * 4,
                                   deadline, &why);
                if (sourceSize)
                    *sourceSize = QSize(header.sourceWidth, header.sourceHeight);
            }
        }
    }
    if (wait == Wait::Stopped)
        ::kill(child, SIGKILL);
    ::close(ends[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    if (wait != Wait::Done || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        if (why == Refusal::None && WIFEXITED(status) && WEXITSTATUS(status) == DcrawPicture::exitOutOfMemory)
            why = Refusal::TooLarge;
        else if (why == Refusal::None && WIFSIGNALED(status))
            why = Refusal::Crashed;
        return answer({});
    }
    return answer(image);
}
