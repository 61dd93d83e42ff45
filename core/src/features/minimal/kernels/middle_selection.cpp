// The values at the middle ranks of an ascending order, by selection: the
// one selection of both medians, the short one on a stack copy and the
// windowed one among its candidates (or, where the window missed, among all
// elements).
//
// Algorithm: quickselect (C. A. R. Hoare, "Algorithm 65: FIND", CACM 4(7),
// 1961) over two buffers, with a median-of-three pivot taken from the
// elements at a quarter, a half and three quarters of the range, so that
// sorted and reversed input split evenly.  Each round moves the side of the
// pivot that holds the wanted ranks into the other buffer: a range of up to
// `split_range` elements is split there in one pass that stores every
// element at both ends (few passes, for short ranges where a loop's start
// and end cost most); a longer one is first counted against the pivot and
// then only the kept side is copied (fewer stores, for long ranges where
// memory traffic costs most).  Where none is below the pivot, its copies
// are set apart instead, so that a run of one value ends the search at once
// instead of shrinking the range by one element a round; where the two
// wanted ranks straddle the pivot, one more read finds both.  Every pass is
// branch-free (each element is stored, an end advances when it belongs),
// since on random data a branch on each comparison is mispredicted half
// the time.  Ranges of at most `sorted_range` elements, from the start or
// once the rounds have narrowed them, are sorted by a sorting network
// (sorting_network.hpp): its fixed compare-exchanges beat insertion sort,
// whose branches a random order mispredicts (10 values: 44 ns against 84).
//
// Cost: O(n) expected, each round reading its range once or twice and
// keeping about half of it or less.  Worst case: median-of-three killer
// inputs make the rounds quadratic, so after a budget of 2 log2(n) + 8
// rounds the rest is left to the library's introselect (std::nth_element,
// O(n log n) at worst).  Memory: the caller's two buffers of n doubles,
// nothing allocated.
//
// Bits: only the values at the middle ranks come out; equal values other
// than zeros are indistinguishable, so only a zero in the middle needs the
// stable order, where the zeros (of either sign) stand in series order
// right after the negative elements: median_from_middle reads them there.

#include "features/minimal/kernels/middle_selection.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <utility>

#include "features/common/element_read.hpp"
#include "features/minimal/kernels/sorting_network.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::minimal::kernels {
namespace {

// Ranges this short are sorted by the network.
constexpr std::size_t sorted_range = network_sorted_range;

// Ranges up to this size are split in one pass, longer ones counted first.
constexpr std::size_t split_range = 256;

constexpr double inf = std::numeric_limits<double>::infinity();

// How many of values[0, count) lie below `pivot` (or at most at it, with
// `inclusive`): two lanes at a time.
template <bool inclusive>
std::size_t count_up_to(const double* values, std::size_t count, double pivot) {
    const lanes::Pair bound = lanes::splat(pivot);
    lanes::Tally tally = lanes::zero_tally();
    std::size_t i = 0;
    for (; count - i >= 2; i += 2) {
        const lanes::Pair pair = lanes::load(values + i);
        tally = lanes::count(tally, inclusive ? lanes::less_equal(pair, bound) : lanes::less(pair, bound));
    }
    std::size_t total = lanes::total(tally);
    for (; i < count; ++i) {
        total += inclusive ? values[i] <= pivot : values[i] < pivot;
    }
    return total;
}

// Splits source[0, count) into target: the elements for which `low` holds
// to the front, in their order, the others to the back, and returns how
// many are in front.  Each element is stored at both ends and the end that
// it belongs to advances, so no branch depends on the data.
template <typename Low>
std::size_t split(const double* source, double* target, std::size_t count, Low low) {
    std::size_t front = 0;
    std::size_t back = count;
    for (std::size_t i = 0; i < count; ++i) {
        const double value = source[i];
        target[front] = value;
        target[back - 1] = value;
        const bool in_front = low(value);
        front += in_front ? 1 : 0;
        back -= in_front ? 0 : 1;
    }
    return front;
}

// Copies the elements of source[0, count) for which `keep` holds to the
// front of target.  Every element is stored and the end advances when it
// belongs, so no branch depends on the data.
template <typename Keep>
void keep_only(const double* source, double* target, std::size_t count, Keep keep) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double value = source[i];
        target[end] = value;
        end += keep(value) ? 1 : 0;
    }
}

