#pragma once

#include <span>
#include <string>
#include <vector>

#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"

namespace orven::extractor {

// One column of a record: its name and a view of its series.
struct Column {
    std::string name;
    features::common::SeriesView series;
};

// The columns of one record, in the caller's order.
using ColumnMap = std::vector<Column>;

// The features of one column; the values follow features::minimal::feature_names.
struct ColumnFeatures {
    std::string name;
    features::minimal::FeatureValues values;
};

// The result of one record, its columns in the order of its column map.
using RecordResult = std::vector<ColumnFeatures>;

// One record result per record, in input order.
using ResultList = std::vector<RecordResult>;

}  // namespace orven::extractor
