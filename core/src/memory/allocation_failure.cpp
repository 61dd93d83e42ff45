// What happens when memory runs out depends on how much was asked for.
//
// A large request is what a call needs in proportion to its input (a
// working copy of a series, room for every record of a call); failing it is
// the input's fault, not the process's, so it throws std::bad_alloc, which
// travels through the pool like any failure of a task and ends only the
// call that made it.  A small request is the fixed bookkeeping of the
// runtime (queue nodes, names, error texts); when even that cannot be had
// the process is past saving, so it reports the size it could not get and
// aborts, as a plain allocation failure does in the rest of the runtime.

#include "memory/allocation_failure.hpp"

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void allocation_failed(std::size_t size) {
    if (size >= orven::memory::recoverable_allocation_threshold) {
        throw std::bad_alloc();
    }
    char text[80];
    const int length =
        std::snprintf(text, sizeof text, "memory allocation of %zu bytes failed\n", size);
    if (length > 0) {
        [[maybe_unused]] const ssize_t written =
            ::write(STDERR_FILENO, text, static_cast<std::size_t>(length));
    }
    std::abort();
}

void* allocate(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    allocation_failed(size);
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) {
    void* block = nullptr;
    const auto align = static_cast<std::size_t>(alignment);
    if (::posix_memalign(&block, align < sizeof(void*) ? sizeof(void*) : align,
                         size == 0 ? 1 : size) == 0) {
        return block;
    }
    allocation_failed(size);
}

}  // namespace

// Blocks come from malloc and posix_memalign, so the runtime's own operator
// delete (which calls free, for the aligned forms too, in libstdc++ on glibc
// or musl and in libc++ on macOS) releases them correctly.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate_aligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate_aligned(size, alignment);
}
