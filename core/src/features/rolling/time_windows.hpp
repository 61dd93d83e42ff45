#pragma once

// Windows measured in time.  Each series is in time order (equal times in
// frame order).  Without `every`, a window ends at each distinct time t of
// the series and holds the readings with t - span < time <= t; with it, the
// windows end at the multiples of `every` from the first at or after the
// series' first time to the first at or after its last, each holding the
// readings with end - span < time <= end (so some may hold nothing).
// Windows of fewer than `min_length` readings are left out.  time_rules.hpp
// says how each comparison is made for int64 and for float64 times.
//
// Listing costs one pass over the times plus one step per window visited:
// with `every`, runs of empty windows are jumped over, so with min_length
// >= 1 the cost is O(n + windows with a reading), at worst about
// n * span / every.  The number of windows comes from the same walk
// (time_window_total), so that a caller can allocate its result once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "features/rolling/window.hpp"

namespace orven::features::rolling {

template <class Time>
struct TimeWindowShape {
    Time span;                   // > 0 (finite for float64)
    std::optional<Time> every;   // > 0 (finite for float64) when given
    std::size_t min_length;      // windows holding fewer readings are left out
};

// The number of windows of a series with these times.  Raises WindowError
// for times out of order or not finite, or for a window end out of range.
template <class Time>
std::size_t time_window_total(std::span<const Time> times, TimeWindowShape<Time> shape);

// Writes them and their end times to `out` and `end_times`, which have
// room for time_window_total of them.
template <class Time>
void time_windows(std::span<const Time> times, TimeWindowShape<Time> shape, std::span<Window> out,
                  std::span<Time> end_times);

extern template std::size_t time_window_total(std::span<const std::int64_t>,
                                              TimeWindowShape<std::int64_t>);
extern template std::size_t time_window_total(std::span<const double>, TimeWindowShape<double>);
extern template void time_windows(std::span<const std::int64_t>, TimeWindowShape<std::int64_t>,
                                  std::span<Window>, std::span<std::int64_t>);
extern template void time_windows(std::span<const double>, TimeWindowShape<double>,
                                  std::span<Window>, std::span<double>);

}  // namespace orven::features::rolling
