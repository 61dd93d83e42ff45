#include "pool/thread_pool.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <future>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "test_support/process_threads.hpp"

namespace orven::pool {
namespace {

using namespace std::chrono_literals;
using test_support::new_threads;
using test_support::thread_ids;
using test_support::thread_ids_when;
using test_support::thread_stat;

TEST(ThreadPoolTest, StartsExactlyItsWorkersAtCreationAndJoinsThemAtTheEnd) {
    for (const std::size_t workers : {1u, 3u}) {
        const auto before = thread_ids();
        {
            const ThreadPool pool(workers);
            EXPECT_EQ(pool.num_threads(), workers);
            EXPECT_EQ(new_threads(before, thread_ids()).size(), workers);
        }
        EXPECT_EQ(thread_ids_when(before), before);
    }
}

// Workers run on a 2 MiB stack and keep the name they inherited.
TEST(ThreadPoolTest, WorkersHaveTwoMebibyteStacksAndNoNameOfTheirOwn) {
    char inherited[16] = {};
    ASSERT_EQ(::pthread_getname_np(::pthread_self(), inherited, sizeof inherited), 0);
    ThreadPool pool(2);
    std::size_t stack_size = 0;
    std::string name;
    auto inspect = [&](std::size_t) {
        pthread_attr_t attr;
        if (::pthread_getattr_np(::pthread_self(), &attr) == 0) {
            ::pthread_attr_getstacksize(&attr, &stack_size);
            ::pthread_attr_destroy(&attr);
        }
        char own[16] = {};
        ::pthread_getname_np(::pthread_self(), own, sizeof own);
        name = own;
    };
    Batch(pool, 1, inspect).finish();
    EXPECT_EQ(stack_size, 2u * 1024 * 1024);
    EXPECT_EQ(name, inherited);
}

// A worker that cannot be started fails the creation; the workers already
// started are stopped and joined, nothing is left running.
TEST(ThreadPoolTest, FailedThreadStartStopsTheWorkersAlreadyStarted) {
    const auto before = thread_ids();
    int attempts = 0;
    const ThreadPool::ThreadStarter third_fails =
        [&](pthread_t* thread, const pthread_attr_t* attr, void* (*body)(void*), void* arg) {
            return ++attempts == 3 ? EAGAIN : ::pthread_create(thread, attr, body, arg);
        };
    try {
        ThreadPool pool(4, third_fails);
        ADD_FAILURE() << "creation succeeded";
    } catch (const PoolCreationError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("failed to start worker thread 3 of 4: ", 0), 0u)
            << error.what();
    }
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(thread_ids_when(before), before);
}

// Every block runs exactly once, and a block reported done has run: for
// any number of workers and blocks, read in order as the driver reads.
TEST(BatchTest, EveryBlockRunsOnceAndIsSeenDoneInOrder) {
    for (const std::size_t workers : {1u, 2u, 7u}) {
        ThreadPool pool(workers);
        for (const std::size_t count : {0u, 1u, 2u, 7u, 8u, 1000u}) {
            std::vector<std::atomic<int>> runs(count);
            std::vector<int> written(count, 0);
            auto body = [&](std::size_t i) {
                runs[i].fetch_add(1);
                written[i] = static_cast<int>(i) + 1;
            };
            Batch batch(pool, count, body);
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_TRUE(batch.wait_for_block(i));
                ASSERT_EQ(written[i], static_cast<int>(i) + 1) << workers << " workers, block " << i;
            }
            batch.finish();
            for (std::size_t i = 0; i < count; ++i) {
                EXPECT_EQ(runs[i].load(), 1) << workers << " workers, block " << i;
            }
        }
    }
}

