#pragma once

// Allocations whose size follows the caller's input (the median's working
// copy of a series, a call's series views and result slots, and the
// per-row buffers of row_buffer.hpp) are the ones an ordinary call can fail
// for want of memory.  Each such failure is an explicit, recoverable event:
// std::bad_alloc, which ends only the call that asked (the module turns it
// into MemoryError) and leaves the process as it was.  This function makes
// those that need no more than plain room; std::vector may hold the smaller
// ones (per distinct key, per group), whose failure is the same bad_alloc.
// What the pool's own machinery allocates is small and fixed, left to the
// runtime's rules (pool/bookkeeping.hpp).

#include <cstddef>
#include <memory>
#include <new>

namespace orven::memory {

// Room for `count` elements of T, default-initialised (so left
// uninitialised for plain values); throws std::bad_alloc when it cannot be
// had.
template <class T>
std::unique_ptr<T[]> uninitialized_buffer(std::size_t count) {
    return std::make_unique_for_overwrite<T[]>(count);
}

}  // namespace orven::memory
