#pragma once

#include "features/common/series_view.hpp"

namespace orven::features::minimal::kernels {

// The median of a series in which no element is NaN (a single element may
// be), with the bits that a stable ascending sort followed by picking the
// middle element, or halving the sum of the middle two, would give.  The
// series is copied, never written.
double stable_median(common::SeriesView series);

}  // namespace orven::features::minimal::kernels
