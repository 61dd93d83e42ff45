#include "features/minimal/oop/minimal_feature_set.hpp"

#include <iterator>
#include <utility>

#include "features/common/feature_function.hpp"
#include "features/minimal/functional.hpp"
#include "features/minimal/kernels/first_pass.hpp"
#include "features/minimal/kernels/moments.hpp"
#include "features/minimal/kernels/short_median.hpp"
#include "features/minimal/kernels/stable_median.hpp"
#include "features/minimal/oop/absolute_maximum.hpp"
#include "features/minimal/oop/length.hpp"
#include "features/minimal/oop/maximum.hpp"
#include "features/minimal/oop/mean.hpp"
#include "features/minimal/oop/median.hpp"
#include "features/minimal/oop/minimum.hpp"
#include "features/minimal/oop/root_mean_square.hpp"
#include "features/minimal/oop/standard_deviation.hpp"
#include "features/minimal/oop/sum_values.hpp"
#include "features/minimal/oop/variance.hpp"

namespace orven::features::minimal::oop {
namespace {

template <common::FeatureFunction... Statistic>
common::FeatureRecordList apply_in_order(common::SeriesView series) {
    common::FeatureRecordList records;
    auto append = [&](common::FeatureRecordList&& more) {
        records.insert(records.end(), std::make_move_iterator(more.begin()),
                       std::make_move_iterator(more.end()));
    };
    (append(Statistic{}.apply(series)), ...);
    return records;
}

}  // namespace

static_assert(common::FeatureFunction<MinimalFeatureSet>);

common::FeatureRecordList MinimalFeatureSet::apply(common::SeriesView series) const {
    return apply_in_order<AbsoluteMaximum, Mean, Median, Variance, StandardDeviation, Length,
                          Maximum, Minimum, RootMeanSquare, SumValues>(series);
}

FeatureValues MinimalFeatureSet::compute(common::SeriesView series) const {
    constexpr kernels::PassParts everything{
        .sum = true, .sum_of_squares = true, .extrema = true, .stop_at_nan = true};
    const kernels::FirstPassResult pass = kernels::first_pass<everything>(series);
    double median = 0.0;
    double variance = 0.0;
    if (pass.holds_nan) {
        // A series of two or more holding NaN: the median refuses it here,
        // before the incomplete pass is used.  A single NaN is its own median.
        median = functional::median(series);
        variance = kernels::population_variance(series, pass.sum);
    } else if (series.size() <= kernels::short_median_limit) {
        // Short: a selection on the stack beats gathering candidates.
        median = kernels::short_median(series);
        variance = kernels::population_variance(series, pass.sum);
    } else {
        // The median's candidates are gathered in the variance's pass.
        kernels::StableMedian selection(series);
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

}  // namespace orven::features::minimal::oop
