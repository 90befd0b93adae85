#include "platform/HeapTuning.h"

#include <climits>
#include <mutex>

#include <malloc.h>

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
