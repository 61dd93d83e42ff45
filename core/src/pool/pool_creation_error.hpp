#pragma once

#include <stdexcept>

namespace orven::pool {

// A pool could not be created (a worker thread could not be started).
class PoolCreationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace orven::pool
