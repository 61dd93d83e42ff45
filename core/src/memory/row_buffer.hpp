#pragma once

// Buffers of one element per row (codes, keys, the gathered values): the
// largest allocations of a call, written once front to back or scattered
// into.  Fresh memory costs a page fault per page on first touch, which
// for tens of megabytes is a good part of a pass over the rows; on Linux
// the buffers are therefore aligned to, and asked to be backed by, huge
// pages where the kernel grants them on request.  Allocation failure is
// std::bad_alloc (MemoryError for the caller).

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace orven::memory {
namespace detail {

struct FreeDeleter {
    void operator()(void* memory) const noexcept { std::free(memory); }
};

inline constexpr std::size_t huge_page = std::size_t{2} << 20;

inline void* allocate_rows(std::size_t bytes) {
    if (bytes < huge_page) {
        void* memory = std::malloc(bytes == 0 ? 1 : bytes);
        if (memory == nullptr) throw std::bad_alloc();
        return memory;
    }
    const std::size_t rounded = (bytes + huge_page - 1) / huge_page * huge_page;
    void* memory = std::aligned_alloc(huge_page, rounded);
    if (memory == nullptr) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
    // Advice only: without huge pages the buffer works the same.
    ::madvise(memory, rounded, MADV_HUGEPAGE);
#endif
    return memory;
}

}  // namespace detail

template <class T>
using RowBuffer = std::unique_ptr<T[], detail::FreeDeleter>;

// Room for `count` elements of T, uninitialised.
template <class T>
    requires std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>
RowBuffer<T> row_buffer(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return RowBuffer<T>(static_cast<T*>(detail::allocate_rows(count * sizeof(T))));
}

}  // namespace orven::memory
