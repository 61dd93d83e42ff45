// The fused path against the literal statistics, the set's and each one's
// on its own, compared bit for bit on random series: the same values, the
// same refusals, the series left as it was.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "test_support/silenced_stderr.hpp"
#include "fatal/fatal_error.hpp"
#include "features/minimal/compute.hpp"
#include "features/minimal/feature_values.hpp"
#include "features/minimal/kernels/short_median.hpp"
#include "literal_reference/minimal_feature_set.hpp"

namespace orven::features::minimal {
namespace {

using Series = std::vector<double>;
constexpr double inf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// ---- random series ------------------------------------------------------

// Values that break naive code: both zeros, infinities, NaNs of both signs
// and several payloads, subnormals, repeats, and magnitudes whose sums and
// squares overflow.
class SeriesSource {
public:
    explicit SeriesSource(std::uint64_t seed) : engine_(seed) {}

    static constexpr unsigned palettes = 5;

    // Each series gets its own mix, so that some hold no NaN at all (and
    // reach the median) while others are dense in zeros or extremes.
    Series draw(std::size_t length) {
        const double nan_rate = pick(4) == 0 ? 0.0 : (pick(2) == 0 ? 0.002 : 0.05);
        return draw(length, pick(palettes), nan_rate);
    }

    Series draw(std::size_t length, unsigned palette, double nan_rate) {
        Series series(length);
        for (double& value : series) {
            value = uniform() < nan_rate ? nan_value() : element(palette);
        }
        return series;
    }

private:
    unsigned pick(unsigned bound) {
        return std::uniform_int_distribution<unsigned>(0, bound - 1)(engine_);
    }
    double uniform() { return std::uniform_real_distribution<double>(0.0, 1.0)(engine_); }

    double nan_value() {
        static const std::uint64_t patterns[] = {0x7ff8000000000000ULL, 0xfff8000000000000ULL,
                                                 0x7ff0000000000001ULL, 0xfff4000000000abcULL};
        return std::bit_cast<double>(patterns[pick(4)]);
    }

    double element(unsigned palette) {
        static const double specials[] = {0.0,
                                          -0.0,
                                          inf,
                                          -inf,
                                          std::numeric_limits<double>::denorm_min(),
                                          -std::numeric_limits<double>::denorm_min(),
                                          std::numeric_limits<double>::min(),
                                          std::numeric_limits<double>::max(),
                                          -std::numeric_limits<double>::max(),
                                          1.7e308,
                                          1e200,
                                          -1e200,
                                          1.0,
                                          -1.0,
                                          0.5};
        switch (palette) {
            case 0:  // zeros of both signs among a few small values
                return std::array<double, 6>{0.0, -0.0, 0.0, -0.0, 1.0, -1.0}[pick(6)];
            case 1:  // repeated small integers
                return static_cast<double>(static_cast<int>(pick(7)) - 3);
            case 2:  // specials
                return specials[pick(std::size(specials))];
            case 3:  // any bit pattern that is not NaN: subnormals, huge and tiny
            {
                const double value = std::bit_cast<double>(engine_());
                return std::isnan(value) ? -0.0 : value;
            }
            default:  // ordinary values with a sprinkle of everything else
                if (pick(8) == 0) return specials[pick(std::size(specials))];
                return std::normal_distribution<double>(0.0, 1e3)(engine_);
        }
    }

