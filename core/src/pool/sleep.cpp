#include "pool/sleep.hpp"

#include "pool/bookkeeping.hpp"
#include "pool/platform.hpp"

namespace orven::pool {
SleepCoordinator::SleepCoordinator(std::size_t workers)
    : count_(workers), slots_(std::make_unique<Slot[]>(workers)) {}

void SleepCoordinator::announce_work() noexcept {
    platform::full_fence();
    if (sleepy_.load() == 0) {
        return;  // every worker is awake and will search again before sleeping
    }
    announced_.fetch_add(1);
    wake_one();
}

std::uint64_t SleepCoordinator::get_sleepy() noexcept {
    sleepy_.fetch_add(1);
    platform::full_fence();
    return announced_.load();
}

void SleepCoordinator::sleep(std::size_t index, std::uint64_t snapshot,
                             const std::atomic<bool>& stop) noexcept {
    Slot& slot = slots_[index];
    const bool pass_claim_on = bookkeeping([&] {
        std::unique_lock lock(slot.mutex);
        slot.asleep.store(true);
        sleepers_.fetch_add(1);
        bool woken_by_claim = false;
        while (true) {
            if (!slot.asleep.load()) {
                woken_by_claim = true;
                break;
            }
            if (announced_.load() != snapshot || stop.load()) {
                break;
            }
            slot.wake.wait(lock);
        }
        const bool claimed = !slot.asleep.exchange(false);
        sleepers_.fetch_sub(1);
        sleepy_.fetch_sub(1);
        // Someone chose this worker for new work, but it is leaving for
        // another reason (its latch, or work it will find by itself): the
        // choice must go to some other sleeper.
        return claimed && !woken_by_claim;
    });
    if (pass_claim_on) {
        wake_one();
    }
}

void SleepCoordinator::wake_worker(std::size_t index) noexcept { claim(index); }

void SleepCoordinator::wake_all() noexcept {
    for (std::size_t i = 0; i < count_; ++i) {
        Slot& slot = slots_[i];
        bookkeeping([&] { const std::lock_guard lock(slot.mutex); });
        slot.wake.notify_all();
    }
}

bool SleepCoordinator::wake_one() noexcept {
    if (sleepers_.load() == 0) {
        return false;
    }
    // Start the search at a rotating position so that wake-ups spread.
    const std::size_t start = next_to_wake_.fetch_add(1, std::memory_order_relaxed);
    for (std::size_t k = 0; k < count_; ++k) {
        if (claim((start + k) % count_)) {
            return true;
        }
    }
    return false;
}

bool SleepCoordinator::claim(std::size_t index) noexcept {
    Slot& slot = slots_[index];
    bool asleep = true;
    if (!slot.asleep.compare_exchange_strong(asleep, false)) {
        return false;
    }
    // The sleeper checks its flag under this mutex before it waits, so once
    // we hold the mutex it either saw the cleared flag or is waiting.
    bookkeeping([&] { const std::lock_guard lock(slot.mutex); });
    slot.wake.notify_one();
    return true;
}

}  // namespace orven::pool
