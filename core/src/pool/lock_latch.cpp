#include "pool/lock_latch.hpp"

#include "pool/bookkeeping_failure.hpp"

namespace orven::pool {

void LockLatch::set() noexcept {
    bookkeeping([&] {
        // Notify while holding the mutex: the moment it is released the
        // waiter may return and its thread may end, taking this latch along.
        const std::lock_guard lock(mutex_);
        done_ = true;
        done_changed_.notify_all();
    });
}

void LockLatch::wait_and_reset() noexcept {
    bookkeeping([&] {
        std::unique_lock lock(mutex_);
        done_changed_.wait(lock, [&] { return done_; });
        done_ = false;
    });
}

LockLatch& LockLatch::of_this_thread() noexcept {
    thread_local LockLatch latch;
    return latch;
}

}  // namespace orven::pool
