#include "features/minimal/kernels/middle_selection.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <utility>

#include "features/common/element_read.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::minimal::kernels {
namespace {

// Ranges this short are simply sorted.
constexpr std::size_t short_range = 16;

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
    // open, `rank` and `want` counted within them; scratch is free.  Each
    // round counts against a pivot first and then copies only the side
    // that holds the wanted ranks.
    std::size_t want = rank + (pair ? 1 : 0);  // the higher wanted rank
    std::size_t rounds_left = 2 * static_cast<std::size_t>(std::bit_width(count)) + 8;
    while (count > short_range) {
        if (rounds_left-- == 0) {
            // Pivots keep failing: finish with the library's introselect.
            std::nth_element(values, values + rank, values + count);
            const double lower = values[rank];
            return {lower, pair ? *std::min_element(values + rank + 1, values + count) : lower};
        }
        const double pivot =
            median_of_three(values[count / 4], values[count / 2], values[count - 1 - count / 4]);
        const std::size_t below = count_up_to<false>(values, count, pivot);
        if (below == 0) {
            // The pivot is the least element: set its copies apart.
            const std::size_t through = count_up_to<true>(values, count, pivot);
            if (want < through) {
                return {pivot, pivot};
            }
            if (rank < through) {  // rank + 1 == through
                return {pivot, least_above(values, count, pivot)};
            }
            keep_only(values, scratch, count, [pivot](double v) { return v > pivot; });
            count -= through;
            rank -= through;
            want -= through;
        } else if (want < below) {
            keep_only(values, scratch, count, [pivot](double v) { return v < pivot; });
            count = below;
        } else if (rank >= below) {
            keep_only(values, scratch, count, [pivot](double v) { return v >= pivot; });
            count -= below;
            rank -= below;
            want -= below;
        } else {  // rank + 1 == below == want: the pair straddles the pivot
            return around(values, count, pivot);
        }
        std::swap(values, scratch);
    }
    std::sort(values, values + count);
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
