#pragma once

#include <string_view>

#include "features/common/feature_function_return.hpp"
#include "features/common/series_view.hpp"

namespace orven::features::minimal::oop {

// The median of the stable ascending order; refuses, with a fatal error, a
// series of two or more elements that holds a NaN.
struct Median {
    static constexpr std::string_view name = "median";

    common::FeatureRecordList apply(common::SeriesView series) const;
};

}  // namespace orven::features::minimal::oop
