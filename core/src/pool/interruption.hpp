#pragma once

// Interrupting a batch from the thread that waits for it.  That thread is
// not a worker: it hands the blocks to the pool and waits.  With an
// interruption it asks the caller's poll function, every poll_interval
// while it waits or reads results, whether to stop (the caller's language
// runtime may have a signal to act on).  Once the poll says so, the
// interruption is cancelled for good: no further block starts, the blocks
// already running end, and the batch's finish() raises Interrupted (see
// pool::Batch).

#include <atomic>
#include <chrono>

namespace orven::pool {

// How often a waiting thread asks its poll function.
inline constexpr std::chrono::milliseconds poll_interval{20};

// Raised by the finish() of a batch whose interruption was cancelled.  Not a
// std::exception: it is no failure, and only the owner of the
// interruption expects it.
struct Interrupted {};

class Interruption {
public:
    // `poll(context)` returns true when the call must stop.  It is called
    // only on the thread that waits for the pool, and never after it
    // returned true.
    using Poll = bool (*)(void* context) noexcept;

    Interruption(Poll poll, void* context) noexcept : poll_(poll), context_(context) {}
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    // Asks the poll function, unless the call is cancelled already.
    void poll() noexcept {
        if (!cancelled() && poll_(context_)) {
            cancelled_.store(true, std::memory_order_relaxed);
        }
    }

    // Read by every worker before each block: a relaxed load, since a
    // worker that misses the flag for a moment only starts one more block.
    bool cancelled() const noexcept { return cancelled_.load(std::memory_order_relaxed); }

private:
    Poll poll_;
    void* context_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace orven::pool
