#pragma once

#include "features/common/series_view.hpp"
#include "features/minimal/kernels/median_candidates.hpp"

namespace orven::features::minimal::kernels {

// The second read of a series: Q, the sequential sum of the squared
// deviations from the mean (each square rounded before it is added), and/or
// the median's candidates.  Q is one latency-bound chain, which leaves room
// in the same loop for the candidates' compares and stores.
template <bool deviations, bool candidates>
double second_pass(common::SeriesView series, double mean, MedianCandidates* collector) {
    double total = -0.0;
    MedianCandidates local = candidates ? *collector : MedianCandidates({0.0, 0.0}, nullptr);
    for (const double value : series) {
        if constexpr (deviations) {
            const double deviation = value - mean;
            total += deviation * deviation;
        }
        if constexpr (candidates) {
            local.take(value);
        }
    }
    if constexpr (candidates) {
        *collector = local;
    }
    return total;
}

}  // namespace orven::features::minimal::kernels
