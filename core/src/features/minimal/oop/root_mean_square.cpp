#include "features/minimal/oop/root_mean_square.hpp"

#include "features/common/feature_function.hpp"
#include "features/common/single_record.hpp"
#include "features/minimal/kernels/first_pass.hpp"
#include "features/minimal/kernels/moments.hpp"

namespace orven::features::minimal::oop {

static_assert(common::FeatureFunction<RootMeanSquare>);

common::FeatureRecordList RootMeanSquare::apply(common::SeriesView series) const {
    constexpr kernels::PassParts parts{.sum_of_squares = true};
    const double squares = kernels::first_pass<parts>(series).sum_of_squares;
    return common::single_record(name,
                                 kernels::root_mean_square_of(squares, kernels::count_of(series)));
}

}  // namespace orven::features::minimal::oop
