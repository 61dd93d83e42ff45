#include "features/minimal/compute.hpp"

#include "features/minimal/functional.hpp"
#include "features/minimal/kernels/first_pass.hpp"
#include "features/minimal/kernels/median_window.hpp"
#include "features/minimal/kernels/moments.hpp"
#include "features/minimal/kernels/short_median.hpp"
#include "features/minimal/kernels/stable_median.hpp"

namespace orven::features::minimal {

FeatureValues compute(common::SeriesView series) {
    const kernels::FirstPassResult pass = kernels::first_pass(series);
    double median = 0.0;
    double variance = 0.0;
    if (pass.holds_nan) {
        // Left to the median as defined, which refuses a series of two or
        // more (before the incomplete pass is used); a single NaN is its
        // own median.
        median = functional::median(series);
        variance = kernels::population_variance(series, pass.sum);
    } else if (series.size() <= kernels::short_median_limit) {
        // Short: a selection on the stack beats gathering candidates.
        median = kernels::short_median(series);
        variance = kernels::population_variance(series, pass.sum);
    } else {
        // The median's candidates are gathered in the variance's pass.
        kernels::StableMedian selection(series, kernels::median_window(series));
        variance = kernels::population_variance(series, pass.sum, selection.candidates());
        median = selection.finish();
    }
    const double count = kernels::count_of(series);
    return FeatureValues{
        pass.extrema.absolute_maximum,
        kernels::mean_of(pass.sum, count),
        median,
        variance,
        kernels::standard_deviation_of(variance),
        count,
        pass.extrema.maximum,
        pass.extrema.minimum,
        kernels::root_mean_square_of(pass.sum_of_squares, count),
        pass.sum,
    };
}

}  // namespace orven::features::minimal
