#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "pool/job.hpp"
#include "pool/job_queue.hpp"
#include "pool/lock_latch.hpp"
#include "pool/sleep_coordinator.hpp"
#include "pool/stack_job.hpp"
#include "pool/worker_thread.hpp"

namespace orven::pool {

// A work-stealing fork-join pool of a fixed number of worker threads, all
// started by the constructor, each with a 2 MiB stack and no name.  The
// process-wide pool is one of these that is never destroyed (see
// global_pool.hpp); tests also make small private ones.
class ThreadPool {
public:
    static constexpr std::size_t worker_stack_size = 2 * 1024 * 1024;

    // How a worker thread is started; the default is pthread_create.  Tests
    // pass one that fails, to see what a failed creation leaves behind.
    using ThreadStarter =
        std::function<int(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>;

    // Starts `num_threads` workers, or throws PoolCreationError after
    // stopping those it did start.
    explicit ThreadPool(std::size_t num_threads, const ThreadStarter& start_thread = {});
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    std::size_t num_threads() const noexcept { return workers_.size(); }

    // Runs `task` on a worker of this pool and returns its result (or
    // raises its failure).  From a thread outside the pool, the calling
    // thread blocks meanwhile and runs nothing.
    template <class F>
    auto install(F&& task);

    // Hands `task` to the injector queue and blocks this thread, which must
    // not be one of this pool's workers, on its own latch until a worker
    // has run it.
    template <class F>
    auto run_from_outside(F& task);

    // The machinery shared by workers and joins.
    WorkerThread& worker(std::size_t index) noexcept { return *workers_[index]; }
    JobQueue& injector() noexcept { return injector_; }
    SleepCoordinator& sleep() noexcept { return sleep_; }
    const std::atomic<bool>& terminating() const noexcept { return terminating_; }

private:
    void start_workers(std::size_t num_threads, const ThreadStarter& start_thread);
    void stop_workers() noexcept;

    SleepCoordinator sleep_;
    JobQueue injector_;
    std::atomic<bool> terminating_{false};
    std::vector<std::unique_ptr<WorkerThread>> workers_;
    std::vector<pthread_t> threads_;
};

template <class F>
auto ThreadPool::run_from_outside(F& task) {
    LockLatch& latch = LockLatch::of_this_thread();
    auto body = [&task](bool) { return task(); };
    StackJob job(body, latch, no_worker);
    injector_.push_newest(job);
    sleep_.announce_work();
    latch.wait_and_reset();
    return job.outcome().take();
}

template <class F>
auto ThreadPool::install(F&& task) {
    const WorkerThread* worker = WorkerThread::current();
    if (worker != nullptr && &worker->pool() == this) {
        return task();
    }
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
        run_from_outside(task);
    } else {
        return run_from_outside(task);
    }
}

}  // namespace orven::pool
