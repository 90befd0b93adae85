#include "decoding/TemplateLibraries.h"

#include "decoding/MediaDecoder_p.h"
#include "decoding/SignalPassOn.h"

#include <link.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Range {
    uintptr_t start = 0;
    uintptr_t end = 0;
};

// A library's span, and the pages of its thread-local data's first image within it (empty for a
// library without): each new thread copies that image, so it stays readable where it was.
struct Span {
    Range range;
    Range image;
};

// Written once, before the template forks its first child; read by a child's fault handler, which
// may call nothing that allocates.
constexpr int rangeCapacity = 128;
Span givenUp[rangeCapacity];
int givenUpCount = 0;

// The C and C++ runtime, which every template keeps, by the start of their file names.
constexpr const char *runtimeNames[] = {"ld-linux", "linux-vdso", "libc.so", "libm.so", "libstdc++.so", "libgcc_s.so"};

// The libraries the reading of PNG, GIF, JPEG, TIFF and the program's own formats reaches besides
// (with LittleCMS, which turns their colour profiles into sRGB). The TIFF codecs' libraries (WebP,
// ZSTD, LZMA, LERC, JBIG) are not among them: a TIFF file that needs one is read by a child of the
// whole template. Nor is GLib, which Qt reaches only from its event dispatcher (a decoder runs Qt's
// own, see giveUpUnusual).
constexpr const char *readerNames[] = {"libQt6Core.so", "libQt6Gui.so",  "libjpeg.so", "libpng16.so",
                                       "libz.so",       "libdeflate.so", "libtiff.so", "liblcms2.so"};

// Whether the readers' libraries are kept with the runtime (set before the walk below).
bool keepReaders = true;

bool isKept(const dl_phdr_info &info)
{
    const char *path = info.dlpi_name;
    if (!path || !*path)
        return true; // the program itself
    const char *slash = std::strrchr(path, '/');
    const char *name = slash ? slash + 1 : path;
    const auto among = [name](const auto &names) {
        return std::any_of(std::begin(names), std::end(names),
                           [name](const char *start) { return std::strncmp(name, start, std::strlen(start)) == 0; });
    };
    return among(runtimeNames) || (keepReaders && among(readerNames));
}

int collect(dl_phdr_info *info, size_t, void *)
{
    if (isKept(*info) || givenUpCount == rangeCapacity)
        return 0;
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    Span span{{~uintptr_t(0), 0}, {}};
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &segment = info->dlpi_phdr[i];
        const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        if (segment.p_type == PT_TLS && segment.p_filesz > 0)
            span.image = {start & ~(page - 1), (start + segment.p_filesz + page - 1) & ~(page - 1)};
        if (segment.p_type != PT_LOAD || segment.p_memsz == 0)
            continue;
        span.range.start = std::min(span.range.start, start & ~(page - 1));
        span.range.end = std::max(span.range.end, (start + segment.p_memsz + page - 1) & ~(page - 1));
    }
    const bool imageWithin = span.image.start == span.image.end
                             || (span.image.start >= span.range.start && span.image.end <= span.range.end);
    if (span.range.start < span.range.end && imageWithin)
        givenUp[givenUpCount++] = span;
    return 0;
}

// Gives `span` up: one reservation over the whole of it (its segments and the gaps between them),
// which the kernel joins with those of neighbouring libraries given up, and its thread-local data's
// image read-only where it was. False when nothing was given up.
bool giveUp(const Span &span)
{
    const size_t imageBytes = span.image.end - span.image.start;
    std::vector<char> image(imageBytes);
    if (imageBytes > 0)
        std::memcpy(image.data(), reinterpret_cast<const void *>(span.image.start), imageBytes);
    void *reserved = ::mmap(reinterpret_cast<void *>(span.range.start), span.range.end - span.range.start, PROT_NONE,
                            MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED)
        return false;
    if (imageBytes == 0)
        return true;
    void *kept = ::mmap(reinterpret_cast<void *>(span.image.start), imageBytes, PROT_READ | PROT_WRITE,
                        MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    // Without its image a new thread faults in the range, and its file goes to the whole template.
    if (kept == MAP_FAILED)
        return true;
    std::memcpy(kept, image.data(), imageBytes);
    ::mprotect(kept, imageBytes, PROT_READ);
    return true;
}

// The handler this one stands before (the one that tells a child at its memory limit).
struct sigaction previousHandler {};

void onFault(int signal, siginfo_t *info, void *context)
{
    // si_code above 0: the kernel's, for a fault at si_addr (not a signal sent).
    if (info->si_code > 0 && TemplateLibraries::isGivenUp(info->si_addr))
        _exit(DecoderProtocol::exitNeedsWholeDecoder);
    // Any other fault goes on as it would have without this handler.
    passSignalOn(signal, info, context, previousHandler);
}

} // namespace

bool TemplateLibraries::giveUpUnusual() { return giveUpAllBut(Kept::UsualReaders); }

bool TemplateLibraries::giveUpAllBut(Kept kept)
{
    keepReaders = kept == Kept::UsualReaders;
    givenUpCount = 0;
    // First the spans, then the mappings: the list is ld.so's, walked under its lock.
    ::dl_iterate_phdr(collect, nullptr);
    int held = 0;
    for (int i = 0; i < givenUpCount; ++i)
        if (giveUp(givenUp[i]))
            givenUp[held++] = givenUp[i];
    givenUpCount = held;
    std::sort(givenUp, givenUp + givenUpCount,
              [](const Span &a, const Span &b) { return a.range.start < b.range.start; });
    return givenUpCount > 0;
}

int TemplateLibraries::givenUpRanges() { return givenUpCount; }

bool TemplateLibraries::isGivenUp(const void *address)
{
    const uintptr_t at = reinterpret_cast<uintptr_t>(address);
    for (int i = 0; i < givenUpCount; ++i)
        if (at >= givenUp[i].range.start && at < givenUp[i].range.end)
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
