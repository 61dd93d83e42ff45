#include "pool/join.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "fatal/fatal_error.hpp"
#include "pool/thread_pool.hpp"

namespace orven::pool {
namespace {

using namespace std::chrono_literals;

enum class Failing { none, first, second, both };

struct JoinCase {
    std::size_t workers;
    Failing failing;
};

std::string describe(const ::testing::TestParamInfo<JoinCase>& info) {
    static const char* const names[] = {"none", "first", "second", "both"};
    return std::to_string(info.param.workers) + "_workers_" +
           names[static_cast<int>(info.param.failing)] + "_fails";
}

// A failing task fails at once; a succeeding one takes a while, so that a
// join that let the failure continue early would be caught with its
// sibling still running.  When both fail, the second fails first in time:
// the first task's failure must still be the one that continues.
class JoinFailureTest : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinFailureTest, SiblingAlwaysCompletesAndTheFirstFailureWins) {
    const auto [workers, failing] = GetParam();
    const bool first_fails = failing == Failing::first || failing == Failing::both;
    const bool second_fails = failing == Failing::second || failing == Failing::both;
    ThreadPool pool(workers);

    std::atomic<bool> first_done{false};
    std::atomic<bool> second_done{false};
    auto first = [&] {
        std::this_thread::sleep_for(first_fails && !second_fails ? 0ms : 30ms);
        first_done = true;
        if (first_fails) {
            fatal::resume("first task failed");
        }
        return std::string("first result");
    };
    auto second = [&] {
        std::this_thread::sleep_for(second_fails ? 0ms : 30ms);
        second_done = true;
        if (second_fails) {
            fatal::resume("second task failed");
        }
        return 2;
    };

    try {
        const auto [a, b] = pool.install([&] { return join(first, second); });
        EXPECT_EQ(failing, Failing::none);
        EXPECT_EQ(a, "first result");
        EXPECT_EQ(b, 2);
    } catch (const fatal::FatalError& error) {
        EXPECT_EQ(error.message(), first_fails ? "first task failed" : "second task failed");
    }
    EXPECT_TRUE(first_done);
    EXPECT_TRUE(second_done);

    // The pool carries on after a failure.
    EXPECT_EQ(pool.install([&] { return join([] { return 1; }, [] { return 2; }); }),
              std::make_pair(1, 2));
}

INSTANTIATE_TEST_SUITE_P(
    Table, JoinFailureTest,
    ::testing::Values(JoinCase{1, Failing::none}, JoinCase{1, Failing::first},
                      JoinCase{1, Failing::second}, JoinCase{1, Failing::both},
                      JoinCase{2, Failing::none}, JoinCase{2, Failing::first},
                      JoinCase{2, Failing::second}, JoinCase{2, Failing::both},
                      JoinCase{3, Failing::first}, JoinCase{3, Failing::both}),
    describe);

// With a second worker idle, the offered task is stolen and runs while the
// first is still running: the sleeping worker was woken for it.
TEST(JoinTest, AnIdleWorkerStealsTheSecondTask) {
    ThreadPool pool(2);
    std::this_thread::sleep_for(20ms);  // let both workers fall asleep
    std::atomic<bool> second_started{false};
    const auto [overlapped, migrated] = pool.install([&] {
        return join_context(
            [&](bool) {
                const auto deadline = std::chrono::steady_clock::now() + 20s;
                while (!second_started && std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::yield();
                }
                return second_started.load();
            },
            [&](bool moved) {
                second_started = true;
                return moved;
            });
    });
    EXPECT_TRUE(overlapped);
    EXPECT_TRUE(migrated);
}

TEST(JoinTest, OneWorkerRunsBothTasksItself) {
    ThreadPool pool(1);
    const auto ids = pool.install([] {
        return join_context([](bool moved) { return std::make_pair(std::this_thread::get_id(), moved); },
                            [](bool moved) { return std::make_pair(std::this_thread::get_id(), moved); });
    });
    EXPECT_EQ(ids.first.first, ids.second.first);
    EXPECT_FALSE(ids.first.second);
    EXPECT_FALSE(ids.second.second);
}

// A thread outside the pool hands the whole join over and blocks: neither
// task runs on it.
TEST(JoinTest, OutsideCallerRunsNoTask) {
    const auto caller = std::this_thread::get_id();
    const auto [a, b] = join([] { return std::this_thread::get_id(); },
                             [] { return std::this_thread::get_id(); });
    EXPECT_NE(a, caller);
    EXPECT_NE(b, caller);

    try {
        join([] { fatal::resume("outside failure"); }, [] {});
        ADD_FAILURE() << "the failure did not reach the caller";
    } catch (const fatal::FatalError& error) {
        EXPECT_EQ(error.message(), "outside failure");
    }
}

// Joins nested deep inside joins, on pools of several sizes: every leaf
// runs exactly once and the sums come back up intact.
TEST(JoinTest, NestedJoinsComputeEveryLeafOnce) {
    for (const std::size_t workers : {1u, 2u, 4u}) {
        ThreadPool pool(workers);
        std::atomic<int> leaves{0};
        struct Sum {
            std::atomic<int>& leaves;
            long operator()(long begin, long end) const {
                if (end - begin == 1) {
                    ++leaves;
                    return begin;
                }
                const long middle = begin + (end - begin) / 2;
                const auto [l, r] = join([&] { return (*this)(begin, middle); },
                                         [&] { return (*this)(middle, end); });
                return l + r;
            }
        };
        const long total = pool.install([&] { return Sum{leaves}(0, 4096); });
        EXPECT_EQ(total, 4095L * 4096 / 2) << workers << " workers";
        EXPECT_EQ(leaves, 4096) << workers << " workers";
    }
}

}  // namespace
}  // namespace orven::pool
