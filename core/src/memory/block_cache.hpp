#pragma once

// Large blocks kept between calls.  A call's per-row buffers are tens of
// megabytes, and memory fresh from the system costs a page fault and a
// page of zeroes per page on first touch; the same shape called again
// needs the same blocks, so blocks given back are held here and handed
// out again.  What is held is bounded by what calls use:
//   - when no block is in use any more (the calls in flight have ended),
//     every held block that none of them took is given back, so a call
//     that needs less leaves only what it used;
//   - after a few seconds without any use, everything is given back (a
//     thread of ours waits for that while blocks are held, and ends then);
//   - release_blocks() gives back everything now;
//   - a forked child starts with nothing held.
// Blocks are whole multiples of a huge page, aligned to one.

#include <cstddef>

namespace orven::memory::block_cache {

// A block of at least `bytes` (a multiple of the huge page): a held one
// of about that size, else a new one; its size in `*granted`.
// std::bad_alloc if the system has no room.
void* take(std::size_t bytes, std::size_t* granted);

// Gives `block` of `granted` bytes (as take() said) back to be held, or
// to the system where nothing more may be held.
void give(void* block, std::size_t granted) noexcept;

// Gives back every held block now; the bytes so released.
std::size_t release_all() noexcept;

// The bytes held now, not in use.
std::size_t held_bytes() noexcept;

// For the library's fork handlers: the cache's lock is taken before the
// fork and released after it; the child gives back what was held.
void before_fork() noexcept;
void after_fork_in_parent() noexcept;
void after_fork_in_child() noexcept;

}  // namespace orven::memory::block_cache
