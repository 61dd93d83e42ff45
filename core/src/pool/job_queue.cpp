#include "pool/job_queue.hpp"

#include "pool/bookkeeping_failure.hpp"

namespace orven::pool {

void JobQueue::push_newest(Job& job) noexcept {
    bookkeeping([&] {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(&job);
        size_.store(jobs_.size(), std::memory_order_release);
    });
}

Job* JobQueue::pop_newest() noexcept {
    if (looks_empty()) {
        return nullptr;
    }
    return bookkeeping([&]() -> Job* {
        const std::lock_guard lock(mutex_);
        if (jobs_.empty()) {
            return nullptr;
        }
        Job* job = jobs_.back();
        jobs_.pop_back();
        size_.store(jobs_.size(), std::memory_order_release);
        return job;
    });
}

Job* JobQueue::pop_oldest() noexcept {
    if (looks_empty()) {
        return nullptr;
    }
    return bookkeeping([&]() -> Job* {
        const std::lock_guard lock(mutex_);
        if (jobs_.empty()) {
            return nullptr;
        }
        Job* job = jobs_.front();
        jobs_.pop_front();
        size_.store(jobs_.size(), std::memory_order_release);
        return job;
    });
}

}  // namespace orven::pool
