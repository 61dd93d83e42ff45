#include "extractor/extract_features.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "fatal/fatal_error.hpp"
#include "features/minimal/feature_values.hpp"
#include "features/minimal/oop/minimal_feature_set.hpp"
#include "pool/thread_pool.hpp"
#include "test_support/process_threads.hpp"

#if defined(__SANITIZE_THREAD__)
#define ORVEN_UNDER_TSAN 1
#else
#define ORVEN_UNDER_TSAN 0
#endif

namespace orven::extractor {
namespace {

using features::minimal::FeatureValues;

// Owns the series that a record list views.
struct Dataset {
    std::vector<std::vector<double>> series;
    std::vector<ColumnMap> records;
};

// Records with varying numbers of columns (some none) and series of varying
// length (some empty).
Dataset make_dataset(std::size_t record_count, unsigned seed) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> value(0.0, 10.0);
    Dataset data;
    std::vector<std::pair<std::size_t, std::string>> layout;
    for (std::size_t r = 0; r < record_count; ++r) {
        const std::size_t columns = random() % 6;
        for (std::size_t c = 0; c < columns; ++c) {
            std::vector<double> s(random() % 40);
            for (double& x : s) {
                x = value(random);
            }
            data.series.push_back(std::move(s));
            // Names out of alphabetical order, to see the caller's order kept.
            layout.emplace_back(r, "col" + std::to_string((c * 7) % 6) + "_" + std::to_string(c));
        }
    }
    data.records.resize(record_count);
    for (std::size_t i = 0; i < layout.size(); ++i) {
        data.records[layout[i].first].push_back(Column{layout[i].second, data.series[i]});
    }
    return data;
}

bool same_bits(const FeatureValues& a, const FeatureValues& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) {
            return false;
        }
    }
    return true;
}

// Every record in place, every column in the caller's order, every value
// the one the feature set gives for that series on its own.
void expect_matches_sequential(const std::vector<ColumnMap>& records, const ResultList& result) {
    const features::minimal::oop::MinimalFeatureSet feature_set{};
    ASSERT_EQ(result.size(), records.size());
    for (std::size_t r = 0; r < records.size(); ++r) {
        ASSERT_EQ(result[r].size(), records[r].size()) << "record " << r;
        for (std::size_t c = 0; c < records[r].size(); ++c) {
            EXPECT_EQ(result[r][c].name, records[r][c].name);
            EXPECT_TRUE(same_bits(result[r][c].values, feature_set.compute(records[r][c].series)))
                << "record " << r << " column " << c;
        }
    }
}

class ExtractFeaturesTest : public ::testing::TestWithParam<std::size_t> {};

// Same input, same output, for any number of workers (the process-wide
// pool is used when the parameter is 0).
TEST_P(ExtractFeaturesTest, ResultsKeepInputOrderForAnyNumberOfWorkers) {
    const std::size_t workers = GetParam();
    for (const std::size_t count : {0u, 1u, 2u, 5u, 300u}) {
        const Dataset data = make_dataset(count, static_cast<unsigned>(count + 11));
        const ResultList result =
            workers == 0 ? extract_features(data.records)
                         : pool::ThreadPool(workers).install(
                               [&] { return extract_features(data.records); });
        expect_matches_sequential(data.records, result);
    }
}

INSTANTIATE_TEST_SUITE_P(Workers, ExtractFeaturesTest, ::testing::Values(0u, 1u, 2u, 4u));

TEST(ExtractFeaturesEdgeTest, EmptyRecordsKeepTheirPlaces) {
    const std::vector<double> x{1.0, 2.0, 4.0};
    const std::vector<ColumnMap> records{{}, {Column{"x", x}}, {}, {}, {Column{"y", x}}};
    const ResultList result = extract_features(records);
    ASSERT_EQ(result.size(), 5u);
    EXPECT_TRUE(result[0].empty());
    ASSERT_EQ(result[1].size(), 1u);
    EXPECT_EQ(result[1][0].name, "x");
    EXPECT_TRUE(result[2].empty());
    EXPECT_TRUE(result[3].empty());
    ASSERT_EQ(result[4].size(), 1u);
    EXPECT_EQ(result[4][0].name, "y");
    EXPECT_EQ(result[4][0].values[9], 7.0);  // sum_values
}

TEST(ExtractFeaturesEdgeTest, EmptySeriesIsComputedLikeAnyOther) {
    const std::vector<ColumnMap> records{{Column{"empty", {}}, Column{"also_empty", {}}}};
    const ResultList result = extract_features(records);
    ASSERT_EQ(result.size(), 1u);
    ASSERT_EQ(result[0].size(), 2u);
    const FeatureValues expected = features::minimal::oop::MinimalFeatureSet{}.compute({});
    EXPECT_TRUE(same_bits(result[0][0].values, expected));
    EXPECT_TRUE(same_bits(result[0][1].values, expected));
    EXPECT_EQ(result[0][0].values[5], 0.0);  // length
}

// A NaN makes the median fail.  The whole call fails with that failure's
// message, and the next call on the same pool works.
TEST(ExtractFeaturesFailureTest, OneFailingColumnFailsTheCallButNotTheNext) {
    for (const std::size_t workers : {1u, 2u}) {
        pool::ThreadPool pool(workers);
        Dataset data = make_dataset(200, 5);
        const std::vector<double> poisoned{1.0, std::numeric_limits<double>::quiet_NaN()};
        data.records[123].push_back(Column{"bad", poisoned});
        try {
            pool.install([&] { return extract_features(data.records); });
            ADD_FAILURE() << "the failure was lost";
        } catch (const fatal::FatalError& error) {
            EXPECT_EQ(error.message(), "called `Option::unwrap()` on a `None` value");
        }
        data.records[123].pop_back();
        expect_matches_sequential(data.records,
                                  pool.install([&] { return extract_features(data.records); }));
    }
}

// The first call of a process creates the pool, even with nothing to do.
TEST(ExtractFeaturesEdgeTest, EmptyListStillCreatesThePool) {
    if (ORVEN_UNDER_TSAN) {
        GTEST_SKIP() << "ThreadSanitizer does not support threads started after fork()";
    }
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ::alarm(60);
        const std::size_t before = test_support::thread_ids().size();
        const ResultList result = extract_features({});
        const std::size_t after = test_support::thread_ids().size();
        ::_exit(result.empty() && before == 1 && after > 1 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace orven::extractor
