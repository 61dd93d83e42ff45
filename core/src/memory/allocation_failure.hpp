#pragma once

#include <cstddef>

namespace orven::memory {

// Requests of at least this many bytes that cannot be met throw
// std::bad_alloc; smaller ones abort the process after reporting their size
// (see allocation_failure.cpp).  64 KiB: far above any fixed bookkeeping
// allocation, far below what a working copy or a record list of a sizeable
// input needs.
inline constexpr std::size_t recoverable_allocation_threshold = std::size_t{64} * 1024;

}  // namespace orven::memory
