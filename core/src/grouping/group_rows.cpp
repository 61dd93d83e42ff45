#include "grouping/group_rows.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "pool/row_passes.hpp"

namespace orven::grouping {

using memory::RowBuffer;
using memory::row_buffer;
namespace {

using TimeProblem = GroupedRows::TimeProblem;
using pool::Checkpoint;
using pool::piece_count;
using pool::piece_rows;
using pool::RowRange;
using pool::rows_between_checks;

template <class Task>
void run_row_tasks(std::size_t count, Task&& task, pool::Interruption& interruption) {
    if (count != 0) pool::run_tasks(count, std::forward<Task>(task), interruption);
}

// Up to this many buckets, every task counts its own range of rows into
// tables of all buckets; beyond, rows are partitioned first.
constexpr std::uint64_t few_buckets = 4096;
// Partitions of the many-bucket path: at most this many.
constexpr std::uint64_t most_partitions = 1024;

// The many-bucket path cuts the buckets into partitions of 2^shift
// consecutive buckets, at most most_partitions of them.
unsigned partition_shift(std::uint64_t buckets) {
    unsigned shift = 0;
    while (((buckets - 1) >> shift) + 1 > most_partitions) ++shift;
    return shift;
}

// Stands in for the time column when there is none.
struct NoTime {};

// The time of a row, and whether it is null or NaN.
template <class T>
struct TimeReader {
    const T* times = nullptr;
    bool has_null = false;
    std::int64_t null_value = 0;

    T at(std::size_t row) const noexcept { return times[row]; }
    TimeProblem problem(T t) const noexcept {
        if constexpr (std::is_floating_point_v<T>) {
            return std::isnan(t) ? TimeProblem::nan : TimeProblem::none;
        } else {
            return has_null && t == null_value ? TimeProblem::null : TimeProblem::none;
        }
    }
};
template <>
struct TimeReader<NoTime> {
    NoTime at(std::size_t) const noexcept { return {}; }
    TimeProblem problem(NoTime) const noexcept { return TimeProblem::none; }
};

// Per bucket of some range: the rows counted so far, the first row, and the
// first and last time seen, whether the times went down.
template <class T>
struct BucketCounts {
    explicit BucketCounts(std::size_t buckets)
        : count(row_buffer<std::uint64_t>(buckets)),
          first_row(row_buffer<std::int64_t>(buckets)),
          unsorted(row_buffer<std::uint8_t>(buckets)) {
        std::memset(count.get(), 0, buckets * sizeof(std::uint64_t));
        std::memset(unsorted.get(), 0, buckets);
        if constexpr (!std::is_same_v<T, NoTime>) {
            first_time = row_buffer<T>(buckets);
            last_time = row_buffer<T>(buckets);
        }
    }

    // Counts `row` into bucket b; false (and the problem set) for a bad time.
    bool add(std::size_t b, std::size_t row, const TimeReader<T>& time, TimeProblem& problem) noexcept {
        if constexpr (std::is_same_v<T, NoTime>) {
            if (count[b]++ == 0) first_row[b] = static_cast<std::int64_t>(row);
        } else {
            const T t = time.at(row);
            if (time.problem(t) != TimeProblem::none) {
                problem = time.problem(t);
                return false;
            }
            if (count[b]++ == 0) {
                first_row[b] = static_cast<std::int64_t>(row);
                first_time[b] = t;
            } else if (t < last_time[b]) {
                unsorted[b] = 1;
            }
            last_time[b] = t;
        }
        return true;
    }

