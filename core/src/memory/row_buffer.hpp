#pragma once

// Buffers of one element per row (codes, keys, the gathered values): the
// largest allocations of a call, written once front to back or scattered
// into.  Fresh memory costs a page fault per page on first touch, which
// for tens of megabytes is a good part of a pass over the rows; buffers of
// a huge page or more therefore come from the process-wide block cache
// (memory/block_cache.hpp), which keeps them between calls, aligned to and
// advised to be backed by huge pages.  Smaller ones come from malloc.
// Allocation failure is std::bad_alloc (MemoryError for the caller).

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

#include "memory/block_cache.hpp"

namespace orven::memory {
namespace detail {

inline constexpr std::size_t huge_page = std::size_t{2} << 20;

// Knows where its buffer came from: zero bytes for malloc, else the size
// of the cache's block.
struct BlockDeleter {
    std::size_t granted = 0;
    void operator()(void* memory) const noexcept {
        if (granted == 0) {
            std::free(memory);
        } else {
            block_cache::give(memory, granted);
        }
    }
};

}  // namespace detail

template <class T>
using RowBuffer = std::unique_ptr<T[], detail::BlockDeleter>;

// Room for `count` elements of T, uninitialised.
template <class T>
    requires std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>
RowBuffer<T> row_buffer(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = count * sizeof(T);
    if (bytes < detail::huge_page) {
        void* memory = std::malloc(bytes == 0 ? 1 : bytes);
        if (memory == nullptr) throw std::bad_alloc();
        return RowBuffer<T>(static_cast<T*>(memory), detail::BlockDeleter{});
    }
    std::size_t granted = 0;
    void* memory = block_cache::take(bytes, &granted);
    return RowBuffer<T>(static_cast<T*>(memory), detail::BlockDeleter{granted});
}

}  // namespace orven::memory
