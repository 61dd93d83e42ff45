#include "grouping/group_rows.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "memory/line_store.hpp"
#include "pool/row_blocks.hpp"
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

template <class Task>
void run_row_tasks(std::size_t count, Task&& task, pool::Interruption& interruption) {
    if (count != 0) pool::run_tasks(count, std::forward<Task>(task), interruption);
}

// Up to this many buckets, every task counts its own range of rows into
// tables of all buckets and scatters each value where it goes: the output
// lines and the cursors (8 bytes a bucket) of a task then fit in a
// second-level cache of 1 MiB, which beats partitioning first (measured on
// 6 M rows in random order: 20,000 groups 0.09 s against 0.13 s).  Beyond,
// rows are partitioned first.
constexpr std::uint64_t few_buckets = 65536;
// Where groups are out of time order, the few-bucket path sorts each group
// of rows in place, reading the times at random; beyond this many buckets
// (groups of a few thousand rows or less) the partitioned path, which sorts
// in cache, is taken instead.
constexpr std::uint64_t sorted_in_place = 4096;
// The tables of the few-bucket path's tasks take about this many bytes a
// row at most (fewer tasks then, a multiple of the workers).
constexpr std::size_t table_bytes_per_row = 1;
// Partitions of the many-bucket path: at most this many, so that their
// write-combining lines (16 KiB a stream) stay in the first-level cache.
// Measured on 6 M rows in random order, 60,000 to 3 M groups: 4-10% faster
// than 1,024 partitions, the partitions still small enough for cache.
constexpr std::uint64_t most_partitions = 256;

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
    static constexpr std::size_t bytes_per_bucket =
        sizeof(std::uint64_t) + sizeof(std::int64_t) + 1 + (std::is_same_v<T, NoTime> ? 0 : 2 * sizeof(T));

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
    template <class Times>
    bool add(std::size_t b, std::size_t row, const Times& time, TimeProblem& problem) noexcept {
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
                any_unsorted = true;
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
    // Whether any bucket's times went down within this range.
    bool any_unsorted = false;
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

// The first time problem of any task, or none.
TimeProblem first_problem(const std::vector<TimeProblem>& problems) {
    for (TimeProblem problem : problems) {
        if (problem != TimeProblem::none) return problem;
    }
    return TimeProblem::none;
}

// Tasks of the few-bucket path: as for any pass, unless their tables of
// every bucket would take more than table_bytes_per_row.
template <class T>
std::size_t few_bucket_pieces(std::size_t rows, std::uint64_t buckets) {
    const std::size_t usual = piece_count(rows);
    const std::size_t workers = std::max<std::size_t>(pool::global_pool().num_threads(), 1);
    const std::size_t table = static_cast<std::size_t>(buckets) * BucketCounts<T>::bytes_per_bucket;
    const std::size_t fitting = rows * table_bytes_per_row / std::max<std::size_t>(table, 1);
    if (fitting >= usual) return usual;
    return std::min(usual, workers * std::max<std::size_t>(fitting / workers, 1));
}

// Empty where groups are out of time order and there are more than
// sorted_in_place buckets: the partitioned path is then the faster one.
template <class T, class Row, class Key>
std::optional<GroupedRows> group_few(Keys<Key>& input, const TimeReader<T>& time, const Columns& columns,
                                     pool::Interruption& interruption) {
    const std::size_t rows = input.rows;
    const std::uint64_t buckets = input.buckets;
    const Key* keys = input.keys;
    GroupedRows out = empty_result(buckets);
    const std::size_t pieces = few_bucket_pieces<T>(rows, buckets);
    std::vector<BucketCounts<T>> counts;
    counts.reserve(pieces);
    for (std::size_t p = 0; p < pieces; ++p) counts.emplace_back(buckets);
    std::vector<TimeProblem> problems(pieces, TimeProblem::none);
    // Disorder seen by one task ends every task's count: the partitioned
    // path starts over, having lost little.
    const bool leave_on_disorder = buckets > sorted_in_place;
    std::atomic<bool> disorder{false};
    run_row_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
        pool::for_each_block(piece_rows(rows, pieces, p), checkpoint, [&](std::size_t begin, std::size_t end) {
            if (disorder.load(std::memory_order_relaxed)) return false;
            for (std::size_t r = begin; r < end; ++r) {
                if (!counts[p].add(keys[r], r, time, problems[p])) return false;
                if (leave_on_disorder && counts[p].any_unsorted) {
                    disorder.store(true, std::memory_order_relaxed);
                    return false;
                }
            }
            return true;
        });
    }, interruption);
    if (disorder.load(std::memory_order_relaxed)) return std::nullopt;
    out.time_problem = first_problem(problems);
    if (out.time_problem != TimeProblem::none) return out;
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
    if (any_unsorted && buckets > sorted_in_place) return std::nullopt;
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
                const bool whole = pool::for_each_block(range, checkpoint, [&](std::size_t begin, std::size_t end) {
                    for (std::size_t r = begin; r < end; ++r) {
                        const double v = source[r];
                        seen |= v != v;
                        target[cursor[keys[r]]++] = v;
                    }
                });
                if (!whole) return;
            }
            nan[p] = seen;
        }, interruption);
    } else {
        // Some group is out of time order: the rows in group order first,
        // the unordered groups sorted, then every value gathered by row.
        RowBuffer<Row> order = row_list<Row>(input);
        run_row_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
            pool::for_each_block(piece_rows(rows, pieces, p), checkpoint, [&](std::size_t begin, std::size_t end) {
                for (std::size_t r = begin; r < end; ++r) order[counts[p].count[keys[r]]++] = static_cast<Row>(r);
            });
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
                const bool whole = pool::for_each_block(range, checkpoint, [&](std::size_t begin, std::size_t end) {
                    for (std::size_t i = begin; i < end; ++i) {
                        const double v = source[order[i]];
                        seen |= v != v;
                        target[i] = v;
                    }
                });
                if (!whole) return;
            }
            nan[p] = seen;
        }, interruption);
    }
    out.any_nan = std::find(nan.begin(), nan.end(), 1) != nan.end();
    return out;
}