    RowBuffer<std::uint64_t> count;
    RowBuffer<std::int64_t> first_row;
    RowBuffer<std::uint8_t> unsorted;
    RowBuffer<T> first_time;
    RowBuffer<T> last_time;
};

GroupedRows empty_result(std::uint64_t buckets) {
    GroupedRows out;
    out.buckets = buckets;
    out.start = row_buffer<std::uint64_t>(buckets + 1);
    out.first_row = row_buffer<std::int64_t>(buckets);
    return out;
}

// Stable sort of one group's rows by time.
template <class T, class Row>
void sort_by_time(Row* begin, Row* end, const TimeReader<T>& time) {
    if constexpr (!std::is_same_v<T, NoTime>) {
        std::stable_sort(begin, end, [&](Row x, Row y) { return time.at(x) < time.at(y); });
    }
}

struct Columns {
    std::span<const double* const> sources;
    std::span<double* const> targets;
};

// ------------------------------------------------------ few buckets

// What both paths are given: the keys, their range, and a spare row-sized
// buffer to reuse (or null).
template <class Key>
struct Keys {
    const Key* keys;
    std::size_t rows;
    std::uint64_t buckets;
    RowBuffer<std::uint32_t> spare;
};

// A buffer for the rows in some order: the spare one where it fits.
template <class Row, class Key>
RowBuffer<Row> row_list(Keys<Key>& input) {
    if constexpr (std::is_same_v<Row, std::uint32_t>) {
        if (input.spare) return std::move(input.spare);
    }
    return row_buffer<Row>(input.rows);
}

template <class T, class Row, class Key>
GroupedRows group_few(Keys<Key>& input, const TimeReader<T>& time, const Columns& columns,
                      pool::Interruption& interruption) {
    const std::size_t rows = input.rows;
    const std::uint64_t buckets = input.buckets;
    const Key* keys = input.keys;
    GroupedRows out = empty_result(buckets);
    const std::size_t pieces = piece_count(rows);
    std::vector<BucketCounts<T>> counts;
    counts.reserve(pieces);
    for (std::size_t p = 0; p < pieces; ++p) counts.emplace_back(buckets);
    std::vector<TimeProblem> problems(pieces, TimeProblem::none);
    run_row_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
        const RowRange range = piece_rows(rows, pieces, p);
        for (std::size_t r = range.begin; r < range.end; ++r) {
            if ((r - range.begin) % rows_between_checks == 0 && checkpoint.stop()) return;
            if (!counts[p].add(keys[r], r, time, problems[p])) return;
        }
    }, interruption);
    for (TimeProblem problem : problems) {
        if (problem != TimeProblem::none) {
            out.time_problem = problem;
            return out;
        }
    }
    // Bucket-major prefix sums; each piece's counts become its cursors.
    bool any_unsorted = false;
    std::vector<std::uint8_t> unsorted(buckets, 0);
    out.start[0] = 0;
    for (std::uint64_t b = 0; b < buckets; ++b) {
        std::uint64_t at = out.start[b];
        std::ptrdiff_t previous = -1;
        for (std::size_t p = 0; p < pieces; ++p) {
            const std::uint64_t n = counts[p].count[b];
            counts[p].count[b] = at;
            at += n;
            if (n == 0) continue;
            if (previous < 0) {
                out.first_row[b] = counts[p].first_row[b];
            } else if constexpr (!std::is_same_v<T, NoTime>) {
                if (counts[p].first_time[b] < counts[static_cast<std::size_t>(previous)].last_time[b]) unsorted[b] = 1;
            }
            unsorted[b] |= counts[p].unsorted[b];
            previous = static_cast<std::ptrdiff_t>(p);
        }
        any_unsorted |= unsorted[b] != 0;
        out.start[b + 1] = at;
    }
    std::vector<std::uint8_t> nan(pieces, 0);
    if (!any_unsorted) {
        run_row_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
            const RowRange range = piece_rows(rows, pieces, p);
            std::vector<std::uint64_t> cursor(buckets);
            bool seen = false;
            for (std::size_t c = 0; c < columns.sources.size(); ++c) {
                std::memcpy(cursor.data(), counts[p].count.get(), buckets * sizeof(std::uint64_t));
                const double* source = columns.sources[c];
                double* target = columns.targets[c];
                for (std::size_t r = range.begin; r < range.end; ++r) {
                    if ((r - range.begin) % rows_between_checks == 0 && checkpoint.stop()) return;
                    const double v = source[r];
                    seen |= v != v;
                    target[cursor[keys[r]]++] = v;
                }
            }
            nan[p] = seen;
        }, interruption);
    } else {
        // Some group is out of time order: the rows in group order first,
        // the unordered groups sorted, then every value gathered by row.
        RowBuffer<Row> order = row_list<Row>(input);
        run_row_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
            const RowRange range = piece_rows(rows, pieces, p);
            for (std::size_t r = range.begin; r < range.end; ++r) {
                if ((r - range.begin) % rows_between_checks == 0 && checkpoint.stop()) return;
                order[counts[p].count[keys[r]]++] = static_cast<Row>(r);
            }
        }, interruption);
        for (std::uint64_t b = 0; b < buckets; ++b) {
            if (unsorted[b]) sort_by_time(order.get() + out.start[b], order.get() + out.start[b + 1], time);
        }
        run_row_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
            const RowRange range = piece_rows(rows, pieces, p);
            bool seen = false;
            for (std::size_t c = 0; c < columns.sources.size(); ++c) {
                const double* source = columns.sources[c];
                double* target = columns.targets[c];
                for (std::size_t i = range.begin; i < range.end; ++i) {
                    if ((i - range.begin) % rows_between_checks == 0 && checkpoint.stop()) return;
                    const double v = source[order[i]];
                    seen |= v != v;
                    target[i] = v;
                }
            }
            nan[p] = seen;
        }, interruption);
    }
    out.any_nan = std::find(nan.begin(), nan.end(), 1) != nan.end();
    return out;
}

