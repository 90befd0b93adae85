#include "platform/HeapTuning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

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
