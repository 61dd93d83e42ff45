#pragma once

// What a time window needs of its time type, exactly: whether a reading
// lies after a window's start, and where the multiples of `every` fall.
//
// int64 times (integers, or datetimes in their unit) are compared without
// ever forming end - span, which may lie below the type's range: for a
// reading at or before the end, time > end - span is end - time < span, and
// that difference of two int64 values is exact in uint64.  Multiples of
// `every` are k * every for integer k (for datetimes: since the epoch),
// negative k included; one the type cannot hold is a WindowError.
//
// float64 times compare as the definition reads: the window's start is
// end - span computed in floating point, rounded to nearest, and a reading
// belongs when time > that start.  So a span below half an ulp of the end
// makes the start equal to the end, and the window then holds nothing (not
// even the reading at its end).  Multiples of `every` are double(k) * every,
// rounded, for integer k; |k| is kept at most 2^53, where every k is a
// distinct double, and an end that is not finite is a WindowError.

#include <cmath>
#include <cstdint>
#include <string>

#include "features/rolling/window.hpp"

namespace orven::features::rolling {

template <class Time>
struct TimeRules;

template <>
struct TimeRules<std::int64_t> {
    static bool finite(std::int64_t) { return true; }

    // For time <= end.
    static bool after_start(std::int64_t time, std::int64_t end, std::int64_t span) {
        return static_cast<std::uint64_t>(end) - static_cast<std::uint64_t>(time) <
               static_cast<std::uint64_t>(span);
    }

    // The least k with k * every >= time (ceiling division; the quotient
    // of an int64 by a positive divisor never overflows).
    static std::int64_t first_multiple(std::int64_t time, std::int64_t every) {
        const std::int64_t quotient = time / every;
        return quotient + (time % every > 0 ? 1 : 0);
    }

    static std::int64_t multiple(std::int64_t k, std::int64_t every) {
        std::int64_t end = 0;
        if (__builtin_mul_overflow(k, every, &end)) {
            throw WindowError("a window end " + std::to_string(k) + " * " + std::to_string(every) +
                              " lies beyond the range of int64 times");
        }
        return end;
    }
};

template <>
struct TimeRules<double> {
    static constexpr double largest_index = 9007199254740992.0;  // 2^53

    static bool finite(double time) { return std::isfinite(time); }

    static bool after_start(double time, double end, double span) { return time > end - span; }

    static std::int64_t first_multiple(double time, double every) {
        const double estimate = std::ceil(time / every);
        if (!(std::fabs(estimate) <= largest_index)) {
            throw WindowError("a window end near " + std::to_string(time) + " is more than 2^53 times every = " +
                              std::to_string(every));
        }
        // The estimate came from a rounded quotient: settle the least k
        // whose rounded product reaches the time.
        std::int64_t k = static_cast<std::int64_t>(estimate);
        while (static_cast<double>(k - 1) * every >= time) --k;
        while (static_cast<double>(k) * every < time) ++k;
        return k;
    }

    static double multiple(std::int64_t k, double every) {
        const double end = static_cast<double>(k) * every;
        if (!std::isfinite(end) || std::fabs(static_cast<double>(k)) > largest_index) {
            throw WindowError("a window end " + std::to_string(k) + " * " + std::to_string(every) +
                              " lies beyond the range of float64 times");
        }
        return end;
    }
};

}  // namespace orven::features::rolling
