#include "pool/worker_count.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace orven::pool {

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

}  // namespace orven::pool
