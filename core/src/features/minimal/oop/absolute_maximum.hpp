#pragma once

#include <string_view>

#include "features/common/feature_function_return.hpp"
#include "features/common/series_view.hpp"

namespace orven::features::minimal::oop {

// The largest |x| over the elements that are not NaN; -inf when there is none.
struct AbsoluteMaximum {
    static constexpr std::string_view name = "absolute_maximum";

    common::FeatureRecordList apply(common::SeriesView series) const;
};

}  // namespace orven::features::minimal::oop
