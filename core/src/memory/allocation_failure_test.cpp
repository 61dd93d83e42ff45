#include "memory/allocation_failure.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

namespace {

// Limits this process's address space to what it has now and `room` bytes.
void limit_address_space(std::size_t room) {
    std::size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = pages * page + room;
    ::setrlimit(RLIMIT_AS, &limit);
}

using orven::memory::recoverable_allocation_threshold;

// An impossible request in proportion to some input is the caller's failure
// to handle: it throws, and the process goes on.
TEST(AllocationFailureTest, ALargeRequestThrowsBadAlloc) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator reports impossible sizes itself";
#endif
    for (const std::size_t size : {std::numeric_limits<std::size_t>::max() / 2,
                                   std::numeric_limits<std::size_t>::max() / 4 + 1}) {
        std::vector<char> block;
        EXPECT_THROW(block.reserve(size), std::bad_alloc) << size;
        EXPECT_EQ(block.capacity(), 0u);
    }
    // Memory is still there for the next request.
    std::vector<char> fine(recoverable_allocation_threshold);
    EXPECT_EQ(fine.size(), recoverable_allocation_threshold);
}

// A small request that fails means the process is out of memory for its
// own bookkeeping: it ends with the size it asked for.
TEST(AllocationFailureDeathTest, ASmallRequestReportsTheSizeAndAborts) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator reports failures itself";
#endif
    // A user-mode emulator keeps address-space limits to itself, so the
    // child would exhaust the machine's memory instead.
    if (std::getenv("ORVEN_UNDER_EMULATION") != nullptr) {
        GTEST_SKIP() << "address-space limits do not reach an emulated program";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    constexpr std::size_t small = recoverable_allocation_threshold - 1;
    EXPECT_DEATH(
        {
            // Exhaust a small address space with small blocks, each
            // below the threshold: the one that fails aborts.
            limit_address_space(std::size_t{64} << 20);
            for (;;) {
                void* block = ::operator new(small);
                static_cast<volatile char*>(block)[0] = 1;
            }
        },
        "memory allocation of " + std::to_string(small) + " bytes failed");
}

}  // namespace
