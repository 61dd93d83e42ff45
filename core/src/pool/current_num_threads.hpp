#pragma once

#include <cstddef>

namespace orven::pool {

// The number of workers of the pool that work started here runs on: the
// current worker's pool, or the process-wide pool (created by this call if
// it does not exist yet, raising the fatal error of a failed creation).
std::size_t current_num_threads();

}  // namespace orven::pool
