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

TEST(CgroupQuotaTest, CpuMaxGivesWholeCpusAndAtLeastOne) {
    EXPECT_EQ(cpus_from_cpu_max("max 100000\n"), std::nullopt);
    EXPECT_EQ(cpus_from_cpu_max("200000 100000\n"), 2u);
    EXPECT_EQ(cpus_from_cpu_max("150000 100000"), 1u);
    EXPECT_EQ(cpus_from_cpu_max("350000 100000"), 3u);
    EXPECT_EQ(cpus_from_cpu_max("50000 100000"), 1u);
    EXPECT_EQ(cpus_from_cpu_max("300000"), 3u);  // period left at its default
    EXPECT_EQ(cpus_from_cpu_max("100000 0"), std::nullopt);
    EXPECT_EQ(cpus_from_cpu_max(""), std::nullopt);
    EXPECT_EQ(cpus_from_cpu_max("lots 100000"), std::nullopt);
}

TEST(CgroupQuotaTest, CfsQuotaOfMinusOneIsNoLimit) {
    EXPECT_EQ(cpus_from_cfs("-1\n", "100000\n"), std::nullopt);
    EXPECT_EQ(cpus_from_cfs("400000\n", "100000\n"), 4u);
    EXPECT_EQ(cpus_from_cfs("20000", "100000"), 1u);
    EXPECT_EQ(cpus_from_cfs("20000", "0"), std::nullopt);
    EXPECT_EQ(cpus_from_cfs("", "100000"), std::nullopt);
}

TEST(CgroupQuotaTest, MembershipFindsUnifiedAndCpuHierarchies) {
    const auto hybrid = parse_cgroup_membership(
        "12:pids:/user.slice\n"
        "4:cpu,cpuacct:/docker/abc\n"
        "3:cpuset:/docker/abc\n"
        "0::/docker/abc\n");
    EXPECT_EQ(hybrid.unified, "/docker/abc");
    EXPECT_EQ(hybrid.cpu_legacy, "/docker/abc");

    const auto unified_only = parse_cgroup_membership("0::/a:b/c\n");
    EXPECT_EQ(unified_only.unified, "/a:b/c");
    EXPECT_EQ(unified_only.cpu_legacy, std::nullopt);

    // "cpuacct" and "cpuset" are not the cpu controller.
    const auto no_cpu = parse_cgroup_membership("3:cpuset:/x\n2:cpuacct:/y\n");
    EXPECT_EQ(no_cpu.cpu_legacy, std::nullopt);
    EXPECT_EQ(no_cpu.unified, std::nullopt);
}

TEST(CgroupQuotaTest, MountinfoPicksTheRightHierarchy) {
    const std::string_view mountinfo =
        "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
        "33 31 0:30 / /sys/fs/cgroup/cpuacct rw,relatime - cgroup cgroup rw,cpuacct\n"
        "32 31 0:29 /docker /sys/fs/cgroup/cpu\\040x rw,relatime shared:5 - cgroup cgroup "
        "rw,cpu,cpuacct\n"
        "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";
    const auto legacy = find_cgroup_mount(mountinfo, false);
    ASSERT_TRUE(legacy);
    EXPECT_EQ(legacy->root, "/docker");
    EXPECT_EQ(legacy->mount_point, "/sys/fs/cgroup/cpu x");

    const auto unified = find_cgroup_mount(mountinfo, true);
    ASSERT_TRUE(unified);
    EXPECT_EQ(unified->root, "/");
    EXPECT_EQ(unified->mount_point, "/sys/fs/cgroup/unified");

    EXPECT_EQ(find_cgroup_mount("1 0 0:1 / / rw - ext4 /dev/sda rw\n", true), std::nullopt);
}

TEST(CgroupQuotaTest, DirectoryIsThePathBelowTheMountedRoot) {
    const CgroupMount whole{"/", "/sys/fs/cgroup"};
    EXPECT_EQ(cgroup_directory(whole, "/"), "/sys/fs/cgroup");
    EXPECT_EQ(cgroup_directory(whole, "/a/b"), "/sys/fs/cgroup/a/b");

    const CgroupMount nested{"/docker/abc", "/sys/fs/cgroup/"};
    EXPECT_EQ(cgroup_directory(nested, "/docker/abc"), "/sys/fs/cgroup");
    EXPECT_EQ(cgroup_directory(nested, "/docker/abc/inner"), "/sys/fs/cgroup/inner");
    EXPECT_EQ(cgroup_directory(nested, "/docker/abcd"), std::nullopt);
    EXPECT_EQ(cgroup_directory(nested, "/other"), std::nullopt);
}

}  // namespace
}  // namespace orven::pool
