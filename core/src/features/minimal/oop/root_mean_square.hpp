#pragma once

#include <string_view>

#include "features/common/feature_function_return.hpp"
#include "features/common/series_view.hpp"

namespace orven::features::minimal::oop {

// sqrt(R / N), R the sequential sum of the squares; NaN for the empty series.
struct RootMeanSquare {
    static constexpr std::string_view name = "root_mean_square";

    common::FeatureRecordList apply(common::SeriesView series) const;
};

}  // namespace orven::features::minimal::oop
