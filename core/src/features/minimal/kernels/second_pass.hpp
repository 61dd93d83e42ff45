#pragma once

#include <cstddef>

#include "features/common/element_read.hpp"
#include "features/common/series_view.hpp"
#include "features/minimal/kernels/median_candidates.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::minimal::kernels {

// The second read of a series: Q, the sequential sum of the squared
// deviations from the mean (each square rounded before it is added), and,
// with `candidates`, the median's candidates.  Q is one latency-bound chain,
// which leaves room in the same loop for the candidates' compares and stores.
template <bool candidates>
double second_pass(common::SeriesView series, double mean, MedianCandidates* collector) {
    const double* x = series.data();
    const std::size_t n = series.size();
    double total = -0.0;
    MedianCandidates local = candidates ? *collector : MedianCandidates({0.0, 0.0}, nullptr);
    const lanes::Pair centre = lanes::splat(mean);
    std::size_t i = 0;
    // Two elements per step: the deviations and squares side by side (each
    // rounded on its own), the additions one after the other.
    for (; n - i >= 2; i += 2) {
        const lanes::Pair pair = lanes::load(x + i);
        const lanes::Pair deviation = lanes::subtract(pair, centre);
        const lanes::Pair square = lanes::multiply(deviation, deviation);
        total += lanes::low(square);
        total += lanes::high(square);
        if constexpr (candidates) {
            local.take_pair(pair);
        }
    }
    for (; i < n; ++i) {
        const double value = common::element_at(x, i);
        const double deviation = lanes::subtract(value, mean);
        total += deviation * deviation;
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
