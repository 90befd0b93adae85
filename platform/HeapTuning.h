#pragma once

#include <cstddef>

// How the C library's allocator treats freed memory in this program.
class HeapTuning
{
public:
    // The program lists large collections again and again (100,000 media records take about
    // 130 MB). By default the allocator hands freed heap back to the system at once and the next
    // listing faults every page in again, which costs about as much as reading the rows. Keeping
    // up to `bytes` of freed heap lets the next listing reuse it, and freeing a listing's many
    // small blocks costs less without the allocator's fast bins. Blocks up to 32 MiB (a camera
    // file read whole, a decoder's buffers) come from the heap too, so that each file of an import
    // reuses the last one's pages instead of mapping and zeroing fresh ones. Call once, early in
    // main().
    static void keepFreedMemoryForReuse(std::size_t bytes = std::size_t(256) << 20);

    // A block about to be written whole: its pages mapped in one call rather than a fault at each
    // page's first write (in a decoder's process, fresh for each file, every large buffer is fresh
    // pages). Pages already mapped stay as they are. Advice only: without the kernel's support
    // (Linux 5.14) nothing changes.
    static void mapForWriting(void *data, std::size_t bytes);

    // Takes every free block of the heap for good (the blocks of the per-thread cache too), so
    // that what the process allocates from here on comes from the top of the heap, packed onto
    // pages of its own. For a process that forks children which allocate: a child that took its
    // parent's free blocks, scattered where the parent's start had freed them, would write, and so
    // copy, each page that holds one (some twenty a child of a decoder's template). The memory
    // was the process's already; its free pages stay unmapped. Call with one thread, after
    // malloc_trim.
    static void takeFreeBlocks();

    // While one lives on any thread, blocks the allocator hands out come zeroed, as from calloc,
    // except the smallest (up to about 1 KiB, from the per-thread cache as they were freed), and
    // blocks freed are overwritten. For readers that leave parts of their buffers unwritten on a
    // damaged file: a process that reads file after file would show there what the last one left.
    class ZeroedBlocks
    {
    public:
        ZeroedBlocks();
        ~ZeroedBlocks();
        ZeroedBlocks(const ZeroedBlocks &) = delete;
        ZeroedBlocks &operator=(const ZeroedBlocks &) = delete;
    };
};
