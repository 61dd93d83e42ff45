#include "pool/global_pool.hpp"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fatal/fatal_error.hpp"
#include "pool/worker_count.hpp"
#include "test_support/process_threads.hpp"

#if defined(__SANITIZE_THREAD__)
#define ORVEN_UNDER_TSAN 1
#else
#define ORVEN_UNDER_TSAN 0
#endif

namespace orven::pool {
namespace {

using test_support::new_threads;
using test_support::thread_ids;

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        apply(value);
    }
    ~ScopedEnv() { apply(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void apply(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> old_;
};

TEST(GlobalPoolCellTest, CreatesOnceEvenWhenAskedByManyThreads) {
    std::atomic<int> created{0};
    GlobalPoolCell cell([&] {
        ++created;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return std::make_unique<ThreadPool>(2);
    });
    std::vector<std::thread> askers;
    std::vector<ThreadPool*> seen(4);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        askers.emplace_back([&, i] { seen[i] = &cell.get(); });
    }
    for (auto& asker : askers) {
        asker.join();
    }
    EXPECT_EQ(created, 1);
    for (ThreadPool* pool : seen) {
        EXPECT_EQ(pool, seen.front());
    }
}

// A worker that cannot start makes the creation fail, for good: every later
// use fails the same way without another attempt.
TEST(GlobalPoolCellTest, FailedCreationIsPermanent) {
    int attempts = 0;
    const ThreadPool::ThreadStarter second_fails =
        [&](pthread_t* thread, const pthread_attr_t* attr, void* (*body)(void*), void* arg) {
            return ++attempts == 2 ? EAGAIN : ::pthread_create(thread, attr, body, arg);
        };
    GlobalPoolCell cell([&] { return std::make_unique<ThreadPool>(3, second_fails); });
    for (int use = 0; use < 3; ++use) {
        try {
            cell.get();
            ADD_FAILURE() << "use " << use << " got a pool";
        } catch (const fatal::FatalError& error) {
            EXPECT_EQ(error.message().rfind(
                          "The global thread pool has not been initialized.: failed to start "
                          "worker thread 2 of 3",
                          0),
                      0u)
                << error.message();
        }
    }
    EXPECT_EQ(attempts, 2);
}

struct EnvCase {
    std::optional<std::string> num_threads;
    std::optional<std::string> num_cpus;
    std::optional<std::size_t> expected;  // nullopt: the available CPUs
};

class GlobalPoolSizeTest : public ::testing::TestWithParam<EnvCase> {};

// The pool is sized from the environment as it is at creation, and starts
// exactly that many threads.
TEST_P(GlobalPoolSizeTest, StartsTheWorkersTheSettingsAskFor) {
    const EnvCase& c = GetParam();
    const ScopedEnv threads("RAYON_NUM_THREADS", c.num_threads);
    const ScopedEnv cpus("RAYON_RS_NUM_CPUS", c.num_cpus);
    const std::size_t expected = c.expected.value_or(available_cpus());
    const auto before = thread_ids();
    GlobalPoolCell cell(&create_global_pool);
    EXPECT_EQ(cell.get().num_threads(), expected);
    EXPECT_EQ(new_threads(before, thread_ids()).size(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GlobalPoolSizeTest,
    ::testing::Values(EnvCase{"4", std::nullopt, 4}, EnvCase{"+4", "2", 4},
                      EnvCase{"0", "3", std::nullopt}, EnvCase{"-4", "3", 3},
                      EnvCase{"4 ", "3", 3}, EnvCase{"x", std::nullopt, std::nullopt},
                      EnvCase{std::nullopt, "5", 5}, EnvCase{std::nullopt, "0", std::nullopt},
                      EnvCase{std::nullopt, std::nullopt, std::nullopt}));

TEST(GlobalPoolSizeTest, LaterChangesOfTheEnvironmentHaveNoEffect) {
    GlobalPoolCell cell(&create_global_pool);
    {
        const ScopedEnv threads("RAYON_NUM_THREADS", "3");
        EXPECT_EQ(cell.get().num_threads(), 3u);
    }
    const ScopedEnv threads("RAYON_NUM_THREADS", "1");
    EXPECT_EQ(cell.get().num_threads(), 3u);
}

bool squares_are_right(std::size_t count) {
    std::vector<std::size_t> squares(count);
    auto square = [&](std::size_t i) { squares[i] = i * i; };
    Batch(global_pool(), count, square).finish();
    for (std::size_t i = 0; i < count; ++i) {
        if (squares[i] != i * i) {
            return false;
        }
    }
    return true;
}

// A child forked after the pool exists gets a fresh pool of its own on
// first use and finishes normally; the parent's pool is unaffected.
TEST(GlobalPoolForkTest, ChildOfAProcessWithAPoolGetsAFreshOne) {
    if (ORVEN_UNDER_TSAN) {
        GTEST_SKIP() << "ThreadSanitizer does not support threads started after fork()";
    }
    // What a program that embeds the pool does once, before it may fork.
    static const bool registered =
        ::pthread_atfork(&before_fork, &after_fork_in_parent, &after_fork_in_child) == 0;
    ASSERT_TRUE(registered);
    ASSERT_TRUE(squares_are_right(500));
    const std::size_t workers = global_pool().num_threads();

    const pid_t child = ::fork();
    ASSERT_NE(child, -1) << std::strerror(errno);
    if (child == 0) {
        ::alarm(60);  // a hang in the child ends it, and the test fails
        const bool single_thread_at_start = thread_ids().size() == 1;
        const bool computed = squares_are_right(500);
        const bool fresh_workers = thread_ids().size() == 1 + workers;
        ::_exit(single_thread_at_start && computed && fresh_workers ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(squares_are_right(500));
}

}  // namespace
}  // namespace orven::pool
