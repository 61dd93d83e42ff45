#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fatal/fatal_error.hpp"
#include "literal_reference/feature_function.hpp"
#include "features/minimal/compute.hpp"
#include "features/minimal/feature_values.hpp"
#include "literal_reference/minimal_feature_set.hpp"

namespace orven::features::minimal::oop {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();
const double positive_quiet_nan = std::bit_cast<double>(0x7ff8000000000000ULL);

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// The quotient -0.0 / 0.0 as x86-64 forms it at run time: the quiet NaN
// with the sign bit set, on every processor (AArch64 would clear the sign).
double runtime_quotient_nan() { return std::bit_cast<double>(0xfff8000000000000ULL); }

// Each statistic on its own, by its record name.
double apply_single(std::string_view feature, common::SeriesView series) {
    auto one = [&]<common::FeatureFunction Statistic>(Statistic statistic) {
        const common::FeatureRecordList records = statistic.apply(series);
        EXPECT_EQ(records.size(), 1u);
        EXPECT_EQ(records.at(0).name, Statistic::name);
        return records.at(0).value;
    };
    if (feature == AbsoluteMaximum::name) return one(AbsoluteMaximum{});
    if (feature == Mean::name) return one(Mean{});
    if (feature == Median::name) return one(Median{});
    if (feature == Variance::name) return one(Variance{});
    if (feature == StandardDeviation::name) return one(StandardDeviation{});
    if (feature == Length::name) return one(Length{});
    if (feature == Maximum::name) return one(Maximum{});
    if (feature == Minimum::name) return one(Minimum{});
    if (feature == RootMeanSquare::name) return one(RootMeanSquare{});
    if (feature == SumValues::name) return one(SumValues{});
    ADD_FAILURE() << "no statistic named " << feature;
    return 0.0;
}

std::size_t index_of(std::string_view feature) {
    return static_cast<std::size_t>(
        std::find(feature_names.begin(), feature_names.end(), feature) - feature_names.begin());
}

struct ValueCase {
    const char* label;
    std::vector<double> series;
    std::string_view feature;
    double expected;
};

class StatisticValue : public testing::TestWithParam<ValueCase> {};

bool refused_by_the_set(const std::vector<double>& series) {
    return series.size() >= 2 &&
           std::any_of(series.begin(), series.end(), [](double v) { return std::isnan(v); });
}

// The same bits from the statistic alone, from the set's records and from
// the set's fast path (the set refuses a series of two or more holding NaN,
// through the median).
TEST_P(StatisticValue, AgreesToTheBitOnEveryPath) {
    const ValueCase& c = GetParam();
    EXPECT_EQ(bits(apply_single(c.feature, c.series)), bits(c.expected));
    if (refused_by_the_set(c.series)) {
        testing::internal::CaptureStderr();
        EXPECT_THROW((void)MinimalFeatureSet{}.apply(c.series), fatal::FatalError);
        EXPECT_THROW((void)minimal::compute(c.series), fatal::FatalError);
        (void)testing::internal::GetCapturedStderr();
        return;
    }
    const common::FeatureRecordList records = MinimalFeatureSet{}.apply(c.series);
    const std::size_t index = index_of(c.feature);
    ASSERT_LT(index, records.size());
    EXPECT_EQ(records[index].name, c.feature);
    EXPECT_EQ(bits(records[index].value), bits(c.expected));
    EXPECT_EQ(bits(minimal::compute(c.series)[index]), bits(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Sums, StatisticValue,
    testing::Values(
        ValueCase{"sum_of_negative_zero", {-0.0}, "sum_values", -0.0},
        ValueCase{"sum_of_positive_zero", {+0.0}, "sum_values", +0.0},
        ValueCase{"sum_rounds_in_order", {0.1, 0.2, 0.3}, "sum_values", 0.6000000000000001},
        ValueCase{"mean_rounds_in_order", {0.1, 0.2, 0.3}, "mean", 0.20000000000000004},
        // Lanes or an exact sum would give 2.0; a single accumulator absorbs the ones.
        ValueCase{"sum_is_one_chain", {1.0, 1e100, 1.0, -1e100}, "sum_values", 0.0},
        ValueCase{"sum_is_one_chain_unrolled",
                  {1.0, 1e100, 1.0, -1e100, 1.0, 1e100, 1.0, -1e100, 1.0}, "sum_values", 1.0},
        ValueCase{"variance_divides_by_n", {1.0, 2.0, 3.0, 4.0}, "variance", 1.25},
        ValueCase{"variance_of_one_value", {7.5}, "variance", +0.0},
        ValueCase{"deviation_of_one_value", {-7.5}, "standard_deviation", +0.0},
        ValueCase{"variance_with_infinity", {1.0, inf}, "variance", -nan},
        ValueCase{"deviation_with_negative_infinity", {-inf, 1.0, 2.0, 3.0, 4.0},
                  "standard_deviation", -nan},
        ValueCase{"root_mean_square", {3.0, 4.0}, "root_mean_square", 3.5355339059327378},
        ValueCase{"root_mean_square_of_negative_zero", {-0.0}, "root_mean_square", +0.0},
        ValueCase{"squares_overflow", {1e200, -1e200}, "root_mean_square", inf},
        ValueCase{"length_counts_nan", {nan}, "length", 1.0}),
    [](const testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Extrema, StatisticValue,
    testing::Values(
        ValueCase{"maximum_of_nans", {nan}, "maximum", -inf},
        ValueCase{"maximum_skips_nan", {nan, 1.0}, "maximum", 1.0},
        ValueCase{"maximum_after_nan_block", {nan, 5.0, 1.0, 2.0, 7.0}, "maximum", 7.0},
        ValueCase{"maximum_first_zero_stays", {+0.0, -0.0}, "maximum", +0.0},
        ValueCase{"maximum_first_negative_zero_stays", {-0.0, +0.0}, "maximum", -0.0},
        ValueCase{"maximum_zero_from_block_join", {-1.0, +0.0, -0.0, -1.0}, "maximum", -0.0},
        ValueCase{"maximum_block_then_tail", {-1.0, +0.0, -0.0, -1.0, +0.0}, "maximum", -0.0},
        // The NaN ends the block phase before its block is folded; the rest
        // is stepped in order, so the first zero of the tail stays.
        ValueCase{"maximum_nan_block_steps_in_order",
                  {-5.0, -5.0, -5.0, -5.0, -0.0, nan, +0.0, -0.0}, "maximum", -0.0},
        ValueCase{"minimum_zero_from_block_join", {1.0, -0.0, +0.0, 1.0}, "minimum", +0.0},
        ValueCase{"minimum_first_zero_stays", {-0.0, +0.0}, "minimum", -0.0},
        ValueCase{"minimum_of_empty_after_nans", {nan}, "minimum", inf},
        ValueCase{"absolute_maximum_of_negative", {-3.0, 2.0}, "absolute_maximum", 3.0},
        ValueCase{"absolute_maximum_of_negative_infinity", {-inf}, "absolute_maximum", inf},
        ValueCase{"absolute_maximum_of_nan", {nan}, "absolute_maximum", -inf},
        ValueCase{"absolute_maximum_of_negative_zero", {-0.0}, "absolute_maximum", +0.0},
        ValueCase{"absolute_maximum_across_blocks",
                  {1.0, -2.0, 3.0, -4.0, 5.0, -9.5, 7.0, -8.0, 2.0}, "absolute_maximum", 9.5}),
    [](const testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.label); });

TEST(MinimalFeatureSet, AppliesTheTenStatisticsInOrderUnderDistinctNames) {
    const std::vector<double> series = {1.0, 2.0, 3.0, 4.0};
    const common::FeatureRecordList records = MinimalFeatureSet{}.apply(series);
    const FeatureValues fast = minimal::compute(series);
    const std::vector<double> expected = {4.0, 2.5, 2.5, 1.25, 1.118033988749895,
                                          4.0, 4.0, 1.0, 2.7386127875258306, 10.0};
    ASSERT_EQ(records.size(), feature_count);
    std::set<std::string> names;
    for (std::size_t i = 0; i < feature_count; ++i) {
        EXPECT_EQ(records[i].name, feature_names[i]);
        EXPECT_EQ(bits(records[i].value), bits(expected[i])) << records[i].name;
        EXPECT_EQ(bits(fast[i]), bits(expected[i])) << records[i].name;
        names.insert(records[i].name);
    }
    EXPECT_EQ(names.size(), feature_count);
}

TEST(MinimalFeatureSet, GivesTheDefinedValuesOfTheEmptyAndTheSingleNanSeries) {
    const double quotient = runtime_quotient_nan();
    const std::vector<std::pair<std::vector<double>, FeatureValues>> cases = {
        {{},
         {-inf, quotient, positive_quiet_nan, positive_quiet_nan, positive_quiet_nan, 0.0, -inf,
          inf, quotient, -0.0}},
        {{nan},
         {-inf, nan, nan, nan, nan, 1.0, -inf, inf, nan, nan}},
    };
    for (const auto& [series, expected] : cases) {
        const common::FeatureRecordList records = MinimalFeatureSet{}.apply(series);
        const FeatureValues fast = minimal::compute(series);
        ASSERT_EQ(records.size(), feature_count);
        for (std::size_t i = 0; i < feature_count; ++i) {
            EXPECT_EQ(bits(fast[i]), bits(records[i].value)) << feature_names[i];
            if (series.empty()) {
                EXPECT_EQ(bits(fast[i]), bits(expected[i])) << feature_names[i];
            } else if (std::isnan(expected[i])) {
                EXPECT_TRUE(std::isnan(fast[i])) << feature_names[i];
            } else {
                EXPECT_EQ(bits(fast[i]), bits(expected[i])) << feature_names[i];
            }
        }
    }
}

}  // namespace
}  // namespace orven::features::minimal::oop
