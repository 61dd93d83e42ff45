#include "features/minimal/oop/median.hpp"

#include "features/common/feature_function.hpp"
#include "features/common/single_record.hpp"
#include "features/minimal/functional.hpp"

namespace orven::features::minimal::oop {

static_assert(common::FeatureFunction<Median>);

common::FeatureRecordList Median::apply(common::SeriesView series) const {
    return common::single_record(name, functional::median(series));
}

}  // namespace orven::features::minimal::oop
