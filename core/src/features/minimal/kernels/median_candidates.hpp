#pragma once

#include <emmintrin.h>

#include <cstddef>

#include "features/minimal/kernels/median_window.hpp"

namespace orven::features::minimal::kernels {

// Collects the elements of a series that fall inside a median window and
// counts those below it, one element at a time, so that a pass that reads
// the series for another purpose can feed it too.  No branch depends on the
// data: every element is stored, and the count advances when it belongs.
class MedianCandidates {
public:
    // `out` has room for every element of the series.
    MedianCandidates(MedianWindow window, double* out)
        : window_(window),
          low_(_mm_set1_pd(window.low)),
          high_(_mm_set1_pd(window.high)),
          out_(out) {}

    void take(double value) {
        out_[kept_] = value;
        kept_ += (value >= window_.low) & (value <= window_.high);
        below_ += value < window_.low;
    }

    // Two consecutive elements at once, in their order.
    void take_pair(__m128d pair) {
        const __m128d inside = _mm_and_pd(_mm_cmpge_pd(pair, low_), _mm_cmple_pd(pair, high_));
        const int mask = _mm_movemask_pd(inside);
        _mm_storel_pd(out_ + kept_, pair);
        kept_ += static_cast<std::size_t>(mask & 1);
        _mm_storeh_pd(out_ + kept_, pair);
        kept_ += static_cast<std::size_t>(mask >> 1);
        // A lane's all-ones mask counts as -1.
        below_lanes_ = _mm_sub_epi64(below_lanes_, _mm_castpd_si128(_mm_cmplt_pd(pair, low_)));
    }

    MedianWindow window() const { return window_; }
    std::size_t kept() const { return kept_; }
    std::size_t below() const {
        return below_ + static_cast<std::size_t>(_mm_cvtsi128_si64(below_lanes_)) +
               static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(below_lanes_, below_lanes_)));
    }

private:
    MedianWindow window_;
    __m128d low_;
    __m128d high_;
    double* out_;
    std::size_t kept_ = 0;
    std::size_t below_ = 0;
    __m128i below_lanes_ = _mm_setzero_si128();
};

}  // namespace orven::features::minimal::kernels
