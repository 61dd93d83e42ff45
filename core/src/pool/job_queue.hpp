#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>

#include "pool/job.hpp"

namespace orven::pool {

// A locked double-ended queue of jobs.  A worker treats its own queue as a
// stack (newest first) while thieves take from the other end (oldest
// first); the injector is used first in, first out.  Our jobs are coarse,
// so one mutex per queue is cheap next to the work it hands out.  A queue
// that cannot grow or lock is a bookkeeping failure and aborts.
class JobQueue {
public:
    void push_newest(Job& job) noexcept;
    Job* pop_newest() noexcept;
    Job* pop_oldest() noexcept;

    // A lock-free hint for thieves; the sleep protocol, not this hint,
    // guarantees that no pushed job is overlooked.
    bool looks_empty() const noexcept { return size_.load(std::memory_order_acquire) == 0; }

private:
    std::mutex mutex_;
    std::deque<Job*> jobs_;
    std::atomic<std::size_t> size_{0};
};

}  // namespace orven::pool