// ----------------------------------------------------- many buckets

template <class T, class Row, class Key>
GroupedRows group_many(Keys<Key>& input, const TimeReader<T>& time, const Columns& columns,
                       pool::Interruption& interruption) {
    const std::size_t rows = input.rows;
    const std::uint64_t buckets = input.buckets;
    const Key* keys = input.keys;
    GroupedRows out = empty_result(buckets);

    // Partitions of 2^shift consecutive buckets.
    const unsigned shift = partition_shift(buckets);
    const std::uint64_t partitions = ((buckets - 1) >> shift) + 1;
    const std::uint64_t local_mask = (std::uint64_t{1} << shift) - 1;

    // Pass 1: the rows of every partition, in frame order.
    const std::size_t pieces = piece_count(rows);
    std::vector<std::uint64_t> piece_counts(pieces * partitions, 0);
    run_row_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
        const RowRange range = piece_rows(rows, pieces, p);
        std::uint64_t* count = piece_counts.data() + p * partitions;
        for (std::size_t r = range.begin; r < range.end; ++r) {
            if ((r - range.begin) % rows_between_checks == 0 && checkpoint.stop()) return;
            ++count[keys[r] >> shift];
        }
    }, interruption);
    std::vector<std::uint64_t> partition_start(partitions + 1, 0);
    for (std::uint64_t q = 0; q < partitions; ++q) {
        std::uint64_t at = partition_start[q];
        for (std::size_t p = 0; p < pieces; ++p) {
            const std::uint64_t n = piece_counts[p * partitions + q];
            piece_counts[p * partitions + q] = at;
            at += n;
        }
        partition_start[q + 1] = at;
    }
    RowBuffer<Row> order = row_list<Row>(input);
    run_row_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
        const RowRange range = piece_rows(rows, pieces, p);
        std::uint64_t* cursor = piece_counts.data() + p * partitions;
        for (std::size_t r = range.begin; r < range.end; ++r) {
            if ((r - range.begin) % rows_between_checks == 0 && checkpoint.stop()) return;
            // The row and its bucket within the partition, in one word.
            const std::uint64_t k = keys[r];
            order[cursor[k >> shift]++] = static_cast<Row>((std::uint64_t{r} << shift) | (k & local_mask));
        }
    }, interruption);

    // Pass 2: each partition counted and scattered on its own; its groups'
    // output is small enough to stay in cache.
    std::vector<TimeProblem> problems(partitions, TimeProblem::none);
    std::vector<std::uint8_t> nan(partitions, 0);
    out.start[buckets] = rows;
    run_row_tasks(partitions, [&](std::size_t q, const Checkpoint& checkpoint) {
        if (checkpoint.stop()) return;
        const std::uint64_t base = std::uint64_t{q} << shift;
        const std::uint64_t local_buckets = std::min<std::uint64_t>(std::uint64_t{1} << shift, buckets - base);
        const Row* members = order.get() + partition_start[q];
        const std::size_t size = partition_start[q + 1] - partition_start[q];
        BucketCounts<T> counts(local_buckets);
        for (std::size_t i = 0; i < size; ++i) {
            if (!counts.add(members[i] & local_mask, members[i] >> shift, time, problems[q])) return;
        }
        bool any_unsorted = false;
        std::uint64_t at = partition_start[q];
        for (std::uint64_t b = 0; b < local_buckets; ++b) {
            const std::uint64_t n = counts.count[b];
            out.start[base + b] = at;
            out.first_row[base + b] = counts.first_row[b];
            counts.count[b] = at;
            at += n;
            any_unsorted |= counts.unsorted[b] != 0;
        }
        bool seen = false;
        if (!any_unsorted) {
            std::vector<std::uint64_t> cursor(local_buckets);
            for (std::size_t c = 0; c < columns.sources.size(); ++c) {
                std::memcpy(cursor.data(), counts.count.get(), local_buckets * sizeof(std::uint64_t));
                const double* source = columns.sources[c];
                double* target = columns.targets[c];
                for (std::size_t i = 0; i < size; ++i) {
                    const Row entry = members[i];
                    const double v = source[entry >> shift];
                    seen |= v != v;
                    target[cursor[entry & local_mask]++] = v;
                }
            }
        } else {
            // The partition's rows in group order, unordered groups sorted
            // by time, values gathered by row.
            RowBuffer<Row> grouped = row_buffer<Row>(size);
            std::vector<std::uint64_t> cursor(local_buckets);
            for (std::uint64_t b = 0; b < local_buckets; ++b) cursor[b] = counts.count[b] - partition_start[q];
            for (std::size_t i = 0; i < size; ++i) {
                grouped[cursor[members[i] & local_mask]++] = static_cast<Row>(members[i] >> shift);
            }
            for (std::uint64_t b = 0; b < local_buckets; ++b) {
                if (!counts.unsorted[b]) continue;
                const std::uint64_t begin = counts.count[b] - partition_start[q];
                sort_by_time(grouped.get() + begin, grouped.get() + cursor[b], time);
            }
            for (std::size_t c = 0; c < columns.sources.size(); ++c) {
                const double* source = columns.sources[c];
                double* target = columns.targets[c] + partition_start[q];
                for (std::size_t i = 0; i < size; ++i) {
                    const double v = source[grouped[i]];
                    seen |= v != v;
                    target[i] = v;
                }
            }
        }
        nan[q] = seen;
    }, interruption);
    for (TimeProblem problem : problems) {
        if (problem != TimeProblem::none) {
            out.time_problem = problem;
            return out;
        }
    }
    out.any_nan = std::find(nan.begin(), nan.end(), 1) != nan.end();
    return out;
}

