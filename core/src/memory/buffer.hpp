#pragma once

// The buffers whose size follows the caller's input (the median's working
// copy of a series, a call's series views and result slots) are the only
// allocations that an ordinary call can fail for want of memory.  They are
// made through this one function, so that their failure is an explicit,
// recoverable event: std::bad_alloc, which ends only the call that asked
// (the module turns it into MemoryError) and leaves the process as it was.
// Every other allocation is small and fixed bookkeeping, left to the
// runtime's own rules.

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
