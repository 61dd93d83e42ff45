#include "features/minimal/kernels/moments.hpp"

namespace orven::features::minimal::kernels {

double squared_deviations(common::SeriesView series, double mean) {
    double total = -0.0;
    for (const double value : series) {
        const double deviation = value - mean;
        total += deviation * deviation;
    }
    return total;
}

double population_variance(common::SeriesView series, double sum) {
    if (series.empty()) {
        return positive_quiet_nan;
    }
    const double count = count_of(series);
    return squared_deviations(series, mean_of(sum, count)) / count;
}

}  // namespace orven::features::minimal::kernels
