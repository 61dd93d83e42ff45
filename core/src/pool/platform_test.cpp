#include "pool/platform.hpp"

#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "pool/worker_count.hpp"

namespace orven::pool::platform {
namespace {

// The CPU counts agree with each other: the affinity mask holds no more
// CPUs than are online, and the pool's figure lies between one and both.
TEST(PlatformCpusTest, CountsAreConsistent) {
    const auto online = online_cpus();
    ASSERT_TRUE(online);
    EXPECT_GE(*online, 1u);
    const auto affinity = affinity_cpus();
#if defined(__linux__)
    ASSERT_TRUE(affinity) << "Linux always has an affinity mask";
#endif
    if (affinity) {
        EXPECT_GE(*affinity, 1u);
        EXPECT_LE(*affinity, *online);
    }
    const std::size_t available = available_cpus();
    EXPECT_GE(available, 1u);
    EXPECT_LE(available, affinity.value_or(*online));
}

TEST(PlatformControlFileTest, ReadsWhatExistsAndNothingElse) {
    EXPECT_EQ(read_control_file("/nonexistent/orven/cpu.max"), std::nullopt);
#if defined(__linux__)
    const auto cgroup = read_control_file("/proc/self/cgroup");
    ASSERT_TRUE(cgroup);
    EXPECT_NE(cgroup->find(':'), std::string::npos) << *cgroup;
#else
    EXPECT_EQ(read_control_file("/proc/self/cgroup"), std::nullopt);
#endif
}

void* stack_size_of_this_thread(void* out) {
    pthread_attr_t attr;
#if defined(__linux__)
    if (::pthread_getattr_np(::pthread_self(), &attr) == 0) {
        ::pthread_attr_getstacksize(&attr, static_cast<std::size_t*>(out));
        ::pthread_attr_destroy(&attr);
    }
#else
    static_cast<void>(attr);
    *static_cast<std::size_t*>(out) = ::pthread_get_stacksize_np(::pthread_self());
#endif
    return nullptr;
}

struct StackCase {
    std::size_t requested;
};

class PlatformThreadTest : public ::testing::TestWithParam<StackCase> {};

// A thread started with the attributes runs on a stack of the size asked
// for (sizes from the workers' 2 MiB up: ThreadSanitizer enlarges smaller
// stacks).
TEST_P(PlatformThreadTest, ThreadRunsOnTheStackAskedFor) {
    const ThreadAttributes attributes(GetParam().requested);
    ASSERT_EQ(attributes.error(), 0) << attributes.failed_step();
    pthread_t thread{};
    std::size_t size = 0;
    ASSERT_EQ(start_thread({}, &thread, attributes, &stack_size_of_this_thread, &size), 0);
    join_thread(thread);
    EXPECT_EQ(size, GetParam().requested);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PlatformThreadTest,
                         ::testing::Values(StackCase{2u * 1024 * 1024}, StackCase{4u * 1024 * 1024},
                                           StackCase{8u * 1024 * 1024}),
                         [](const ::testing::TestParamInfo<StackCase>& info) {
                             return std::to_string(info.param.requested / 1024) + "KiB";
                         });

TEST(PlatformThreadFailureTest, TooSmallAStackIsReportedNotIgnored) {
    const ThreadAttributes attributes(1);
    EXPECT_EQ(attributes.error(), EINVAL);
    EXPECT_STREQ(attributes.failed_step(), "cannot set the worker stack size");
}

TEST(PlatformThreadFailureTest, AGivenStarterIsUsedAndItsErrorReturned) {
    const ThreadAttributes attributes(2u * 1024 * 1024);
    int calls = 0;
    const ThreadStarter refuses = [&](pthread_t*, const pthread_attr_t* attr, ThreadEntry,
                                      void*) {
        ++calls;
        EXPECT_EQ(attr, attributes.get());
        return EAGAIN;
    };
    pthread_t thread{};
    EXPECT_EQ(start_thread(refuses, &thread, attributes, &stack_size_of_this_thread, nullptr),
              EAGAIN);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(describe_os_error("failed to start worker thread 1 of 1", EAGAIN),
              std::string("failed to start worker thread 1 of 1: ") + std::strerror(EAGAIN) +
                  " (os error " + std::to_string(EAGAIN) + ")");
}

}  // namespace
}  // namespace orven::pool::platform
