#pragma once

#include <condition_variable>
#include <mutex>

namespace orven::pool {

// The waiting point of a thread that is not a worker: it hands its work to
// the pool and blocks here, running nothing, until a worker has finished
// that work.  One per thread, made when the thread first waits, and reset
// after every use.
class LockLatch {
public:
    void set() noexcept;
    void wait_and_reset() noexcept;

    static LockLatch& of_this_thread() noexcept;

private:
    std::mutex mutex_;
    std::condition_variable done_changed_;
    bool done_ = false;
};

}  // namespace orven::pool
