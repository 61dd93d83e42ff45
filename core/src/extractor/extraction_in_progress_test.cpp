#include "extractor/extraction_in_progress.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "extractor/extract_features.hpp"
#include "fatal/fatal_error.hpp"

namespace orven::extractor {
namespace {

using features::common::SeriesView;
using features::minimal::FeatureValues;

struct Series {
    std::vector<std::vector<double>> data;
    std::vector<SeriesView> views;
};

Series make_series(std::size_t count, unsigned seed) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> value(0.0, 10.0);
    Series series;
    series.data.resize(count);
    for (auto& s : series.data) {
        s.resize(random() % 30);
        for (double& x : s) {
            x = value(random);
        }
    }
    series.views.assign(series.data.begin(), series.data.end());
    return series;
}

bool same_bits(const FeatureValues& a, const FeatureValues& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) {
            return false;
        }
    }
    return true;
}

// Values read as soon as they are said to be ready are the final ones (a
// value read too early is also a race that ThreadSanitizer reports).
TEST(ExtractionInProgressTest, ValuesReadyInOrderAreTheDriversValues) {
    constexpr std::size_t block = ExtractionInProgress::block_size;
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, block - 1, block, block + 1,
                                    std::size_t{20 * block + 17}}) {
        const Series series = make_series(count, static_cast<unsigned>(count + 3));
        std::vector<FeatureValues> expected(count);
        extract_features_into(series.views, expected);

        std::vector<FeatureValues> values(count);
        ExtractionInProgress extraction(series.views, values);
        // Uneven steps, as records of several columns give.
        std::size_t ready = 0;
        for (std::size_t step = 1; ready < count; step = step % 7 + 1) {
            const std::size_t next = std::min(count, ready + step);
            ASSERT_TRUE(extraction.wait_for(next)) << "count " << count;
            for (; ready < next; ++ready) {
                ASSERT_TRUE(same_bits(values[ready], expected[ready])) << "series " << ready;
            }
        }
        EXPECT_TRUE(extraction.wait_for(count));
        EXPECT_TRUE(extraction.wait_for(0));
        extraction.finish();
    }
}

// A failing series: the values after it are never all ready, the reader is
// told so instead of waiting for ever, and finish() raises the failure.
TEST(ExtractionInProgressTest, AFailureEndsTheWaitAndIsRaisedByFinish) {
    Series series = make_series(40 * ExtractionInProgress::block_size, 9);
    const std::vector<double> poisoned{1.0, std::numeric_limits<double>::quiet_NaN()};
    series.views[series.views.size() / 2] = poisoned;
    std::vector<FeatureValues> values(series.views.size());
    ExtractionInProgress extraction(series.views, values);
    EXPECT_FALSE(extraction.wait_for(series.views.size()));
    try {
        extraction.finish();
        ADD_FAILURE() << "the failure was lost";
    } catch (const fatal::FatalError& error) {
        EXPECT_EQ(error.message(), "called `Option::unwrap()` on a `None` value");
    }
}

// Leaving without finish() (as an error on the reader's side does) waits
// for the workers, whatever became of the work.
TEST(ExtractionInProgressTest, LeavingEarlyWaitsForTheWorkers) {
    Series series = make_series(30 * ExtractionInProgress::block_size, 5);
    for (const bool poison : {false, true}) {
        const std::vector<double> poisoned{std::numeric_limits<double>::quiet_NaN(), 2.0};
        if (poison) {
            series.views.back() = poisoned;
        }
        auto values = std::make_unique<std::vector<FeatureValues>>(series.views.size());
        {
            ExtractionInProgress extraction(series.views, *values);
            EXPECT_TRUE(extraction.wait_for(1));
        }
        // The workers are done with `values`: it may go now.
        values.reset();
    }
    // And the pool takes the next call as usual.
    const Series next = make_series(3, 1);
    std::vector<FeatureValues> values(3);
    ExtractionInProgress extraction(next.views, values);
    extraction.finish();
    EXPECT_TRUE(extraction.wait_for(3));
}

}  // namespace
}  // namespace orven::extractor
