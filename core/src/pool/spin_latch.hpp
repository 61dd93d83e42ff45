#pragma once

#include <atomic>

namespace orven::pool {

class WorkerThread;

// Completion flag of a task offered by a worker in a join.  The owning
// worker keeps working (or sleeps) until the flag is set; whoever sets it
// wakes the owner in case it went to sleep.
class SpinLatch {
public:
    explicit SpinLatch(WorkerThread& owner) noexcept : owner_(owner) {}
    SpinLatch(const SpinLatch&) = delete;
    SpinLatch& operator=(const SpinLatch&) = delete;

    bool probe() const noexcept { return done_.load(std::memory_order_acquire); }
    const std::atomic<bool>& flag() const noexcept { return done_; }

    // After this call the latch (and the job holding it) may already be
    // gone: it touches nothing of its own once the flag is set.
    void set() noexcept;

private:
    std::atomic<bool> done_{false};
    WorkerThread& owner_;
};

}  // namespace orven::pool
