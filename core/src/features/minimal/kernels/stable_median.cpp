#include "features/minimal/kernels/stable_median.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "features/minimal/kernels/moments.hpp"

namespace orven::features::minimal::kernels {
namespace {

// The zeros of the series at ranks `rank` and `rank + 1` among its zeros,
// counted in series order from 0.  In a stable ascending order the zeros
// (of either sign, since they compare equal) stand together in series
// order right after the negative elements, so these are the elements at
// stable positions L + rank and L + rank + 1, L the count of negatives.
std::array<double, 2> zeros_in_series_order(common::SeriesView series, std::size_t rank) {
    std::array<double, 2> found{0.0, 0.0};
    std::size_t seen = 0;
    for (const double value : series) {
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

double stable_median(common::SeriesView series) {
    const std::size_t n = series.size();
    if (n == 0) {
        return positive_quiet_nan;
    }
    if (n == 1) {
        return series[0];
    }
    // The working copy; selection only needs values, so any order of equal
    // elements will do here, and the zero sign is settled from the series.
    std::vector<double> copy(series.begin(), series.end());
    const std::size_t h = n / 2;
    const auto middle = copy.begin() + static_cast<std::ptrdiff_t>(h);
    std::nth_element(copy.begin(), middle, copy.end());
    // Now every element before `middle` is <= it and every one after is >=.
    const double upper = *middle;
    const double lower = n % 2 == 0 ? *std::max_element(copy.begin(), middle) : upper;
    if (upper == 0.0 && lower == 0.0) {
        // Which zeros stand at positions h - 1 and h of the stable order:
        // all negatives precede position h, so they lie before `middle`.
        const auto negatives = static_cast<std::size_t>(
            std::count_if(copy.begin(), middle, [](double value) { return value < 0.0; }));
        if (n % 2 == 1) {
            return zeros_in_series_order(series, h - negatives)[0];
        }
        const auto pair = zeros_in_series_order(series, h - 1 - negatives);
        return (pair[0] + pair[1]) * 0.5;
    }
    if (n % 2 == 1) {
        return upper;
    }
    // At most one of the two is a zero, and adding a zero of either sign to
    // a non-zero value gives that value: the sign of the zero is moot.
    return (lower + upper) * 0.5;
}

}  // namespace orven::features::minimal::kernels
