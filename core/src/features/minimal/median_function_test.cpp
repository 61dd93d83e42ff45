#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fatal/fatal_error.hpp"
#include "features/minimal/compute.hpp"
#include "features/minimal/functional.hpp"

namespace orven::features::minimal {
namespace {

using functional::median;

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

struct MedianCase {
    const char* label;
    std::vector<double> series;
    double expected;
};

class MedianValue : public testing::TestWithParam<MedianCase> {};

// The median as defined, and as the extraction computes it.
double computed_median(common::SeriesView series) { return compute(series)[2]; }

TEST_P(MedianValue, HasTheBitsOfTheStableOrderAndLeavesTheSeriesAlone) {
    const MedianCase& c = GetParam();
    for (auto path : {median, computed_median}) {
        std::vector<double> series = c.series;
        EXPECT_EQ(bits(path(series)), bits(c.expected)) << path(series);
        for (std::size_t i = 0; i < series.size(); ++i) {
            EXPECT_EQ(bits(series[i]), bits(c.series[i]));
        }
    }
}

// The zero cases are where a plain selection goes wrong: an unstable order
// may put either zero in the middle.
INSTANTIATE_TEST_SUITE_P(
    Examples, MedianValue,
    testing::Values(
        MedianCase{"odd", {3.0, 1.0, 2.0}, 2.0},
        MedianCase{"even", {4.0, 1.0, 3.0, 2.0}, 2.5},
        MedianCase{"empty_is_positive_quiet_nan", {}, std::bit_cast<double>(0x7ff8000000000000ULL)},
        MedianCase{"single_element", {-7.25}, -7.25},
        MedianCase{"single_negative_nan_unchanged",
                   {std::bit_cast<double>(0xfff8000000000123ULL)},
                   std::bit_cast<double>(0xfff8000000000123ULL)},
        MedianCase{"middle_sum_overflows_before_halving", {1.7e308, 1.7e308}, inf},
        MedianCase{"opposite_infinities", {-inf, inf}, std::bit_cast<double>(0xfff8000000000000ULL)},
        MedianCase{"positive_zero_first_gives_negative", {+0.0, -0.0, 1.0}, -0.0},
        MedianCase{"negative_zero_first_gives_positive", {-0.0, +0.0, 1.0}, +0.0},
        MedianCase{"two_negative_zeros", {-0.0, -0.0}, -0.0},
        MedianCase{"mixed_zero_pair", {+0.0, -0.0}, +0.0},
        MedianCase{"zero_rank_counts_negatives",
                   {-0.0, 5.0, -3.0, +0.0, -0.0, 9.0, -1.0}, +0.0},  // stable: -3 -1 -0 +0 -0 5 9
        MedianCase{"zero_rank_after_negatives",
                   {+0.0, -2.0, -0.0, 4.0, +0.0}, -0.0},  // stable: -2 +0 -0 +0 4
        MedianCase{"even_zero_pair_both_negative",
                   {+0.0, -1.0, -0.0, 2.0, -0.0, 3.0}, -0.0},  // -1 +0 [-0 -0] 2 3
        MedianCase{"even_zero_pair_one_positive",
                   {-0.0, -1.0, +0.0, -0.0, 3.0, 2.0}, +0.0},  // -1 -0 [+0 -0] 2 3
        MedianCase{"zero_beside_a_non_zero", {-0.0, 2.0}, 1.0},
        MedianCase{"negative_beside_zero", {-0.0, -2.0}, -1.0},
        MedianCase{"longer_than_insertion_sort_range",
                   {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, -1, -2, -3, -4, -5, -6, -7, -8, -9, -10, 11, 12},
                   0.5},
        MedianCase{"subnormal_among_ties_and_zeros",
                   {5.0, -0.0, 3.0, +0.0, -inf, 2.0, 2.0, 1e-310, -4.0}, 1e-310}),
    [](const testing::TestParamInfo<MedianCase>& info) { return std::string(info.param.label); });

TEST(MedianRefusal, ReportsTheMessageAtItsSourceLocationAndLeavesTheSeriesAlone) {
    const std::vector<std::vector<double>> refused = {
        {1.0, nan},
        {nan, 1.0},
        {nan, nan},
        {0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0, -nan},
        {std::bit_cast<double>(0x7ff0000000000001ULL), 3.0, 2.0},  // a signalling NaN
    };
    for (auto path : {median, computed_median}) {
        for (const auto& original : refused) {
            std::vector<double> series = original;
            testing::internal::CaptureStderr();
            try {
                (void)path(series);
                ADD_FAILURE() << "median accepted a series holding NaN";
            } catch (const fatal::FatalError& error) {
                EXPECT_EQ(error.message(), "called `Option::unwrap()` on a `None` value");
                EXPECT_EQ(error.location().file, "core/src/features/minimal/functional");
                EXPECT_EQ(error.location().line, 19u);
                EXPECT_EQ(error.location().column, 44u);
            }
            const std::string report = testing::internal::GetCapturedStderr();
            EXPECT_NE(report.find("panicked at core/src/features/minimal/functional:19:44:\n"
                                  "called `Option::unwrap()` on a `None` value\n"),
                      std::string::npos)
                << report;
            ASSERT_EQ(series.size(), original.size());
            for (std::size_t i = 0; i < series.size(); ++i) {
                EXPECT_EQ(bits(series[i]), bits(original[i]));
            }
        }
    }
}

}  // namespace
}  // namespace orven::features::minimal
