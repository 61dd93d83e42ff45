#include "features/rolling/time_windows.hpp"

#include <string>

#include "fatal/fatal_error.hpp"
#include "features/rolling/time_rules.hpp"

namespace orven::features::rolling {
namespace {

template <class Time>
void check_shape(const TimeWindowShape<Time>& shape) {
    using Rules = TimeRules<Time>;
    if (!(shape.span > 0) || !Rules::finite(shape.span) ||
        (shape.every && (!(*shape.every > 0) || !Rules::finite(*shape.every)))) {
        fatal::raise("time windows need a finite span and every above zero");
    }
}

// One pass over the times before any window is formed: the walks below
// rely on their order.
template <class Time>
void check_times(std::span<const Time> times) {
    for (std::size_t i = 0; i < times.size(); ++i) {
        if (!TimeRules<Time>::finite(times[i])) {
            throw WindowError("the time of reading " + std::to_string(i) + " is not finite");
        }
        if (i > 0 && times[i] < times[i - 1]) {
            throw WindowError("the times are not in order at reading " + std::to_string(i));
        }
    }
}

// A window ends at every distinct time: `emit(window, end)` for each, in
// order.  Two pointers, each moving forward only.
template <class Time, class Emit>
void walk_distinct_times(std::span<const Time> times, Time span, Emit emit) {
    const std::size_t n = times.size();
    std::size_t begin = 0;
    for (std::size_t end = 0; end < n;) {
        const Time t = times[end];
        while (end < n && times[end] == t) ++end;
        while (begin < end && !TimeRules<Time>::after_start(times[begin], t, span)) ++begin;
        emit(Window{begin, end}, t);
    }
}

// A window ends at every multiple of `every` from the first at or after the
// first time to the first at or after the last.  With `skip_empty`, a run
// of empty windows is jumped over: past an empty window every reading so
// far lies at or before its start, so no window before the next reading's
// time holds anything.
template <class Time, class Emit>
void walk_multiples(std::span<const Time> times, Time span, Time every, bool skip_empty, Emit emit) {
    using Rules = TimeRules<Time>;
    const std::size_t n = times.size();
    if (n == 0) return;
    const std::int64_t last = Rules::first_multiple(times[n - 1], every);
    Rules::multiple(last, every);  // raises if the last end is out of range
    std::size_t begin = 0;
    std::size_t end = 0;
    for (std::int64_t k = Rules::first_multiple(times[0], every); k <= last;) {
        const Time at = Rules::multiple(k, every);
        while (end < n && times[end] <= at) ++end;
        while (begin < end && !Rules::after_start(times[begin], at, span)) ++begin;
        emit(Window{begin, end}, at);
        if (skip_empty && begin == end) {
            if (end == n) return;
            const std::int64_t next = Rules::first_multiple(times[end], every);
            k = next > k ? next : k + 1;
        } else {
            ++k;
        }
    }
}

template <class Time, class Emit>
void walk(std::span<const Time> times, const TimeWindowShape<Time>& shape, Emit emit) {
    check_shape(shape);
    check_times(times);
    const auto kept = [&](Window window, Time end) {
        if (window.size() >= shape.min_length) emit(window, end);
    };
    if (shape.every) {
        walk_multiples(times, shape.span, *shape.every, shape.min_length > 0, kept);
    } else {
        walk_distinct_times(times, shape.span, kept);
    }
}

}  // namespace

template <class Time>
std::size_t time_window_total(std::span<const Time> times, TimeWindowShape<Time> shape) {
    std::size_t total = 0;
    walk(times, shape, [&](Window, Time) { ++total; });
    return total;
}

template <class Time>
void time_windows(std::span<const Time> times, TimeWindowShape<Time> shape, std::span<Window> out,
                  std::span<Time> end_times) {
    std::size_t written = 0;
    walk(times, shape, [&](Window window, Time end) {
        if (written < out.size() && written < end_times.size()) {
            out[written] = window;
            end_times[written] = end;
        }
        ++written;
    });
    if (written != out.size() || written != end_times.size()) {
        fatal::raise("time_windows: room for " + std::to_string(out.size()) + " windows and " +
                     std::to_string(end_times.size()) + " end times, not " + std::to_string(written));
    }
}

template std::size_t time_window_total(std::span<const std::int64_t>, TimeWindowShape<std::int64_t>);
template std::size_t time_window_total(std::span<const double>, TimeWindowShape<double>);
template void time_windows(std::span<const std::int64_t>, TimeWindowShape<std::int64_t>,
                           std::span<Window>, std::span<std::int64_t>);
template void time_windows(std::span<const double>, TimeWindowShape<double>, std::span<Window>,
                           std::span<double>);

}  // namespace orven::features::rolling
