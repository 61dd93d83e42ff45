#pragma once

#include <string_view>

#include "features/common/feature_function_return.hpp"
#include "features/common/series_view.hpp"

namespace orven::features::minimal::oop {

// S, the sequential sum of the elements from -0.0; -0.0 for the empty series.
struct SumValues {
    static constexpr std::string_view name = "sum_values";

    common::FeatureRecordList apply(common::SeriesView series) const;
};

}  // namespace orven::features::minimal::oop
