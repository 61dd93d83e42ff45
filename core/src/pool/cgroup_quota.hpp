#pragma once

// The CPU limit that a Linux control group puts on this process.  The
// parsing is split into pure functions over file contents so that it can be
// checked without a particular machine's cgroup layout.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orven::pool {

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
