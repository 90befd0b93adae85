#include "platform/HeapTuning.h"

#include <algorithm>
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

void HeapTuning::zeroNewBlocks(bool on)
{
    static std::mutex lock;
    static int users = 0;
    const std::lock_guard guard(lock);
    const int before = users;
    users = std::max(users + (on ? 1 : -1), 0);
    // The allocator fills a new block with the complement of this byte and a freed one with the
    // byte itself.
    if (before == 0 && users > 0)
        mallopt(M_PERTURB, 0xff);
    else if (before > 0 && users == 0)
        mallopt(M_PERTURB, 0);
}
