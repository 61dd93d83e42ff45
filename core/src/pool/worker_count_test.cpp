#include "pool/worker_count.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace orven::pool {
namespace {

using Text = std::optional<std::string_view>;

struct ParseCase {
    std::string_view text;
    std::optional<std::uint64_t> expected;
};

class ParseCountSettingTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCountSettingTest, AcceptsOnlyPlainUnsignedDecimals) {
    EXPECT_EQ(parse_count_setting(GetParam().text), GetParam().expected)
        << "text: \"" << GetParam().text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseCountSettingTest,
    ::testing::Values(ParseCase{"4", 4}, ParseCase{"+4", 4}, ParseCase{"0", 0},
                      ParseCase{"+0", 0}, ParseCase{"007", 7},
                      ParseCase{"18446744073709551615", 18446744073709551615ull},
                      ParseCase{"18446744073709551616", std::nullopt},
                      ParseCase{"99999999999999999999", std::nullopt},
                      ParseCase{"", std::nullopt}, ParseCase{"+", std::nullopt},
                      ParseCase{"-4", std::nullopt}, ParseCase{"-0", std::nullopt},
                      ParseCase{"++4", std::nullopt}, ParseCase{" 4", std::nullopt},
                      ParseCase{"4 ", std::nullopt}, ParseCase{"4\n", std::nullopt},
                      ParseCase{"four", std::nullopt}, ParseCase{"4x", std::nullopt},
                      ParseCase{"0x10", std::nullopt}, ParseCase{"1e3", std::nullopt},
                      ParseCase{"4.0", std::nullopt}));

struct SettleCase {
    Text num_threads;
    Text num_cpus;
    std::size_t available;
    std::size_t expected;
};

class SettleWorkerCountTest : public ::testing::TestWithParam<SettleCase> {};

TEST_P(SettleWorkerCountTest, FollowsThePrecedenceOfTheSettings) {
    const SettleCase& c = GetParam();
    EXPECT_EQ(settle_worker_count(WorkerCountSettings{c.num_threads, c.num_cpus}, c.available),
              c.expected)
        << "RAYON_NUM_THREADS=" << c.num_threads.value_or("<unset>")
        << " RAYON_RS_NUM_CPUS=" << c.num_cpus.value_or("<unset>")
        << " available=" << c.available;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettleWorkerCountTest,
    ::testing::Values(
        // Nothing set: the available CPUs, never fewer than one.
        SettleCase{{}, {}, 6, 6}, SettleCase{{}, {}, 0, 1},
        // RAYON_NUM_THREADS wins over everything.
        SettleCase{"4", {}, 2, 4}, SettleCase{"+4", {}, 2, 4}, SettleCase{"4", "3", 2, 4},
        SettleCase{"1", "8", 2, 1},
        // 0 means the available CPUs and does not consult RAYON_RS_NUM_CPUS.
        SettleCase{"0", {}, 6, 6}, SettleCase{"0", "3", 6, 6}, SettleCase{"+0", "3", 6, 6},
        // A malformed value counts as unset: RAYON_RS_NUM_CPUS decides.
        SettleCase{"-4", "3", 6, 3}, SettleCase{"four", "3", 6, 3}, SettleCase{" 4", "3", 6, 3},
        SettleCase{"", "3", 6, 3}, SettleCase{"18446744073709551616", "3", 6, 3},
        SettleCase{"-4", {}, 6, 6},
        // RAYON_RS_NUM_CPUS must be at least 1.
        SettleCase{{}, "3", 6, 3}, SettleCase{{}, "+3", 6, 3}, SettleCase{{}, "0", 6, 6},
        SettleCase{{}, "-3", 6, 6}, SettleCase{{}, "3 ", 6, 6},
        // Capped at 2^16 - 1, wherever the number came from.
        SettleCase{"65535", {}, 2, 65535}, SettleCase{"65536", {}, 2, 65535},
        SettleCase{"18446744073709551615", {}, 2, 65535}, SettleCase{{}, "100000", 2, 65535},
        SettleCase{"0", {}, 70000, 65535}, SettleCase{{}, {}, 70000, 65535}));

}  // namespace
}  // namespace orven::pool