    std::mt19937_64 engine_;
};

// ---- the comparison -------------------------------------------------------

using test_support::SilencedStderr;

bool is_median_refusal(const fatal::FatalError& error) {
    return error.message() == "called `Option::unwrap()` on a `None` value" &&
           error.location().file == "core/src/features/minimal/functional" &&
           error.location().line == 19 && error.location().column == 44;
}

std::string describe(const Series& x) {
    std::string text = "series of " + std::to_string(x.size()) + ":";
    for (std::size_t i = 0; i < x.size() && i < 40; ++i) {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, " %a", x[i]);
        text += buffer;
    }
    return text;
}

template <typename Compute>
std::optional<std::optional<FeatureValues>> run_or_refuse(Compute compute) {
    try {
        return std::optional<FeatureValues>(compute());
    } catch (const fatal::FatalError& error) {
        if (!is_median_refusal(error)) return std::nullopt;  // a wrong failure
        return std::optional<FeatureValues>();
    }
}

void expect_same(const std::optional<FeatureValues>& expected,
                 const std::optional<std::optional<FeatureValues>>& actual, const char* path,
                 const Series& x) {
    ASSERT_TRUE(actual.has_value()) << path << ": failed with an unexpected fatal error, "
                                    << describe(x);
    ASSERT_EQ(expected.has_value(), actual->has_value())
        << path << (expected ? " refused" : " did not refuse") << ", " << describe(x);
    if (!expected) return;
    for (std::size_t i = 0; i < feature_count; ++i) {
        ASSERT_EQ(bits((**actual)[i]), bits((*expected)[i]))
            << path << ": " << feature_names[i] << " " << (**actual)[i] << " instead of "
            << (*expected)[i] << ", " << describe(x);
    }
}

// Each statistic on its own: the median alone may refuse, the others never.
FeatureValues apply_each(const Series& x) {
    auto value = [&](auto statistic) {
        const auto records = statistic.apply(x);
        EXPECT_EQ(records.size(), 1u);
        EXPECT_EQ(records.at(0).name, decltype(statistic)::name);
        return records.at(0).value;
    };
    FeatureValues values{};
    values[0] = value(oop::AbsoluteMaximum{});
    values[1] = value(oop::Mean{});
    values[3] = value(oop::Variance{});
    values[4] = value(oop::StandardDeviation{});
    values[5] = value(oop::Length{});
    values[6] = value(oop::Maximum{});
    values[7] = value(oop::Minimum{});
    values[8] = value(oop::RootMeanSquare{});
    values[9] = value(oop::SumValues{});
    values[2] = value(oop::Median{});  // last: it is the one that may refuse
    return values;
}

FeatureValues apply_set(const Series& x) {
    const auto records = oop::MinimalFeatureSet{}.apply(x);
    EXPECT_EQ(records.size(), feature_count);
    FeatureValues values{};
    for (std::size_t i = 0; i < feature_count && i < records.size(); ++i) {
        EXPECT_EQ(records[i].name, feature_names[i]);
        values[i] = records[i].value;
    }
    return values;
}

// Whether the literal set refused the series.
bool compare_everything(const Series& x) {
    SCOPED_TRACE(describe(x));
    const Series original = x;
    const auto expected = run_or_refuse([&] { return apply_set(x); });
    EXPECT_TRUE(expected.has_value()) << "set apply failed with an unexpected fatal error";
    if (!expected) return false;
    expect_same(*expected, run_or_refuse([&] { return compute(x); }), "compute", x);
    expect_same(*expected, run_or_refuse([&] { return apply_each(x); }), "single apply", x);
    EXPECT_TRUE(x.empty() || std::memcmp(x.data(), original.data(), x.size() * sizeof(double)) == 0)
        << "the series was written";
    return !expected->has_value();
}

TEST(MinimalDifferential, ThousandsOfShortSeriesMatchTheReferenceBitForBit) {
    SeriesSource source(20240611);
    std::mt19937_64 lengths(7);
    const SilencedStderr silenced;
    std::size_t refused = 0;
    for (int round = 0; round < 20000; ++round) {
        const Series x = source.draw(std::uniform_int_distribution<std::size_t>(0, 300)(lengths));
        refused += compare_everything(x) ? 1 : 0;
        if (HasFailure()) return;
    }
    // Both outcomes were exercised in quantity.
    EXPECT_GT(refused, 2000u);
    EXPECT_LT(refused, 18000u);
}

// Around the length where the median changes method, every palette without
// NaN, so that each series reaches the median on both sides.
TEST(MinimalDifferential, MediansAroundTheShortCutOverMatchTheReferenceBitForBit) {
    SeriesSource source(31337);
    const SilencedStderr silenced;
    const std::size_t limit = kernels::short_median_limit;
    for (std::size_t length = limit - 3; length <= limit + 3; ++length) {
        for (unsigned palette = 0; palette < SeriesSource::palettes; ++palette) {
            for (int draw = 0; draw < 20; ++draw) {
                compare_everything(source.draw(length, palette, 0.0));
                if (HasFailure()) return;
            }
        }
    }
}

// Orders and value mixes that defeat a selection's pivot choice or its
// handling of equal elements: sorted either way, organ pipes, a sawtooth
// over a few values, all zeros of mixed signs, one value but for a single
// outlier.
TEST(MinimalDifferential, StructuredShortSeriesMatchTheReferenceBitForBit) {
    const SilencedStderr silenced;
    std::mt19937_64 signs(5);
    for (std::size_t n = 1; n <= kernels::short_median_limit + 40; ++n) {
        const auto i_of = [](std::size_t i) { return static_cast<double>(i); };
        std::vector<Series> cases(7, Series(n));
        for (std::size_t i = 0; i < n; ++i) {
            cases[0][i] = i_of(i);
            cases[1][i] = -i_of(i);
            cases[2][i] = i_of(std::min(i, n - 1 - i));
            cases[3][i] = i_of(i % 3) - 1.0;
            cases[4][i] = (signs() & 1) != 0 ? -0.0 : 0.0;
            cases[5][i] = i == n / 2 ? -1.0 : 2.5;
            // Zeros of both signs in the middle of the order, with
            // negatives and positives either side of them.
            cases[6][i] = i % 4 == 0 ? -1.0 : (i % 4 == 1 ? 1.0 : ((signs() & 1) != 0 ? -0.0 : 0.0));
        }
        for (const Series& x : cases) {
            compare_everything(x);
            if (HasFailure()) return;
        }
    }
}

// Long enough for the median to select from a sampled window.
TEST(MinimalDifferential, WindowedMediansMatchTheReferenceBitForBit) {
    SeriesSource source(4242);
    std::mt19937_64 lengths(8);
    const SilencedStderr silenced;
    for (int round = 0; round < 300; ++round) {
        const std::size_t length = std::uniform_int_distribution<std::size_t>(2000, 6000)(lengths);
        compare_everything(source.draw(length, static_cast<unsigned>(round) % SeriesSource::palettes,
                                       round % 10 == 0 ? 1e-4 : 0.0));
        if (HasFailure()) return;
    }
}

TEST(MinimalDifferential, LongSeriesMatchTheReferenceBitForBit) {
    SeriesSource source(99);
    const SilencedStderr silenced;
    const std::size_t lengths[] = {100000, 131071, 250003};
    for (unsigned palette = 0; palette < SeriesSource::palettes; ++palette) {
        compare_everything(source.draw(lengths[palette % 3], palette, 0.0));
        if (HasFailure()) return;
    }
    // One NaN deep inside a long series is still refused.
    Series x = source.draw(lengths[0], 4, 0.0);
    x[lengths[0] * 3 / 4] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(compare_everything(x));
}

}  // namespace
}  // namespace orven::features::minimal
