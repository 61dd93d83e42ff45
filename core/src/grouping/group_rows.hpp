#pragma once

// Rows grouped by their composite key in linear time, whatever order they
// come in: every value column moved into a call-owned buffer in group
// order, the rows of a group in frame order.  With a time column, each
// group must end up in time order (equal times keeping frame order): the
// grouping checks per group whether its times already are non-decreasing,
// and only groups that are not get sorted.
//
// Few groups: each task counts and scatters its own range of rows (the
// few output streams stay in cache).  Many groups: radix partitioning on
// the high bits of the key moves every column to cache-sized partitions in
// one pass each, and each partition is then grouped on its own, groups out
// of time order sorted by a radix sort on time (group_rows.cpp says more).

#include <cstddef>
#include <cstdint>
#include <span>

#include "keys/composite_key.hpp"
#include "memory/row_buffer.hpp"
#include "pool/interruption.hpp"

namespace orven::grouping {

using memory::RowBuffer;
using memory::row_buffer;

// The time column as read in place: nothing, 64-bit integers (with a value
// standing for null, as NaT does), or floats.
struct TimeColumn {
    enum class Kind { none, integer, floating };
    Kind kind = Kind::none;
    const std::int64_t* integers = nullptr;
    const double* floats = nullptr;
    bool has_null_value = false;
    std::int64_t null_value = 0;
};

struct GroupedRows {
    enum class TimeProblem { none, null, nan };
    TimeProblem time_problem = TimeProblem::none;
    std::uint64_t buckets = 0;
    // Rows of bucket b are at [start[b], start[b + 1]) of each target.
    RowBuffer<std::uint64_t> start;
    // The first row (in frame order) of each non-empty bucket.
    RowBuffer<std::int64_t> first_row;
    // Whether any value gathered is NaN.
    bool any_nan = false;

    std::uint64_t size(std::uint64_t bucket) const noexcept { return start[bucket + 1] - start[bucket]; }
};

// Groups the rows of `key`: sources[c] (one value per row) into targets[c]
// (room for as many), in group order, each group in time order, in passes
// on the pool.  Throws pool::Interrupted if the interruption is cancelled
// meanwhile.
GroupedRows group_rows(keys::CompositeKey& key, const TimeColumn& time, std::span<const double* const> sources,
                       std::span<double* const> targets, pool::Interruption& interruption);

}  // namespace orven::grouping
