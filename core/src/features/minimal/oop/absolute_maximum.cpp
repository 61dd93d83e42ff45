#include "features/minimal/oop/absolute_maximum.hpp"

#include "features/common/feature_function.hpp"
#include "features/common/single_record.hpp"
#include "features/minimal/kernels/first_pass.hpp"

namespace orven::features::minimal::oop {

static_assert(common::FeatureFunction<AbsoluteMaximum>);

common::FeatureRecordList AbsoluteMaximum::apply(common::SeriesView series) const {
    constexpr kernels::PassParts parts{.extrema = true};
    return common::single_record(name, kernels::first_pass<parts>(series).extrema.absolute_maximum);
}

}  // namespace orven::features::minimal::oop
