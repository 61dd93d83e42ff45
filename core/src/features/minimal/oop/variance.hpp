#pragma once

#include <string_view>

#include "features/common/feature_function_return.hpp"
#include "features/common/series_view.hpp"

namespace orven::features::minimal::oop {

// The population variance Q / N around the mean S / N, in two passes; the
// quiet positive NaN for the empty series.
struct Variance {
    static constexpr std::string_view name = "variance";

    common::FeatureRecordList apply(common::SeriesView series) const;
};

}  // namespace orven::features::minimal::oop
