#include "features/minimal/kernels/moments.hpp"

#include "features/minimal/kernels/second_pass.hpp"

namespace orven::features::minimal::kernels {
namespace {

template <bool with_candidates>
double variance_pass(common::SeriesView series, double sum, MedianCandidates* candidates) {
    if (series.empty()) {
        return positive_quiet_nan;
    }
    const double count = count_of(series);
    return second_pass<with_candidates>(series, mean_of(sum, count), candidates) / count;
}

}  // namespace

double population_variance(common::SeriesView series, double sum) {
    return variance_pass<false>(series, sum, nullptr);
}

double population_variance(common::SeriesView series, double sum,
                           MedianCandidates& median_candidates) {
    return variance_pass<true>(series, sum, &median_candidates);
}

}  // namespace orven::features::minimal::kernels
