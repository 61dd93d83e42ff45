#pragma once

#include <concepts>

#include "literal_reference/feature_function_return.hpp"
#include "features/common/series_view.hpp"

namespace orven::features::common {

// A statistic: a stateless value whose one operation reads a series and
// returns its named results.  Calls are bound when the program is built, so
// this is a compile-time interface; nothing holds a statistic through it.
template <typename F>
concept FeatureFunction =
    std::semiregular<F> && requires(const F& function, SeriesView series) {
        { function.apply(series) } -> std::same_as<FeatureRecordList>;
    };

}  // namespace orven::features::common
