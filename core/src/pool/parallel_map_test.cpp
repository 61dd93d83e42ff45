#include "pool/parallel_map.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "fatal/fatal_error.hpp"
#include "pool/interruption.hpp"
#include "pool/thread_pool.hpp"

namespace orven::pool {
namespace {

using detail::PieceTally;
using detail::require_every_slot_written;
using detail::Splitter;

struct MapCase {
    std::size_t workers;
    std::size_t count;
};

class ParallelMapTest : public ::testing::TestWithParam<MapCase> {};

// Results land in index order, each element mapped exactly once, whatever
// the number of workers and pieces.
TEST_P(ParallelMapTest, KeepsIndexOrderAndMapsEachElementOnce) {
    const auto [workers, count] = GetParam();
    ThreadPool pool(workers);
    const auto calls = std::make_unique<std::atomic<int>[]>(count);
    const std::vector<std::string> results = pool.install([&] {
        return parallel_map(count, [&](std::size_t i) {
            ++calls[i];
            return std::to_string(i * i);
        });
    });
    ASSERT_EQ(results.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(results[i], std::to_string(i * i));
        EXPECT_EQ(calls[i], 1) << "element " << i;
    }
}

// The same into the caller's storage: every slot written once, in place,
// and nothing beyond the span touched.
TEST_P(ParallelMapTest, FillsTheCallersSlotsInIndexOrder) {
    const auto [workers, count] = GetParam();
    ThreadPool pool(workers);
    const auto calls = std::make_unique<std::atomic<int>[]>(count);
    std::vector<std::string> storage(count + 2, "untouched");
    pool.install([&] {
        parallel_map_into(std::span(storage).subspan(1, count), [&](std::size_t i) {
            ++calls[i];
            return std::to_string(i * i);
        });
    });
    EXPECT_EQ(storage.front(), "untouched");
    EXPECT_EQ(storage.back(), "untouched");
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(storage[i + 1], std::to_string(i * i));
        EXPECT_EQ(calls[i], 1) << "element " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ParallelMapTest,
                         ::testing::Values(MapCase{1, 0}, MapCase{1, 1}, MapCase{1, 1000},
                                           MapCase{2, 1}, MapCase{2, 2}, MapCase{2, 3},
                                           MapCase{2, 1000}, MapCase{3, 7}, MapCase{4, 5000}));

// The driver's shape: a map whose every element runs a map of its own.
TEST(ParallelMapNestingTest, InnerMapsSplitOnTheSamePool) {
    for (const std::size_t workers : {1u, 2u, 4u}) {
        ThreadPool pool(workers);
        const auto rows = pool.install([] {
            return parallel_map(300, [](std::size_t row) {
                return parallel_map(row % 17, [row](std::size_t column) { return row * 100 + column; });
            });
        });
        ASSERT_EQ(rows.size(), 300u);
        for (std::size_t row = 0; row < rows.size(); ++row) {
            ASSERT_EQ(rows[row].size(), row % 17);
            for (std::size_t column = 0; column < rows[row].size(); ++column) {
                EXPECT_EQ(rows[row][column], row * 100 + column);
            }
        }
    }
}

// One element is never split: from outside the pool it is mapped on the
// calling thread.  Two or more go to the pool, and the caller only waits.
TEST(ParallelMapCallerTest, OnlyAnUnsplitRangeRunsOnTheCaller) {
    const auto caller = std::this_thread::get_id();
    const auto one = parallel_map(1, [](std::size_t) { return std::this_thread::get_id(); });
    EXPECT_EQ(one.at(0), caller);
    const auto two = parallel_map(2, [](std::size_t) { return std::this_thread::get_id(); });
    EXPECT_NE(two.at(0), caller);
    EXPECT_NE(two.at(1), caller);
}

// A failing element fails the whole map, but only after every other piece
// has finished; no result survives, and the pool carries on.
TEST(ParallelMapFailureTest, FailureWaitsForEveryOtherPiece) {
    for (const std::size_t workers : {1u, 2u, 4u}) {
        ThreadPool pool(workers);
        std::atomic<int> running{0};
        auto map = [&] {
            return parallel_map(200, [&](std::size_t i) {
                ++running;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                --running;
                if (i == 37 || i == 150) {
                    fatal::resume("element " + std::to_string(i) + " failed");
                }
                return i;
            });
        };
        try {
            pool.install(map);
            ADD_FAILURE() << "the failure was lost";
        } catch (const fatal::FatalError& error) {
            EXPECT_TRUE(error.message() == "element 37 failed" ||
                        error.message() == "element 150 failed")
                << error.message();
            EXPECT_EQ(running, 0) << "a piece was still running when the failure continued";
        }
        const auto again = pool.install(
            [] { return parallel_map(50, [](std::size_t i) { return i + 1; }); });
        ASSERT_EQ(again.size(), 50u);
        EXPECT_EQ(again.back(), 50u);
    }
}

// Running out of memory in one element is a failure of that element: it
// reaches the caller as std::bad_alloc once every other piece ended, and
// the pool goes on.
TEST(ParallelMapFailureTest, OutOfMemoryArrivesAsBadAllocAndThePoolGoesOn) {
    for (const std::size_t workers : {1u, 2u, 4u}) {
        ThreadPool pool(workers);
        std::atomic<int> running{0};
        bool fail = true;
        auto map = [&] {
            return parallel_map(100, [&](std::size_t row) {
                return parallel_map(4, [&](std::size_t column) {
                    ++running;
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                    --running;
                    if (fail && row == 60 && column == 2) {
                        throw std::bad_alloc();
                    }
                    return row * 10 + column;
                });
            });
        };
        EXPECT_THROW(pool.install(map), std::bad_alloc);
        EXPECT_EQ(running, 0) << "a piece was still running when the failure continued";
        fail = false;
        const auto again = pool.install(map);
        ASSERT_EQ(again.size(), 100u);
        EXPECT_EQ(again[60][2], 602u);
    }
}

// ------------------------------------------------------------ interruption

// What a poll function saw: how often it ran, on which threads, and after
// how many polls it asks to stop (never when 0).
struct PollRecord {
    std::size_t stop_after = 0;
    std::atomic<std::size_t> polls{0};
    std::atomic<bool> off_the_caller{false};
    std::thread::id caller = std::this_thread::get_id();

