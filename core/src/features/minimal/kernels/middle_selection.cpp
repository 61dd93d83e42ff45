#include "features/minimal/kernels/middle_selection.hpp"

#include <algorithm>
#include <bit>
#include <utility>

namespace orven::features::minimal::kernels {
namespace {

// Ranges this short are simply sorted.
constexpr std::size_t short_range = 16;

// Splits source[0, count) into target: the elements for which `lower` holds
// to the front, the rest to the back, and returns how many went to the
// front.  Every element is written to both free ends and the one that
// matches advances, so the loop has no data-dependent branch.
template <typename Lower>
std::size_t split(const double* source, double* target, std::size_t count, Lower lower) {
    std::size_t front = 0;
    std::size_t back = count;
    for (std::size_t i = 0; i < count; ++i) {
        const double value = source[i];
        const bool goes_front = lower(value);
        target[front] = value;
        target[back - 1] = value;
        front += goes_front ? 1 : 0;
        back -= goes_front ? 0 : 1;
    }
    return front;
}

double median_of_three(double a, double b, double c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

double smallest(const double* values, std::size_t count) {
    return *std::min_element(values, values + count);
}

double largest(const double* values, std::size_t count) {
    return *std::max_element(values, values + count);
}

}  // namespace

MiddleValues select_middle(double* values, double* scratch, std::size_t count, std::size_t rank,
                           bool pair) {
    // Invariant: values[0, count) holds the elements whose ranks are still
    // open, `rank` counted within them; scratch is free at the same offsets.
    std::size_t want = rank + (pair ? 1 : 0);  // the higher wanted rank
    std::size_t rounds_left = 2 * static_cast<std::size_t>(std::bit_width(count)) + 8;
    while (count > short_range) {
        if (rounds_left-- == 0) {
            // Pivots keep failing: finish with the library's introselect.
            std::nth_element(values, values + rank, values + count);
            const double lower = values[rank];
            return {lower, pair ? smallest(values + rank + 1, count - rank - 1) : lower};
        }
        const double pivot =
            median_of_three(values[count / 4], values[count / 2], values[count - 1 - count / 4]);
        std::size_t below = split(values, scratch, count, [pivot](double v) { return v < pivot; });
        std::swap(values, scratch);
        if (below == 0) {
            // The pivot is the least element: set its copies apart instead.
            below = split(values, scratch, count, [pivot](double v) { return v <= pivot; });
            std::swap(values, scratch);
            if (want < below) {
                return {pivot, pivot};
            }
            if (rank < below) {  // rank + 1 == below
                return {pivot, smallest(values + below, count - below)};
            }
        } else {
            if (want < below) {
                count = below;
                continue;
            }
            if (rank < below) {  // the pair straddles the split
                return {largest(values, below), smallest(values + below, count - below)};
            }
        }
        values += below;
        scratch += below;
        count -= below;
        rank -= below;
        want -= below;
    }
    std::sort(values, values + count);
    return {values[rank], values[want]};
}

}  // namespace orven::features::minimal::kernels
