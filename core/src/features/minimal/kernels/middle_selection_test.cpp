// The building blocks of the median against plain sorting: the selection of
// the middle values, and the windowed median under windows that hold, miss
// or squeeze the middle.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "features/minimal/kernels/median_window.hpp"
#include "features/minimal/kernels/middle_selection.hpp"
#include "features/minimal/kernels/moments.hpp"
#include "features/minimal/kernels/stable_median.hpp"

namespace orven::features::minimal::kernels {
namespace {

using Series = std::vector<double>;
constexpr double inf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// Series whose selection is hard in different ways: distinct values,
// few distinct values (long runs of pivot copies), sorted, reversed, one
// value, organ pipe.
Series make_series(std::mt19937_64& engine, std::size_t n, int shape) {
    Series x(n);
    std::uniform_int_distribution<int> small(-3, 3);
    std::normal_distribution<double> normal(0.0, 10.0);
    for (std::size_t i = 0; i < n; ++i) {
        switch (shape) {
            case 0: x[i] = normal(engine); break;
            case 1: x[i] = small(engine); break;
            case 2: x[i] = static_cast<double>(i); break;
            case 3: x[i] = -static_cast<double>(i); break;
            case 4: x[i] = 2.5; break;
            default: x[i] = static_cast<double>(std::min(i, n - i)); break;
        }
    }
    return x;
}

TEST(SelectMiddle, FindsTheValuesThatSortingPutsAtTheWantedRanks) {
    std::mt19937_64 engine(3);
    for (int shape = 0; shape < 6; ++shape) {
        for (std::size_t n = 1; n < 700; n += 1 + n / 7) {
            const Series x = make_series(engine, n, shape);
            Series sorted = x;
            std::sort(sorted.begin(), sorted.end());
            for (const std::size_t rank : {std::size_t{0}, n / 3, (n - 1) / 2, n - 1}) {
                for (const bool pair : {false, true}) {
                    if (pair && rank + 1 >= n) continue;
                    Series values = x;
                    Series scratch(n);
                    const MiddleValues got = select_middle(values.data(), scratch.data(), n, rank, pair);
                    ASSERT_EQ(got.lower, sorted[rank]) << "shape " << shape << " n " << n << " rank " << rank;
                    ASSERT_EQ(got.upper, sorted[pair ? rank + 1 : rank])
                        << "shape " << shape << " n " << n << " rank " << rank;
                }
            }
        }
    }
}

// The stable median by sorting, for series without NaN.
double sorted_median(Series x) {
    std::stable_sort(x.begin(), x.end());
    const std::size_t h = x.size() / 2;
    return x.size() % 2 == 1 ? x[h] : (x[h - 1] + x[h]) * 0.5;
}

// The candidates gathered by the variance's pass, as the extraction does.
double median_with_window(const Series& x, MedianWindow window) {
    StableMedian median(x, window);
    (void)population_variance(x, 0.0, median.candidates());
    return median.finish();
}

TEST(StableMedianWindow, AnyWindowGivesTheStableMedian) {
    std::mt19937_64 engine(11);
    for (int shape = 0; shape < 6; ++shape) {
        for (const std::size_t n : {2u, 3u, 40u, 41u, 2047u, 2048u, 5001u, 6000u}) {
            Series x = make_series(engine, n, shape);
            // Zeros of both signs in the middle of shapes 1 and 5.
            for (double& v : x) {
                if (v == 0.0 && (engine() & 1)) v = -0.0;
            }
            Series sorted = x;
            std::sort(sorted.begin(), sorted.end());
            const double expected = sorted_median(x);
            const double lo = sorted.front();
            const double hi = sorted.back();
            const double mid = sorted[n / 2];
            const MedianWindow windows[] = {
                {-inf, inf},  {mid, mid},     {lo, lo},        {hi, hi},   {-inf, lo},
                {hi, inf},    {lo, mid},      {mid, hi},       {1.0, -1.0},  // empty
                {sorted[n / 4], sorted[3 * n / 4]},
            };
            for (const MedianWindow& window : windows) {
                ASSERT_EQ(bits(median_with_window(x, window)), bits(expected))
                    << "shape " << shape << " n " << n << " window " << window.low << ".."
                    << window.high;
            }
            ASSERT_EQ(bits(median_with_window(x, median_window(x))), bits(expected))
                << "shape " << shape << " n " << n << " sampled window";
        }
    }
}

TEST(MedianWindowChoice, UsuallyBracketsTheMiddleWithFewCandidates) {
    std::mt19937_64 engine(17);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (const std::size_t n : {4096u, 100000u}) {
        Series x(n);
        for (double& v : x) v = normal(engine);
        const MedianWindow window = median_window(x);
        std::size_t below = 0;
        std::size_t inside = 0;
        for (const double v : x) {
            below += v < window.low;
            inside += v >= window.low && v <= window.high;
        }
        EXPECT_LE(below, n / 2 - 1);
        EXPECT_GT(below + inside, n / 2);
        EXPECT_LT(inside, n / 3);  // the point of the window
    }
}

}  // namespace
}  // namespace orven::features::minimal::kernels
