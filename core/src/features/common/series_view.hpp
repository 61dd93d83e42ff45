#pragma once

#include <span>

namespace orven::features::common {

// A read-only view of n 64-bit floats that some owner keeps alive and
// unchanged for the duration of a call.  Many threads read one view at once;
// nothing ever writes through it.
using SeriesView = std::span<const double>;

}  // namespace orven::features::common
