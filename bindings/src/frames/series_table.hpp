#pragma once

// The groups of a call in result order, and what the result needs of them:
// which id each belongs to, its kind, and a row to take the key values from.
// Bookkeeping over the buckets only; no interpreter involved.  Two passes
// over the buckets, one over the kinds.

#include <cstddef>
#include <cstdint>
#include <span>

#include "frames/composite_key.hpp"
#include "frames/grouping.hpp"
#include "memory/row_buffer.hpp"

namespace orven::bindings::frames {

struct SeriesTable {
    std::size_t groups = 0;
    std::size_t ids = 0;
    std::size_t kinds = 0;
    // The non-empty buckets, ascending: one group each.
    memory::RowBuffer<std::uint64_t> buckets;
    // Per group: its id's place among the distinct ids, and its kind's
    // place among the distinct kinds (0 without a kind column).
    memory::RowBuffer<std::int64_t> id_of_group;
    memory::RowBuffer<std::int64_t> kind_of_group;
    // Per distinct id and per distinct kind, ascending: a row holding it
    // (without a kind column, the one kind has row 0).
    memory::RowBuffer<std::int64_t> id_rows;
    memory::RowBuffer<std::int64_t> kind_rows;

    std::span<const std::int64_t> id_row_span() const noexcept { return {id_rows.get(), ids}; }
    std::span<const std::int64_t> kind_row_span() const noexcept { return {kind_rows.get(), kinds}; }
};

// `kind_range` is the range of the last key column when it is the kind
// (its code is the combined value modulo the range), else 1.
SeriesTable tabulate(const CompositeKey& key, const GroupedRows& grouping, std::uint64_t kind_range, bool has_kind);

}  // namespace orven::bindings::frames
