#pragma once

// The work-stealing pool: its workers, each with a queue of its own, the
// injector queue through which outside threads hand in work, and the
// threads that run the workers.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "fatal/fatal_error.hpp"
#include "pool/interruption.hpp"
#include "pool/job.hpp"
#include "pool/latch.hpp"
#include "pool/platform.hpp"
#include "pool/sleep.hpp"

namespace orven::pool {

class ThreadPool;

// A pool could not be created (a worker thread could not be started).
class PoolCreationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace detail {

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
    enum class End { newest, oldest };
    template <End end>
    Job* pop() noexcept;

    std::mutex mutex_;
    std::deque<Job*> jobs_;
    std::atomic<std::size_t> size_{0};
};

}  // namespace detail

// The state of one worker: its own queue and the loop that finds work.
class WorkerThread {
public:
    WorkerThread(ThreadPool& pool, std::size_t index) noexcept;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // The worker running on this thread, or nullptr on any other thread.
    static WorkerThread* current() noexcept;

    // A forked child has only the thread that called fork(); whatever that
    // thread was in the parent, in the child it belongs to no pool.
    static void forget_current_after_fork() noexcept;

    ThreadPool& pool() const noexcept { return pool_; }
    std::size_t index() const noexcept { return index_; }

    // Offers a job on this worker's own queue and wakes a sleeper to take it.
    void push(Job& job) noexcept;
    // Takes back the newest job of this worker's own queue.
    Job* pop_local() noexcept { return queue_.pop_newest(); }
    // Another worker's oldest job.
    Job* steal() noexcept { return queue_.pop_oldest(); }

    void execute(Job& job) noexcept { job.execute(job.origin() != index_); }

    // Runs jobs (own first, then stolen, then injected) until `stop` is set,
    // spinning for a while and then sleeping whenever there is none.
    void work_until(const std::atomic<bool>& stop) noexcept;

    // The body of the worker's thread: works until the pool terminates.
    void run() noexcept;

private:
    Job* find_work() noexcept;
    Job* steal_from_others() noexcept;

    ThreadPool& pool_;
    std::size_t index_;
    detail::JobQueue queue_;
    std::uint64_t victim_seed_;
};

// A work-stealing fork-join pool of a fixed number of worker threads, all
// started by the constructor, each with a 2 MiB stack and no name.  The
// process-wide pool is one of these that is never destroyed (see
// global_pool.hpp); tests also make small private ones.
class ThreadPool {
public:
    static constexpr std::size_t worker_stack_size = 2 * 1024 * 1024;

    // How a worker thread is started; the default is pthread_create.  Tests
    // pass one that fails, to see what a failed creation leaves behind.
    using ThreadStarter = platform::ThreadStarter;

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
    // has run it.  With an interruption, the thread wakes every
    // poll_interval to poll it while it waits (the task still runs to its
    // end; the interruption only tells it to stop early).  If the poll
    // forked and this is the child, the task can never run there: that is
    // a fatal error of the call.
    template <class F>
    auto run_from_outside(F& task, Interruption* interruption = nullptr);

    // The machinery shared by workers and joins.
    WorkerThread& worker(std::size_t index) noexcept { return *workers_[index]; }
    detail::JobQueue& injector() noexcept { return injector_; }
    SleepCoordinator& sleep() noexcept { return sleep_; }
    const std::atomic<bool>& terminating() const noexcept { return terminating_; }

    // Marks, in a forked child, the pool inherited from the parent: none of
    // its threads exists there, so nothing handed to it will ever run.
    void abandon_after_fork() noexcept { abandoned_.store(true, std::memory_order_relaxed); }
    bool abandoned() const noexcept { return abandoned_.load(std::memory_order_relaxed); }

private:
    void start_workers(std::size_t num_threads, const ThreadStarter& start_thread);
    void stop_workers() noexcept;

    SleepCoordinator sleep_;
    detail::JobQueue injector_;
    std::atomic<bool> terminating_{false};
    std::atomic<bool> abandoned_{false};
    std::vector<std::unique_ptr<WorkerThread>> workers_;
    std::vector<pthread_t> threads_;
};

template <class F>
auto ThreadPool::run_from_outside(F& task, Interruption* interruption) {
    auto body = [&task](bool) { return task(); };
    if (interruption == nullptr) {
        LockLatch& latch = LockLatch::of_this_thread();
        StackJob job(body, latch, no_worker);
        injector_.push_newest(job);
        sleep_.announce_work();
        latch.wait_and_reset();
        return job.outcome().take();
    }
    // The poll may run the caller's code, which may start another call on
    // this thread and wait for it too: each wait has a latch of its own.
    LockLatch latch;
    StackJob job(body, latch, no_worker);
    injector_.push_newest(job);
    sleep_.announce_work();
    while (!latch.wait_for_and_reset(poll_interval)) {
        interruption->poll();
        if (abandoned()) {
            // The poll ran code that forked, and this is the child: the
            // job will never run.  Nothing that runs here refers to it, so
            // this frame may go.
            fatal::raise("the worker pool was lost to fork() in the middle of this call");
        }
    }
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
