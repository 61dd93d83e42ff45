#pragma once

#include "extractor/record_list.hpp"
#include "python/failure.hpp"

namespace orven::bindings::results {

// The driver's result as Python objects: a list, one dict per record
// (column name -> feature dict), each feature dict mapping the ten feature
// names to floats.  Records and columns keep the caller's order, features
// the order of the minimal set.
errors::Result<python::PyRef> convert_results(const extractor::ResultList& results);

}  // namespace orven::bindings::results
