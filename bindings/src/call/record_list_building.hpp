#pragma once

#include <vector>

#include "call/array_map.hpp"
#include "python/failure.hpp"
#include "extractor/record_list.hpp"

namespace orven::bindings::call {

// The driver's input: per record, its columns' names and views into the
// admitted arrays' own buffers (nothing copied).  TypeError "The given array
// is not contiguous" for the first array that cannot be viewed as one run.
errors::Result<std::vector<extractor::ColumnMap>> build_record_list(const ArrayMapList& arrays);

}  // namespace orven::bindings::call
