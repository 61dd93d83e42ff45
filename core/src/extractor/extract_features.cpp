#include "extractor/extract_features.hpp"

#include "features/minimal/oop/minimal_feature_set.hpp"
#include "pool/parallel_map.hpp"

namespace orven::extractor {

ResultList extract_features(std::span<const ColumnMap> records, pool::Interruption* interruption) {
    // Stateless, and shared read-only by every thread of the call.
    const features::minimal::oop::MinimalFeatureSet feature_set{};

    // parallel_map asks for the worker count first, so even an empty record
    // list brings the pool into being.  Each level writes only its own
    // slots; the pool's joins publish them, so nothing here takes a lock.
    return pool::parallel_map(
        records.size(),
        [&](std::size_t r) -> RecordResult {
            const ColumnMap& columns = records[r];
            return pool::parallel_map(
                columns.size(),
                [&](std::size_t c) -> ColumnFeatures {
                    const Column& column = columns[c];
                    return ColumnFeatures{column.name, feature_set.compute(column.series)};
                },
                interruption);
        },
        interruption);
}

}  // namespace orven::extractor