// ----------------------------------------------------- many buckets
//
// Radix partitioning (Polychroniou and Ross, SIGMOD 2014; Balkesen et al.,
// ICDE 2013): the buckets are cut into at most most_partitions partitions
// of 2^shift consecutive buckets, and every stream the grouping needs is
// moved to its partition in one pass over the rows: the row with its
// bucket in the partition (one word), the time, and each value column,
// whose values go straight into the part of their target that the
// partition's groups will occupy.  A partition is then contiguous and, on
// average, a few thousand rows: it is counted, checked for time order and
// permuted within its own part of each target while all of it is in cache.
// No pass reads a column at random, so the row order does not matter.  The
// worst case is a partition holding most rows (a few huge groups): its
// scratch copy is then as long as the rows.

// Where the partitions lie: partition q at [start[q], start[q + 1]) of
// every partitioned stream; each piece of rows writes its own run of each
// partition, from cursor[p * count + q] on.
struct Partitions {
    unsigned shift = 0;
    std::uint64_t count = 0;
    std::uint64_t local_mask = 0;
    std::vector<std::uint64_t> start;
    std::vector<std::uint64_t> cursor;
    // Whether consecutive rows mostly go to different partitions.
    bool scattered = false;
};

template <class Key>
Partitions count_partitions(const Keys<Key>& input, std::size_t pieces, pool::Interruption& interruption) {
    Partitions parts;
    parts.shift = partition_shift(input.buckets);
    parts.count = ((input.buckets - 1) >> parts.shift) + 1;
    parts.local_mask = (std::uint64_t{1} << parts.shift) - 1;
    parts.cursor.assign(pieces * parts.count, 0);
    std::vector<std::uint64_t> changes(pieces, 0);
    run_row_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
        std::uint64_t* count = parts.cursor.data() + p * parts.count;
        std::uint64_t previous = 0;
        std::uint64_t changed = 0;
        pool::for_each_block(piece_rows(input.rows, pieces, p), checkpoint, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r) {
                const std::uint64_t q = input.keys[r] >> parts.shift;
                ++count[q];
                changed += q != previous;
                previous = q;
            }
        });
        changes[p] = changed;
    }, interruption);
    // Runs of fewer than 8 rows on average: the writes would miss.
    std::uint64_t changed = 0;
    for (std::uint64_t c : changes) changed += c;
    parts.scattered = changed * 8 > input.rows;
    // Partition-major prefix sums: each piece's counts become its cursors.
    parts.start.assign(parts.count + 1, 0);
    for (std::uint64_t q = 0; q < parts.count; ++q) {
        std::uint64_t at = parts.start[q];
        for (std::size_t p = 0; p < pieces; ++p) {
            std::uint64_t& slot = parts.cursor[p * parts.count + q];
            const std::uint64_t n = slot;
            slot = at;
            at += n;
        }
        parts.start[q + 1] = at;
    }
    return parts;
}

