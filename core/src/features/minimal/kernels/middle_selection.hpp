#pragma once

#include <cstddef>

#include "features/common/series_view.hpp"

namespace orven::features::minimal::kernels {

// The values at two neighbouring ranks of an ascending order (both the
// same rank when only one is wanted).
struct MiddleValues {
    double lower;
    double upper;
};

// The values at ranks `rank` and `rank + 1` (`pair`) or at `rank` alone of
// the ascending order of values[0, count), which holds no NaN.  `values` and
// `scratch` both have room for `count` and are both overwritten.  Only
// values come out: which of several equal elements stands where is not
// tracked (the caller settles the sign of a zero).  The algorithm, its cost
// and its worst case are described where it is defined.
MiddleValues select_middle(double* values, double* scratch, std::size_t count, std::size_t rank,
                           bool pair);

// The median of `series` (n >= 2, no NaN) from the values at its middle
// ranks, `rank` being the lower middle: (lower + upper) * 0.5 for a pair,
// lower alone otherwise.  Only the sign of a zero needs more than values:
// where both middle values are zeros, they are taken from the series in
// stable order, where the zeros of either sign stand together, in series
// order, right after the negative elements.
double median_from_middle(common::SeriesView series, MiddleValues middle, std::size_t rank,
                          bool pair);

}  // namespace orven::features::minimal::kernels
