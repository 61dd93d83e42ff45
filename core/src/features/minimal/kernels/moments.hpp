#pragma once

#include <cmath>
#include <cstdint>

#include "features/common/series_view.hpp"
#include "features/minimal/kernels/median_candidates.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::minimal::kernels {

// The quiet NaN with the sign bit clear (0x7ff8000000000000): the variance
// and the median of the empty series.
inline constexpr double positive_quiet_nan = __builtin_nan("");

// N: the element count converted to the nearest double.
inline double count_of(common::SeriesView series) {
    return static_cast<double>(static_cast<std::uint64_t>(series.size()));
}

// S / N; for the empty series -0.0 / 0.0, a NaN.
inline double mean_of(double sum, double count) { return lanes::divide(sum, count); }

// sqrt(R / N); for the empty series the root of -0.0 / 0.0.
inline double root_mean_square_of(double sum_of_squares, double count) {
    return std::sqrt(lanes::divide(sum_of_squares, count));
}

// The population variance Q / N around the mean S / N, given S from a
// first pass; Q is the second pass.  The quiet positive NaN for the empty
// series, which is not read again.
double population_variance(common::SeriesView series, double sum);

// The same, feeding the median's candidates from the same pass.
double population_variance(common::SeriesView series, double sum,
                           MedianCandidates& median_candidates);

inline double standard_deviation_of(double variance) { return std::sqrt(variance); }

}  // namespace orven::features::minimal::kernels
