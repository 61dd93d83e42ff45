#include "frames/grouping.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "memory/buffer.hpp"

namespace orven::bindings::frames {
namespace {

// Stands in for a time column when there is none: every group is in order.
struct NoTime {};

}  // namespace

Grouping::Grouping(const CompositeKey& key, const TimeColumn& time)
    : key_(key),
      buckets_(key.bucket_count()),
      start_(memory::uninitialized_buffer<std::uint64_t>(buckets_ + 1)),
      first_row_(memory::uninitialized_buffer<std::int64_t>(buckets_)) {
    std::memset(start_.get(), 0, (buckets_ + 1) * sizeof(std::uint64_t));
    switch (time.kind) {
        case TimeColumn::Kind::none: count<NoTime>(nullptr, time); break;
        case TimeColumn::Kind::integer: count(time.integers, time); break;
        case TimeColumn::Kind::floating: count(time.floats, time); break;
    }
}

template <class Time>
void Grouping::count(const Time* times, const TimeColumn& time) {
    const std::uint64_t* keys = key_.keys();
    const std::size_t rows = key_.rows();
    // start_[b + 1] counts bucket b until the prefix sums below.
    std::uint64_t* counts = start_.get() + 1;
    bool any_unsorted = false;
    std::unique_ptr<std::uint8_t[]> unsorted;
    if constexpr (std::is_same_v<Time, NoTime>) {
        for (std::size_t r = 0; r < rows; ++r) {
            const std::uint64_t b = keys[r];
            if (counts[b]++ == 0) first_row_[b] = static_cast<std::int64_t>(r);
        }
    } else {
        auto last = memory::uninitialized_buffer<Time>(buckets_);
        unsorted = memory::uninitialized_buffer<std::uint8_t>(buckets_);
        std::memset(unsorted.get(), 0, buckets_);
        for (std::size_t r = 0; r < rows; ++r) {
            const std::uint64_t b = keys[r];
            const Time t = times[r];
            if constexpr (std::is_floating_point_v<Time>) {
                if (std::isnan(t)) {
                    time_problem_ = TimeProblem::nan;
                    return;
                }
            } else {
                if (time.has_null_value && t == time.null_value) {
                    time_problem_ = TimeProblem::null;
                    return;
                }
            }
            if (counts[b]++ == 0) {
                first_row_[b] = static_cast<std::int64_t>(r);
            } else if (t < last[b]) {
                unsorted[b] = 1;
                any_unsorted = true;
            }
            last[b] = t;
        }
    }
    for (std::uint64_t b = 0; b < buckets_; ++b) start_[b + 1] += start_[b];
    if constexpr (!std::is_same_v<Time, NoTime>) {
        if (any_unsorted) {
            order_unsorted(times);
            for (std::uint64_t b = 0; b < buckets_; ++b) {
                if (!unsorted[b]) continue;
                std::uint64_t* begin = permutation_.get() + start_[b];
                std::stable_sort(begin, begin + size(b),
                                 [&](std::uint64_t x, std::uint64_t y) { return times[x] < times[y]; });
            }
        }
    }
}

template <class Time>
void Grouping::order_unsorted(const Time*) {
    const std::uint64_t* keys = key_.keys();
    const std::size_t rows = key_.rows();
    permutation_ = memory::uninitialized_buffer<std::uint64_t>(rows);
    auto cursor = memory::uninitialized_buffer<std::uint64_t>(buckets_);
    std::memcpy(cursor.get(), start_.get(), buckets_ * sizeof(std::uint64_t));
    for (std::size_t r = 0; r < rows; ++r) permutation_[cursor[keys[r]]++] = r;
}

bool Grouping::gather(const double* source, double* target) const {
    const std::size_t rows = key_.rows();
    bool nan = false;
    if (permutation_) {
        const std::uint64_t* order = permutation_.get();
        for (std::size_t i = 0; i < rows; ++i) {
            const double v = source[order[i]];
            nan |= v != v;
            target[i] = v;
        }
        return nan;
    }
    const std::uint64_t* keys = key_.keys();
    auto cursor = memory::uninitialized_buffer<std::uint64_t>(buckets_);
    std::memcpy(cursor.get(), start_.get(), buckets_ * sizeof(std::uint64_t));
    for (std::size_t r = 0; r < rows; ++r) {
        const double v = source[r];
        nan |= v != v;
        target[cursor[keys[r]]++] = v;
    }
    return nan;
}

}  // namespace orven::bindings::frames