// One stream a pass moves to the partitions: target[position] =
// value_of(row, key) for every row.
template <class V, class ValueOf>
struct Stream {
    V* target;
    ValueOf value_of;
};
template <class V, class ValueOf>
Stream(V*, ValueOf) -> Stream<V, ValueOf>;

// With hundreds of partitions and the rows scattered over them, writing
// each value where it goes would touch as many pages and lines in turn;
// instead each partition's values gather in a line of the piece's own
// (all of them fit in cache) and go out a whole cache line at a time
// (software write-combining).  The first and last line of a piece's run in
// a partition are written only in part, since their other slots belong to
// a neighbouring run.
template <class S>
class CombinedWrites {
public:
    CombinedWrites(const S& stream, const std::vector<std::uint64_t>& run_start)
        : stream_(stream), run_start_(run_start), lines_(run_start.size()) {}

    void put(std::uint64_t q, std::uint64_t at, std::size_t r, std::uint64_t k) {
        lines_[q].slot[at % per_line] = stream_.value_of(r, k);
        if ((at + 1) % per_line != 0) return;
        if (at + 1 - per_line >= run_start_[q]) {
            memory::store_line(stream_.target + (at + 1 - per_line), lines_[q].slot);
        } else {
            write_out(q, at + 1 - per_line, at + 1);
        }
    }

    // The lines left partly filled, once every row is put.
    void finish(const std::vector<std::uint64_t>& cursor) {
        for (std::uint64_t q = 0; q < cursor.size(); ++q) {
            const std::uint64_t end = cursor[q];
            if (end % per_line != 0) write_out(q, end - end % per_line, end);
        }
    }

private:
    using V = std::remove_pointer_t<decltype(S::target)>;
    static constexpr std::size_t per_line = memory::cache_line / sizeof(V);
    struct alignas(64) Line {
        V slot[per_line];
    };

    // Slots of partition q's line from position `begin` (or the run's
    // start) to `end`.
    void write_out(std::uint64_t q, std::uint64_t begin, std::uint64_t end) {
        const std::uint64_t from = std::max(begin, run_start_[q]);
        std::memcpy(stream_.target + from, lines_[q].slot + from % per_line, (end - from) * sizeof(V));
    }

    const S& stream_;
    const std::vector<std::uint64_t>& run_start_;
    std::vector<Line> lines_;
};

