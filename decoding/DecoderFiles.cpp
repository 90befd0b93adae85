// The decoder's file opening (see DecoderFiles.h). The C library's opening functions are
// replaced here, for the decoder program only: a library that opens the request's file by name
// gets one of the descriptors the program handed over; every other name is opened as usual (and
// the sandbox decides). Fortified inline wrappers would clash with these definitions.
#undef _FORTIFY_SOURCE

#include "decoding/DecoderFiles.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/kcmp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr int notThisFile = -2;
constexpr int notAPlainRead = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | O_DIRECTORY | O_PATH;

// Constant-initialised: libraries open files from their constructors, before main.
std::mutex filesMutex;
std::atomic<bool> holding{false};
int files[DecoderFiles::maxDescriptions] = {-1, -1, -1, -1, -1, -1, -1, -1};
// The descriptor last handed out of each opening, while it may still be in use.
int handed[DecoderFiles::maxDescriptions] = {-1, -1, -1, -1, -1, -1, -1, -1};
int fileCount = 0;
dev_t fileDevice = 0;
ino_t fileInode = 0;

// An opening none of whose handed-out descriptors is open any more: its offset is nobody's.
int freeOpening()
{
    const pid_t self = ::getpid();
    for (int i = 0; i < fileCount; ++i) {
        if (handed[i] < 0 || ::fcntl(handed[i], F_GETFD) < 0
            || ::syscall(SYS_kcmp, self, self, KCMP_FILE, handed[i], files[i]) > 0)
            return i;
    }
    return -1;
}

int handOut(int dirfd, const char *path, int flags)
{
    if (!holding.load(std::memory_order_acquire) || !path || (flags & notAPlainRead) != 0)
        return notThisFile;
    struct stat named {};
    if (::fstatat(dirfd, path, &named, 0) != 0)
        return notThisFile;
    const std::lock_guard lock(filesMutex);
    if (fileCount == 0 || named.st_dev != fileDevice || named.st_ino != fileInode)
        return notThisFile;
    const int opening = freeOpening();
    if (opening < 0) {
        // Each opening has an offset of its own: one more at once than the program sent cannot.
        errno = EMFILE;
        return -1;
    }
    const int fd = ::fcntl(files[opening], (flags & O_CLOEXEC) != 0 ? F_DUPFD_CLOEXEC : F_DUPFD, 0);
    if (fd >= 0) {
        ::lseek(fd, 0, SEEK_SET);
        handed[opening] = fd;
    }
    return fd;
}

int openFile(int dirfd, const char *path, int flags, mode_t mode)
{
    const int handed = handOut(dirfd, path, flags);
    if (handed != notThisFile)
        return handed;
    return int(::syscall(SYS_openat, dirfd, path, flags, mode));
}

mode_t modeOf(int flags, va_list arguments)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(arguments, int)) : 0;
}

// The C library's own stream openings, found as the program starts: a decoder's template finds
// them once for all its children (each would otherwise look them up again), and a template that
// gave up libraries (see TemplateLibraries.h) could not look them up at all.
using OpenStream = FILE *(*)(const char *, const char *);
OpenStream realFopen = nullptr;
OpenStream realFopen64 = nullptr;

__attribute__((constructor)) void findRealOpenings()
{
    realFopen = reinterpret_cast<OpenStream>(::dlsym(RTLD_NEXT, "fopen"));
    realFopen64 = reinterpret_cast<OpenStream>(::dlsym(RTLD_NEXT, "fopen64"));
}

FILE *openStream(const char *path, const char *mode, OpenStream real)
{
    if (path && mode && !std::strpbrk(mode, "wa+")) {
        const int fd = handOut(AT_FDCWD, path, O_RDONLY | (std::strchr(mode, 'e') ? O_CLOEXEC : 0));
        if (fd >= 0) {
            FILE *stream = ::fdopen(fd, mode);
            if (!stream)
                ::close(fd);
            return stream;
        }
        if (fd != notThisFile)
            return nullptr;
    }
    if (!real) {
        errno = ENOSYS;
        return nullptr;
    }
    return real(path, mode);
}

} // namespace

void DecoderFiles::hold(const std::vector<int> &descriptors)
{
    release();
    struct stat info {};
    if (descriptors.empty() || ::fstat(descriptors.front(), &info) != 0 || !S_ISREG(info.st_mode)) {
        for (const int fd : descriptors)
            ::close(fd);
        return;
    }
    const std::lock_guard lock(filesMutex);
    for (const int fd : descriptors) {
        if (fileCount < maxDescriptions)
            files[fileCount++] = fd;
        else
            ::close(fd);
    }
    fileDevice = info.st_dev;
    fileInode = info.st_ino;
    holding.store(true, std::memory_order_release);
}

void DecoderFiles::release()
{
    const std::lock_guard lock(filesMutex);
    holding.store(false, std::memory_order_release);
    for (int i = 0; i < fileCount; ++i) {
        ::close(files[i]);
        handed[i] = -1;
    }
    fileCount = 0;
}

extern "C" {

int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);

int open(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    return openFile(AT_FDCWD, path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    return openFile(AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    return openFile(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    return openFile(dirfd, path, flags, mode);
}

int __open_2(const char *path, int flags) { return openFile(AT_FDCWD, path, flags, 0); }
int __open64_2(const char *path, int flags) { return openFile(AT_FDCWD, path, flags, 0); }
int __openat_2(int dirfd, const char *path, int flags) { return openFile(dirfd, path, flags, 0); }
int __openat64_2(int dirfd, const char *path, int flags) { return openFile(dirfd, path, flags, 0); }

FILE *fopen(const char *path, const char *mode) { return openStream(path, mode, realFopen); }
FILE *fopen64(const char *path, const char *mode) { return openStream(path, mode, realFopen64); }
}
