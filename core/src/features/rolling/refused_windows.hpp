#pragma once

#include <cstddef>
#include <span>

#include "features/common/series_view.hpp"
#include "features/rolling/window.hpp"

namespace orven::features::rolling {

// The first of `windows` that holds a NaN among two or more readings, or
// windows.size() if none does.  The median refuses such a window (as it
// refuses such a series), so a caller that raises for NaN finds the window
// to name here before any is computed; a window whose one reading is NaN
// has features like any other.  One pass: the series is read up to the last
// window's end, remembering where the latest NaN was, and a window holds a
// NaN when that lies at or after its begin.  Nothing is allocated.
std::size_t first_refused_window(common::SeriesView series, std::span<const Window> windows);

}  // namespace orven::features::rolling
