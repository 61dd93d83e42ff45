#pragma once

// Latches: the completion flags that a waiting thread watches.  A worker
// keeps working while it waits (SpinLatch); any other thread blocks
// (LockLatch).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "pool/bookkeeping.hpp"
#include "pool/sleep.hpp"

namespace orven::pool {

// Completion flag of a task offered by a worker in a join.  The owning
// worker keeps working (or sleeps) until the flag is set; whoever sets it
// wakes the owner in case it went to sleep.
class SpinLatch {
public:
    // `owner` is the index of the waiting worker among those that `sleep`
    // puts to sleep.
    SpinLatch(SleepCoordinator& sleep, std::size_t owner) noexcept
        : sleep_(sleep), owner_(owner) {}
    SpinLatch(const SpinLatch&) = delete;
    SpinLatch& operator=(const SpinLatch&) = delete;

    bool probe() const noexcept { return done_.load(std::memory_order_acquire); }
    const std::atomic<bool>& flag() const noexcept { return done_; }

    // After this call the latch (and the job holding it) may already be
    // gone: it touches nothing of its own once the flag is set.
    void set() noexcept {
        SleepCoordinator& sleep = sleep_;
        const std::size_t owner = owner_;
        done_.store(true);
        sleep.wake_worker(owner);
    }

private:
    std::atomic<bool> done_{false};
    SleepCoordinator& sleep_;
    std::size_t owner_;
};

// The waiting point of a thread that is not a worker: it hands its work to
// the pool and blocks here, running nothing, until a worker has finished
// that work.  One per thread, made when the thread first waits, and reset
// after every use.
class LockLatch {
public:
    void set() noexcept {
        bookkeeping([&] {
            // Notify while holding the mutex: the moment it is released the
            // waiter may return and its thread may end, taking this latch
            // along.
            const std::lock_guard lock(mutex_);
            done_ = true;
            done_changed_.notify_all();
        });
    }

    void wait_and_reset() noexcept {
        bookkeeping([&] {
            std::unique_lock lock(mutex_);
            done_changed_.wait(lock, [&] { return done_; });
            done_ = false;
        });
    }

    // Waits at most `timeout`; true (and the latch reset) if it was set.
    bool wait_for_and_reset(std::chrono::milliseconds timeout) noexcept {
        return bookkeeping([&] {
            std::unique_lock lock(mutex_);
            if (!done_changed_.wait_for(lock, timeout, [&] { return done_; })) {
                return false;
            }
            done_ = false;
            return true;
        });
    }

    static LockLatch& of_this_thread() noexcept {
        thread_local LockLatch latch;
        return latch;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_changed_;
    bool done_ = false;
};

}  // namespace orven::pool
