#pragma once

#include <cstddef>
#include <cstring>

#include "features/common/series_view.hpp"

namespace orven::features::common {

// A series may start at any byte address: an array can be contiguous and
// still not aligned to its element size (a view into a byte buffer at an odd
// offset).  Reading such an element through a `const double&` is undefined,
// so every element is read as its eight bytes; for aligned data the compiler
// emits the same single load.
inline double element_at(const double* base, std::size_t index) {
    double value;
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(base) + index * sizeof(double),
                sizeof value);
    return value;
}

inline double element_at(SeriesView series, std::size_t index) {
    return element_at(series.data(), index);
}

// Copies every element of the series to `out`, which is aligned and has
// room for them all.
inline void copy_elements(SeriesView series, double* out) {
    if (!series.empty()) {
        std::memcpy(out, series.data(), series.size_bytes());
    }
}

}  // namespace orven::features::common
