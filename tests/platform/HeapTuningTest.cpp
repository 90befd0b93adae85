#include "platform/HeapTuning.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Kept where the compiler cannot see, so that no allocation below is optimised away.
unsigned char *volatile sink = nullptr;

// A block of `bytes` filled with `byte` and freed: the next block of that size is likely to be it.
void leaveFreed(std::size_t bytes, unsigned char byte)
{
    auto *block = static_cast<unsigned char *>(std::malloc(bytes));
    ASSERT_NE(block, nullptr);
    std::memset(block, byte, bytes);
    sink = block;
    std::free(sink);
}

bool newBlockIsZero(std::size_t bytes)
{
    auto *block = static_cast<unsigned char *>(std::malloc(bytes));
    sink = block;
    const bool zero = block && std::all_of(block, block + bytes, [](unsigned char c) { return c == 0; });
    std::free(sink);
    return zero;
}

} // namespace

// While a scope lives, a new block holds nothing of what was freed before, on the heap and
// mapped alike, and an inner scope's end leaves the outer one in force.
TEST(HeapTuningTest, NewBlocksComeZeroedWhileAScopeLives)
{
    for (const std::size_t bytes : {std::size_t(4) << 10, std::size_t(200) << 10, std::size_t(6) << 20}) {
        SCOPED_TRACE(bytes);
        const HeapTuning::ZeroedBlocks outer;
        leaveFreed(bytes, 0xAB);
        EXPECT_TRUE(newBlockIsZero(bytes));
        {
            const HeapTuning::ZeroedBlocks inner;
            leaveFreed(bytes, 0xCD);
            EXPECT_TRUE(newBlockIsZero(bytes));
        }
        leaveFreed(bytes, 0xEF);
        EXPECT_TRUE(newBlockIsZero(bytes));
    }
}

namespace {

long minorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

} // namespace

// A fresh block mapped for writing is then written without a fault a page; what lies around it, in
// the pages it shares with its neighbours, is left as it was.
TEST(HeapTuningTest, ABlockMappedForWritingIsWrittenWithoutFaults)
{
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t bytes = 64 * page;
    char *area = static_cast<char *>(mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area, MAP_FAILED);
    area[0] = 'a';
    area[bytes - 1] = 'z';
    // A block that starts and ends inside pages.
    char *block = area + 100;
    const size_t length = bytes - 200;
    HeapTuning::mapForWriting(block, length);
    const long before = minorFaults();
    std::memset(block, 7, length);
    const long faults = minorFaults() - before;
    EXPECT_EQ(area[0], 'a');
    EXPECT_EQ(area[bytes - 1], 'z');
    // With the kernel's support no page faults; without it (before Linux 5.14) every one does.
    const bool supported = madvise(area, page, 23 /* MADV_POPULATE_WRITE */) == 0;
    EXPECT_EQ(faults, supported ? 0 : long(bytes / page) - 2);
    // Blocks too small to be worth the call, or empty, are left alone.
    HeapTuning::mapForWriting(area + 10, 3 * page);
    HeapTuning::mapForWriting(area, 0);
    munmap(area, bytes);
}

namespace {

// In a child of its own (the blocks taken are kept for good): holes of several sizes left in the
// heap, then `takeFirst` or not (and what it took), then whether 50 blocks of one of those sizes
// come one right after another, from the top of the heap.
bool newBlocksArePacked(bool takeFirst)
{
    const pid_t child = fork();
    if (child == 0) {
        std::vector<void *> blocks;
        for (int i = 0; i < 400; ++i)
            blocks.push_back(std::malloc(size_t(48 + i % 5 * 100)));
        for (size_t i = 0; i < blocks.size(); i += 2)
            std::free(blocks[i]);
        if (takeFirst) {
            const struct mallinfo2 before = mallinfo2();
            HeapTuning::takeFreeBlocks();
            const struct mallinfo2 after = mallinfo2();
            // No free block left beside the top, and little taken beyond the free ones (a small
            // block of each size that came from the top).
            if (after.fordblks - after.keepcost > 1024)
                _exit(2);
            if (after.uordblks - before.uordblks > before.fordblks - before.keepcost + (size_t(80) << 10))
                _exit(3);
        }
        auto *previous = static_cast<char *>(std::malloc(48));
        int packed = 0;
        for (int i = 0; i < 50; ++i) {
            auto *next = static_cast<char *>(std::malloc(48));
            packed += next == previous + 64 ? 1 : 0;
            previous = next;
        }
        _exit(packed == 50 ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

// Once the free blocks are taken, new blocks come packed from the top of the heap rather than from
// the holes earlier frees left (where a forked child would copy a page for each).
TEST(HeapTuningTest, NewBlocksComePackedOnceTheFreeOnesAreTaken)
{
    EXPECT_FALSE(newBlocksArePacked(false));
    EXPECT_TRUE(newBlocksArePacked(true));
}