    static bool poll(void* context) noexcept {
        auto* self = static_cast<PollRecord*>(context);
        if (std::this_thread::get_id() != self->caller) {
            self->off_the_caller = true;
        }
        const std::size_t count = ++self->polls;
        return self->stop_after != 0 && count >= self->stop_after;
    }
};

// The shape of a call: rows of a few columns, each column a little work.
std::vector<std::vector<std::size_t>> timed_rows(std::size_t rows, std::atomic<std::size_t>& mapped,
                                                 std::atomic<int>& running,
                                                 Interruption* interruption) {
    return parallel_map(
        rows,
        [&](std::size_t row) {
            return parallel_map(
                3,
                [&](std::size_t column) {
                    ++running;
                    std::this_thread::sleep_for(std::chrono::microseconds(300));
                    ++mapped;
                    --running;
                    return row * 10 + column;
                },
                interruption);
        },
        interruption);
}

// A poll that asks to stop ends a long map soon: no element starts after
// the running ones end, Interrupted is raised once none runs, and the next
// map (interrupted or not) works.  The poll runs only on the waiting thread.
TEST(ParallelMapInterruptionTest, ACancelledMapStopsEarlyAndRaisesInterrupted) {
    constexpr std::size_t rows = 20000;  // 60,000 columns of 0.3 ms: many seconds
    for (const std::size_t stop_after : {1u, 3u}) {
        PollRecord record{.stop_after = stop_after};
        Interruption interruption(&PollRecord::poll, &record);
        std::atomic<std::size_t> mapped{0};
        std::atomic<int> running{0};
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(timed_rows(rows, mapped, running, &interruption), Interrupted);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(running, 0) << "an element was still running when the map returned";
        EXPECT_LT(mapped.load(), rows * 3) << "the map ran to its end";
        EXPECT_LT(took, std::chrono::seconds(5));
        EXPECT_EQ(record.polls.load(), stop_after) << "polled again after it asked to stop";
        EXPECT_FALSE(record.off_the_caller) << "polled on a worker";

        PollRecord patient;
        Interruption never(&PollRecord::poll, &patient);
        std::atomic<std::size_t> again{0};
        const auto result = timed_rows(500, again, running, &never);
        ASSERT_EQ(result.size(), 500u);
        EXPECT_EQ(result[499][2], 4992u);
        EXPECT_EQ(again.load(), 1500u);
    }
}

// A poll that never asks to stop changes nothing but is asked while the
// caller waits.
TEST(ParallelMapInterruptionTest, APatientPollIsAskedWhileTheCallerWaits) {
    PollRecord record;
    Interruption interruption(&PollRecord::poll, &record);
    std::atomic<std::size_t> mapped{0};
    std::atomic<int> running{0};
    // At least 1,500 columns of 0.3 ms over at most two workers: well over
    // one poll interval of waiting.
    const auto rows = timed_rows(1000, mapped, running, &interruption);
    ASSERT_EQ(rows.size(), 1000u);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        ASSERT_EQ(rows[row], (std::vector<std::size_t>{row * 10, row * 10 + 1, row * 10 + 2}));
    }
    EXPECT_GE(record.polls.load(), 1u);
    EXPECT_FALSE(record.off_the_caller);
}

// Several threads outside the pool use it at once, each waiting on its own
// latch for its own work only.
TEST(ParallelMapCallerTest, SeveralOutsideThreadsShareTheGlobalPool) {
    constexpr int callers = 4;
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < callers; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int round = 0; round < 40; ++round) {
                const std::size_t count = 50 + static_cast<std::size_t>(t * 13 + round);
                const auto rows = parallel_map(count, [&](std::size_t i) {
                    return parallel_map(3, [&](std::size_t j) { return t * 1000000 + i * 10 + j; });
                });
                for (std::size_t i = 0; i < count; ++i) {
                    for (std::size_t j = 0; j < 3; ++j) {
                        if (rows.at(i).at(j) != t * 1000000 + i * 10 + j) {
                            ++mismatches;
                        }
                    }
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, 0);
}

std::size_t count_pieces(Splitter splitter, std::size_t length) {
    if (!splitter.try_split(length, false)) {
        return 1;
    }
    return count_pieces(splitter, length / 2) + count_pieces(splitter, length - length / 2);
}

TEST(SplitterTest, StartsWithAboutOnePiecePerWorker) {
    for (const std::size_t workers : {1u, 2u, 3u, 4u, 8u, 64u}) {
        const std::size_t pieces = count_pieces(Splitter(workers), 1 << 20);
        EXPECT_GE(pieces, workers);
        EXPECT_LE(pieces, 2 * workers);
    }
}

TEST(SplitterTest, NeverSplitsOneElementAndSplitsAgainWhenStolen) {
    Splitter exhausted(2);
    while (exhausted.try_split(100, false)) {
    }
    EXPECT_FALSE(exhausted.try_split(100, false));
    EXPECT_FALSE(exhausted.try_split(1, true));
    EXPECT_FALSE(exhausted.try_split(0, true));
    EXPECT_TRUE(exhausted.try_split(2, true));
    // A stolen piece gets a budget of about one split per worker again.
    EXPECT_EQ(count_pieces(exhausted, 1 << 20), 4u);
}

TEST(PieceTallyTest, OnlyNeighbouringPiecesCombine) {
    const PieceTally left{0, 5};
    EXPECT_EQ(left.followed_by(PieceTally{5, 3}).written, 8u);
    EXPECT_EQ(left.followed_by(PieceTally{6, 3}).written, 5u);  // slot 5 skipped
    EXPECT_EQ((PieceTally{0, 4}.followed_by(PieceTally{5, 3}).written), 4u);  // stopped short
}

TEST(PieceTallyTest, MissingSlotsAreAFatalInternalError) {
    EXPECT_NO_THROW(require_every_slot_written(PieceTally{0, 7}, 7));
    EXPECT_NO_THROW(require_every_slot_written(PieceTally{0, 0}, 0));
    try {
        require_every_slot_written(PieceTally{0, 6}, 7);
        ADD_FAILURE() << "a missing slot went unnoticed";
    } catch (const fatal::FatalError& error) {
        EXPECT_EQ(error.message(), "expected 7 total writes but got 6");
    }
    EXPECT_THROW(require_every_slot_written(PieceTally{1, 7}, 7), fatal::FatalError);
}

}  // namespace
}  // namespace orven::pool
