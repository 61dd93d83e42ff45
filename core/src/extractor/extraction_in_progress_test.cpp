#include "extractor/extraction_in_progress.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "fatal/fatal_error.hpp"
#include "literal_reference/minimal_feature_set.hpp"
#include "test_support/process_threads.hpp"

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

// The statistic-by-statistic reference, one series after the other.
FeatureValues reference(SeriesView series) {
    const auto records = features::minimal::oop::MinimalFeatureSet{}.apply(series);
    FeatureValues values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = records.at(i).value;
    }
    return values;
}

bool same_bits(const FeatureValues& a, const FeatureValues& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) {
            return false;
        }
    }
    return true;
}

// Values read as soon as they are said to be ready are the reference's,
// bit for bit (a value read too early is also a race that ThreadSanitizer
// reports).
TEST(ExtractionInProgressTest, ValuesReadyInOrderAreTheReferenceValues) {
    constexpr std::size_t block = ExtractionInProgress::block_size;
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, block - 1, block, block + 1,
                                    std::size_t{20 * block + 17}}) {
        const Series series = make_series(count, static_cast<unsigned>(count + 3));
        std::vector<FeatureValues> expected;
        for (const SeriesView view : series.views) {
            expected.push_back(reference(view));
        }

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

// The first extraction of a process creates the pool, even with nothing
// to do.
TEST(ExtractionInProgressTest, NoSeriesStillCreatesThePool) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer does not support threads started after fork()";
#endif
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ::alarm(60);
        const std::size_t before = test_support::thread_ids().size();
        ExtractionInProgress extraction({}, {});
        extraction.finish();
        const std::size_t after = test_support::thread_ids().size();
        ::_exit(before == 1 && after > 1 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace orven::extractor
