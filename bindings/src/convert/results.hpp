#pragma once

#include <span>

#include "extractor/record_list.hpp"
#include "python/failure.hpp"

namespace orven::bindings::results {

// The driver's result as Python objects: a list, one dict per record
// (column name -> feature dict), each feature dict mapping the ten feature
// names to floats.  Records and columns keep the caller's order, features
// the order of the minimal set.  `column_keys` holds the output key of every
// column of every record, in order (exact str objects).
errors::Result<python::PyRef> convert_results(const extractor::ResultList& results,
                                              std::span<const python::PyRef> column_keys);

}  // namespace orven::bindings::results