// A failing block ends only itself: every other block still runs, the
// reader is told the block will never be done, finish() raises the first
// failure, and the pool takes the next batch as usual.
TEST(BatchTest, AFailureEndsOnlyItsBlockAndIsRaisedByFinish) {
    ThreadPool pool(3);
    std::atomic<int> ran{0};
    auto body = [&](std::size_t i) {
        if (i == 5 || i == 40) {
            throw std::runtime_error("block " + std::to_string(i));
        }
        ran.fetch_add(1);
    };
    Batch batch(pool, 64, body);
    EXPECT_TRUE(batch.wait_for_block(4));
    EXPECT_FALSE(batch.wait_for_block(5));
    try {
        batch.finish();
        ADD_FAILURE() << "the failure was lost";
    } catch (const std::runtime_error& error) {
        const std::string what = error.what();
        EXPECT_TRUE(what == "block 5" || what == "block 40") << what;
    }
    EXPECT_EQ(ran.load(), 62);
    std::atomic<int> next{0};
    auto count = [&](std::size_t) { next.fetch_add(1); };
    Batch(pool, 10, count).finish();
    EXPECT_EQ(next.load(), 10);
}

// Once the interruption says stop, no further block starts, the waits end
// and finish() raises Interrupted; a batch left early waits for the blocks
// that are running and starts no more.
TEST(BatchTest, InterruptionAndEarlyLeaveStartNoFurtherBlock) {
    ThreadPool pool(2);
    std::atomic<bool> stop{false};
    Interruption interruption(
        [](void* flag) noexcept { return static_cast<std::atomic<bool>*>(flag)->load(); }, &stop);
    std::atomic<int> started{0};
    auto slow = [&](std::size_t) {
        started.fetch_add(1);
        std::this_thread::sleep_for(2ms);
    };
    {
        Batch batch(pool, 10000, slow, &interruption);
        EXPECT_TRUE(batch.wait_for_block(0));
        stop = true;
        EXPECT_FALSE(batch.wait_for_block(9999));
        EXPECT_THROW(batch.finish(), Interrupted);
    }
    EXPECT_LT(started.load(), 10000);
    started = 0;
    {
        Batch batch(pool, 10000, slow);
        EXPECT_TRUE(batch.wait_for_block(0));
    }
    const int at_leave = started.load();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(started.load(), at_leave);
    EXPECT_LT(at_leave, 10000);
}

// Idle workers sleep: after a burst of work they reach the sleeping state
// and use no processor time while nothing is submitted.
TEST(ThreadPoolTest, IdleWorkersSleepAndUseNoCpu) {
    const auto before = thread_ids();
    ThreadPool pool(2);
    const auto workers = new_threads(before, thread_ids());
    ASSERT_EQ(workers.size(), 2u);
    auto nap = [](std::size_t) { std::this_thread::sleep_for(5ms); };
    Batch(pool, 4, nap).finish();

    const auto all_asleep = [&] {
        for (const long id : workers) {
            if (thread_stat(id).state != 'S') {
                return false;
            }
        }
        return true;
    };
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!all_asleep() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(all_asleep());
    std::uint64_t ticks_before = 0;
    for (const long id : workers) {
        ticks_before += thread_stat(id).cpu_ticks;
    }
    std::this_thread::sleep_for(300ms);
    std::uint64_t ticks_after = 0;
    for (const long id : workers) {
        ticks_after += thread_stat(id).cpu_ticks;
    }
    EXPECT_EQ(ticks_after, ticks_before);
    EXPECT_TRUE(all_asleep());
}

// Batches submitted just as workers fall asleep, by several threads at
// irregular intervals, are all picked up.  A lost wake-up shows up as a
// hang, which the watchdog turns into a failure.
TEST(ThreadPoolTest, NoWakeUpIsLostBetweenBursts) {
    ThreadPool pool(3);
    auto stress = std::async(std::launch::async, [&pool] {
        std::vector<std::thread> callers;
        for (int t = 0; t < 3; ++t) {
            callers.emplace_back([&pool, t] {
                std::minstd_rand random(static_cast<unsigned>(t + 1));
                for (int round = 0; round < 300; ++round) {
                    std::atomic<int> sum{0};
                    auto add = [&](std::size_t i) { sum.fetch_add(static_cast<int>(i)); };
                    Batch(pool, 1 + random() % 5, add).finish();
                    std::this_thread::sleep_for(std::chrono::microseconds(random() % 400));
                }
            });
        }
        for (auto& caller : callers) {
            caller.join();
        }
    });
    if (stress.wait_for(120s) != std::future_status::ready) {
        ADD_FAILURE() << "the pool stopped making progress";
        std::_Exit(1);
    }
}

}  // namespace
}  // namespace orven::pool
