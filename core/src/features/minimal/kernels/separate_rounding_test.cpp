// If the build ever fused a product and the following add into one
// rounding (an FMA, say from -ffp-contract=fast with a wider -march), the
// sums of squares would drift from their defined values.  These series are
// chosen so that the fused and the separately rounded results differ, and
// the statistics must give the separately rounded one.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "features/minimal/compute.hpp"
#include "features/minimal/feature_values.hpp"
#include "literal_reference/minimal_feature_set.hpp"

namespace orven::features::minimal {
namespace {

using Series = std::vector<double>;

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// Each product stored through a volatile, so it is rounded on its own
// whatever the compiler is allowed to do.
double separate_sum_of_squares(const Series& x, double centre) {
    double total = -0.0;
    for (const double value : x) {
        volatile double deviation = value - centre;
        volatile double square = deviation * deviation;
        total = total + square;
    }
    return total;
}

double fused_sum_of_squares(const Series& x, double centre) {
    double total = -0.0;
    for (const double value : x) {
        const double deviation = value - centre;
        total = std::fma(deviation, deviation, total);
    }
    return total;
}

double sequential_mean(const Series& x) {
    double sum = -0.0;
    for (const double value : x) sum = sum + value;
    return sum / static_cast<double>(x.size());
}

// A deterministic search for a short series on which one rounding and two
// roundings of the sum of squares about `centre_of(x)` give different bits.
template <typename Centre>
Series series_telling_fused_from_separate(Centre centre_of) {
    std::mt19937_64 engine(5);
    std::uniform_real_distribution<double> value(1.0, 2.0);
    for (int attempt = 0; attempt < 100000; ++attempt) {
        Series x = {value(engine), value(engine), value(engine), value(engine), value(engine)};
        const double centre = centre_of(x);
        const double n = static_cast<double>(x.size());
        if (bits(std::sqrt(separate_sum_of_squares(x, centre) / n)) !=
            bits(std::sqrt(fused_sum_of_squares(x, centre) / n))) {
            return x;
        }
    }
    ADD_FAILURE() << "no telling series found";
    return {};
}

TEST(SeparateRounding, RootMeanSquareRoundsEachSquareBeforeAddingIt) {
    const Series x = series_telling_fused_from_separate([](const Series&) { return 0.0; });
    const double n = static_cast<double>(x.size());
    const double expected = std::sqrt(separate_sum_of_squares(x, 0.0) / n);
    ASSERT_NE(bits(expected), bits(std::sqrt(fused_sum_of_squares(x, 0.0) / n)));
    EXPECT_EQ(bits(oop::RootMeanSquare{}.apply(x).at(0).value), bits(expected));
    EXPECT_EQ(bits(compute(x)[8]), bits(expected));
    EXPECT_EQ(feature_names[8], "root_mean_square");
}

TEST(SeparateRounding, VarianceRoundsEachSquaredDeviationBeforeAddingIt) {
    const Series x = series_telling_fused_from_separate(sequential_mean);
    const double n = static_cast<double>(x.size());
    const double mean = sequential_mean(x);
    const double expected = separate_sum_of_squares(x, mean) / n;
    ASSERT_NE(bits(std::sqrt(expected)), bits(std::sqrt(fused_sum_of_squares(x, mean) / n)));
    EXPECT_EQ(bits(oop::Variance{}.apply(x).at(0).value), bits(expected));
    EXPECT_EQ(bits(oop::StandardDeviation{}.apply(x).at(0).value), bits(std::sqrt(expected)));
    const FeatureValues fast = compute(x);
    EXPECT_EQ(bits(fast[3]), bits(expected));
    EXPECT_EQ(bits(fast[4]), bits(std::sqrt(expected)));
    EXPECT_EQ(feature_names[3], "variance");
    EXPECT_EQ(feature_names[4], "standard_deviation");
}

}  // namespace
}  // namespace orven::features::minimal