template <class T, class Key>
GroupedRows group_keys(Keys<Key>& input, const TimeReader<T>& time, const Columns& columns,
                       pool::Interruption& interruption) {
    if (input.buckets <= few_buckets) {
        const bool narrow_rows = input.rows <= std::numeric_limits<std::uint32_t>::max();
        return narrow_rows ? group_few<T, std::uint32_t>(input, time, columns, interruption)
                           : group_few<T, std::uint64_t>(input, time, columns, interruption);
    }
    // The many-bucket path packs a row and its bucket in a partition into
    // one word: 32 bits when both fit.
    const unsigned shift = partition_shift(input.buckets);
    const bool narrow_rows = input.rows <= (std::uint64_t{1} << (32 - shift));
    return narrow_rows ? group_many<T, std::uint32_t>(input, time, columns, interruption)
                       : group_many<T, std::uint64_t>(input, time, columns, interruption);
}

template <class T>
GroupedRows group_with(keys::CompositeKey& key, const TimeReader<T>& time, const Columns& columns,
                       pool::Interruption& interruption) {
    if (key.narrow()) {
        Keys<std::uint32_t> input{key.narrow_keys(), key.rows(), key.bucket_count(), key.take_spare()};
        return group_keys(input, time, columns, interruption);
    }
    Keys<std::uint64_t> input{key.wide_keys(), key.rows(), key.bucket_count(), key.take_spare()};
    return group_keys(input, time, columns, interruption);
}

}  // namespace

GroupedRows group_rows(keys::CompositeKey& key, const TimeColumn& time, std::span<const double* const> sources,
                       std::span<double* const> targets, pool::Interruption& interruption) {
    const Columns columns{sources, targets};
    if (key.rows() == 0) {
        GroupedRows out = empty_result(key.bucket_count());
        std::fill(out.start.get(), out.start.get() + key.bucket_count() + 1, 0);
        return out;
    }
    switch (time.kind) {
        case TimeColumn::Kind::integer:
            return group_with(key, TimeReader<std::int64_t>{time.integers, time.has_null_value, time.null_value},
                              columns, interruption);
        case TimeColumn::Kind::floating:
            return group_with(key, TimeReader<double>{time.floats}, columns, interruption);
        case TimeColumn::Kind::none:
            break;
    }
    return group_with(key, TimeReader<NoTime>{}, columns, interruption);
}

}  // namespace orven::grouping
