// The process-wide list of once-values and what a forked child does to it.

#include "python/once_value.hpp"

#include <memory>


namespace orven::bindings::python {
namespace {

// Constant-initialised, so that once-values constructed during static
// initialisation, in any order, find it ready.
constinit std::atomic<OnceSlot*> slots{nullptr};

}  // namespace

OnceSlot::OnceSlot() noexcept {
    OnceSlot* head = slots.load(std::memory_order_relaxed);
    do {
        next_ = head;
    } while (!slots.compare_exchange_weak(head, this, std::memory_order_release,
                                          std::memory_order_relaxed));
}

void rearm_once_values_after_fork() noexcept {
    // Only the forking thread exists now: nothing here races.
    for (OnceSlot* slot = slots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next_) {
        if (slot->filling_.load(std::memory_order_relaxed) &&
            ::pthread_equal(slot->filler_.load(std::memory_order_relaxed), ::pthread_self()) != 0) {
            continue;  // this thread's own fill goes on
        }
        // Any other holder is gone, and a fill it was running never set the
        // value.  A fresh lock lets the child fill it; one that nobody held
        // is just as good afresh.  std::mutex holds no resources of its
        // own, so the old one is simply written over.
        std::construct_at(&slot->mutex_);
        slot->filling_.store(false, std::memory_order_relaxed);
    }
}

}  // namespace orven::bindings::python
