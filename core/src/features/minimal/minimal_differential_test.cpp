// The fast path and every statistic against a literal reference: plain
// loops that do the arithmetic exactly as the statistics are defined, and a
// stable sort for the median, compared bit for bit on random series.

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
#include "features/minimal/feature_values.hpp"
#include "features/minimal/functional.hpp"
#include "features/minimal/kernels/short_median.hpp"
#include "features/minimal/oop/absolute_maximum.hpp"
#include "features/minimal/oop/length.hpp"
#include "features/minimal/oop/maximum.hpp"
#include "features/minimal/oop/mean.hpp"
#include "features/minimal/oop/median.hpp"
#include "features/minimal/oop/minimal_feature_set.hpp"
#include "features/minimal/oop/minimum.hpp"
#include "features/minimal/oop/root_mean_square.hpp"
#include "features/minimal/oop/standard_deviation.hpp"
#include "features/minimal/oop/sum_values.hpp"
#include "features/minimal/oop/variance.hpp"

namespace orven::features::minimal {
namespace {

using Series = std::vector<double>;
constexpr double inf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// ---- the reference ------------------------------------------------------

namespace reference {

// IEEE 754 leaves the sign of a NaN made from numbers alone (inf - inf,
// 0 / 0) to the processor; the values are x86-64's, which sets it.  A NaN
// operand is passed on made quiet, the first one where both are NaN.
double nan_of(double a, double b) {
    constexpr std::uint64_t quiet = std::uint64_t{1} << 51;
    if (std::isnan(a)) return std::bit_cast<double>(bits(a) | quiet);
    if (std::isnan(b)) return std::bit_cast<double>(bits(b) | quiet);
    return std::bit_cast<double>(std::uint64_t{0xfff8000000000000});
}
double plus(double a, double b) { const double r = a + b; return std::isnan(r) ? nan_of(a, b) : r; }
double minus(double a, double b) { const double r = a - b; return std::isnan(r) ? nan_of(a, b) : r; }
double times(double a, double b) { const double r = a * b; return std::isnan(r) ? nan_of(a, b) : r; }
double over(double a, double b) { const double r = a / b; return std::isnan(r) ? nan_of(a, b) : r; }

double count(const Series& x) { return static_cast<double>(static_cast<std::uint64_t>(x.size())); }

double sum(const Series& x) {
    double acc = -0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        acc = plus(acc, x[i]);
    }
    return acc;
}

double mean(const Series& x) { return over(sum(x), count(x)); }

double variance(const Series& x) {
    if (x.empty()) {
        return std::bit_cast<double>(0x7ff8000000000000ULL);
    }
    const double m = over(sum(x), count(x));
    double q = -0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double d = minus(x[i], m);
        const double t = times(d, d);
        q = plus(q, t);
    }
    return over(q, count(x));
}

double standard_deviation(const Series& x) { return std::sqrt(variance(x)); }

double root_mean_square(const Series& x) {
    double r = -0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = times(x[i], x[i]);
        r = plus(r, t);
    }
    return std::sqrt(over(r, count(x)));
}

// The four-block fold, `greater` standing for > (maximum) or < (minimum).
template <typename Greater>
double block_fold(const Series& values, const Series& raw, double start, Greater greater) {
    auto step = [&](double acc, double v) {
        if (std::isnan(acc)) return v;
        if (greater(v, acc)) return v;
        return acc;
    };
    auto join = [&](double p, double q) {
        if (std::isnan(q)) return p;
        if (greater(p, q)) return p;
        return q;
    };
    const std::size_t n = values.size();
    if (n == 0) {
        return start;
    }
    if (n < 4) {
        double acc = start;
        for (std::size_t i = 0; i < n; ++i) acc = step(acc, values[i]);
        return acc;
    }
    double p[4] = {start, start, start, start};
    std::size_t next = 0;  // first element not yet folded
    for (std::size_t k = 0; 4 * k + 3 < n; ++k) {
        const std::size_t b = 4 * k;
        if (std::isnan(raw[b]) || std::isnan(raw[b + 1]) || std::isnan(raw[b + 2]) ||
            std::isnan(raw[b + 3])) {
            break;
        }
        for (std::size_t j = 0; j < 4; ++j) p[j] = step(p[j], values[b + j]);
        next = b + 4;
    }
    const double a = join(p[2], p[0]);
    const double b = join(p[3], p[1]);
    double acc = join(b, a);
    for (std::size_t i = next; i < n; ++i) acc = step(acc, values[i]);
    return acc;
}

