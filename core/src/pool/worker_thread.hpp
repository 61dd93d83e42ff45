#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "pool/job.hpp"
#include "pool/job_queue.hpp"

namespace orven::pool {

class ThreadPool;

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
    JobQueue queue_;
    std::uint64_t victim_seed_;
};

}  // namespace orven::pool
