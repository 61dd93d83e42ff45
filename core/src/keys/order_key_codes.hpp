#pragma once

// A column coded by its order keys (order_keys.hpp), three ways by how they
// spread.  One pass finds their least and greatest and their common step
// (stride.hpp); where the range divided by the step is below the direct
// limit (direct_range.hpp), a second pass writes each row's place in it
// (codes with gaps, as indexed directly); otherwise the rows are numbered
// by dictionaries on the pool (task_numbering.hpp).  Every pass runs on
// the pool.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "keys/coded_column.hpp"
#include "keys/direct_range.hpp"
#include "keys/integer_dictionary.hpp"
#include "keys/row_blocks.hpp"
#include "keys/stride.hpp"
#include "keys/row_numbering.hpp"
#include "memory/row_buffer.hpp"
#include "pool/row_passes.hpp"

namespace orven::keys {

// The least and greatest order key of some rows, and their step.
struct KeyBounds {
    std::uint64_t low = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t high = 0;
    Stride stride;
    bool null = false;

    bool empty() const noexcept { return low > high; }
};

// The bounds of rows [0, rows), and whether a row is null.  `key_of` and
// `is_null` are called by value on the workers: they should capture the
// column's pointer, not a reference to it.
template <class KeyOf, class IsNull>
KeyBounds key_bounds(std::size_t rows, KeyOf key_of, IsNull is_null, pool::Interruption& interruption) {
    const std::size_t pieces = pool::piece_count(rows);
    std::vector<KeyBounds> found(pieces);
    std::vector<std::uint64_t> firsts(pieces);
    pool::run_tasks(pieces, [&](std::size_t p, const pool::Checkpoint& checkpoint) {
        const pool::RowRange range = pool::piece_rows(rows, pieces, p);
        if (range.begin == range.end) return;
        const std::uint64_t first = key_of(range.begin);
        KeyBounds piece{first, first, Stride(), false};
        const bool whole = for_each_block(range, checkpoint, [&](std::size_t begin, std::size_t end) {
            // In locals for the loop: the compiler keeps them in registers.
            std::uint64_t low = piece.low;
            std::uint64_t high = piece.high;
            Stride stride = piece.stride;
            bool null = piece.null;
            for (std::size_t r = begin; r < end; ++r) {
                null |= is_null(r);
                const std::uint64_t key = key_of(r);
                low = std::min(low, key);
                high = std::max(high, key);
                // Once the step is 1 every difference is a multiple of it.
                if (stride.step() != 1) stride.include(key >= first ? key - first : first - key);
            }
            piece = KeyBounds{low, high, stride, null};
        });
        if (!whole) return;
        found[p] = piece;
        firsts[p] = first;
    }, interruption);
    KeyBounds all;
    for (const KeyBounds& bounds : found) {
        all.low = std::min(all.low, bounds.low);
        all.high = std::max(all.high, bounds.high);
        all.null |= bounds.null;
    }
    // Every key is first + a multiple of its piece's step, and every first
    // differs from the least by a multiple of the step sought.
    for (std::size_t p = 0; p < pieces; ++p) {
        if (found[p].empty()) continue;
        all.stride.include(found[p].stride.step());
        all.stride.include(firsts[p] - all.low);
    }
    return all;
}

// Codes of rows [0, rows) by their order keys; null_found for a null row.
template <class KeyOf, class IsNull>
CodedColumn coded_by_order_keys(std::size_t rows, KeyOf key_of, IsNull is_null,
                                pool::Interruption& interruption) {
    CodedColumn out;
    auto codes = memory::row_buffer<std::uint32_t>(rows);
    if (rows == 0) {
        out.codes.codes = std::move(codes);
        return out;
    }
    const KeyBounds bounds = key_bounds(rows, key_of, is_null, interruption);
    if (bounds.null) {
        out.outcome = CodingOutcome::null_found;
        return out;
    }
    const Stride stride = bounds.stride.step() == 0 ? Stride(1) : bounds.stride;
    const std::uint64_t last = stride.quotient(bounds.high - bounds.low);
    if (last < direct_range_limit(rows)) {
        std::uint32_t* target = codes.get();
        const std::size_t pieces = pool::piece_count(rows);
        const std::uint64_t low = bounds.low;
        pool::run_tasks(pieces, [&](std::size_t p, const pool::Checkpoint& checkpoint) {
            for_each_block(pool::piece_rows(rows, pieces, p), checkpoint, [&](std::size_t begin, std::size_t end) {
                for (std::size_t r = begin; r < end; ++r) {
                    target[r] = static_cast<std::uint32_t>(stride.quotient(key_of(r) - low));
                }
            });
        }, interruption);
        out.codes.codes = std::move(codes);
        out.codes.range = last + 1;
        return out;
    }
    out.codes = number_rows<IntegerDictionary>(rows, std::move(codes), key_of, interruption);
    return out;
}

}  // namespace orven::keys
