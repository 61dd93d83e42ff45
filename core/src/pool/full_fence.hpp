#pragma once

#include <atomic>

namespace orven::pool {

// A sequentially consistent fence.  ThreadSanitizer does not model fences
// and GCC refuses std::atomic_thread_fence under it; there the same
// hardware barrier is issued directly.  The pool uses fences only so that
// no wake-up is lost (a liveness matter); no data is published through
// them, so the sanitizer's view of the data races is unaffected.
inline void full_fence() noexcept {
#if defined(__SANITIZE_THREAD__)
    asm volatile("mfence" ::: "memory");
#else
    std::atomic_thread_fence(std::memory_order_seq_cst);
#endif
}

}  // namespace orven::pool
