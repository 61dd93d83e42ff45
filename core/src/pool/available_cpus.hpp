#pragma once

#include <cstddef>

namespace orven::pool {

// The CPUs this process may run on: those of its affinity mask (the online
// CPUs where the mask cannot be read), limited by its control groups' CPU
// quota; 1 where nothing can be determined.
std::size_t available_cpus();

}  // namespace orven::pool
