#pragma once

#include <string_view>

#include "features/common/feature_function_return.hpp"
#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"

namespace orven::features::minimal::oop {

// The ten statistics of the minimal set, applied to one series in the order
// of feature_names.
struct MinimalFeatureSet {
    // The ten records, one per statistic, each statistic applied on its own.
    common::FeatureRecordList apply(common::SeriesView series) const;

    // The same ten values, bit for bit, in feature_names order, for the
    // extraction path: one pass for the sums and extrema, one for the
    // squared deviations, plus the median; nothing allocated but the
    // median's working copy.  Fails exactly when `apply` fails.
    FeatureValues compute(common::SeriesView series) const;
};

}  // namespace orven::features::minimal::oop
