#pragma once

#include <emmintrin.h>

#include <limits>

#include "features/minimal/kernels/extrema.hpp"

namespace orven::features::minimal::kernels {

// The block phase of the extrema: four partial results per extremum, fed
// one block of four consecutive elements at a time, partial j taking
// element j of every block.  Partials 0 and 1 live in one SSE2 register and
// 2 and 3 in another; a block holding a NaN is refused whole, and one test
// covers its four elements.
//
// maxpd(a, b) yields a where a > b and b otherwise (b also on a tie or a
// NaN), which is exactly step(acc, v) = v > acc ? v : acc as maxpd(v, acc),
// and join(p, q) = p > q ? p : q as maxpd(p, q); likewise minpd.
class ExtremaBlocks {
public:
    // Whether a block, given as its elements (0, 1) and (2, 3), holds a NaN.
    static bool holds_nan(__m128d low, __m128d high) {
        const __m128d unordered = _mm_or_pd(_mm_cmpunord_pd(low, low), _mm_cmpunord_pd(high, high));
        return _mm_movemask_pd(unordered) != 0;
    }

    // Folds a block without NaN, given as its elements (0, 1) and (2, 3).
    void fold(__m128d low, __m128d high) {
        max_low_ = _mm_max_pd(low, max_low_);
        max_high_ = _mm_max_pd(high, max_high_);
        min_low_ = _mm_min_pd(low, min_low_);
        min_high_ = _mm_min_pd(high, min_high_);
        abs_low_ = _mm_max_pd(_mm_andnot_pd(sign_mask(), low), abs_low_);
        abs_high_ = _mm_max_pd(_mm_andnot_pd(sign_mask(), high), abs_high_);
    }

    // Joins the partials: A = join(P2, P0), B = join(P3, P1), then
    // join(B, A).  (P2, P3) against (P0, P1) gives (A, B) in one operation.
    Extrema joined() const {
        return Extrema{
            join_max(_mm_max_pd(max_high_, max_low_)),
            join_min(_mm_min_pd(min_high_, min_low_)),
            join_max(_mm_max_pd(abs_high_, abs_low_)),
        };
    }

private:
    static __m128d sign_mask() { return _mm_set1_pd(-0.0); }

    static double join_max(__m128d a_b) {
        return _mm_cvtsd_f64(_mm_max_sd(_mm_unpackhi_pd(a_b, a_b), a_b));
    }
    static double join_min(__m128d a_b) {
        return _mm_cvtsd_f64(_mm_min_sd(_mm_unpackhi_pd(a_b, a_b), a_b));
    }

    static constexpr double inf = std::numeric_limits<double>::infinity();

    __m128d max_low_ = _mm_set1_pd(-inf);
    __m128d max_high_ = _mm_set1_pd(-inf);
    __m128d min_low_ = _mm_set1_pd(inf);
    __m128d min_high_ = _mm_set1_pd(inf);
    __m128d abs_low_ = _mm_set1_pd(-inf);
    __m128d abs_high_ = _mm_set1_pd(-inf);
};

}  // namespace orven::features::minimal::kernels
