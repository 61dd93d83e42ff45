#pragma once

// The widest range of codes that is indexed directly, by a reader (a
// column's values minus their least) and by the grouping (one counter per
// possible key): tables of that many entries are then no larger than the
// column itself, or than a fixed small size for short columns.  Wider
// ranges are numbered densely first.

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace orven::keys {

inline std::uint64_t direct_range_limit(std::size_t rows) noexcept {
    return std::max<std::uint64_t>(rows, std::uint64_t{1} << 16);
}

}  // namespace orven::keys
