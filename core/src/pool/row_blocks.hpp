#pragma once

// A task's rows in blocks of rows_between_checks, the checkpoint asked
// between two: the one way a pass over rows looks at the interruption.
// The loop over a block then holds no atomic load, so the compiler keeps
// the column pointers and the bounds in registers.

#include <algorithm>
#include <cstddef>
#include <type_traits>

#include "pool/row_passes.hpp"

namespace orven::pool {

// body(begin, end) for each block of `range`; false once stopped.  A body
// that returns bool stops the walk by returning false, which the walk
// then returns too.
template <class Body>
bool for_each_block(RowRange range, const Checkpoint& checkpoint, Body&& body) {
    for (std::size_t begin = range.begin; begin < range.end; begin += rows_between_checks) {
        if (checkpoint.stop()) return false;
        const std::size_t end = std::min(range.end, begin + rows_between_checks);
        if constexpr (std::is_void_v<std::invoke_result_t<Body&, std::size_t, std::size_t>>) {
            body(begin, end);
        } else {
            if (!body(begin, end)) return false;
        }
    }
    return true;
}

}  // namespace orven::pool
