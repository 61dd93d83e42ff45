#pragma once

#include <cstddef>

#include "features/common/series_view.hpp"

namespace orven::features::minimal::kernels {

// Series up to this length take the short median: below it a selection on a
// stack copy beats gathering candidates into a heap buffer (measured with
// bench/features_bench).
inline constexpr std::size_t short_median_limit = 256;

// The median of a series of at most `short_median_limit` elements in which
// no element is NaN (a single element may be), with the same bits as
// `stable_median`; no heap allocation.
double short_median(common::SeriesView series);

}  // namespace orven::features::minimal::kernels
