#pragma once

// The groups of a call in result order, and what the result needs of them:
// which id each belongs to, its kind, and a row to take the key values from.
// Pure bookkeeping over the buckets; no interpreter involved.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frames/composite_key.hpp"
#include "frames/grouping.hpp"

namespace orven::bindings::frames {

struct SeriesTable {
    // The non-empty buckets, ascending: one group each.
    std::vector<std::uint64_t> buckets;
    // Per group: its id's place among the distinct ids, and its kind's
    // place among the distinct kinds (0 without a kind column).
    std::vector<std::int64_t> id_of_group;
    std::vector<std::int64_t> kind_of_group;
    // Per distinct id and per distinct kind, ascending: a row holding it.
    std::vector<std::int64_t> id_rows;
    std::vector<std::int64_t> kind_rows;
};

// `kind_range` is the range of the last key column when it is the kind
// (its code is the combined value modulo the range), else 1.
SeriesTable tabulate(const CompositeKey& key, const GroupedRows& grouping, std::uint64_t kind_range, bool has_kind);

}  // namespace orven::bindings::frames
