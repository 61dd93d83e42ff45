#include "features/minimal/oop/sum_values.hpp"

#include "features/common/feature_function.hpp"
#include "features/common/single_record.hpp"
#include "features/minimal/kernels/first_pass.hpp"

namespace orven::features::minimal::oop {

static_assert(common::FeatureFunction<SumValues>);

common::FeatureRecordList SumValues::apply(common::SeriesView series) const {
    constexpr kernels::PassParts parts{.sum = true};
    return common::single_record(name, kernels::first_pass<parts>(series).sum);
}

}  // namespace orven::features::minimal::oop
