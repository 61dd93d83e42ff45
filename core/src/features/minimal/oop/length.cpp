#include "features/minimal/oop/length.hpp"

#include "features/common/feature_function.hpp"
#include "features/common/single_record.hpp"
#include "features/minimal/kernels/moments.hpp"

namespace orven::features::minimal::oop {

static_assert(common::FeatureFunction<Length>);

common::FeatureRecordList Length::apply(common::SeriesView series) const {
    return common::single_record(name, kernels::count_of(series));
}

}  // namespace orven::features::minimal::oop
