#pragma once

// A task's rows in blocks of pool::rows_between_checks, the checkpoint
// asked between two.  The loop over a block then holds no atomic load, so
// the compiler keeps the column pointers and the bounds in registers.

#include <algorithm>
#include <cstddef>

#include "pool/row_passes.hpp"

namespace orven::keys {

// body(begin, end) for each block of `range`; false once stopped.
template <class Body>
bool for_each_block(pool::RowRange range, const pool::Checkpoint& checkpoint, Body&& body) {
    for (std::size_t begin = range.begin; begin < range.end; begin += pool::rows_between_checks) {
        if (checkpoint.stop()) return false;
        body(begin, std::min(range.end, begin + pool::rows_between_checks));
    }
    return true;
}

}  // namespace orven::keys