// Streams moved to the partitions in one pass over the rows, each piece
// from its own cursors.  Where the rows come in runs of one partition,
// each value is written where it goes; where they are scattered, through
// write-combining lines.
template <class Key, class... Streams>
void partition_streams(const Keys<Key>& input, const Partitions& parts, std::size_t pieces,
                       pool::Interruption& interruption, const Streams&... streams) {
    run_row_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
        const auto first = parts.cursor.begin() + static_cast<std::ptrdiff_t>(p * parts.count);
        const std::vector<std::uint64_t> run_start(first, first + static_cast<std::ptrdiff_t>(parts.count));
        std::vector<std::uint64_t> cursor = run_start;
        const RowRange range = piece_rows(input.rows, pieces, p);
        if (!parts.scattered) {
            pool::for_each_block(range, checkpoint, [&](std::size_t begin, std::size_t end) {
                for (std::size_t r = begin; r < end; ++r) {
                    const std::uint64_t k = input.keys[r];
                    const std::uint64_t at = cursor[k >> parts.shift]++;
                    ((streams.target[at] = streams.value_of(r, k)), ...);
                }
            });
            return;
        }
        std::tuple<CombinedWrites<Streams>...> writes{CombinedWrites<Streams>(streams, run_start)...};
        const bool whole = pool::for_each_block(range, checkpoint, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r) {
                const std::uint64_t k = input.keys[r];
                const std::uint64_t q = k >> parts.shift;
                const std::uint64_t at = cursor[q]++;
                std::apply([&](auto&... write) { (write.put(q, at, r, k), ...); }, writes);
            }
        });
        if (!whole) return;
        std::apply([&](auto&... write) { (write.finish(cursor), ...); }, writes);
        memory::line_stores_done();
    }, interruption);
}

// Times as unsigned numbers in the same order: integers with the sign bit
// flipped; floats by their bits, negative ones inverted, with -0.0 taken
// as +0.0 since equal times keep frame order.
inline std::uint64_t ordered_bits(std::int64_t t) noexcept {
    return std::bit_cast<std::uint64_t>(t) ^ (std::uint64_t{1} << 63);
}
inline std::uint64_t ordered_bits(double t) noexcept {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(t == 0 ? 0.0 : t);
    return bits >> 63 ? ~bits : bits | (std::uint64_t{1} << 63);
}

// Positions [0, size) of a partition in (group, time) order, equal times
// in position order: a least-significant-digit radix sort, each pass a
// stable counting sort, first on each byte of time that varies within the
// partition (from the lowest), last on the group, whose starts are given.
// Linear in the positions times the bytes that vary, all in cache.
template <class Row, class T, class Times>
RowBuffer<Row> order_by_group_and_time(const Row* members, std::size_t size, std::uint64_t local_mask,
                                       const std::uint64_t* group_start, std::uint64_t groups, const Times& time) {
    RowBuffer<Row> order = row_buffer<Row>(size);
    RowBuffer<Row> other = row_buffer<Row>(size);
    for (std::size_t i = 0; i < size; ++i) order[i] = static_cast<Row>(i);
    if constexpr (!std::is_same_v<T, NoTime>) {
        RowBuffer<std::uint64_t> key = row_buffer<std::uint64_t>(size);
        std::uint64_t low = ~std::uint64_t{0};
        std::uint64_t high = 0;
        for (std::size_t i = 0; i < size; ++i) {
            key[i] = ordered_bits(time.at(i));
            low = std::min(low, key[i]);
            high = std::max(high, key[i]);
        }
        for (std::size_t i = 0; i < size; ++i) key[i] -= low;
        const unsigned bytes = (static_cast<unsigned>(std::bit_width(high - low)) + 7) / 8;
        for (unsigned byte = 0; byte < bytes; ++byte) {
            std::uint64_t cursor[256] = {};
            for (std::size_t i = 0; i < size; ++i) ++cursor[(key[i] >> (8 * byte)) & 0xff];
            std::uint64_t at = 0;
            for (std::uint64_t& slot : cursor) at += std::exchange(slot, at);
            for (std::size_t i = 0; i < size; ++i) {
                const Row o = order[i];
                other[cursor[(key[o] >> (8 * byte)) & 0xff]++] = o;
            }
            std::swap(order, other);
        }
    }
    std::vector<std::uint64_t> cursor(group_start, group_start + groups);
    for (std::size_t i = 0; i < size; ++i) {
        const Row o = order[i];
        other[cursor[members[o] & local_mask]++] = o;
    }
    return other;
}

// The times of the rows staged, bit for bit, in a buffer of doubles (the
// part of a target that the values will take over later).
template <class T>
struct StagedTimes {
    const double* slots;
    TimeReader<T> rules;

