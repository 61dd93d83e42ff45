#include "pool/parallel_map.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fatal/fatal_error.hpp"
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
