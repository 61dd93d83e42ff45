#pragma once

#include <span>

#include "extractor/record_list.hpp"
#include "pool/interruption.hpp"

namespace orven::extractor {

// The ten minimal features of every column of every record, computed on the
// worker pool: records in parallel, and the columns of each record in
// parallel.  The result has one record result per record, in input order;
// each lists its columns in the order of its column map.  Series data is
// read in place and never copied.
//
// There is no error result: if any column fails fatally, all other work of
// the call still runs to its end, every partial result is destroyed, and
// the failure is raised here unchanged.  The pool stays usable.
//
// With an interruption, the calling thread polls it while it waits for the
// pool; once it is cancelled, no further column is started, the running
// ones end, and pool::Interrupted is raised (see parallel_map).  A call of
// one record with one column runs on the calling thread alone and is never
// polled.
ResultList extract_features(std::span<const ColumnMap> records,
                            pool::Interruption* interruption = nullptr);

}  // namespace orven::extractor
