// Linked into each program that decodes in a child of its own (ovn-decoder, ovn-player): every
// allocation of the program and its libraries comes here first. One that fails means the file
// needs more memory than the child's limit, and the child ends at once with the status its protocol
// gives that case rather than let a library carry on with a half-made picture. Memory the libraries
// take otherwise (a thread's stack, their own mappings) fails where they fault or abort on it: a
// child that faults or aborts while no more memory can be mapped ends with the same status, so
// that its file is not taken for a damaged one. In sanitizer builds the sanitizers own the
// allocator and the caller watches instead.

#include "decoding/MediaDecoder_p.h"
#include "decoding/Player_p.h"

#include <cerrno>
#include <csignal>
#include <cstddef>

#include <sys/mman.h>
#include <unistd.h>

static_assert(PlayerProtocol::exitOutOfMemory == DecoderProtocol::exitOutOfMemory,
              "one allocation hook serves the decoder and the player");

#ifndef OVN_DECODER_WATCHED
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *pointer);

[[noreturn]] static void outOfMemory() { _exit(DecoderProtocol::exitOutOfMemory); }

void *malloc(size_t size) noexcept
{
    void *pointer = __libc_malloc(size);
    if (!pointer && size > 0)
        outOfMemory();
    return pointer;
}

void *calloc(size_t count, size_t size) noexcept
{
    void *pointer = __libc_calloc(count, size);
    if (!pointer && count > 0 && size > 0)
        outOfMemory();
    return pointer;
}

void *realloc(void *pointer, size_t size) noexcept
{
    void *moved = __libc_realloc(pointer, size);
    if (!moved && size > 0)
        outOfMemory();
    return moved;
}

// FFmpeg allocates its frames aligned: a refused one would otherwise come back as a decode error
// (a movie that seems to end early) rather than as a file that needs more memory.
int posix_memalign(void **pointer, size_t alignment, size_t size) noexcept
{
    if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void *aligned = __libc_memalign(alignment, size);
    if (!aligned && size > 0)
        outOfMemory();
    *pointer = aligned;
    return 0;
}

void *aligned_alloc(size_t alignment, size_t size) noexcept
{
    void *aligned = __libc_memalign(alignment, size);
    if (!aligned && size > 0)
        outOfMemory();
    return aligned;
}

void *memalign(size_t alignment, size_t size) noexcept
{
    void *aligned = __libc_memalign(alignment, size);
    if (!aligned && size > 0)
        outOfMemory();
    return aligned;
}

void free(void *pointer) noexcept { __libc_free(pointer); }
}

namespace {

// What is mapped to tell a child at its limit from one that is not: more than a thread's stack,
// the largest piece the libraries map for themselves.
constexpr size_t probeBytes = size_t(16) << 20;

// On a fault or an abort: a child that cannot map probeBytes more is at its limit, and ends as out
// of memory; any other goes on to the signal's own end (only calls safe in a signal handler).
void endAtLimit(int signal)
{
    void *probe = ::mmap(nullptr, probeBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (probe == MAP_FAILED && errno == ENOMEM)
        _exit(DecoderProtocol::exitOutOfMemory);
    if (probe != MAP_FAILED)
        ::munmap(probe, probeBytes);
    struct sigaction ending {};
    ending.sa_handler = SIG_DFL;
    ::sigaction(signal, &ending, nullptr);
    ::raise(signal);
}

__attribute__((constructor)) void watchFaultsAtLimit()
{
    struct sigaction watch {};
    watch.sa_handler = endAtLimit;
    watch.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (const int signal : {SIGSEGV, SIGBUS, SIGABRT})
        ::sigaction(signal, &watch, nullptr);
}

} // namespace
#endif
