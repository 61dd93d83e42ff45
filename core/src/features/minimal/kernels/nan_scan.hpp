#pragma once

#include "features/common/series_view.hpp"

namespace orven::features::minimal::kernels {

// Whether any element of the series is NaN.
bool holds_nan(common::SeriesView series);

}  // namespace orven::features::minimal::kernels
