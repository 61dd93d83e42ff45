#include "call/record_list_building.hpp"

namespace orven::bindings::call {

errors::Result<std::vector<extractor::ColumnMap>> build_record_list(const ArrayMapList& arrays) {
    std::vector<extractor::ColumnMap> records;
    records.reserve(arrays.maps().size());
    for (const ArrayMap& map : arrays.maps()) {
        extractor::ColumnMap columns;
        columns.reserve(map.size());
        for (const ArrayEntry& entry : map) {
            errors::Result<features::common::SeriesView> series = entry.array.series_view();
            if (!series.ok()) return std::move(series).error();
            columns.push_back(extractor::Column{entry.name, series.value()});
        }
        records.push_back(std::move(columns));
    }
    return records;
}

}  // namespace orven::bindings::call
