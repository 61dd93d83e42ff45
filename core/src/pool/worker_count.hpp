#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

}  // namespace orven::pool
