#include "platform/HeapTuning.h"

#include <climits>
#include <mutex>

#include <cstdint>
#include <cstdlib>

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

void HeapTuning::keepFreedMemoryForReuse(std::size_t bytes)
{
    mallopt(M_TRIM_THRESHOLD, bytes > std::size_t(INT_MAX) ? INT_MAX : int(bytes));
    // Without fast bins: freeing a large list's records merges free chunks as it goes, where the
    // fast bins would be swept again and again (malloc_consolidate) as merged chunks grow large.
    // Small blocks still come and go through the per-thread cache.
    mallopt(M_MXFAST, 0);
    // The largest threshold the allocator takes on 64-bit systems; larger blocks are still mapped.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
}

void HeapTuning::mapForWriting(void *data, std::size_t bytes)
{
    // The whole pages inside the block: its first and last may hold others' data, which the
    // call would not harm but need not map. Fewer than a few pages are not worth the call.
    static const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(page - 1);
    if (end > start && end - start >= 4 * page)
        ::madvise(reinterpret_cast<void *>(start), end - start, MADV_POPULATE_WRITE);
}

void HeapTuning::takeFreeBlocks()
{
    constexpr std::size_t overhead = sizeof(std::size_t);
    constexpr std::size_t step = 2 * sizeof(std::size_t);
    constexpr std::size_t smallest = 2 * step;
    constexpr std::size_t cached = 1024 + step; // the per-thread cache's largest blocks
    constexpr int cachedCount = 7;              // and how many of a size it holds at once
    // Blocks of `size` until one comes from the top of the heap (the top's size or the heap's
    // changes), or from where the allocator's account does not show (an allocator that stands in
    // for this one): that one goes back, where it is large, and ends the size. A block from a free
    // one lessens the free space; one from the per-thread cache leaves it as it was.
    const auto takeAll = [&](std::size_t size) {
        for (int fromCache = 0;;) {
            const struct mallinfo2 before = mallinfo2();
            void *block = std::malloc(size - overhead);
            if (!block)
                return;
            const struct mallinfo2 after = mallinfo2();
            const bool fromTop = after.keepcost != before.keepcost || after.arena != before.arena
                                 || after.hblkhd != before.hblkhd;
            if (!fromTop && after.fordblks < before.fordblks) {
                fromCache = 0; // (and the cache may have been filled from the free blocks)
                continue;
            }
            if (!fromTop && size <= cached && ++fromCache <= cachedCount)
                continue;
            // A small one is kept: freed, it would wait in the per-thread cache, beside the top,
            // for the next block of its size.
            if (size > cached)
                std::free(block);
            return;
        }
    };
    // Halving down to the cached sizes, then each of those: a large request takes the free block
    // that fits it best, and what that block leaves over is taken by the smaller ones after it.
    for (std::size_t size = std::size_t(1) << 20; size > cached; size /= 2)
        takeAll(size);
    for (std::size_t size = cached; size >= smallest; size -= step)
        takeAll(size);
}

namespace {

std::mutex zeroedLock;
int zeroedUsers = 0;

} // namespace

// The allocator fills a new block with the complement of this byte and a freed one with the byte.
HeapTuning::ZeroedBlocks::ZeroedBlocks()
{
    const std::lock_guard guard(zeroedLock);
    if (zeroedUsers++ == 0)
        mallopt(M_PERTURB, 0xff);
}

HeapTuning::ZeroedBlocks::~ZeroedBlocks()
{
    const std::lock_guard guard(zeroedLock);
    if (--zeroedUsers == 0)
        mallopt(M_PERTURB, 0);
}
