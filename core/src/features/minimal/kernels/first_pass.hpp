#pragma once

#include "features/common/series_view.hpp"
#include "features/minimal/kernels/extrema.hpp"

namespace orven::features::minimal::kernels {

// What the first read of a series yields.
struct FirstPassResult {
    double sum = -0.0;             // every sum starts at -0.0, so the empty sum is -0.0
    double sum_of_squares = -0.0;
    Extrema extrema;
    // A NaN was met.  For a series of two or more elements the pass stopped
    // there and the rest is incomplete: the median refuses such a series, so
    // nothing else about it is needed.
    bool holds_nan = false;
};

// One pass over the series in index order: S, R and the extrema.  The two
// sums are separate single accumulators, each adding strictly in index
// order; they are independent chains, so one loop runs both at the cost of
// one.  The extrema follow the four-block procedure: full blocks until one
// holds a NaN, join the partials, then step through every element not yet
// folded.  Out of line on purpose: inlined into its caller, whose sums live
// on across calls, the compiler keeps both running sums in memory and every
// addition waits for a store.
FirstPassResult first_pass(common::SeriesView series);

}  // namespace orven::features::minimal::kernels
