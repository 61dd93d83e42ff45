#include "pool/thread_pool.hpp"

#include <chrono>
#include <exception>
#include <string>

#include "fatal/fatal_error.hpp"
#include "pool/bookkeeping.hpp"

namespace orven::pool {

// ------------------------------------------------------------- the pool

ThreadPool::ThreadPool(std::size_t num_threads, const ThreadStarter& start_thread)
    : num_threads_(num_threads) {
    if (num_threads == 0) {
        throw PoolCreationError("a pool needs at least one worker thread");
    }
    try {
        start_workers(start_thread);
    } catch (...) {
        stop_workers();
        throw;
    }
}

ThreadPool::~ThreadPool() { stop_workers(); }

void ThreadPool::start_workers(const ThreadStarter& start_thread) {
    const platform::ThreadAttributes attributes(worker_stack_size);
    if (attributes.error() != 0) {
        throw PoolCreationError(
            platform::describe_os_error(attributes.failed_step(), attributes.error()));
    }
    threads_.reserve(num_threads_);
    for (std::size_t i = 0; i < num_threads_; ++i) {
        pthread_t thread{};
        const int error = platform::start_thread(start_thread, &thread, attributes, &worker_main, this);
        if (error != 0) {
            throw PoolCreationError(platform::describe_os_error(
                "failed to start worker thread " + std::to_string(i + 1) + " of " +
                    std::to_string(num_threads_),
                error));
        }
        threads_.push_back(thread);
    }
}

void ThreadPool::stop_workers() noexcept {
    {
        const std::lock_guard lock(mutex_);
        terminating_ = true;
    }
    work_available_.notify_all();
    for (const pthread_t thread : threads_) {
        platform::join_thread(thread);
    }
    threads_.clear();
}

void* ThreadPool::worker_main(void* pool) noexcept {
    // The C++ runtime's per-thread exception state lives in thread-local
    // storage that the system may allocate only on first use; touched now,
    // so that a worker's first exception (std::bad_alloc when memory runs
    // out) does not need memory of its own, which would end the process.
    static_cast<void>(std::uncaught_exceptions());
    // Blocks catch their own failures; what escapes is the pool's own
    // machinery failing (a lock that cannot be taken).
    abort_if_throws([&] { static_cast<ThreadPool*>(pool)->work(); });
    return nullptr;
}

// A worker's life: sleep until some batch has unstarted blocks, run blocks
// of the oldest such batch until it has none, and leave it, ending it if
// this was the last worker inside.
void ThreadPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_available_.wait(lock, [&] { return terminating_ || first_ != nullptr; });
        if (terminating_) {
            return;
        }
        Batch& batch = *first_;
        ++batch.workers_inside_;
        lock.unlock();
        batch.run_blocks();
        lock.lock();
        // Nothing is left to start: no other worker may enter it now.
        if (batch.listed_) {
            unlist(batch);
        }
        if (--batch.workers_inside_ == 0) {
            batch.end();
        }
    }
}

void ThreadPool::list(Batch& batch) noexcept {
    batch.listed_ = true;
    batch.next_ = nullptr;
    if (last_ != nullptr) {
        last_->next_ = &batch;
    } else {
        first_ = &batch;
    }
    last_ = &batch;
}

void ThreadPool::unlist(Batch& batch) noexcept {
    Batch* previous = nullptr;
    for (Batch* b = first_; b != &batch; b = b->next_) {
        previous = b;
    }
    (previous != nullptr ? previous->next_ : first_) = batch.next_;
    if (last_ == &batch) {
        last_ = previous;
    }
    batch.listed_ = false;
}

// ------------------------------------------------------------ a batch

Batch::Batch(ThreadPool& pool, std::size_t count, Body body, void* context,
             Interruption* interruption)
    : pool_(pool),
      count_(count),
      body_(body),
      context_(context),
      interruption_(interruption),
      done_(std::make_unique<std::atomic<bool>[]>(count)),
      next_poll_(std::chrono::steady_clock::now() + poll_interval) {
    if (count == 0) {
        ended_ = true;
        return;
    }
    {
        const std::lock_guard lock(pool_.mutex_);
        pool_.list(*this);
    }
    if (count >= pool_.num_threads()) {
        pool_.work_available_.notify_all();
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            pool_.work_available_.notify_one();
        }
    }
}

Batch::~Batch() {
    if (finished_ || pool_.abandoned()) {
        return;
    }
    stopped_.store(true, std::memory_order_relaxed);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ended_; });
}

void Batch::run_blocks() noexcept {
    while (!cancelled() && !stopped_.load(std::memory_order_relaxed)) {
        const std::size_t block = cursor_.fetch_add(1, std::memory_order_relaxed);
        if (block >= count_) {
            return;
        }
        try {
            body_(context_, block);
            // Sequentially consistent with the waiter's awaited_ and done_
            // (wait_for_block): either it sees this block done, or this
            // sees it waiting and wakes it.
            done_[block].store(true, std::memory_order_seq_cst);
        } catch (...) {
            abort_if_throws([&] {
                const std::lock_guard lock(mutex_);
                if (!failure_) {
                    failure_ = std::current_exception();
                }
            });
        }
        if (awaited_.load(std::memory_order_seq_cst) == block) {
            signal();
        }
    }
}

void Batch::signal() noexcept {
    // The waiter checks under the mutex before it sleeps, so passing
    // through the mutex here means that it cannot miss this change.
    abort_if_throws([&] { const std::lock_guard lock(mutex_); });
    changed_.notify_all();
}

void Batch::end() noexcept {
    // Notified with the mutex held: once it is released, the waiter may
    // return and destroy the batch.
    abort_if_throws([&] {
        const std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    });
}

void Batch::poll_when_due() {
    if (interruption_ == nullptr) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < next_poll_) {
        return;
    }
    next_poll_ = now + poll_interval;
    interruption_->poll();
    if (pool_.abandoned()) {
        // The poll ran code that forked, and this is the child: the work
        // will never run here, and nothing that runs refers to it.
        fatal::raise("the worker pool was lost to fork() in the middle of this call");
    }
}

template <class Ready>
bool Batch::sleep_until(Ready ready) {
    std::unique_lock lock(mutex_);
    const auto woken = [&] { return ready() || ended_; };
    if (interruption_ == nullptr) {
        changed_.wait(lock, woken);
        return true;
    }
    return changed_.wait_until(lock, next_poll_, woken);
}

// The clock is read once per block the reader passes and after each
// sleep: often enough to poll on time whether the workers or the reader
// are behind, rarely enough to cost nothing next to a block's work.
bool Batch::wait_for_block(std::size_t index) {
    const auto done = [&] { return done_[index].load(std::memory_order_seq_cst); };
    for (;;) {
        poll_when_due();
        if (cancelled()) {
            return false;
        }
        if (done()) {
            return true;
        }
        awaited_.store(index, std::memory_order_seq_cst);
        const bool woken = sleep_until(done);
        awaited_.store(no_block, std::memory_order_relaxed);
        if (woken && !done()) {
            return false;  // ended without this block
        }
    }
}

bool Batch::wait_for_blocks(std::size_t begin, std::size_t end) {
    for (std::size_t block = end; block > begin; --block) {
        if (!wait_for_block(block - 1)) {
            return false;
        }
    }
    return true;
}

void Batch::finish() {
    for (;;) {
        poll_when_due();
        if (sleep_until([] { return false; })) {
            break;
        }
    }
    finished_ = true;
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    if (cancelled()) {
        throw Interrupted{};
    }
}

}  // namespace orven::pool
