#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

// An impossible allocation ends the process with the size it asked for,
// instead of throwing std::bad_alloc through the caller.
TEST(AllocationFailureDeathTest, ReportsTheSizeAndAborts) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator reports impossible sizes itself";
#endif
    // Under a user-mode emulator the program cannot re-execute itself (the
    // kernel would not know how to run it), so the child is only forked.
    if (std::getenv("ORVEN_UNDER_EMULATION") == nullptr) {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
    const std::size_t impossible = std::numeric_limits<std::size_t>::max() / 2;
    EXPECT_DEATH(
        {
            std::vector<char> block;
            block.reserve(impossible);
        },
        "memory allocation of " + std::to_string(impossible) + " bytes failed");
}

}  // namespace
