#include "features/minimal/oop/variance.hpp"

#include "features/common/feature_function.hpp"
#include "features/common/single_record.hpp"
#include "features/minimal/kernels/first_pass.hpp"
#include "features/minimal/kernels/moments.hpp"

namespace orven::features::minimal::oop {

static_assert(common::FeatureFunction<Variance>);

common::FeatureRecordList Variance::apply(common::SeriesView series) const {
    constexpr kernels::PassParts parts{.sum = true};
    const double sum = kernels::first_pass<parts>(series).sum;
    return common::single_record(name, kernels::population_variance(series, sum));
}

}  // namespace orven::features::minimal::oop
