#pragma once

#include <string_view>

#include "features/common/feature_function_return.hpp"
#include "features/common/series_view.hpp"

namespace orven::features::minimal::oop {

// The square root of the population variance, formed anew with the same
// operations as `Variance`.
struct StandardDeviation {
    static constexpr std::string_view name = "standard_deviation";

    common::FeatureRecordList apply(common::SeriesView series) const;
};

}  // namespace orven::features::minimal::oop
