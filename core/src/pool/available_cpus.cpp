#include "pool/available_cpus.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

#include "pool/cgroup_quota.hpp"

namespace orven::pool {
namespace {

struct CpuSetDeleter {
    void operator()(cpu_set_t* set) const noexcept { CPU_FREE(set); }
};

// The affinity mask may be wider than the default cpu_set_t on very large
// machines: grow the set until the kernel accepts it.
std::optional<std::size_t> affinity_cpus() {
    for (int cpus = 1024; cpus <= (1 << 22); cpus *= 2) {
        std::unique_ptr<cpu_set_t, CpuSetDeleter> set(CPU_ALLOC(cpus));
        if (!set) {
            return std::nullopt;
        }
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set.get());
        if (::sched_getaffinity(0, size, set.get()) == 0) {
            const int count = CPU_COUNT_S(size, set.get());
            return count > 0 ? std::optional<std::size_t>(count) : std::nullopt;
        }
        if (errno != EINVAL) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> online_cpus() {
    const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? std::optional<std::size_t>(static_cast<std::size_t>(count)) : std::nullopt;
}

}  // namespace

std::size_t available_cpus() {
    std::optional<std::size_t> cpus = affinity_cpus();
    if (!cpus) {
        cpus = online_cpus();
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
