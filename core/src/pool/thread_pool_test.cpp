#include "pool/thread_pool.hpp"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/prctl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <future>
#include <random>
#include <string>
#include <thread>

#include "pool/join.hpp"
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
    const auto [stack_size, name] = pool.install([] {
        pthread_attr_t attr;
        std::size_t size = 0;
        if (::pthread_getattr_np(::pthread_self(), &attr) == 0) {
            ::pthread_attr_getstacksize(&attr, &size);
            ::pthread_attr_destroy(&attr);
        }
        char own[16] = {};
        ::pthread_getname_np(::pthread_self(), own, sizeof own);
        return std::make_pair(size, std::string(own));
    });
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

// Idle workers sleep: after a burst of work they reach the sleeping state
// and use no processor time while nothing is submitted.
TEST(ThreadPoolTest, IdleWorkersSleepAndUseNoCpu) {
    const auto before = thread_ids();
    ThreadPool pool(2);
    const auto workers = new_threads(before, thread_ids());
    ASSERT_EQ(workers.size(), 2u);
    pool.install([] {
        join([] { std::this_thread::sleep_for(5ms); }, [] { std::this_thread::sleep_for(5ms); });
    });

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

// Work submitted just as workers fall asleep must still be picked up: many
// short bursts from several threads at irregular intervals.  A lost wake-up
// shows up as a hang, which the watchdog turns into a failure.
TEST(ThreadPoolTest, NoWakeUpIsLostBetweenBursts) {
    ThreadPool pool(3);
    auto stress = std::async(std::launch::async, [&pool] {
        std::vector<std::thread> callers;
        for (int t = 0; t < 3; ++t) {
            callers.emplace_back([&pool, t] {
                std::minstd_rand random(static_cast<unsigned>(t + 1));
                for (int round = 0; round < 300; ++round) {
                    const auto [a, b] = pool.install([] {
                        return join([] { return join([] { return 1; }, [] { return 2; }); },
                                    [] { return 3; });
                    });
                    if (a.first + a.second + b != 6) {
                        std::abort();
                    }
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

TEST(ThreadPoolTest, InstallFromAWorkerOfTheSamePoolRunsInPlace) {
    ThreadPool pool(1);
    // With one worker, going through the injector again would deadlock.
    const int value = pool.install([&] { return pool.install([] { return 7; }); });
    EXPECT_EQ(value, 7);
}

}  // namespace
}  // namespace orven::pool
