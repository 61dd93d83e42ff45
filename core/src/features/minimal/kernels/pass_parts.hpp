#pragma once

namespace orven::features::minimal::kernels {

// The quantities that one pass over a series gathers.  Every statistic asks
// for what it needs; the minimal set asks for all of them at once, so the
// arithmetic exists once and the set reads the series once for them.
struct PassParts {
    bool sum = false;             // S, the sequential sum of the elements
    bool sum_of_squares = false;  // R, the sequential sum of x * x
    bool extrema = false;         // maximum, minimum and absolute maximum
    // Stop at the first NaN of a series of two or more elements: the median
    // refuses such a series, so nothing else about it is needed.
    bool stop_at_nan = false;
};

}  // namespace orven::features::minimal::kernels
