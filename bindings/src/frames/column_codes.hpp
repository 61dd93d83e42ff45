#pragma once

#include <cstdint>

#include "frames/row_buffer.hpp"

namespace orven::bindings::frames {

// The codes of one key column: for every row a code in [0, range), equal
// values sharing a code, codes ordered as the values are.
struct KeyCodes {
    RowBuffer<std::uint32_t> codes;
    std::uint64_t range = 0;
};

}  // namespace orven::bindings::frames
