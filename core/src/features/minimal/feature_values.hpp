#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace orven::features::minimal {

inline constexpr std::size_t feature_count = 10;

// The features of the minimal set, in the order in which the set applies
// them and lists them.
inline constexpr std::array<std::string_view, feature_count> feature_names = {
    "absolute_maximum", "mean",    "median",           "variance",  "standard_deviation",
    "length",           "maximum", "minimum", "root_mean_square", "sum_values",
};

// The ten values of one series, position i holding feature_names[i].  This
// is what the extraction path carries: no per-feature allocation.
using FeatureValues = std::array<double, feature_count>;

}  // namespace orven::features::minimal