// The largest element below `pivot` and the smallest one at or above it.
MiddleValues around(const double* values, std::size_t count, double pivot) {
    double below = -inf;
    double above = inf;
    for (std::size_t i = 0; i < count; ++i) {
        const double value = values[i];
        const bool low = value < pivot;
        below = std::max(below, low ? value : -inf);
        above = std::min(above, low ? inf : value);
    }
    return {below, above};
}

// The smallest element above `pivot`.
double least_above(const double* values, std::size_t count, double pivot) {
    double least = inf;
    for (std::size_t i = 0; i < count; ++i) {
        least = std::min(least, values[i] > pivot ? values[i] : inf);
    }
    return least;
}

double median_of_three(double a, double b, double c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

std::size_t count_negatives(common::SeriesView series) {
    std::size_t negatives = 0;
    for (std::size_t i = 0; i < series.size(); ++i) {
        negatives += common::element_at(series, i) < 0.0;
    }
    return negatives;
}

// The zeros of the series at ranks `rank` and `rank + 1` among its zeros,
// counted in series order from 0.
std::array<double, 2> zeros_in_series_order(common::SeriesView series, std::size_t rank) {
    std::array<double, 2> found{0.0, 0.0};
    std::size_t seen = 0;
    for (std::size_t i = 0; i < series.size(); ++i) {
        const double value = common::element_at(series, i);
        if (value == 0.0) {
            if (seen == rank) {
                found[0] = value;
            } else if (seen == rank + 1) {
                found[1] = value;
                break;
            }
            ++seen;
        }
    }
    return found;
}

}  // namespace

MiddleValues select_middle(double* values, double* scratch, std::size_t count, std::size_t rank,
                           bool pair) {
    // Invariant: values[0, count) holds the elements whose ranks are still
    // open, `rank` and `want` counted within them; scratch is free.
    std::size_t want = rank + (pair ? 1 : 0);  // the higher wanted rank
    std::size_t rounds_left = 2 * static_cast<std::size_t>(std::bit_width(count)) + 8;
    while (count > sorted_range) {
        if (rounds_left-- == 0) {
            // Pivots keep failing: finish with the library's introselect.
            std::nth_element(values, values + rank, values + count);
            const double lower = values[rank];
            return {lower, pair ? *std::min_element(values + rank + 1, values + count) : lower};
        }
        const double pivot =
            median_of_three(values[count / 4], values[count / 2], values[count - 1 - count / 4]);
        const auto less = [pivot](double v) { return v < pivot; };
        const auto at_most = [pivot](double v) { return v <= pivot; };
        // A short range is split into scratch at once; a long one is
        // counted, and only the side that is kept is copied below.
        const bool split_now = count <= split_range;
        // Makes scratch[from, from + size) the range, copying the elements
        // that satisfy `keep` there first unless the split put them there.
        const auto narrow = [&](std::size_t from, std::size_t size, auto keep) {
            if (!split_now) {
                keep_only(values, scratch + from, count, keep);
            }
            values = std::exchange(scratch, values) + from;
            count = size;
        };
        const std::size_t below = split_now ? split(values, scratch, count, less)
                                            : count_up_to<false>(values, count, pivot);
        if (below == 0) {
            // The pivot is the least element: set its copies apart.
            const std::size_t through = split_now ? split(values, scratch, count, at_most)
                                                  : count_up_to<true>(values, count, pivot);
            if (want < through) {
                return {pivot, pivot};
            }
            if (rank < through) {  // rank + 1 == through
                return {pivot, least_above(values, count, pivot)};
            }
            narrow(split_now ? through : 0, count - through, [pivot](double v) { return v > pivot; });
            rank -= through;
            want -= through;
        } else if (want < below) {
            narrow(0, below, less);
        } else if (rank >= below) {
            narrow(split_now ? below : 0, count - below, [pivot](double v) { return v >= pivot; });
            rank -= below;
            want -= below;
        } else {  // rank + 1 == below == want: the pair straddles the pivot
            return around(values, count, pivot);
        }
    }
    network_sort(values, count);
    return {values[rank], values[want]};
}

double median_from_middle(common::SeriesView series, MiddleValues middle, std::size_t rank,
                          bool pair) {
    if (middle.lower == 0.0 && middle.upper == 0.0) {
        const auto zeros = zeros_in_series_order(series, rank - count_negatives(series));
        return pair ? (zeros[0] + zeros[1]) * 0.5 : zeros[0];
    }
    // At most one of a pair is a zero now, and a zero of either sign added
    // to a non-zero value gives that value: its sign is moot.
    return pair ? lanes::add(middle.lower, middle.upper) * 0.5 : middle.lower;
}

}  // namespace orven::features::minimal::kernels
