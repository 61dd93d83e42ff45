#include "pool/worker_count.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <vector>

#include "pool/platform.hpp"

namespace orven::pool {

// ------------------------------------------------------------- settings

std::optional<std::uint64_t> parse_count_setting(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    constexpr std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (limit - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::size_t settle_worker_count(const WorkerCountSettings& settings,
                                std::size_t available_cpus) {
    const auto capped = [](std::uint64_t n) {
        return static_cast<std::size_t>(std::min<std::uint64_t>(n, max_worker_count));
    };
    const std::size_t cpus = capped(std::max<std::size_t>(available_cpus, 1));

    if (settings.num_threads) {
        if (const auto n = parse_count_setting(*settings.num_threads)) {
            // 0 asks for one worker per CPU and overrides the other variable.
            return *n == 0 ? cpus : capped(*n);
        }
    }
    if (settings.num_cpus) {
        if (const auto n = parse_count_setting(*settings.num_cpus); n && *n >= 1) {
            return capped(*n);
        }
    }
    return cpus;
}

// The variables are those that size the pool other native extension modules
// run their work on (Rayon's): one setting then sizes every such pool of a
// process, so that whoever limits the threads of one (several worker
// processes on one machine, say) limits all of them.
WorkerCountSettings read_worker_count_settings() {
    const auto lookup = [](const char* name) -> std::optional<std::string_view> {
        const char* value = std::getenv(name);
        if (value == nullptr) {
            return std::nullopt;
        }
        return std::string_view(value);
    };
    return WorkerCountSettings{lookup("RAYON_NUM_THREADS"), lookup("RAYON_RS_NUM_CPUS")};
}

// ------------------------------------------------- control group quota

namespace {

std::string_view trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

template <class Int>
std::optional<Int> parse_int(std::string_view text) {
    text = trim(text);
    Int value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::size_t> whole_cpus(std::uint64_t quota, std::uint64_t period) {
    if (period == 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(std::max<std::uint64_t>(quota / period, 1));
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (true) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

// The pieces of `text` between separators, empty ones left out.
std::vector<std::string_view> non_empty_parts(std::string_view text, char separator) {
    std::vector<std::string_view> result;
    for (const auto part : split(text, separator)) {
        if (!part.empty()) {
            result.push_back(part);
        }
    }
    return result;
}

std::vector<std::string_view> lines(std::string_view text) { return non_empty_parts(text, '\n'); }

std::vector<std::string_view> words(std::string_view text) { return non_empty_parts(text, ' '); }

// mountinfo writes space, tab, newline and backslash in paths as \ooo.
std::string unescape_mount_path(std::string_view text) {
    std::string path;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const auto octal = text.substr(i + 1, 3);
            unsigned code = 0;
            const auto [end, error] =
                std::from_chars(octal.data(), octal.data() + octal.size(), code, 8);
            if (error == std::errc{} && end == octal.data() + octal.size() && code < 256) {
                path += static_cast<char>(code);
                i += 3;
                continue;
            }
        }
        path += text[i];
    }
    return path;
}

std::optional<std::size_t> lower(std::optional<std::size_t> a, std::optional<std::size_t> b) {
    if (a && b) {
        return std::min(*a, *b);
    }
    return a ? a : b;
}

// A v2 limit applies to the whole subtree, so every ancestor up to the
// mount point counts.
std::optional<std::size_t> unified_limit(const CgroupMount& mount, std::string_view path) {
    const auto directory = cgroup_directory(mount, path);
    if (!directory) {
        return std::nullopt;
    }
    std::string top = mount.mount_point;
    while (!top.empty() && top.back() == '/') {
        top.pop_back();
    }
    std::optional<std::size_t> limit;
    std::string dir = *directory;
    while (true) {
        if (const auto contents = platform::read_control_file(dir + "/cpu.max")) {
            limit = lower(limit, cpus_from_cpu_max(*contents));
        }
        const auto slash = dir.rfind('/');
        if (dir.size() <= top.size() || slash == std::string::npos || slash < top.size()) {
            return limit;
        }
        dir.erase(slash);
    }
}

std::optional<std::size_t> legacy_limit(const CgroupMount& mount, std::string_view path) {
    const auto directory = cgroup_directory(mount, path);
    if (!directory) {
        return std::nullopt;
    }
    const auto quota = platform::read_control_file(*directory + "/cpu.cfs_quota_us");
    const auto period = platform::read_control_file(*directory + "/cpu.cfs_period_us");
    if (!quota || !period) {
        return std::nullopt;
    }
    return cpus_from_cfs(*quota, *period);
}

}  // namespace

std::optional<std::size_t> cpus_from_cpu_max(std::string_view contents) {
    const auto fields = words(trim(contents));
    if (fields.empty() || fields.size() > 2 || fields[0] == "max") {
        return std::nullopt;
    }
    const auto quota = parse_int<std::uint64_t>(fields[0]);
    // The period may be left out; the kernel's default is 100000 us.
    const auto period =
        fields.size() == 2 ? parse_int<std::uint64_t>(fields[1]) : std::optional<std::uint64_t>(100000);
    if (!quota || !period) {
        return std::nullopt;
    }
    return whole_cpus(*quota, *period);
}

std::optional<std::size_t> cpus_from_cfs(std::string_view quota, std::string_view period) {
    const auto q = parse_int<std::int64_t>(quota);
    const auto p = parse_int<std::int64_t>(period);
    if (!q || !p || *q <= 0 || *p <= 0) {
        return std::nullopt;
    }
    return whole_cpus(static_cast<std::uint64_t>(*q), static_cast<std::uint64_t>(*p));
}

CgroupMembership parse_cgroup_membership(std::string_view proc_self_cgroup) {
    CgroupMembership membership;
    for (const auto line : lines(proc_self_cgroup)) {
        // hierarchy-id:controller-list:path (the path may itself hold ':').
        const auto first = line.find(':');
        const auto second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            continue;
        }
        const auto id = line.substr(0, first);
        const auto controllers = line.substr(first + 1, second - first - 1);
        const std::string path(line.substr(second + 1));
        if (id == "0" && controllers.empty()) {
            membership.unified = path;
            continue;
        }
        for (const auto controller : split(controllers, ',')) {
            if (controller == "cpu") {
                membership.cpu_legacy = path;
            }
        }
    }
    return membership;
}

std::optional<CgroupMount> find_cgroup_mount(std::string_view mountinfo, bool unified) {
    for (const auto line : lines(mountinfo)) {
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const auto fields = words(line);
        const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
        if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 2) {
            continue;
        }
        const std::string_view type = dash[1];
        bool wanted = false;
        if (unified) {
            wanted = type == "cgroup2";
        } else if (type == "cgroup" && fields.end() - dash >= 4) {
            for (const auto option : split(dash[3], ',')) {
                wanted = wanted || option == "cpu";
            }
        }
        if (wanted) {
            return CgroupMount{unescape_mount_path(fields[3]), unescape_mount_path(fields[4])};
        }
    }
    return std::nullopt;
}

std::optional<std::string> cgroup_directory(const CgroupMount& mount,
                                            std::string_view cgroup_path) {
    std::string_view relative = cgroup_path;
    if (mount.root != "/") {
        if (!relative.starts_with(mount.root)) {
            return std::nullopt;
        }
        relative.remove_prefix(mount.root.size());
        if (!relative.empty() && relative.front() != '/') {
            return std::nullopt;  // a sibling whose name merely starts alike
        }
    }
    std::string directory = mount.mount_point;
    while (!directory.empty() && directory.back() == '/') {
        directory.pop_back();
    }
    while (!relative.empty() && relative.back() == '/') {
        relative.remove_suffix(1);
    }
    directory += relative;
    return directory.empty() ? std::string("/") : directory;
}

std::optional<std::size_t> cgroup_cpu_limit() {
    const auto membership_text = platform::read_control_file("/proc/self/cgroup");
    const auto mountinfo = platform::read_control_file("/proc/self/mountinfo");
    if (!membership_text || !mountinfo) {
        return std::nullopt;
    }
    const CgroupMembership membership = parse_cgroup_membership(*membership_text);
    std::optional<std::size_t> limit;
    if (membership.unified) {
        if (const auto mount = find_cgroup_mount(*mountinfo, true)) {
            limit = lower(limit, unified_limit(*mount, *membership.unified));
        }
    }
    if (membership.cpu_legacy) {
        if (const auto mount = find_cgroup_mount(*mountinfo, false)) {
            limit = lower(limit, legacy_limit(*mount, *membership.cpu_legacy));
        }
    }
    return limit;
}

// ------------------------------------------------------ available CPUs

std::size_t available_cpus() {
    std::optional<std::size_t> cpus = platform::affinity_cpus();
    if (!cpus) {
        cpus = platform::online_cpus();
    }
    if (!cpus) {
        return 1;
    }
    if (const auto limit = cgroup_cpu_limit()) {
        return std::max<std::size_t>(std::min(*cpus, *limit), 1);
    }
    return *cpus;
}

}  // namespace orven::pool
