#include "platform/HeapTuning.h"

#include <climits>
#include <mutex>

#include <cstdint>

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
