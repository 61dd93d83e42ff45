// The block cache holds what calls gave back for the next of a similar
// size, and no more than the last calls used.

#include "memory/block_cache.hpp"

#include <gtest/gtest.h>

#include "memory/row_buffer.hpp"

namespace orven::memory {
namespace {

constexpr std::size_t mib = std::size_t{1} << 20;

TEST(BlockCacheTest, ReusesBlocksAndGivesBackWhatCallsNoLongerNeed) {
    block_cache::release_all();
    const double* first = nullptr;
    {
        auto values = row_buffer<double>(3 * mib);  // 24 MiB
        auto codes = row_buffer<std::uint32_t>(3 * mib);  // 12 MiB
        first = values.get();
    }
    EXPECT_EQ(block_cache::held_bytes(), 36 * mib);
    {
        // The same shape again: the same blocks, nothing new.
        auto values = row_buffer<double>(3 * mib);
        EXPECT_EQ(values.get(), first);
        auto codes = row_buffer<std::uint32_t>(3 * mib);
        EXPECT_EQ(block_cache::held_bytes(), 0u);
    }
    // Two calls that need only a small block: the blocks neither took go.
    for (int call = 0; call < 2; ++call) {
        auto small = row_buffer<std::uint32_t>(mib);  // 4 MiB: neither held block fits it
    }
    EXPECT_EQ(block_cache::held_bytes(), 4 * mib);
    // Below a huge page, malloc's business.
    { auto tiny = row_buffer<std::uint8_t>(1000); }
    EXPECT_EQ(block_cache::held_bytes(), 4 * mib);
    EXPECT_EQ(block_cache::release_all(), 4 * mib);
    EXPECT_EQ(block_cache::held_bytes(), 0u);
}

}  // namespace
}  // namespace orven::memory
