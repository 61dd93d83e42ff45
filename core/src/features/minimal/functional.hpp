#pragma once

#include "features/common/series_view.hpp"

namespace orven::features::minimal::functional {

// The median as it is defined: the series copied, the copy sorted ascending
// by a stable sort, then its middle element, or (lower + upper) * 0.5 of its
// middle two; the quiet positive NaN for the empty series, the element
// itself for a single one.  The series is never written.
//
// A NaN compares neither below nor above anything, so the sort of two or
// more elements meets no order where one of them is NaN, and the median
// refuses the series with a fatal error: "called `Option::unwrap()` on a
// `None` value" at core/src/features/minimal/functional, line 19, column 44.
// Callers match failure reports against that place, so it is stated in the
// source beside the raise rather than taken from the compiler (compilers
// disagree on the column of a call).
//
// This is the literal median.  It is the yardstick that the tests hold the
// fast medians of the kernels against, and the extraction leaves every
// series that holds a NaN to it, for its refusal.
double median(common::SeriesView series);

}  // namespace orven::features::minimal::functional
