#pragma once

#include <emmintrin.h>

#include <cstddef>

#include "features/common/series_view.hpp"
#include "features/minimal/kernels/median_candidates.hpp"

namespace orven::features::minimal::kernels {

// The second read of a series: Q, the sequential sum of the squared
// deviations from the mean (each square rounded before it is added), and/or
// the median's candidates.  Q is one latency-bound chain, which leaves room
// in the same loop for the candidates' compares and stores.
template <bool deviations, bool candidates>
double second_pass(common::SeriesView series, double mean, MedianCandidates* collector) {
    const double* x = series.data();
    const std::size_t n = series.size();
    double total = -0.0;
    MedianCandidates local = candidates ? *collector : MedianCandidates({0.0, 0.0}, nullptr);
    const __m128d centre = _mm_set1_pd(mean);
    std::size_t i = 0;
    // Two elements per step: the deviations and squares side by side (each
    // rounded on its own), the additions one after the other.
    for (; n - i >= 2; i += 2) {
        const __m128d pair = _mm_loadu_pd(x + i);
        if constexpr (deviations) {
            const __m128d deviation = _mm_sub_pd(pair, centre);
            const __m128d square = _mm_mul_pd(deviation, deviation);
            total += _mm_cvtsd_f64(square);
            total += _mm_cvtsd_f64(_mm_unpackhi_pd(square, square));
        }
        if constexpr (candidates) {
            local.take_pair(pair);
        }
    }
    for (; i < n; ++i) {
        const double value = x[i];
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
