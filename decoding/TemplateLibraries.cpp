#include "decoding/TemplateLibraries.h"

#include "decoding/MediaDecoder_p.h"

#include <link.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

struct Range {
    uintptr_t start = 0;
    uintptr_t end = 0;
};

// Written once, before the template forks its first child; read by a child's fault handler, which
// may call nothing that allocates.
constexpr int rangeCapacity = 128;
Range givenUp[rangeCapacity];
int givenUpCount = 0;

// The libraries the reading of PNG, GIF, JPEG, TIFF and the program's own formats reaches, by the
// start of their file names. The TIFF codecs' libraries (WebP, ZSTD, LZMA, LERC, JBIG) are not
// among them: a TIFF file that needs one is read by a child of the whole template. Nor is GLib,
// which Qt reaches only from an event loop or a new thread, or any library kept only for its
// thread-local data: a new thread copies every library's, and a child that starts one reaches a
// library given up (see giveUpUnusual).
constexpr const char *keptNames[] = {"ld-linux",    "linux-vdso",    "libc.so",      "libm.so",    "libstdc++.so",
                                     "libgcc_s.so", "libQt6Core.so", "libQt6Gui.so", "libjpeg.so", "libpng16.so",
                                     "libz.so",     "libdeflate.so", "libtiff.so"};

bool isKept(const dl_phdr_info &info)
{
    const char *path = info.dlpi_name;
    if (!path || !*path)
        return true; // the program itself
    const char *slash = std::strrchr(path, '/');
    const char *name = slash ? slash + 1 : path;
    for (const char *kept : keptNames)
        if (std::strncmp(name, kept, std::strlen(kept)) == 0)
            return true;
    return false;
}

int collect(dl_phdr_info *info, size_t, void *)
{
    if (isKept(*info) || givenUpCount == rangeCapacity)
        return 0;
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    Range span{~uintptr_t(0), 0};
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || segment.p_memsz == 0)
            continue;
        const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        span.start = std::min(span.start, start & ~(page - 1));
        span.end = std::max(span.end, (start + segment.p_memsz + page - 1) & ~(page - 1));
    }
    if (span.start < span.end)
        givenUp[givenUpCount++] = span;
    return 0;
}

// The handler this one stands before (the one that tells a child at its memory limit).
struct sigaction previousHandler {};

void onFault(int signal, siginfo_t *info, void *context)
{
    // si_code above 0: the kernel's, for a fault at si_addr (not a signal sent).
    if (info->si_code > 0 && TemplateLibraries::isGivenUp(info->si_addr))
        _exit(DecoderProtocol::exitNeedsWholeDecoder);
    // Any other fault goes on as it would have without this handler: to the one before, or to the
    // default action (the faulting instruction runs again; a signal that was sent is sent again).
    ::sigaction(signal, &previousHandler, nullptr);
    if (previousHandler.sa_flags & SA_SIGINFO) {
        if (previousHandler.sa_sigaction)
            previousHandler.sa_sigaction(signal, info, context);
    } else if (previousHandler.sa_handler != SIG_DFL && previousHandler.sa_handler != SIG_IGN) {
        previousHandler.sa_handler(signal);
    } else if (info->si_code <= 0) {
        ::raise(signal);
    }
}

} // namespace

bool TemplateLibraries::giveUpUnusual()
{
    givenUpCount = 0;
    // First the spans, then the mappings: the list is ld.so's, walked under its lock.
    ::dl_iterate_phdr(collect, nullptr);
    int kept = 0;
    for (int i = 0; i < givenUpCount; ++i) {
        const Range span = givenUp[i];
        // One reservation over the whole span (its segments and the gaps between them): the
        // kernel joins it with those of neighbouring libraries given up.
        void *reserved = ::mmap(reinterpret_cast<void *>(span.start), span.end - span.start, PROT_NONE,
                                MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (reserved != MAP_FAILED)
            givenUp[kept++] = span;
    }
    givenUpCount = kept;
    std::sort(givenUp, givenUp + givenUpCount, [](const Range &a, const Range &b) { return a.start < b.start; });
    return givenUpCount > 0;
}

int TemplateLibraries::givenUpRanges() { return givenUpCount; }

bool TemplateLibraries::isGivenUp(const void *address)
{
    const uintptr_t at = reinterpret_cast<uintptr_t>(address);
    for (int i = 0; i < givenUpCount; ++i)
        if (at >= givenUp[i].start && at < givenUp[i].end)
            return true;
    return false;
}

void TemplateLibraries::endOnReachingGivenUp()
{
    if (givenUpCount == 0)
        return;
    struct sigaction action {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGSEGV, &action, &previousHandler);
}