double maximum(const Series& x) {
    return block_fold(x, x, -inf, [](double a, double b) { return a > b; });
}
double minimum(const Series& x) {
    return block_fold(x, x, inf, [](double a, double b) { return a < b; });
}
double absolute_maximum(const Series& x) {
    Series magnitudes(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        magnitudes[i] = std::bit_cast<double>(bits(x[i]) & 0x7fffffffffffffffULL);
    }
    return block_fold(magnitudes, x, -inf, [](double a, double b) { return a > b; });
}

struct Unordered {};

// nullopt where the stable sort meets a NaN.
std::optional<double> median(const Series& x) {
    Series sorted = x;
    const std::size_t n = sorted.size();
    if (n >= 2) {
        try {
            std::stable_sort(sorted.begin(), sorted.end(), [](double a, double b) {
                if (std::isnan(a) || std::isnan(b)) throw Unordered{};
                return a < b;
            });
        } catch (const Unordered&) {
            return std::nullopt;
        }
    }
    const std::size_t h = n / 2;
    if (n == 0) return std::bit_cast<double>(0x7ff8000000000000ULL);
    if (n % 2 == 1) return sorted[h];
    return times(plus(sorted[h - 1], sorted[h]), 0.5);
}

// The ten values in feature order, or nullopt where the set refuses.
std::optional<FeatureValues> all(const Series& x) {
    const std::optional<double> med = median(x);
    if (!med) return std::nullopt;
    return FeatureValues{absolute_maximum(x), mean(x),    *med,
                         variance(x),         standard_deviation(x),
                         count(x),            maximum(x), minimum(x),
                         root_mean_square(x), sum(x)};
}

}  // namespace reference

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

void compare_everything(const Series& x) {
    SCOPED_TRACE(describe(x));
    const Series original = x;
    const std::optional<FeatureValues> expected = reference::all(x);
    if (!expected) {
        // The statistics that never fail still agree with the reference.
        // Where two NaNs meet in a sum, which payload survives is up to the
        // order of the operands, which neither IEEE 754 nor the compiler
        // fixes (addition commutes); the set never shows such a value, as
        // it refuses every series that holds NaN and has two elements.
        const double sum = oop::SumValues{}.apply(x).at(0).value;
        const double reference_sum = reference::sum(x);
        if (!(std::isnan(sum) && std::isnan(reference_sum))) {
            ASSERT_EQ(bits(sum), bits(reference_sum)) << "sum_values on a NaN series";
        }
        const double values[] = {reference::absolute_maximum(x), reference::maximum(x),
                                 reference::minimum(x)};
        const double actual[] = {oop::AbsoluteMaximum{}.apply(x).at(0).value,
                                 oop::Maximum{}.apply(x).at(0).value,
                                 oop::Minimum{}.apply(x).at(0).value};
        for (std::size_t i = 0; i < std::size(values); ++i) {
            ASSERT_EQ(bits(actual[i]), bits(values[i])) << "extremum " << i << " on a NaN series";
        }
    }
    expect_same(expected, run_or_refuse([&] { return oop::MinimalFeatureSet{}.compute(x); }),
                "compute", x);
    expect_same(expected, run_or_refuse([&] { return apply_set(x); }), "set apply", x);
    expect_same(expected, run_or_refuse([&] { return apply_each(x); }), "single apply", x);
    ASSERT_TRUE(x.empty() || std::memcmp(x.data(), original.data(), x.size() * sizeof(double)) == 0)
        << "the series was written";
}

TEST(MinimalDifferential, ThousandsOfShortSeriesMatchTheReferenceBitForBit) {
    SeriesSource source(20240611);
    std::mt19937_64 lengths(7);
    const SilencedStderr silenced;
    std::size_t refused = 0;
    for (int round = 0; round < 20000; ++round) {
        const Series x = source.draw(std::uniform_int_distribution<std::size_t>(0, 300)(lengths));
        compare_everything(x);
        if (HasFatalFailure()) return;
        refused += reference::median(x) ? 0 : 1;
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
                if (HasFatalFailure()) return;
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
            if (HasFatalFailure()) return;
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
        if (HasFatalFailure()) return;
    }
}

TEST(MinimalDifferential, LongSeriesMatchTheReferenceBitForBit) {
    SeriesSource source(99);
    const SilencedStderr silenced;
    const std::size_t lengths[] = {100000, 131071, 250003};
    for (unsigned palette = 0; palette < SeriesSource::palettes; ++palette) {
        compare_everything(source.draw(lengths[palette % 3], palette, 0.0));
        if (HasFatalFailure()) return;
    }
    // One NaN deep inside a long series is still refused.
    compare_everything(source.draw(lengths[0], 4, 1e-5));
}

}  // namespace
}  // namespace orven::features::minimal
