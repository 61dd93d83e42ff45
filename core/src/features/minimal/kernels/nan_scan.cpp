#include "features/minimal/kernels/nan_scan.hpp"

#include <emmintrin.h>

#include <cstddef>

namespace orven::features::minimal::kernels {

bool holds_nan(common::SeriesView series) {
    const double* x = series.data();
    const std::size_t n = series.size();
    std::size_t i = 0;
    // Eight elements per test: the unordered compares are cheap, the branch
    // is what costs.
    for (; n - i >= 8; i += 8) {
        const __m128d a = _mm_loadu_pd(x + i);
        const __m128d b = _mm_loadu_pd(x + i + 2);
        const __m128d c = _mm_loadu_pd(x + i + 4);
        const __m128d d = _mm_loadu_pd(x + i + 6);
        const __m128d unordered = _mm_or_pd(_mm_or_pd(_mm_cmpunord_pd(a, a), _mm_cmpunord_pd(b, b)),
                                            _mm_or_pd(_mm_cmpunord_pd(c, c), _mm_cmpunord_pd(d, d)));
        if (_mm_movemask_pd(unordered) != 0) {
            return true;
        }
    }
    for (; i < n; ++i) {
        if (x[i] != x[i]) {
            return true;
        }
    }
    return false;
}

}  // namespace orven::features::minimal::kernels
