#pragma once

#include <string>
#include <vector>

namespace orven::features::common {

// One named result of a statistic.  The record owns its name.
struct FeatureFunctionReturn {
    std::string name;
    double value = 0.0;
};

// The ordered results of one `apply`, owned by its caller.
using FeatureRecordList = std::vector<FeatureFunctionReturn>;

}  // namespace orven::features::common
