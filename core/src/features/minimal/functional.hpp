#pragma once

#include "features/common/series_view.hpp"

namespace orven::features::minimal::functional {

// The median of the series in its stable ascending order: the middle
// element, or (lower + upper) * 0.5 of the middle two; the quiet positive
// NaN for the empty series, the element itself for a single one.  A series
// of two or more elements that holds a NaN has no order, and the median
// refuses it with a fatal error.  The series is never written.
double median(common::SeriesView series);

}  // namespace orven::features::minimal::functional