    T at(std::size_t i) const noexcept { return std::bit_cast<T>(slots[i]); }
    TimeProblem problem(T t) const noexcept { return rules.problem(t); }
};

// How a partition's values get to their places once they are staged.
enum class Layout : std::uint8_t {
    in_place,  // one group, in time order: they are there already
    by_group,  // every group in time order: a counting scatter by group
    reordered  // the partition's members now hold, per place, the position to take
};

// One partition grouped in cache, in two steps: arrange() counts its
// groups, checks and orders their times, and says where each group goes;
// then, once the values are staged, place() moves them there.  `members`
// are the partition's rows (row << shift | bucket in the partition) in
// frame order, at [start[q], start[q + 1]) like the values and the times.
template <class Row>
struct PartitionGrouping {
    const Partitions& parts;
    const Columns& columns;
    GroupedRows& out;
    std::uint64_t buckets;
    Row* members;

    std::uint64_t from(std::uint64_t q) const noexcept { return parts.start[q]; }
    std::size_t size(std::uint64_t q) const noexcept { return parts.start[q + 1] - parts.start[q]; }
    std::uint64_t local_buckets(std::uint64_t q) const noexcept {
        return std::min<std::uint64_t>(parts.local_mask + 1, buckets - (q << parts.shift));
    }

    // Writes the partition's groups' starts and first rows; a time problem
    // if one of its times is null or NaN.
    template <class T, class Times>
    std::pair<TimeProblem, Layout> arrange(std::uint64_t q, const Times& time) const {
        const std::uint64_t from = this->from(q);
        const std::size_t size = this->size(q);
        const std::uint64_t base = q << parts.shift;
        const std::uint64_t groups = local_buckets(q);
        Row* own = members + from;
        BucketCounts<T> counts(groups);
        TimeProblem problem = TimeProblem::none;
        for (std::size_t i = 0; i < size; ++i) {
            if (!counts.add(own[i] & parts.local_mask, i, time, problem)) return {problem, Layout::in_place};
        }
        bool any_unsorted = false;
        std::uint64_t filled = 0;
        std::uint64_t at = 0;
        for (std::uint64_t b = 0; b < groups; ++b) {
            const std::uint64_t n = counts.count[b];
            out.start[base + b] = from + at;
            if (n != 0) {
                out.first_row[base + b] = static_cast<std::int64_t>(own[counts.first_row[b]] >> parts.shift);
                ++filled;
            }
            counts.count[b] = at;
            at += n;
            any_unsorted |= counts.unsorted[b] != 0;
        }
        if (!any_unsorted) return {TimeProblem::none, filled <= 1 ? Layout::in_place : Layout::by_group};
        RowBuffer<Row> order = order_by_group_and_time<Row, T>(own, size, parts.local_mask, counts.count.get(), groups,
                                                               time);
        std::memcpy(own, order.get(), size * sizeof(Row));
        return {TimeProblem::none, Layout::reordered};
    }

    // Moves every column's staged values to their places; whether one is NaN.
    bool place(std::uint64_t q, Layout layout) const {
        const std::uint64_t from = this->from(q);
        const std::size_t size = this->size(q);
        const Row* own = members + from;
        bool seen = false;
        if (layout == Layout::in_place) {
            for (const double* target : columns.targets) {
                for (std::size_t i = 0; i < size; ++i) seen |= target[from + i] != target[from + i];
            }
            return seen;
        }
        RowBuffer<double> scratch = row_buffer<double>(size);
        std::vector<std::uint64_t> group_start;
        if (layout == Layout::by_group) {
            const std::uint64_t base = q << parts.shift;
            group_start.resize(local_buckets(q));
            for (std::uint64_t b = 0; b < group_start.size(); ++b) group_start[b] = out.start[base + b] - from;
        }
        std::vector<std::uint64_t> cursor(group_start.size());
        for (double* const whole : columns.targets) {
            double* target = whole + from;
            std::memcpy(scratch.get(), target, size * sizeof(double));
            if (layout == Layout::by_group) {
                std::copy(group_start.begin(), group_start.end(), cursor.begin());
                for (std::size_t i = 0; i < size; ++i) {
                    const double v = scratch[i];
                    seen |= v != v;
                    target[cursor[own[i] & parts.local_mask]++] = v;
                }
            } else {
                for (std::size_t i = 0; i < size; ++i) {
                    const double v = scratch[own[i]];
                    seen |= v != v;
                    target[i] = v;
                }
            }
        }
        return seen;
    }
};

