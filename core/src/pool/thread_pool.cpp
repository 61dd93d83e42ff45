#include "pool/thread_pool.hpp"

#include <string>
#include <thread>

#include "pool/bookkeeping.hpp"

namespace orven::pool {

namespace detail {

void JobQueue::push_newest(Job& job) noexcept {
    bookkeeping([&] {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(&job);
        size_.store(jobs_.size(), std::memory_order_release);
    });
}

template <JobQueue::End end>
Job* JobQueue::pop() noexcept {
    if (looks_empty()) {
        return nullptr;
    }
    return bookkeeping([&]() -> Job* {
        const std::lock_guard lock(mutex_);
        if (jobs_.empty()) {
            return nullptr;
        }
        Job* job = nullptr;
        if constexpr (end == End::newest) {
            job = jobs_.back();
            jobs_.pop_back();
        } else {
            job = jobs_.front();
            jobs_.pop_front();
        }
        size_.store(jobs_.size(), std::memory_order_release);
        return job;
    });
}

Job* JobQueue::pop_newest() noexcept { return pop<End::newest>(); }

Job* JobQueue::pop_oldest() noexcept { return pop<End::oldest>(); }

}  // namespace detail

// ---------------------------------------------------------------- workers

namespace {

thread_local WorkerThread* current_worker = nullptr;

// Rounds of looking for work, yielding the processor in between, before an
// idle worker goes to sleep.  Short: sleeping is cheap to undo.
constexpr unsigned spin_rounds = 32;

}  // namespace

WorkerThread::WorkerThread(ThreadPool& pool, std::size_t index) noexcept
    : pool_(pool), index_(index), victim_seed_(index * 0x9E3779B97F4A7C15ull + 1) {}

WorkerThread* WorkerThread::current() noexcept { return current_worker; }

void WorkerThread::forget_current_after_fork() noexcept { current_worker = nullptr; }

void WorkerThread::push(Job& job) noexcept {
    queue_.push_newest(job);
    pool_.sleep().announce_work();
}

void WorkerThread::run() noexcept {
    current_worker = this;
    work_until(pool_.terminating());
    current_worker = nullptr;
}

void WorkerThread::work_until(const std::atomic<bool>& stop) noexcept {
    unsigned idle_rounds = 0;
    while (!stop.load(std::memory_order_acquire)) {
        if (Job* job = find_work()) {
            execute(*job);
            idle_rounds = 0;
            continue;
        }
        if (idle_rounds < spin_rounds) {
            ++idle_rounds;
            std::this_thread::yield();
            continue;
        }
        // Sleepy first, then one more search: a job pushed after that
        // search moves the counter, and the sleep below returns at once.
        const std::uint64_t snapshot = pool_.sleep().get_sleepy();
        if (Job* job = find_work()) {
            pool_.sleep().stay_awake();
            execute(*job);
            idle_rounds = 0;
            continue;
        }
        pool_.sleep().sleep(index_, snapshot, stop);
        idle_rounds = 0;
    }
}

Job* WorkerThread::find_work() noexcept {
    if (Job* job = pop_local()) {
        return job;
    }
    if (Job* job = steal_from_others()) {
        return job;
    }
    return pool_.injector().pop_oldest();
}

Job* WorkerThread::steal_from_others() noexcept {
    const std::size_t count = pool_.num_threads();
    if (count < 2) {
        return nullptr;
    }
    // Visit the other workers from a pseudo-random starting point, so that
    // thieves do not all line up behind the same victim.
    victim_seed_ ^= victim_seed_ << 13;
    victim_seed_ ^= victim_seed_ >> 7;
    victim_seed_ ^= victim_seed_ << 17;
    const std::size_t start = static_cast<std::size_t>(victim_seed_ % count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t victim = (start + k) % count;
        if (victim == index_) {
            continue;
        }
        if (Job* job = pool_.worker(victim).steal()) {
            return job;
        }
    }
    return nullptr;
}

// ------------------------------------------------------------------ threads

namespace {

void* worker_main(void* worker) {
    static_cast<WorkerThread*>(worker)->run();
    return nullptr;
}

}  // namespace

ThreadPool::ThreadPool(std::size_t num_threads, const ThreadStarter& start_thread)
    : sleep_(num_threads) {
    if (num_threads == 0) {
        throw PoolCreationError("a pool needs at least one worker thread");
    }
    // Every worker's state exists before the first thread starts, since a
    // running worker may steal from any other.
    workers_.reserve(num_threads);
    for (std::size_t i = 0; i < num_threads; ++i) {
        workers_.push_back(std::make_unique<WorkerThread>(*this, i));
    }
    try {
        start_workers(num_threads, start_thread);
    } catch (...) {
        stop_workers();
        throw;
    }
}

ThreadPool::~ThreadPool() { stop_workers(); }

void ThreadPool::start_workers(std::size_t num_threads, const ThreadStarter& start_thread) {
    const platform::ThreadAttributes attributes(worker_stack_size);
    if (attributes.error() != 0) {
        throw PoolCreationError(
            platform::describe_os_error(attributes.failed_step(), attributes.error()));
    }
    threads_.reserve(num_threads);
    for (std::size_t i = 0; i < num_threads; ++i) {
        pthread_t thread{};
        const int error =
            platform::start_thread(start_thread, &thread, attributes, &worker_main, workers_[i].get());
        if (error != 0) {
            throw PoolCreationError(platform::describe_os_error(
                "failed to start worker thread " + std::to_string(i + 1) + " of " +
                    std::to_string(num_threads),
                error));
        }
        threads_.push_back(thread);
    }
}

void ThreadPool::stop_workers() noexcept {
    terminating_.store(true);
    sleep_.wake_all();
    for (const pthread_t thread : threads_) {
        platform::join_thread(thread);
    }
    threads_.clear();
}

}  // namespace orven::pool
