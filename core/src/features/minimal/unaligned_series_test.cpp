// A series that starts at an address that is not a multiple of eight (a
// NumPy view into a byte buffer at an odd offset) gives the same bits, and
// the same refusals, as the same values stored aligned.

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "test_support/silenced_stderr.hpp"
#include "fatal/fatal_error.hpp"
#include "features/common/series_view.hpp"
#include "features/minimal/compute.hpp"
#include "features/minimal/feature_values.hpp"
#include "literal_reference/minimal_feature_set.hpp"

namespace orven::features::minimal {
namespace {

using common::SeriesView;

using test_support::SilencedStderr;

// The same values at a chosen byte offset from an aligned start.
class Misplaced {
public:
    Misplaced(const std::vector<double>& values, std::size_t offset)
        : bytes_(std::make_unique<unsigned char[]>(values.size() * sizeof(double) + 16)),
          start_(bytes_.get() + offset),
          size_(values.size()) {
        if (!values.empty()) std::memcpy(start_, values.data(), values.size() * sizeof(double));
    }
    SeriesView view() const { return SeriesView(reinterpret_cast<const double*>(start_), size_); }

private:
    std::unique_ptr<unsigned char[]> bytes_;
    unsigned char* start_;
    std::size_t size_;
};

struct Outcome {
    std::optional<FeatureValues> values;  // empty when refused
    std::vector<std::uint64_t> bits() const {
        std::vector<std::uint64_t> out;
        if (values) {
            for (const double value : *values) out.push_back(std::bit_cast<std::uint64_t>(value));
        }
        return out;
    }
};

// The fused path and the literal set.
std::vector<Outcome> everything(SeriesView series) {
    std::vector<Outcome> outcomes;
    auto attempt = [&](auto compute) {
        try {
            outcomes.push_back({compute()});
        } catch (const fatal::FatalError&) {
            outcomes.push_back({std::nullopt});
        }
    };
    attempt([&] { return compute(series); });
    attempt([&] {
        const auto records = oop::MinimalFeatureSet{}.apply(series);
        FeatureValues values{};
        for (std::size_t i = 0; i < values.size(); ++i) values[i] = records.at(i).value;
        return values;
    });
    return outcomes;
}

std::vector<double> draw(std::mt19937_64& engine, std::size_t length, bool with_nan) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {0.0, -0.0, inf, -inf, 5e-324, -2.2250738585072014e-308,
                               1.7976931348623157e308, 1.0, -1.0, 3.0};
    std::uniform_int_distribution<int> kind(0, with_nan ? 40 : 39);
    std::normal_distribution<double> normal(0.0, 100.0);
    std::vector<double> values(length);
    for (double& value : values) {
        const int k = kind(engine);
        if (k == 40) {
            value = std::numeric_limits<double>::quiet_NaN();
        } else if (k < 10) {
            value = specials[k];
        } else if (k < 20) {
            value = std::round(normal(engine) / 25.0);  // many ties
        } else {
            value = normal(engine);
        }
    }
    return values;
}

struct Shape {
    std::size_t min_length;
    std::size_t max_length;
    int rounds;
};

class UnalignedSeries : public ::testing::TestWithParam<Shape> {};

TEST_P(UnalignedSeries, GiveTheBitsOfTheAlignedCopy) {
    const Shape shape = GetParam();
    std::mt19937_64 engine(shape.max_length);
    std::uniform_int_distribution<std::size_t> length(shape.min_length, shape.max_length);
    const SilencedStderr silenced;
    std::size_t refused = 0;
    std::size_t answered = 0;
    for (int round = 0; round < shape.rounds; ++round) {
        const std::vector<double> values = draw(engine, length(engine), round % 3 == 0);
        const Misplaced aligned(values, 0);
        const std::vector<Outcome> expected = everything(aligned.view());
        for (std::size_t offset = 1; offset < 8; ++offset) {
            const Misplaced misplaced(values, offset);
            const std::vector<Outcome> actual = everything(misplaced.view());
            ASSERT_EQ(actual.size(), expected.size());
            for (std::size_t path = 0; path < expected.size(); ++path) {
                ASSERT_EQ(actual[path].values.has_value(), expected[path].values.has_value())
                    << "path " << path << ", offset " << offset << ", length " << values.size();
                ASSERT_EQ(actual[path].bits(), expected[path].bits())
                    << "path " << path << ", offset " << offset << ", length " << values.size();
            }
        }
        (expected[0].values ? answered : refused) += 1;
    }
    // Both the answers and the refusals were compared.
    EXPECT_GT(answered, 0u);
    if (shape.max_length >= 2) {
        EXPECT_GT(refused, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, UnalignedSeries,
    ::testing::Values(Shape{0, 1, 20},        // the empty and single-element series
                      Shape{2, 40, 300},      // scalar tails and the first blocks
                      Shape{41, 1000, 60},    // sorted whole for the median
                      Shape{2048, 9000, 12}), // the median's sampled window
    [](const ::testing::TestParamInfo<Shape>& info) {
        return "Up_to_" + std::to_string(info.param.max_length);
    });

}  // namespace
}  // namespace orven::features::minimal