template <class T, class Row, class Key>
GroupedRows group_many(Keys<Key>& input, const TimeReader<T>& time, const Columns& columns,
                       pool::Interruption& interruption) {
    const std::size_t rows = input.rows;
    GroupedRows out = empty_result(input.buckets);
    out.start[input.buckets] = rows;
    const std::size_t pieces = piece_count(rows);
    const Partitions parts = count_partitions(input, pieces, interruption);
    RowBuffer<Row> members = row_list<Row>(input);
    const Stream rows_and_buckets{members.get(), [&](std::size_t r, std::uint64_t k) {
        return static_cast<Row>((std::uint64_t{r} << parts.shift) | (k & parts.local_mask));
    }};
    const PartitionGrouping<Row> grouping{parts, columns, out, input.buckets, members.get()};
    auto stage_values = [&] {
        for (std::size_t c = 0; c < columns.sources.size(); ++c) {
            const double* source = columns.sources[c];
            partition_streams(input, parts, pieces, interruption,
                              Stream{columns.targets[c], [&](std::size_t r, std::uint64_t) { return source[r]; }});
        }
    };
    std::vector<std::uint8_t> nan(parts.count, 0);
    if constexpr (std::is_same_v<T, NoTime>) {
        partition_streams(input, parts, pieces, interruption, rows_and_buckets);
        stage_values();
        run_row_tasks(parts.count, [&](std::size_t q, const Checkpoint& checkpoint) {
            if (checkpoint.stop()) return;
            nan[q] = grouping.place(q, grouping.template arrange<T>(q, time).second);
        }, interruption);
    } else {
        // The times are staged first, in the first target (so that they
        // take no memory of their own), and every partition arranged by
        // them; then the values take their place.
        RowBuffer<double> spare;
        if (columns.targets.empty()) spare = row_buffer<double>(rows);
        double* staging = columns.targets.empty() ? spare.get() : columns.targets[0];
        partition_streams(input, parts, pieces, interruption, rows_and_buckets,
                          Stream{staging, [&](std::size_t r, std::uint64_t) { return std::bit_cast<double>(time.at(r)); }});
        std::vector<TimeProblem> problems(parts.count, TimeProblem::none);
        std::vector<Layout> layouts(parts.count, Layout::in_place);
        run_row_tasks(parts.count, [&](std::size_t q, const Checkpoint& checkpoint) {
            if (checkpoint.stop()) return;
            const StagedTimes<T> staged{staging + grouping.from(q), time};
            std::tie(problems[q], layouts[q]) = grouping.template arrange<T>(q, staged);
        }, interruption);
        out.time_problem = first_problem(problems);
        if (out.time_problem != TimeProblem::none) return out;
        stage_values();
        run_row_tasks(parts.count, [&](std::size_t q, const Checkpoint& checkpoint) {
            if (checkpoint.stop()) return;
            nan[q] = grouping.place(q, layouts[q]);
        }, interruption);
    }
    out.any_nan = std::find(nan.begin(), nan.end(), 1) != nan.end();
    return out;
}

template <class T, class Key>
GroupedRows group_keys(Keys<Key>& input, const TimeReader<T>& time, const Columns& columns,
                       pool::Interruption& interruption) {
    if (input.buckets <= few_buckets) {
        const bool narrow_rows = input.rows <= std::numeric_limits<std::uint32_t>::max();
        std::optional<GroupedRows> few = narrow_rows ? group_few<T, std::uint32_t>(input, time, columns, interruption)
                                                     : group_few<T, std::uint64_t>(input, time, columns, interruption);
        if (few) return std::move(*few);
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
