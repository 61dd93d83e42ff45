#pragma once

#include <span>

#include "extractor/record_list.hpp"
#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "pool/interruption.hpp"

namespace orven::extractor {

// The ten minimal features of every series, computed on the worker pool:
// values[i] receives those of series[i] (the two spans have one size).  A
// caller with records lays their columns out one after the other; the
// driver needs neither names nor record boundaries, so nothing per record
// or per column is allocated here.  Series data is read in place and never
// copied.  Fails as the call below does; `values` then holds nothing of use.
void extract_features_into(std::span<const features::common::SeriesView> series,
                           std::span<features::minimal::FeatureValues> values,
                           pool::Interruption* interruption = nullptr);

// The ten minimal features of every column of every record, computed on the
// worker pool like the above over all columns of all records.  The result
// has one record result per record, in input order; each lists its columns
// in the order of its column map.  Series data is read in place and never
// copied.
//
// There is no error result: if any column fails fatally, all other work of
// the call still runs to its end, every partial result is destroyed, and
// the failure is raised here unchanged.  The pool stays usable.
//
// With an interruption, the calling thread polls it while it waits for the
// pool; once it is cancelled, no further column is started, the running
// ones end, and pool::Interrupted is raised (see parallel_map).  A call of
// a single series runs on the calling thread alone and is never polled.
ResultList extract_features(std::span<const ColumnMap> records,
                            pool::Interruption* interruption = nullptr);

}  // namespace orven::extractor
