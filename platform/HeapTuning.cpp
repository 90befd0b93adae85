#include "platform/HeapTuning.h"

#include <climits>

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
