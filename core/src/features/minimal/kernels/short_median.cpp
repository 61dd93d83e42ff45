// The median of a short series by selection on a stack copy.
//
// Algorithm: quickselect (C. A. R. Hoare, "Algorithm 65: FIND", CACM 4(7),
// 1961) with a median-of-three pivot; each round splits the range into the
// elements below the pivot and the rest, and where none is below, into the
// pivot's copies and the rest, so that runs of one value end the search at
// once instead of shrinking the range by one element a round.  Both splits
// are branch-free Lomuto partitions (every element is swapped, the boundary
// advances when it belongs), since on random data a branch on each
// comparison is mispredicted half the time.  Ranges of at most
// `sorted_range` elements, and any range still open after a budget of
// rounds, are finished by insertion sort.
//
// Cost: O(n) expected; worst case O(n^2) comparisons (median-of-three
// killer inputs, or the insertion sort after the budget), which the length
// limit bounds at a few tens of thousands.  Memory: one stack array of
// `short_median_limit` doubles, nothing on the heap.
//
// Bits: the selection yields the values at the middle ranks of the
// ascending order; equal values other than zeros are indistinguishable, so
// only a zero in the middle needs the stable order, where the zeros (of
// either sign) stand in series order right after the negative elements.

#include "features/minimal/kernels/short_median.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <string>
#include <utility>

#include "fatal/fatal_error.hpp"

#include "features/common/element_read.hpp"
#include "features/minimal/kernels/middle_selection.hpp"
#include "features/minimal/kernels/moments.hpp"

namespace orven::features::minimal::kernels {
namespace {

constexpr std::size_t sorted_range = 8;

// Ascending and stable, so it never moves an element past an equal one.
void insertion_sort(double* values, std::size_t count) {
    for (std::size_t i = 1; i < count; ++i) {
        const double value = values[i];
        std::size_t j = i;
        while (j > 0 && values[j - 1] > value) {
            values[j] = values[j - 1];
            --j;
        }
        values[j] = value;
    }
}

// Moves the elements of values[0, count) that satisfy `front` ahead of the
// others and returns how many there are.  Each element is swapped with the
// first one not yet known to belong in front: where it does not belong
// either, that swap exchanges two elements of the back part.
template <typename Front>
std::size_t partition(double* values, std::size_t count, Front front) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double value = values[i];
        values[i] = values[end];
        values[end] = value;
        end += front(value) ? 1 : 0;
    }
    return end;
}

double median_of_three(double a, double b, double c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Leaves at values[rank] the element of that rank in the ascending order of
// values[0, count) (no NaN), every element before it no greater and every
// element after it no smaller.
void select_rank(double* values, std::size_t count, std::size_t rank) {
    std::size_t low = 0;
    std::size_t high = count;
    int budget = 2 * static_cast<int>(std::bit_width(count));
    while (high - low > sorted_range && budget-- > 0) {
        const std::size_t size = high - low;
        double* range = values + low;
        const double pivot = median_of_three(range[0], range[size / 2], range[size - 1]);
        const std::size_t less = low + partition(range, size, [&](double v) { return v < pivot; });
        if (rank < less) {
            high = less;  // the pivot itself is not below it: the range shrinks
        } else if (less > low) {
            low = less;
        } else {
            // The pivot is the least of the range: set its copies apart, so
            // that a run of one value ends the search instead of shrinking
            // the range by one element a round.
            const std::size_t equal =
                low + partition(range, size, [&](double v) { return v == pivot; });
            if (rank < equal) {
                return;  // values[rank] is the pivot
            }
            low = equal;
        }
    }
    insertion_sort(values + low, high - low);
}

// The smallest of values[0, count), count >= 1.
double least(const double* values, std::size_t count) {
    double smallest = values[0];
    for (std::size_t i = 1; i < count; ++i) {
        smallest = std::min(smallest, values[i]);
    }
    return smallest;
}

}  // namespace

double short_median(common::SeriesView series) {
    const std::size_t n = series.size();
    if (n == 0) {
        return positive_quiet_nan;
    }
    if (n == 1) {
        return common::element_at(series, 0);
    }
    if (n > short_median_limit) {
        // The stack copy has room for short series only; callers dispatch
        // on the limit, so getting here is a fault of ours, not of the data.
        fatal::raise("short median called with " + std::to_string(n) + " elements");
    }
    std::array<double, short_median_limit> copy;
    common::copy_elements(series, copy.data());

    const bool pair = n % 2 == 0;
    const std::size_t rank = pair ? n / 2 - 1 : n / 2;  // the lower middle
    select_rank(copy.data(), n, rank);
    const double lower = copy[rank];
    const double upper = pair ? least(copy.data() + rank + 1, n - rank - 1) : lower;

    return median_from_middle(series, MiddleValues{lower, upper}, rank, pair);
}

}  // namespace orven::features::minimal::kernels
