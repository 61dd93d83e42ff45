#pragma once

// The ten statistics of the minimal set as they are defined, one type each,
// every one reading the series on its own: the literal algorithm, the
// reference that the tests hold the fused path (minimal::compute) against,
// bit for bit.  It lives in a library of its own that only the tests link:
// the module computes every series through minimal::compute.  Each `apply`
// returns one record named by the type's `name`.

#include <string_view>

#include "literal_reference/feature_function_return.hpp"
#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"

namespace orven::features::minimal::oop {

// The largest |x| over the elements that are not NaN; -inf when there is none.
struct AbsoluteMaximum {
    static constexpr std::string_view name = "absolute_maximum";
    common::FeatureRecordList apply(common::SeriesView series) const;
};

// S / N; NaN for the empty series.
struct Mean {
    static constexpr std::string_view name = "mean";
    common::FeatureRecordList apply(common::SeriesView series) const;
};

// functional::median; refuses, with a fatal error, a series of two or more
// elements that holds a NaN.
struct Median {
    static constexpr std::string_view name = "median";
    common::FeatureRecordList apply(common::SeriesView series) const;
};

// The population variance Q / N around the mean S / N, in two passes; the
// quiet positive NaN for the empty series.
struct Variance {
    static constexpr std::string_view name = "variance";
    common::FeatureRecordList apply(common::SeriesView series) const;
};

// The square root of the population variance, formed anew with the same
// operations as `Variance`.
struct StandardDeviation {
    static constexpr std::string_view name = "standard_deviation";
    common::FeatureRecordList apply(common::SeriesView series) const;
};

// N, the element count as a double; the elements are not read.
struct Length {
    static constexpr std::string_view name = "length";
    common::FeatureRecordList apply(common::SeriesView series) const;
};

// The largest element that is not NaN (-inf when there is none), with the
// zero that the four-block procedure picks when +0.0 and -0.0 tie.
struct Maximum {
    static constexpr std::string_view name = "maximum";
    common::FeatureRecordList apply(common::SeriesView series) const;
};

// The smallest element that is not NaN (+inf when there is none), with the
// zero that the four-block procedure picks when +0.0 and -0.0 tie.
struct Minimum {
    static constexpr std::string_view name = "minimum";
    common::FeatureRecordList apply(common::SeriesView series) const;
};

// sqrt(R / N), R the sequential sum of the squares; NaN for the empty series.
struct RootMeanSquare {
    static constexpr std::string_view name = "root_mean_square";
    common::FeatureRecordList apply(common::SeriesView series) const;
};

// S, the sequential sum of the elements from -0.0; -0.0 for the empty series.
struct SumValues {
    static constexpr std::string_view name = "sum_values";
    common::FeatureRecordList apply(common::SeriesView series) const;
};

// The ten statistics applied one after the other, in feature_names order.
struct MinimalFeatureSet {
    common::FeatureRecordList apply(common::SeriesView series) const;
};

}  // namespace orven::features::minimal::oop
