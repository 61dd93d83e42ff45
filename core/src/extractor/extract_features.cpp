#include "extractor/extract_features.hpp"

#include <cstddef>
#include <vector>

#include "fatal/fatal_error.hpp"
#include "features/minimal/oop/minimal_feature_set.hpp"
#include "pool/parallel_map.hpp"

namespace orven::extractor {

void extract_features_into(std::span<const features::common::SeriesView> series,
                           std::span<features::minimal::FeatureValues> values,
                           pool::Interruption* interruption) {
    if (series.size() != values.size()) {
        fatal::raise("extract_features_into: " + std::to_string(series.size()) + " series but " +
                     std::to_string(values.size()) + " result slots");
    }
    // Stateless, and shared read-only by every thread of the call.
    const features::minimal::oop::MinimalFeatureSet feature_set{};

    // parallel_map_into asks for the worker count first, so even an empty
    // list brings the pool into being.  Every series writes only its own
    // slot; the pool's joins publish them, so nothing here takes a lock.
    pool::parallel_map_into(
        values, [&](std::size_t i) { return feature_set.compute(series[i]); }, interruption);
}

ResultList extract_features(std::span<const ColumnMap> records, pool::Interruption* interruption) {
    std::vector<features::common::SeriesView> series;
    for (const ColumnMap& columns : records) {
        for (const Column& column : columns) {
            series.push_back(column.series);
        }
    }
    std::vector<features::minimal::FeatureValues> values(series.size());
    extract_features_into(series, values, interruption);

    ResultList results(records.size());
    std::size_t next = 0;
    for (std::size_t r = 0; r < records.size(); ++r) {
        results[r].reserve(records[r].size());
        for (const Column& column : records[r]) {
            results[r].push_back(ColumnFeatures{column.name, values[next++]});
        }
    }
    return results;
}

}  // namespace orven::extractor
