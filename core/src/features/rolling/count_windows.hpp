#pragma once

// Windows counted in readings: a window ends at every step-th reading and
// holds the `size` readings that end there (fewer at the start of the
// series).  Windows of fewer than `min_length` readings are left out; since
// only the first windows are short, the kept ones are a closed-form range
// and their number is known before any is listed.

#include <cstddef>
#include <span>

#include "features/rolling/window.hpp"

namespace orven::features::rolling {

struct CountWindowShape {
    std::size_t size;        // >= 1
    std::size_t step;        // >= 1
    std::size_t min_length;  // windows holding fewer readings are left out
};

// How many windows a series of `readings` readings has.
std::size_t count_window_total(std::size_t readings, CountWindowShape shape);

// Writes them to `out`, which has room for count_window_total of them.  A
// window's end time is the time of its last reading, end - 1.
void count_windows(std::size_t readings, CountWindowShape shape, std::span<Window> out);

}  // namespace orven::features::rolling
