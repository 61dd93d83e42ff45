#pragma once

// Rows grouped by their composite key with a counting sort: a histogram of
// the keys, its prefix sums, and each value column scattered into one
// call-owned buffer in group order, rows of a group in frame order.  Linear
// in the rows.  With a time column, each group must end up in time order
// (equal times keeping frame order): the histogram pass checks, per group,
// whether the times already are non-decreasing, and only groups that are
// not get a stable sort.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "frames/composite_key.hpp"

namespace orven::bindings::frames {

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

class Grouping {
public:
    // What the histogram pass found wrong with the time column.
    enum class TimeProblem { none, null, nan };

    // Counts the rows of every bucket of `key` and checks the time order.
    Grouping(const CompositeKey& key, const TimeColumn& time);

    TimeProblem time_problem() const noexcept { return time_problem_; }

    std::uint64_t bucket_count() const noexcept { return buckets_; }
    // Rows of bucket b are at [start(b), start(b + 1)) of a gathered column.
    std::uint64_t start(std::uint64_t bucket) const noexcept { return start_[bucket]; }
    std::uint64_t size(std::uint64_t bucket) const noexcept { return start_[bucket + 1] - start_[bucket]; }
    // The first row (in frame order) of a non-empty bucket.
    std::int64_t first_row(std::uint64_t bucket) const noexcept { return first_row_[bucket]; }

    // Puts `source` (one value per row) into `target` in group order, each
    // group in time order.  Returns whether any value is NaN.
    bool gather(const double* source, double* target) const;

private:
    template <class Time>
    void count(const Time* times, const TimeColumn& time);
    template <class Time>
    void order_unsorted(const Time* times);

    const CompositeKey& key_;
    std::uint64_t buckets_;
    std::unique_ptr<std::uint64_t[]> start_;
    std::unique_ptr<std::int64_t[]> first_row_;
    TimeProblem time_problem_ = TimeProblem::none;
    // Only when some group is out of time order: the rows of every group,
    // in group and time order, from which the values are gathered.
    std::unique_ptr<std::uint64_t[]> permutation_;
};

}  // namespace orven::bindings::frames
