#include "features/minimal/oop/mean.hpp"

#include "features/common/feature_function.hpp"
#include "features/common/single_record.hpp"
#include "features/minimal/kernels/first_pass.hpp"
#include "features/minimal/kernels/moments.hpp"

namespace orven::features::minimal::oop {

static_assert(common::FeatureFunction<Mean>);

common::FeatureRecordList Mean::apply(common::SeriesView series) const {
    constexpr kernels::PassParts parts{.sum = true};
    const double sum = kernels::first_pass<parts>(series).sum;
    return common::single_record(name, kernels::mean_of(sum, kernels::count_of(series)));
}

}  // namespace orven::features::minimal::oop
