#pragma once

// How many workers the process-wide pool gets: the settings in the
// environment, and the CPUs this process may run on (its affinity mask,
// limited by a Linux control group's CPU quota).  The parsing is split
// into pure functions over text so that it can be checked without a
// particular machine's environment or cgroup layout.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orven::pool {

// The most workers a pool will have, whatever the settings ask for.
inline constexpr std::size_t max_worker_count = 65535;

// The two settings that steer the number of workers, as found in the
// environment (nullopt where a variable is not set).
struct WorkerCountSettings {
    std::optional<std::string_view> num_threads;  // RAYON_NUM_THREADS
    std::optional<std::string_view> num_cpus;     // RAYON_RS_NUM_CPUS
};

// An unsigned decimal integer: an optional leading '+', then at least one
// digit and nothing else (no sign, space or letter), fitting in 64 bits.
// Anything else gives nullopt, and the setting counts as unset.
std::optional<std::uint64_t> parse_count_setting(std::string_view text);

// The number of workers for the given settings, where `available_cpus` is
// what the process may run on (at least 1).  Pure: the caller reads the
// environment and the CPU count.
std::size_t settle_worker_count(const WorkerCountSettings& settings,
                                std::size_t available_cpus);

// Reads both variables from the process environment.
WorkerCountSettings read_worker_count_settings();

// The CPUs this process may run on: those of its affinity mask (the online
// CPUs where the mask cannot be read), limited by its control groups' CPU
// quota; 1 where nothing can be determined.
std::size_t available_cpus();

// ------------------------------------------------- control group quota

// Whole CPUs allowed by a cgroup v2 "cpu.max" file ("max 100000" means no
// limit; "150000 100000" allows 1).  A limit below one CPU still allows one.
std::optional<std::size_t> cpus_from_cpu_max(std::string_view contents);

// The same for cgroup v1's "cpu.cfs_quota_us" and "cpu.cfs_period_us"
// (a quota of -1 means no limit).
std::optional<std::size_t> cpus_from_cfs(std::string_view quota, std::string_view period);

// Where this process sits in the hierarchies, from "/proc/self/cgroup".
struct CgroupMembership {
    std::optional<std::string> unified;     // the cgroup v2 path ("0::<path>")
    std::optional<std::string> cpu_legacy;  // the path in the v1 "cpu" hierarchy
};
CgroupMembership parse_cgroup_membership(std::string_view proc_self_cgroup);

// A mounted hierarchy, from "/proc/self/mountinfo": the hierarchy path that
// is mounted and where.
struct CgroupMount {
    std::string root;
    std::string mount_point;
};
// `unified` picks the cgroup2 mount; otherwise the v1 mount carrying the
// "cpu" controller.
std::optional<CgroupMount> find_cgroup_mount(std::string_view mountinfo, bool unified);

// The directory of `cgroup_path` under `mount`, or nullopt when the path
// lies outside what is mounted there.
std::optional<std::string> cgroup_directory(const CgroupMount& mount,
                                            std::string_view cgroup_path);

// The CPU limit of this process's control groups (v2 and its ancestors,
// and v1), or nullopt where none is set or none can be read.
std::optional<std::size_t> cgroup_cpu_limit();

}  // namespace orven::pool
