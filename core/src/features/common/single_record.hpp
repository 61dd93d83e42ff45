#pragma once

#include <string>
#include <string_view>

#include "features/common/feature_function_return.hpp"

namespace orven::features::common {

// The result list of a statistic that yields one value.
inline FeatureRecordList single_record(std::string_view name, double value) {
    FeatureRecordList records;
    records.push_back(FeatureFunctionReturn{std::string(name), value});
    return records;
}

}  // namespace orven::features::common
