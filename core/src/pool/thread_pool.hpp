#pragma once

// The worker pool: a fixed set of threads that run batches of independent
// blocks handed to them by threads outside the pool.
//
// A batch is numbered blocks 0 to count - 1 and one function that runs a
// block.  The workers share the batch through one cursor: each takes the
// next unstarted block, runs it and takes another, until none is left.
// Blocks therefore start in ascending order and finish roughly in it, which
// is what lets the thread that submitted the batch read results in order
// while the rest are computed.  Blocks of very different cost balance
// themselves: a worker that drew a long block simply takes fewer.
//
// The submitting thread never runs blocks: it waits (waking each
// poll_interval to poll its interruption, if it has one), reads what is
// ready, and finishes.  A failure of a block ends only that block; the
// others still run, and the first failure is raised by finish().  Batches
// of several submitting threads queue up: workers serve the oldest batch
// that has unstarted blocks.
//
// Idle workers sleep on a condition variable and cost no processor time;
// a submission wakes as many as the batch has blocks.

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "pool/interruption.hpp"
#include "pool/platform.hpp"

namespace orven::pool {

class Batch;

// A pool could not be created (a worker thread could not be started).
class PoolCreationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A fixed number of worker threads, all started by the constructor, each
// with a 2 MiB stack and no name of its own.  The process-wide pool is one
// of these that is never destroyed (global_pool.hpp); tests also make
// private ones.
class ThreadPool {
public:
    static constexpr std::size_t worker_stack_size = 2 * 1024 * 1024;

    // How a worker thread is started; the default is pthread_create.  Tests
    // pass one that fails, to see what a failed creation leaves behind.
    using ThreadStarter = platform::ThreadStarter;

    // Starts `num_threads` workers (at least one), or throws
    // PoolCreationError after stopping those it did start.
    explicit ThreadPool(std::size_t num_threads, const ThreadStarter& start_thread = {});
    // Stops and joins the workers; no batch may be running.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    std::size_t num_threads() const noexcept { return num_threads_; }

    // Marks, in a forked child, the pool inherited from the parent: none of
    // its threads exists there (and its lock may be held by one of them),
    // so nothing may touch it again.  A batch that waits for it in the
    // child ends with a fatal error at its next poll.
    void abandon_after_fork() noexcept { abandoned_.store(true, std::memory_order_relaxed); }
    bool abandoned() const noexcept { return abandoned_.load(std::memory_order_relaxed); }

private:
    friend class Batch;

    void start_workers(const ThreadStarter& start_thread);
    void stop_workers() noexcept;
    static void* worker_main(void* pool) noexcept;
    void work();

    // With mutex_ held.
    void list(Batch& batch) noexcept;
    void unlist(Batch& batch) noexcept;

    std::size_t num_threads_;
    std::mutex mutex_;
    std::condition_variable work_available_;
    // The batches with unstarted blocks, oldest first (guarded by mutex_).
    Batch* first_ = nullptr;
    Batch* last_ = nullptr;
    bool terminating_ = false;
    std::atomic<bool> abandoned_{false};
    std::vector<pthread_t> threads_;
};

// One batch, from submission until every block that started has ended.
// Lives on the submitting thread's stack (or wherever that thread keeps
// it); the destructor waits for the workers, so whatever the blocks use
// may go once it has returned.  The submitting thread must not be a
// worker of the same pool.
class Batch {
public:
    using Body = void (*)(void* context, std::size_t block);

    // Hands blocks [0, count) to `pool`: body(context, i) runs once for
    // every i, on the workers, unless the interruption is cancelled first.
    Batch(ThreadPool& pool, std::size_t count, Body body, void* context,
          Interruption* interruption = nullptr);

    // The same with a callable `run_block(i)`, which must outlive the batch.
    template <class F>
    Batch(ThreadPool& pool, std::size_t count, F& run_block, Interruption* interruption = nullptr)
        : Batch(pool, count, &call<F>, &run_block, interruption) {}

    // Unless finish() ran: lets no further block start, waits for those
    // running, and drops their failure.  In a forked child it returns at
    // once.
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    std::size_t size() const noexcept { return count_; }

    // Blocks until block `index` has run to its end (true), or until the
    // batch has ended without it, because that block failed or the
    // interruption was cancelled before it started (false: finish() raises
    // why).  Polls the interruption while it waits.
    bool wait_for_block(std::size_t index);
    // The same for every block of [begin, end), the last one first: the
    // workers take blocks in order, so by its end the earlier ones have
    // mostly ended too, and the caller sleeps about once instead of once a
    // block.
    bool wait_for_blocks(std::size_t begin, std::size_t end);

    // Waits until every block that started has ended, polling meanwhile,
    // then raises the first failure of a block, or Interrupted if the
    // interruption was cancelled.  Call it once.
    void finish();

private:
    friend class ThreadPool;

    template <class F>
    static void call(void* run_block, std::size_t block) {
        (*static_cast<F*>(run_block))(block);
    }

    // Run by a worker: blocks from the cursor until none is left, the
    // interruption is cancelled or the owner gave up waiting.
    void run_blocks() noexcept;
    bool cancelled() const noexcept {
        return interruption_ != nullptr && interruption_->cancelled();
    }
    // Wakes the submitting thread.  A worker calls it while it still
    // counts as inside the batch, so the batch is alive.
    void signal() noexcept;
    // The last worker out: after this the batch may be gone at any moment.
    void end() noexcept;
    // Polls the interruption (which may run the caller's code, and fork)
    // once poll_interval has passed since the last poll; raises if this is
    // a forked child whose pool will never run the work.
    void poll_when_due();
    // Sleeps until `ready()` holds or the batch has ended, at most until
    // the next poll is due; true if it returned because of either.
    template <class Ready>
    bool sleep_until(Ready ready);

    ThreadPool& pool_;
    const std::size_t count_;
    const Body body_;
    void* const context_;
    Interruption* const interruption_;

    std::atomic<std::size_t> cursor_{0};
    std::unique_ptr<std::atomic<bool>[]> done_;
    // The block the submitting thread sleeps until, or none: only its end
    // is signalled, since a wake-up costs two switches of thread (tens of
    // microseconds in a virtual machine) and most waits are for the whole
    // batch, which end() signals.
    static constexpr std::size_t no_block = static_cast<std::size_t>(-1);
    std::atomic<std::size_t> awaited_{no_block};
    // Set when the owner leaves before finish(): no further block starts.
    std::atomic<bool> stopped_{false};
    std::chrono::steady_clock::time_point next_poll_;

    // Guarded by the pool's mutex.
    Batch* next_ = nullptr;
    bool listed_ = false;
    std::size_t workers_inside_ = 0;

    // Guarded by mutex_: the submitting thread sleeps on changed_.
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
    std::exception_ptr failure_;
    bool finished_ = false;
};

}  // namespace orven::pool
