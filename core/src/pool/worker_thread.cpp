#include "pool/worker_thread.hpp"

#include <thread>

#include "pool/thread_pool.hpp"

namespace orven::pool {
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

}  // namespace orven::pool
