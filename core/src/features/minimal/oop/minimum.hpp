#pragma once

#include <string_view>

#include "features/common/feature_function_return.hpp"
#include "features/common/series_view.hpp"

namespace orven::features::minimal::oop {

// The smallest element that is not NaN (+inf when there is none), with the
// zero that the four-block procedure picks when +0.0 and -0.0 tie.
struct Minimum {
    static constexpr std::string_view name = "minimum";

    common::FeatureRecordList apply(common::SeriesView series) const;
};

}  // namespace orven::features::minimal::oop
