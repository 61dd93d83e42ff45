#pragma once

#include <cstddef>

#include "features/common/series_view.hpp"

namespace orven::features::minimal::kernels {

// Series up to this length take the short median: below it a selection on a
// stack copy beats gathering candidates into a heap buffer (measured with
// bench/features_bench).
inline constexpr std::size_t short_median_limit = 256;

// The median of a series of at most `short_median_limit` elements in which
// no element is NaN (a single element may be), with the bits of the stable
// order: the series' values selected on the stack by select_middle, nothing
// on the heap.
double short_median(common::SeriesView series);

}  // namespace orven::features::minimal::kernels
